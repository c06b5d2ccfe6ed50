// Section 4 decodes with one TableSet that reuse their caches of table entries.
#include "decode/decoder_pool.hpp"

#include "bitstream/bit_reader.hpp"
#include "decode/compressed_decoder.hpp"
#include "decode/uncompressed_decoder.hpp"

namespace tarnwel {

Result<DecodedResult> DecoderPool::Lease::decode(const BufrMessage& message,
                                                 ByteView section4_data,
                                                 const DecodeOptions& options) {
  BitReader reader(section4_data);
  Result<DecodedResult> decoded =
      message.compressed_data
          ? decode_compressed(message.unexpanded_descriptors, message.number_of_subsets, *cache_,
                              reader, options)
          : decode_uncompressed(message.unexpanded_descriptors, message.number_of_subsets,
                                *cache_, reader, options);
  if (decoded) decoded->set_unknown_local_codes(cache_->unknown_local_codes());
  // Unknown local codes are reported by the cache that first meets them, so a
  // cache that has met some (or failed) is dropped and a later decode gets a fresh one.
  if (!decoded || !cache_->unknown_local_codes().empty()) reusable_ = false;
  return decoded;
}

DecoderPool::Lease DecoderPool::lease() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<DescriptorCache> cache = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(cache));
    }
  }
  return Lease(*this, std::make_unique<DescriptorCache>(tables_));
}

void DecoderPool::give_back(std::unique_ptr<DescriptorCache> cache) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() < kMaxIdle) idle_.push_back(std::move(cache));
}

}  // namespace tarnwel
