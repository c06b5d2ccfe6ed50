// The AVX-512 grid and column kernels against the scalar formula, on random increments near the data's end.
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decode/increment_numbers.hpp"
#include "decode/value_math.hpp"
#include "decode/wide_grid.hpp"
#include "test_support.hpp"

namespace tarnwel::test {
namespace {

// The number of subset `s` of `rank` as the scalar path forms it.
double expected_number(const std::vector<uint8_t>& data, const WideRank& rank, int64_t offset,
                       uint32_t s) {
  if (rank.bits == 0) return rank.number;
  uint64_t increment = 0;
  const uint64_t at = rank.at + uint64_t{s} * rank.bits;
  for (uint32_t b = 0; b < rank.bits; ++b) {
    const uint64_t bit = at + b;
    increment = increment << 1 | (data[bit >> 3] >> (7 - (bit & 7)) & 1);
  }
  if (rank.missing_allowed && increment == rank.missing) return std::nan("");
  return scaled_value(offset, increment, rank.divisor);
}

bool same(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

DECODE_TEST(wide_kernels_give_the_scalar_numbers_and_stay_inside_the_data) {
  std::mt19937_64 rng(20261209);
  const auto below = [&](uint64_t n) { return n == 0 ? 0 : rng() % n; };
  unsigned filled_trials = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t width = 1 + below(19);
    const auto subsets = static_cast<uint32_t>(8 + below(90));
    // Exactly as many bytes as the increments need and a random few more, so that
    // the reads near the end are the ones the kernels must leave to others.
    std::vector<WideRank> ranks(width);
    std::vector<int64_t> offsets(width);
    uint64_t end_bit = 0;
    for (std::size_t r = 0; r < width; ++r) {
      WideRank& rank = ranks[r];
      rank.bits = below(6) == 0 ? 0 : static_cast<uint32_t>(1 + below(50));
      rank.at = end_bit + below(16);
      end_bit = rank.at + uint64_t{subsets} * rank.bits;
      rank.missing = rank.bits == 0 ? 0 : all_ones(rank.bits);
      rank.missing_allowed = below(2) == 0;
      rank.divisor = power_of_ten(static_cast<int64_t>(below(9)) - 3);
      // Within 2^49 of 0, with increments below 2^50: every sum converts by the bias.
      offsets[r] = static_cast<int64_t>(below(uint64_t{1} << 50)) - (int64_t{1} << 49);
      rank.bias = bias_bits(offsets[r]);
      rank.number = static_cast<double>(below(100000)) / 7.0;
    }
    std::vector<uint8_t> data((end_bit + 7) / 8 + below(70));
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(rng());

    std::vector<double> grid(width * subsets, -1.0);
    const uint32_t rows = wide_grid_rows(data.data(), data.size(), ranks.data(), width, subsets,
                                         grid.data());
    CHECK(rows % 8 == 0 && rows <= subsets);
    filled_trials += rows > 0 ? 1 : 0;
    for (uint32_t s = 0; s < rows; ++s) {
      for (std::size_t r = 0; r < width; ++r) {
        CHECK(same(grid[s * width + r], expected_number(data, ranks[r], offsets[r], s)));
      }
    }
    const WideRank& rank = ranks[below(width)];
    const int64_t offset = offsets[&rank - ranks.data()];
    std::vector<double> column(subsets, -1.0);
    const uint32_t done = wide_column(data.data(), data.size(), rank, subsets, column.data());
    CHECK(done % 8 == 0 && done <= subsets && done >= rows);
    for (uint32_t s = 0; s < done; ++s) CHECK(same(column[s], expected_number(data, rank, offset, s)));
  }
  // Where the processor has the instructions, most trials must have filled rows.
#if defined(__x86_64__) && defined(__GNUC__)
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi")) {
    CHECK(filled_trials > 200);
  }
#endif
}

}  // namespace
}  // namespace tarnwel::test
