// The class tarnwel._core.DecodedMessage: one message's columnar decode, and tarnwel._core.decode.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

PyTypeObject* create_decoded_message_type(PyObject* module);

// decode(buffer, start, message, tables, max_values): decodes section 4 of the
// message at `start` of `buffer` without the interpreter lock.
PyObject* reader_decode(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);

// decode_blocks(buffer, start, message, tables, max_values, keys): the decode and
// its take_blocks(keys) in one release of the lock: (decoded message, taken list).
PyObject* reader_decode_blocks(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

}  // namespace tarnwel::py
