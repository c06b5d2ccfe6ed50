// One decoded item of section 4 as a record, and the flat list of such records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/descriptor_code.hpp"

namespace tarnwel {

// Names of the records that have no Table B entry; values borrow them.
inline const std::string kAssociatedFieldName = "associatedField";
inline const std::string kOperatorName = "operator";
// 2 05 YYY: character data carried in the data stream by the operator itself.
inline const std::string kCharacterDataName = "characterData";
// An element after 2 06 YYY that no table describes.
inline const std::string kUnknownLocalName = "unknownLocalDescriptor";

// Which optional fields of a DecodedValue are present, and what kind of record it is.
enum DecodedValueFlag : uint8_t {
  kHasRawValue = 1,
  kHasRaw = 2,
  kHasText = 4,
  kIsText = 8,     // a character value (kHasText unless it is missing)
  kIsMarker = 16,  // an operator record, which carries no data
};

// 48 bytes, no owned members: names and meanings borrow from the TableSet (or the
// static names above); texts live in DecodedValues and may be shared by several
// values (a compressed string column without increments).
struct DecodedValue {
  double raw_value = 0.0;
  uint64_t raw = 0;
  const std::string* name = nullptr;
  const std::string* meaning = nullptr;  // code or flag table meaning, or none
  uint32_t text_index = 0;               // into DecodedValues::texts when kHasText
  uint32_t descriptor = 0;
  uint8_t flags = 0;

  bool has_raw_value() const { return (flags & kHasRawValue) != 0; }
  bool has_raw() const { return (flags & kHasRaw) != 0; }
  bool has_text() const { return (flags & kHasText) != 0; }
};

// Where one text lies in DecodedValues::text_bytes.
struct TextSpan {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// The flat list: the values of subset 1 in reading order, then those of subset 2,
// and so on. Borrowed names and meanings stay valid as long as the TableSet of
// the decode. All texts share one byte buffer, so a text costs no allocation.
struct DecodedValues {
  std::vector<DecodedValue> values;
  std::string text_bytes;
  std::vector<TextSpan> texts;

  std::string_view text(uint32_t index) const {
    const TextSpan& span = texts[index];
    return std::string_view(text_bytes).substr(span.offset, span.size);
  }
  // Records the bytes from `start` to the end of text_bytes as a new text.
  uint32_t add_text(std::size_t start) {
    texts.push_back({start, text_bytes.size() - start});
    return static_cast<uint32_t>(texts.size() - 1);
  }
};

inline DecodedValue operator_marker(uint32_t code) {
  DecodedValue value;
  value.name = &kOperatorName;
  value.descriptor = code;
  value.flags = kHasRawValue | kHasRaw | kIsMarker;
  return value;
}

inline DecodedValue associated_field_value(uint64_t raw) {
  DecodedValue value;
  value.raw_value = static_cast<double>(raw);
  value.raw = raw;
  value.name = &kAssociatedFieldName;
  value.descriptor = kAssociatedFieldCode;
  value.flags = kHasRawValue | kHasRaw;
  return value;
}

}  // namespace tarnwel
