// tarnwel._core table functions: tables from directories and from texts in memory, and what a set holds.
#pragma once

#include "lib/py_ref.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {

PyObject* reader_tables_from_texts(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* reader_table_codes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* reader_load_eccodes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* reader_load_definitions(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);

}  // namespace tarnwel::py

// The kReaderFunctions entries of this file's functions, so that the module lists them in one line.
#define TARNWEL_READER_TABLE_FUNCTIONS                                                          \
  {"tables_from_texts", tarnwel::py::as_cfunction<tarnwel::py::reader_tables_from_texts>(),    \
   tarnwel::py::kFastcall,                                                                      \
   "tables_from_texts(element_table, sequence_def, code_tables, base)\n--\n\n"},                \
      {"table_codes", tarnwel::py::as_cfunction<tarnwel::py::reader_table_codes>(),             \
       tarnwel::py::kFastcall, "table_codes(tables)\n--\n\n"},                                 \
      {"load_eccodes", tarnwel::py::as_cfunction<tarnwel::py::reader_load_eccodes>(),           \
       tarnwel::py::kFastcall, "load_eccodes(path)\n--\n\n"},                                  \
      {"load_definitions", tarnwel::py::as_cfunction<tarnwel::py::reader_load_definitions>(),   \
       tarnwel::py::kFastcall, "load_definitions(root, message)\n--\n\n"}
