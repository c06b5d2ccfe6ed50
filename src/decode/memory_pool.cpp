// Large blocks of plain memory kept in one bounded pool for the next decode.
#include "decode/memory_pool.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

namespace tarnwel {
namespace {

// Below this, malloc's own free lists already hand back warm memory.
constexpr std::size_t kSmallest = std::size_t{64} << 10;
// What the pool may keep: a few large messages' decoded values and arrays, so that
// a loop which drops one message while decoding the next never starts from fresh pages.
// A large uncompressed decode alone has some 17 blocks in flight (its value columns,
// plan and array cells, and the previous arrays): two threads need more than 32.
constexpr std::size_t kMostBytes = std::size_t{64} << 20;
constexpr std::size_t kMostBlocks = 64;

// One pool for the process: blocks are plain memory, so they may pass between threads.
class Pool {
 public:
  Pool() { free_.reserve(kMostBlocks); }

  // The smallest kept block of at least `bytes` and at most a quarter more, so
  // that a small array never pins a much larger block; of equal ones the one kept
  // last, whose memory is likeliest still in the caches.
  PooledMemory take(std::size_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto best = free_.rend();
    for (auto it = free_.rbegin(); it != free_.rend(); ++it) {
      if (it->capacity >= bytes && it->capacity - bytes <= bytes / 4 &&
          (best == free_.rend() || it->capacity < best->capacity)) {
        best = it;
      }
    }
    if (best == free_.rend()) return {};
    const PooledMemory memory = *best;
    held_ -= memory.capacity;
    free_.erase(std::next(best).base());
    return memory;
  }

  // Keeps `memory`, dropping the oldest blocks to make room; false when it is
  // too large to keep at all.
  bool keep(PooledMemory memory) {
    if (memory.capacity > kMostBytes) return false;
    std::vector<PooledMemory> dropped;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      std::size_t oldest = 0;
      while (free_.size() - oldest >= kMostBlocks || held_ + memory.capacity > kMostBytes) {
        held_ -= free_[oldest].capacity;
        dropped.push_back(free_[oldest++]);
      }
      free_.erase(free_.begin(), free_.begin() + static_cast<std::ptrdiff_t>(oldest));
      free_.push_back(memory);
      held_ += memory.capacity;
    }
    for (const PooledMemory& block : dropped) std::free(block.data);  // outside the mutex
    return true;
  }

  std::size_t drain() {
    std::vector<PooledMemory> dropped;
    std::size_t held = 0;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      dropped.swap(free_);
      free_.reserve(kMostBlocks);
      held = std::exchange(held_, 0);
    }
    for (const PooledMemory& block : dropped) std::free(block.data);
    return held;
  }

 private:
  std::mutex mutex_;
  std::vector<PooledMemory> free_;  // oldest first
  std::size_t held_ = 0;
};

// Never destroyed: an array freed late in the interpreter's shutdown may still
// hand its memory back.
Pool& pool() {
  static Pool* instance = new Pool;
  return *instance;
}

}  // namespace

PooledMemory take_pooled_memory(std::size_t bytes) {
  if (bytes >= kSmallest) {
    if (PooledMemory kept = pool().take(bytes); kept.data != nullptr) return kept;
  }
  const std::size_t capacity = std::max<std::size_t>(bytes, 1);
  void* data = std::malloc(capacity);
  return data == nullptr ? PooledMemory{} : PooledMemory{data, capacity};
}

void give_pooled_memory(PooledMemory memory) {
  if (memory.data == nullptr) return;
  if (memory.capacity >= kSmallest && pool().keep(memory)) return;
  std::free(memory.data);
}

std::size_t drain_memory_pool() { return pool().drain(); }

}  // namespace tarnwel
