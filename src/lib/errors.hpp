// Turning core errors and C++ failures into Python exceptions.
#pragma once

#include <exception>
#include <new>

#include "lib/py_ref.hpp"
#include "message/error.hpp"

namespace tarnwel::py {

// Raises ValueError with the error's display text; returns nullptr.
PyObject* raise_bufr_error(const BufrError& error);

// As raise_bufr_error, with the table file (and line) the error names in front
// of its text, in the core's form for places.
PyObject* raise_placed_error(const BufrError& error);

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

// Runs `work` with the interpreter lock released. `work` must touch no Python
// object; a C++ exception it throws is rethrown once the lock is held again.
template <class Work>
void without_lock(Work&& work) {
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS
  try {
    work();
  } catch (...) {
    failure = std::current_exception();
  }
  Py_END_ALLOW_THREADS
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tarnwel::py
