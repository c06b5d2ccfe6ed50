// Initialisation of tarnwel._core, the binding the tarnwel package's reading API is built on.
#include "lib/cell_blocks.hpp"
#include "lib/decoded_message_type.hpp"
#include "lib/errors.hpp"
#include "lib/frame_functions.hpp"
#include "lib/reader_bufrdc_functions.hpp"
#include "lib/reader_header_functions.hpp"
#include "lib/reader_scan_functions.hpp"
#include "lib/reader_state.hpp"
#include "lib/reader_table_functions.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

PyObject* reader_drain_cell_pool(PyObject*, PyObject*) {
  return PyLong_FromSize_t(drain_cell_pool());
}

PyMethodDef kReaderFunctions[] = {
    {"next_message", as_cfunction<reader_next_message>(), kFastcall,
     "next_message(buffer, position, more_follows)\n--\n\n"},
    {"parse_message", as_cfunction<reader_parse_message>(), kFastcall,
     "parse_message(buffer, start, length)\n--\n\n"},
    {"decode", as_cfunction<reader_decode>(), kFastcall,
     "decode(buffer, start, message, tables, max_values)\n--\n\n"},
    {"decode_blocks", as_cfunction<reader_decode_blocks>(), kFastcall,
     "decode_blocks(buffer, start, message, tables, max_values, keys)\n--\n\n"},
    {"load_bufrdc", as_cfunction<reader_load_bufrdc>(), kFastcall,
     "load_bufrdc(directory, master_table_number, master_version, centre, subcentre, "
     "local_version)\n--\n\n"},
    {"absent_header_fields", as_cfunction<reader_absent_header_fields>(), kFastcall,
     "absent_header_fields(message)\n--\n\n"},
    {"decode_take", as_cfunction<reader_decode_take>(), kFastcall,
     "decode_take(buffer, start, message, tables, max_values, keys)\n--\n\n"},
    {"drain_cell_pool", reader_drain_cell_pool, METH_NOARGS,
     "drain_cell_pool()\n--\n\nFrees the memory kept for arrays; returns how many bytes."},
    TARNWEL_READER_TABLE_FUNCTIONS,
    {nullptr, nullptr, 0, nullptr},
};

constexpr PyTypeObject* ReaderState::*kStateTypes[] = {
    &ReaderState::bufr_message_type,
    &ReaderState::decoded_value_type,
    &ReaderState::table_set_type,
    &ReaderState::decoded_message_type,
    &ReaderState::cell_block_type,
};

int traverse_state(PyObject* module, visitproc visit, void* arg) {
  ReaderState* state = reader_state(module);
  if (state == nullptr) return 0;
  for (auto slot : kStateTypes) Py_VISIT(state->*slot);
  return 0;
}

int clear_state(PyObject* module) {
  ReaderState* state = reader_state(module);
  if (state == nullptr) return 0;
  for (auto slot : kStateTypes) Py_CLEAR(state->*slot);
  return 0;
}

void free_state(void* module) { clear_state(static_cast<PyObject*>(module)); }

PyModuleDef kReaderModuleDef = {
    PyModuleDef_HEAD_INIT, "tarnwel._core", "", sizeof(ReaderState), kReaderFunctions,
    nullptr, traverse_state, clear_state, free_state,
};

// The classes shared with _tarnwel, taken from that module.
bool borrow_shared_types(ReaderState* state) {
  PyRef exact = PyRef::steal(PyImport_ImportModule("_tarnwel"));
  if (!exact) return false;
  struct Shared {
    const char* name;
    PyTypeObject* ReaderState::*slot;
  };
  const Shared shared[] = {
      {"BufrMessage", &ReaderState::bufr_message_type},
      {"DecodedValue", &ReaderState::decoded_value_type},
      {"TableSet", &ReaderState::table_set_type},
  };
  for (const Shared& entry : shared) {
    PyObject* type = PyObject_GetAttrString(exact.get(), entry.name);
    if (type == nullptr) return false;
    if (!PyType_Check(type)) {
      Py_DECREF(type);
      PyErr_Format(PyExc_ImportError, "_tarnwel.%s is not a class", entry.name);
      return false;
    }
    state->*entry.slot = reinterpret_cast<PyTypeObject*>(type);
  }
  return true;
}

}  // namespace
}  // namespace tarnwel::py

PyMODINIT_FUNC PyInit__core(void) {
  using namespace tarnwel::py;
  return guarded([]() -> PyObject* {
    PyRef module = PyRef::steal(PyModule_Create(&kReaderModuleDef));
    if (!module || !borrow_shared_types(reader_state(module.get()))) return nullptr;
    PyTypeObject* decoded = create_decoded_message_type(module.get());
    if (decoded == nullptr) return nullptr;
    reader_state(module.get())->decoded_message_type = decoded;
    if (PyModule_AddObjectRef(module.get(), "DecodedMessage",
                              reinterpret_cast<PyObject*>(decoded)) < 0) {
      return nullptr;
    }
    PyTypeObject* blocks = create_cell_block_type(module.get());
    if (blocks == nullptr) return nullptr;
    reader_state(module.get())->cell_block_type = blocks;
    if (PyModule_AddObjectRef(module.get(), "CellBlock", reinterpret_cast<PyObject*>(blocks)) < 0) {
      return nullptr;
    }
    return module.release();
  });
}
