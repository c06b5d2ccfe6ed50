// Argument binding and conversion shared by every function and method.
#include "lib/arg_parser.hpp"

#include <limits>

namespace tarnwel::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

PyObject* format_error(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  return nullptr;
}

std::string quoted_names(const std::vector<const char*>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += "'";
    text += names[i];
    text += "'";
  }
  return text;
}

// Index of the parameter named by `keyword` (a str), or -1.
Py_ssize_t parameter_index(const Signature& signature, PyObject* keyword) {
  const auto& names = signature.parameters;
  for (size_t i = 0; i < names.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(keyword, names[i]) == 0) return static_cast<Py_ssize_t>(i);
  }
  return -1;
}

bool report_surplus(const Signature& signature, Py_ssize_t given) {
  const size_t count = signature.parameters.size();
  format_error(PyExc_TypeError, std::string(signature.name) + "() takes " +
                                    std::to_string(count) + " positional arguments but " +
                                    std::to_string(given) + (given == 1 ? " was" : " were") +
                                    " given");
  return false;
}

bool report_missing(const Signature& signature, const std::vector<const char*>& missing) {
  format_error(PyExc_TypeError,
               std::string(signature.name) + "() missing " + std::to_string(missing.size()) +
                   " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                   ": " + quoted_names(missing));
  return false;
}

bool bind_keywords(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** bound) {
  const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t index = parameter_index(signature, keyword);
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                   signature.name, keyword);
      return false;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                   signature.name, signature.parameters[index]);
      return false;
    }
    bound[index] = args[nargs + k];
  }
  return true;
}

// Re-raises the pending exception with the parameter prefix, keeping its type.
bool prefix_pending_error(const char* parameter) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef owned_value = PyRef::steal(value);
  PyRef owned_traceback = PyRef::steal(traceback);
  PyRef text = PyRef::steal(value ? PyObject_Str(value) : PyUnicode_FromString(""));
  if (!text) return false;
  PyErr_Format(type, "argument '%s': %U", parameter, text.get());
  return false;
}

bool type_mismatch(PyObject* object, const char* parameter, const char* expected) {
  PyRef actual = PyRef::steal(PyType_GetName(Py_TYPE(object)));
  if (!actual) return false;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be cast as '%s'", parameter,
               actual.get(), expected);
  return false;
}

// Converts an integer-like object to unsigned 64 bits, failing for out-of-range
// values with the caller's range text.
bool convert_bounded(PyObject* object, const char* parameter, uint64_t maximum, uint64_t* out) {
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return prefix_pending_error(parameter);
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) return prefix_pending_error(parameter);
  if (overflow != 0 || value < 0 || static_cast<unsigned long long>(value) > maximum) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': %s", parameter, kOutOfRange);
    return false;
  }
  *out = static_cast<uint64_t>(value);
  return true;
}

bool convert_code_item(PyObject* item, const char* parameter, std::vector<uint32_t>* out) {
  uint32_t code = 0;
  if (!convert_u32(item, parameter, &code)) return false;
  out->push_back(code);
  return true;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** bound) {
  const size_t count = signature.parameters.size();
  for (size_t i = 0; i < count; ++i) bound[i] = nullptr;
  nargs = PyVectorcall_NARGS(nargs);
  if (static_cast<size_t>(nargs) > count) return report_surplus(signature, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
  if (kwnames != nullptr && !bind_keywords(signature, args, nargs, kwnames, bound)) return false;
  std::vector<const char*> missing;
  for (size_t i = 0; i < count; ++i) {
    if (bound[i] == nullptr) missing.push_back(signature.parameters[i]);
  }
  return missing.empty() || report_missing(signature, missing);
}

bool bind_tuple_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                          PyObject** bound) {
  const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
  std::vector<PyObject*> flat;
  flat.reserve(static_cast<size_t>(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GET_ITEM(args, i));
  PyRef kwnames;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    kwnames = PyRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!kwnames) return false;
    Py_ssize_t position = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames.get(), k++, key);
      flat.push_back(value);
    }
  }
  return bind_arguments(signature, flat.data(), nargs, kwnames.get(), bound);
}

bool convert_bytes(PyObject* object, const char* parameter, ByteView* out) {
  if (!PyBytes_Check(object)) return type_mismatch(object, parameter, "bytes");
  *out = ByteView(reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(object)),
                  static_cast<size_t>(PyBytes_GET_SIZE(object)));
  return true;
}

bool convert_path(PyObject* object, const char* parameter, std::string* out) {
  if (!PyUnicode_Check(object)) return type_mismatch(object, parameter, "str");
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return false;  // the interpreter's own encoding error
  out->assign(text, static_cast<size_t>(size));
  return true;
}

bool convert_u8(PyObject* object, const char* parameter, uint8_t* out) {
  uint64_t value = 0;
  if (!convert_bounded(object, parameter, std::numeric_limits<uint8_t>::max(), &value)) {
    return false;
  }
  *out = static_cast<uint8_t>(value);
  return true;
}

bool convert_u32(PyObject* object, const char* parameter, uint32_t* out) {
  uint64_t value = 0;
  if (!convert_bounded(object, parameter, std::numeric_limits<uint32_t>::max(), &value)) {
    return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

bool convert_u64(PyObject* object, const char* parameter, uint64_t* out) {
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return prefix_pending_error(parameter);
  // The interpreter's own overflow texts for negative and oversized values.
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return prefix_pending_error(parameter);
  }
  *out = value;
  return true;
}

bool convert_code_list(PyObject* object, const char* parameter, std::vector<uint32_t>* out) {
  if (PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", parameter);
    return false;
  }
  if (!PySequence_Check(object)) return type_mismatch(object, parameter, "Sequence");
  // The length is only a hint: a sequence may claim any length it likes.
  constexpr Py_ssize_t kMostReserved = 1 << 16;
  const Py_ssize_t hint = PySequence_Size(object);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    out->reserve(static_cast<size_t>(hint < kMostReserved ? hint : kMostReserved));
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) return prefix_pending_error(parameter);
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    if (!convert_code_item(item.get(), parameter, out)) return false;
  }
  return !PyErr_Occurred() || prefix_pending_error(parameter);
}

bool check_instance(PyObject* object, PyTypeObject* type, const char* parameter) {
  if (PyObject_TypeCheck(object, type)) return true;
  PyRef expected = PyRef::steal(PyType_GetName(type));
  if (!expected) return false;
  const char* expected_name = PyUnicode_AsUTF8(expected.get());
  if (expected_name == nullptr) return false;
  return type_mismatch(object, parameter, expected_name);
}

}  // namespace tarnwel::py
