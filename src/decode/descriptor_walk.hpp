// The one descriptor walk: classes, replication windows, sequences and depth, for decoding and expansion.
#pragma once

#include <cstdint>
#include <span>

#include "message/descriptor_code.hpp"
#include "message/error.hpp"

namespace tarnwel {

inline constexpr unsigned kMaxWalkDepth = 64;

// The rules of the walk are the same for every layout; only what an item does
// and where it goes differ. `Layout` supplies (the decoders partly through
// DecodingWalk), as members reachable from here:
//   bool take_step()                            checked before every descriptor
//   BufrError step_error()                      why a step was refused
//   Status element(uint32_t code)               an element descriptor (F = 0)
//   Status operation(uint32_t code)             an operator descriptor (F = 2)
//   const SequenceDefinition* sequence(uint32_t code)   nullptr when not in Table D
//   static constexpr bool kDelayedGroupOnce     true: factor and group are walked once,
//                                               as one list, like any other descriptors
//   Result<uint64_t> delayed_factor(uint32_t)   otherwise: read a factor, give the count
//   static constexpr ErrorKind kDepthError       the error of a walk nested too deep
// The calls are static, so the hot loop costs what a hand-written one does.
template <class Layout>
class DescriptorWalk {
 public:
  Status walk(std::span<const uint32_t> codes, unsigned depth) {
    if (depth > kMaxWalkDepth) return make_error<Layout::kDepthError>();
    for (std::size_t i = 0; i < codes.size();) {
      if (!layout().take_step()) return layout().step_error();
      const uint32_t code = codes[i];
      switch (descriptor_f(code)) {
        case 0: TARNWEL_TRY(layout().element(code)); ++i; break;
        case 1: TARNWEL_TRY(replication(codes, i, depth)); break;
        case 2: TARNWEL_TRY(layout().operation(code)); ++i; break;
        case 3: TARNWEL_TRY(sequence(code, depth)); ++i; break;
        default: return make_error<ErrorKind::InvalidDescriptor>(ErrorArg::code(code));
      }
    }
    return Status::success();
  }

 protected:
  DescriptorWalk() = default;

 private:
  Layout& layout() { return static_cast<Layout&>(*this); }

  // Advances `i` past the replication descriptor, its factor and its body.
  Status replication(std::span<const uint32_t> codes, std::size_t& i, unsigned depth) {
    const uint32_t code = codes[i];
    const std::size_t count = descriptor_x(code);
    const uint32_t fixed = descriptor_y(code) & 255;
    if (count == 0 || i + count >= codes.size()) {
      return make_error<ErrorKind::UnsupportedReplication>(ErrorArg::code(code));
    }
    if (fixed != 0) {
      const auto body = codes.subspan(i + 1, count);
      for (uint32_t k = 0; k < fixed; ++k) TARNWEL_TRY(walk(body, depth + 1));
      i += count + 1;
      return Status::success();
    }
    if (i + count + 1 >= codes.size()) {
      return make_error<ErrorKind::DelayedReplicationIncomplete>(ErrorArg::code(code));
    }
    if constexpr (Layout::kDelayedGroupOnce) {
      TARNWEL_TRY(walk(codes.subspan(i + 1, count + 1), depth + 1));
    } else {
      TARNWEL_ASSIGN(const uint64_t repeats, layout().delayed_factor(codes[i + 1]));
      const auto body = codes.subspan(i + 2, count);
      for (uint64_t k = 0; k < repeats; ++k) TARNWEL_TRY(walk(body, depth + 1));
    }
    i += count + 2;
    return Status::success();
  }

  Status sequence(uint32_t code, unsigned depth) {
    const auto* sequence = layout().sequence(code);
    if (sequence == nullptr) return make_error<ErrorKind::SequenceNotFound>(ErrorArg::code(code));
    return walk(sequence->members, depth + 1);
  }
};

}  // namespace tarnwel
