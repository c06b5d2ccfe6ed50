// Blocks of compressed increments turned into numbers: the innermost loop of a
// satellite column.
#pragma once

#include <cstdint>

namespace tarnwel {

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
