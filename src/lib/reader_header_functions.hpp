// tarnwel._core.absent_header_fields: the section 1 fields a message's edition lacks.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyObject* reader_absent_header_fields(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);

}  // namespace tarnwel::py
