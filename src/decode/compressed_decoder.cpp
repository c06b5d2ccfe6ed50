// The descriptor walk over compressed data: every item once for all subsets, then reordered by subset.
#include "decode/compressed_decoder.hpp"

#include <cmath>
#include <limits>

#include "decode/compressed_columns.hpp"
#include "decode/decoding_walk.hpp"

namespace tarnwel {

namespace {

class CompressedWalk : public DecodingWalk<CompressedWalk> {
 public:
  static constexpr ErrorKind kDepthError = ErrorKind::CompressedDecodeTooDeep;

  CompressedWalk(DescriptorCache& cache, BitReader& reader, DecodeState& state,
                 WorkBudget& budget, DecodedResult& result, const DecodeOptions& options)
      : DecodingWalk(cache, reader, state, budget),
        items_(reader, result, options),
        options_(options) {}

  const DecodeOptions& options() const { return options_; }

 private:
  friend class DescriptorWalk<CompressedWalk>;
  friend class DecodingWalk<CompressedWalk>;

  // The column bound is checked as columns are added.
  static bool within_bounds() { return true; }

  Status element(uint32_t code) {
    if (state_.new_reference_width != 0) return new_reference(code);
    if (takes_associated_field(code)) {
      TARNWEL_TRY(items_.associated_field(state_.associated_field_width));
    }
    const ElementInfo* element = table_element(code);
    if (element == nullptr) return make_error<ErrorKind::ElementNotFound>(ErrorArg::code(code));
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

  // A factor is one count for all subsets (columns cannot hold counts that vary)
  // and a count of its element's width, which R0 plus an increment can pass.
  Result<uint64_t> delayed_factor(uint32_t code) {
    const ElementInfo* element = cache_.element(code);
    if (element == nullptr) return make_error<ErrorKind::ElementNotFound>(ErrorArg::code(code));
    const uint32_t width = state_.numeric_width(*element);
    TARNWEL_TRY(items_.element(*element, state_));
    state_.history.push_back(element);
    if (items_.subsets() == 0) return uint64_t{0};
    const std::size_t column = items_.size() - 1;
    const DecodedValue first = items_.value(column, 0);
    for (uint32_t i = 1; i < items_.subsets(); ++i) {
      const DecodedValue value = items_.value(column, i);
      if (value.has_raw_value() != first.has_raw_value() ||
          (first.has_raw_value() &&
           std::fabs(value.raw_value - first.raw_value) > std::numeric_limits<double>::epsilon())) {
        return make_error<ErrorKind::VaryingCompressedFactor>();
      }
    }
    if (!first.has_raw_value()) return uint64_t{0};
    if (!items_.fits_width(column, width)) {
      return make_error<ErrorKind::CompressedFactorTooWide>(ErrorArg::code(code), width);
    }
    return count_from_value(first.raw_value);
  }

  Status marker(uint32_t code) { return items_.marker(code); }

  Status character_data(uint32_t code) {
    return items_.text((descriptor_y(code) & 255) * 8, &kCharacterDataName, code, state_);
  }

  Status selected(const ElementInfo& element) { return items_.element(element, state_); }

  ColumnSet items_;
  const DecodeOptions& options_;
};

}  // namespace

Result<DecodedResult> decode_compressed(std::span<const uint32_t> descriptors, uint32_t subsets,
                                        DescriptorCache& cache, BitReader& reader,
                                        const DecodeOptions& options) {
  DecodedResult result(subsets, true);
  result.set_bits(reader.data());
  DecodeState state;
  WorkBudget budget;
  CompressedWalk walk(cache, reader, state, budget, result, options);
  TARNWEL_TRY(walk.walk(descriptors, 0));
  return result;
}

}  // namespace tarnwel
