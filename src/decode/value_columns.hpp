// The per-value fields of an uncompressed result as parallel arrays that grow together.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>

#include "decode/pooled_array.hpp"

namespace tarnwel {

// Per-value fields as parallel arrays that share one length, so an append checks
// one capacity for all fields. Names and meanings are ids of the result's
// StringIds (kNoId: no meaning); texts index its text spans.
struct ValueColumns {
  PooledArray<double> numbers;
  PooledArray<uint64_t> raws;
  PooledArray<uint32_t> descriptors;
  PooledArray<uint32_t> names;
  PooledArray<uint32_t> meanings;
  PooledArray<uint32_t> texts;
  PooledArray<uint8_t> flags;

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  // Never shrinks; the values kept stay.
  void reserve(std::size_t count) {
    if (count > capacity_) set_capacity(count);
  }

  void append(double number, uint64_t raw, uint32_t descriptor, uint32_t name, uint32_t meaning,
              uint32_t text, uint8_t flag) {
    if (size_ == capacity_) set_capacity(std::max<std::size_t>(64, capacity_ * 2));
    numbers[size_] = number;
    raws[size_] = raw;
    descriptors[size_] = descriptor;
    names[size_] = name;
    meanings[size_] = meaning;
    texts[size_] = text;
    flags[size_] = flag;
    ++size_;
  }

 private:
  // Out of memory is std::bad_alloc, as from any other allocation of the decode;
  // every column keeps at least the old capacity.
  void set_capacity(std::size_t capacity) {
    if (!numbers.resize_storage(size_, capacity) || !raws.resize_storage(size_, capacity) ||
        !descriptors.resize_storage(size_, capacity) || !names.resize_storage(size_, capacity) ||
        !meanings.resize_storage(size_, capacity) || !texts.resize_storage(size_, capacity) ||
        !flags.resize_storage(size_, capacity)) {
      throw std::bad_alloc();
    }
    capacity_ = capacity;
  }

  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarnwel
