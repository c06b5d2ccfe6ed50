// Data present bitmaps: collecting indicators and resolving 2 XX 255 to earlier elements.
#include "decode/bitmap.hpp"

#include <limits>

namespace tarnwel {

Result<const ElementInfo*> next_bitmap_reference(DecodeState& state) {
  const std::size_t size = state.bitmap.size();
  const std::size_t skipped = state.bitmap_anchor > size ? state.bitmap_anchor - size : 0;
  for (std::size_t i = state.bitmap_cursor; i < size; ++i) {
    state.bitmap_cursor = i + 1;
    if (state.bitmap[i] == 1) continue;
    const std::size_t position = i + skipped;
    if (position >= state.history.size()) {
      return make_error<ErrorKind::BitmapOutsideHistory>();
    }
    return state.history[position];
  }
  return static_cast<const ElementInfo*>(nullptr);
}

ElementInfo difference_element(const ElementInfo& referenced) {
  ElementInfo copy = referenced;
  const uint16_t width = referenced.width;
  copy.width = width == std::numeric_limits<uint16_t>::max() ? width : width + 1;
  if (width < 63) {
    copy.reference = -(int64_t{1} << width);
  } else {
    copy.reference = std::numeric_limits<int64_t>::min();
  }
  copy.fixed_reference = true;
  return copy;
}

}  // namespace tarnwel
