// Reading a table directory in the ecCodes layout into a TableSet.
#pragma once

#include <string>

#include "message/error.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// element.table and sequence.def (both required), then codetables when present.
Result<TableSet> load_eccodes_dir(const std::string& dir);

// As load_eccodes_dir, into an existing set.
Status read_eccodes_dir_into(const std::string& dir, TableSet& set);

// Each reads one source into `set`; entries replace those of the same code.
Status read_element_table(const std::string& path, TableSet& set);
Status read_sequence_def(const std::string& path, TableSet& set);
Status read_code_tables(const std::string& dir, TableSet& set);

}  // namespace tarnwel
