// The descriptor walk both decoders share: classes, replication, sequences, operators, bitmap selection.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/bit_reader.hpp"
#include "decode/bitmap.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decode_state.hpp"
#include "decode/element_cache.hpp"
#include "decode/element_decoder.hpp"
#include "decode/operators.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel {

inline constexpr unsigned kMaxWalkDepth = 64;

// The rules of the walk are the same for both layouts; only how an item is read
// and where it goes differ. `Layout` supplies, as members reachable from here:
//   Status element(uint32_t code)               an element descriptor (F = 0)
//   Result<uint64_t> delayed_factor(uint32_t)   read a factor, give the count
//   Status marker(uint32_t code)                an operator record
//   Status character_data(uint32_t code)        2 05 YYY
//   Status selected(const ElementInfo&)         a value a bitmap selects
//   bool within_bounds()                        checked before every descriptor
//   static constexpr const char* kDepthError
// The calls are static, so the hot loop costs what a hand-written one does.
template <class Layout>
class DescriptorWalk {
 public:
  Status walk(std::span<const uint32_t> codes, unsigned depth) {
    if (depth > kMaxWalkDepth) return BufrError::parse(Layout::kDepthError);
    for (std::size_t i = 0; i < codes.size();) {
      if (!budget_.take_step()) return walk_steps_exceeded();
      if (!layout().within_bounds()) return layout().options().values_exceeded();
      const uint32_t code = codes[i];
      switch (descriptor_f(code)) {
        case 0: TARNWEL_TRY(layout().element(code)); ++i; break;
        case 1: TARNWEL_TRY(replication(codes, i, depth)); break;
        case 2: TARNWEL_TRY(operation(code)); ++i; break;
        case 3: TARNWEL_TRY(sequence(code, depth)); ++i; break;
        default: return BufrError::parse("invalid descriptor " + format_code(code));
      }
    }
    return Status::success();
  }

 protected:
  DescriptorWalk(DescriptorCache& cache, BitReader& reader, DecodeState& state, WorkBudget& budget)
      : cache_(cache), reader_(reader), state_(state), budget_(budget) {}

  // Under 2 03 YYY an element descriptor carries a new reference, not a value.
  Status new_reference(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    return read_new_reference(reader_, *element, state_);
  }

  // The Table B entry of `code`, or null. An element no table has, right after
  // 2 06 YYY, gets a stand-in of that width when the caller asked for it.
  const ElementInfo* table_element(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element != nullptr || !state_.local_width_pending ||
        !layout().options().step_over_unknown_local) {
      return element;
    }
    return cache_.unknown_local(code);
  }

  // Associated fields precede every element but those of class 31.
  bool takes_associated_field(uint32_t code) const {
    return state_.associated_field_width != 0 && descriptor_x(code) != 31;
  }

  DescriptorCache& cache_;
  BitReader& reader_;
  DecodeState& state_;
  WorkBudget& budget_;

 private:
  Layout& layout() { return static_cast<Layout&>(*this); }

  // Advances `i` past the replication descriptor, its factor and its body.
  Status replication(std::span<const uint32_t> codes, std::size_t& i, unsigned depth) {
    const uint32_t code = codes[i];
    const std::size_t count = descriptor_x(code);
    const uint32_t fixed = descriptor_y(code) & 255;
    if (count == 0 || i + count >= codes.size()) return BufrError::unsupported_replication(code);
    if (fixed != 0) {
      const auto body = codes.subspan(i + 1, count);
      for (uint32_t k = 0; k < fixed; ++k) TARNWEL_TRY(walk(body, depth + 1));
      i += count + 1;
      return Status::success();
    }
    if (i + count + 1 >= codes.size()) return BufrError::delayed_replication_incomplete(code);
    TARNWEL_ASSIGN(const uint64_t repeats, layout().delayed_factor(codes[i + 1]));
    const auto body = codes.subspan(i + 2, count);
    for (uint64_t k = 0; k < repeats; ++k) TARNWEL_TRY(walk(body, depth + 1));
    i += count + 2;
    return Status::success();
  }

  Status operation(uint32_t code) {
    switch (apply_operator(code, state_)) {
      case OperatorAction::kNone: return Status::success();
      case OperatorAction::kMarker: return layout().marker(code);
      case OperatorAction::kBitmapValue: return bitmap_value(code);
      case OperatorAction::kCharacterData: return layout().character_data(code);
    }
    return Status::success();
  }

  // Reads again, under the operators now in force, the element the bitmap selects;
  // it takes no associated field and does not join the history.
  Status bitmap_value(uint32_t code) {
    TARNWEL_ASSIGN(const ElementInfo* referenced, next_bitmap_reference(state_));
    if (referenced == nullptr) return Status::success();
    if (descriptor_x(code) == 25) return layout().selected(difference_element(*referenced));
    return layout().selected(*referenced);
  }

  Status sequence(uint32_t code, unsigned depth) {
    const SequenceDefinition* sequence = cache_.sequence(code);
    if (sequence == nullptr) return BufrError::sequence_not_found(code);
    return walk(sequence->members, depth + 1);
  }
};

}  // namespace tarnwel
