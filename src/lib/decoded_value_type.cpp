// The Python class DecodedValue: one decoded item, small and without GC tracking.
#include "lib/decoded_value_type.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lib/errors.hpp"
#include "lib/text_objects.hpp"
#include "lib/type_support.hpp"
#include "message/descriptor_code.hpp"
#include "tables/fields.hpp"

namespace tarnwel::py {
namespace {

// 64 bytes. It refers only to str objects, so it cannot be part of a cycle and
// is not tracked by the collector; numbers become Python objects on access.
struct DecodedValueObject {
  PyObject_HEAD
  PyObject* name;     // shared by the values of one decode
  PyObject* text;     // or null
  PyObject* meaning;  // or null; shared like name
  double raw_value;
  uint64_t raw;
  uint32_t descriptor;
  uint8_t flags;
};

DecodedValueObject* value_of(PyObject* self) { return reinterpret_cast<DecodedValueObject*>(self); }

PyObject* new_ref_or_none(PyObject* object) { return Py_NewRef(object != nullptr ? object : Py_None); }

PyObject* get_descriptor(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(value_of(self)->descriptor);
}
PyObject* get_name(PyObject* self, void*) { return Py_NewRef(value_of(self)->name); }
PyObject* get_raw(PyObject* self, void*) {
  const DecodedValueObject* value = value_of(self);
  if ((value->flags & kHasRaw) == 0) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(value->raw);
}
PyObject* get_raw_value(PyObject* self, void*) {
  const DecodedValueObject* value = value_of(self);
  if ((value->flags & kHasRawValue) == 0) Py_RETURN_NONE;
  return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw_text(PyObject* self, void*) { return new_ref_or_none(value_of(self)->text); }
PyObject* get_raw_meaning(PyObject* self, void*) { return new_ref_or_none(value_of(self)->meaning); }
PyObject* get_data(PyObject* self, void*) {
  const DecodedValueObject* value = value_of(self);
  if (value->text != nullptr) return Py_NewRef(value->text);
  if (value->meaning != nullptr) return Py_NewRef(value->meaning);
  return get_raw_value(self, nullptr);
}

// Shortest round-trip digits; exponent form from 1e16 up and below 1e-4, with a
// bare exponent (1e16, 1.5e-5); otherwise always with a fractional part.
std::string format_number(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
  char buffer[64];
  const double magnitude = std::fabs(number);
  if (magnitude >= 1e16 || (magnitude != 0.0 && magnitude < 1e-4)) {
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, number,
                                   std::chars_format::scientific).ptr;
    std::string text(buffer, end);
    const std::size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    return text.substr(0, e) + "e" + std::to_string(exponent);
  }
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed).ptr;
  std::string text(buffer, end);
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  return data == nullptr ? std::string() : std::string(data, static_cast<std::size_t>(size));
}

PyObject* value_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const DecodedValueObject* value = value_of(self);
    std::string shown;
    if (value->text != nullptr || value->meaning != nullptr) {
      shown = quoted_text(utf8_of(value->text != nullptr ? value->text : value->meaning));
      if (PyErr_Occurred()) return nullptr;
    } else if ((value->flags & kHasRawValue) != 0) {
      shown = "Some(" + format_number(value->raw_value) + ")";
    } else {
      shown = "None";
    }
    return new_str("DecodedValue(" + format_code(value->descriptor) + ", " + shown + ")");
  });
}

void value_dealloc(PyObject* self) {
  DecodedValueObject* value = value_of(self);
  Py_XDECREF(value->name);
  Py_XDECREF(value->text);
  Py_XDECREF(value->meaning);
  free_instance(self);
}

PyGetSetDef value_getset[] = {
    {"descriptor", get_descriptor, nullptr, "", nullptr},
    {"name", get_name, nullptr, "", nullptr},
    {"raw", get_raw, nullptr, "", nullptr},
    {"raw_value", get_raw_value, nullptr, "", nullptr},
    {"raw_text", get_raw_text, nullptr, "", nullptr},
    {"raw_meaning", get_raw_meaning, nullptr, "", nullptr},
    {"data", get_data, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(value_repr)},
    {Py_tp_getset, value_getset},
    {0, nullptr},
};

