// The Python class SequenceDefinition and its read-only attributes.
#include "lib/sequence_definition_type.hpp"

#include <new>
#include <string>

#include "lib/errors.hpp"
#include "lib/type_support.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel::py {
namespace {

struct SequenceObject {
  PyObject_HEAD
  SequenceDefinition sequence;
};

const SequenceDefinition& sequence_of(PyObject* self) {
  return reinterpret_cast<SequenceObject*>(self)->sequence;
}

PyObject* get_code(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(sequence_of(self).code);
}

// A new list on every access, so changing it leaves the definition alone.
PyObject* get_members(PyObject* self, void*) {
  return guarded([&] { return new_code_list(sequence_of(self).members); });
}

PyObject* sequence_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const SequenceDefinition& sequence = sequence_of(self);
    const std::string text = "SequenceDefinition(" + format_code(sequence.code) +
                             ", members=" + format_code_list(sequence.members) + ")";
    return new_str(text);
  });
}

void sequence_dealloc(PyObject* self) {
  reinterpret_cast<SequenceObject*>(self)->sequence.~SequenceDefinition();
  free_instance(self);
}

PyGetSetDef sequence_getset[] = {
    {"code", get_code, nullptr, "", nullptr},
    {"members", get_members, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot sequence_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(sequence_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(sequence_repr)},
    {Py_tp_getset, sequence_getset},
    {0, nullptr},
};

PyType_Spec sequence_spec = {
    "_tarnwel.SequenceDefinition",
    sizeof(SequenceObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    sequence_slots,
};

}  // namespace

PyTypeObject* create_sequence_definition_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(
      PyType_FromModuleAndSpec(module, &sequence_spec, nullptr));
}

PyObject* new_sequence_definition_object(PyTypeObject* type, const SequenceDefinition& sequence) {
  // Copy first: if it throws, no half-built object is left behind.
  SequenceDefinition copy = sequence;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<SequenceObject*>(self)->sequence) SequenceDefinition(std::move(copy));
  return self;
}

}  // namespace tarnwel::py
