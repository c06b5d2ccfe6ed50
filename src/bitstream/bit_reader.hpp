// Reads fields of 0 to 64 bits, and runs of bits as bytes, from section 4 data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "message/error.hpp"
#include "message/message.hpp"

namespace tarnwel {

class BitReader {
 public:
  explicit BitReader(ByteView data) : data_(data), capacity_(uint64_t{data.size()} * 8) {}

  uint64_t position() const { return position_; }
  uint64_t capacity() const { return capacity_; }
  uint64_t remaining() const { return capacity_ - position_; }

  // The next `width` bits, first bit most significant, right-aligned.
  // A failed read consumes nothing.
  Result<uint64_t> read_bits(uint32_t width) {
    if (width == 0) return uint64_t{0};
    if (width > 64) return width_error(width);
    if (width > remaining()) return underrun_error(width);
    return read_bits_unchecked(width);
  }

  // Caller guarantees 1 <= width <= 64 and width <= remaining().
  uint64_t read_bits_unchecked(uint32_t width) {
    const uint64_t value = peek64() >> (64 - width);
    position_ += width;
    return value;
  }

  // ceil(width / 8) bytes; a trailing partial byte is left-aligned. On failure the
  // whole bytes already taken stay consumed.
  Result<std::vector<uint8_t>> read_bytes(uint32_t width);
  // As read_bytes, appending the bytes to `out` (no allocation when it has room).
  Status read_bytes_into(uint32_t width, std::string& out);

  BufrError underrun_error(uint32_t width) const;
  static BufrError width_error(uint32_t width);

 private:
  // The 64 bits starting at the current position, zero-filled past the end.
  uint64_t peek64() const;
  uint8_t byte_at(uint64_t index) const { return index < data_.size() ? data_[index] : 0; }

  ByteView data_;
  uint64_t capacity_;
  uint64_t position_ = 0;
};

}  // namespace tarnwel
