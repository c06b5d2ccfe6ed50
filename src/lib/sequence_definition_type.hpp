// The Python class SequenceDefinition: a copy of one Table D entry.
#pragma once

#include "lib/module_state.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::py {

PyTypeObject* create_sequence_definition_type(PyObject* module);

// A new SequenceDefinition object holding a copy of `sequence`.
PyObject* new_sequence_definition_object(PyTypeObject* type, const SequenceDefinition& sequence);

}  // namespace tarnwel::py
