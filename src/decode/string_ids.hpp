// Small ids for the borrowed strings (names, meanings) that decoded values refer to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwel {

inline constexpr uint32_t kNoId = 0xFFFFFFFFu;

// The same string object always gets the same id; ids count up from 0 in the
// order strings are first met. Open addressing on the pointer.
class StringIds {
 public:
  // Room for the names and meanings of a typical message, so that most decodes never rehash.
  StringIds() : slots_(512) { strings_.reserve(256); }

  uint32_t intern(const std::string* text) {
    std::size_t i = slot_of(text);
    while (slots_[i].text != nullptr) {
      if (slots_[i].text == text) return slots_[i].id;
      i = (i + 1) & (slots_.size() - 1);
    }
    const auto id = static_cast<uint32_t>(strings_.size());
    strings_.push_back(text);
    slots_[i] = {text, id};
    if (strings_.size() * 2 > slots_.size()) grow();
    return id;
  }
  const std::string& get(uint32_t id) const { return *strings_[id]; }
  const std::string* pointer(uint32_t id) const { return id == kNoId ? nullptr : strings_[id]; }
  std::size_t size() const { return strings_.size(); }

 private:
  struct Slot {
    const std::string* text = nullptr;
    uint32_t id = 0;
  };
  std::size_t slot_of(const std::string* text) const {
    const auto bits = reinterpret_cast<std::uintptr_t>(text);
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 40) & (slots_.size() - 1);
  }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.text == nullptr) continue;
      std::size_t i = slot_of(slot.text);
      while (slots_[i].text != nullptr) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::vector<const std::string*> strings_;
};

}  // namespace tarnwel
