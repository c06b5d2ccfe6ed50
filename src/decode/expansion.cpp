// Expanding descriptor lists through Table D: the descriptor walk with no data under it.
#include "decode/expansion.hpp"

#include <string>

#include "decode/descriptor_walk.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

class Expansion : public DescriptorWalk<Expansion> {
 public:
  static constexpr ErrorKind kDepthError = ErrorKind::ExpansionTooDeep;

  explicit Expansion(const TableSet& tables) : tables_(tables) {}

  std::vector<uint32_t>& output() { return out_; }

 private:
  friend class DescriptorWalk<Expansion>;

  // The factor descriptor comes first and the group is written once: the walk
  // takes both as one list, so the factor is visited and written like any other.
  static constexpr bool kDelayedGroupOnce = true;

  // Checked on every descriptor, so the success path builds no error.
  bool take_step() { return ++visits_ <= kMaxExpansionVisits; }
  static BufrError step_error() {
    return make_error<ErrorKind::ExpansionVisitsExceeded>(kMaxExpansionVisits);
  }

  Status element(uint32_t code) {
    if (associated_width_ != 0 && descriptor_x(code) != 31 && !append(kAssociatedFieldCode)) {
      return too_many_descriptors();
    }
    if (!append(code)) return too_many_descriptors();
    return Status::success();
  }

  Status operation(uint32_t code) {
    switch (descriptor_x(code)) {
      case 4:
        associated_width_ = static_cast<uint8_t>(descriptor_y(code) & 0xFF);
        return Status::success();
      // Width, scale, reference and local-skip operators change no descriptor.
      case 1:
      case 2:
      case 6:
      case 7:
      case 8:
        return Status::success();
      default:
        if (!append(code)) return too_many_descriptors();
        return Status::success();
    }
  }

  const SequenceDefinition* sequence(uint32_t code) const { return tables_.get_sequence(code); }

  bool append(uint32_t code) {
    if (out_.size() >= kMaxExpandedDescriptors) return false;
    out_.push_back(code);
    return true;
  }
  static BufrError too_many_descriptors() {
    return make_error<ErrorKind::ExpansionTooLong>(kMaxExpandedDescriptors);
  }

  const TableSet& tables_;
  std::vector<uint32_t> out_;
  uint64_t visits_ = 0;
  // The associated-field width; a setting outlives the group that made it.
  uint8_t associated_width_ = 0;
};

}  // namespace

Result<std::vector<uint32_t>> expand_descriptors(const TableSet& tables,
                                                 std::span<const uint32_t> descriptors) {
  Expansion expansion(tables);
  TARNWEL_TRY(expansion.walk(descriptors, 0));
  return std::move(expansion.output());
}

}  // namespace tarnwel
