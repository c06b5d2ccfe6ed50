// Section 4 decodes with one TableSet that reuse their caches of table entries.
#include "decode/decoder_pool.hpp"

#include "decode/section4_decoder.hpp"

namespace tarnwel {

Result<DecodedResult> DecoderPool::Lease::decode(const BufrMessage& message,
                                                 ByteView section4_data,
                                                 const DecodeOptions& options) {
  Result<DecodedResult> decoded = decode_section4(message, *cache_, section4_data, options);
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
