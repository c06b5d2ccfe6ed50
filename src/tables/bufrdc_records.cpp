// Readers of the three BUFRDC text table files: Table B, Table C and Table D records.
#include <optional>
#include <string_view>

#include "message/descriptor_code.hpp"
#include "tables/bufrdc_loader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"
#include "tables/utf8.hpp"

namespace tarnwel {

namespace {

// The lines of one table file, without their line ends and trailing blanks.
class TableLines {
 public:
  explicit TableLines(const std::string& path) : path_(path) {}
  TableLines(const TableLines&) = delete;
  TableLines& operator=(const TableLines&) = delete;

  Status load() {
    if (const int error = read_file_bytes(path_, bytes_); error != 0) {
      BufrError failure = os_error<ErrorKind::BufrdcOsError>(error);
      return failure.in_file(path_);
    }
    return Status::success();
  }

  // Moves to the next line that is not blank; false at the end of the file.
  Result<bool> next() {
    while (position_ < bytes_.size()) {
      const std::size_t end = bytes_.find('\n', position_);
      const std::size_t stop = end == std::string::npos ? bytes_.size() : end;
      std::string_view line(bytes_.data() + position_, stop - position_);
      position_ = stop == bytes_.size() ? stop : stop + 1;
      ++number_;
      // This also drops the CR of a CR LF line end.
      while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.remove_suffix(1);
      }
      TARNWEL_TRY(check_characters(line));
      if (line.empty()) continue;
      line_ = line;
      return true;
    }
    return false;
  }

  std::string_view line() const { return line_; }
  uint64_t number() const { return number_; }
  // An error of the current line, which its kind's text shows with the path.
  template <ErrorKind Kind, class... Args>
  BufrError error(Args&&... args) const {
    BufrError failure = make_error<Kind>(std::forward<Args>(args)...);
    failure.in_file(path_).at_line(number_);
    return failure;
  }

 private:
  // Columns count bytes, so a control character (a tab, a NUL) would shift them.
  Status check_characters(std::string_view line) const {
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      if (byte < 0x20 || byte == 0x7F) {
        return error<ErrorKind::BufrdcControlCharacter>(ErrorArg::byte(byte), i + 1);
      }
    }
    const std::size_t valid = utf8_valid_up_to(line);
    if (valid != line.size()) return error<ErrorKind::BufrdcInvalidUtf8>(valid + 1);
    return Status::success();
  }

  const std::string& path_;
  std::string bytes_;
  std::size_t position_ = 0;
  uint64_t number_ = 0;
  std::string_view line_;
};

// Up to `width` characters of `line` from `start`; empty when the line ends before it.
std::string_view columns(std::string_view line, std::size_t start, std::size_t width) {
  return start < line.size() ? line.substr(start, width) : std::string_view();
}

// Blank-separated words of a line, and what follows them.
class Words {
 public:
  explicit Words(std::string_view text) : rest_(text) {}
  std::string_view next() {
    skip_blanks();
    const std::size_t end = rest_.find(' ');
    const std::string_view word = rest_.substr(0, end);
    rest_.remove_prefix(word.size());
    return word;
  }
  std::string_view rest() {
    skip_blanks();
    return rest_;
  }

 private:
  void skip_blanks() {
    while (!rest_.empty() && rest_.front() == ' ') rest_.remove_prefix(1);
  }
  std::string_view rest_;
};

// The descriptor kinds a table allows: elements (F 0), sequences (F 3) or any.
enum class Kind : uint8_t { kElement, kSequence, kAny };

ErrorWord kind_label(Kind kind) {
  switch (kind) {
    case Kind::kElement: return ErrorWord::ElementDescriptor;
    case Kind::kSequence: return ErrorWord::SequenceDescriptor;
    case Kind::kAny: break;
  }
  return ErrorWord::AnyDescriptor;
}

// Exactly six digits FXXYYY with F 0-3, X 0-63 and Y 0-255, of the given kind.
Result<uint32_t> descriptor_field(const TableLines& lines, std::string_view text, Kind kind) {
  bool digits = text.size() == 6;
  for (const char c : text) digits = digits && c >= '0' && c <= '9';
  uint32_t code = 0;
  if (digits) {
    for (const char c : text) code = code * 10 + static_cast<uint32_t>(c - '0');
  }
  const bool valid = digits && descriptor_f(code) <= 3 && descriptor_x(code) <= 63 &&
                     descriptor_y(code) <= 255;
  const bool right_kind = kind == Kind::kAny ||
                          descriptor_f(code) == (kind == Kind::kElement ? 0u : 3u);
  if (!valid || !right_kind) {
    return lines.error<ErrorKind::BufrdcBadDescriptor>(kind_label(kind), quoted_text(text));
  }
  return code;
}

// A numeric field through one of the shared parsers; empty when the line has no more words.
template <class T>
Result<T> number_field(const TableLines& lines, ErrorWord label, std::string_view text,
                       Result<T> (*parse)(std::string_view)) {
  if (text.empty()) return lines.error<ErrorKind::BufrdcMissingNumber>(label);
  Result<T> value = parse(text);
  if (!value) return lines.error<ErrorKind::BufrdcBadNumber>(label, value.error());
  return value;
}

