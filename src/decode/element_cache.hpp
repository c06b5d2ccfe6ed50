// Per-decode cache from descriptor code to its Table B or Table D entry, with what decoding needs precomputed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tables/table_set.hpp"

namespace tarnwel {

// The last meaning looked up: coded values repeat, the hash lookup need not.
struct MeaningMemo {
  bool valid = false;
  uint64_t raw = 0;
  const std::string* meaning = nullptr;
  // The meaning's id in the result being written; see DecodedResult::meaning_id.
  uint32_t meaning_id = 0xFFFFFFFFu;

  const std::string* lookup(const CodeTable& table, uint64_t key) {
    if (valid && raw == key) return meaning;
    auto it = table.find(key);
    meaning = it == table.end() ? nullptr : &it->second;
    raw = key;
    valid = true;
    return meaning;
  }
};

// A Table B entry as the decoders use it. Cached entries borrow from the TableSet;
// a 2 25 255 difference value works on a copy with its own width and reference.
struct ElementInfo {
  const std::string* name = nullptr;
  const std::string* abbreviation = nullptr;  // the element's key; null for unknown local ones
  const CodeTable* code_table = nullptr;
  int64_t reference = 0;
  // 10^scale, so a number needs no table lookup while no operator changes the scale.
  double divisor = 1.0;
  int32_t scale = 0;
  uint32_t code = 0;
  uint16_t width = 0;
  bool is_text = false;
  bool class31 = false;  // never missing
  // Set on a 2 25 255 copy: its reference is fixed and 2 03 changes do not apply.
  bool fixed_reference = false;
  mutable MeaningMemo memo;
  // The name's id in the result being written; see DecodedResult::name_id.
  mutable uint32_t name_id = 0xFFFFFFFFu;

  const std::string* meaning(uint64_t raw) const {
    return code_table == nullptr ? nullptr : memo.lookup(*code_table, raw);
  }
};

ElementInfo make_element_info(const ElementDefinition& definition, const TableSet& tables);

// Open addressing over codes; entries live in deques so pointers stay valid.
class DescriptorCache {
 public:
  explicit DescriptorCache(const TableSet& tables) : tables_(tables), slots_(kInitialSlots) {}

  // nullptr when the code is not in Table B.
  const ElementInfo* element(uint32_t code) {
    Slot& slot = find_slot(code, kElement);
    return slot.state == kEmpty ? fill_element(slot, code) : slot.element;
  }
  // A stand-in for an element that no table has, read as an unscaled number of
  // the width 2 06 YYY announced; the codes met are kept in order.
  const ElementInfo* unknown_local(uint32_t code);
  const std::vector<uint32_t>& unknown_local_codes() const { return unknown_codes_; }
  // nullptr when the code is not in Table D.
  const SequenceDefinition* sequence(uint32_t code) {
    Slot& slot = find_slot(code, kSequence);
    return slot.state == kEmpty ? fill_sequence(slot, code) : slot.sequence;
  }

 private:
  static constexpr std::size_t kInitialSlots = 512;
  enum Kind : uint8_t { kElement, kSequence, kUnknownLocal };
  enum SlotState : uint8_t { kEmpty, kFilled };
  struct Slot {
    uint32_t code = 0;
    Kind kind = kElement;
    SlotState state = kEmpty;
    const ElementInfo* element = nullptr;
    const SequenceDefinition* sequence = nullptr;
  };

  Slot& find_slot(uint32_t code, Kind kind) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash(code, kind) & mask;
    while (slots_[i].state != kEmpty && (slots_[i].code != code || slots_[i].kind != kind)) {
      i = (i + 1) & mask;
    }
    Slot& slot = slots_[i];
    if (slot.state == kEmpty) {
      slot.code = code;
      slot.kind = kind;
    }
    return slot;
  }
  static std::size_t hash(uint32_t code, Kind kind) {
    return static_cast<std::size_t>(((uint64_t{code} << 2 | kind) * 0x9E3779B97F4A7C15ull) >> 32);
  }
  // Both fill a fresh slot and may then rehash, which invalidates `slot`.
  const ElementInfo* fill_element(Slot& slot, uint32_t code);
  const SequenceDefinition* fill_sequence(Slot& slot, uint32_t code);
  void grow_if_crowded();

  const TableSet& tables_;
  std::vector<Slot> slots_;
  std::size_t filled_ = 0;
  std::deque<ElementInfo> elements_;
  std::vector<uint32_t> unknown_codes_;
};

}  // namespace tarnwel
