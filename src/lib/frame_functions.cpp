// tarnwel._core.decode_take: a message's cells of a few keys, as read_dataframe gathers them.
#include "lib/frame_functions.hpp"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "decode/decoder_pool.hpp"
#include "decode/key_columns.hpp"
#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/decode_arguments.hpp"
#include "lib/errors.hpp"
#include "lib/reader_state.hpp"
#include "lib/table_set_type.hpp"
#include "lib/text_objects.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kParameters[] = {"buffer", "start", "message", "tables", "max_values", "keys"};
constexpr Signature kDecodeTake{"decode_take", kParameters};

// The cells as DecodedMessage.take gives them: a bytearray of float64, or a list of str/None.
PyObject* cells_object(const KeyColumn& column, TextObjects& texts) {
  if (!column.text) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(column.numbers.data()),
                                         static_cast<Py_ssize_t>(column.numbers.size() * sizeof(double)));
  }
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(column.texts.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < column.texts.size(); ++i) {
    PyObject* text = column.texts[i] == kNoId ? Py_None : texts.get(column.texts[i]);
    if (text == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(text));
  }
  return list.release();
}

}  // namespace

PyObject* reader_decode_take(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    ReaderState* state = reader_state(module);
    PyObject* bound[6];
    HeldBuffer buffer;
    DecodeArguments arguments;
    if (!bind_arguments(kDecodeTake, args, nargs, kwnames, bound) ||
        !read_decode_arguments(state, bound, buffer, arguments)) {
      return nullptr;
    }
    PyRef sequence = PyRef::steal(PySequence_Fast(bound[5], "keys must be a sequence of str"));
    if (!sequence) return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
    std::vector<std::string_view> keys;
    for (Py_ssize_t k = 0; k < count; ++k) {
      Py_ssize_t size = 0;
      PyObject* key = PySequence_Fast_GET_ITEM(sequence.get(), k);
      const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
      if (text == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "keys must be a sequence of str");
        return nullptr;
      }
      keys.emplace_back(text, static_cast<std::size_t>(size));
    }
    ByteView data;
    if (!section4_in(buffer, arguments, &data)) return nullptr;
    DecoderPool& decoders = table_set_decoders(bound[3]);
    std::optional<Result<DecodedResult>> decoded;
    std::vector<KeyColumn> columns;
    // The core touches no Python object; the buffer, tables and keys are held above.
    without_lock([&] {
      DecoderPool::Lease lease = decoders.lease();
      decoded.emplace(lease.decode(*arguments.record, data, arguments.options));
      if (decoded->ok()) columns = key_columns(decoded->value(), lease.cache(), keys);
    });
    if (!decoded->ok()) return raise_bufr_error(decoded->error());
    const DecodedResult& result = decoded->value();
    TextObjects texts(result);
    Py_ssize_t found = 0;
    for (const KeyColumn& column : columns) found += column.found ? 1 : 0;
    // Four parallel tuples, as a batch groups them: no per-key tuple to take apart.
    PyRef names = PyRef::steal(PyTuple_New(found));
    PyRef cells = PyRef::steal(PyTuple_New(found));
    PyRef text_flags = PyRef::steal(PyTuple_New(found));
    PyRef widths = PyRef::steal(PyTuple_New(found));
    if (!names || !cells || !text_flags || !widths) return nullptr;
    Py_ssize_t at = 0;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (!columns[k].found) continue;
      PyRef column_cells = PyRef::steal(cells_object(columns[k], texts));
      PyRef width = PyRef::steal(PyLong_FromUnsignedLong(columns[k].width));
      if (!column_cells || !width) return nullptr;
      PyTuple_SET_ITEM(names.get(), at, Py_NewRef(PySequence_Fast_GET_ITEM(
                                            sequence.get(), static_cast<Py_ssize_t>(k))));
      PyTuple_SET_ITEM(cells.get(), at, column_cells.release());
      PyTuple_SET_ITEM(text_flags.get(), at, Py_NewRef(columns[k].text ? Py_True : Py_False));
      PyTuple_SET_ITEM(widths.get(), at, width.release());
      ++at;
    }
    PyRef unknown = PyRef::steal(new_code_list(result.unknown_local_codes()));
    if (!unknown) return nullptr;
    return Py_BuildValue("(kOOOOO)", static_cast<unsigned long>(result.subsets()), names.get(),
                         cells.get(), text_flags.get(), widths.get(), unknown.get());
  });
}

}  // namespace tarnwel::py
