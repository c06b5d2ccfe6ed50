// Decoded values grouped by element into one cell grid per element: subsets × occurrences.
#include "decode/value_arrays.hpp"

#include <algorithm>
#include <functional>
#include <limits>

#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

constexpr uint64_t kEmptySlot = std::numeric_limits<uint64_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Room for the columns of most messages before the lookup tables grow.
constexpr std::size_t kFirstSlots = 256;

std::size_t descriptor_slot(uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & mask;
}

std::size_t name_slot(std::string_view name, std::size_t mask) {
  return std::hash<std::string_view>{}(name) & mask;
}

// Counts occurrences per column within one subset (or one compressed message).
class OccurrenceCounter {
 public:
  uint32_t next(uint32_t column) {
    if (column >= counts_.size()) counts_.resize(column + 1, 0);
    if (counts_[column] == 0) touched_.push_back(column);
    return counts_[column]++;
  }
  void reset() {
    for (uint32_t column : touched_) counts_[column] = 0;
    touched_.clear();
  }

 private:
  std::vector<uint32_t> counts_;
  std::vector<uint32_t> touched_;
};

}  // namespace

bool ArrayPlan::taken(std::string_view name) const {
  const std::size_t mask = name_slots_.size() - 1;
  for (std::size_t i = name_slot(name, mask); name_slots_[i] != 0; i = (i + 1) & mask) {
    if (columns_[name_slots_[i] - 1].name == name) return true;
  }
  return false;
}

// The name of a new column: the element's key (else its code, or the record
// name of data no Table B entry describes), by its code where another column
// already has that name.
std::string_view ArrayPlan::new_name(DescriptorCache& tables, uint32_t descriptor,
                                     const std::string* name, bool associated) {
  constexpr std::string_view kSuffix = "->associatedField";
  std::string_view base;
  const ElementInfo* element = tables.element(descriptor);
  if (element != nullptr && !element->abbreviation->empty()) {
    base = *element->abbreviation;
  } else if (element == nullptr && descriptor_f(descriptor) != 0 && name != nullptr) {
    base = own(*name);
  } else {
    base = own(format_code(descriptor));
  }
  std::string_view candidate = associated ? own(std::string(base).append(kSuffix)) : base;
  if (!taken(candidate)) return candidate;
  candidate = own(format_code(descriptor).append(associated ? kSuffix : ""));
  for (int n = 2; taken(candidate); ++n) {
    candidate = own(format_code(descriptor) + "_" + std::to_string(n) +
                    std::string(associated ? kSuffix : ""));
  }
  return candidate;
}

// Both lookup tables into twice the room.
void ArrayPlan::grow_slots() {
  std::vector<uint64_t> keys(slot_keys_.size() * 2, kEmptySlot);
  std::vector<uint32_t> values(keys.size());
  std::vector<uint32_t> names(keys.size(), 0);
  const std::size_t mask = keys.size() - 1;
  for (std::size_t s = 0; s < slot_keys_.size(); ++s) {
    if (slot_keys_[s] == kEmptySlot) continue;
    std::size_t j = descriptor_slot(slot_keys_[s], mask);
    while (keys[j] != kEmptySlot) j = (j + 1) & mask;
    keys[j] = slot_keys_[s];
    values[j] = slot_columns_[s];
  }
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    std::size_t j = name_slot(columns_[c].name, mask);
    while (names[j] != 0) j = (j + 1) & mask;
    names[j] = static_cast<uint32_t>(c + 1);
  }
  slot_keys_.swap(keys);
  slot_columns_.swap(values);
  name_slots_.swap(names);
}

uint32_t ArrayPlan::column_for(DescriptorCache& tables, uint32_t descriptor,
                               const std::string* name, bool associated, bool text) {
  const uint64_t key = uint64_t{descriptor} << 1 | (associated ? 1 : 0);
  const std::size_t mask = slot_keys_.size() - 1;
  std::size_t i = descriptor_slot(key, mask);
  while (slot_keys_[i] != kEmptySlot) {
    if (slot_keys_[i] == key) return slot_columns_[i];
    i = (i + 1) & mask;
  }
  const std::string_view column_name = new_name(tables, descriptor, name, associated);
  const auto column = static_cast<uint32_t>(columns_.size());
  columns_.push_back({column_name, descriptor, associated, text && !associated, 0});
  slot_keys_[i] = key;
  slot_columns_[i] = column;
  std::size_t j = name_slot(column_name, mask);
  while (name_slots_[j] != 0) j = (j + 1) & mask;
  name_slots_[j] = column + 1;
  if (columns_.size() * 2 > slot_keys_.size()) grow_slots();
  return column;
}

