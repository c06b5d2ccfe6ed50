// Memory for the number cells of arrays, kept in a bounded pool for the next decode, and the buffer that owns it.
#include "lib/cell_blocks.hpp"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

// Below this, malloc's own free lists already hand back warm memory.
constexpr std::size_t kSmallest = std::size_t{64} << 10;
// What the pool may keep: a few large messages' arrays, so that a loop which
// drops one message's arrays while decoding the next never starts from fresh pages.
constexpr std::size_t kMostBytes = std::size_t{64} << 20;
constexpr std::size_t kMostBlocks = 32;

// One pool for the process: blocks are plain memory, not Python objects, so
// they may pass between interpreters and threads.
class Pool {
 public:
  Pool() { free_.reserve(kMostBlocks); }

  // The smallest kept block of at least `bytes` and at most a quarter more, so
  // that a small array never pins a much larger block.
  CellMemory take(std::size_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto best = free_.end();
    for (auto it = free_.begin(); it != free_.end(); ++it) {
      if (it->capacity >= bytes && it->capacity - bytes <= bytes / 4 &&
          (best == free_.end() || it->capacity < best->capacity)) {
        best = it;
      }
    }
    if (best == free_.end()) return {};
    const CellMemory memory = *best;
    held_ -= memory.capacity;
    free_.erase(best);
    return memory;
  }

  // Keeps `memory`, dropping the oldest blocks to make room; false when it is
  // too large to keep at all.
  bool keep(CellMemory memory) {
    if (memory.capacity > kMostBytes) return false;
    std::vector<CellMemory> dropped;
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
    for (const CellMemory& block : dropped) std::free(block.data);  // outside the mutex
    return true;
  }

  std::size_t drain() {
    std::vector<CellMemory> dropped;
    std::size_t held = 0;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      dropped.swap(free_);
      free_.reserve(kMostBlocks);
      held = std::exchange(held_, 0);
    }
    for (const CellMemory& block : dropped) std::free(block.data);
    return held;
  }

 private:
  std::mutex mutex_;
  std::vector<CellMemory> free_;  // oldest first
  std::size_t held_ = 0;
};

// Never destroyed: an array freed late in the interpreter's shutdown may still
// hand its memory back.
Pool& pool() {
  static Pool* instance = new Pool;
  return *instance;
}

struct CellBlockObject {
  PyObject_HEAD
  CellMemory memory;
  Py_ssize_t size;  // bytes of cells, at most memory.capacity
};

CellBlockObject* block_of(PyObject* self) { return reinterpret_cast<CellBlockObject*>(self); }

int cell_block_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  CellBlockObject* block = block_of(self);
  // A zero-size block still has a valid address: malloc was asked for one byte.
  return PyBuffer_FillInfo(view, self, block->memory.data, block->size, 0, flags);
}

void cell_block_dealloc(PyObject* self) {
  give_cell_memory(std::exchange(block_of(self)->memory, CellMemory{}));
  free_instance(self);
}

Py_ssize_t cell_block_length(PyObject* self) { return block_of(self)->size; }

PyType_Slot cell_block_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(cell_block_dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(cell_block_getbuffer)},
    {Py_sq_length, reinterpret_cast<void*>(cell_block_length)},
    {Py_tp_doc, const_cast<char*>("Cells of one array; the memory returns to a pool when freed.")},
    {0, nullptr},
};

PyType_Spec cell_block_spec = {
    "tarnwel._core.CellBlock",
    sizeof(CellBlockObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    cell_block_slots,
};

}  // namespace

CellMemory take_cell_memory(std::size_t bytes) {
  if (bytes >= kSmallest) {
    if (CellMemory kept = pool().take(bytes); kept.data != nullptr) return kept;
  }
  const std::size_t capacity = std::max<std::size_t>(bytes, 1);
  void* data = std::malloc(capacity);
  return data == nullptr ? CellMemory{} : CellMemory{data, capacity};
}

void give_cell_memory(CellMemory memory) {
  if (memory.data == nullptr) return;
  if (memory.capacity >= kSmallest && pool().keep(memory)) return;
  std::free(memory.data);
}

std::size_t drain_cell_pool() { return pool().drain(); }

PyTypeObject* create_cell_block_type(PyObject* module) {
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &cell_block_spec, nullptr));
}

PyObject* new_cell_block(PyTypeObject* type, PendingCells& cells) {
  PyObject* self = PyType_GenericAlloc(type, 0);
  if (self == nullptr) return nullptr;
  block_of(self)->size = static_cast<Py_ssize_t>(cells.bytes());
  block_of(self)->memory = cells.release();
  return self;
}

}  // namespace tarnwel::py
