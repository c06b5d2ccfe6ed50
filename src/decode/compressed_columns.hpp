// Compressed data items (R0, NBINC, increments) as columns of one value per subset.
#pragma once

#include <cstdint>
#include <vector>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_state.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

class ColumnSet {
 public:
  // Items go to `result`, which reads their increments from `reader`'s data later.
  ColumnSet(BitReader& reader, DecodedResult& result, const DecodeOptions& options)
      : reader_(reader), result_(result), subsets_(result.subsets()), options_(options) {}

  uint32_t subsets() const { return subsets_; }
  std::size_t size() const { return result_.items().size(); }

  // A Table B element under the operators in force.
  Status element(const ElementInfo& element, DecodeState& state);
  // An associated field: numeric, no reference, no scale, never missing.
  Status associated_field(uint32_t width);
  // A string item of `width` bits, numbered from the state's text counter.
  Status text(uint32_t width, const std::string* name, uint32_t code, DecodeState& state);
  // One "operator" record per subset.
  Status marker(uint32_t code);

  // Whether R0 plus each increment of numeric `column` still fits in `width` bits.
  bool fits_width(std::size_t column, uint32_t width) const;

  // The value of `subset` (0-based) in `column`.
  DecodedValue value(std::size_t column, uint32_t subset) const {
    MeaningMemo memo;
    return result_.item_value(column, subset, memo);
  }

 private:
  struct NumberItem {
    const CodeTable* code_table;
    const std::string* name;
    uint32_t code;
    uint32_t width;
    int64_t reference;
    double divisor;
    bool missing_allowed;
  };

  Status number(const NumberItem& item);
  Status add(const CompressedItem& column);
  Result<uint64_t> increment_width();
  Status skip_increments(uint64_t increment_bits);

  BitReader& reader_;
  DecodedResult& result_;
  uint32_t subsets_;
  const DecodeOptions& options_;
};

}  // namespace tarnwel
