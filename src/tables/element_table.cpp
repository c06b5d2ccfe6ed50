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

}  // namespace

Status read_element_table(const std::string& path, TableSet& set) {
  CsvDialect dialect;
  dialect.delimiter = '|';
  dialect.hash_comments = true;
  // Local tables mix records of 8 and 11 fields; only shorter ones must agree.
  dialect.free_count_from = kElementFields;
  TARNWEL_ASSIGN(CsvReader reader, CsvReader::open(path, dialect));
  CsvRecord record;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, reader.next(record));
    if (!more) break;
    if (record.size() < kElementFields) continue;
    TARNWEL_ASSIGN(ElementDefinition element, element_from_record(record));
    set.insert_element(std::move(element));
  }
  return Status::success();
}

}  // namespace tarnwel
