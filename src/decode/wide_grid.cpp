// The AVX-512 grid kernel: gathers, shifts and divides eight subsets of a rank at once, then transposes.
#include "decode/wide_grid.hpp"

#include "decode/increment_numbers.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's AVX-512 intrinsics pass an undefined vector where no lane is kept, and
// its -Wmaybe-uninitialized takes that for a read (fixed in GCC 13).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <limits>

namespace tarnwel {
namespace {

#define TARNWEL_WIDE __attribute__((target("avx512f,avx512bw")))

// Eight rows of eight doubles become eight columns: v[j] takes lane j of every v[k].
TARNWEL_WIDE inline void transpose8(__m512d v[8]) {
  __m512d t[8];
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm512_unpacklo_pd(v[k], v[k + 1]);      // lanes 0, 2, 4, 6 of the pair
    t[k + 1] = _mm512_unpackhi_pd(v[k], v[k + 1]);  // lanes 1, 3, 5, 7
  }
  const __m512i even = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i odd = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  __m512d u[8];
  for (int k = 0; k < 8; k += 4) {
    u[k] = _mm512_permutex2var_pd(t[k], even, t[k + 2]);          // lanes 0 and 4
    u[k + 1] = _mm512_permutex2var_pd(t[k], odd, t[k + 2]);       // lanes 2 and 6
    u[k + 2] = _mm512_permutex2var_pd(t[k + 1], even, t[k + 3]);  // lanes 1 and 5
    u[k + 3] = _mm512_permutex2var_pd(t[k + 1], odd, t[k + 3]);   // lanes 3 and 7
  }
  const __m512i low = _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0);
  const __m512i high = _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4);
  constexpr int kLane[4] = {0, 2, 1, 3};  // the lower lane each u[k] holds
  for (int k = 0; k < 4; ++k) {
    v[kLane[k]] = _mm512_permutex2var_pd(u[k], low, u[k + 4]);
    v[kLane[k] + 4] = _mm512_permutex2var_pd(u[k], high, u[k + 4]);
  }
}

// Subsets s to s + 7 of one rank.
TARNWEL_WIDE inline __m512d rank_numbers(const uint8_t* data, const WideRank& rank, uint32_t s) {
  if (rank.bits == 0) return _mm512_set1_pd(rank.number);
  const __m512i lanes = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i bits = _mm512_set1_epi64(rank.bits);
  const __m512i position = _mm512_add_epi64(
      _mm512_set1_epi64(static_cast<long long>(rank.at + uint64_t{s} * rank.bits)),
      _mm512_mul_epu32(lanes, bits));
  const __m512i swap = _mm512_broadcast_i32x4(
      _mm_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7));
  __m512i word = _mm512_i64gather_epi64(_mm512_srli_epi64(position, 3), data, 1);
  word = _mm512_shuffle_epi8(word, swap);
  word = _mm512_sllv_epi64(word, _mm512_and_si512(position, _mm512_set1_epi64(7)));
  word = _mm512_srlv_epi64(word, _mm512_set1_epi64(64 - rank.bits));
  const __m512d magic = _mm512_set1_pd(kBiasDouble);
  const __m512d sum = _mm512_sub_pd(
      _mm512_castsi512_pd(_mm512_add_epi64(word, _mm512_set1_epi64(static_cast<long long>(rank.bias)))),
      magic);
  const __m512d number = _mm512_div_pd(sum, _mm512_set1_pd(rank.divisor));
  if (!rank.missing_allowed) return number;
  const __mmask8 missing =
      _mm512_cmpeq_epi64_mask(word, _mm512_set1_epi64(static_cast<long long>(rank.missing)));
  return _mm512_mask_blend_pd(missing, number,
                              _mm512_set1_pd(std::numeric_limits<double>::quiet_NaN()));
}

TARNWEL_WIDE void grid_rows(const uint8_t* data, const WideRank* ranks, std::size_t width,
                            uint32_t rows, double* cells) {
  __m512d v[8];
  for (uint32_t s = 0; s < rows; s += 8) {
    double* block = cells + std::size_t{s} * width;
    for (std::size_t first = 0; first < width; first += 8) {
      const std::size_t group = std::min<std::size_t>(8, width - first);
      for (std::size_t k = 0; k < 8; ++k) {
        v[k] = k < group ? rank_numbers(data, ranks[first + k], s) : _mm512_setzero_pd();
      }
      transpose8(v);
      const auto keep = static_cast<__mmask8>((1u << group) - 1);
      for (std::size_t j = 0; j < 8; ++j) _mm512_mask_storeu_pd(block + j * width + first, keep, v[j]);
    }
  }
}

}  // namespace

bool wide_grid_available() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"); }

void wide_grid_rows(const uint8_t* data, const WideRank* ranks, std::size_t width, uint32_t rows,
                    double* cells) {
  grid_rows(data, ranks, width, rows, cells);
}

}  // namespace tarnwel

#else

namespace tarnwel {

bool wide_grid_available() { return false; }

void wide_grid_rows(const uint8_t*, const WideRank*, std::size_t, uint32_t, double*) {}

}  // namespace tarnwel

#endif
