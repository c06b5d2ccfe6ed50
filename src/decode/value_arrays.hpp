// Decoded values grouped by element into one cell grid per element: subsets × occurrences.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"
#include "decode/pooled_array.hpp"

namespace tarnwel {

// One array of the grid: every value of one element (or of the associated field
// in front of it) in every subset, by occurrence within the subset.
struct ArrayColumn {
  // The element's key, else its six-digit code; see ArrayPlan. Borrowed from the
  // tables or from the plan, which both outlive the column.
  std::string_view name;
  uint32_t descriptor = 0;
  bool associated = false;  // "<name>->associatedField"
  bool text = false;
  uint32_t width = 0;  // most occurrences in one subset
};

// Which column and occurrence each value of a decode falls into. Markers fall
// into none. Columns are told apart by descriptor, never by key alone: where
// two descriptors of a message share a key (005001 and 005002 are both
// "latitude"), the first one met keeps the key and the others are named by
// their six-digit code, so different elements are never merged.
class ArrayPlan {
 public:
  // `tables` is a cache of the decode's tables (the decode's own is warm).
  ArrayPlan(const DecodedResult& decoded, DescriptorCache& tables);

  const std::vector<ArrayColumn>& columns() const { return columns_; }
  uint32_t subsets() const { return subsets_; }

  // Fills the cells of the columns given a buffer: numbers[c] holds subsets ×
  // width doubles for a number column, texts[c] as many text ids for a text
  // column; a null pointer skips the column. Cells without a value become NaN or
  // kNoId, missing values too.
  void fill(const DecodedResult& decoded, std::span<double* const> numbers,
            std::span<uint32_t* const> texts) const;

  // One row per value but markers, in flat-list order.
  struct LongRows {
    uint32_t* subset;
    uint32_t* column;
    uint32_t* rank;  // 1 for a first occurrence in its subset
    uint32_t* descriptor;
    double* number;  // NaN for texts and missing numbers
    uint32_t* text;  // kNoId for numbers and missing texts
  };
  std::size_t long_row_count() const { return long_rows_; }
  void fill_long(const DecodedResult& decoded, const LongRows& rows) const;

 private:
  class OccurrenceCounter;

  uint32_t column_for(DescriptorCache& tables, uint32_t descriptor, const std::string* name,
                      bool associated, bool text);
  // The slot holding `key`, else the empty slot where it would go.
  std::size_t find_slot(uint64_t key) const;
  uint32_t add_column(std::size_t slot, DescriptorCache& tables, uint32_t descriptor,
                      const std::string* name, bool associated, bool text);
  // Room for the places of `count` values or items; std::bad_alloc without it.
  void allocate_places(std::size_t count);
  void place_uncompressed(const DecodedResult& decoded, DescriptorCache& tables);
  void fill_uncompressed(const DecodedResult& decoded, std::span<double* const> numbers,
                         std::span<uint32_t* const> texts) const;
  void place_value(const DecodedResult& decoded, DescriptorCache& tables, std::size_t i,
                   std::size_t end, OccurrenceCounter& counter);
  std::string_view new_name(DescriptorCache& tables, uint32_t descriptor, const std::string* name,
                            bool associated);
  std::string_view own(std::string name) { return owned_names_.emplace_back(std::move(name)); }
  bool taken(std::string_view name) const;
  void grow_slots();

  uint32_t subsets_;
  std::vector<ArrayColumn> columns_;
  // Per value (uncompressed) or per item (compressed): column and occurrence, in
  // pooled memory, which a large message's plan would otherwise first touch.
  PooledArray<uint32_t> column_of_;
  PooledArray<uint32_t> rank_of_;
  std::size_t places_ = 0;
  std::size_t long_rows_ = 0;
  // Column lookup by descriptor and association, and by name (column + 1, 0
  // for none), both open addressing in tables of the same size.
  std::vector<uint64_t> slot_keys_;
  std::vector<uint32_t> slot_columns_;
  std::vector<uint32_t> name_slots_;
  // Names no table holds (codes, associated-field names); a deque never moves
  // them, so the columns' views stay valid.
  std::deque<std::string> owned_names_;
};

}  // namespace tarnwel
