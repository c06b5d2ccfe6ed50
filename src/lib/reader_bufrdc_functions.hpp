// tarnwel._core.load_bufrdc: the BUFRDC table set that serves a message, from a directory.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyObject* reader_load_bufrdc(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace tarnwel::py
