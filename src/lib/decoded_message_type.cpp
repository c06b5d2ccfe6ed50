// The class tarnwel._core.DecodedMessage: one message's columnar decode, and tarnwel._core.decode.
#include "lib/decoded_message_type.hpp"

#include <memory>
#include <mutex>
#include <string_view>
#include <optional>
#include <vector>

#include "decode/section4_decoder.hpp"
#include "decode/value_arrays.hpp"
#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/decoded_value_type.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_scan_functions.hpp"
#include "lib/reader_state.hpp"
#include "lib/table_set_type.hpp"
#include "lib/text_objects.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

// What a decode keeps alive: the message bytes (a compressed result reads its
// increments from them) and the tables (names and meanings borrow from them).
struct Decode {
  HeldBuffer buffer;
  PyRef tables;
  const TableSet* table_set = nullptr;
  std::optional<DecodedResult> result;
  std::mutex plan_mutex;  // threads sharing one message build its plan once
  std::optional<ArrayPlan> plan;

  // Call without the interpreter lock: the plan is built from core data only,
  // and a thread waiting on the mutex must not hold the lock the builder needs.
  const ArrayPlan& array_plan() {
    std::lock_guard<std::mutex> guard(plan_mutex);
    if (!plan) plan.emplace(*result, *table_set);
    return *plan;
  }
};

const ArrayPlan& plan_of(Decode& decode) {
  const ArrayPlan* plan = nullptr;
  without_lock([&] { plan = &decode.array_plan(); });
  return *plan;
}

struct DecodedMessageObject {
  PyObject_HEAD
  Decode* decode;
};

Decode& decode_of(PyObject* self) { return *reinterpret_cast<DecodedMessageObject*>(self)->decode; }

ReaderState* state_of(PyObject* self) {
  return static_cast<ReaderState*>(PyType_GetModuleState(Py_TYPE(self)));
}

void decoded_message_dealloc(PyObject* self) {
  delete reinterpret_cast<DecodedMessageObject*>(self)->decode;
  free_instance(self);
}

PyObject* get_subsets(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(decode_of(self).result->subsets());
}

PyObject* get_size(PyObject* self, void*) {
  return PyLong_FromSize_t(decode_of(self).result->size());
}

PyObject* method_values(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    return new_decoded_value_list(state_of(self)->decoded_value_type, *decode.result,
                                  table_set_strings(decode.tables.get()));
  });
}

// [(name, descriptor, associated, text, width), ...] in the order first met.
PyObject* method_columns(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const ArrayPlan& plan = plan_of(decode_of(self));
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(plan.columns().size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const ArrayColumn& column : plan.columns()) {
      PyObject* item = Py_BuildValue("(s#kOOk)", column.name.data(),
                                     static_cast<Py_ssize_t>(column.name.size()),
                                     static_cast<unsigned long>(column.descriptor),
                                     column.associated ? Py_True : Py_False,
                                     column.text ? Py_True : Py_False,
                                     static_cast<unsigned long>(column.width));
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), i++, item);
    }
    return list.release();
  });
}

// A bytearray of `count` elements of T, and where its cells are.
template <class T>
PyRef new_cells(std::size_t count, T** cells) {
  PyRef array = PyRef::steal(
      PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
  *cells = array ? reinterpret_cast<T*>(PyByteArray_AS_STRING(array.get())) : nullptr;
  return array;
}

// A list of str (None where `ids` holds kNoId).
PyObject* text_list(const uint32_t* ids, std::size_t count, TextObjects& texts) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* text = ids[i] == kNoId ? Py_None : texts.get(ids[i]);
    if (text == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(text));
  }
  return list.release();
}

