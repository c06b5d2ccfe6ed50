// The class tarnwel._core.DecodedMessage: one message's columnar decode, and tarnwel._core.decode.
#include "lib/decoded_message_type.hpp"

#include <memory>
#include <mutex>
#include <string_view>
#include <optional>
#include <vector>

#include "decode/decoder_pool.hpp"
#include "decode/value_arrays.hpp"
#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/cell_blocks.hpp"
#include "lib/decode_arguments.hpp"
#include "lib/decoded_value_type.hpp"
#include "lib/errors.hpp"
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
  DecoderPool* decoders = nullptr;  // the tables' own
  std::optional<DecodedResult> result;
  std::mutex plan_mutex;  // threads sharing one message build its plan once
  std::optional<ArrayPlan> plan;

  // Call without the interpreter lock: the plan is built from core data only,
  // and a thread waiting on the mutex must not hold the lock the builder needs.
  const ArrayPlan& array_plan() {
    std::lock_guard<std::mutex> guard(plan_mutex);
    if (!plan) plan.emplace(*result, decoders->lease().cache());
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

// Where the chosen columns' cells go: float64 cells for numbers, text ids for
// texts (made into str afterwards). A column chosen twice shares its cells.
struct ChosenCells {
  std::vector<double*> numbers;
  std::vector<uint32_t*> text_ids;
  std::vector<std::vector<uint32_t>> text_cells;

  explicit ChosenCells(std::size_t columns)
      : numbers(columns, nullptr), text_ids(columns, nullptr), text_cells(columns) {}

  // Room for the text ids of column `c`; needs no interpreter lock.
  void add_texts(const ArrayPlan& plan, uint32_t c) {
    text_cells[c].resize(std::size_t{plan.subsets()} * plan.columns()[c].width);
    text_ids[c] = text_cells[c].data();
  }
};

std::size_t cell_count(const ArrayPlan& plan, uint32_t c) {
  return std::size_t{plan.subsets()} * plan.columns()[c].width;
}

// Bytearrays for the number cells of `chosen` and room for their text ids;
// false with an exception set when memory runs out.
bool bytearray_cells(const ArrayPlan& plan, const std::vector<uint32_t>& chosen,
                     ChosenCells& cells, std::vector<PyRef>& number_arrays) {
  number_arrays.resize(plan.columns().size());
  for (uint32_t c : chosen) {
    if (plan.columns()[c].text) {
      cells.add_texts(plan, c);
    } else if (!number_arrays[c]) {
      number_arrays[c] = new_cells(cell_count(plan, c), &cells.numbers[c]);
      if (!number_arrays[c]) return false;
    }
  }
  return true;
}

// The cells of column `c` as Python gets them: `numbers` for a number column
// (a new reference), a list of str/None for a text column.
PyObject* column_cells(const ArrayPlan& plan, uint32_t c, const ChosenCells& cells,
                       PyObject* numbers, TextObjects& texts) {
  if (plan.columns()[c].text) return text_list(cells.text_ids[c], cells.text_cells[c].size(), texts);
  return Py_NewRef(numbers);
}

// arrays(columns): for each column index, a bytearray of float64 cells (subsets ×
// width, row by row) for numbers, or a list of str/None for texts.
PyObject* method_arrays(PyObject* self, PyObject* indices) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    const ArrayPlan& plan = plan_of(decode);
    std::vector<uint32_t> wanted;
    if (!convert_code_list(indices, "columns", &wanted)) return nullptr;
    for (uint32_t c : wanted) {
      if (c >= plan.columns().size()) {
        PyErr_SetString(PyExc_IndexError, "column index out of range");
        return nullptr;
      }
    }
    ChosenCells cells(plan.columns().size());
    std::vector<PyRef> number_arrays;
    if (!bytearray_cells(plan, wanted, cells, number_arrays)) return nullptr;
    without_lock([&] { plan.fill(*decode.result, cells.numbers, cells.text_ids); });
    TextObjects texts(*decode.result);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(wanted.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (uint32_t c : wanted) {
      PyObject* item = column_cells(plan, c, cells, number_arrays[c].get(), texts);
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

// The keys a take asks for: every column when `keys` is None, else each str of
// the sequence, whose UTF-8 bytes live as long as the sequence holds it.
struct AskedKeys {
  bool every = false;
  PyRef sequence;
  std::vector<PyObject*> objects;  // borrowed from `sequence`
  std::vector<std::string_view> texts;
};

bool read_keys(PyObject* keys, AskedKeys& asked) {
  if (keys == Py_None) {
    asked.every = true;
    return true;
  }
  asked.sequence = PyRef::steal(PySequence_Fast(keys, "keys must be a sequence of str"));
  if (!asked.sequence) return false;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(asked.sequence.get());
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* key = PySequence_Fast_GET_ITEM(asked.sequence.get(), k);
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
    if (text == nullptr) {
      PyErr_Clear();  // like a key no column has: not a str, or not encodable
      continue;
    }
    asked.objects.push_back(key);
    asked.texts.emplace_back(text, static_cast<std::size_t>(size));
  }
  return true;
}

// The columns the keys name, in the keys' order, and which key named each
// (kNoId when every column was asked for). Needs no interpreter lock.
struct Chosen {
  std::vector<uint32_t> columns;
  std::vector<uint32_t> keys;
};

Chosen choose_columns(const ArrayPlan& plan, const AskedKeys& asked) {
  Chosen chosen;
  if (asked.every) {
    for (std::size_t c = 0; c < plan.columns().size(); ++c) {
      chosen.columns.push_back(static_cast<uint32_t>(c));
      chosen.keys.push_back(kNoId);
    }
    return chosen;
  }
  for (std::size_t k = 0; k < asked.texts.size(); ++k) {
    const uint32_t c = find_column(plan, asked.texts[k]);
    if (c == kNoId) continue;
    chosen.columns.push_back(c);
    chosen.keys.push_back(static_cast<uint32_t>(k));
  }
  return chosen;
}

// [(key, cells, text, width), ...]: `numbers[c]` holds the cells of number column c.
PyObject* taken_list(const ArrayPlan& plan, const AskedKeys& asked, const Chosen& chosen,
                     const ChosenCells& cells, const std::vector<PyRef>& numbers,
                     TextObjects& texts) {
  const std::vector<ArrayColumn>& columns = plan.columns();
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(chosen.columns.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < chosen.columns.size(); ++i) {
    const uint32_t c = chosen.columns[i];
    PyRef name = chosen.keys[i] == kNoId
                     ? PyRef::steal(PyUnicode_FromStringAndSize(
                           columns[c].name.data(), static_cast<Py_ssize_t>(columns[c].name.size())))
                     : PyRef::borrow(asked.objects[chosen.keys[i]]);
    if (!name) return nullptr;
    PyRef column = PyRef::steal(column_cells(plan, c, cells, numbers[c].get(), texts));
    if (!column) return nullptr;
    PyObject* item = Py_BuildValue("(OOOk)", name.get(), column.get(),
                                   columns[c].text ? Py_True : Py_False,
                                   static_cast<unsigned long>(columns[c].width));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// take(keys): [(key, cells, text, width), ...] for the keys found, in the caller's
// order (every column under its key when keys is None); cells as arrays() gives
// them. One call with one release of the lock for the plan and one for the fill.
PyObject* method_take(PyObject* self, PyObject* keys) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    AskedKeys asked;
    if (!read_keys(keys, asked)) return nullptr;
    const ArrayPlan& plan = plan_of(decode);
    const Chosen chosen = choose_columns(plan, asked);
    ChosenCells cells(plan.columns().size());
    std::vector<PyRef> number_arrays;
    if (!bytearray_cells(plan, chosen.columns, cells, number_arrays)) return nullptr;
    without_lock([&] { plan.fill(*decode.result, cells.numbers, cells.text_ids); });
    TextObjects texts(*decode.result);
    return taken_list(plan, asked, chosen, cells, number_arrays, texts);
  });
}

// A take whose number cells go into CellBlocks: the plan, the columns chosen, their
// memory (from the pool, which it goes back to) and the fill, all made without the
// interpreter lock; only wrapping the cells needs it.
struct BlockTake {
  const ArrayPlan* plan = nullptr;
  Chosen chosen;
  std::optional<ChosenCells> cells;
  std::vector<PendingCells> pending;
  bool out_of_memory = false;
};

// Call without the lock.
void prepare_blocks(Decode& decode, const AskedKeys& asked, BlockTake& take) {
  take.plan = &decode.array_plan();
  const ArrayPlan& plan = *take.plan;
  take.chosen = choose_columns(plan, asked);
  take.cells.emplace(plan.columns().size());
  take.pending.resize(plan.columns().size());
  for (uint32_t c : take.chosen.columns) {
    if (plan.columns()[c].text) {
      take.cells->add_texts(plan, c);
    } else if (take.cells->numbers[c] == nullptr) {
      take.pending[c] = PendingCells(cell_count(plan, c) * sizeof(double));
      take.cells->numbers[c] = take.pending[c].cells();
      take.out_of_memory = take.out_of_memory || take.cells->numbers[c] == nullptr;
    }
  }
  if (!take.out_of_memory) plan.fill(*decode.result, take.cells->numbers, take.cells->text_ids);
}

// With the lock: [(key, cells, text, width), ...] as take gives, cells in CellBlocks.
PyObject* blocks_list(PyTypeObject* block_type, Decode& decode, const AskedKeys& asked,
                      BlockTake& take) {
  if (take.out_of_memory) return PyErr_NoMemory();
  std::vector<PyRef> blocks(take.plan->columns().size());
  for (std::size_t c = 0; c < blocks.size(); ++c) {
    if (take.cells->numbers[c] == nullptr) continue;
    blocks[c] = PyRef::steal(new_cell_block(block_type, take.pending[c]));
    if (!blocks[c]) return nullptr;
  }
  TextObjects texts(*decode.result);
  return taken_list(*take.plan, asked, take.chosen, *take.cells, blocks, texts);
}

// take_blocks(keys): as take, with the number cells in CellBlocks, in one release
// of the lock.
PyObject* method_take_blocks(PyObject* self, PyObject* keys) {
  return guarded([&]() -> PyObject* {
    Decode& decode = decode_of(self);
    AskedKeys asked;
    if (!read_keys(keys, asked)) return nullptr;
    BlockTake take;
    without_lock([&] { prepare_blocks(decode, asked, take); });
    return blocks_list(state_of(self)->cell_block_type, decode, asked, take);
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
    {"take_blocks", method_take_blocks, METH_O,
     "take_blocks(keys)\n--\n\nAs take, with number cells in CellBlocks."},
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
                                             "max_values", "keys"};
constexpr Signature kDecode{"decode", std::span(kDecodeParameters).first(5)};
constexpr Signature kDecodeBlocks{"decode_blocks", kDecodeParameters};

// A decode's arguments, checked, with the buffer and tables held by `decode`.
struct DecodeCall {
  std::unique_ptr<Decode> decode = std::make_unique<Decode>();
  DecodeArguments arguments;
  ByteView data;  // section 4
};

bool begin_decode(ReaderState* state, PyObject* const* bound, DecodeCall& call) {
  Decode& decode = *call.decode;
  if (!read_decode_arguments(state, bound, decode.buffer, call.arguments) ||
      !section4_in(decode.buffer, call.arguments, &call.data)) {
    return false;
  }
  decode.tables = PyRef::borrow(bound[3]);
  decode.decoders = &table_set_decoders(bound[3]);
  return true;
}

// The core decode; touches no Python object (the buffer and tables are held).
// Returns false with the error kept in `failure`.
bool run_decode(DecodeCall& call, std::optional<BufrError>& failure) {
  Result<DecodedResult> decoded = call.decode->decoders->decode(
      *call.arguments.record, call.data, call.arguments.options);
  if (!decoded.ok()) {
    failure.emplace(decoded.error());
    return false;
  }
  call.decode->result.emplace(std::move(decoded).value());
  return true;
}

PyObject* new_decoded_message(ReaderState* state, DecodeCall& call) {
  PyObject* self = PyType_GenericAlloc(state->decoded_message_type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<DecodedMessageObject*>(self)->decode = call.decode.release();
  return self;
}

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
    DecodeCall call;
    if (!bind_arguments(kDecode, args, nargs, kwnames, bound) || !begin_decode(state, bound, call)) {
      return nullptr;
    }
    std::optional<BufrError> failure;
    without_lock([&] { run_decode(call, failure); });
    if (failure) return raise_bufr_error(*failure);
    return new_decoded_message(state, call);
  });
}

PyObject* reader_decode_blocks(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    ReaderState* state = reader_state(module);
    PyObject* bound[6];
    DecodeCall call;
    AskedKeys asked;
    if (!bind_arguments(kDecodeBlocks, args, nargs, kwnames, bound) ||
        !begin_decode(state, bound, call) || !read_keys(bound[5], asked)) {
      return nullptr;
    }
    std::optional<BufrError> failure;
    BlockTake take;
    without_lock([&] {
      if (run_decode(call, failure)) prepare_blocks(*call.decode, asked, take);
    });
    if (failure) return raise_bufr_error(*failure);
    Decode& decode = *call.decode;
    PyRef self = PyRef::steal(new_decoded_message(state, call));
    if (!self) return nullptr;
    PyRef taken = PyRef::steal(blocks_list(state->cell_block_type, decode, asked, take));
    if (!taken) return nullptr;
    return PyTuple_Pack(2, self.get(), taken.get());
  });
}

}  // namespace tarnwel::py
