// The Python class TableSet: loaded tables, their loaders and lookups.
#pragma once

#include "decode/decoder_pool.hpp"
#include "lib/module_state.hpp"
#include "lib/string_cache.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::py {

PyTypeObject* create_table_set_type(PyObject* module);

// A new TableSet object owning `tables`.
PyObject* new_table_set_object(PyTypeObject* type, TableSet&& tables);

// The tables behind a TableSet instance (checked by the caller).
const TableSet& table_set_of(PyObject* object);

// Section 4 decodes with the set's tables, safe from any thread without the lock.
DecoderPool& table_set_decoders(PyObject* object);

// The set's memo of str objects for the names and meanings in its tables.
StringCache& table_set_strings(PyObject* object);

}  // namespace tarnwel::py
