// Module initialisation: registers the classes and functions, in order, and builds __all__.
#include "lib/decode_functions.hpp"
#include "lib/decoded_value_type.hpp"
#include "lib/descriptor_type.hpp"
#include "lib/element_definition_type.hpp"
#include "lib/errors.hpp"
#include "lib/message_functions.hpp"
#include "lib/message_type.hpp"
#include "lib/module_state.hpp"
#include "lib/sequence_definition_type.hpp"
#include "lib/table_functions.hpp"
#include "lib/table_set_type.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

using TypeFactory = PyTypeObject* (*)(PyObject* module);

struct ClassEntry {
  const char* name;
  TypeFactory create;
  PyTypeObject* ModuleState::*slot;
};

// Registration order is part of the module's surface (it is the order of __all__).
const ClassEntry kClasses[] = {
    {"BufrMessage", create_message_type, &ModuleState::bufr_message_type},
    {"DecodedValue", create_decoded_value_type, &ModuleState::decoded_value_type},
    {"Descriptor", create_descriptor_type, &ModuleState::descriptor_type},
    {"ElementDefinition", create_element_definition_type, &ModuleState::element_definition_type},
    {"SequenceDefinition", create_sequence_definition_type,
     &ModuleState::sequence_definition_type},
    {"TableSet", create_table_set_type, &ModuleState::table_set_type},
};

PyMethodDef kFunctions[] = {
    {"parse_bytes", as_cfunction<parse_bytes>(), kFastcall, "parse_bytes(data)\n--\n\n"},
    {"parse_file", as_cfunction<parse_file>(), kFastcall, "parse_file(path)\n--\n\n"},
    {"parse_all_bytes", as_cfunction<parse_all_bytes>(), kFastcall, "parse_all_bytes(data)\n--\n\n"},
    {"parse_all_file", as_cfunction<parse_all_file>(), kFastcall, "parse_all_file(path)\n--\n\n"},
    {"expand_descriptors", as_cfunction<expand_descriptors>(), kFastcall,
     "expand_descriptors(table_dir, descriptors)\n--\n\n"},
    {"decode_values", as_cfunction<decode_values>(), kFastcall,
     "decode_values(data, table_dir)\n--\n\n"},
    {"decode_values_with_tables", as_cfunction<decode_values_with_tables>(), kFastcall,
     "decode_values_with_tables(data, tables)\n--\n\n"},
    {"decode_values_with_definitions", as_cfunction<decode_values_with_definitions>(), kFastcall,
     "decode_values_with_definitions(data, definitions_root)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

int traverse_state(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = module_state(module);
  if (state == nullptr) return 0;
  for (const ClassEntry& entry : kClasses) Py_VISIT(state->*entry.slot);
  return 0;
}

int clear_state(PyObject* module) {
  ModuleState* state = module_state(module);
  if (state == nullptr) return 0;
  for (const ClassEntry& entry : kClasses) Py_CLEAR(state->*entry.slot);
  return 0;
}

void free_state(void* module) { clear_state(static_cast<PyObject*>(module)); }

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_tarnwel",
    "",
    sizeof(ModuleState),
    nullptr,
    nullptr,
    traverse_state,
    clear_state,
    free_state,
};

bool append_to_all(PyObject* module, const char* name) {
  PyObject* all = PyDict_GetItemString(PyModule_GetDict(module), "__all__");
  PyRef created;
  if (all == nullptr) {
    created = PyRef::steal(PyList_New(0));
    if (!created || PyModule_AddObjectRef(module, "__all__", created.get()) < 0) return false;
    all = created.get();
  }
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  return text && PyList_Append(all, text.get()) == 0;
}

bool register_object(PyObject* module, const char* name, PyObject* object) {
  return PyModule_AddObjectRef(module, name, object) == 0 && append_to_all(module, name);
}

bool register_classes(PyObject* module) {
  ModuleState* state = module_state(module);
  for (const ClassEntry& entry : kClasses) {
    PyTypeObject* type = entry.create(module);
    if (type == nullptr) return false;
    state->*entry.slot = type;  // the state owns this reference
    if (!register_object(module, entry.name, reinterpret_cast<PyObject*>(type))) return false;
  }
  return true;
}

bool register_functions(PyObject* module) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef* def = kFunctions; def->ml_name != nullptr; ++def) {
    PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
    if (!function || !register_object(module, def->ml_name, function.get())) return false;
  }
  return true;
}

PyObject* create_module() {
  PyRef module = PyRef::steal(PyModule_Create(&kModuleDef));
  if (!module) return nullptr;
  if (!register_classes(module.get()) || !register_functions(module.get())) return nullptr;
  return module.release();
}

// Single-phase initialisation keeps one module per process: it is created once,
// in the main interpreter, and handed out again on a repeated initialisation.
PyObject* g_module = nullptr;

}  // namespace
}  // namespace tarnwel::py

PyMODINIT_FUNC PyInit__tarnwel(void) {
  using namespace tarnwel::py;
  return guarded([]() -> PyObject* {
    // Refused even before the main interpreter imports it: a module made in a
    // sub-interpreter would outlive that interpreter's objects.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      PyErr_SetString(PyExc_ImportError,
                      "_tarnwel does not support sub-interpreters: it can only be imported "
                      "once per process, in the main interpreter");
      return nullptr;
    }
    if (g_module != nullptr) return Py_NewRef(g_module);
    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    g_module = Py_NewRef(module);
    return module;
  });
}
