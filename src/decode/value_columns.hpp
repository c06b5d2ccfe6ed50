// The per-value fields of an uncompressed result as parallel arrays that grow together.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "decode/memory_pool.hpp"

namespace tarnwel {

// One field of every value: a plain array whose length ValueColumns keeps, so an
// append checks one capacity for all fields instead of one per field. Its memory
// comes from and goes back to the pool: a large message's columns are megabytes,
// and pages already mapped are written several times faster than fresh ones.
template <class T>
class Column {
 public:
  Column() = default;
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  Column(Column&& other) noexcept : memory_(std::exchange(other.memory_, PooledMemory{})) {}
  Column& operator=(Column&& other) noexcept {
    std::swap(memory_, other.memory_);
    return *this;
  }
  ~Column() { give_pooled_memory(memory_); }

  const T& operator[](std::size_t index) const { return data()[index]; }
  T& operator[](std::size_t index) { return data()[index]; }
  const T* data() const { return static_cast<const T*>(memory_.data); }
  T* data() { return static_cast<T*>(memory_.data); }

 private:
  friend struct ValueColumns;

  // Left uninitialised: every cell below the length is written before it is read.
  // False (the column unchanged) when no memory could be had.
  bool resize_storage(std::size_t used, std::size_t capacity) {
    const PooledMemory grown = take_pooled_memory(capacity * sizeof(T));
    if (grown.data == nullptr) return false;
    if (used != 0) std::memcpy(grown.data, memory_.data, used * sizeof(T));
    give_pooled_memory(std::exchange(memory_, grown));
    return true;
  }

  PooledMemory memory_;
};

// Per-value fields as parallel arrays. Names and meanings are ids of the
// result's StringIds (kNoId: no meaning); texts index its text spans.
struct ValueColumns {
  Column<double> numbers;
  Column<uint64_t> raws;
  Column<uint32_t> descriptors;
  Column<uint32_t> names;
  Column<uint32_t> meanings;
  Column<uint32_t> texts;
  Column<uint8_t> flags;

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
