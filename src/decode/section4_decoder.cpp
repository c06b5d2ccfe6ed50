// Entry point of data decoding: chooses the uncompressed or the compressed decoder.
#include "decode/section4_decoder.hpp"

#include "bitstream/bit_reader.hpp"
#include "decode/compressed_decoder.hpp"
#include "decode/element_cache.hpp"
#include "decode/uncompressed_decoder.hpp"

namespace tarnwel {

Result<DecodedResult> decode_section4(const BufrMessage& message, const TableSet& tables,
                                      ByteView section4_data, const DecodeOptions& options) {
  DescriptorCache cache(tables);
  return decode_section4(message, cache, section4_data, options);
}

Result<DecodedResult> decode_section4(const BufrMessage& message, DescriptorCache& cache,
                                      ByteView section4_data, const DecodeOptions& options) {
  BitReader reader(section4_data);
  Result<DecodedResult> decoded =
      message.compressed_data
          ? decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, cache,
                              reader, options)
          : decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets, cache,
                                reader, options);
  if (decoded) decoded->set_unknown_local_codes(cache.unknown_local_codes());
  return decoded;
}

}  // namespace tarnwel
