// The AVX-512 kernel: a load, a permute, shifts and a divide give eight subsets of a rank.
#include "decode/wide_grid.hpp"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's AVX-512 intrinsics pass an undefined vector where no lane is kept, and
// its -Wmaybe-uninitialized takes that for a read (fixed in GCC 13).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <limits>
#include <vector>

#include "decode/increment_numbers.hpp"

namespace tarnwel {
namespace {

#define TARNWEL_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Eight subsets of a rank take 8 * bits bits, a whole number of bytes, so every
// block of them starts at the same bit within its first byte and its increments lie
// at the same places in the 64 bytes from there: where is worked out once a rank.
struct alignas(64) RankLayout {
  uint8_t order[64];   // byte of the window for each byte of the eight words, swapped to big-endian
  uint64_t shift[8];   // bits before each increment in its word
};

RankLayout layout_of(const WideRank& rank) {
  RankLayout layout{};
  const unsigned start = rank.at & 7;
  for (unsigned lane = 0; lane < 8; ++lane) {
    const unsigned bit = start + lane * rank.bits;
    for (unsigned k = 0; k < 8; ++k) {
      layout.order[lane * 8 + k] = static_cast<uint8_t>((bit >> 3) + 7 - k);
    }
    layout.shift[lane] = bit & 7;
  }
  return layout;
}

// Rows whose every 64-byte window of every rank lies in `size` bytes.
uint32_t safe_rows(std::size_t size, const WideRank* ranks, std::size_t width, uint32_t subsets) {
  uint64_t rows = subsets & ~uint32_t{7};
  for (std::size_t r = 0; r < width && rows > 0; ++r) {
    const WideRank& rank = ranks[r];
    if (rank.bits == 0) continue;
    if (size < 64 || rank.at > (size - 64) * 8 + 7) return 0;
    // The last block may start at subset `last`; blocks start every 8 subsets.
    const uint64_t last = ((size - 64) * 8 + 7 - rank.at) / rank.bits;
    rows = std::min<uint64_t>(rows, (last / 8 + 1) * 8);
  }
  return static_cast<uint32_t>(rows);
}

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
TARNWEL_WIDE inline __m512d rank_numbers(const uint8_t* data, const WideRank& rank,
                                         const RankLayout& layout, uint32_t s) {
  if (rank.bits == 0) return _mm512_set1_pd(rank.number);
  const uint64_t first_byte = (rank.at + uint64_t{s} * rank.bits) >> 3;
  const __m512i window = _mm512_loadu_si512(data + first_byte);
  __m512i word = _mm512_permutexvar_epi8(_mm512_load_si512(layout.order), window);
  word = _mm512_sllv_epi64(word, _mm512_load_si512(layout.shift));
  word = _mm512_srlv_epi64(word, _mm512_set1_epi64(64 - rank.bits));
  const __m512i bias = _mm512_set1_epi64(static_cast<long long>(rank.bias));
  const __m512i biased = _mm512_add_epi64(word, bias);
  const __m512d sum = _mm512_sub_pd(_mm512_castsi512_pd(biased), _mm512_set1_pd(kBiasDouble));
  const __m512d number = _mm512_div_pd(sum, _mm512_set1_pd(rank.divisor));
  if (!rank.missing_allowed) return number;
  const __mmask8 missing =
      _mm512_cmpeq_epi64_mask(word, _mm512_set1_epi64(static_cast<long long>(rank.missing)));
  return _mm512_mask_blend_pd(missing, number,
                              _mm512_set1_pd(std::numeric_limits<double>::quiet_NaN()));
}

TARNWEL_WIDE void grid_rows(const uint8_t* data, const WideRank* ranks, const RankLayout* layouts,
                            std::size_t width, uint32_t rows, double* cells) {
  __m512d v[8];
  for (uint32_t s = 0; s < rows; s += 8) {
    double* block = cells + std::size_t{s} * width;
    for (std::size_t first = 0; first < width; first += 8) {
      const std::size_t group = std::min<std::size_t>(8, width - first);
      for (std::size_t k = 0; k < 8; ++k) {
        v[k] = k < group ? rank_numbers(data, ranks[first + k], layouts[first + k], s)
                         : _mm512_setzero_pd();
      }
      transpose8(v);
      const auto keep = static_cast<__mmask8>((1u << group) - 1);
      for (std::size_t j = 0; j < 8; ++j) {
        _mm512_mask_storeu_pd(block + j * width + first, keep, v[j]);
      }
    }
  }
}

TARNWEL_WIDE void column_blocks(const uint8_t* data, const WideRank& rank,
                                const RankLayout& layout, uint32_t count, double* cells) {
  for (uint32_t s = 0; s < count; s += 8) {
    _mm512_storeu_pd(cells + s, rank_numbers(data, rank, layout, s));
  }
}

bool available() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi");
  return has;
}

}  // namespace

uint32_t wide_column(const uint8_t* data, std::size_t size, const WideRank& rank, uint32_t count,
                     double* cells) {
  if (!available()) return 0;
  const uint32_t rows = safe_rows(size, &rank, 1, count);
  if (rows == 0) return 0;
  const RankLayout layout = layout_of(rank);
  column_blocks(data, rank, layout, rows, cells);
  return rows;
}

uint32_t wide_grid_rows(const uint8_t* data, std::size_t size, const WideRank* ranks,
                        std::size_t width, uint32_t subsets, double* cells) {
  if (!available()) return 0;
  const uint32_t rows = safe_rows(size, ranks, width, subsets);
  if (rows == 0) return 0;
  std::vector<RankLayout> layouts(width);
  for (std::size_t r = 0; r < width; ++r) {
    if (ranks[r].bits != 0) layouts[r] = layout_of(ranks[r]);
  }
  grid_rows(data, ranks, layouts.data(), width, rows, cells);
  return rows;
}

}  // namespace tarnwel

#else

namespace tarnwel {

uint32_t wide_grid_rows(const uint8_t*, std::size_t, const WideRank*, std::size_t, uint32_t,
                        double*) {
  return 0;
}

uint32_t wide_column(const uint8_t*, std::size_t, const WideRank&, uint32_t, double*) { return 0; }

}  // namespace tarnwel

#endif
