// tarnwel._core.load_bufrdc: the BUFRDC table set that serves a message, from a directory.
#include "lib/reader_bufrdc_functions.hpp"

#include <string>

#include "lib/arg_parser.hpp"
#include "lib/errors.hpp"
#include "lib/reader_state.hpp"
#include "lib/table_set_type.hpp"
#include "lib/type_support.hpp"
#include "tables/bufrdc_loader.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kLoadParameters[] = {"directory",  "master_table_number", "master_version",
                                           "centre",     "subcentre",           "local_version"};
constexpr Signature kLoadBufrdc{"load_bufrdc", kLoadParameters};

// The section 1 numbers, each in the range of its octets (centre and subcentre
// are 16 bits in edition 4; the file name decides what fits).
bool convert_key(PyObject* const* bound, BufrdcTableKey* key) {
  uint8_t master_table = 0, master_version = 0, local_version = 0;
  if (!convert_u8(bound[1], "master_table_number", &master_table) ||
      !convert_u8(bound[2], "master_version", &master_version) ||
      !convert_u32(bound[3], "centre", &key->centre) ||
      !convert_u32(bound[4], "subcentre", &key->subcentre) ||
      !convert_u8(bound[5], "local_version", &local_version)) {
    return false;
  }
  key->master_table_number = master_table;
  key->master_version = master_version;
  key->local_version = local_version;
  return true;
}

}  // namespace

// (TableSet, name of the B file read), or None when the directory has no set for the key.
PyObject* reader_load_bufrdc(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[6];
    std::string directory;
    BufrdcTableKey key;
    if (!bind_arguments(kLoadBufrdc, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "directory", &directory) || !convert_key(bound, &key)) {
      return nullptr;
    }
    Result<std::optional<BufrdcTables>> loaded = load_bufrdc_tables(directory, key);
    if (!loaded) return raise_bufr_error(loaded.error());
    if (!loaded.value()) Py_RETURN_NONE;
    BufrdcTables& found = *loaded.value();
    PyRef name = PyRef::steal(new_str(found.table_file_name));
    if (!name) return nullptr;
    PyRef tables = PyRef::steal(
        new_table_set_object(reader_state(module)->table_set_type, std::move(found.tables)));
    if (!tables) return nullptr;
    return PyTuple_Pack(2, tables.get(), name.get());
  });
}

}  // namespace tarnwel::py
