// Grids of compressed increments decoded eight subsets by eight ranks at a time with AVX-512.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwel {

// One rank of a grid as the wide kernel reads it: number = ((increment + bias) read
// as a double, less kBiasDouble) / divisor, which converts_by_bias found exact.
struct WideRank {
  uint64_t at = 0;    // bit position of subset 0's increment
  uint32_t bits = 0;  // 1 to 57; 0: every subset has `number`
  uint64_t bias = 0;  // bias_bits(reference + base)
  double divisor = 1.0;
  uint64_t missing = 0;  // the all-ones increment, compared when missing_allowed
  bool missing_allowed = false;
  double number = 0.0;  // bits == 0
};

// Whether this processor runs the kernel below.
bool wide_grid_available();

// Fills rows [0, rows) of a grid of `width` cells a row, `rows` a multiple of 8.
// The eight bytes from the first byte of every increment read must lie in `data`.
void wide_grid_rows(const uint8_t* data, const WideRank* ranks, std::size_t width, uint32_t rows,
                    double* cells);

}  // namespace tarnwel
