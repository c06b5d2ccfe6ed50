// Reading the WMO BUFR4 CSV files of Table B and Table D into a TableSet.
#include "tables/wmo_csv_loader.hpp"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "tables/csv_reader.hpp"
#include "tables/fields.hpp"
#include "tables/file_system.hpp"

namespace tarnwel {

namespace {

constexpr std::string_view kTableBPrefix = "BUFRCREX_TableB_en_";
constexpr std::string_view kTableDPrefix = "BUFR_TableD_en_";
constexpr std::string_view kCsvSuffix = ".csv";

// Columns used, counted from 0.
constexpr std::size_t kTableBFields = 8;
constexpr std::size_t kTableBCode = 2, kTableBName = 3, kTableBUnit = 4, kTableBScale = 5,
                      kTableBReference = 6, kTableBWidth = 7;
constexpr std::size_t kTableDFields = 6;
constexpr std::size_t kTableDSequence = 2, kTableDMember = 5;

CsvDialect wmo_dialect() {
  CsvDialect dialect;
  dialect.delimiter = ',';
  dialect.has_header = true;
  return dialect;
}

// The full paths of the entries named prefix...suffix, in name order.
std::vector<std::string> matching_paths(const std::string& dir,
                                        const std::vector<std::string>& names,
                                        std::string_view prefix) {
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    const std::string_view view = name;
    // The name must hold both parts without them overlapping.
    if (view.size() >= prefix.size() + kCsvSuffix.size() && view.starts_with(prefix) &&
        view.ends_with(kCsvSuffix)) {
      paths.push_back(path_join(dir, name));
    }
  }
  return paths;
}

// The element type the decoders expect, from the unit as written.
const char* element_type_for_unit(std::string_view unit) {
  if (unit == "Code table") return "code";
  if (unit == "Flag table") return "flags";
  if (unit == "CCITT IA5") return "string";
  return "long";
}

Result<ElementDefinition> element_from_row(const CsvRecord& row) {
  ElementDefinition element;
  TARNWEL_ASSIGN(element.code, parse_descriptor_code(row[kTableBCode]));
  element.element_type = element_type_for_unit(row[kTableBUnit]);
  element.name = row[kTableBName];
  element.unit = row[kTableBUnit];
  TARNWEL_ASSIGN(element.scale, parse_i32_field(row[kTableBScale]));
  TARNWEL_ASSIGN(element.reference, parse_i64_field(row[kTableBReference]));
  TARNWEL_ASSIGN(element.width, parse_u16_field(row[kTableBWidth]));
  return element;
}

Status read_table_b_file(const std::string& path, TableSet& set) {
  TARNWEL_ASSIGN(CsvReader reader, CsvReader::open(path, wmo_dialect()));
  CsvRecord row;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, reader.next(row));
    if (!more) return Status::success();
    if (row.size() < kTableBFields) continue;
    Result<ElementDefinition> element = element_from_row(row);
    if (!element) return std::move(element.error().at_line(reader.record_line()));
    set.insert_element(std::move(element).value());
  }
}

Status add_member(const CsvRecord& row,
                  std::unordered_map<uint32_t, std::vector<uint32_t>>& sequences) {
  TARNWEL_ASSIGN(const uint32_t code, parse_descriptor_code(row[kTableDSequence]));
  TARNWEL_ASSIGN(const uint32_t member, parse_descriptor_code(row[kTableDMember]));
  sequences[code].push_back(member);
  return Status::success();
}

// A sequence is every row of one file with its code; rows need not be adjacent,
// and a sequence is never merged with the same code of another file.
Status read_table_d_file(const std::string& path, TableSet& set) {
  TARNWEL_ASSIGN(CsvReader reader, CsvReader::open(path, wmo_dialect()));
  std::unordered_map<uint32_t, std::vector<uint32_t>> sequences;
  CsvRecord row;
  for (;;) {
    TARNWEL_ASSIGN(const bool more, reader.next(row));
    if (!more) break;
    if (row.size() < kTableDFields) continue;
    Status added = add_member(row, sequences);
    if (!added) return std::move(added.error().at_line(reader.record_line()));
  }
  for (auto& [code, members] : sequences) {
    set.insert_sequence(SequenceDefinition{code, std::move(members)});
  }
  return Status::success();
}

}  // namespace

Result<TableSet> load_wmo_csv_dir(const std::string& dir) {
  TARNWEL_ASSIGN(const std::vector<std::string> names, in_file(list_directory_sorted(dir), dir));
  TableSet set;
  for (const std::string& path : matching_paths(dir, names, kTableBPrefix)) {
    TARNWEL_TRY(in_file(read_table_b_file(path, set), path));
  }
  for (const std::string& path : matching_paths(dir, names, kTableDPrefix)) {
    TARNWEL_TRY(in_file(read_table_d_file(path, set), path));
  }
  return set;
}

}  // namespace tarnwel
