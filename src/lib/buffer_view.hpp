// Any contiguous bytes-like object as a byte view, held for as long as the view is used.
#pragma once

#include "lib/py_ref.hpp"
#include "message/message.hpp"

namespace tarnwel::py {

// Holds a read-only buffer export (bytes, bytearray, memoryview, mmap, ...); the
// exporter cannot resize or free the memory while it is held, also while the
// interpreter lock is released.
class HeldBuffer {
 public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&buffer_);
  }

  // False with TypeError set when `object` offers no contiguous buffer.
  bool acquire(PyObject* object, const char* parameter);
  ByteView bytes() const {
    return ByteView(static_cast<const uint8_t*>(buffer_.buf), static_cast<size_t>(buffer_.len));
  }

 private:
  Py_buffer buffer_{};
  bool held_ = false;
};

}  // namespace tarnwel::py
