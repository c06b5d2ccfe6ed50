// A small RFC 4180 reader for delimited table files, read whole into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/error.hpp"

namespace tarnwel {

struct CsvDialect {
  char delimiter = ',';
  // Lines starting with '#' are skipped whole.
  bool hash_comments = false;
  // The first record is read for its field count and then dropped.
  bool has_header = false;
  // Every record must have as many fields as the first one, unless both have
  // at least this many fields. The default makes the count fixed.
  std::size_t free_count_from = SIZE_MAX;
};

// One record: its fields, unquoted, valid only until the next read.
class CsvRecord {
 public:
  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
  }

 private:
  friend class CsvReader;
  std::string text_;               // the fields' bytes, one after another
  std::vector<std::size_t> ends_;  // end offset of each field in text_
};

class CsvReader {
 public:
  // Reads the whole file; a failed open or read is a Parse error with the
  // system's text, placed in the file.
  static Result<CsvReader> open(const std::string& path, const CsvDialect& dialect);

  // Reads `text` in place: it must outlive the reader.
  static CsvReader over(std::string_view text, const CsvDialect& dialect);

  CsvReader(std::string contents, const CsvDialect& dialect);

  // Reads the next data record. Gives false at the end of the input, or a Parse
  // error for an unequal field count or a field that is not UTF-8, placed at
  // the record's line.
  Result<bool> next(CsvRecord& record);

  // The line on which the record last read starts, counted from 1.
  uint64_t record_line() const { return record_position_.line; }

 private:
  struct Position {
    uint64_t record = 0;
    uint64_t line = 1;
    uint64_t byte = 0;
  };

  CsvReader(std::unique_ptr<const std::string> owned, std::string_view text,
            const CsvDialect& dialect);

  bool skip_blank_and_comment_lines();
  bool read_raw_record(CsvRecord& record);
  void read_field(CsvRecord& record);
  void consume_line_end();
  Status check_record(const CsvRecord& record) const;

  // The text read: owned_ when the reader holds it (on the heap, so that a move
  // keeps data_ valid), or a caller's text.
  std::unique_ptr<const std::string> owned_;
  std::string_view data_;
  CsvDialect dialect_;
  bool all_utf8_;
  std::size_t pos_ = 0;
  uint64_t line_ = 1;
  uint64_t records_read_ = 0;
  std::size_t first_count_ = 0;
  Position record_position_;
};

}  // namespace tarnwel
