// Reading one element, an associated field, 2 05 character data or a 2 03 reference into records.
#pragma once

#include <cstdint>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_state.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"
#include "decode/value_math.hpp"

namespace tarnwel {

// The common case inline, for the walk's hot loop: a number read under no
// operator, of 1 to 64 bits that the data still holds, appended. Returns false,
// having read and appended nothing, for every other case; decode_element then
// takes it, errors included.
inline bool append_plain_number(BitReader& reader, const ElementInfo& element,
                                const DecodeState& state, DecodedResult& out) {
  const uint32_t width = element.width;
  if (element.is_text || !state.plain_numbers() || width == 0 || width > 64 ||
      width > reader.remaining()) {
    return false;
  }
  const uint64_t raw = reader.read_bits_unchecked(width);
  const bool missing = width <= 63 && !element.class31 && raw == all_ones(width);
  const double number = missing ? 0.0 : scaled_value(element.reference, raw, element.divisor);
  out.append_number(number, raw, element, element.meaning(raw),
                    missing ? uint8_t{kHasRaw} : uint8_t{kHasRaw | kHasRawValue});
  return true;
}

// Reads one element under the operators in force and appends exactly one record.
// Character elements give no number. On failure nothing is appended.
Status decode_element(BitReader& reader, const ElementInfo& element, DecodeState& state,
                      DecodedResult& out);

// With width 0 does nothing; otherwise appends one associated-field record.
Status read_associated_field(BitReader& reader, uint32_t width, DecodedResult& out);

// 2 05 YYY: Y characters in the data stream, recorded like a "CCITT IA5" element of
// 8 × Y bits, with the operator's code as descriptor and the name "characterData".
// 2 08 does not apply: the operator states the width itself.
Status read_character_data(BitReader& reader, uint32_t code, DecodeState& state,
                           DecodedResult& out);

// Reads the text of `width` bits for a character value and appends its record,
// numbered by the message's text counter.
Status decode_text(BitReader& reader, uint32_t width, const std::string* name, uint32_t code,
                   DecodeState& state, DecodedResult& out);

// While 2 03 YYY is in force: reads the element's new reference instead of a value.
Status read_new_reference(BitReader& reader, const ElementInfo& element, DecodeState& state);

}  // namespace tarnwel
