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
  return make_error<ErrorKind::WalkStepsExceeded>(kMaxWalkSteps);
}

inline BufrError value_count_exceeded() {
  return make_error<ErrorKind::ValueCountExceeded>(kMaxDecodedValues);
}

// What a caller may choose for one decode. The module's functions keep the
// fixed value bound with its text and stop at unknown descriptors; the reading
// API chooses its own bound and steps over what 2 06 YYY announces.
struct DecodeOptions {
  uint64_t max_values = kMaxDecodedValues;
  bool caller_budget = false;
  // An element that no table has, after 2 06 YYY, is read as a YYY-bit number.
  bool step_over_unknown_local = false;

  BufrError values_exceeded() const {
    if (!caller_budget) return value_count_exceeded();
    return make_error<ErrorKind::ValueBudgetExceeded>(max_values);
  }
};

}  // namespace tarnwel
