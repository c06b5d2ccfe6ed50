// Expanding descriptor lists through Table D into the flat list a reader meets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "message/error.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// Fixed replication multiplies, so both the output and the work done to produce
// it are bounded, for tables that nest replications of empty sequences too.
// Nesting is bounded by the walk's own depth limit.
inline constexpr std::size_t kMaxExpandedDescriptors = 10'000'000;
inline constexpr uint64_t kMaxExpansionVisits = 50'000'000;

// Sequences replaced by their members, fixed replications unrolled, delayed
// groups written once, 999999 before elements that carry an associated field.
Result<std::vector<uint32_t>> expand_descriptors(const TableSet& tables,
                                                 std::span<const uint32_t> descriptors);

}  // namespace tarnwel
