// A plain array of trivial cells whose memory comes from and goes back to the memory pool.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "decode/memory_pool.hpp"

namespace tarnwel {

// The owner keeps the length. A large message's per-value arrays are megabytes,
// and pages already mapped are written several times faster than fresh ones.
template <class T>
class PooledArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PooledArray() = default;
  PooledArray(const PooledArray&) = delete;
  PooledArray& operator=(const PooledArray&) = delete;
  PooledArray(PooledArray&& other) noexcept
      : memory_(std::exchange(other.memory_, PooledMemory{})) {}
  PooledArray& operator=(PooledArray&& other) noexcept {
    std::swap(memory_, other.memory_);
    return *this;
  }
  ~PooledArray() { give_pooled_memory(memory_); }

  const T& operator[](std::size_t index) const { return data()[index]; }
  T& operator[](std::size_t index) { return data()[index]; }
  const T* data() const { return static_cast<const T*>(memory_.data); }
  T* data() { return static_cast<T*>(memory_.data); }

  // Room for `capacity` cells, keeping the first `used`; the rest is left
  // uninitialised, for the owner writes every cell below its length before
  // reading it. False (the array unchanged) when no memory could be had.
  bool resize_storage(std::size_t used, std::size_t capacity) {
    const PooledMemory grown = take_pooled_memory(capacity * sizeof(T));
    if (grown.data == nullptr) return false;
    if (used != 0) std::memcpy(grown.data, memory_.data, used * sizeof(T));
    give_pooled_memory(std::exchange(memory_, grown));
    return true;
  }

 private:
  PooledMemory memory_;
};

}  // namespace tarnwel
