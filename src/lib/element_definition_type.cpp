// The Python class ElementDefinition and its read-only attributes.
#include "lib/element_definition_type.hpp"

#include <new>
#include <string>

#include "lib/errors.hpp"
#include "lib/type_support.hpp"
#include "message/descriptor_code.hpp"
#include "tables/fields.hpp"

namespace tarnwel::py {
namespace {

struct ElementObject {
  PyObject_HEAD
  ElementDefinition element;
};

const ElementDefinition& element_of(PyObject* self) {
  return reinterpret_cast<ElementObject*>(self)->element;
}

template <auto Field>
PyObject* get_text(PyObject* self, void*) {
  return guarded([&] { return new_str(element_of(self).*Field); });
}

PyObject* get_code(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(element_of(self).code);
}
PyObject* get_scale(PyObject* self, void*) { return PyLong_FromLong(element_of(self).scale); }
PyObject* get_reference(PyObject* self, void*) {
  return PyLong_FromLongLong(element_of(self).reference);
}
PyObject* get_width(PyObject* self, void*) { return PyLong_FromLong(element_of(self).width); }

PyObject* element_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const ElementDefinition& element = element_of(self);
    const std::string text = "ElementDefinition(" + format_code(element.code) +
                             ", name=" + quoted_text(element.name) + ")";
    return new_str(text);
  });
}

void element_dealloc(PyObject* self) {
  reinterpret_cast<ElementObject*>(self)->element.~ElementDefinition();
  free_instance(self);
}

PyGetSetDef element_getset[] = {
    {"code", get_code, nullptr, "", nullptr},
    {"name", get_text<&ElementDefinition::name>, nullptr, "", nullptr},
    {"unit", get_text<&ElementDefinition::unit>, nullptr, "", nullptr},
    {"abbreviation", get_text<&ElementDefinition::abbreviation>, nullptr, "", nullptr},
    {"element_type", get_text<&ElementDefinition::element_type>, nullptr, "", nullptr},
    {"scale", get_scale, nullptr, "", nullptr},
    {"reference", get_reference, nullptr, "", nullptr},
    {"width", get_width, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot element_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(element_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(element_repr)},
    {Py_tp_getset, element_getset},
    {0, nullptr},
};

PyType_Spec element_spec = {
    "_tarnwel.ElementDefinition",
    sizeof(ElementObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    element_slots,
};

}  // namespace

PyTypeObject* create_element_definition_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &element_spec, nullptr));
}

PyObject* new_element_definition_object(PyTypeObject* type, const ElementDefinition& element) {
  // Copy first: if it throws, no half-built object is left behind.
  ElementDefinition copy = element;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<ElementObject*>(self)->element) ElementDefinition(std::move(copy));
  return self;
}

}  // namespace tarnwel::py
