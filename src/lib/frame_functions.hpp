// tarnwel._core.decode_take: a message's cells of a few keys, as read_dataframe gathers them.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

// decode_take(buffer, start, message, tables, max_values, keys) ->
// (subsets, keys found, their cells, text flags, widths, unknown_local codes): the
// found keys in the order asked, each of the four a tuple of one entry per key.
PyObject* reader_decode_take(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace tarnwel::py
