// Text-to-number helpers for table fields, and the quoted form of a text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "message/error.hpp"

namespace tarnwel {

// A descriptor code: trimmed, stripped of surrounding double quotes, then an
// unsigned decimal with an optional "+".
Result<uint32_t> parse_descriptor_code(std::string_view text);

// Plain decimal fields, not trimmed: an optional sign ("-" only for the signed
// kinds) followed by digits.
Result<int32_t> parse_i32_field(std::string_view text);
Result<int64_t> parse_i64_field(std::string_view text);
Result<uint16_t> parse_u16_field(std::string_view text);

// The code figure of a code table line (an unsigned 64-bit decimal).
Result<uint64_t> parse_code_table_key(std::string_view text);

// The text between double quotes, with \" \\ \t \r \n \0 escaped and other
// non-printable characters written as \u{hex}. Invalid UTF-8 bytes become U+FFFD.
std::string quoted_text(std::string_view text);

namespace detail {

enum class IntParseError : uint8_t { Empty, InvalidDigit, TooLarge, TooSmall };

// Parses `text` as a decimal within [-negative_limit, positive_limit]. A "-" is
// accepted only when negative_limit is not 0. On success stores the magnitude
// and sign; on failure returns false and sets `error`.
bool parse_decimal(std::string_view text, uint64_t positive_limit, uint64_t negative_limit,
                   uint64_t& magnitude, bool& negative, IntParseError& error);

}  // namespace detail

}  // namespace tarnwel
