// The cells of a few element keys of a decode, found without naming every column first.
#include "decode/key_columns.hpp"

#include <algorithm>
#include <limits>

#include "message/descriptor_code.hpp"

namespace tarnwel {
namespace {

constexpr std::string_view kSuffix = "->associatedField";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t kUnwanted = -1;

// Which key (if any) a descriptor's column takes; the same choice ArrayPlan makes.
class KeyMatcher {
 public:
  KeyMatcher(DescriptorCache& cache, const std::vector<std::string_view>& keys)
      : cache_(cache), keys_(keys), taken_(keys.size(), false) {}

  // The key index of the column of (descriptor, associated), or kUnwanted; the
  // first element met with a key takes the key, later ones are other columns.
  int32_t key_for(uint32_t descriptor, bool associated, const std::string* record_name) {
    const uint32_t pair = descriptor << 1 | (associated ? 1 : 0);
    Known& slot = find(pair);
    if (slot.pair == pair) return slot.key;
    slot = {pair, match(base_name(descriptor, record_name), associated)};
    const int32_t key = slot.key;
    if (++known_count_ * 2 > known_.size()) grow();
    return key;
  }

 private:
  // An element's key; a record no Table B entry describes goes by its record name.
  // Names by code never match: a key asked for here starts with no digit.
  std::string_view base_name(uint32_t descriptor, const std::string* record_name) const {
    if (const ElementInfo* element = cache_.element(descriptor)) return *element->abbreviation;
    if (descriptor_f(descriptor) != 0 && record_name != nullptr) return *record_name;
    return {};
  }

  // Which key a first met (descriptor, associated) pair takes.
  int32_t match(std::string_view name, bool associated) {
    for (std::size_t k = 0; k < keys_.size(); ++k) {
      const std::string_view key = keys_[k];
      const bool with_suffix = key.size() > kSuffix.size() && key.ends_with(kSuffix);
      if (taken_[k] || with_suffix != associated) continue;
      if (key.substr(0, key.size() - (with_suffix ? kSuffix.size() : 0)) == name) {
        taken_[k] = true;
        return static_cast<int32_t>(k);
      }
    }
    return kUnwanted;
  }

  // Pairs met so far, by open addressing: a message meets a few dozen, and a
  // node-based map allocated for each of them cost more than the rest of the lookup.
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // codes have six decimal digits: never a pair
  struct Known {
    uint32_t pair = kEmpty;
    int32_t key = kUnwanted;
  };
  Known& find(uint32_t pair) {
    const std::size_t mask = known_.size() - 1;
    std::size_t i = static_cast<std::size_t>((uint64_t{pair} * 0x9E3779B97F4A7C15ull) >> 40) & mask;
    while (known_[i].pair != kEmpty && known_[i].pair != pair) i = (i + 1) & mask;
    return known_[i];
  }
  void grow() {
    std::vector<Known> old(known_.size() * 2);
    old.swap(known_);
    for (const Known& entry : old) {
      if (entry.pair != kEmpty) find(entry.pair) = entry;
    }
  }

  DescriptorCache& cache_;
  const std::vector<std::string_view>& keys_;
  std::vector<bool> taken_;
  std::vector<Known> known_ = std::vector<Known>(256);
  std::size_t known_count_ = 0;
};

// A value of a wanted column: where it is and its occurrence in its subset.
struct Placed {
  std::size_t slot;
  uint32_t subset;
  uint32_t key;
  uint32_t rank;
};

void allocate(std::vector<KeyColumn>& columns, uint32_t subsets) {
  for (KeyColumn& column : columns) {
    if (!column.found) continue;
    const std::size_t cells = std::size_t{subsets} * column.width;
    if (column.text) {
      column.texts.assign(cells, kNoId);
    } else {
      column.numbers.assign(cells, kNaN);
    }
  }
}

}  // namespace

std::vector<KeyColumn> key_columns(const DecodedResult& decoded, DescriptorCache& cache,
                                   const std::vector<std::string_view>& keys) {
  std::vector<KeyColumn> columns(keys.size());
  KeyMatcher matcher(cache, keys);
  std::vector<Placed> placed;
  std::vector<uint32_t> counts(keys.size(), 0);
  // Finds the column of a value and counts its occurrence; `next` is the element
  // an associated field goes with.
  const auto place = [&](uint8_t flags, uint32_t descriptor, const std::string* name,
                         uint32_t next_descriptor, const std::string* next_name, bool has_next,
                         std::size_t slot, uint32_t subset) {
    if ((flags & kIsMarker) != 0) return;
    const bool associated = descriptor == kAssociatedFieldCode && has_next;
    const int32_t k = associated ? matcher.key_for(next_descriptor, true, next_name)
                                 : matcher.key_for(descriptor, false, name);
    if (k == kUnwanted) return;
    KeyColumn& column = columns[static_cast<std::size_t>(k)];
    if (!column.found) column.text = (flags & kIsText) != 0 && !associated;
    column.found = true;
    const uint32_t rank = counts[static_cast<std::size_t>(k)]++;
    if (rank >= column.width) column.width = rank + 1;
    placed.push_back({slot, subset, static_cast<uint32_t>(k), rank});
  };
  const uint32_t subsets = decoded.subsets();
  if (decoded.compressed()) {
    const std::vector<CompressedItem>& items = decoded.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      const bool has_next = i + 1 < items.size();
      const DecodedValue& value = items[i].value;
      const DecodedValue* next = has_next ? &items[i + 1].value : &value;
      place(value.flags, value.descriptor, value.name, next->descriptor, next->name, has_next, i, 0);
    }
    allocate(columns, subsets);
    std::vector<std::vector<std::size_t>> ranked(columns.size());
    MeaningMemo memo;
    for (const Placed& at : placed) {
      KeyColumn& column = columns[at.key];
      if (!column.text) {
        ranked[at.key].resize(column.width);
        ranked[at.key][at.rank] = at.slot;
        continue;
      }
      for (uint32_t s = 0; s < subsets; ++s) {
        const DecodedValue value = decoded.item_value(at.slot, s, memo);
        column.texts[std::size_t{s} * column.width + at.rank] =
            value.has_text() ? value.text_index : kNoId;
      }
    }
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (!ranked[k].empty()) decoded.grid_numbers(ranked[k], columns[k].numbers.data());
    }
    return columns;
  }
  const ValueColumns& values = decoded.values();
  const StringIds& strings = decoded.strings();
  for (uint32_t s = 0; s < subsets; ++s) {
    const std::size_t end = decoded.subset_start(s + 1);
    for (std::size_t i = decoded.subset_start(s); i < end; ++i) {
      const bool has_next = i + 1 < end;
      const std::size_t next = has_next ? i + 1 : i;
      place(values.flags[i], values.descriptors[i], strings.pointer(values.names[i]),
            values.descriptors[next], strings.pointer(values.names[next]), has_next, i, s);
    }
    std::fill(counts.begin(), counts.end(), 0);
  }
  allocate(columns, subsets);
  for (const Placed& at : placed) {
    KeyColumn& column = columns[at.key];
    const std::size_t cell = std::size_t{at.subset} * column.width + at.rank;
    const uint8_t flags = values.flags[at.slot];
    if (column.text) {
      column.texts[cell] = (flags & kHasText) != 0 ? values.texts[at.slot] : kNoId;
    } else {
      column.numbers[cell] = (flags & kHasRawValue) != 0 ? values.numbers[at.slot] : kNaN;
    }
  }
  return columns;
}

}  // namespace tarnwel
