// Section 4 decodes with one TableSet that reuse their caches of table entries.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "decode/decode_limits.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"
#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// As decode_section4, without filling a new cache of table entries for every
// message: messages of one kind use the same few hundred entries, and filling
// them costs about as much as decoding a small message. Safe to share between
// threads: each decode leases an idle cache (or a fresh one) for itself.
class DecoderPool {
 public:
  // One thread's cache until the lease ends; steps after the decode that look up
  // the same entries (key columns) use it too.
  class Lease {
   public:
    Lease(DecoderPool& pool, std::unique_ptr<DescriptorCache> cache)
        : pool_(pool), cache_(std::move(cache)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (reusable_) pool_.give_back(std::move(cache_));
    }

    DescriptorCache& cache() { return *cache_; }
    Result<DecodedResult> decode(const BufrMessage& message, ByteView section4_data,
                                 const DecodeOptions& options = {});

   private:
    DecoderPool& pool_;
    std::unique_ptr<DescriptorCache> cache_;
    bool reusable_ = true;
  };

  explicit DecoderPool(const TableSet& tables) : tables_(tables) {}
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;

  const TableSet& tables() const { return tables_; }
  Lease lease();
  Result<DecodedResult> decode(const BufrMessage& message, ByteView section4_data,
                               const DecodeOptions& options = {}) {
    return lease().decode(message, section4_data, options);
  }

 private:
  // More idle caches than threads that decode at once would only hold memory.
  static constexpr std::size_t kMaxIdle = 8;

  void give_back(std::unique_ptr<DescriptorCache> cache);

  const TableSet& tables_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<DescriptorCache>> idle_;
};

}  // namespace tarnwel
