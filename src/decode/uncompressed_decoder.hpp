// The descriptor walk over uncompressed data, one subset after another.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decode_state.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

// Every subset walks the whole descriptor list from the reader's running position.
Result<DecodedResult> decode_uncompressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                          DescriptorCache& cache, BitReader& reader,
                                          const DecodeOptions& options);

}  // namespace tarnwel
