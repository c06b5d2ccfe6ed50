// Reading a table directory in the ecCodes layout into a TableSet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The same readers over a text in memory, which must be UTF-8 as a file must; a
// code table text becomes the table of element `code`.
Status parse_element_table(std::string_view text, TableSet& set);
Status parse_sequence_def(std::string_view text, TableSet& set);
Status parse_code_table(uint32_t code, std::string_view text, TableSet& set);

// What one table directory holds, already in memory; an absent text is a file
// the directory lacks.
struct TableTexts {
  std::optional<std::string_view> element_table;
  std::optional<std::string_view> sequence_def;
  // (element code, text) of each code table file, read in this order.
  std::vector<std::pair<uint32_t, std::string_view>> code_tables;
};

// Reads the texts into `set` in the order a directory is read: elements,
// sequences, then code tables.
Status read_table_texts_into(const TableTexts& texts, TableSet& set);

}  // namespace tarnwel
