// The tables the fuzz targets decode with, loaded once, and the codes the mutator draws from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/table_set.hpp"

namespace tarnwel::fuzz {

struct FuzzTables {
  TableSet tables;
  std::vector<uint32_t> elements;   // every Table B code, sorted
  std::vector<uint32_t> sequences;  // every Table D code, sorted
  std::vector<uint32_t> factors;    // class 31 codes that can count a delayed replication
  std::string origin;               // where the tables came from, for the start-up line
};

// Master tables from $TARNWEL_FUZZ_MASTER_DIR, else the newest ecCodes WMO version
// installed; local tables from $TARNWEL_FUZZ_LOCAL_DIR (set but empty: none), else ECMWF's,
// laid over them. When no master tables can be read, a small built-in set keeps the targets
// running.
const FuzzTables& fuzz_tables();

}  // namespace tarnwel::fuzz
