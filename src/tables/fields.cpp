// Text-to-number helpers for table fields, and the quoted form of a text.
#include "tables/fields.hpp"

#include <limits>

#include "tables/utf8.hpp"

namespace tarnwel {

namespace detail {

bool parse_decimal(std::string_view text, uint64_t positive_limit, uint64_t negative_limit,
                   uint64_t& magnitude, bool& negative, IntParseError& error) {
  if (text.empty()) {
    error = IntParseError::Empty;
    return false;
  }
  negative = false;
  std::string_view digits = text;
  const bool has_sign = text[0] == '+' || (text[0] == '-' && negative_limit != 0);
  if (has_sign) {
    negative = text[0] == '-';
    digits.remove_prefix(1);
    // A lone sign is a bad digit, not an empty number.
    if (digits.empty()) {
      error = IntParseError::InvalidDigit;
      return false;
    }
  }
  const uint64_t limit = negative ? negative_limit : positive_limit;
  uint64_t value = 0;
  // Left to right, so a bad digit after an overflow reports the overflow.
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      error = IntParseError::InvalidDigit;
      return false;
    }
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (limit - digit) / 10) {
      error = negative ? IntParseError::TooSmall : IntParseError::TooLarge;
      return false;
    }
    value = value * 10 + digit;
  }
  magnitude = value;
  return true;
}

}  // namespace detail

namespace {

// The field's word and the text as given, under the kind of its failure.
BufrError field_error(ErrorWord label, std::string_view text, detail::IntParseError error) {
  switch (error) {
    case detail::IntParseError::Empty:
      return make_error<ErrorKind::FieldEmpty>(label, quoted_text(text));
    case detail::IntParseError::TooLarge:
      return make_error<ErrorKind::FieldTooLarge>(label, quoted_text(text));
    case detail::IntParseError::TooSmall:
      return make_error<ErrorKind::FieldTooSmall>(label, quoted_text(text));
    case detail::IntParseError::InvalidDigit:
      break;
  }
  return make_error<ErrorKind::FieldInvalidDigit>(label, quoted_text(text));
}

template <class T>
Result<T> parse_field(std::string_view text, ErrorWord label) {
  using Limits = std::numeric_limits<T>;
  const uint64_t positive_limit = static_cast<uint64_t>(Limits::max());
  uint64_t negative_limit = 0;
  // The magnitude of the minimum, computed without overflowing T.
  if constexpr (Limits::is_signed) negative_limit = static_cast<uint64_t>(Limits::max()) + 1;
  uint64_t magnitude = 0;
  bool negative = false;
  detail::IntParseError error{};
  if (!detail::parse_decimal(text, positive_limit, negative_limit, magnitude, negative, error)) {
    return field_error(label, text, error);
  }
  if constexpr (Limits::is_signed) {
    // Conversion to a signed type is modular, so this also yields the minimum.
    if (negative) return static_cast<T>(uint64_t{0} - magnitude);
  }
  return static_cast<T>(magnitude);
}

}  // namespace

Result<uint32_t> parse_descriptor_code(std::string_view text) {
  std::string_view digits = trim_white_space(text);
  while (!digits.empty() && digits.front() == '"') digits.remove_prefix(1);
  while (!digits.empty() && digits.back() == '"') digits.remove_suffix(1);
  uint64_t magnitude = 0;
  bool negative = false;
  detail::IntParseError error{};
  if (!detail::parse_decimal(digits, std::numeric_limits<uint32_t>::max(), 0, magnitude, negative,
                             error)) {
    // The message quotes the text as it was given, before trimming.
    return field_error(ErrorWord::DescriptorCodeField, text, error);
  }
  return static_cast<uint32_t>(magnitude);
}

Result<int32_t> parse_i32_field(std::string_view text) {
  return parse_field<int32_t>(text, ErrorWord::I32Field);
}

Result<int64_t> parse_i64_field(std::string_view text) {
  return parse_field<int64_t>(text, ErrorWord::I64Field);
}

Result<uint16_t> parse_u16_field(std::string_view text) {
  return parse_field<uint16_t>(text, ErrorWord::U16Field);
}

Result<uint64_t> parse_code_table_key(std::string_view text) {
  return parse_field<uint64_t>(text, ErrorWord::CodeTableKeyField);
}

namespace {

// Format characters, separators and private use: invisible or without a glyph
// of their own, so they are shown by code point. Sorted, as the scan relies on it.
bool is_invisible(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x00A0, 0x00A0},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
      {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},
      {0x1680, 0x1680},   {0x180E, 0x180E},   {0x2000, 0x200F},   {0x2028, 0x202F},
      {0x205F, 0x2064},   {0x2066, 0x206F},   {0x3000, 0x3000},   {0xE000, 0xF8FF},
      {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0xFFFE, 0xFFFF},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
      {0xE0001, 0xE0001}, {0xE0020, 0xE007F}, {0xF0000, 0x10FFFF},
  };
  for (const Range& range : kRanges) {
    if (c < range.first) return false;
    if (c <= range.last) return true;
  }
  return false;
}

bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  return c < 0xA0 || !is_invisible(c);
}

void append_hex_escape(std::string& out, char32_t c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char buffer[8];
  int count = 0;
  do {
    buffer[count++] = kDigits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  while (count > 0) out += buffer[--count];
  out += '}';
}

}  // namespace

std::string quoted_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t length = 0;
    const char32_t c = decode_utf8_at(text, pos, length);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (!is_printable(c)) {
          append_hex_escape(out, c);
        } else if (c == U'\uFFFD' && length == 1) {
          out += "\xEF\xBF\xBD";  // a byte that is not UTF-8
        } else {
          out.append(text.data() + pos, length);
        }
    }
    pos += length;
  }
  out += '"';
  return out;
}

}  // namespace tarnwel
