// The module function expand_descriptors: load a table directory, then expand.
#include "lib/table_functions.hpp"

#include <string>
#include <vector>

#include "decode/expansion.hpp"
#include "lib/arg_parser.hpp"
#include "lib/errors.hpp"
#include "lib/type_support.hpp"
#include "tables/eccodes_loader.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kExpandParameters[] = {"table_dir", "descriptors"};
constexpr Signature kExpandDescriptors{"expand_descriptors", kExpandParameters};

}  // namespace

PyObject* expand_descriptors(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    std::string table_dir;
    std::vector<uint32_t> descriptors;
    if (!bind_arguments(kExpandDescriptors, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "table_dir", &table_dir) ||
        !convert_code_list(bound[1], "descriptors", &descriptors)) {
      return nullptr;
    }
    // A load error is reported before any expansion.
    Result<TableSet> tables = load_eccodes_dir(table_dir);
    if (!tables) return raise_bufr_error(tables.error());
    Result<std::vector<uint32_t>> expanded =
        tarnwel::expand_descriptors(tables.value(), descriptors);
    if (!expanded) return raise_bufr_error(expanded.error());
    return new_code_list(expanded.value());
  });
}

}  // namespace tarnwel::py
