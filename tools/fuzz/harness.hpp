// One input through every core entry point the fuzzers reach, with what must hold of each result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz_tables.hpp"
#include "harness_budget.hpp"

namespace tarnwel::fuzz {

// What the last input did, for the replay tool's summary.
struct InputStats {
  uint64_t messages = 0;     // parsed
  uint64_t expanded = 0;     // expansions run
  uint64_t decoded = 0;      // decodes that returned values
  uint64_t over_budget = 0;  // decodes stopped by the value budget
  uint64_t skipped = 0;      // decodes or expansions left out by the harness's step bounds
  uint64_t values = 0;
  WorkBound largest;         // the largest bound of a skipped decode, field by field
};

// Scans the buffer, parses the whole buffer and each message found (the first 8), expands and
// decodes each parsed message with the reading API's budget. A broken invariant aborts the process.
InputStats run_core_input(const uint8_t* data, std::size_t size, const FuzzTables& tables);

}  // namespace tarnwel::fuzz
