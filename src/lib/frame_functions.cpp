// tarnwel._core.decode_take: a message's cells of a few keys, as read_dataframe gathers them.
#include "lib/frame_functions.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "decode/cached_decoder.hpp"
#include "decode/key_columns.hpp"
#include "decode/section4_decoder.hpp"
#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_scan_functions.hpp"
#include "lib/reader_state.hpp"
#include "lib/table_set_type.hpp"
#include "lib/text_objects.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kParameters[] = {"buffer", "start", "message", "tables", "max_values", "keys",
                                       "decoder"};
constexpr Signature kDecodeTake{"decode_take", kParameters};
constexpr const char* kDecoderParameters[] = {"tables"};
constexpr Signature kKeyDecoder{"key_decoder", kDecoderParameters};
constexpr const char* kCapsuleName = "tarnwel._core.key_decoder";

// What a key_decoder capsule holds: the tables it keeps alive and the decoder's cache.
struct KeyDecoder {
  explicit KeyDecoder(PyObject* object) : tables(PyRef::borrow(object)), decoder(table_set_of(object)) {}
  PyRef tables;
  CachedDecoder decoder;
  std::mutex busy;  // threads sharing a capsule: the one that finds it busy decodes uncached
};

void destroy_key_decoder(PyObject* capsule) {
  delete static_cast<KeyDecoder*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

// The capsule's decoder when it decodes with `tables`; null (with an exception set
// when `object` is no capsule of ours) otherwise.
KeyDecoder* key_decoder_of(PyObject* object, PyObject* tables) {
  if (object == Py_None) return nullptr;
  auto* decoder = static_cast<KeyDecoder*>(PyCapsule_GetPointer(object, kCapsuleName));
  return decoder != nullptr && decoder->tables.get() == tables ? decoder : nullptr;
}

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
    PyObject* bound[7];
    HeldBuffer buffer;
    uint64_t start = 0;
    DecodeOptions options{0, true, true};
    ByteView bytes;
    if (!bind_arguments(kDecodeTake, args, nargs, kwnames, bound) ||
        !buffer.acquire(bound[0], "buffer") || !convert_u64(bound[1], "start", &start) ||
        !check_instance(bound[2], state->bufr_message_type, "message") ||
        !check_instance(bound[3], state->table_set_type, "tables") ||
        !convert_u64(bound[4], "max_values", &options.max_values)) {
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
    const BufrMessage& record = message_record(bound[2]);
    if (!checked_range(buffer.bytes(), start, record.total_length, &bytes)) return nullptr;
    const TableSet& tables = table_set_of(bound[3]);
    KeyDecoder* decoder = key_decoder_of(bound[6], bound[3]);
    if (decoder == nullptr && PyErr_Occurred()) return nullptr;
    std::optional<Result<DecodedResult>> decoded;
    std::vector<KeyColumn> columns;
    // The core touches no Python object; the buffer, tables and keys are held above.
    without_lock([&] {
      std::unique_lock<std::mutex> lock;
      if (decoder != nullptr) lock = std::unique_lock<std::mutex>(decoder->busy, std::try_to_lock);
      if (lock.owns_lock()) {
        decoded.emplace(decoder->decoder.decode(record, record.section4_data(bytes), options));
      } else {
        decoded.emplace(decode_section4(record, tables, record.section4_data(bytes), options));
      }
      if (decoded->ok()) columns = key_columns(decoded->value(), tables, keys);
    });
    if (!decoded->ok()) return raise_bufr_error(decoded->error());
    const DecodedResult& result = decoded->value();
    TextObjects texts(result);
    PyRef found = PyRef::steal(PyList_New(0));
    if (!found) return nullptr;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (!columns[k].found) continue;
      PyRef cells = PyRef::steal(cells_object(columns[k], texts));
      if (!cells) return nullptr;
      PyRef item = PyRef::steal(Py_BuildValue(
          "(OOOk)", PySequence_Fast_GET_ITEM(sequence.get(), static_cast<Py_ssize_t>(k)),
          cells.get(), columns[k].text ? Py_True : Py_False,
          static_cast<unsigned long>(columns[k].width)));
      if (!item || PyList_Append(found.get(), item.get()) != 0) return nullptr;
    }
    PyRef unknown = PyRef::steal(new_code_list(result.unknown_local_codes()));
    if (!unknown) return nullptr;
    return Py_BuildValue("(kOO)", static_cast<unsigned long>(result.subsets()), found.get(),
                         unknown.get());
  });
}

PyObject* reader_key_decoder(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kKeyDecoder, args, nargs, kwnames, bound) ||
        !check_instance(bound[0], reader_state(module)->table_set_type, "tables")) {
      return nullptr;
    }
    auto decoder = std::make_unique<KeyDecoder>(bound[0]);
    PyObject* capsule = PyCapsule_New(decoder.get(), kCapsuleName, destroy_key_decoder);
    if (capsule != nullptr) decoder.release();
    return capsule;
  });
}

}  // namespace tarnwel::py