// arrays(columns): for each column index, a bytearray of float64 cells (subsets ×
// width, row by row) for numbers, or a list of str/None for texts.
PyObject* method_arrays(PyObject* self, PyObject* indices) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    const ArrayPlan& plan = plan_of(decode);
    const std::size_t columns = plan.columns().size();
    std::vector<uint32_t> wanted;
    if (!convert_code_list(indices, "columns", &wanted)) return nullptr;
    std::vector<double*> numbers(columns, nullptr);
    std::vector<uint32_t*> text_ids(columns, nullptr);
    std::vector<PyRef> number_arrays(columns);
    std::vector<std::vector<uint32_t>> text_cells(columns);
    for (uint32_t c : wanted) {
      if (c >= columns) {
        PyErr_SetString(PyExc_IndexError, "column index out of range");
        return nullptr;
      }
      const std::size_t cells = std::size_t{plan.subsets()} * plan.columns()[c].width;
      if (plan.columns()[c].text) {
        text_cells[c].resize(cells);
        text_ids[c] = text_cells[c].data();
      } else if (!number_arrays[c]) {
        number_arrays[c] = new_cells(cells, &numbers[c]);
        if (!number_arrays[c]) return nullptr;
      }
    }
    without_lock([&] { plan.fill(*decode.result, numbers, text_ids); });
    TextObjects texts(*decode.result);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(wanted.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (uint32_t c : wanted) {
      PyObject* item = plan.columns()[c].text
                           ? text_list(text_ids[c], text_cells[c].size(), texts)
                           : Py_NewRef(number_arrays[c].get());
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), i++, item);
    }
    return list.release();
  });
}

// (subset, column, rank, descriptor) as uint32 bytearrays, number as float64, and
// a list of texts: one row per value but markers.
PyObject* method_long_rows(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    const ArrayPlan& plan = plan_of(decode);
    const std::size_t rows = plan.long_row_count();
    ArrayPlan::LongRows cells{};
    PyRef subset = new_cells(rows, &cells.subset);
    PyRef column = new_cells(rows, &cells.column);
    PyRef rank = new_cells(rows, &cells.rank);
    PyRef descriptor = new_cells(rows, &cells.descriptor);
    PyRef number = new_cells(rows, &cells.number);
    if (!subset || !column || !rank || !descriptor || !number) return nullptr;
    std::vector<uint32_t> text_ids(rows);
    cells.text = text_ids.data();
    without_lock([&] { plan.fill_long(*decode.result, cells); });
    TextObjects texts(*decode.result);
    PyRef text = PyRef::steal(text_list(text_ids.data(), rows, texts));
    if (!text) return nullptr;
    return PyTuple_Pack(6, subset.get(), column.get(), rank.get(), descriptor.get(), number.get(),
                        text.get());
  });
}

// The first column whose key or six-digit code (with the associated-field suffix
// where it applies) is `key`; kNoId when none is.
uint32_t find_column(const ArrayPlan& plan, std::string_view key) {
  constexpr std::string_view kSuffix = "->associatedField";
  const bool associated = key.size() == 6 + kSuffix.size() && key.substr(6) == kSuffix;
  uint32_t code = kNoId;
  if (key.size() == 6 || associated) {
    uint32_t number = 0;
    bool digits = true;
    for (char c : key.substr(0, 6)) {
      digits = digits && c >= '0' && c <= '9';
      number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    if (digits) code = number;
  }
  const std::vector<ArrayColumn>& columns = plan.columns();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].name == key ||
        (columns[c].descriptor == code && columns[c].associated == associated)) {
      return static_cast<uint32_t>(c);
    }
  }
  return kNoId;
}

// take(keys): [(key, cells, text, width), ...] for the keys found, in the caller's
// order (every column under its key when keys is None); cells as arrays() gives
// them. One call with one release of the lock for the plan and one for the fill.
PyObject* method_take(PyObject* self, PyObject* keys) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    const ArrayPlan& plan = plan_of(decode);
    const std::vector<ArrayColumn>& columns = plan.columns();
    std::vector<PyRef> names;
    std::vector<uint32_t> chosen;
    if (keys == Py_None) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        names.push_back(PyRef::steal(PyUnicode_FromStringAndSize(
            columns[c].name.data(), static_cast<Py_ssize_t>(columns[c].name.size()))));
        if (!names.back()) return nullptr;
        chosen.push_back(static_cast<uint32_t>(c));
      }
    } else {
      PyRef sequence = PyRef::steal(PySequence_Fast(keys, "keys must be a sequence of str"));
      if (!sequence) return nullptr;
      const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
      for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* key = PySequence_Fast_GET_ITEM(sequence.get(), k);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
        if (text == nullptr) {
          PyErr_Clear();  // like a key no column has: not a str, or not encodable
          continue;
        }
        const uint32_t c = find_column(plan, std::string_view(text, static_cast<std::size_t>(size)));
        if (c == kNoId) continue;
        names.push_back(PyRef::borrow(key));
        chosen.push_back(c);
      }
    }
    std::vector<double*> numbers(columns.size(), nullptr);
    std::vector<uint32_t*> text_ids(columns.size(), nullptr);
    std::vector<PyRef> number_arrays(columns.size());
    std::vector<std::vector<uint32_t>> text_cells(columns.size());
    for (uint32_t c : chosen) {
      const std::size_t cells = std::size_t{plan.subsets()} * columns[c].width;
      if (columns[c].text) {
        text_cells[c].resize(cells);
        text_ids[c] = text_cells[c].data();
      } else if (!number_arrays[c]) {
        number_arrays[c] = new_cells(cells, &numbers[c]);
        if (!number_arrays[c]) return nullptr;
      }
    }
    without_lock([&] { plan.fill(*decode.result, numbers, text_ids); });
    TextObjects texts(*decode.result);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(chosen.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const uint32_t c = chosen[i];
      PyRef cells = PyRef::steal(columns[c].text
                                     ? text_list(text_ids[c], text_cells[c].size(), texts)
                                     : Py_NewRef(number_arrays[c].get()));
      if (!cells) return nullptr;
      PyObject* item = Py_BuildValue("(OOOk)", names[i].get(), cells.get(),
                                     columns[c].text ? Py_True : Py_False,
                                     static_cast<unsigned long>(columns[c].width));
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  });
}

