// The per-value fields of an uncompressed result as parallel arrays that grow together.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tarnwel {

// One field of every value: a plain array whose length ValueColumns keeps, so an
// append checks one capacity for all fields instead of one per field.
template <class T>
class Column {
 public:
  const T& operator[](std::size_t index) const { return data_[index]; }
  T& operator[](std::size_t index) { return data_[index]; }
  const T* data() const { return data_.get(); }

 private:
  friend struct ValueColumns;

  void resize_storage(std::size_t used, std::size_t capacity) {
    // Left uninitialised: every cell below the length is written before it is read.
    auto grown = std::make_unique_for_overwrite<T[]>(capacity);
    if (used != 0) std::memcpy(grown.get(), data_.get(), used * sizeof(T));
    data_ = std::move(grown);
  }

  std::unique_ptr<T[]> data_;
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
  void set_capacity(std::size_t capacity) {
    numbers.resize_storage(size_, capacity);
    raws.resize_storage(size_, capacity);
    descriptors.resize_storage(size_, capacity);
    names.resize_storage(size_, capacity);
    meanings.resize_storage(size_, capacity);
    texts.resize_storage(size_, capacity);
    flags.resize_storage(size_, capacity);
    capacity_ = capacity;
  }

  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarnwel
