// Python str objects for the table-owned strings that decoded values name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/py_ref.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {

// One str per distinct borrowed core string (names and meanings, which live in a
// TableSet): open addressing on the pointer, owning its references.
class StringCache {
 public:
  StringCache() : slots_(64) {}
  StringCache(const StringCache&) = delete;
  StringCache& operator=(const StringCache&) = delete;
  ~StringCache() {
    for (Slot& slot : slots_) Py_XDECREF(slot.object);
  }

  // Borrowed; null with an exception set on failure.
  PyObject* get(const std::string* key) {
    std::size_t i = index(key);
    while (slots_[i].key != nullptr && slots_[i].key != key) i = (i + 1) & (slots_.size() - 1);
    if (slots_[i].key == key) return slots_[i].object;
    PyObject* object = new_str(*key);
    if (object == nullptr) return nullptr;
    slots_[i] = {key, object};
    if (++filled_ * 2 > slots_.size()) grow();
    return object;
  }

 private:
  struct Slot {
    const std::string* key = nullptr;
    PyObject* object = nullptr;
  };
  std::size_t index(const std::string* key) const {
    const auto bits = reinterpret_cast<std::uintptr_t>(key);
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 40) & (slots_.size() - 1);
  }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.key == nullptr) continue;
      std::size_t i = index(slot.key);
      while (slots_[i].key != nullptr) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t filled_ = 0;
};

}  // namespace tarnwel::py
