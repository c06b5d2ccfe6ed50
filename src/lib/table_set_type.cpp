// The Python class TableSet: static loaders, lookups, expansion and counts.
#include "lib/table_set_type.hpp"

#include <new>
#include <string>
#include <vector>

#include "decode/expansion.hpp"
#include "lib/arg_parser.hpp"
#include "lib/element_definition_type.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/sequence_definition_type.hpp"
#include "lib/string_cache.hpp"
#include "lib/type_support.hpp"
#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/wmo_csv_loader.hpp"

namespace tarnwel::py {
namespace {

struct TableSetObject {
  PyObject_HEAD
  TableSet tables;
  // str objects of the names and meanings that decodes with these tables hand
  // out, kept so that every result made with the set shares them.
  StringCache strings;
  // Decodes with these tables reuse their caches of table entries through it.
  DecoderPool decoders;
};

const TableSet& tables_of(PyObject* self) {
  return reinterpret_cast<TableSetObject*>(self)->tables;
}

ModuleState* state_of(PyObject* self) { return type_state(Py_TYPE(self)); }

// A new TableSet object from a loader's result, or its error as ValueError.
PyObject* from_loaded(PyObject* module, Result<TableSet>&& loaded) {
  if (!loaded) return raise_bufr_error(loaded.error());
  return new_table_set_object(module_state(module)->table_set_type, std::move(loaded).value());
}

constexpr Signature kConstructor{"TableSet", {}};

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    // No parameters: the binder only has to reject what was given.
    if (!bind_tuple_arguments(kConstructor, args, kwargs, nullptr)) return nullptr;
    return new_table_set_object(type, TableSet());
  });
}

constexpr const char* kPathParameter[] = {"path"};
constexpr const char* kDefinitionsParameters[] = {"path", "message"};
constexpr Signature kFromEccodes{"TableSet.from_eccodes", kPathParameter};
constexpr Signature kFromBufr4{"TableSet.from_bufr4_45", kPathParameter};
constexpr Signature kFromDefinitions{"TableSet.from_definitions", kDefinitionsParameters};

using Loader = Result<TableSet> (*)(const std::string& path);

// The loaders that take one directory differ only in how they read it.
PyObject* load_from_path(const Signature& signature, Loader loader, PyObject* module,
                         PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    std::string path;
    if (!bind_arguments(signature, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "path", &path)) {
      return nullptr;
    }
    return from_loaded(module, loader(path));
  });
}

PyObject* from_eccodes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return load_from_path(kFromEccodes, load_eccodes_dir, module, args, nargs, kwnames);
}

PyObject* from_bufr4_45(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return load_from_path(kFromBufr4, load_wmo_csv_dir, module, args, nargs, kwnames);
}

PyObject* from_definitions(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    std::string path;
    if (!bind_arguments(kFromDefinitions, args, nargs, kwnames, bound) ||
        !convert_path(bound[0], "path", &path) ||
        !check_instance(bound[1], module_state(module)->bufr_message_type, "message")) {
      return nullptr;
    }
    return from_loaded(module, load_definitions_tables(path, message_record(bound[1])));
  });
}

constexpr const char* kCodeParameter[] = {"code"};
constexpr const char* kMeaningParameters[] = {"code", "raw"};
constexpr const char* kDescriptorsParameter[] = {"descriptors"};
constexpr Signature kGetElement{"TableSet.get_element", kCodeParameter};
constexpr Signature kGetSequence{"TableSet.get_sequence", kCodeParameter};
constexpr Signature kGetMeaning{"TableSet.get_meaning", kMeaningParameters};
constexpr Signature kExpand{"TableSet.expand", kDescriptorsParameter};

// A new Python copy of the entry stored under the `code` argument, or None.
template <class Entry>
PyObject* copy_entry(const Signature& signature, PyObject* self, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames,
                     const Entry* (TableSet::*lookup)(uint32_t) const,
                     PyObject* (*make)(PyTypeObject*, const Entry&),
                     PyTypeObject* ModuleState::*type) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    uint32_t code = 0;
    if (!bind_arguments(signature, args, nargs, kwnames, bound) ||
        !convert_u32(bound[0], "code", &code)) {
      return nullptr;
    }
    const Entry* entry = (tables_of(self).*lookup)(code);
    if (entry == nullptr) Py_RETURN_NONE;
    return make(state_of(self)->*type, *entry);
  });
}

PyObject* get_element(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return copy_entry(kGetElement, self, args, nargs, kwnames, &TableSet::get_element,
                    new_element_definition_object, &ModuleState::element_definition_type);
}

