// Reading one element, an associated field, 2 05 character data or a 2 03 reference into records.
#include "decode/element_decoder.hpp"

#include "decode/value_math.hpp"

namespace tarnwel {

namespace {

// The hot path of uncompressed data: one read, one append, no record built.
Status decode_number(BitReader& reader, const ElementInfo& element, const DecodeState& state,
                     DecodedResult& out) {
  uint32_t width = element.width;
  int64_t reference = element.reference;
  double divisor = element.divisor;
  if (!state.plain_numbers()) {
    width = state.numeric_width(element);
    reference = state.reference_of(element);
    divisor = power_of_ten(state.scale_of(element));
  }
  uint64_t raw = 0;
  if (width != 0) {
    if (width > 64 || width > reader.remaining()) return std::move(reader.read_bits(width)).error();
    raw = reader.read_bits_unchecked(width);
  }
  const bool missing = width <= 63 && !element.class31 && raw == all_ones(width);
  if (missing) {
    out.append_number(0.0, raw, element, element.meaning(raw), kHasRaw);
  } else {
    out.append_number(scaled_value(reference, raw, divisor), raw, element, element.meaning(raw),
                      kHasRaw | kHasRawValue);
  }
  return Status::success();
}

}  // namespace

Status decode_text(BitReader& reader, uint32_t width, const std::string* name, uint32_t code,
                   DecodeState& state, DecodedResult& out) {
  const std::size_t start = out.text_bytes().size();
  TARNWEL_TRY(reader.read_bytes_into(width, out.text_bytes()));
  DecodedValue value;
  value.name = name;
  value.descriptor = code;
  value.flags = kHasRawValue | kIsText;
  if (finish_text(out.text_bytes(), start)) {
    value.text_index = out.add_text(start);
    value.flags |= kHasText;
  }
  ++state.text_counter;
  value.raw_value = static_cast<double>(state.text_counter) * 1000.0 + static_cast<double>(width / 8);
  out.append(value);
  return Status::success();
}

Status decode_element(BitReader& reader, const ElementInfo& element, DecodeState& state,
                      DecodedResult& out) {
  if (!element.is_text) return decode_number(reader, element, state, out);
  return decode_text(reader, state.text_width_of(element), element.name, element.code, state, out);
}

Status read_associated_field(BitReader& reader, uint32_t width, DecodedResult& out) {
  if (width == 0) return Status::success();
  TARNWEL_ASSIGN(const uint64_t raw, reader.read_bits(width));
  out.append(associated_field_value(raw));
  return Status::success();
}

Status read_character_data(BitReader& reader, uint32_t code, DecodeState& state,
                           DecodedResult& out) {
  const uint32_t characters = code % 1000 & 255;
  return decode_text(reader, characters * 8, &kCharacterDataName, code, state, out);
}

Status read_new_reference(BitReader& reader, const ElementInfo& element, DecodeState& state) {
  const uint32_t width = state.new_reference_width;
  TARNWEL_ASSIGN(const uint64_t raw, reader.read_bits(width));
  state.changed_references.insert_or_assign(element.code, sign_magnitude(raw, width));
  return Status::success();
}

}  // namespace tarnwel
