// A small RFC 4180 reader for delimited table files, read whole into memory.
#include "tables/csv_reader.hpp"

#include <cstring>

#include "tables/file_system.hpp"
#include "tables/utf8.hpp"

namespace tarnwel {

namespace {

// Line breaks in a span: LF, CR LF and a lone CR each count once.
uint64_t count_line_breaks(std::string_view text) {
  uint64_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++count;
    } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
      ++count;
    }
  }
  return count;
}

}  // namespace

Result<CsvReader> CsvReader::open(const std::string& path, const CsvDialect& dialect) {
  std::string contents;
  if (const int error = read_file_bytes(path, contents); error != 0) {
    BufrError failure = os_error<ErrorKind::ParseOsError>(error);
    return failure.in_file(path);
  }
  return CsvReader(std::move(contents), dialect);
}

CsvReader CsvReader::over(std::string_view text, const CsvDialect& dialect) {
  return CsvReader(nullptr, text, dialect);
}

CsvReader::CsvReader(std::unique_ptr<const std::string> owned, std::string_view text,
                     const CsvDialect& dialect)
    : owned_(std::move(owned)), data_(text), dialect_(dialect), all_utf8_(is_valid_utf8(data_)) {}

CsvReader::CsvReader(std::string contents, const CsvDialect& dialect)
    : owned_(std::make_unique<const std::string>(std::move(contents))),
      data_(*owned_),
      dialect_(dialect),
      all_utf8_(is_valid_utf8(data_)) {}

void CsvReader::consume_line_end() {
  if (pos_ >= data_.size()) return;
  if (data_[pos_] == '\r') {
    ++pos_;
    if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
    ++line_;
  } else if (data_[pos_] == '\n') {
    ++pos_;
    ++line_;
  }
}

// Returns false when only blank lines and comments were left.
bool CsvReader::skip_blank_and_comment_lines() {
  while (pos_ < data_.size()) {
    const char c = data_[pos_];
    if (c == '\n' || c == '\r') {
      consume_line_end();
    } else if (dialect_.hash_comments && c == '#') {
      while (pos_ < data_.size() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      consume_line_end();
    } else {
      return true;
    }
  }
  return false;
}

void CsvReader::read_field(CsvRecord& record) {
  if (pos_ < data_.size() && data_[pos_] == '"') {
    ++pos_;
    for (;;) {
      const std::size_t quote = data_.find('"', pos_);
      const std::size_t end = quote == std::string_view::npos ? data_.size() : quote;
      const std::string_view run = data_.substr(pos_, end - pos_);
      record.text_.append(run);
      line_ += count_line_breaks(run);
      // An unterminated quoted field runs to the end of the input.
      if (quote == std::string_view::npos) {
        pos_ = data_.size();
        break;
      }
      pos_ = quote + 1;
      if (pos_ < data_.size() && data_[pos_] == '"') {
        record.text_ += '"';
        ++pos_;
        continue;
      }
      break;
    }
  }
  // Unquoted text, or whatever follows a closing quote, up to the field's end.
  const std::size_t begin = pos_;
  while (pos_ < data_.size()) {
    const char c = data_[pos_];
    if (c == dialect_.delimiter || c == '\n' || c == '\r') break;
    ++pos_;
  }
  record.text_.append(data_.substr(begin, pos_ - begin));
  record.ends_.push_back(record.text_.size());
}

bool CsvReader::read_raw_record(CsvRecord& record) {
  if (!skip_blank_and_comment_lines()) return false;
  record.text_.clear();
  record.ends_.clear();
  record_position_ = Position{records_read_, line_, pos_};
  for (;;) {
    read_field(record);
    if (pos_ < data_.size() && data_[pos_] == dialect_.delimiter) {
      ++pos_;
      continue;
    }
    consume_line_end();
    break;
  }
  ++records_read_;
  return true;
}

Status CsvReader::check_record(const CsvRecord& record) const {
  const Position& at = record_position_;
  const std::size_t count = record.size();
  const bool both_free = count >= dialect_.free_count_from &&
                         first_count_ >= dialect_.free_count_from;
  if (count != first_count_ && !both_free) {
    return make_error<ErrorKind::CsvFieldCount>(at.record, at.line, at.byte, count, first_count_);
  }
  // Fields are cut and unquoted at ASCII characters only, so a valid text has
  // only valid fields.
  if (all_utf8_) return Status::success();
  for (std::size_t field = 0; field < count; ++field) {
    const std::string_view text = record[field];
    const std::size_t valid = utf8_valid_up_to(text);
    if (valid == text.size()) continue;
    return make_error<ErrorKind::CsvInvalidUtf8>(at.record, at.line, field, at.byte, field, valid);
  }
  return Status::success();
}

Result<bool> CsvReader::next(CsvRecord& record) {
  if (records_read_ == 0) {
    if (!read_raw_record(record)) return false;
    first_count_ = record.size();
    // The header only fixes the field count; its text is never used.
    if (dialect_.has_header && !read_raw_record(record)) return false;
  } else if (!read_raw_record(record)) {
    return false;
  }
  Status checked = check_record(record);
  if (!checked) return std::move(checked.error().at_line(record_position_.line));
  return true;
}

}  // namespace tarnwel
