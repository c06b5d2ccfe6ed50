// Python str objects for the texts of one decoded result, each made at most once.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "decode/decoded_result.hpp"
#include "lib/py_ref.hpp"

namespace tarnwel::py {

// Decoded texts are ASCII: bytes from 0x80 up were replaced when decoding.
inline PyObject* new_ascii(std::string_view text) {
  PyObject* object = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
  if (object != nullptr && !text.empty()) {
    std::memcpy(PyUnicode_1BYTE_DATA(object), text.data(), text.size());
  }
  return object;
}

// Texts shared by several values (a compressed column without increments) are
// made once; the others once each anyway.
class TextObjects {
 public:
  explicit TextObjects(const DecodedResult& decoded)
      : decoded_(decoded), objects_(decoded.text_count(), nullptr) {}
  TextObjects(const TextObjects&) = delete;
  TextObjects& operator=(const TextObjects&) = delete;
  ~TextObjects() {
    for (PyObject* object : objects_) Py_XDECREF(object);
  }
  // Borrowed; null with an exception set on failure.
  PyObject* get(uint32_t index) {
    if (objects_[index] == nullptr) objects_[index] = new_ascii(decoded_.text(index));
    return objects_[index];
  }

 private:
  const DecodedResult& decoded_;
  std::vector<PyObject*> objects_;
};

}  // namespace tarnwel::py
