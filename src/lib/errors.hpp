// Turning core errors and C++ failures into Python exceptions.
#pragma once

#include <new>

#include "lib/py_ref.hpp"
#include "message/error.hpp"

namespace tarnwel::py {

// Raises ValueError with the error's display text; returns nullptr.
PyObject* raise_bufr_error(const BufrError& error);

// Raises the OSError subclass matching `error_number` with the system's text
// and its "(os error N)" suffix, and sets `errno` on it; returns nullptr.
PyObject* raise_os_error(int error_number);

// Runs an entry point's body so that no C++ exception reaches the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected internal error");
    return nullptr;
  }
}

}  // namespace tarnwel::py
