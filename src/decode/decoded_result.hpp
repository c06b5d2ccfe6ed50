// One columnar result of a section 4 decode, for both layouts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoded_value.hpp"
#include "decode/element_cache.hpp"
#include "decode/string_ids.hpp"
#include "decode/value_columns.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

struct WideRank;

// One compressed data item for all subsets. Numeric increments stay in the data
// and are read when a value is asked for, so each value is built once, in its
// final place (a list entry, an array cell).
struct CompressedItem {
  enum class Kind : uint8_t {
    kUniform,     // every subset has `value`
    kIncrements,  // R0 plus one increment per subset
    kStored,      // per-subset values built while reading (strings)
  };
  Kind kind = Kind::kUniform;
  uint8_t increment_bits = 0;
  bool missing_allowed = false;
  DecodedValue value;  // kUniform: the value; otherwise its name and descriptor
  uint64_t base = 0;
  uint64_t increments_at = 0;  // bit position of the first increment
  int64_t reference = 0;
  double divisor = 1.0;
  const CodeTable* code_table = nullptr;
  std::size_t stored_at = 0;  // kStored: first of the item's values in `stored`
};

// Uncompressed data: every value, subset after subset, with where each subset
// starts. Compressed data: its items, kept as columns over the section 4 bits,
// which the result borrows (so it must not outlive the message bytes). Names and
// meanings borrow from the TableSet of the decode.
class DecodedResult {
 public:
  DecodedResult(uint32_t subsets, bool compressed) : subsets_(subsets), compressed_(compressed) {}

  uint32_t subsets() const { return subsets_; }
  bool compressed() const { return compressed_; }
  // Number of values in the flat list.
  std::size_t size() const {
    return compressed_ ? items_.size() * uint64_t{subsets_} : values_.size();
  }

  // --- writing (uncompressed)
  void append(const DecodedValue& value);
  // As append, with the id of value.name already known (from name_id).
  void append(const DecodedValue& value, uint32_t name_id);
  // A number or a missing number of an element: the fields a record would carry.
  void append_number(double number, uint64_t raw, const ElementInfo& element,
                     const std::string* meaning, uint8_t flags) {
    values_.append(number, raw, element.code, name_id(element), meaning_id(element, meaning), 0,
                   flags);
  }
  // The id of an element's name, remembered in the element: an id is only
  // trusted when it names the same string here, so a stale one is never used.
  uint32_t name_id(const ElementInfo& element) {
    if (element.name_id >= strings_.size() || strings_.pointer(element.name_id) != element.name) {
      element.name_id = strings_.intern(element.name);
    }
    return element.name_id;
  }
  // Likewise the id of the element's last meaning: coded values repeat from subset to subset.
  uint32_t meaning_id(const ElementInfo& element, const std::string* meaning) {
    if (meaning == nullptr) return kNoId;
    if (element.memo.meaning_id >= strings_.size() ||
        strings_.pointer(element.memo.meaning_id) != meaning) {
      element.memo.meaning_id = strings_.intern(meaning);
    }
    return element.memo.meaning_id;
  }
  void start_subset() { subset_starts_.push_back(values_.size()); }
  void reserve(std::size_t count) { values_.reserve(count); }

  // --- writing (compressed)
  std::vector<CompressedItem>& items() { return items_; }
  std::vector<DecodedValue>& stored() { return stored_; }
  void set_bits(ByteView bits) { bits_ = bits; }

  // Elements stepped over after 2 06 YYY because no table has them.
  void set_unknown_local_codes(std::vector<uint32_t> codes) { unknown_local_ = std::move(codes); }
  const std::vector<uint32_t>& unknown_local_codes() const { return unknown_local_; }

  // --- texts, shared by both
  std::string& text_bytes() { return text_bytes_; }
  // Records the bytes from `start` to the end of text_bytes as a new text.
  uint32_t add_text(std::size_t start) {
    text_spans_.push_back({start, text_bytes_.size() - start});
    return static_cast<uint32_t>(text_spans_.size() - 1);
  }
  std::string_view text(uint32_t index) const {
    const TextSpan& span = text_spans_[index];
    return std::string_view(text_bytes_).substr(span.offset, span.size);
  }
  std::size_t text_count() const { return text_spans_.size(); }

  // --- reading
  const ValueColumns& values() const { return values_; }
  const StringIds& strings() const { return strings_; }
  // First value of uncompressed subset `subset` (0-based; `subsets()` gives the end).
  std::size_t subset_start(uint32_t subset) const {
    return subset < subset_starts_.size() ? subset_starts_[subset] : values_.size();
  }
  const std::vector<CompressedItem>& items() const { return items_; }
  // The value of `subset` in compressed item `item`.
  DecodedValue item_value(std::size_t item, uint32_t subset, MeaningMemo& memo) const;
  // The number cells of a compressed item for every subset; NaN where missing.
  void item_numbers(std::size_t item, double* out, std::size_t stride) const {
    item_numbers(item, out, stride, 0, subsets_);
  }
  // The same for subsets [first, first + count), the first of them at `out`.
  void item_numbers(std::size_t item, double* out, std::size_t stride, uint32_t first,
                    uint32_t count) const;
  // Fills a grid of subsets × `width` number cells from the compressed items of one
  // column, `items[r]` being the item of rank r.
  void grid_numbers(std::span<const std::size_t> items, double* cells) const;
  // Uncompressed value `index` as a record.
  DecodedValue value(std::size_t index) const;

  // Calls `visit(const DecodedValue&)` for every value of the flat list, in order.
  template <class Visit>
  void for_each_flat(Visit&& visit) const {
    if (!compressed_) {
      for (std::size_t i = 0; i < values_.size(); ++i) visit(value(i));
      return;
    }
    std::vector<MeaningMemo> memos(items_.size());
    for (uint32_t subset = 0; subset < subsets_; ++subset) {
      for (std::size_t item = 0; item < items_.size(); ++item) {
        visit(item_value(item, subset, memos[item]));
      }
    }
  }
  // The flat list as records (for tools and tests; the module builds from the columns).
  DecodedValues flat() const;

 private:
  void read_increments(uint64_t at, uint32_t bits, uint32_t n, uint64_t* out) const;
  bool wide_ranks(std::span<const std::size_t> items, std::vector<WideRank>& ranks) const;

  uint32_t subsets_;
  bool compressed_;
  ValueColumns values_;
  std::vector<uint64_t> subset_starts_;
  std::vector<CompressedItem> items_;
  std::vector<DecodedValue> stored_;
  ByteView bits_;
  StringIds strings_;
  std::string text_bytes_;
  std::vector<TextSpan> text_spans_;
  std::vector<uint32_t> unknown_local_;
};

}  // namespace tarnwel
