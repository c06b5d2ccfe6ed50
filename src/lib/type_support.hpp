// Small helpers shared by the heap types of the module.
#pragma once

#include <string>

#include "lib/py_ref.hpp"

namespace tarnwel::py {

// A fast-call function as the PyCFunction a PyMethodDef stores.
template <auto Function>
constexpr PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// Every function and method takes its arguments by vectorcall, with keywords.
inline constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

// Adds static methods to `type`, bound to `module` so that they reach the
// module state (a plain METH_STATIC function receives no module).
bool add_static_methods(PyTypeObject* type, PyObject* module, PyMethodDef* methods);

// A Python str from UTF-8 bytes, replacing what is not valid UTF-8.
PyObject* new_str(const std::string& text);

// "[a, b, c]" of integer codes in plain decimal.
template <class Codes>
std::string format_code_list(const Codes& codes) {
  std::string text = "[";
  bool first = true;
  for (auto code : codes) {
    if (!first) text += ", ";
    text += std::to_string(code);
    first = false;
  }
  text += "]";
  return text;
}

// A new list of Python ints from integer codes.
template <class Codes>
PyObject* new_code_list(const Codes& codes) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(codes.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (auto code : codes) {
    PyObject* item = PyLong_FromUnsignedLong(code);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i++, item);
  }
  return list.release();
}

// Ends the life of a heap-type instance whose C++ members the caller has
// already destroyed: free the memory, then drop the instance's type reference.
inline void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace tarnwel::py
