// tarnwel._core.next_message and parse_message: finding and parsing messages in any buffer.
#pragma once

#include "lib/py_ref.hpp"
#include "message/message.hpp"

namespace tarnwel::py {

PyObject* reader_next_message(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* reader_parse_message(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

// The byte range [start, start + length) of `buffer`, or false with ValueError set.
bool checked_range(ByteView buffer, uint64_t start, uint64_t length, ByteView* out);

}  // namespace tarnwel::py
