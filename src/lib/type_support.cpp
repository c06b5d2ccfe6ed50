// Static methods bound to the module, and text conversion.
#include "lib/type_support.hpp"

namespace tarnwel::py {

bool add_static_methods(PyTypeObject* type, PyObject* module, PyMethodDef* methods) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef* def = methods; def->ml_name != nullptr; ++def) {
    PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
    if (!function) return false;
    PyRef method = PyRef::steal(PyStaticMethod_New(function.get()));
    if (!method || PyDict_SetItemString(type->tp_dict, def->ml_name, method.get()) < 0) {
      return false;
    }
  }
  PyType_Modified(type);
  return true;
}

PyObject* new_str(const std::string& text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace tarnwel::py
