// The module function expand_descriptors.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyObject* expand_descriptors(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace tarnwel::py
