// Memory for the number cells of arrays, kept in a bounded pool for the next decode, and the buffer that owns it.
#pragma once

#include <cstddef>
#include <utility>

#include "lib/py_ref.hpp"

namespace tarnwel::py {

// Raw memory for cells; `data` is null when none could be had.
struct CellMemory {
  void* data = nullptr;
  std::size_t capacity = 0;
};

// At least `bytes` of memory, from the pool when it holds a block that fits:
// cells written there touch pages already mapped, which costs a fraction of
// first touching fresh ones. Thread-safe; needs no interpreter lock.
CellMemory take_cell_memory(std::size_t bytes);
// Hands memory back: kept for reuse while the pool has room, else freed.
void give_cell_memory(CellMemory memory);
// Frees every block the pool keeps; returns how many bytes it held.
std::size_t drain_cell_pool();

// Owns taken memory until a CellBlock takes it over, so that an early return
// gives it back.
class PendingCells {
 public:
  PendingCells() = default;
  explicit PendingCells(std::size_t bytes) : memory_(take_cell_memory(bytes)), bytes_(bytes) {}
  PendingCells(const PendingCells&) = delete;
  PendingCells& operator=(const PendingCells&) = delete;
  PendingCells(PendingCells&& other) noexcept
      : memory_(std::exchange(other.memory_, CellMemory{})), bytes_(other.bytes_) {}
  PendingCells& operator=(PendingCells&& other) noexcept {
    std::swap(memory_, other.memory_);
    std::swap(bytes_, other.bytes_);
    return *this;
  }
  ~PendingCells() { give_cell_memory(memory_); }

  double* cells() const { return static_cast<double*>(memory_.data); }
  std::size_t bytes() const { return bytes_; }
  CellMemory release() { return std::exchange(memory_, CellMemory{}); }

 private:
  CellMemory memory_;
  std::size_t bytes_ = 0;
};

// The class tarnwel._core.CellBlock: a writable bytes-like object over cells
// whose memory goes back to the pool when the last array using it is gone.
PyTypeObject* create_cell_block_type(PyObject* module);
// A new CellBlock of the pending cells' bytes; it owns their memory from now on.
PyObject* new_cell_block(PyTypeObject* type, PendingCells& cells);

}  // namespace tarnwel::py
