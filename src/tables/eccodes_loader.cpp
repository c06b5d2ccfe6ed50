// Loading a whole table directory in the ecCodes layout.
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

Result<TableSet> load_eccodes_dir(const std::string& dir) {
  TableSet set;
  TARNWEL_TRY(read_eccodes_dir_into(dir, set));
  return set;
}

}  // namespace tarnwel
