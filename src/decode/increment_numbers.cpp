// Blocks of increments to numbers, built for the widest vectors the processor has.
#include "decode/increment_numbers.hpp"

#include <bit>
#include <limits>

namespace tarnwel {
namespace {

// Division is exact at every vector width, so these loops are built for wider
// vectors too and the loader picks the widest the processor has: the divide is
// what bounds them.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define TARNWEL_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TARNWEL_VECTOR_CLONES
#endif

TARNWEL_VECTOR_CLONES
void biased_quotients(const uint64_t* increments, uint32_t n, uint64_t bias, double divisor,
                      double* out) {
  for (uint32_t j = 0; j < n; ++j) {
    out[j] = (std::bit_cast<double>(increments[j] + bias) - kBiasDouble) / divisor;
  }
}

TARNWEL_VECTOR_CLONES
void converted_quotients(const uint64_t* increments, uint32_t n, int64_t offset, double divisor,
                         double* out) {
  for (uint32_t j = 0; j < n; ++j) {
    out[j] = static_cast<double>(offset + static_cast<int64_t>(increments[j])) / divisor;
  }
}

TARNWEL_VECTOR_CLONES
void mark_missing(const uint64_t* increments, uint32_t n, uint64_t missing, double* out) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (uint32_t j = 0; j < n; ++j) out[j] = increments[j] == missing ? nan : out[j];
}

}  // namespace

void increments_to_numbers(const uint64_t* increments, uint32_t n, const IncrementScale& scale,
                           double* out) {
  if (converts_by_bias(scale.offset, scale.missing)) {
    biased_quotients(increments, n, bias_bits(scale.offset), scale.divisor, out);
  } else {
    converted_quotients(increments, n, scale.offset, scale.divisor, out);
  }
  if (scale.missing_allowed) mark_missing(increments, n, scale.missing, out);
}

}  // namespace tarnwel
