// Large blocks of plain memory kept in one bounded pool for the next decode.
#pragma once

#include <cstddef>

namespace tarnwel {

// Raw memory; `data` is null when none could be had.
struct PooledMemory {
  void* data = nullptr;
  std::size_t capacity = 0;
};

// At least `bytes` of memory, from the pool when it holds a block that fits:
// writing there touches pages already mapped, which costs a fraction of first
// touching fresh ones (a large decode spends most of its time on those).
// Thread-safe. Blocks are plain memory, so they may pass between threads.
PooledMemory take_pooled_memory(std::size_t bytes);
// Hands memory back: kept for reuse while the pool has room, else freed.
void give_pooled_memory(PooledMemory memory);
// Frees every block the pool keeps; returns how many bytes it held.
std::size_t drain_memory_pool();

}  // namespace tarnwel