PyType_Spec value_spec = {
    "_tarnwel.DecodedValue",
    sizeof(DecodedValueObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    value_slots,
};

// Values are created often enough that skipping tp_alloc's zero fill counts.
PyObject* new_value(PyTypeObject* type, double raw_value, uint64_t raw, uint32_t descriptor,
                    uint8_t flags, PyObject* name, PyObject* text, PyObject* meaning) {
  void* memory = PyObject_Malloc(sizeof(DecodedValueObject));
  if (memory == nullptr) return PyErr_NoMemory();
  PyObject* self = PyObject_Init(static_cast<PyObject*>(memory), type);
  DecodedValueObject* value = value_of(self);
  value->name = Py_NewRef(name);
  value->text = Py_XNewRef(text);
  value->meaning = Py_XNewRef(meaning);
  value->raw_value = raw_value;
  value->raw = raw;
  value->descriptor = descriptor;
  value->flags = flags;
  return self;
}

PyObject* new_value(PyTypeObject* type, const DecodedValue& record, PyObject* name,
                    PyObject* text, PyObject* meaning) {
  return new_value(type, record.raw_value, record.raw, record.descriptor, record.flags, name, text,
                   meaning);
}

}  // namespace

PyTypeObject* create_decoded_value_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &value_spec, nullptr));
}

namespace {

// The str of each name and meaning met, by the pointer's id in the result or by
// compressed item, so that a value costs an index rather than a hash lookup.
class NameObjects {
 public:
  NameObjects(StringCache& strings, std::size_t count) : strings_(strings), objects_(count) {}
  // Borrowed from the StringCache; null with an exception set on failure.
  PyObject* get(std::size_t slot, const std::string* name) {
    if (objects_[slot] == nullptr) objects_[slot] = strings_.get(name);
    return objects_[slot];
  }

 private:
  StringCache& strings_;
  std::vector<PyObject*> objects_;
};

// Uncompressed: every field straight from the columns, names and meanings by
// their ids, with no record gathered in between.
bool fill_from_columns(PyObject* list, PyTypeObject* type, const DecodedResult& decoded,
                       StringCache& strings) {
  const ValueColumns& columns = decoded.values();
  const StringIds& ids = decoded.strings();
  NameObjects names(strings, ids.size());
  TextObjects texts(decoded);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const uint32_t name_id = columns.names[i];
    const uint32_t meaning_id = columns.meanings[i];
    const uint8_t flags = columns.flags[i];
    PyObject* name = names.get(name_id, ids.pointer(name_id));
    if (name == nullptr) return false;
    PyObject* meaning = nullptr;
    if (meaning_id != kNoId && (meaning = names.get(meaning_id, ids.pointer(meaning_id))) == nullptr) {
      return false;
    }
    PyObject* text = nullptr;
    if ((flags & kHasText) != 0 && (text = texts.get(columns.texts[i])) == nullptr) return false;
    PyObject* value = new_value(type, columns.numbers[i], columns.raws[i], columns.descriptors[i],
                                flags, name, text, meaning);
    if (value == nullptr) return false;
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), value);
  }
  return true;
}

// Compressed: subset by subset, names by item.
bool fill_from_items(PyObject* list, PyTypeObject* type, const DecodedResult& decoded,
                     StringCache& strings) {
  TextObjects texts(decoded);
  const std::size_t items = decoded.items().size();
  NameObjects names(strings, items);
  Py_ssize_t i = 0;
  bool failed = false;
  decoded.for_each_flat([&](const DecodedValue& record) {
    if (failed) return;
    PyObject* name = names.get(static_cast<std::size_t>(i) % items, record.name);
    PyObject* meaning = record.meaning != nullptr ? strings.get(record.meaning) : nullptr;
    PyObject* text = record.has_text() ? texts.get(record.text_index) : nullptr;
    PyObject* value = nullptr;
    if (name != nullptr && (record.meaning == nullptr || meaning != nullptr) &&
        (!record.has_text() || text != nullptr)) {
      value = new_value(type, record, name, text, meaning);
    }
    if (value == nullptr) {
      failed = true;
      return;
    }
    PyList_SET_ITEM(list, i++, value);
  });
  return !failed;
}

}  // namespace

PyObject* new_decoded_value_list(PyTypeObject* type, const DecodedResult& decoded,
                                 StringCache& strings) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(decoded.size())));
  if (!list) return nullptr;
  const bool filled = decoded.compressed() ? fill_from_items(list.get(), type, decoded, strings)
                                           : fill_from_columns(list.get(), type, decoded, strings);
  return filled ? list.release() : nullptr;
}

}  // namespace tarnwel::py
