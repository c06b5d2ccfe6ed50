// Memory for the number cells of arrays, kept in a bounded pool for the next decode, and the buffer that owns it.
#include "lib/cell_blocks.hpp"

#include <utility>

#include "lib/type_support.hpp"

namespace tarnwel::py {
namespace {

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
