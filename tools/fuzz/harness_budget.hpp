// Decodes under the reading API's value budget, and upper bounds on the work the core does not let
// a caller bound, so that calls that would take seconds under the sanitizers are skipped.
#pragma once

#include <cstdint>
#include <optional>

#include "decode/decoded_result.hpp"
#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::fuzz {

// Decodes get the reading API's default budget (tarnwel.reader.DEFAULT_MAX_VALUES), so an
// amplifier ends in the budget's error as it would for a caller.
inline constexpr uint64_t kReaderMaxValues = 5'000'000;
// The core's other bounds are fixed (10 M descriptors, 100 M walk steps) and too large for a run
// under the sanitizers and coverage: a decode that stops at the value budget after 5 M steps takes
// 4-5 s and 450 MB there. A call must stay well inside the fuzzers' -timeout=1 on a busy machine,
// so calls whose bound passes these are skipped.
inline constexpr uint64_t kMaxExpansionVisits = 1'000'000;
inline constexpr uint64_t kMaxWalkSteps = 1'000'000;

// Saturating upper bounds of what expand_descriptors and decode_section4 do with a message.
struct WorkBound {
  uint64_t expansion_visits = 0;
  uint64_t walk_steps = 0;
  uint64_t values = 0;
};

// Replications multiply by their fixed count or by the largest factor their factor element can
// hold (unbounded once 2 01, 2 02, 2 03, 2 06 or 2 07 is reachable), and by no more passes than
// the data has bits for when a pass must read some; uncompressed subsets likewise.
WorkBound bound_work(const TableSet& tables, const BufrMessage& message);

bool expansion_within_budget(const WorkBound& bound);

// Decodes with the reading API's budget and options, unless the walk-step bound exceeds
// kMaxWalkSteps (then nothing).
std::optional<Result<DecodedResult>> decode_within_budget(const BufrMessage& message,
                                                          const TableSet& tables,
                                                          ByteView section4_data);

}  // namespace tarnwel::fuzz
