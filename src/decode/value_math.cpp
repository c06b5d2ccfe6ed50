// Value conversion arithmetic with a defined result for every input.
#include "decode/value_math.hpp"

#include <array>
#include <cmath>
#include <limits>

namespace tarnwel {

namespace {

constexpr int kTableScale = 64;

std::array<double, 2 * kTableScale + 1> make_power_table() {
  std::array<double, 2 * kTableScale + 1> table{};
  for (int s = -kTableScale; s <= kTableScale; ++s) table[s + kTableScale] = std::pow(10.0, s);
  return table;
}

bool is_text_space(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

// Built once at load, so a lookup needs no guard of a function-local static.
const std::array<double, 2 * kTableScale + 1> kPowers = make_power_table();

}  // namespace

int64_t saturating_power_of_ten(unsigned y) {
  int64_t value = 1;
  for (unsigned i = 0; i < y; ++i) {
    if (value > std::numeric_limits<int64_t>::max() / 10) return std::numeric_limits<int64_t>::max();
    value *= 10;
  }
  return value;
}

int64_t saturating_product(int64_t reference, int64_t multiplier) {
  int64_t product;
  if (!__builtin_mul_overflow(reference, multiplier, &product)) return product;
  const bool negative = (reference < 0) != (multiplier < 0);
  return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

double power_of_ten(int64_t scale) {
  if (scale >= -kTableScale && scale <= kTableScale) return kPowers[scale + kTableScale];
  // Far outside any real scale; pow gives inf or 0, and the value then inf, 0 or NaN.
  return std::pow(10.0, static_cast<double>(scale));
}

uint64_t count_from_value(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

uint8_t bitmap_byte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<uint8_t>(value);
}

int64_t sign_magnitude(uint64_t raw, uint32_t width) {
  // width is 1..64; the magnitude has width - 1 bits and so always fits.
  const uint32_t magnitude_bits = width - 1;
  const uint64_t magnitude = magnitude_bits == 0 ? 0 : raw & (~uint64_t{0} >> (64 - magnitude_bits));
  const bool negative = ((raw >> magnitude_bits) & 1) != 0;
  return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

bool finish_text(std::string& bytes, std::size_t start) {
  bool all_missing = true;
  for (std::size_t i = start; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte != 0xFF) all_missing = false;
    if (byte >= 0x80) bytes[i] = '?';
  }
  if (all_missing) {
    bytes.resize(start);
    return false;
  }
  std::size_t end = bytes.size();
  while (end > start && is_text_space(bytes[end - 1])) --end;
  bytes.resize(end);
  return true;
}

}  // namespace tarnwel
