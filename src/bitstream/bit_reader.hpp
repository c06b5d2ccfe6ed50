// Reads fields of 0 to 64 bits, and runs of bits as bytes, from section 4 data.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
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
  ByteView data() const { return data_; }
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
    const uint64_t value = peek64(position_) >> (64 - width);
    position_ += width;
    return value;
  }

  // The `width` bits at an earlier `position`, without moving; for data read
  // before (compressed increments). Caller guarantees 1 <= width <= 64 and
  // position + width <= capacity().
  uint64_t bits_at(uint64_t position, uint32_t width) const {
    return peek64(position) >> (64 - width);
  }

  // Moves past bits that bits_at() will read later; caller checked remaining().
  void skip_unchecked(uint64_t width) { position_ += width; }

  // ceil(width / 8) bytes; a trailing partial byte is left-aligned. On failure the
  // whole bytes already taken stay consumed.
  Result<std::vector<uint8_t>> read_bytes(uint32_t width);
  // As read_bytes, appending the bytes to `out` (no allocation when it has room).
  Status read_bytes_into(uint32_t width, std::string& out);

  BufrError underrun_error(uint32_t width) const;
  static BufrError width_error(uint32_t width);

 private:
  // The 64 bits starting at `position`, zero-filled past the end.
  uint64_t peek64(uint64_t position) const {
    const uint64_t index = position >> 3;
    const unsigned offset = position & 7;
    const uint64_t word = index + 8 <= data_.size() ? load_be64(data_.data() + index)
                                                    : load_tail(index);
    // A shift by 8 - offset with offset 0 would fetch a ninth byte for nothing.
    if (offset == 0) return word;
    return (word << offset) | (byte_at(index + 8) >> (8 - offset));
  }
  static uint64_t load_be64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
  }
  uint64_t load_tail(uint64_t index) const;
  uint8_t byte_at(uint64_t index) const { return index < data_.size() ? data_[index] : 0; }

  ByteView data_;
  uint64_t capacity_;
  uint64_t position_ = 0;
};

}  // namespace tarnwel
