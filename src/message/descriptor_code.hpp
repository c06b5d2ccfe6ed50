// Descriptor codes in their integer form F*100000 + X*1000 + Y.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwel {

inline constexpr uint32_t kAssociatedFieldCode = 999999;

inline constexpr uint32_t descriptor_f(uint32_t code) { return code / 100000; }
inline constexpr uint32_t descriptor_x(uint32_t code) { return (code % 100000) / 1000; }
inline constexpr uint32_t descriptor_y(uint32_t code) { return code % 1000; }

// The two section 3 octets (F in 2 bits, X in 6, Y in 8) as an integer code.
inline constexpr uint32_t descriptor_from_octets(uint8_t high, uint8_t low) {
  const uint32_t v = (uint32_t{high} << 8) | low;
  return (v >> 14) * 100000 + ((v >> 8) & 63) * 1000 + (v & 255);
}

// The code in decimal, zero-padded on the left to at least 6 digits.
std::string format_code(uint64_t code);

}  // namespace tarnwel
