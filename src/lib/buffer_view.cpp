// Any contiguous bytes-like object as a byte view, held for as long as the view is used.
#include "lib/buffer_view.hpp"

namespace tarnwel::py {

bool HeldBuffer::acquire(PyObject* object, const char* parameter) {
  if (PyObject_GetBuffer(object, &buffer_, PyBUF_CONTIG_RO) < 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "argument '%s': expected a contiguous bytes-like object, not %.100s",
                 parameter, Py_TYPE(object)->tp_name);
    return false;
  }
  held_ = true;
  return true;
}

}  // namespace tarnwel::py
