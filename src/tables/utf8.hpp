// UTF-8 validation, code point decoding and Unicode white space for table text.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwel {

// Length of the longest valid UTF-8 prefix of `text` (== text.size() when valid).
std::size_t utf8_valid_up_to(std::string_view text);

inline bool is_valid_utf8(std::string_view text) {
  return utf8_valid_up_to(text) == text.size();
}

// Decodes the code point starting at `pos`; stores its byte length in `length`.
// Invalid or truncated sequences give U+FFFD with length 1.
char32_t decode_utf8_at(std::string_view text, std::size_t pos, std::size_t& length);

// The Unicode White_Space property.
bool is_unicode_white_space(char32_t c);

namespace detail {
std::size_t non_ascii_white_space_length_at(std::string_view text, std::size_t pos);
}  // namespace detail

// Length in bytes of the white space character at `pos`, or 0 when there is none.
// Inline because table text is mostly ASCII and this runs for every byte of it.
inline std::size_t white_space_length_at(std::string_view text, std::size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) return byte == ' ' || (byte >= 0x09 && byte <= 0x0D) ? 1 : 0;
  return detail::non_ascii_white_space_length_at(text, pos);
}

// `text` without leading and trailing Unicode white space.
std::string_view trim_white_space(std::string_view text);

}  // namespace tarnwel
