// Per-decode cache from descriptor code to its Table B or Table D entry.
#include "decode/element_cache.hpp"

#include "decode/decoded_value.hpp"
#include "decode/value_math.hpp"

namespace tarnwel {

ElementInfo make_element_info(const ElementDefinition& definition, const TableSet& tables) {
  ElementInfo info;
  info.name = &definition.name;
  info.abbreviation = &definition.abbreviation;
  info.code_table = tables.get_code_table(definition.code);
  info.reference = definition.reference;
  info.scale = definition.scale;
  info.divisor = power_of_ten(definition.scale);
  info.code = definition.code;
  info.width = definition.width;
  info.is_text = definition.unit == "CCITT IA5";
  info.class31 = is_class31(definition.code);
  return info;
}

const ElementInfo* DescriptorCache::fill_element(Slot& slot, uint32_t code) {
  slot.state = kFilled;
  if (const ElementDefinition* definition = tables_.get_element(code)) {
    elements_.push_back(make_element_info(*definition, tables_));
    slot.element = &elements_.back();
  }
  const ElementInfo* element = slot.element;
  grow_if_crowded();
  return element;
}

const SequenceDefinition* DescriptorCache::fill_sequence(Slot& slot, uint32_t code) {
  slot.state = kFilled;
  const SequenceDefinition* sequence = tables_.get_sequence(code);
  slot.sequence = sequence;
  grow_if_crowded();
  return sequence;
}

const ElementInfo* DescriptorCache::unknown_local(uint32_t code) {
  Slot& slot = find_slot(code, kUnknownLocal);
  if (slot.state == kFilled) return slot.element;
  slot.state = kFilled;
  ElementInfo info;
  info.name = &kUnknownLocalName;
  info.code = code;
  info.class31 = true;  // all bits set is a number here, not "missing"
  elements_.push_back(info);
  slot.element = &elements_.back();
  unknown_codes_.push_back(code);
  const ElementInfo* element = slot.element;
  grow_if_crowded();
  return element;
}

void DescriptorCache::grow_if_crowded() {
  if (++filled_ * 2 <= slots_.size()) return;
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.state == kEmpty) continue;
    Slot& moved = find_slot(slot.code, slot.kind);
    moved = slot;
  }
}

}  // namespace tarnwel
