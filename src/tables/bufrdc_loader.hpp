// Reading a directory of BUFRDC text tables (B, C and D files) for one message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// What a table file name is made of: B, C or D, then the master table number (3
// digits), originating subcentre (5), originating centre (5), master tables version
// (3) and local tables version (3), then ".TXT" or ".txt".
struct BufrdcTableKey {
  uint32_t master_table_number = 0;
  uint32_t subcentre = 0;
  uint32_t centre = 0;
  uint32_t master_version = 0;
  uint32_t local_version = 0;
};

inline BufrdcTableKey bufrdc_key_of(const BufrMessage& message) {
  return {message.master_table_number, message.originating_subcentre,
          message.originating_centre, message.master_tables_version_number,
          message.local_tables_version_number};
}

struct BufrdcTables {
  TableSet tables;
  std::string table_file_name;  // the B file read, without its directory
};

// The tables of the file set `key` chooses in `dir` (see the rule in the source),
// or none when the directory holds no set for it. A centre's set replaces the WMO
// set as a whole. The B and D files are required, the C file is optional.
Result<std::optional<BufrdcTables>> load_bufrdc_tables(const std::string& dir,
                                                       const BufrdcTableKey& key);

// Each reads one file into `set`; a later entry replaces an earlier one of the
// same code. Errors name the file and the line. Table B has no key or type
// column, so an element's abbreviation and type stay empty, and its name is the
// 64 characters the file holds, as written.
Status read_bufrdc_table_b(const std::string& path, TableSet& set);
Status read_bufrdc_table_c(const std::string& path, TableSet& set);
Status read_bufrdc_table_d(const std::string& path, TableSet& set);

}  // namespace tarnwel
