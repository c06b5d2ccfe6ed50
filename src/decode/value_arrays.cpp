// Decoded values grouped by element into one cell grid per element: subsets × occurrences.
#include "decode/value_arrays.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>

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

uint64_t column_key(uint32_t descriptor, bool associated) {
  return uint64_t{descriptor} << 1 | (associated ? 1 : 0);
}

std::size_t name_slot(std::string_view name, std::size_t mask) {
  return std::hash<std::string_view>{}(name) & mask;
}

}  // namespace

// Counts occurrences per column within one subset (or one compressed message).
class ArrayPlan::OccurrenceCounter {
 public:
  uint32_t next(uint32_t column) {
    if (column >= counts_.size()) counts_.resize(column + 1, 0);
    if (counts_[column] == 0) touched_.push_back(column);
    return counts_[column]++;
  }
  // The count of a column so far, when it was found elsewhere.
  void set(uint32_t column, uint32_t count) {
    if (column >= counts_.size()) counts_.resize(column + 1, 0);
    if (counts_[column] == 0) touched_.push_back(column);
    counts_[column] = count;
  }
  void reset() {
    for (uint32_t column : touched_) counts_[column] = 0;
    touched_.clear();
  }

 private:
  std::vector<uint32_t> counts_;
  std::vector<uint32_t> touched_;
};

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
  const uint64_t key = column_key(descriptor, associated);
  const std::size_t slot = find_slot(key);
  if (slot_keys_[slot] == key) return slot_columns_[slot];
  return add_column(slot, tables, descriptor, name, associated, text);
}

std::size_t ArrayPlan::find_slot(uint64_t key) const {
  const std::size_t mask = slot_keys_.size() - 1;
  std::size_t i = descriptor_slot(key, mask);
  while (slot_keys_[i] != kEmptySlot && slot_keys_[i] != key) i = (i + 1) & mask;
  return i;
}

uint32_t ArrayPlan::add_column(std::size_t slot, DescriptorCache& tables, uint32_t descriptor,
                               const std::string* name, bool associated, bool text) {
  const std::string_view column_name = new_name(tables, descriptor, name, associated);
  const auto column = static_cast<uint32_t>(columns_.size());
  columns_.push_back({column_name, descriptor, associated, text && !associated, 0});
  slot_keys_[slot] = column_key(descriptor, associated);
  slot_columns_[slot] = column;
  const std::size_t mask = name_slots_.size() - 1;
  std::size_t j = name_slot(column_name, mask);
  while (name_slots_[j] != 0) j = (j + 1) & mask;
  name_slots_[j] = column + 1;
  if (columns_.size() * 2 > slot_keys_.size()) grow_slots();
  return column;
}

void ArrayPlan::allocate_places(std::size_t count) {
  if (!column_of_.resize_storage(0, count) || !rank_of_.resize_storage(0, count)) {
    throw std::bad_alloc();
  }
  places_ = count;
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
      rank_of_[slot] = 0;
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
    allocate_places(items);
    for (std::size_t k = 0; k < items; ++k) {
      const DecodedValue* next = k + 1 < items ? &decoded.items()[k + 1].value : nullptr;
      if (place(decoded.items()[k].value, next, k)) long_rows_ += decoded.subsets();
    }
    return;
  }
  place_uncompressed(decoded, tables);
}

namespace {

// How many values from the start of the subset [begin, end) have the columns and
// ranks of those from the start of the earlier one [earlier, earlier_end): a
// value's column follows from its descriptor and, for an associated field, from
// the element after it, so agreement holds as far as the descriptors agree, but
// for an associated field whose element lies past that point.
std::size_t shared_layout(const uint32_t* descriptors, std::size_t earlier, std::size_t earlier_end,
                          std::size_t begin, std::size_t end) {
  const std::size_t length = std::min(earlier_end - earlier, end - begin);
  const uint32_t* first = descriptors + begin;
  std::size_t shared = static_cast<std::size_t>(
      std::mismatch(first, first + length, descriptors + earlier).first - first);
  if (shared > 0 && first[shared - 1] == kAssociatedFieldCode) --shared;
  return shared;
}

}  // namespace

// Straight from the columns: gathering each value into a record would cost more
// than placing it. Subsets mostly repeat the layout of the one before, in full or
// up to where a replication runs longer, so that part is copied from it.
void ArrayPlan::place_uncompressed(const DecodedResult& decoded, DescriptorCache& tables) {
  const ValueColumns& values = decoded.values();
  const std::size_t count = decoded.size();
  allocate_places(count);
  OccurrenceCounter counter;
  std::size_t earlier = 0;
  std::size_t earlier_end = 0;
  for (uint32_t s = 0; s < subsets_; ++s) {
    const std::size_t begin = decoded.subset_start(s);
    const std::size_t end = decoded.subset_start(s + 1);
    std::size_t i = begin;
    if (s > 0) {
      const std::size_t shared =
          shared_layout(values.descriptors.data(), earlier, earlier_end, begin, end);
      std::copy_n(&column_of_[earlier], shared, &column_of_[begin]);
      std::copy_n(&rank_of_[earlier], shared, &rank_of_[begin]);
      i += shared;
      // The rest of the subset counts on from the occurrences copied.
      for (std::size_t k = begin; k < i && i < end; ++k) {
        if (column_of_[k] != kNoId) counter.set(column_of_[k], rank_of_[k] + 1);
      }
    }
    for (; i < end; ++i) place_value(decoded, tables, i, end, counter);
    counter.reset();
    earlier = begin;
    earlier_end = end;
  }
  long_rows_ = count - static_cast<std::size_t>(
                           std::count(&column_of_[0], &column_of_[0] + count, kNoId));
}

