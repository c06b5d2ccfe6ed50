// Reader of sequence.def, the Table D statements of the ecCodes layout.
#include <algorithm>

#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"
#include "tables/text_lines.hpp"

namespace tarnwel {

namespace {

std::string_view strip_quotes(std::string_view text) {
  while (!text.empty() && text.front() == '"') text.remove_prefix(1);
  while (!text.empty() && text.back() == '"') text.remove_suffix(1);
  return text;
}

Status read_members(std::string_view list, std::vector<uint32_t>& members) {
  members.reserve(static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1);
  while (true) {
    const std::size_t comma = list.find(',');
    // A trailing comma or an empty list leaves empty pieces; they are skipped.
    const std::string_view piece = trim_white_space(list.substr(0, comma));
    if (!piece.empty()) {
      TARNWEL_ASSIGN(const uint32_t member, parse_descriptor_code(piece));
      members.push_back(member);
    }
    if (comma == std::string_view::npos) return Status::success();
    list.remove_prefix(comma + 1);
  }
}

// One statement: "code" = [ member, member, ... ]
Status read_statement(std::string_view statement, TableSet& set) {
  const std::size_t equals = statement.find('=');
  if (equals == std::string_view::npos) return Status::success();
  SequenceDefinition sequence;
  const std::string_view key = strip_quotes(trim_white_space(statement.substr(0, equals)));
  TARNWEL_ASSIGN(sequence.code, parse_descriptor_code(key));
  const std::string_view rest = statement.substr(equals + 1);
  const std::size_t open = rest.find('[');
  const std::size_t close = rest.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return make_error<ErrorKind::MalformedStatement>(statement);
  }
  TARNWEL_TRY(read_members(rest.substr(open + 1, close - open - 1), sequence.members));
  set.insert_sequence(std::move(sequence));
  return Status::success();
}

// Kept lines gather into a statement until one of them holds a "]"; an error
// is placed at the statement's first line.
Status read_statements(std::string_view text, TableSet& set) {
  std::string statement;
  uint64_t first_line = 0;
  return for_each_kept_line(text, [&](std::string_view line, uint64_t number) -> Status {
    if (statement.empty()) first_line = number;
    if (!statement.empty()) statement += ' ';
    statement += line;
    if (line.find(']') == std::string_view::npos) return Status::success();
    Status status = read_statement(statement, set);
    statement.clear();
    if (!status) status.error().at_line(first_line);
    return status;
  });
}

}  // namespace

Status parse_sequence_def(std::string_view text, TableSet& set) {
  if (!is_valid_utf8(text)) return make_error<ErrorKind::InvalidUtf8Stream>();
  return read_statements(text, set);
}

Status read_sequence_def(const std::string& path, TableSet& set) {
  TARNWEL_ASSIGN(const std::string text, in_file(read_text_file(path), path));
  return in_file(read_statements(text, set), path);
}

}  // namespace tarnwel
