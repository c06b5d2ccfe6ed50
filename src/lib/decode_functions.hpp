// The module functions decode_values, decode_values_with_tables and decode_values_with_definitions.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyObject* decode_values(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* decode_values_with_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);
PyObject* decode_values_with_definitions(PyObject* module, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tarnwel::py
