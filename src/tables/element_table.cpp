// Reader of element.table, the pipe-separated Table B of the ecCodes layout.
#include "tables/csv_reader.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"

namespace tarnwel {

namespace {

// Columns: code, abbreviation, type, name, unit, scale, reference, width; the
// CREX columns after them are not used.
constexpr std::size_t kElementFields = 8;

Result<ElementDefinition> element_from_record(const CsvRecord& record) {
  ElementDefinition element;
  TARNWEL_ASSIGN(element.code, parse_descriptor_code(record[0]));
  element.abbreviation = record[1];
  element.element_type = record[2];
  element.name = record[3];
  element.unit = record[4];
  TARNWEL_ASSIGN(element.scale, parse_i32_field(record[5]));
  TARNWEL_ASSIGN(element.reference, parse_i64_field(record[6]));
  TARNWEL_ASSIGN(element.width, parse_u16_field(record[7]));
  return element;
}

CsvDialect element_dialect() {
  CsvDialect dialect;
  dialect.delimiter = '|';
  dialect.hash_comments = true;
  // Local tables mix records of 8 and 11 fields; only shorter ones must agree.
  dialect.free_count_from = kElementFields;
  return dialect;
}

Status read_element_records(CsvReader& reader, TableSet& set) {
  CsvRecord record;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, reader.next(record));
    if (!more) return Status::success();
    if (record.size() < kElementFields) continue;
    Result<ElementDefinition> element = element_from_record(record);
    if (!element) return std::move(element.error().at_line(reader.record_line()));
    set.insert_element(std::move(element).value());
  }
}

}  // namespace

Status parse_element_table(std::string_view text, TableSet& set) {
  CsvReader reader = CsvReader::over(text, element_dialect());
  return read_element_records(reader, set);
}

Status read_element_table(const std::string& path, TableSet& set) {
  TARNWEL_ASSIGN(CsvReader reader, CsvReader::open(path, element_dialect()));
  return in_file(read_element_records(reader, set), path);
}

}  // namespace tarnwel
