// Compressed data items (R0, NBINC, increments) as columns of one value per subset.
#pragma once

#include <cstdint>
#include <vector>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_state.hpp"
#include "decode/decoded_value.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

// One data item for all subsets. Numeric increments stay in the data and are
// read when the values are laid out by subset, so each value is built once,
// in its final place.
struct Column {
  enum class Kind : uint8_t {
    kUniform,     // every subset has `value`
    kIncrements,  // R0 plus one increment per subset
    kStored,      // per-subset values built while reading (strings)
  };
  Kind kind = Kind::kUniform;
  uint8_t increment_bits = 0;
  bool missing_allowed = false;
  DecodedValue value;  // kUniform: the value; kIncrements: name and descriptor
  uint64_t base = 0;
  uint64_t increments_at = 0;  // bit position of the first increment
  int64_t reference = 0;
  double divisor = 1.0;
  const CodeTable* code_table = nullptr;
  std::size_t stored_at = 0;  // kStored: first of the column's values in `stored`
};

class ColumnSet {
 public:
  ColumnSet(BitReader& reader, DecodedValues& texts, uint32_t subsets)
      : reader_(reader), texts_(texts), subsets_(subsets) {}

  uint32_t subsets() const { return subsets_; }
  std::size_t size() const { return columns_.size(); }

  // A Table B element under the operators in force.
  Status element(const ElementInfo& element, DecodeState& state);
  // An associated field: numeric, no reference, no scale, never missing.
  Status associated_field(uint32_t width);
  // A string item of `width` bits, numbered from the state's text counter.
  Status text(uint32_t width, const std::string* name, uint32_t code, DecodeState& state);
  // One "operator" record per subset.
  Status marker(uint32_t code);

  // The value of `subset` (0-based) in `column`.
  DecodedValue value(std::size_t column, uint32_t subset) const;
  // Every value, subset 1's columns first, then subset 2's, and so on.
  std::vector<DecodedValue> by_subset() const;

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
  Status add(Column column);
  Result<uint64_t> increment_width();
  Status skip_increments(uint64_t increment_bits);

  BitReader& reader_;
  DecodedValues& texts_;
  uint32_t subsets_;
  std::vector<Column> columns_;
  std::vector<DecodedValue> stored_;
};

}  // namespace tarnwel