PyObject* get_sequence(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return copy_entry(kGetSequence, self, args, nargs, kwnames, &TableSet::get_sequence,
                    new_sequence_definition_object, &ModuleState::sequence_definition_type);
}

PyObject* get_meaning(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    uint32_t code = 0;
    uint64_t raw = 0;
    if (!bind_arguments(kGetMeaning, args, nargs, kwnames, bound) ||
        !convert_u32(bound[0], "code", &code) || !convert_u64(bound[1], "raw", &raw)) {
      return nullptr;
    }
    const std::string* meaning = lookup_meaning(tables_of(self), code, raw);
    if (meaning == nullptr) Py_RETURN_NONE;
    return new_str(*meaning);
  });
}

PyObject* expand(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    std::vector<uint32_t> descriptors;
    if (!bind_arguments(kExpand, args, nargs, kwnames, bound) ||
        !convert_code_list(bound[0], "descriptors", &descriptors)) {
      return nullptr;
    }
    Result<std::vector<uint32_t>> expanded =
        tarnwel::expand_descriptors(tables_of(self), descriptors);
    if (!expanded) return raise_bufr_error(expanded.error());
    return new_code_list(expanded.value());
  });
}

PyObject* get_element_count(PyObject* self, void*) {
  return PyLong_FromSize_t(tables_of(self).element_count());
}

PyObject* get_sequence_count(PyObject* self, void*) {
  return PyLong_FromSize_t(tables_of(self).sequence_count());
}

PyObject* table_set_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const TableSet& tables = tables_of(self);
    const std::string text = "TableSet(elements=" + std::to_string(tables.element_count()) +
                             ", sequences=" + std::to_string(tables.sequence_count()) + ")";
    return new_str(text);
  });
}

void table_set_dealloc(PyObject* self) {
  reinterpret_cast<TableSetObject*>(self)->decoders.~DecoderPool();
  reinterpret_cast<TableSetObject*>(self)->strings.~StringCache();
  reinterpret_cast<TableSetObject*>(self)->tables.~TableSet();
  free_instance(self);
}

PyMethodDef table_set_methods[] = {
    {"get_element", as_cfunction<get_element>(), kFastcall, "get_element($self, code)\n--\n\n"},
    {"get_sequence", as_cfunction<get_sequence>(), kFastcall,
     "get_sequence($self, code)\n--\n\n"},
    {"get_meaning", as_cfunction<get_meaning>(), kFastcall,
     "get_meaning($self, code, raw)\n--\n\n"},
    {"expand", as_cfunction<expand>(), kFastcall, "expand($self, descriptors)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef table_set_static_methods[] = {
    {"from_eccodes", as_cfunction<from_eccodes>(), kFastcall, "from_eccodes(path)\n--\n\n"},
    {"from_bufr4_45", as_cfunction<from_bufr4_45>(), kFastcall, "from_bufr4_45(path)\n--\n\n"},
    {"from_definitions", as_cfunction<from_definitions>(), kFastcall,
     "from_definitions(path, message)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_set_getset[] = {
    {"element_count", get_element_count, nullptr, "", nullptr},
    {"sequence_count", get_sequence_count, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_set_slots[] = {
    {Py_tp_doc, const_cast<char*>("TableSet()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(table_set_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_set_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(table_set_repr)},
    {Py_tp_methods, table_set_methods},
    {Py_tp_getset, table_set_getset},
    {0, nullptr},
};

PyType_Spec table_set_spec = {
    "_tarnwel.TableSet",
    sizeof(TableSetObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    table_set_slots,
};

}  // namespace

PyTypeObject* create_table_set_type(PyObject* module) {
  PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &table_set_spec, nullptr));
  if (!type) return nullptr;
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  if (!add_static_methods(type_object, module, table_set_static_methods)) return nullptr;
  return reinterpret_cast<PyTypeObject*>(type.release());
}

PyObject* new_table_set_object(PyTypeObject* type, TableSet&& tables) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* object = reinterpret_cast<TableSetObject*>(self);
  new (&object->tables) TableSet(std::move(tables));
  new (&object->strings) StringCache();
  new (&object->decoders) DecoderPool(object->tables);
  return self;
}

const TableSet& table_set_of(PyObject* object) { return tables_of(object); }

DecoderPool& table_set_decoders(PyObject* object) {
  return reinterpret_cast<TableSetObject*>(object)->decoders;
}

StringCache& table_set_strings(PyObject* object) {
  return reinterpret_cast<TableSetObject*>(object)->strings;
}

}  // namespace tarnwel::py
