// Reader of the codetables directory: one code or flag table file per element.
#include <algorithm>

#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"
#include "tables/text_lines.hpp"

namespace tarnwel {

namespace {

constexpr std::string_view kTableSuffix = ".table";

// Whether `words` are separated by single ASCII spaces only, so that they are
// already their own join.
bool single_spaced(std::string_view words) {
  bool after_space = false;
  for (const char c : words) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || (byte >= 0x09 && byte <= 0x0D)) return false;
    if (byte == ' ' && after_space) return false;
    after_space = byte == ' ';
  }
  return true;
}

// Lines of "<figure> <figure again> <meaning words...>"; shorter lines are skipped.
Result<CodeTable> read_code_lines(std::string_view text) {
  CodeTable table;
  // One entry a line, at most: no rehashing as the table fills.
  table.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  TARNWEL_TRY(for_each_kept_line(text, [&](std::string_view line, uint64_t number) -> Status {
    WordCursor words(line);
    const std::string_view figure = words.next();
    words.next();
    std::string_view word = words.next();
    if (word.empty()) return Status::success();
    Result<uint64_t> parsed = parse_code_table_key(figure);
    if (!parsed) return std::move(parsed.error().at_line(number));
    const uint64_t key = *parsed;
    // The line is trimmed, so the meaning runs to its end.
    const std::string_view rest = line.substr(static_cast<std::size_t>(word.data() - line.data()));
    if (single_spaced(rest)) {
      table.insert_or_assign(key, std::string(rest));
      return Status::success();
    }
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

// One file of the directory: its name gives the element, its lines the table.
Status read_code_table_file(const std::string& dir, const std::string& name, std::string_view stem,
                            TableSet& set) {
  TARNWEL_ASSIGN(const uint32_t code, parse_descriptor_code(stem));
  TARNWEL_ASSIGN(const std::string text, read_text_file(path_join(dir, name)));
  TARNWEL_ASSIGN(CodeTable table, read_code_lines(text));
  set.insert_code_table(code, std::move(table));
  return Status::success();
}

}  // namespace

Status parse_code_table(uint32_t code, std::string_view text, TableSet& set) {
  if (!is_valid_utf8(text)) return make_error<ErrorKind::InvalidUtf8Stream>();
  TARNWEL_ASSIGN(CodeTable table, read_code_lines(text));
  set.insert_code_table(code, std::move(table));
  return Status::success();
}

Status read_code_tables(const std::string& dir, TableSet& set) {
  TARNWEL_ASSIGN(const std::vector<std::string> names, in_file(list_directory_sorted(dir), dir));
  for (const std::string& name : names) {
    if (!std::string_view(name).ends_with(kTableSuffix)) continue;
    const std::string_view stem = file_stem(name);
    if (stem.empty() || !is_valid_utf8(stem)) continue;
    TARNWEL_TRY(in_file(read_code_table_file(dir, name, stem, set), path_join(dir, name)));
  }
  return Status::success();
}

}  // namespace tarnwel
