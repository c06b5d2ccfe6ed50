// The descriptor walk as both decoders use it: data bits, decode state, work bounds, operators, bitmaps.
#pragma once

#include <cstdint>

#include "bitstream/bit_reader.hpp"
#include "decode/bitmap.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decode_state.hpp"
#include "decode/descriptor_walk.hpp"
#include "decode/element_cache.hpp"
#include "decode/element_decoder.hpp"
#include "decode/operators.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel {

// Supplies the walk's step bound, sequences and operators; `Layout` still supplies
// element(), delayed_factor() and kDepthError for the walk, and for this class:
//   Status marker(uint32_t code)                an operator record
//   Status character_data(uint32_t code)        2 05 YYY
//   Status selected(const ElementInfo&)         a value a bitmap selects
//   bool within_bounds()                        checked before every descriptor
template <class Layout>
class DecodingWalk : public DescriptorWalk<Layout> {
 protected:
  DecodingWalk(DescriptorCache& cache, BitReader& reader, DecodeState& state, WorkBudget& budget)
      : cache_(cache), reader_(reader), state_(state), budget_(budget) {}

  // Under 2 03 YYY an element descriptor carries a new reference, not a value.
  Status new_reference(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return make_error<ErrorKind::ElementNotFound>(ErrorArg::code(code));
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
  friend class DescriptorWalk<Layout>;

  // A delayed factor is read, and the group walked as many times as it says.
  static constexpr bool kDelayedGroupOnce = false;

  Layout& layout() { return static_cast<Layout&>(*this); }
  const Layout& layout() const { return static_cast<const Layout&>(*this); }

  // The step budget is checked first, then the layout's own bound.
  bool take_step() { return budget_.take_step() && layout().within_bounds(); }
  BufrError step_error() const {
    if (budget_.steps > kMaxWalkSteps) return walk_steps_exceeded();
    return layout().options().values_exceeded();
  }

  const SequenceDefinition* sequence(uint32_t code) { return cache_.sequence(code); }

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
};

}  // namespace tarnwel
