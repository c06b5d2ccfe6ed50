// Reader of the codetables directory: one code or flag table file per element.
#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"
#include "tables/text_lines.hpp"

namespace tarnwel {

namespace {

constexpr std::string_view kTableSuffix = ".table";

// Lines of "<figure> <figure again> <meaning words...>"; shorter lines are skipped.
Result<CodeTable> parse_code_table(std::string_view text) {
  CodeTable table;
  TARNWEL_TRY(for_each_kept_line(text, [&](std::string_view line) -> Status {
    WordCursor words(line);
    const std::string_view figure = words.next();
    words.next();
    std::string_view word = words.next();
    if (word.empty()) return Status::success();
    TARNWEL_ASSIGN(const uint64_t key, parse_code_table_key(figure));
    std::string meaning(word);
    while (!(word = words.next()).empty()) {
      meaning += ' ';
      meaning += word;
    }
    table.insert_or_assign(key, std::move(meaning));
    return Status::success();
  }));
  return table;
}

}  // namespace

Status read_code_tables(const std::string& dir, TableSet& set) {
  TARNWEL_ASSIGN(const std::vector<std::string> names, list_directory_sorted(dir));
  for (const std::string& name : names) {
    if (!std::string_view(name).ends_with(kTableSuffix)) continue;
    const std::string_view stem = file_stem(name);
    if (stem.empty() || !is_valid_utf8(stem)) continue;
    TARNWEL_ASSIGN(const uint32_t code, parse_descriptor_code(stem));
    TARNWEL_ASSIGN(const std::string text, read_text_file(path_join(dir, name)));
    TARNWEL_ASSIGN(CodeTable table, parse_code_table(text));
    set.insert_code_table(code, std::move(table));
  }
  return Status::success();
}

}  // namespace tarnwel
