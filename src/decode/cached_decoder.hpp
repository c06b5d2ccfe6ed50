// Section 4 decodes of message after message with one cache of table entries between them.
#pragma once

#include <optional>

#include "decode/decode_limits.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"
#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// As decode_section4, without filling a new cache of table entries for every
// message: messages of one kind use the same few hundred entries, and filling
// them costs about as much as decoding. Use from one thread at a time.
class CachedDecoder {
 public:
  explicit CachedDecoder(const TableSet& tables) : tables_(tables) {}

  const TableSet& tables() const { return tables_; }
  Result<DecodedResult> decode(const BufrMessage& message, ByteView section4_data,
                               const DecodeOptions& options);

 private:
  const TableSet& tables_;
  // Unknown local codes are reported by the cache that first meets them, so a
  // cache that has met some (or failed) is dropped and the next decode gets a fresh one.
  std::optional<DescriptorCache> cache_;
};

}  // namespace tarnwel
