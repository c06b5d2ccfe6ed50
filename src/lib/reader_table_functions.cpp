// tarnwel._core table functions: tables from directories and from texts in memory, and what a set holds.
#include "lib/reader_table_functions.hpp"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_state.hpp"
#include "lib/table_set_type.hpp"
#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kTextsParameters[] = {"element_table", "sequence_def", "code_tables",
                                            "base"};
constexpr const char* kCodesParameters[] = {"tables"};
constexpr Signature kTablesFromTexts{"tables_from_texts", kTextsParameters};
constexpr Signature kTableCodes{"table_codes", kCodesParameters};
constexpr const char* kEccodesParameters[] = {"path"};
constexpr const char* kDefinitionsParameters[] = {"root", "message"};
constexpr Signature kLoadEccodes{"load_eccodes", kEccodesParameters};
constexpr Signature kLoadDefinitions{"load_definitions", kDefinitionsParameters};

// A new TableSet of what a loader read, or its error with the table file and line in front.
PyObject* placed_table_set(PyObject* module, Result<TableSet>&& loaded) {
  if (!loaded) return raise_placed_error(loaded.error());
  return new_table_set_object(reader_state(module)->table_set_type, std::move(loaded).value());
}

// The texts of one table directory: views of str objects or buffer exports held
// here, so that they outlive the lock's release whatever the caller does.
struct HeldTexts {
  TableTexts texts;
  std::vector<PyRef> strings;
  std::deque<HeldBuffer> buffers;
};

// A str, taken as UTF-8, or any contiguous bytes-like object.
bool view_text(PyObject* object, const char* parameter, HeldTexts* out, std::string_view* view) {
  if (PyUnicode_Check(object)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) return false;
    *view = std::string_view(text, static_cast<size_t>(size));
    out->strings.push_back(PyRef::borrow(object));
    return true;
  }
  HeldBuffer& buffer = out->buffers.emplace_back();
  if (!buffer.acquire(object, parameter)) return false;
  const ByteView bytes = buffer.bytes();
  *view = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return true;
}

// None stands for a file the directory lacks.
bool view_optional_text(PyObject* object, const char* parameter, HeldTexts* out,
                        std::optional<std::string_view>* view) {
  if (object == Py_None) return true;
  return view_text(object, parameter, out, &view->emplace());
}

// {element code: text} in the dict's order.
bool view_code_texts(PyObject* object, const char* parameter, HeldTexts* out) {
  if (!check_instance(object, &PyDict_Type, parameter)) return false;
  const auto count = static_cast<size_t>(PyDict_GET_SIZE(object));
  out->texts.code_tables.reserve(count);
  Py_ssize_t position = 0;
  PyObject *key, *value;
  while (PyDict_Next(object, &position, &key, &value)) {
    auto& [code, text] = out->texts.code_tables.emplace_back();
    if (!convert_u32(key, parameter, &code) || !view_text(value, parameter, out, &text)) {
      return false;
    }
  }
  return true;
}

template <class Map>
PyObject* sorted_keys(const Map& map) {
  std::vector<typename Map::key_type> keys;
  keys.reserve(map.size());
  for (const auto& entry : map) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return new_code_list(keys);
}

// {element code: sorted code figures} of every code table.
PyObject* code_table_figures(const TableSet& tables) {
  PyRef figures = PyRef::steal(PyDict_New());
  if (!figures) return nullptr;
  for (const auto& [code, table] : tables.code_tables()) {
    PyRef key = PyRef::steal(PyLong_FromUnsignedLong(code));
    PyRef list = PyRef::steal(sorted_keys(table));
    if (!key || !list || PyDict_SetItem(figures.get(), key.get(), list.get()) < 0) return nullptr;
  }
  return figures.release();
}

}  // namespace

// A TableSet of one directory's texts (str or bytes-like), read in a directory's order; with a
// base, they are laid over a copy of it entry by entry, as a message's local
// tables are over its master tables.
PyObject* reader_tables_from_texts(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[4];
    HeldTexts held;
    PyTypeObject* table_set_type = reader_state(module)->table_set_type;
    if (!bind_arguments(kTablesFromTexts, args, nargs, kwnames, bound) ||
        !view_optional_text(bound[0], "element_table", &held, &held.texts.element_table) ||
        !view_optional_text(bound[1], "sequence_def", &held, &held.texts.sequence_def) ||
        !view_code_texts(bound[2], "code_tables", &held) ||
        (bound[3] != Py_None && !check_instance(bound[3], table_set_type, "base"))) {
      return nullptr;
    }
    // A TableSet never changes once made, so the base is read without the lock.
    const TableSet* base = bound[3] == Py_None ? nullptr : &table_set_of(bound[3]);
    TableSet tables;
    Status status;
    without_lock([&] {
      if (base != nullptr) tables = *base;
      status = read_table_texts_into(held.texts, tables);
    });
    if (!status) return raise_bufr_error(status.error());
    return new_table_set_object(table_set_type, std::move(tables));
  });
}

// The tables of one ecCodes table directory, read as TableSet.from_eccodes reads them.
PyObject* reader_load_eccodes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    std::string path;
    if (!bind_arguments(kLoadEccodes, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "path", &path)) {
      return nullptr;
    }
    std::optional<Result<TableSet>> loaded;
    without_lock([&] { loaded.emplace(load_eccodes_dir(path)); });
    return placed_table_set(module, std::move(*loaded));
  });
}

// A message's tables from a definitions root, chosen as TableSet.from_definitions chooses them.
PyObject* reader_load_definitions(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    std::string root;
    if (!bind_arguments(kLoadDefinitions, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "root", &root) ||
        !check_instance(bound[1], reader_state(module)->bufr_message_type, "message")) {
      return nullptr;
    }
    // The message object stays alive while it is bound, and its record never changes.
    const BufrMessage& message = message_record(bound[1]);
    std::optional<Result<TableSet>> loaded;
    without_lock([&] { loaded.emplace(load_definitions_tables(root, message)); });
    return placed_table_set(module, std::move(*loaded));
  });
}

// (element codes, sequence codes, {element code: code figures}), each sorted.
PyObject* reader_table_codes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kTableCodes, args, nargs, kwnames, bound) ||
        !check_instance(bound[0], reader_state(module)->table_set_type, "tables")) {
      return nullptr;
    }
    const TableSet& tables = table_set_of(bound[0]);
    PyRef elements = PyRef::steal(sorted_keys(tables.elements()));
    if (!elements) return nullptr;
    PyRef sequences = PyRef::steal(sorted_keys(tables.sequences()));
    if (!sequences) return nullptr;
    PyRef figures = PyRef::steal(code_table_figures(tables));
    if (!figures) return nullptr;
    return PyTuple_Pack(3, elements.get(), sequences.get(), figures.get());
  });
}

}  // namespace tarnwel::py
