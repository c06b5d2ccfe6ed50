// UTF-8 validation, code point decoding and Unicode white space for table text.
#include "tables/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace tarnwel {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// Bytes 0x80..0xBF continue a sequence.
bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Byte length of a valid sequence starting at `pos`, or 0 when it is invalid.
std::size_t valid_sequence_length(std::string_view text, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  const std::size_t left = text.size() - pos;
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    return left >= 2 && is_continuation(p[1]) ? 2 : 0;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !is_continuation(p[1]) || !is_continuation(p[2])) return 0;
    // Reject overlong forms and UTF-16 surrogates.
    if (lead == 0xE0 && p[1] < 0xA0) return 0;
    if (lead == 0xED && p[1] > 0x9F) return 0;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !is_continuation(p[1]) || !is_continuation(p[2]) ||
        !is_continuation(p[3])) {
      return 0;
    }
    // Reject overlong forms and code points above U+10FFFF.
    if (lead == 0xF0 && p[1] < 0x90) return 0;
    if (lead == 0xF4 && p[1] > 0x8F) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::size_t utf8_valid_up_to(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Table files are mostly ASCII: skip eight plain bytes at a time.
    if (text.size() - pos >= 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + pos, 8);
      if ((word & kHighBits) == 0) {
        pos += 8;
        continue;
      }
    }
    const std::size_t length = valid_sequence_length(text, pos);
    if (length == 0) return pos;
    pos += length;
  }
  return pos;
}

char32_t decode_utf8_at(std::string_view text, std::size_t pos, std::size_t& length) {
  length = valid_sequence_length(text, pos);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  switch (length) {
    case 1:
      return p[0];
    case 2:
      return (char32_t{p[0] & 0x1Fu} << 6) | (p[1] & 0x3Fu);
    case 3:
      return (char32_t{p[0] & 0x0Fu} << 12) | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
    case 4:
      return (char32_t{p[0] & 0x07u} << 18) | (char32_t{p[1] & 0x3Fu} << 12) |
             (char32_t{p[2] & 0x3Fu} << 6) | (p[3] & 0x3Fu);
    default:
      length = 1;
      return U'\uFFFD';
  }
}

bool is_unicode_white_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::size_t detail::non_ascii_white_space_length_at(std::string_view text, std::size_t pos) {
  std::size_t length = 0;
  const char32_t c = decode_utf8_at(text, pos, length);
  return is_unicode_white_space(c) ? length : 0;
}

namespace {

// Byte length of the white space character that ends at `end`, or 0.
std::size_t white_space_length_before(std::string_view text, std::size_t end) {
  const auto last = static_cast<unsigned char>(text[end - 1]);
  if (last < 0x80) return is_unicode_white_space(last) ? 1 : 0;
  // Non-ASCII white space is two or three bytes long.
  for (std::size_t length = 2; length <= 3 && length <= end; ++length) {
    if (!is_continuation(static_cast<unsigned char>(text[end - length]))) {
      return white_space_length_at(text, end - length) == length ? length : 0;
    }
  }
  return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t length = white_space_length_at(text, begin);
    if (length == 0) break;
    begin += length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t length = white_space_length_before(text, end);
    if (length == 0) break;
    end -= length;
  }
  return text.substr(begin, end - begin);
}

}  // namespace tarnwel
