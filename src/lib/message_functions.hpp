// Module functions that parse messages: parse_bytes, parse_file, parse_all_bytes, parse_all_file.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyObject* parse_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* parse_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* parse_all_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* parse_all_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

}  // namespace tarnwel::py
