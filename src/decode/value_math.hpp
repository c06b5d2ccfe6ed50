// Value conversion arithmetic with a defined result for every input.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwel {

// 10^y, saturating at INT64_MAX (y >= 19), for the 2 07 reference multiplier.
int64_t saturating_power_of_ten(unsigned y);

// reference × multiplier, saturating at the int64 bounds instead of overflowing.
int64_t saturating_product(int64_t reference, int64_t multiplier);

// 10.0^scale as std::pow gives it; common scales come from a table built with pow.
double power_of_ten(int64_t scale);

// (reference + raw) formed exactly in 128 bits, rounded once to double, then divided.
inline double scaled_value(int64_t reference, uint64_t raw, double divisor) {
  // Almost every value fits in 64 bits, where the sum is just as exact and the
  // conversion to double is one instruction instead of a library call.
  constexpr int64_t kSmall = int64_t{1} << 62;
  if (raw < static_cast<uint64_t>(kSmall) && reference < kSmall && reference > -kSmall) {
    return static_cast<double>(reference + static_cast<int64_t>(raw)) / divisor;
  }
  const __int128 sum = static_cast<__int128>(reference) + static_cast<__int128>(raw);
  return static_cast<double>(sum) / divisor;
}

// All ones in `width` bits; only meaningful for width <= 63.
inline uint64_t all_ones(uint32_t width) { return (uint64_t{1} << width) - 1; }

// Class 31 elements (replication factors, data present indicators) are never missing.
inline bool is_class31(uint32_t code) {
  const uint32_t element = code % 100000;
  return element >= 31000 && element <= 31999;
}

// A replication factor as a count: truncated, 0 below zero and for NaN, saturated.
uint64_t count_from_value(double value);

// A data present indicator as a bitmap byte: clamped to 0..255, truncated.
uint8_t bitmap_byte(double value);

// A 2 03 new reference value: leftmost of `width` bits is the sign, the rest the magnitude.
int64_t sign_magnitude(uint64_t raw, uint32_t width);

// Turns the bytes from `start` on into the text of a character value in place.
// Returns false (and removes them) when every byte is 0xFF or there are none.
bool finish_text(std::string& bytes, std::size_t start);

}  // namespace tarnwel
