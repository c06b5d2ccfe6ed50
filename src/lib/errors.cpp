// Python exceptions for core errors and operating-system failures.
#include "lib/errors.hpp"

namespace tarnwel::py {

namespace {

PyObject* raise_value_error(const std::string& text) {
  PyRef message = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

}  // namespace

PyObject* raise_bufr_error(const BufrError& error) { return raise_value_error(error.display()); }

PyObject* raise_placed_error(const BufrError& error) {
  return raise_value_error(error.placed_display());
}

PyObject* raise_os_error(int error_number) {
  const std::string text = BufrError::os_error_text(error_number);
  // The interpreter picks the subclass for an errno value (FileNotFoundError,
  // TimeoutError, ...) only for a two-argument OSError, whose str() would add an
  // "[Errno N]" prefix; so take the class from one and raise it with the bare text.
  PyRef probe = PyRef::steal(PyObject_CallFunction(PyExc_OSError, "is", error_number, ""));
  if (!probe) return nullptr;
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(probe.get()));
  PyRef exception = PyRef::steal(PyObject_CallFunction(type, "s", text.c_str()));
  if (!exception) return nullptr;
  PyRef number = PyRef::steal(PyLong_FromLong(error_number));
  if (!number || PyObject_SetAttrString(exception.get(), "errno", number.get()) < 0) {
    return nullptr;
  }
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

}  // namespace tarnwel::py
