// Choosing and loading the master and local tables of a message from a
// definitions root.
#include "tables/definitions.hpp"

#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"
#include "tables/utf8.hpp"

namespace tarnwel {

namespace {

BufrError missing_directory(const std::string& path) {
  return make_error<ErrorKind::MissingTableDirectory>(path);
}

// The entry that an alias file names, in the alias file's own directory.
Result<std::string> follow_alias(const std::string& alias_path) {
  TARNWEL_ASSIGN(const std::string text, in_file(read_text_file(alias_path), alias_path));
  const std::string_view target = trim_white_space(text);
  if (target.empty() || target.find_first_of("/\\") != std::string_view::npos) {
    return make_error<ErrorKind::InvalidAlias>(alias_path, quoted_text(target));
  }
  const std::optional<std::string> parent = path_parent(alias_path);
  if (!parent) return missing_directory(alias_path);
  return path_join(*parent, target);
}

std::string tables_dir(const std::string& root, const BufrMessage& message) {
  std::string path = path_join(root, "bufr");
  path = path_join(path, "tables");
  return path_join(path, std::to_string(message.master_table_number));
}

std::string master_dir(const std::string& root, const BufrMessage& message) {
  const std::string wmo = path_join(tables_dir(root, message), "wmo");
  return path_join(wmo, std::to_string(message.master_tables_version_number));
}

// Under master version 19 the local version is written "19-<local>".
std::string local_dir(const std::string& root, const BufrMessage& message) {
  std::string version = std::to_string(message.local_tables_version_number);
  if (message.master_tables_version_number == 19) version.insert(0, "19-");
  std::string path = path_join(tables_dir(root, message), "local");
  path = path_join(path, version);
  path = path_join(path, std::to_string(message.originating_centre));
  return path_join(path, std::to_string(message.originating_subcentre));
}

// Reads whichever of the three sources the local directory holds.
Status read_local_dir_into(const std::string& dir, TableSet& set) {
  const std::string elements = path_join(dir, "element.table");
  if (path_exists(elements)) TARNWEL_TRY(read_element_table(elements, set));
  const std::string sequences = path_join(dir, "sequence.def");
  if (path_exists(sequences)) TARNWEL_TRY(read_sequence_def(sequences, set));
  const std::string code_tables = path_join(dir, "codetables");
  if (path_exists(code_tables)) TARNWEL_TRY(read_code_tables(code_tables, set));
  return Status::success();
}

}  // namespace

Result<std::string> resolve_table_dir(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    if (is_directory(current)) return current;
    if (!is_regular_file(current)) return missing_directory(current);
    // A cycle of alias files would otherwise be followed for ever.
    if (hops == kMaxAliasHops) {
      return make_error<ErrorKind::AliasChainTooLong>(current);
    }
    TARNWEL_ASSIGN(current, follow_alias(current));
  }
}

Result<TableSet> load_definitions_tables(const std::string& root, const BufrMessage& message) {
  TARNWEL_ASSIGN(const std::string master, resolve_table_dir(master_dir(root, message)));
  TableSet set;
  TARNWEL_TRY(read_eccodes_dir_into(master, set));
  if (message.local_tables_version_number == 0) return set;
  // Missing local tables are no error; no alias is followed for them.
  const std::string local = local_dir(root, message);
  if (!path_exists(local)) return set;
  TARNWEL_TRY(read_local_dir_into(local, set));
  return set;
}

}  // namespace tarnwel
