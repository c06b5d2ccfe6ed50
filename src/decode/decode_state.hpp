// Operator and bitmap state of a descriptor walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "decode/element_cache.hpp"
#include "decode/value_math.hpp"

namespace tarnwel {

struct DecodeState {
  std::vector<uint8_t> bitmap;
  // Table entries of the elements read so far, as they stand in the tables.
  std::vector<const ElementInfo*> history;
  int64_t reference_multiplier = 1;
  std::size_t bitmap_cursor = 0;
  std::size_t bitmap_anchor = 0;
  uint64_t text_counter = 0;
  bool local_width_pending = false;
  uint16_t local_width = 0;
  bool text_width_override = false;
  uint16_t text_width = 0;
  int32_t width_change = 0;
  int32_t scale_change = 0;
  bool bitmap_collecting = false;
  uint8_t associated_field_width = 0;
  // 2 03 YYY: while not 0, element descriptors read a new reference of this many bits.
  uint8_t new_reference_width = 0;
  // Element code -> reference set by 2 03, until 2 03 000.
  std::unordered_map<uint32_t, int64_t> changed_references;

  // A fresh state for the next subset of an uncompressed message. text_counter runs
  // over the whole message; so do the 2 03 references, as ecCodes keeps them. Each
  // subset reads its own definitions anyway, so this only shows when a subset uses
  // an element before its 2 03 definitions. Vectors keep their capacity.
  void start_subset() {
    bitmap.clear();
    history.clear();
    reference_multiplier = 1;
    bitmap_cursor = 0;
    bitmap_anchor = 0;
    local_width_pending = false;
    local_width = 0;
    text_width_override = false;
    text_width = 0;
    width_change = 0;
    scale_change = 0;
    bitmap_collecting = false;
    associated_field_width = 0;
    new_reference_width = 0;
  }

  // No operator in force changes a number's width, scale or reference: the
  // element's own width, reference and divisor apply as they stand.
  bool plain_numbers() const {
    return !local_width_pending && width_change == 0 && scale_change == 0 &&
           reference_multiplier == 1 && changed_references.empty();
  }

  // Width of a numeric element under the operators in force; may exceed 64.
  uint32_t numeric_width(const ElementInfo& element) const {
    if (local_width_pending) return local_width;
    const int64_t width = int64_t{element.width} + width_change;
    return width < 1 ? 0 : static_cast<uint32_t>(width);
  }
  uint32_t text_width_of(const ElementInfo& element) const {
    return text_width_override ? text_width : element.width;
  }
  int64_t scale_of(const ElementInfo& element) const {
    return int64_t{element.scale} + scale_change;
  }
  // A 2 03 reference stands as it is; otherwise the table reference times the 2 07
  // multiplier, saturated at the int64 bounds.
  int64_t reference_of(const ElementInfo& element) const {
    if (!changed_references.empty() && !element.fixed_reference) {
      auto it = changed_references.find(element.code);
      if (it != changed_references.end()) return it->second;
    }
    if (reference_multiplier == 1) return element.reference;
    return saturating_product(element.reference, reference_multiplier);
  }
};

}  // namespace tarnwel
