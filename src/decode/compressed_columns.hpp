// Reading one compressed data item (R0, NBINC, increments) into a column of one value per subset.
#pragma once

#include <cstdint>

#include "bitstream/bit_reader.hpp"
#include "decode/decode_state.hpp"
#include "decode/decoded_value.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

// Appends columns back to back to `out.values`: column c holds entries c × n to
// c × n + n - 1, entry i belonging to subset i + 1.
class ColumnReader {
 public:
  ColumnReader(BitReader& reader, DecodedValues& out, uint32_t subsets)
      : reader_(reader), out_(out), subsets_(subsets) {}

  uint32_t subsets() const { return subsets_; }
  std::size_t column_count() const { return subsets_ == 0 ? 0 : out_.values.size() / subsets_; }

  // A Table B element under the operators in force.
  Status element(const ElementInfo& element, DecodeState& state);
  // An associated field: numeric, no reference, no scale, never missing.
  Status associated_field(uint32_t width);
  // A string item of `width` bits; numbered from the state's text counter.
  Status text(uint32_t width, const std::string* name, uint32_t code, DecodeState& state);
  // One "operator" record per subset.
  Status marker(uint32_t code);

 private:
  struct NumberItem {
    const ElementInfo* meanings;  // nullptr: no meaning lookup
    const std::string* name;
    uint32_t code;
    uint32_t width;
    int64_t reference;
    double divisor;
    bool missing_allowed;
  };

  Status number(const NumberItem& item);
  Result<uint64_t> increment_width();
  Status make_room();
  void fill_increments(const NumberItem& item, uint64_t base, uint32_t increment_bits);

  BitReader& reader_;
  DecodedValues& out_;
  uint32_t subsets_;
};

}  // namespace tarnwel
