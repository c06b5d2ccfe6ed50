// Structure-aware mutation: edits a message's descriptors, subsets, flags and data, frames it anew.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz_tables.hpp"

namespace tarnwel::fuzz {

// libFuzzer's own byte-level mutation (LLVMFuzzerMutate), or a stand-in outside libFuzzer.
using RawMutator = std::size_t (*)(uint8_t* data, std::size_t size, std::size_t max_size);

// Mutates the input in place and returns its new size (at most `max_size`). Most calls take
// one message of the input apart, change its section 3 descriptors (elements and sequences of
// the tables, operators 2 01-2 08 and 2 22-2 37, fixed and delayed replications), subset count,
// flags or section 4 data, and write valid framing around it, now and then truncated or
// doubled; the rest go to `raw`. The same seed gives the same result.
std::size_t mutate_input(uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed,
                         const FuzzTables& tables, RawMutator raw);

}  // namespace tarnwel::fuzz