// The column and rank of value `i` of a subset ending at `end`. A value whose
// column exists costs one probe; its name is only read for a new column.
void ArrayPlan::place_value(const DecodedResult& decoded, DescriptorCache& tables, std::size_t i,
                            std::size_t end, OccurrenceCounter& counter) {
  const ValueColumns& values = decoded.values();
  const uint8_t flags = values.flags[i];
  if ((flags & kIsMarker) != 0) {
    column_of_[i] = kNoId;
    rank_of_[i] = 0;  // never read, but copied with the layout
    return;
  }
  const bool associated = values.descriptors[i] == kAssociatedFieldCode && i + 1 < end;
  const std::size_t element = associated ? i + 1 : i;
  const uint64_t key = column_key(values.descriptors[element], associated);
  const std::size_t slot = find_slot(key);
  const uint32_t column =
      slot_keys_[slot] == key
          ? slot_columns_[slot]
          : add_column(slot, tables, values.descriptors[element],
                       decoded.strings().pointer(values.names[element]), associated,
                       (flags & kIsText) != 0);
  column_of_[i] = column;
  const uint32_t rank = counter.next(column);
  rank_of_[i] = rank;
  if (rank >= columns_[column].width) columns_[column].width = rank + 1;
}

void ArrayPlan::fill(const DecodedResult& decoded, std::span<double* const> numbers,
                     std::span<uint32_t* const> texts) const {
  if (!decoded.compressed()) return fill_uncompressed(decoded, numbers, texts);
  // Compressed subsets share one layout: each rank of a column is one item for
  // every subset, so every cell is written below and needs no padding first.
  const auto number_cells = [&](uint32_t c) { return c < numbers.size() ? numbers[c] : nullptr; };
  const auto text_cells = [&](uint32_t c) { return c < texts.size() ? texts[c] : nullptr; };
  // The items of each number column by rank, filled as one grid.
  std::vector<std::vector<std::size_t>> ranked(columns_.size());
  MeaningMemo memo;
  for (std::size_t k = 0; k < places_; ++k) {
    const uint32_t c = column_of_[k];
    if (c == kNoId) continue;
    const uint32_t width = columns_[c].width;
    if (number_cells(c) != nullptr) {
      ranked[c].resize(width);
      ranked[c][rank_of_[k]] = k;
    }
    if (uint32_t* cells = text_cells(c)) {
      for (uint32_t s = 0; s < subsets_; ++s) {
        const DecodedValue value = decoded.item_value(k, s, memo);
        cells[std::size_t{s} * width + rank_of_[k]] = value.has_text() ? value.text_index : kNoId;
      }
    }
  }
  for (uint32_t c = 0; c < ranked.size(); ++c) {
    if (!ranked[c].empty()) decoded.grid_numbers(ranked[c], number_cells(c));
  }
}

// A cell no value fills is missing: a subset may hold fewer occurrences of a
// column than the widest one, or none. Occurrences fill a row from its start, so
// only the rest of each row is padded, and every cell is written once.
void ArrayPlan::fill_uncompressed(const DecodedResult& decoded, std::span<double* const> numbers,
                                  std::span<uint32_t* const> texts) const {
  // The per-value loop reads these flat, without a bounds check per value.
  const std::size_t count = columns_.size();
  std::vector<double*> number_at(count, nullptr);
  std::vector<uint32_t*> text_at(count, nullptr);
  std::vector<std::size_t> width_of(count);
  std::vector<uint32_t> filled(count, 0);  // occurrences of each column in this subset
  for (std::size_t c = 0; c < count; ++c) {
    width_of[c] = columns_[c].width;
    if (c < numbers.size() && numbers[c] != nullptr) {
      number_at[c] = numbers[c];
    } else if (c < texts.size() && texts[c] != nullptr) {
      text_at[c] = texts[c];
    }
  }
  const ValueColumns& values = decoded.values();
  for (uint32_t s = 0; s < subsets_; ++s) {
    const std::size_t end = decoded.subset_start(s + 1);
    for (std::size_t i = decoded.subset_start(s); i < end; ++i) {
      const uint32_t c = column_of_[i];
      if (c == kNoId) continue;
      const uint32_t rank = rank_of_[i];
      const std::size_t cell = std::size_t{s} * width_of[c] + rank;
      const uint8_t flags = values.flags[i];
      filled[c] = std::max(filled[c], rank + 1);
      if (double* cells = number_at[c]) {
        cells[cell] = (flags & kHasRawValue) != 0 ? values.numbers[i] : kNaN;
      } else if (uint32_t* cells = text_at[c]) {
        cells[cell] = (flags & kHasText) != 0 ? values.texts[i] : kNoId;
      }
    }
    for (std::size_t c = 0; c < count; ++c) {
      const std::size_t row = std::size_t{s} * width_of[c];
      if (number_at[c] != nullptr) {
        std::fill(number_at[c] + row + filled[c], number_at[c] + row + width_of[c], kNaN);
      } else if (text_at[c] != nullptr) {
        std::fill(text_at[c] + row + filled[c], text_at[c] + row + width_of[c], kNoId);
      }
      filled[c] = 0;
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
    std::vector<MeaningMemo> memos(places_);
    for (uint32_t s = 0; s < subsets_; ++s) {
      for (std::size_t k = 0; k < places_; ++k) {
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
