// State effects of the 2 XX YYY operators, shared by the uncompressed and compressed walks.
#pragma once

#include <cstdint>

#include "decode/decode_state.hpp"

namespace tarnwel {

// What the walk must do besides the state change.
enum class OperatorAction : uint8_t {
  kNone,           // nothing read, nothing appended
  kMarker,         // append an "operator" record (one per subset when compressed)
  kBitmapValue,    // 2 23/24/25/32 255: read the next value the bitmap selects
  kCharacterData,  // 2 05 YYY: read Y characters
};

// Applies operator `code` to `state`. Only the low 8 bits of Y count.
OperatorAction apply_operator(uint32_t code, DecodeState& state);

}  // namespace tarnwel
