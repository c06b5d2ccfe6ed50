// The Python class Descriptor: one F-X-Y descriptor as three 8-bit values.
#include "lib/descriptor_type.hpp"

#include "lib/arg_parser.hpp"
#include "lib/errors.hpp"
#include "lib/module_state.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel::py {
namespace {

struct DescriptorObject {
  PyObject_HEAD
  uint8_t f;
  uint8_t x;
  uint8_t y;
};

DescriptorObject* as_descriptor(PyObject* self) { return reinterpret_cast<DescriptorObject*>(self); }

uint32_t code_of(const DescriptorObject* d) {
  return uint32_t{d->f} * 100000 + uint32_t{d->x} * 1000 + d->y;
}

PyObject* new_descriptor(PyTypeObject* type, uint8_t f, uint8_t x, uint8_t y) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  DescriptorObject* d = as_descriptor(self);
  d->f = f;
  d->x = x;
  d->y = y;
  return self;
}

constexpr const char* kConstructorParameters[] = {"f", "x", "y"};
constexpr Signature kConstructor{"Descriptor", kConstructorParameters};

PyObject* descriptor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[3];
    uint8_t f, x, y;
    if (!bind_tuple_arguments(kConstructor, args, kwargs, bound) ||
        !convert_u8(bound[0], "f", &f) || !convert_u8(bound[1], "x", &x) ||
        !convert_u8(bound[2], "y", &y)) {
      return nullptr;
    }
    return new_descriptor(type, f, x, y);
  });
}

constexpr const char* kFromFxyParameters[] = {"code"};
constexpr Signature kFromFxy{"Descriptor.from_fxy", kFromFxyParameters};

PyObject* descriptor_from_fxy(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    uint32_t code = 0;
    if (!bind_arguments(kFromFxy, args, nargs, kwnames, bound) ||
        !convert_u32(bound[0], "code", &code)) {
      return nullptr;
    }
    // Each part keeps only its low 8 bits, as the class stores 8-bit values.
    return new_descriptor(module_state(module)->descriptor_type,
                          static_cast<uint8_t>(descriptor_f(code)),
                          static_cast<uint8_t>(descriptor_x(code)),
                          static_cast<uint8_t>(descriptor_y(code)));
  });
}

PyObject* get_f(PyObject* self, void*) { return PyLong_FromLong(as_descriptor(self)->f); }
PyObject* get_x(PyObject* self, void*) { return PyLong_FromLong(as_descriptor(self)->x); }
PyObject* get_y(PyObject* self, void*) { return PyLong_FromLong(as_descriptor(self)->y); }
PyObject* get_code(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(code_of(as_descriptor(self)));
}

PyObject* descriptor_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const std::string text = "Descriptor(" + format_code(code_of(as_descriptor(self))) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyGetSetDef descriptor_getset[] = {
    {"f", get_f, nullptr, "", nullptr},
    {"x", get_x, nullptr, "", nullptr},
    {"y", get_y, nullptr, "", nullptr},
    {"code", get_code, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef descriptor_static_methods[] = {
    {"from_fxy", as_cfunction<descriptor_from_fxy>(), kFastcall, "from_fxy(code)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot descriptor_slots[] = {
    {Py_tp_doc, const_cast<char*>("Descriptor(f, x, y)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(descriptor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(free_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(descriptor_repr)},
    {Py_tp_getset, descriptor_getset},
    {0, nullptr},
};

PyType_Spec descriptor_spec = {
    "_tarnwel.Descriptor",
    sizeof(DescriptorObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    descriptor_slots,
};

}  // namespace

PyTypeObject* create_descriptor_type(PyObject* module) {
  PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &descriptor_spec, nullptr));
  if (!type) return nullptr;
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  if (!add_static_methods(type_object, module, descriptor_static_methods)) return nullptr;
  return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace tarnwel::py
