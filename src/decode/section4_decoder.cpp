// Entry point of data decoding: chooses the uncompressed or the compressed decoder.
#include "decode/section4_decoder.hpp"

#include "bitstream/bit_reader.hpp"
#include "decode/compressed_decoder.hpp"
#include "decode/element_cache.hpp"
#include "decode/uncompressed_decoder.hpp"

namespace tarnwel {

Result<DecodedResult> decode_section4(const BufrMessage& message, const TableSet& tables,
                                      ByteView section4_data, const ValueBudget& values) {
  BitReader reader(section4_data);
  DescriptorCache cache(tables);
  if (message.compressed_data) {
    return decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, cache,
                             reader, values);
  }
  return decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets, cache,
                             reader, values);
}

}  // namespace tarnwel
