// Compressed data items (R0, NBINC, increments) as columns of one value per subset.
#include "decode/compressed_columns.hpp"

#include "decode/decode_limits.hpp"
#include "decode/value_math.hpp"

namespace tarnwel {

namespace {

constexpr uint32_t kIncrementWidthBits = 6;

}  // namespace

// A column costs about as much as three values, so few subsets do not let the
// bound admit many more bytes; with no subsets there is nothing to keep at all.
Status ColumnSet::add(const CompressedItem& column) {
  if (subsets_ == 0) return Status::success();
  const uint64_t weight = subsets_ < 3 ? 3 : subsets_;
  if ((size() + 1) * weight > options_.max_values) return options_.values_exceeded();
  result_.items().push_back(column);
  return Status::success();
}

Result<uint64_t> ColumnSet::increment_width() {
  if (reader_.remaining() < kIncrementWidthBits) return reader_.underrun_error(kIncrementWidthBits);
  return reader_.read_bits_unchecked(kIncrementWidthBits);
}

// Increments are read later, from where they lie; here only their room is checked.
Status ColumnSet::skip_increments(uint64_t increment_bits) {
  if (increment_bits * subsets_ > reader_.remaining()) {
    // Report the first increment that does not fit, as reading one by one would.
    for (uint32_t i = 0; i < subsets_; ++i) TARNWEL_TRY(reader_.read_bits(static_cast<uint32_t>(increment_bits)));
  }
  reader_.skip_unchecked(increment_bits * subsets_);
  return Status::success();
}

Status ColumnSet::element(const ElementInfo& element, DecodeState& state) {
  if (element.is_text) {
    return text(state.text_width_of(element), element.name, element.code, state);
  }
  return number({element.code_table, element.name, element.code, state.numeric_width(element),
                 state.reference_of(element), power_of_ten(state.scale_of(element)),
                 !element.class31});
}

Status ColumnSet::associated_field(uint32_t width) {
  return number({nullptr, &kAssociatedFieldName, 999999, width, 0, 1.0, false});
}

Status ColumnSet::number(const NumberItem& item) {
  TARNWEL_ASSIGN(const uint64_t base, reader_.read_bits(item.width));
  TARNWEL_ASSIGN(const uint64_t increment_bits, increment_width());
  const uint64_t increments_at = reader_.position();
  if (increment_bits != 0) TARNWEL_TRY(skip_increments(increment_bits));
  CompressedItem column;
  column.value.name = item.name;
  column.value.descriptor = item.code;
  column.value.raw = base;
  column.value.flags = kHasRaw;
  const bool base_missing =
      item.missing_allowed && item.width < 64 && base == all_ones(item.width);
  if (increment_bits == 0 || base_missing) {
    // Every subset has R0, also when R0 is missing and increments were present.
    if (!base_missing) {
      column.value.raw_value = scaled_value(item.reference, base, item.divisor);
      column.value.flags |= kHasRawValue;
    }
    if (item.code_table != nullptr) {
      column.value.meaning = MeaningMemo{}.lookup(*item.code_table, base);
    }
    return add(column);
  }
  column.kind = CompressedItem::Kind::kIncrements;
  column.increment_bits = static_cast<uint8_t>(increment_bits);
  column.missing_allowed = item.missing_allowed;
  column.base = base;
  column.increments_at = increments_at;
  column.reference = item.reference;
  column.divisor = item.divisor;
  column.code_table = item.code_table;
  return add(column);
}

bool ColumnSet::fits_width(std::size_t column, uint32_t width) const {
  const CompressedItem& item = result_.items()[column];
  // R0 alone was read in `width` bits; strings have no width to pass.
  if (item.kind != CompressedItem::Kind::kIncrements) return true;
  const uint64_t largest = width >= 64 ? ~uint64_t{0} : all_ones(width);
  for (uint32_t s = 0; s < subsets_; ++s) {
    // The sum wraps below R0 when it passes 64 bits.
    const uint64_t raw = value(column, s).raw;
    if (raw < item.base || raw > largest) return false;
  }
  return true;
}

Status ColumnSet::text(uint32_t width, const std::string* name, uint32_t code,
                       DecodeState& state) {
  std::string& bytes = result_.text_bytes();
  const std::size_t base_start = bytes.size();
  TARNWEL_TRY(reader_.read_bytes_into(width, bytes));
  TARNWEL_ASSIGN(const uint64_t characters, increment_width());
  const double first_number = static_cast<double>(state.text_counter);
  ++state.text_counter;
  CompressedItem column;
  column.kind = CompressedItem::Kind::kStored;
  column.stored_at = result_.stored().size();
  column.value.name = name;
  column.value.descriptor = code;
  column.value.flags = kHasRawValue | kIsText;
  // Without increments every subset shares the one text of R0.
  if (characters == 0 && finish_text(bytes, base_start)) {
    column.value.text_index = result_.add_text(base_start);
    column.value.flags |= kHasText;
  } else if (characters != 0) {
    bytes.resize(base_start);
  }
  TARNWEL_TRY(add(column));
  const double n = static_cast<double>(subsets_);
  const double length = static_cast<double>(width / 8);
  for (uint32_t i = 0; i < subsets_; ++i) {
    DecodedValue entry = column.value;
    if (characters != 0) {
      const std::size_t start = bytes.size();
      TARNWEL_TRY(reader_.read_bytes_into(static_cast<uint32_t>(characters * 8), bytes));
      if (finish_text(bytes, start)) {
        entry.text_index = result_.add_text(start);
        entry.flags |= kHasText;
      }
    }
    entry.raw_value = (first_number * n + static_cast<double>(i) + 1.0) * 1000.0 + length;
    result_.stored().push_back(entry);
  }
  return Status::success();
}

Status ColumnSet::marker(uint32_t code) {
  CompressedItem column;
  column.value = operator_marker(code);
  return add(column);
}

}  // namespace tarnwel
