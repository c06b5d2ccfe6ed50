// Memory for the number cells of arrays, kept in a bounded pool for the next decode, and the buffer that owns it.
#pragma once

#include <cstddef>
#include <utility>

#include "decode/memory_pool.hpp"
#include "lib/py_ref.hpp"

namespace tarnwel::py {

// Cells live in the core's pool of large blocks, shared with decoded values.
using CellMemory = PooledMemory;
inline CellMemory take_cell_memory(std::size_t bytes) { return take_pooled_memory(bytes); }
inline void give_cell_memory(CellMemory memory) { give_pooled_memory(memory); }
inline std::size_t drain_cell_pool() { return drain_memory_pool(); }

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
