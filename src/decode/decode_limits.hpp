// Bounds on the work of one decode, so that hostile counts end in an error instead of minutes.
#pragma once

#include <cstdint>

#include "message/error.hpp"

namespace tarnwel {

// Replication counts come from the data and nested replications multiply, while
// markers and zero-width elements read no bits, so neither the message size nor
// the result size bounds the walk. Real messages stay orders of magnitude below.
inline constexpr uint64_t kMaxWalkSteps = 100'000'000;
// About 48 bytes per value here and some 70 more per Python object: ~2.4 GB.
inline constexpr uint64_t kMaxDecodedValues = 20'000'000;

// Counts every descriptor the walk visits (once per subset in uncompressed data,
// once per data item in compressed data).
struct WorkBudget {
  uint64_t steps = 0;

  bool take_step() { return ++steps <= kMaxWalkSteps; }
};

inline BufrError walk_steps_exceeded() {
  return BufrError::parse("descriptor walk exceeds " + std::to_string(kMaxWalkSteps) + " steps");
}

inline BufrError value_count_exceeded() {
  return BufrError::parse("decoded value count exceeds " + std::to_string(kMaxDecodedValues));
}

// How many values one decode may make. The module's functions keep the fixed
// bound and its text; the reading API lets its caller choose the bound.
struct ValueBudget {
  uint64_t limit = kMaxDecodedValues;
  bool chosen_by_caller = false;

  BufrError exceeded() const {
    if (!chosen_by_caller) return value_count_exceeded();
    return BufrError::value_budget_exceeded(limit);
  }
};

}  // namespace tarnwel
