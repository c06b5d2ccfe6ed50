// The descriptor walk over uncompressed data, one subset after another.
#include "decode/uncompressed_decoder.hpp"

#include <algorithm>

#include "decode/bitmap.hpp"
#include "decode/element_decoder.hpp"
#include "decode/operators.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

constexpr unsigned kMaxDepth = 64;

class UncompressedWalk {
 public:
  UncompressedWalk(DescriptorCache& cache, BitReader& reader, DecodeState& state,
                   DecodedValues& out, WorkBudget& budget)
      : cache_(cache), reader_(reader), state_(state), out_(out), budget_(budget) {}

  Status walk(std::span<const uint32_t> codes, unsigned depth) {
    if (depth > kMaxDepth) return BufrError::parse("descriptor decode exceeded recursion depth");
    for (std::size_t i = 0; i < codes.size();) {
      if (!budget_.take_step()) return walk_steps_exceeded();
      if (out_.values.size() >= kMaxDecodedValues) return value_count_exceeded();
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
      TARNWEL_TRY(read_associated_field(reader_, state_.associated_field_width, out_));
    }
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    TARNWEL_TRY(decode_element(reader_, *element, state_, out_));
    state_.local_width_pending = false;
    if (code == 31031 && state_.bitmap_collecting) {
      const DecodedValue& indicator = out_.values.back();
      if (indicator.has_raw_value()) state_.bitmap.push_back(bitmap_byte(indicator.raw_value));
    } else {
      state_.history.push_back(element);
    }
    return Status::success();
  }

  // Under 2 03 YYY an element descriptor carries a new reference, not a value.
  Status new_reference(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    return read_new_reference(reader_, *element, state_);
  }

  // Advances `i` past the replication descriptor, its factor and its body.
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

  // The factor is read like an element but takes no associated field, never feeds
  // the bitmap and leaves a pending 2 06 width alone.
  Result<uint64_t> delayed_factor(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return BufrError::element_not_found(code);
    TARNWEL_ASSIGN(const ElementNumber number, decode_element(reader_, *element, state_, out_));
    state_.history.push_back(element);
    return number.present ? count_from_value(number.number) : 0;
  }

  Status operation(uint32_t code) {
    switch (apply_operator(code, state_)) {
      case OperatorAction::kNone:
        return Status::success();
      case OperatorAction::kMarker:
        out_.values.push_back(operator_marker(code));
        return Status::success();
      case OperatorAction::kBitmapValue:
        return bitmap_value(code);
      case OperatorAction::kCharacterData:
        return read_character_data(reader_, code, state_, out_);
    }
    return Status::success();
  }

  // Re-reads the element the bitmap selects; it is not added to the history.
  Status bitmap_value(uint32_t code) {
    TARNWEL_ASSIGN(const ElementInfo* referenced, next_bitmap_reference(state_));
    if (referenced == nullptr) return Status::success();
    if (code % 100000 / 1000 == 25) {
      const ElementInfo difference = difference_element(*referenced);
      TARNWEL_TRY(decode_element(reader_, difference, state_, out_));
    } else {
      TARNWEL_TRY(decode_element(reader_, *referenced, state_, out_));
    }
    return Status::success();
  }

  Status sequence(uint32_t code, unsigned depth) {
    const SequenceDefinition* sequence = cache_.sequence(code);
    if (sequence == nullptr) return BufrError::sequence_not_found(code);
    return walk(sequence->members, depth + 1);
  }

  DescriptorCache& cache_;
  BitReader& reader_;
  DecodeState& state_;
  DecodedValues& out_;
  WorkBudget& budget_;
};

}  // namespace

Status decode_subset(std::span<const uint32_t> descriptors, DescriptorCache& cache,
                     BitReader& reader, DecodeState& state, DecodedValues& out,
                     WorkBudget& budget, unsigned depth) {
  return UncompressedWalk(cache, reader, state, out, budget).walk(descriptors, depth);
}

Result<DecodedValues> decode_uncompressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                          DescriptorCache& cache, BitReader& reader) {
  DecodedValues out;
  DecodeState state;
  WorkBudget budget;
  UncompressedWalk walk(cache, reader, state, out, budget);
  for (uint32_t subset = 0; subset < subsets; ++subset) {
    state.start_subset();
    TARNWEL_TRY(walk.walk(descriptors, 0));
    if (subset == 0) {
      // Subsets usually look alike; the data size caps a hostile first subset.
      const uint64_t estimate = uint64_t{out.values.size()} * subsets;
      out.values.reserve(std::min({estimate, reader.capacity(), kMaxDecodedValues}));
    }
  }
  return out;
}

}  // namespace tarnwel
