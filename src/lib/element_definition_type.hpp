// The Python class ElementDefinition: a copy of one Table B entry.
#pragma once

#include "lib/module_state.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::py {

PyTypeObject* create_element_definition_type(PyObject* module);

// A new ElementDefinition object holding a copy of `element`.
PyObject* new_element_definition_object(PyTypeObject* type, const ElementDefinition& element);

}  // namespace tarnwel::py