ArrayPlan::ArrayPlan(const DecodedResult& decoded, DescriptorCache& tables)
    : subsets_(decoded.subsets()),
      slot_keys_(kFirstSlots, kEmptySlot),
      slot_columns_(kFirstSlots, 0),
      name_slots_(kFirstSlots, 0) {
  columns_.reserve(kFirstSlots / 2);
  OccurrenceCounter counter;
  // A value's place: its column (an associated field takes the element after
  // it) and its occurrence. Returns false for markers.
  const auto place = [&](const DecodedValue& value, const DecodedValue* next, std::size_t slot) {
    if ((value.flags & kIsMarker) != 0) {
      column_of_[slot] = kNoId;
      return false;
    }
    const bool associated = value.descriptor == kAssociatedFieldCode && next != nullptr;
    const DecodedValue& element = associated ? *next : value;
    const uint32_t column = column_for(tables, element.descriptor, element.name,
                                       associated, (value.flags & kIsText) != 0);
    column_of_[slot] = column;
    rank_of_[slot] = counter.next(column);
    columns_[column].width = std::max(columns_[column].width, rank_of_[slot] + 1);
    return true;
  };
  if (decoded.compressed()) {
    const std::size_t items = decoded.items().size();
    column_of_.resize(items);
    rank_of_.resize(items);
    for (std::size_t k = 0; k < items; ++k) {
      const DecodedValue* next = k + 1 < items ? &decoded.items()[k + 1].value : nullptr;
      if (place(decoded.items()[k].value, next, k)) long_rows_ += decoded.subsets();
    }
    return;
  }
  // Straight from the columns: gathering each value into a record would cost more
  // than placing it.
  const ValueColumns& values = decoded.values();
  const std::size_t count = decoded.size();
  column_of_.resize(count);
  rank_of_.resize(count);
  for (uint32_t s = 0; s < subsets_; ++s) {
    const std::size_t end = decoded.subset_start(s + 1);
    for (std::size_t i = decoded.subset_start(s); i < end; ++i) {
      const uint8_t flags = values.flags[i];
      if ((flags & kIsMarker) != 0) {
        column_of_[i] = kNoId;
        continue;
      }
      const bool associated = values.descriptors[i] == kAssociatedFieldCode && i + 1 < end;
      const std::size_t element = associated ? i + 1 : i;
      const uint32_t column =
          column_for(tables, values.descriptors[element],
                     decoded.strings().pointer(values.names[element]), associated,
                     (flags & kIsText) != 0);
      column_of_[i] = column;
      const uint32_t rank = counter.next(column);
      rank_of_[i] = rank;
      if (rank >= columns_[column].width) columns_[column].width = rank + 1;
      ++long_rows_;
    }
    counter.reset();
  }
}

void ArrayPlan::fill(const DecodedResult& decoded, std::span<double* const> numbers,
                     std::span<uint32_t* const> texts) const {
  // Compressed subsets share one layout: each rank of a column is one item for
  // every subset, so every cell is written below and needs no padding first.
  if (!decoded.compressed()) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::size_t cells = std::size_t{subsets_} * columns_[c].width;
      if (c < numbers.size() && numbers[c] != nullptr) std::fill_n(numbers[c], cells, kNaN);
      if (c < texts.size() && texts[c] != nullptr) std::fill_n(texts[c], cells, kNoId);
    }
  }
  const auto number_cells = [&](uint32_t c) { return c < numbers.size() ? numbers[c] : nullptr; };
  const auto text_cells = [&](uint32_t c) { return c < texts.size() ? texts[c] : nullptr; };
  if (decoded.compressed()) {
    MeaningMemo memo;
    for (std::size_t k = 0; k < column_of_.size(); ++k) {
      const uint32_t c = column_of_[k];
      if (c == kNoId) continue;
      const uint32_t width = columns_[c].width;
      if (double* cells = number_cells(c)) decoded.item_numbers(k, cells + rank_of_[k], width);
      if (uint32_t* cells = text_cells(c)) {
        for (uint32_t s = 0; s < subsets_; ++s) {
          const DecodedValue value = decoded.item_value(k, s, memo);
          cells[std::size_t{s} * width + rank_of_[k]] = value.has_text() ? value.text_index : kNoId;
        }
      }
    }
    return;
  }
  const ValueColumns& values = decoded.values();
  for (uint32_t s = 0; s < subsets_; ++s) {
    const std::size_t end = decoded.subset_start(s + 1);
    for (std::size_t i = decoded.subset_start(s); i < end; ++i) {
      const uint32_t c = column_of_[i];
      if (c == kNoId) continue;
      const std::size_t cell = std::size_t{s} * columns_[c].width + rank_of_[i];
      const uint8_t flags = values.flags[i];
      if (double* cells = number_cells(c)) {
        cells[cell] = (flags & kHasRawValue) != 0 ? values.numbers[i] : kNaN;
      } else if (uint32_t* cells = text_cells(c)) {
        cells[cell] = (flags & kHasText) != 0 ? values.texts[i] : kNoId;
      }
    }
  }
}

void ArrayPlan::fill_long(const DecodedResult& decoded, const LongRows& rows) const {
  std::size_t row = 0;
  const auto put = [&](uint32_t subset, std::size_t slot, const DecodedValue& value) {
    const uint32_t c = column_of_[slot];
    if (c == kNoId) return;
    const bool text = columns_[c].text;
    rows.subset[row] = subset;
    rows.column[row] = c;
    rows.rank[row] = rank_of_[slot] + 1;
    rows.descriptor[row] = value.descriptor;
    rows.number[row] = !text && value.has_raw_value() ? value.raw_value : kNaN;
    rows.text[row] = text && value.has_text() ? value.text_index : kNoId;
    ++row;
  };
  if (decoded.compressed()) {
    std::vector<MeaningMemo> memos(column_of_.size());
    for (uint32_t s = 0; s < subsets_; ++s) {
      for (std::size_t k = 0; k < column_of_.size(); ++k) {
        if (column_of_[k] != kNoId) put(s, k, decoded.item_value(k, s, memos[k]));
      }
    }
    return;
  }
  for (uint32_t s = 0; s < subsets_; ++s) {
    const std::size_t end = decoded.subset_start(s + 1);
    for (std::size_t i = decoded.subset_start(s); i < end; ++i) put(s, i, decoded.value(i));
  }
}

}  // namespace tarnwel
