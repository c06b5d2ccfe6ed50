// The harness's stand-in for a caller-chosen decode budget: an upper bound on the work of a call,
// so that inputs the core accepts but that would take gigabytes or seconds are skipped.
#pragma once

#include <cstdint>
#include <optional>

#include "decode/decoded_value.hpp"
#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::fuzz {

// Far below the core's own bounds (10 M descriptors, 100 M walk steps, 20 M values): under the
// sanitizers and coverage a walk step costs up to 0.3 us and a value 0.7 us (0.25 us compressed),
// and a call must stay well inside the fuzzers' -timeout=1 and -rss_limit_mb=512 on a busy machine.
inline constexpr uint64_t kMaxExpansionVisits = 1'000'000;
inline constexpr uint64_t kMaxWalkSteps = 1'000'000;
inline constexpr uint64_t kMaxValues = 300'000;
inline constexpr uint64_t kMaxCompressedValues = 1'000'000;

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

// THE ONE PLACE to switch to the decoders' budget parameter: today it decodes only messages whose
// bound fits and returns nothing for the others; with a budget it will always decode, passing
// kMaxValues (and steps), and the bound above can go.
std::optional<Result<DecodedValues>> decode_within_budget(const BufrMessage& message,
                                                          const TableSet& tables,
                                                          ByteView section4_data);

}  // namespace tarnwel::fuzz
