// Per-module objects: the heap types, reached from the module or from a type.
#pragma once

#include "lib/py_ref.hpp"

namespace tarnwel::py {

struct ModuleState {
  PyTypeObject* bufr_message_type;
  PyTypeObject* decoded_value_type;
  PyTypeObject* descriptor_type;
  PyTypeObject* element_definition_type;
  PyTypeObject* sequence_definition_type;
  PyTypeObject* table_set_type;
};

inline ModuleState* module_state(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// State of the module that defined `type` (a type made by this module).
inline ModuleState* type_state(PyTypeObject* type) {
  return static_cast<ModuleState*>(PyType_GetModuleState(type));
}

}  // namespace tarnwel::py
