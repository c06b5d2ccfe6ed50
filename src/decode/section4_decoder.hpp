// Entry point of data decoding: the section 4 data of one message into its flat list of values.
#pragma once

#include "decode/decode_limits.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"
#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// Decodes `section4_data` (the octets after the section 4 header) with the
// message's descriptors and subset count, uncompressed or compressed as its flag
// says. The result borrows names and meanings from `tables`, and a compressed
// one its increments from `section4_data`. Touches nothing but its arguments, so
// decodes may run on many threads with one shared TableSet.
Result<DecodedResult> decode_section4(const BufrMessage& message, const TableSet& tables,
                                      ByteView section4_data, const DecodeOptions& options = {});

// As decode_section4 with the given cache of table entries (see DecoderPool).
Result<DecodedResult> decode_section4(const BufrMessage& message, DescriptorCache& cache,
                                      ByteView section4_data, const DecodeOptions& options);

}  // namespace tarnwel
