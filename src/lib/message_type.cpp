// The Python class BufrMessage and its read-only attributes.
#include "lib/message_type.hpp"

#include <new>
#include <string>

#include "lib/errors.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

struct MessageObject {
  PyObject_HEAD
  BufrMessage record;
};

const BufrMessage& record_of(PyObject* self) {
  return reinterpret_cast<MessageObject*>(self)->record;
}

template <auto Field>
PyObject* get_unsigned(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(record_of(self).*Field);
}

template <auto Field>
PyObject* get_bool(PyObject* self, void*) {
  return PyBool_FromLong(record_of(self).*Field);
}

PyObject* get_descriptors(PyObject* self, void*) {
  return guarded([&] { return new_code_list(record_of(self).unexpanded_descriptors); });
}

PyObject* message_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const BufrMessage& m = record_of(self);
    const std::string text = "BufrMessage(edition=" + std::to_string(m.edition) +
                             ", length=" + std::to_string(m.total_length) +
                             ", subsets=" + std::to_string(m.number_of_subsets) +
                             ", descriptors=" + format_code_list(m.unexpanded_descriptors) + ")";
    return new_str(text);
  });
}

void message_dealloc(PyObject* self) {
  reinterpret_cast<MessageObject*>(self)->record.~BufrMessage();
  free_instance(self);
}

#define TARNWEL_UNSIGNED(name) {#name, get_unsigned<&BufrMessage::name>, nullptr, "", nullptr}
#define TARNWEL_BOOL(name) {#name, get_bool<&BufrMessage::name>, nullptr, "", nullptr}

PyGetSetDef message_getset[] = {
    TARNWEL_UNSIGNED(edition),
    TARNWEL_UNSIGNED(total_length),
    TARNWEL_UNSIGNED(section1_length),
    TARNWEL_UNSIGNED(section2_length),
    TARNWEL_UNSIGNED(section3_length),
    TARNWEL_UNSIGNED(section4_length),
    TARNWEL_UNSIGNED(section4_data_offset),
    TARNWEL_UNSIGNED(section4_data_length),
    TARNWEL_UNSIGNED(master_table_number),
    TARNWEL_UNSIGNED(originating_centre),
    TARNWEL_UNSIGNED(originating_subcentre),
    TARNWEL_UNSIGNED(update_sequence_number),
    TARNWEL_BOOL(local_section_present),
    TARNWEL_UNSIGNED(data_category),
    TARNWEL_UNSIGNED(international_data_subcategory),
    TARNWEL_UNSIGNED(local_data_subcategory),
    TARNWEL_UNSIGNED(master_tables_version_number),
    TARNWEL_UNSIGNED(local_tables_version_number),
    TARNWEL_UNSIGNED(typical_year),
    TARNWEL_UNSIGNED(typical_month),
    TARNWEL_UNSIGNED(typical_day),
    TARNWEL_UNSIGNED(typical_hour),
    TARNWEL_UNSIGNED(typical_minute),
    TARNWEL_UNSIGNED(typical_second),
    TARNWEL_UNSIGNED(number_of_subsets),
    TARNWEL_BOOL(observed_data),
    TARNWEL_BOOL(compressed_data),
    {"unexpanded_descriptors", get_descriptors, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef TARNWEL_UNSIGNED
#undef TARNWEL_BOOL

PyType_Slot message_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(message_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(message_repr)},
    {Py_tp_getset, message_getset},
    {0, nullptr},
};

PyType_Spec message_spec = {
    "_tarnwel.BufrMessage",
    sizeof(MessageObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    message_slots,
};

}  // namespace

PyTypeObject* create_message_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &message_spec, nullptr));
}

PyObject* new_message_object(PyTypeObject* type, BufrMessage&& record) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<MessageObject*>(self)->record) BufrMessage(std::move(record));
  return self;
}

const BufrMessage& message_record(PyObject* object) { return record_of(object); }

}  // namespace tarnwel::py
