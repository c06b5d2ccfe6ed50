// Blocks of compressed increments turned into numbers: the innermost loop of a
// satellite column.
#pragma once

#include <bit>
#include <cstdint>

namespace tarnwel {

// Below 2^51 in size, a sum becomes a double by adding it to the bits of
// 2^52 + 2^51 and subtracting that number again, exactly and without a scalar
// conversion.
inline constexpr double kBiasDouble = 6755399441055744.0;  // 2^52 + 2^51

// Whether every sum offset + increment, the increments up to `missing`, converts so.
inline bool converts_by_bias(int64_t offset, uint64_t missing) {
  constexpr int64_t kExact = int64_t{1} << 51;
  return offset >= -kExact && offset < kExact && missing < uint64_t(kExact - offset);
}

// The bits to add to an increment: those of kBiasDouble, plus `offset`.
inline uint64_t bias_bits(int64_t offset) {
  return std::bit_cast<uint64_t>(kBiasDouble) + static_cast<uint64_t>(offset);
}

// How the increments of one compressed item become numbers: number =
// (reference + base + increment) / divisor, NaN where an increment is all ones
// and the item allows missing values.
struct IncrementScale {
  int64_t offset = 0;  // reference + base, every sum below 2^63 in size
  double divisor = 1.0;
  uint64_t missing = 0;  // the all-ones increment
  bool missing_allowed = false;
};

// Writes the numbers of `n` increments to `out`, with the exact quotients the
// scalar conversion gives.
void increments_to_numbers(const uint64_t* increments, uint32_t n, const IncrementScale& scale,
                           double* out);

}  // namespace tarnwel
