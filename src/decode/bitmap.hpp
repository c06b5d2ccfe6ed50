// Data present bitmaps: collecting indicators and resolving 2 XX 255 to earlier elements.
#pragma once

#include "decode/decode_state.hpp"
#include "decode/element_cache.hpp"
#include "message/error.hpp"

namespace tarnwel {

// The history entry of the next present bitmap position, or nullptr when none is left.
// Fails when that position lies beyond the history.
Result<const ElementInfo*> next_bitmap_reference(DecodeState& state);

// The 2 25 255 form of a referenced element: one bit wider (at most 65535) with
// reference -2^w (-1 for w = 0). For w >= 64, where -2^w has no int64 form, the
// reference saturates at the int64 minimum.
ElementInfo difference_element(const ElementInfo& referenced);

}  // namespace tarnwel