Status expect_blank(const TableLines& lines, std::size_t column) {
  if (lines.line().size() <= column || lines.line()[column] == ' ') return Status::success();
  return lines.error<ErrorKind::BufrdcExpectedBlank>(column + 1);
}

// Table B columns, from 0: a blank, FXXYYY, a blank, the name (64), a blank, the
// unit (24), then scale, reference and width as blank-separated numbers, and
// after them the CREX unit, scale and width, which are not used.
constexpr std::size_t kBName = 8, kBNameWidth = 64, kBUnit = 73, kBUnitWidth = 24;
constexpr std::size_t kBNumbers = kBUnit + kBUnitWidth;

// The decoders know text elements by the unit "CCITT IA5"; BUFRDC writes it without the blank.
std::string element_unit(std::string_view unit) {
  if (unit == "CCITTIA5") return "CCITT IA5";
  return std::string(unit);
}

Status read_b_record(const TableLines& lines, TableSet& set) {
  const std::string_view line = lines.line();
  if (line.size() <= kBNumbers) {
    return lines.error<ErrorKind::BufrdcShortRecord>(kBNumbers, line.size());
  }
  for (const std::size_t column : {std::size_t{0}, kBName - 1, kBUnit - 1}) {
    TARNWEL_TRY(expect_blank(lines, column));
  }
  // BUFRDC has no key or type column: both stay empty.
  ElementDefinition element;
  TARNWEL_ASSIGN(element.code, descriptor_field(lines, columns(line, 1, 6), Kind::kElement));
  element.name = trim_white_space(columns(line, kBName, kBNameWidth));
  element.unit = element_unit(trim_white_space(columns(line, kBUnit, kBUnitWidth)));
  Words numbers(columns(line, kBNumbers, line.size()));
  TARNWEL_ASSIGN(element.scale,
                 number_field(lines, ErrorWord::Scale, numbers.next(), parse_i32_field));
  TARNWEL_ASSIGN(element.reference,
                 number_field(lines, ErrorWord::ReferenceValue, numbers.next(), parse_i64_field));
  TARNWEL_ASSIGN(element.width,
                 number_field(lines, ErrorWord::DataWidth, numbers.next(), parse_u16_field));
  set.insert_element(std::move(element));
  return Status::success();
}

// A sequence whose members are still being read.
struct OpenSequence {
  SequenceDefinition sequence;
  uint16_t count = 0;
  uint64_t line = 0;
};

Status add_members(const TableLines& lines, Words& words, OpenSequence& open) {
  for (std::string_view word = words.next(); !word.empty(); word = words.next()) {
    if (open.sequence.members.size() == open.count) {
      return lines.error<ErrorKind::BufrdcTooManyMembers>(ErrorArg::code(open.sequence.code),
                                                          open.line, open.count);
    }
    TARNWEL_ASSIGN(const uint32_t member, descriptor_field(lines, word, Kind::kAny));
    open.sequence.members.push_back(member);
  }
  return Status::success();
}

// Table D first lines, from 0: a blank, the sequence FXXYYY, its member count in
// three columns (a count of 100 or more touches the sequence), then members.
constexpr std::size_t kDCount = 7, kDCountWidth = 3, kDMembers = kDCount + kDCountWidth;

Result<OpenSequence> begin_sequence(const TableLines& lines) {
  OpenSequence open;
  open.line = lines.number();
  const std::string_view line = lines.line();
  TARNWEL_ASSIGN(open.sequence.code, descriptor_field(lines, columns(line, 1, 6), Kind::kSequence));
  const std::string_view count = trim_white_space(columns(line, kDCount, kDCountWidth));
  TARNWEL_ASSIGN(open.count, number_field(lines, ErrorWord::MemberCount, count, parse_u16_field));
  if (open.count == 0) {
    return lines.error<ErrorKind::BufrdcNoMembers>(ErrorArg::code(open.sequence.code), open.line);
  }
  return open;
}

// A code figure whose lines of meaning are still being read.
struct OpenEntry {
  uint64_t figure = 0;
  uint16_t lines_left = 0;
  std::string meaning;
};

// A code table whose entries are still being read.
struct OpenCodeTable {
  uint32_t code = 0;
  uint16_t entries_left = 0;
  uint64_t line = 0;
  CodeTable table;
};

void append_meaning(OpenEntry& entry, std::string_view text) {
  if (text.empty()) return;
  if (!entry.meaning.empty()) entry.meaning += ' ';
  entry.meaning += text;
}

// "FIGURE NN TEXT": a code figure, its count of lines, and the first of them.
Result<OpenEntry> begin_entry(const TableLines& lines, Words& words) {
  OpenEntry entry;
  TARNWEL_ASSIGN(entry.figure,
                 number_field(lines, ErrorWord::CodeFigure, words.next(), parse_code_table_key));
  TARNWEL_ASSIGN(entry.lines_left,
                 number_field(lines, ErrorWord::LineCount, words.next(), parse_u16_field));
  if (entry.lines_left == 0) {
    return lines.error<ErrorKind::BufrdcNoLines>(entry.figure);
  }
  append_meaning(entry, words.rest());
  --entry.lines_left;
  return entry;
}

