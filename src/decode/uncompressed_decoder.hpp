// The descriptor walk over uncompressed data, one subset after another.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decode_state.hpp"
#include "decode/decoded_value.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

// Every subset walks the whole descriptor list from the reader's running position.
Result<DecodedValues> decode_uncompressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                          DescriptorCache& cache, BitReader& reader);

// Walks `descriptors` for one subset at nesting level `depth` (0 for section 3),
// appending to `out` and changing `state`.
Status decode_subset(std::span<const uint32_t> descriptors, DescriptorCache& cache,
                     BitReader& reader, DecodeState& state, DecodedValues& out,
                     WorkBudget& budget, unsigned depth);

}  // namespace tarnwel
