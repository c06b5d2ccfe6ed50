// Blocks of increments to numbers, built for the widest vectors the processor has.
#include "decode/increment_numbers.hpp"

#include <bit>
#include <limits>

namespace tarnwel {
namespace {

// Division is exact at every vector width, so these loops are built for wider
// vectors too and the widest the processor has is chosen on first use: the divide
// is what bounds them. Chosen at run time, not by the loader, so that nothing runs
// before the program (and a sanitizer's runtime) has started.
#define TARNWEL_INLINE inline __attribute__((always_inline))

TARNWEL_INLINE void biased_loop(const uint64_t* increments, uint32_t n, uint64_t bias,
                                double divisor, double* out) {
  for (uint32_t j = 0; j < n; ++j) {
    out[j] = (std::bit_cast<double>(increments[j] + bias) - kBiasDouble) / divisor;
  }
}

TARNWEL_INLINE void converted_loop(const uint64_t* increments, uint32_t n, int64_t offset,
                                   double divisor, double* out) {
  for (uint32_t j = 0; j < n; ++j) {
    out[j] = static_cast<double>(offset + static_cast<int64_t>(increments[j])) / divisor;
  }
}

TARNWEL_INLINE void missing_loop(const uint64_t* increments, uint32_t n, uint64_t missing,
                                 double* out) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (uint32_t j = 0; j < n; ++j) out[j] = increments[j] == missing ? nan : out[j];
}

struct QuotientLoops {
  void (*biased)(const uint64_t*, uint32_t, uint64_t, double, double*);
  void (*converted)(const uint64_t*, uint32_t, int64_t, double, double*);
  void (*missing)(const uint64_t*, uint32_t, uint64_t, double*);
};

// The loops built for one target; the inlined bodies take its vector width.
#define TARNWEL_QUOTIENT_LOOPS(name, attributes)                                                \
  attributes void name##_biased(const uint64_t* i, uint32_t n, uint64_t b, double d, double* o) { \
    biased_loop(i, n, b, d, o);                                                                 \
  }                                                                                             \
  attributes void name##_converted(const uint64_t* i, uint32_t n, int64_t f, double d,          \
                                   double* o) {                                                 \
    converted_loop(i, n, f, d, o);                                                              \
  }                                                                                             \
  attributes void name##_missing(const uint64_t* i, uint32_t n, uint64_t m, double* o) {        \
    missing_loop(i, n, m, o);                                                                   \
  }                                                                                             \
  constexpr QuotientLoops name##_loops{name##_biased, name##_converted, name##_missing};

TARNWEL_QUOTIENT_LOOPS(plain, )

#if defined(__x86_64__) && defined(__GNUC__)
TARNWEL_QUOTIENT_LOOPS(avx2, __attribute__((target("avx2"))))
TARNWEL_QUOTIENT_LOOPS(avx512, __attribute__((target("avx512f"))))

const QuotientLoops& chosen_loops() {
  static const QuotientLoops& loops = __builtin_cpu_supports("avx512f") ? avx512_loops
                                      : __builtin_cpu_supports("avx2")  ? avx2_loops
                                                                        : plain_loops;
  return loops;
}
#else
const QuotientLoops& chosen_loops() { return plain_loops; }
#endif

}  // namespace

void increments_to_numbers(const uint64_t* increments, uint32_t n, const IncrementScale& scale,
                           double* out) {
  const QuotientLoops& loops = chosen_loops();
  if (converts_by_bias(scale.offset, scale.missing)) {
    loops.biased(increments, n, bias_bits(scale.offset), scale.divisor, out);
  } else {
    loops.converted(increments, n, scale.offset, scale.divisor, out);
  }
  if (scale.missing_allowed) loops.missing(increments, n, scale.missing, out);
}

}  // namespace tarnwel
