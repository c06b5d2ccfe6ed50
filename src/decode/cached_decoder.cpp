// Section 4 decodes of message after message with one cache of table entries between them.
#include "decode/cached_decoder.hpp"

#include "bitstream/bit_reader.hpp"
#include "decode/compressed_decoder.hpp"
#include "decode/uncompressed_decoder.hpp"

namespace tarnwel {

Result<DecodedResult> CachedDecoder::decode(const BufrMessage& message, ByteView section4_data,
                                            const DecodeOptions& options) {
  if (!cache_) cache_.emplace(tables_);
  BitReader reader(section4_data);
  Result<DecodedResult> decoded =
      message.compressed_data
          ? decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, *cache_,
                              reader, options)
          : decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets,
                                *cache_, reader, options);
  if (decoded) decoded->set_unknown_local_codes(cache_->unknown_local_codes());
  if (!decoded || !cache_->unknown_local_codes().empty()) cache_.reset();
  return decoded;
}

}  // namespace tarnwel
