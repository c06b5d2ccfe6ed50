// Loading a whole table directory in the ecCodes layout, from files or from texts in memory.
#include "tables/eccodes_loader.hpp"

#include "tables/file_system.hpp"

namespace tarnwel {

Status read_eccodes_dir_into(const std::string& dir, TableSet& set) {
  TARNWEL_TRY(read_element_table(path_join(dir, "element.table"), set));
  TARNWEL_TRY(read_sequence_def(path_join(dir, "sequence.def"), set));
  // Code tables are optional: a directory without them is no error.
  const std::string code_tables = path_join(dir, "codetables");
  if (path_exists(code_tables)) TARNWEL_TRY(read_code_tables(code_tables, set));
  return Status::success();
}

Status read_table_texts_into(const TableTexts& texts, TableSet& set) {
  if (texts.element_table) TARNWEL_TRY(parse_element_table(*texts.element_table, set));
  if (texts.sequence_def) TARNWEL_TRY(parse_sequence_def(*texts.sequence_def, set));
  for (const auto& [code, text] : texts.code_tables) TARNWEL_TRY(parse_code_table(code, text, set));
  return Status::success();
}

Result<TableSet> load_eccodes_dir(const std::string& dir) {
  TableSet set;
  TARNWEL_TRY(read_eccodes_dir_into(dir, set));
  return set;
}

}  // namespace tarnwel
