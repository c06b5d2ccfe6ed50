// The descriptor walk over uncompressed data, one subset after another.
#include "decode/uncompressed_decoder.hpp"

#include <algorithm>

#include "decode/decoding_walk.hpp"

namespace tarnwel {

namespace {

class UncompressedWalk : public DecodingWalk<UncompressedWalk> {
 public:
  static constexpr ErrorKind kDepthError = ErrorKind::DecodeTooDeep;

  UncompressedWalk(DescriptorCache& cache, BitReader& reader, DecodeState& state,
                   DecodedResult& out, WorkBudget& budget, const DecodeOptions& options)
      : DecodingWalk(cache, reader, state, budget), out_(out), options_(options) {}

  const DecodeOptions& options() const { return options_; }

 private:
  friend class DescriptorWalk<UncompressedWalk>;
  friend class DecodingWalk<UncompressedWalk>;

  bool within_bounds() const { return out_.size() < options_.max_values; }

  Status element(uint32_t code) {
    if (state_.new_reference_width == 0 && state_.associated_field_width == 0) [[likely]] {
      const ElementInfo* element = cache_.element(code);
      if (element != nullptr && append_plain_number(reader_, *element, state_, out_)) [[likely]] {
        // plain_numbers() held, so no 2 06 width was pending.
        return after_element(code, element);
      }
    }
    return element_under_operators(code);
  }

  // Every other element: kept out of line so the hot path above inlines into the walk.
  [[gnu::noinline]] Status element_under_operators(uint32_t code) {
    if (state_.new_reference_width != 0) return new_reference(code);
    if (takes_associated_field(code)) {
      TARNWEL_TRY(read_associated_field(reader_, state_.associated_field_width, out_));
    }
    const ElementInfo* element = table_element(code);
    if (element == nullptr) return make_error<ErrorKind::ElementNotFound>(ErrorArg::code(code));
    TARNWEL_TRY(decode_element(reader_, *element, state_, out_));
    state_.local_width_pending = false;
    return after_element(code, element);
  }

  // A data present indicator feeds the bitmap being collected; any other element
  // joins the history that bitmaps refer to.
  Status after_element(uint32_t code, const ElementInfo* element) {
    if (code == 31031 && state_.bitmap_collecting) [[unlikely]] {
      const DecodedValue indicator = out_.value(out_.size() - 1);
      if (indicator.has_raw_value()) state_.bitmap.push_back(bitmap_byte(indicator.raw_value));
    } else {
      state_.history.push_back(element);
    }
    return Status::success();
  }

  // The factor is read like an element but takes no associated field, never feeds
  // the bitmap and leaves a pending 2 06 width alone.
  Result<uint64_t> delayed_factor(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return make_error<ErrorKind::ElementNotFound>(ErrorArg::code(code));
    TARNWEL_TRY(decode_element(reader_, *element, state_, out_));
    state_.history.push_back(element);
    // The record just appended; a text factor gives no count.
    const std::size_t last = out_.size() - 1;
    const ValueColumns& values = out_.values();
    if (element->is_text || (values.flags[last] & kHasRawValue) == 0) return uint64_t{0};
    return count_from_value(values.numbers[last]);
  }

  Status marker(uint32_t code) {
    out_.append(operator_marker(code));
    return Status::success();
  }

  Status character_data(uint32_t code) { return read_character_data(reader_, code, state_, out_); }

  Status selected(const ElementInfo& element) {
    TARNWEL_TRY(decode_element(reader_, element, state_, out_));
    return Status::success();
  }

  DecodedResult& out_;
  const DecodeOptions& options_;
};

}  // namespace

Result<DecodedResult> decode_uncompressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                          DescriptorCache& cache, BitReader& reader,
                                          const DecodeOptions& options) {
  DecodedResult out(subsets, false);
  DecodeState state;
  WorkBudget budget;
  UncompressedWalk walk(cache, reader, state, out, budget, options);
  // Most values take a byte or more, so the data size guesses a small message's
  // count and spares the regrowths of its first subset; a large one is sized after it.
  out.reserve(std::min<uint64_t>({reader.capacity() / 8 + 16, 4096, options.max_values}));
  for (uint32_t subset = 0; subset < subsets; ++subset) {
    state.start_subset();
    out.start_subset();
    TARNWEL_TRY(walk.walk(descriptors, 0));
    if (subset == 0 && subsets > 1) {
      // Subsets usually look alike; a quarter more spares the copies of a regrowth
      // when later ones are longer, and the data size caps a hostile first subset.
      const uint64_t estimate = uint64_t{out.size()} * subsets / 4 * 5;
      out.reserve(std::min({estimate, reader.capacity(), options.max_values}));
    }
  }
  return out;
}

}  // namespace tarnwel
