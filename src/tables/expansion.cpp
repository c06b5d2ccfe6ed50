// Expanding descriptor lists through Table D into the flat list a reader meets.
#include "tables/expansion.hpp"

#include <string>

#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

class Expander {
 public:
  explicit Expander(const TableSet& tables) : tables_(tables) {}

  Status expand(std::span<const uint32_t> list, int depth);
  std::vector<uint32_t>& output() { return out_; }

 private:
  // Checked on every descriptor, so the success path builds no Status.
  bool visit() { return ++visits_ <= kMaxExpansionVisits; }
  bool append(uint32_t code) {
    if (out_.size() >= kMaxExpandedDescriptors) return false;
    out_.push_back(code);
    return true;
  }
  static BufrError too_many_visits();
  static BufrError too_many_descriptors();
  // Returns how many codes of `list` the replication at `index` used.
  Result<std::size_t> expand_replication(std::span<const uint32_t> list, std::size_t index,
                                         int depth);
  Status expand_sequence(uint32_t code, int depth);
  Status apply_operator(uint32_t code);

  const TableSet& tables_;
  std::vector<uint32_t> out_;
  uint64_t visits_ = 0;
  // The associated-field width; a setting outlives the group that made it.
  uint8_t associated_width_ = 0;
};

BufrError Expander::too_many_visits() {
  return BufrError::parse("sequence expansion visited more than " +
                          std::to_string(kMaxExpansionVisits) + " descriptors");
}

BufrError Expander::too_many_descriptors() {
  return BufrError::parse("expanded descriptor list exceeds " +
                          std::to_string(kMaxExpandedDescriptors) + " descriptors");
}

Result<std::size_t> Expander::expand_replication(std::span<const uint32_t> list,
                                                 std::size_t index, int depth) {
  const uint32_t code = list[index];
  const std::size_t count = descriptor_x(code);
  const uint32_t times = descriptor_y(code) & 0xFF;
  if (count == 0 || index + count >= list.size()) {
    return BufrError::unsupported_replication(code);
  }
  if (times != 0) {
    const std::span<const uint32_t> group = list.subspan(index + 1, count);
    for (uint32_t round = 0; round < times; ++round) TARNWEL_TRY(expand(group, depth + 1));
    return count + 1;
  }
  // Delayed: the factor descriptor comes first, and the group is written once.
  if (index + count + 1 >= list.size()) {
    return BufrError::delayed_replication_incomplete(code);
  }
  TARNWEL_TRY(expand(list.subspan(index + 1, count + 1), depth + 1));
  return count + 2;
}

Status Expander::expand_sequence(uint32_t code, int depth) {
  const SequenceDefinition* sequence = tables_.get_sequence(code);
  if (sequence == nullptr) return BufrError::sequence_not_found(code);
  return expand(sequence->members, depth + 1);
}

Status Expander::apply_operator(uint32_t code) {
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

Status Expander::expand(std::span<const uint32_t> list, int depth) {
  if (depth > kMaxExpansionDepth) {
    return BufrError::parse("sequence expansion exceeded recursion depth");
  }
  std::size_t index = 0;
  while (index < list.size()) {
    if (!visit()) return too_many_visits();
    const uint32_t code = list[index];
    switch (descriptor_f(code)) {
      case 0:
        if (associated_width_ != 0 && descriptor_x(code) != 31 &&
            !append(kAssociatedFieldCode)) {
          return too_many_descriptors();
        }
        if (!append(code)) return too_many_descriptors();
        index += 1;
        break;
      case 1: {
        TARNWEL_ASSIGN(const std::size_t used, expand_replication(list, index, depth));
        index += used;
        break;
      }
      case 2:
        TARNWEL_TRY(apply_operator(code));
        index += 1;
        break;
      case 3:
        TARNWEL_TRY(expand_sequence(code, depth));
        index += 1;
        break;
      default:
        return BufrError::parse("invalid descriptor " + format_code(code));
    }
  }
  return Status::success();
}

}  // namespace

Result<std::vector<uint32_t>> expand_descriptors(const TableSet& tables,
                                                 std::span<const uint32_t> descriptors) {
  Expander expander(tables);
  TARNWEL_TRY(expander.expand(descriptors, 0));
  return std::move(expander.output());
}

}  // namespace tarnwel
