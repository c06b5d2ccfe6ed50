// Python exceptions for core errors and operating-system failures.
#include "lib/errors.hpp"

#include <cerrno>

namespace tarnwel::py {

PyObject* raise_bufr_error(const BufrError& error) {
  const std::string text = error.display();
  PyRef message = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

namespace {

PyObject* os_error_class(int error_number) {
  switch (error_number) {
    case ENOENT:
      return PyExc_FileNotFoundError;
    case EACCES:
    case EPERM:
      return PyExc_PermissionError;
    case EISDIR:
      return PyExc_IsADirectoryError;
    case ENOTDIR:
      return PyExc_NotADirectoryError;
    default:
      return PyExc_OSError;
  }
}

}  // namespace

PyObject* raise_os_error(int error_number) {
  const std::string text = BufrError::os_error_text(error_number);
  PyObject* type = os_error_class(error_number);
  PyRef exception = PyRef::steal(PyObject_CallFunction(type, "s", text.c_str()));
  if (!exception) return nullptr;
  // A single-argument OSError keeps its text as str(); errno is still useful.
  PyRef number = PyRef::steal(PyLong_FromLong(error_number));
  if (!number || PyObject_SetAttrString(exception.get(), "errno", number.get()) < 0) {
    return nullptr;
  }
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

}  // namespace tarnwel::py
