// The descriptor walk over compressed data: every item once for all subsets, then reordered by subset.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

Result<DecodedResult> decode_compressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                        DescriptorCache& cache, BitReader& reader,
                                        const DecodeOptions& options);

}  // namespace tarnwel
