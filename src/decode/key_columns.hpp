// The cells of a few element keys of a decode, found without naming every column first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoded_result.hpp"
#include "decode/element_cache.hpp"

namespace tarnwel {

// One requested key's cells: subsets × width, row by row, as ArrayPlan::fill
// gives the column of that name (NaN / kNoId where a subset has fewer values).
struct KeyColumn {
  bool found = false;
  bool text = false;
  uint32_t width = 0;
  std::vector<double> numbers;  // a number column
  std::vector<uint32_t> texts;  // a text column: text ids
};

// The columns ArrayPlan would name `keys` (distinct element keys, each perhaps
// with the "->associatedField" suffix). A key's column is the first element met
// whose key it is, told apart by descriptor, as ArrayPlan does. Keys that are or
// start with a digit may name columns by code; ArrayPlan alone resolves those.
// `cache` is one of the decode's tables (the decode's own is warm).
std::vector<KeyColumn> key_columns(const DecodedResult& decoded, DescriptorCache& cache,
                                   const std::vector<std::string_view>& keys);

}  // namespace tarnwel
