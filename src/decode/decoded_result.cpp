// One columnar result of a section 4 decode, for both layouts.
#include "decode/decoded_result.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "bitstream/bit_reader.hpp"
#include "decode/increment_numbers.hpp"
#include "decode/value_math.hpp"
#include "decode/wide_grid.hpp"

namespace tarnwel {

namespace {

DecodedValue increment_value(const CompressedItem& item, uint64_t increment, MeaningMemo& memo) {
  DecodedValue value = item.value;
  if (item.missing_allowed && increment == all_ones(item.increment_bits)) {
    value.raw = item.base;
    value.flags = kHasRaw;
  } else {
    // R0 + increment wraps modulo 2^64 like any unsigned sum.
    value.raw = item.base + increment;
    value.raw_value = scaled_value(item.reference, value.raw, item.divisor);
    value.flags = kHasRaw | kHasRawValue;
  }
  if (item.code_table != nullptr) value.meaning = memo.lookup(*item.code_table, value.raw);
  return value;
}

// Whether reference + base + increment, formed in int64, is the exact sum for
// every increment of the item.
bool sums_fit_int64(const CompressedItem& item) {
  constexpr uint64_t kLimit = uint64_t{1} << 61;
  return item.base < kLimit && item.increment_bits <= 61 && item.reference < int64_t{1} << 62 &&
         item.reference > -(int64_t{1} << 62);
}

// `width` (1 to 63) bits at bit `position`; nine bytes from position / 8 on must exist.
uint64_t bits_after(const uint8_t* data, uint64_t position, uint32_t width) {
  const uint8_t* p = data + (position >> 3);
  const unsigned offset = position & 7;
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  // With offset 0 the ninth byte shifts out entirely.
  word = word << offset | uint64_t{p[8]} >> (8 - offset);
  return word >> (64 - width);
}

double number_of(const DecodedValue& value) {
  return value.has_raw_value() ? value.raw_value : std::numeric_limits<double>::quiet_NaN();
}

// The item as the wide kernel reads it, from the increment at bit `at` on; false
// when the kernel cannot convert its increments exactly.
bool as_wide_rank(const CompressedItem& item, uint64_t at, WideRank& rank) {
  if (item.kind == CompressedItem::Kind::kUniform) {
    rank = WideRank{};
    rank.number = number_of(item.value);
    return true;
  }
  const uint32_t bits = item.increment_bits;
  if (item.kind != CompressedItem::Kind::kIncrements || bits == 0 || bits > 57 ||
      !sums_fit_int64(item)) {
    return false;
  }
  const int64_t offset = item.reference + static_cast<int64_t>(item.base);
  const uint64_t missing = all_ones(bits);
  if (!converts_by_bias(offset, missing)) return false;
  rank = WideRank{at, bits, bias_bits(offset), item.divisor, missing, item.missing_allowed};
  return true;
}

}  // namespace

void DecodedResult::append(const DecodedValue& value) { append(value, strings_.intern(value.name)); }

void DecodedResult::append(const DecodedValue& value, uint32_t name_id) {
  values_.append(value.raw_value, value.raw, value.descriptor, name_id,
                 value.meaning == nullptr ? kNoId : strings_.intern(value.meaning),
                 value.text_index, value.flags);
}

DecodedValue DecodedResult::value(std::size_t index) const {
  DecodedValue value;
  value.raw_value = values_.numbers[index];
  value.raw = values_.raws[index];
  value.name = strings_.pointer(values_.names[index]);
  value.meaning = strings_.pointer(values_.meanings[index]);
  value.text_index = values_.texts[index];
  value.descriptor = values_.descriptors[index];
  value.flags = values_.flags[index];
  return value;
}

DecodedValue DecodedResult::item_value(std::size_t index, uint32_t subset,
                                       MeaningMemo& memo) const {
  const CompressedItem& item = items_[index];
  switch (item.kind) {
    case CompressedItem::Kind::kUniform:
      return item.value;
    case CompressedItem::Kind::kStored:
      return stored_[item.stored_at + subset];
    case CompressedItem::Kind::kIncrements:
      break;
  }
  const BitReader reader(bits_);
  const uint64_t at = item.increments_at + uint64_t{subset} * item.increment_bits;
  return increment_value(item, reader.bits_at(at, item.increment_bits), memo);
}

void DecodedResult::item_numbers(std::size_t index, double* out, std::size_t stride,
                                 uint32_t first, uint32_t count) const {
  const CompressedItem& item = items_[index];
  if (item.kind == CompressedItem::Kind::kUniform) {
    const double number = number_of(item.value);
    for (uint32_t s = 0; s < count; ++s) out[s * stride] = number;
    return;
  }
  if (item.kind == CompressedItem::Kind::kStored) {
    const DecodedValue* stored = &stored_[item.stored_at + first];
    for (uint32_t s = 0; s < count; ++s) out[s * stride] = number_of(stored[s]);
    return;
  }
  const uint64_t missing = all_ones(item.increment_bits);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const bool small = sums_fit_int64(item);
  uint64_t at = item.increments_at + uint64_t{first} * item.increment_bits;
  if (!small) {
    const BitReader reader(bits_);
    for (uint32_t s = 0; s < count; ++s, at += item.increment_bits) {
      const uint64_t increment = reader.bits_at(at, item.increment_bits);
      out[s * stride] = item.missing_allowed && increment == missing
                            ? nan
                            : scaled_value(item.reference, item.base + increment, item.divisor);
    }
    return;
  }
  // The hot loop of a satellite column. Every sum stays below 2^63, so
  // reference + base + increment in int64 is the exact sum scaled_value forms and
  // the numbers are the same. A block of increments is read first and then
  // converted and divided as a whole.
  constexpr uint32_t kBlock = 128;
  uint64_t increments[kBlock];
  double numbers[kBlock];
  const IncrementScale scale{item.reference + static_cast<int64_t>(item.base), item.divisor,
                             missing, item.missing_allowed};
  const uint32_t bits = item.increment_bits;
  uint32_t s = 0;
  if (WideRank rank; stride == 1 && as_wide_rank(item, at, rank)) {
    s = wide_column(bits_.data(), bits_.size(), rank, count, out);
    at += uint64_t{s} * bits;
  }
  for (; s < count; s += kBlock) {
    const uint32_t n = std::min(kBlock, count - s);
    read_increments(at, bits, n, increments);
    double* cells = stride == 1 ? out + s : numbers;
    increments_to_numbers(increments, n, scale, cells);
    if (stride != 1) {
      for (uint32_t j = 0; j < n; ++j) out[std::size_t{s + j} * stride] = numbers[j];
    }
    at += uint64_t{n} * bits;
  }
}

// `n` increments of `bits` (1 to 61) each from bit `at` on.
void DecodedResult::read_increments(uint64_t at, uint32_t bits, uint32_t n, uint64_t* out) const {
  const uint8_t* data = bits_.data();
  if (((at + uint64_t{n - 1} * bits) >> 3) + 9 > bits_.size()) {
    const BitReader reader(bits_);  // the last bytes: reads that check the end
    for (uint32_t j = 0; j < n; ++j) out[j] = reader.bits_at(at + uint64_t{j} * bits, bits);
    return;
  }
  if (bits > 57) {
    for (uint32_t j = 0; j < n; ++j) out[j] = bits_after(data, at + uint64_t{j} * bits, bits);
    return;
  }
  // Up to 57 bits lie within the eight bytes from the first one on.
  for (uint32_t j = 0; j < n; ++j) {
    const uint64_t position = at + uint64_t{j} * bits;
    uint64_t word;
    std::memcpy(&word, data + (position >> 3), sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    out[j] = word << (position & 7) >> (64 - bits);
  }
}

// The ranks as the wide kernel reads them; false when one lies outside what it
// converts exactly.
bool DecodedResult::wide_ranks(std::span<const std::size_t> items,
                               std::vector<WideRank>& ranks) const {
  ranks.resize(items.size());
  for (std::size_t r = 0; r < items.size(); ++r) {
    const CompressedItem& item = items_[items[r]];
    if (!as_wide_rank(item, item.increments_at, ranks[r])) return false;
  }
  return true;
}

void DecodedResult::grid_numbers(std::span<const std::size_t> items, double* cells) const {
  const std::size_t width = items.size();
  if (width == 1) return item_numbers(items[0], cells, 1);
  // Where the processor has AVX-512, eight subsets by eight ranks at a time; the
  // rows it leaves (the last few, or all when a rank does not suit it) go by tiles.
  uint32_t done = 0;
  if (std::vector<WideRank> ranks; subsets_ >= 8 && wide_ranks(items, ranks)) {
    done = wide_grid_rows(bits_.data(), bits_.size(), ranks.data(), width, subsets_, cells);
    if (done == subsets_) return;
  }
  // Rank by rank over all subsets, each rank would stream once more through
  // every row of the grid, a store per line. A tile of rows is instead decoded
  // rank by rank into the first-level cache and then written out row after row.
  constexpr std::size_t kTileCells = 2048;
  const std::size_t rows = kTileCells / width;
  if (rows < 4) {
    for (std::size_t rank = 0; rank < width; ++rank) {
      double* column = cells + std::size_t{done} * width + rank;
      item_numbers(items[rank], column, width, done, subsets_ - done);
    }
    return;
  }
  double tile[kTileCells];
  for (uint32_t first = done; first < subsets_; first += static_cast<uint32_t>(rows)) {
    const auto count = static_cast<uint32_t>(std::min<std::size_t>(rows, subsets_ - first));
    for (std::size_t rank = 0; rank < width; ++rank) {
      item_numbers(items[rank], tile + rank * count, 1, first, count);
    }
    double* out = cells + std::size_t{first} * width;
    for (uint32_t row = 0; row < count; ++row, out += width) {
      for (std::size_t rank = 0; rank < width; ++rank) out[rank] = tile[rank * count + row];
    }
  }
}

DecodedValues DecodedResult::flat() const {
  DecodedValues flat;
  flat.values.reserve(size());
  for_each_flat([&](const DecodedValue& value) { flat.values.push_back(value); });
  flat.text_bytes = text_bytes_;
  flat.texts = text_spans_;
  return flat;
}

}  // namespace tarnwel
