// Section 4 data laid out as the descriptors ask, so mutated messages decode past the first item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_rng.hpp"
#include "message_model.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::fuzz {

// Values for every subset (or, compressed, R0, increment widths and increments), delayed
// factors kept small, at most `max_bytes` long. Widths follow the width, text and local
// operators closely enough; where they do not, the decode simply fails further on.
std::vector<uint8_t> write_section4(const MessageModel& model, const TableSet& tables, Rng& rng,
                                    std::size_t max_bytes);

}  // namespace tarnwel::fuzz