PyObject* get_unknown_local(PyObject* self, void*) {
  return new_code_list(decode_of(self).result->unknown_local_codes());
}

PyGetSetDef decoded_message_getset[] = {
    {"unknown_local", get_unknown_local, nullptr,
     "Codes read as unknown local descriptors after 2 06 YYY.", nullptr},
    {"subsets", get_subsets, nullptr, "Number of subsets.", nullptr},
    {"size", get_size, nullptr, "Number of values in the flat list.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef decoded_message_methods[] = {
    {"values", method_values, METH_NOARGS, "values()\n--\n\nThe DecodedValue list."},
    {"columns", method_columns, METH_NOARGS,
     "columns()\n--\n\n(name, descriptor, associated, text, width) of every array."},
    {"arrays", method_arrays, METH_O, "arrays(columns)\n--\n\nThe cells of the given columns."},
    {"take", method_take, METH_O,
     "take(keys)\n--\n\n(key, cells, text, width) of each key found; None: every column."},
    {"long_rows", method_long_rows, METH_NOARGS, "long_rows()\n--\n\nOne row per value."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot decoded_message_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(decoded_message_dealloc)},
    {Py_tp_getset, decoded_message_getset},
    {Py_tp_methods, decoded_message_methods},
    {0, nullptr},
};

PyType_Spec decoded_message_spec = {
    "tarnwel._core.DecodedMessage",
    sizeof(DecodedMessageObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    decoded_message_slots,
};

constexpr const char* kDecodeParameters[] = {"buffer", "start", "message", "tables",
                                             "max_values"};
constexpr Signature kDecode{"decode", kDecodeParameters};

}  // namespace

PyTypeObject* create_decoded_message_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &decoded_message_spec, nullptr));
}

PyObject* reader_decode(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    ReaderState* state = reader_state(module);
    PyObject* bound[5];
    auto decode = std::make_unique<Decode>();
    uint64_t start = 0;
    DecodeOptions options{0, true, true};
    ByteView bytes;
    if (!bind_arguments(kDecode, args, nargs, kwnames, bound) ||
        !decode->buffer.acquire(bound[0], "buffer") || !convert_u64(bound[1], "start", &start) ||
        !check_instance(bound[2], state->bufr_message_type, "message") ||
        !check_instance(bound[3], state->table_set_type, "tables") ||
        !convert_u64(bound[4], "max_values", &options.max_values)) {
      return nullptr;
    }
    const BufrMessage& record = message_record(bound[2]);
    if (!checked_range(decode->buffer.bytes(), start, record.total_length, &bytes)) return nullptr;
    decode->tables = PyRef::borrow(bound[3]);
    const TableSet& tables = table_set_of(bound[3]);
    decode->table_set = &tables;
    std::optional<Result<DecodedResult>> decoded;
    // The core touches no Python object; the buffer and tables are held above.
    without_lock([&] {
      decoded.emplace(decode_section4(record, tables, record.section4_data(bytes), options));
    });
    if (!decoded->ok()) return raise_bufr_error(decoded->error());
    decode->result.emplace(std::move(*decoded).value());
    PyObject* self = PyType_GenericAlloc(state->decoded_message_type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<DecodedMessageObject*>(self)->decode = decode.release();
    return self;
  });
}

}  // namespace tarnwel::py
