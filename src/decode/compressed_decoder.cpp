// The descriptor walk over compressed data: every item once for all subsets, then reordered by subset.
#include "decode/compressed_decoder.hpp"

#include <cmath>
#include <limits>

#include "decode/bitmap.hpp"
#include "decode/compressed_columns.hpp"
#include "decode/decode_limits.hpp"
#include "decode/decode_state.hpp"
#include "decode/element_decoder.hpp"
#include "decode/operators.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

constexpr unsigned kMaxDepth = 64;

class CompressedWalk {
 public:
  CompressedWalk(DescriptorCache& cache, BitReader& reader, DecodedValues& texts,
                 uint32_t subsets)
      : cache_(cache), reader_(reader), items_(reader, texts, subsets) {}

  const ColumnSet& columns() const { return items_; }

  Status walk(std::span<const uint32_t> codes, unsigned depth) {
    if (depth > kMaxDepth) {
      return BufrError::parse("compressed descriptor decode exceeded recursion depth");
    }
    for (std::size_t i = 0; i < codes.size();) {
      if (!budget_.take_step()) return walk_steps_exceeded();
      const uint32_t code = codes[i];
      switch (code / 100000) {
        case 0: TARNWEL_TRY(element(code)); ++i; break;
        case 1: TARNWEL_TRY(replication(codes, i, depth)); break;
        case 2: TARNWEL_TRY(operation(code)); ++i; break;
        case 3: TARNWEL_TRY(sequence(code, depth)); ++i; break;
        default: return BufrError::parse("invalid descriptor " + format_code(code));
      }
    }
    return Status::success();
  }

 private:
  Status element(uint32_t code) {
    if (state_.new_reference_width != 0) return new_reference(code);
    if (state_.associated_field_width != 0 && code / 1000 != 31) {
      TARNWEL_TRY(items_.associated_field(state_.associated_field_width));
    }
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    TARNWEL_TRY(items_.element(*element, state_));
    if (code == 31031 && state_.bitmap_collecting) {
      // An absent first value gives 0 (present), unlike in uncompressed data.
      uint8_t entry = 0;
      if (items_.subsets() != 0) {
        const DecodedValue first = items_.value(items_.size() - 1, 0);
        if (first.has_raw_value()) entry = bitmap_byte(first.raw_value);
      }
      state_.bitmap.push_back(entry);
    } else {
      state_.history.push_back(element);
    }
    state_.local_width_pending = false;
    return Status::success();
  }

  // Under 2 03 YYY: one plain Y-bit field for all subsets, no increments.
  Status new_reference(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    return read_new_reference(reader_, *element, state_);
  }

  Status replication(std::span<const uint32_t> codes, std::size_t& i, unsigned depth) {
    const uint32_t code = codes[i];
    const std::size_t count = code % 100000 / 1000;
    const uint32_t fixed = code % 1000 & 255;
    if (count == 0 || i + count >= codes.size()) return BufrError::unsupported_replication(code);
    if (fixed != 0) {
      const auto body = codes.subspan(i + 1, count);
      for (uint32_t k = 0; k < fixed; ++k) TARNWEL_TRY(walk(body, depth + 1));
      i += count + 1;
      return Status::success();
    }
    if (i + count + 1 >= codes.size()) return BufrError::delayed_replication_incomplete(code);
    TARNWEL_ASSIGN(const uint64_t repeats, delayed_factor(codes[i + 1]));
    const auto body = codes.subspan(i + 2, count);
    for (uint64_t k = 0; k < repeats; ++k) TARNWEL_TRY(walk(body, depth + 1));
    i += count + 2;
    return Status::success();
  }

  // Counts that vary between subsets cannot be laid out as columns.
  Result<uint64_t> delayed_factor(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    TARNWEL_TRY(items_.element(*element, state_));
    state_.history.push_back(element);
    if (items_.subsets() == 0) return uint64_t{0};
    const std::size_t column = items_.size() - 1;
    if (!items_.value(column, 0).has_raw_value()) return uint64_t{0};
    const double candidate = items_.value(column, 0).raw_value;
    for (uint32_t i = 1; i < items_.subsets(); ++i) {
      const DecodedValue value = items_.value(column, i);
      if (!value.has_raw_value() ||
          std::fabs(value.raw_value - candidate) > std::numeric_limits<double>::epsilon()) {
        return BufrError::parse(
            "compressed delayed replication with varying factors is not implemented");
      }
    }
    return count_from_value(candidate);
  }

  Status operation(uint32_t code) {
    switch (apply_operator(code, state_)) {
      case OperatorAction::kNone:
        return Status::success();
      case OperatorAction::kMarker:
        return items_.marker(code);
      case OperatorAction::kBitmapValue:
        return bitmap_value(code);
      case OperatorAction::kCharacterData:
        return items_.text((code % 1000 & 255) * 8, &kCharacterDataName, code, state_);
    }
    return Status::success();
  }

  Status bitmap_value(uint32_t code) {
    TARNWEL_ASSIGN(const ElementInfo* referenced, next_bitmap_reference(state_));
    if (referenced == nullptr) return Status::success();
    if (code % 100000 / 1000 == 25) {
      const ElementInfo difference = difference_element(*referenced);
      return items_.element(difference, state_);
    }
    return items_.element(*referenced, state_);
  }

  Status sequence(uint32_t code, unsigned depth) {
    const SequenceDefinition* sequence = cache_.sequence(code);
    if (sequence == nullptr) return BufrError::sequence_not_found(code);
    return walk(sequence->members, depth + 1);
  }

  DescriptorCache& cache_;
  BitReader& reader_;
  ColumnSet items_;
  DecodeState state_;
  WorkBudget budget_;
};

}  // namespace

Result<DecodedValues> decode_compressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                        DescriptorCache& cache, BitReader& reader) {
  DecodedValues result;
  CompressedWalk walk(cache, reader, result, subsets);
  TARNWEL_TRY(walk.walk(descriptors, 0));
  result.values = walk.columns().by_subset();
  return result;
}

}  // namespace tarnwel
