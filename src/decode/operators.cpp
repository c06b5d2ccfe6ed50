// State effects of the 2 XX YYY operators, shared by the uncompressed and compressed walks.
#include "decode/operators.hpp"

#include "decode/value_math.hpp"

namespace tarnwel {

namespace {

int32_t offset_from_128(uint32_t y) { return y == 0 ? 0 : static_cast<int32_t>(y) - 128; }

void apply_multiplier(uint32_t y, DecodeState& state) {
  if (y == 0) {
    state.width_change = 0;
    state.scale_change = 0;
    state.reference_multiplier = 1;
    return;
  }
  state.scale_change = static_cast<int32_t>(y);
  state.width_change = static_cast<int32_t>((10 * y + 2) / 3);
  state.reference_multiplier = saturating_power_of_ten(y);
}

// 2 03 YYY: Y in 1..254 starts reading new references of Y bits, 255 stops,
// 0 restores the table references.
void apply_new_reference(uint32_t y, DecodeState& state) {
  if (y == 0) state.changed_references.clear();
  state.new_reference_width = (y == 0 || y == 255) ? 0 : static_cast<uint8_t>(y);
}

void forget_bitmap(DecodeState& state) {
  state.bitmap.clear();
  state.bitmap_cursor = 0;
  state.bitmap_anchor = 0;
}

OperatorAction apply_bitmap_operator(uint32_t x, uint32_t y, DecodeState& state) {
  switch (x) {
    case 35:
      if (y == 0) forget_bitmap(state);
      return OperatorAction::kMarker;
    case 36:
      if (y != 0) return OperatorAction::kNone;
      state.bitmap_collecting = true;
      state.bitmap.clear();
      state.bitmap_cursor = 0;
      state.bitmap_anchor = state.history.size();
      return OperatorAction::kMarker;
    case 37:
      if (y == 0) {
        state.bitmap_cursor = 0;
      } else {
        forget_bitmap(state);
      }
      return OperatorAction::kMarker;
    default:
      return OperatorAction::kNone;
  }
}

}  // namespace

OperatorAction apply_operator(uint32_t code, DecodeState& state) {
  const uint32_t x = code % 100000 / 1000;
  const uint32_t y = code % 1000 & 255;
  switch (x) {
    case 1: state.width_change = offset_from_128(y); return OperatorAction::kNone;
    case 2: state.scale_change = offset_from_128(y); return OperatorAction::kNone;
    case 3: apply_new_reference(y, state); return OperatorAction::kNone;
    case 4: state.associated_field_width = static_cast<uint8_t>(y); return OperatorAction::kNone;
    case 5: return OperatorAction::kCharacterData;
    case 6:
      state.local_width_pending = true;
      state.local_width = static_cast<uint16_t>(y);
      return OperatorAction::kNone;
    case 7: apply_multiplier(y, state); return OperatorAction::kNone;
    case 8:
      state.text_width_override = y != 0;
      state.text_width = static_cast<uint16_t>(8 * y);
      return OperatorAction::kNone;
    case 22:
    case 62:
      return y == 0 ? OperatorAction::kMarker : OperatorAction::kNone;
    case 23:
    case 24:
    case 25:
    case 32:
      return y == 255 ? OperatorAction::kBitmapValue : OperatorAction::kMarker;
    case 26: case 27: case 29: case 30: case 31: case 33: case 34:
    case 38: case 39: case 40: case 41: case 42:
      return OperatorAction::kMarker;
    case 35:
    case 36:
    case 37:
      return apply_bitmap_operator(x, y, state);
    default:
      return OperatorAction::kNone;
  }
}

}  // namespace tarnwel
