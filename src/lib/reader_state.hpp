// Per-module objects of tarnwel._core: the classes it shares with _tarnwel and its own.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

// The _tarnwel classes are borrowed from that module (one reference each is held
// here), so that messages, tables and values of both modules are the same objects.
struct ReaderState {
  PyTypeObject* bufr_message_type;
  PyTypeObject* decoded_value_type;
  PyTypeObject* table_set_type;
  PyTypeObject* decoded_message_type;
  PyTypeObject* cell_block_type;
};

inline ReaderState* reader_state(PyObject* module) {
  return static_cast<ReaderState*>(PyModule_GetState(module));
}

}  // namespace tarnwel::py