// "FXXYYY NNNN": the element and its count of entries; its first entry follows on the line.
Result<OpenCodeTable> begin_code_table(const TableLines& lines, Words& words) {
  OpenCodeTable open;
  open.line = lines.number();
  TARNWEL_TRY(expect_blank(lines, 6));
  TARNWEL_ASSIGN(open.code, descriptor_field(lines, columns(lines.line(), 0, 6), Kind::kElement));
  words.next();
  TARNWEL_ASSIGN(open.entries_left,
                 number_field(lines, ErrorWord::EntryCount, words.next(), parse_u16_field));
  if (open.entries_left == 0) {
    return lines.error<ErrorKind::BufrdcNoEntries>(ErrorArg::code(open.code), open.line);
  }
  return open;
}

// The state of a Table C file between lines.
struct CodeTableReader {
  std::optional<OpenCodeTable> table;
  std::optional<OpenEntry> entry;

  Status read_line(const TableLines& lines, TableSet& set) {
    const std::string_view line = lines.line();
    Words words(line);
    if (line.front() != ' ') {
      TARNWEL_TRY(check_closed(lines));
      TARNWEL_ASSIGN(table, begin_code_table(lines, words));
      if (words.rest().empty()) return Status::success();
    } else if (!table) {
      return lines.error<ErrorKind::BufrdcExpectedCodeTable>();
    } else if (entry) {
      append_meaning(*entry, words.rest());
      --entry->lines_left;
      return finish_entry(set);
    }
    TARNWEL_ASSIGN(entry, begin_entry(lines, words));
    return finish_entry(set);
  }

  // A new table may begin only after the last one has all its entries and lines.
  Status check_closed(const TableLines& lines) const {
    if (!table) return Status::success();
    if (entry) {
      return lines.error<ErrorKind::BufrdcLinesMissing>(
          entry->figure, ErrorArg::code(table->code), table->line, entry->lines_left);
    }
    return lines.error<ErrorKind::BufrdcEntriesMissing>(ErrorArg::code(table->code), table->line,
                                                        table->entries_left);
  }

  Status finish_entry(TableSet& set) {
    if (entry->lines_left != 0) return Status::success();
    // A figure without a meaning has nothing to look up, as in the ecCodes files.
    if (!entry->meaning.empty()) {
      table->table.insert_or_assign(entry->figure, std::move(entry->meaning));
    }
    entry.reset();
    if (--table->entries_left == 0) {
      set.insert_code_table(table->code, std::move(table->table));
      table.reset();
    }
    return Status::success();
  }
};

}  // namespace

Status read_bufrdc_table_b(const std::string& path, TableSet& set) {
  TableLines lines(path);
  TARNWEL_TRY(lines.load());
  for (;;) {
    TARNWEL_ASSIGN(const bool more, lines.next());
    if (!more) return Status::success();
    TARNWEL_TRY(read_b_record(lines, set));
  }
}

Status read_bufrdc_table_d(const std::string& path, TableSet& set) {
  TableLines lines(path);
  TARNWEL_TRY(lines.load());
  std::optional<OpenSequence> open;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, lines.next());
    if (!more) break;
    const std::string_view line = lines.line();
    TARNWEL_TRY(expect_blank(lines, 0));
    Words words(line);
    // Columns 2 to 7 hold the sequence on its first line and are blank after it.
    if (line.size() > 1 && line[1] != ' ') {
      if (open) {
        return lines.error<ErrorKind::BufrdcMembersMissing>(
            ErrorArg::code(open->sequence.code), open->line, open->sequence.members.size(),
            open->count);
      }
      TARNWEL_ASSIGN(open, begin_sequence(lines));
      words = Words(columns(line, kDMembers, line.size()));
    } else if (!open) {
      return lines.error<ErrorKind::BufrdcExpectedSequence>();
    }
    TARNWEL_TRY(add_members(lines, words, *open));
    if (open->sequence.members.size() == open->count) {
      set.insert_sequence(std::move(open->sequence));
      open.reset();
    }
  }
  if (!open) return Status::success();
  return lines.error<ErrorKind::BufrdcEndsInSequence>(open->sequence.members.size(), open->count,
                                                      ErrorArg::code(open->sequence.code),
                                                      open->line);
}

Status read_bufrdc_table_c(const std::string& path, TableSet& set) {
  TableLines lines(path);
  TARNWEL_TRY(lines.load());
  CodeTableReader reader;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, lines.next());
    if (!more) break;
    TARNWEL_TRY(reader.read_line(lines, set));
  }
  if (!reader.table) return Status::success();
  return lines.error<ErrorKind::BufrdcEndsInCodeTable>(ErrorArg::code(reader.table->code),
                                                       reader.table->line);
}

}  // namespace tarnwel
