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

// Fills the leading rows of a grid of `width` cells a row and `subsets` rows from
// the increments in `data`, and gives how many it filled: a multiple of 8, and 0
// where the processor lacks AVX-512 (F, BW and VBMI). It reads only inside `data`.
uint32_t wide_grid_rows(const uint8_t* data, std::size_t size, const WideRank* ranks,
                        std::size_t width, uint32_t subsets, double* cells);

// The same for one column of `count` cells, `rank.at` being its first increment.
uint32_t wide_column(const uint8_t* data, std::size_t size, const WideRank& rank, uint32_t count,
                     double* cells);

}  // namespace tarnwel
