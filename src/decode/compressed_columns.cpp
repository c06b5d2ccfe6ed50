// Reading one compressed data item (R0, NBINC, increments) into a column of one value per subset.
#include "decode/compressed_columns.hpp"

#include "decode/decode_limits.hpp"
#include "decode/value_math.hpp"

namespace tarnwel {

namespace {

constexpr uint32_t kIncrementWidthBits = 6;

}  // namespace

Status ColumnReader::make_room() {
  if (out_.values.size() + subsets_ > kMaxDecodedValues) return value_count_exceeded();
  return Status::success();
}

Result<uint64_t> ColumnReader::increment_width() {
  if (reader_.remaining() < kIncrementWidthBits) return reader_.underrun_error(kIncrementWidthBits);
  return reader_.read_bits_unchecked(kIncrementWidthBits);
}

Status ColumnReader::element(const ElementInfo& element, DecodeState& state) {
  if (element.is_text) {
    return text(state.text_width_of(element), element.name, element.code, state);
  }
  NumberItem item;
  item.meanings = element.code_table != nullptr ? &element : nullptr;
  item.name = element.name;
  item.code = element.code;
  item.width = state.numeric_width(element);
  item.reference = state.reference_of(element);
  item.divisor = power_of_ten(state.scale_of(element));
  item.missing_allowed = !element.class31;
  return number(item);
}

Status ColumnReader::associated_field(uint32_t width) {
  return number({nullptr, &kAssociatedFieldName, 999999, width, 0, 1.0, false});
}

Status ColumnReader::number(const NumberItem& item) {
  TARNWEL_TRY(make_room());
  TARNWEL_ASSIGN(const uint64_t base, reader_.read_bits(item.width));
  TARNWEL_ASSIGN(const uint64_t increment_bits, increment_width());
  const bool base_missing =
      item.missing_allowed && item.width < 64 && base == all_ones(item.width);
  if (increment_bits == 0 || base_missing) {
    // Every subset has R0 (also when R0 is missing, though the increments are read).
    DecodedValue value;
    value.raw = base;
    value.name = item.name;
    value.meaning = item.meanings != nullptr ? item.meanings->meaning(base) : nullptr;
    value.descriptor = item.code;
    value.flags = kHasRaw;
    if (!base_missing) {
      value.raw_value = scaled_value(item.reference, base, item.divisor);
      value.flags |= kHasRawValue;
    }
    if (increment_bits != 0) {
      const uint64_t bits = increment_bits * subsets_;
      if (bits > reader_.remaining()) {
        for (uint32_t i = 0; i < subsets_; ++i) TARNWEL_TRY(reader_.read_bits(increment_bits));
      }
      for (uint32_t i = 0; i < subsets_; ++i) reader_.read_bits_unchecked(increment_bits);
    }
    out_.values.insert(out_.values.end(), subsets_, value);
    return Status::success();
  }
  if (increment_bits * subsets_ > reader_.remaining()) {
    // Not enough bits: find the failing increment to report where it fails.
    for (uint32_t i = 0; i < subsets_; ++i) TARNWEL_TRY(reader_.read_bits(increment_bits));
  }
  fill_increments(item, base, static_cast<uint32_t>(increment_bits));
  return Status::success();
}

// The caller has checked that every increment is in the data.
void ColumnReader::fill_increments(const NumberItem& item, uint64_t base, uint32_t increment_bits) {
  const uint64_t missing_increment = all_ones(increment_bits);
  const std::size_t start = out_.values.size();
  out_.values.resize(start + subsets_);
  DecodedValue* column = out_.values.data() + start;
  for (uint32_t i = 0; i < subsets_; ++i) {
    const uint64_t increment = reader_.read_bits_unchecked(increment_bits);
    DecodedValue& value = column[i];
    value.name = item.name;
    value.descriptor = item.code;
    if (item.missing_allowed && increment == missing_increment) {
      value.raw = base;
      value.flags = kHasRaw;
    } else {
      // R0 + increment wraps modulo 2^64 like any unsigned sum.
      value.raw = base + increment;
      value.raw_value = scaled_value(item.reference, value.raw, item.divisor);
      value.flags = kHasRaw | kHasRawValue;
    }
    if (item.meanings != nullptr) value.meaning = item.meanings->meaning(value.raw);
  }
}

Status ColumnReader::text(uint32_t width, const std::string* name, uint32_t code,
                          DecodeState& state) {
  TARNWEL_TRY(make_room());
  std::string& bytes = out_.text_bytes;
  const std::size_t base_start = bytes.size();
  TARNWEL_TRY(reader_.read_bytes_into(width, bytes));
  TARNWEL_ASSIGN(const uint64_t characters, increment_width());
  const double first_number = static_cast<double>(state.text_counter);
  ++state.text_counter;
  DecodedValue value;
  value.name = name;
  value.descriptor = code;
  value.flags = kHasRawValue;
  // Without increments every subset shares the one text of R0.
  if (characters == 0 && finish_text(bytes, base_start)) {
    value.text_index = out_.add_text(base_start);
    value.flags |= kHasText;
  } else if (characters != 0) {
    bytes.resize(base_start);
  }
  const double n = static_cast<double>(subsets_);
  const double length = static_cast<double>(width / 8);
  for (uint32_t i = 0; i < subsets_; ++i) {
    DecodedValue entry = value;
    if (characters != 0) {
      const std::size_t start = bytes.size();
      TARNWEL_TRY(reader_.read_bytes_into(static_cast<uint32_t>(characters * 8), bytes));
      if (finish_text(bytes, start)) {
        entry.text_index = out_.add_text(start);
        entry.flags |= kHasText;
      }
    }
    entry.raw_value = (first_number * n + static_cast<double>(i) + 1.0) * 1000.0 + length;
    out_.values.push_back(entry);
  }
  return Status::success();
}

Status ColumnReader::marker(uint32_t code) {
  TARNWEL_TRY(make_room());
  out_.values.insert(out_.values.end(), subsets_, operator_marker(code));
  return Status::success();
}

}  // namespace tarnwel
