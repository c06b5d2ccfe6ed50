// Loads the fuzz tables from ecCodes table directories, or builds a small set in memory.
#include "fuzz_tables.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/file_system.hpp"

namespace tarnwel::fuzz {
namespace {

constexpr const char* kWmoTables = "/usr/share/eccodes/definitions/bufr/tables/0/wmo";
constexpr const char* kLocalTables = "/usr/share/eccodes/definitions/bufr/tables/0/local/1/98/0";

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

// The numerically largest version directory under the WMO tables, or "".
std::string newest_wmo_dir() {
  Result<std::vector<std::string>> names = list_directory_sorted(kWmoTables);
  if (!names) return "";
  int best = -1;
  for (const std::string& name : names.value()) {
    if (name.empty() || name.size() > 3 ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    best = std::max(best, std::atoi(name.c_str()));
  }
  return best < 0 ? "" : path_join(kWmoTables, std::to_string(best));
}

bool read_dir(const std::string& path, TableSet& set) {
  if (path.empty()) return false;
  Result<std::string> dir = resolve_table_dir(path);
  if (!dir) return false;
  Status read = read_eccodes_dir_into(dir.value(), set);
  if (!read) {
    std::fprintf(stderr, "fuzz tables: %s: %s\n", path.c_str(), read.error().display().c_str());
  }
  return read.ok();
}

void element(TableSet& set, uint32_t code, const char* name, const char* unit, int32_t scale,
             int64_t reference, uint16_t width) {
  ElementDefinition definition;
  definition.code = code;
  definition.name = name;
  definition.unit = unit;
  definition.scale = scale;
  definition.reference = reference;
  definition.width = width;
  set.insert_element(std::move(definition));
}

// Enough of every kind the decoders tell apart: text, code table, class 31,
// negative references, scales both ways, widths from 1 to 32.
void built_in_tables(TableSet& set) {
  element(set, 1001, "WMO BLOCK NUMBER", "Numeric", 0, 0, 7);
  element(set, 1015, "STATION OR SITE NAME", "CCITT IA5", 0, 0, 160);
  element(set, 4001, "YEAR", "a", 0, 0, 12);
  element(set, 4002, "MONTH", "mon", 0, 0, 4);
  element(set, 4003, "DAY", "d", 0, 0, 6);
  element(set, 5001, "LATITUDE (HIGH ACCURACY)", "deg", 5, -9000000, 25);
  element(set, 6001, "LONGITUDE (HIGH ACCURACY)", "deg", 5, -18000000, 26);
  element(set, 7030, "HEIGHT OF STATION GROUND ABOVE MEAN SEA LEVEL", "m", 1, -4000, 17);
  element(set, 8002, "VERTICAL SIGNIFICANCE (SURFACE OBSERVATIONS)", "CODE TABLE", 0, 0, 6);
  element(set, 10004, "PRESSURE", "Pa", -1, 0, 14);
  element(set, 12101, "TEMPERATURE/AIR TEMPERATURE", "K", 2, 0, 16);
  element(set, 20003, "PRESENT WEATHER", "CODE TABLE", 0, 0, 9);
  element(set, 31000, "SHORT DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", 0, 0, 1);
  element(set, 31001, "DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", 0, 0, 8);
  element(set, 31002, "EXTENDED DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", 0, 0, 16);
  element(set, 31031, "DATA PRESENT INDICATOR", "FLAG TABLE", 0, 0, 1);
  element(set, 33007, "PER CENT CONFIDENCE", "%", 0, 0, 7);
  element(set, 63255, "BITS FOR LOCAL USE", "Numeric", 0, 0, 32);
  set.insert_code_table(20003,
                        {{0, "CLOUD DEVELOPMENT NOT OBSERVED"}, {100, "NO SIGNIFICANT WEATHER"}});
  set.insert_code_table(8002, {{1, "CL"}, {63, "MISSING VALUE"}});
  set.insert_sequence({301011, {4001, 4002, 4003}});
  set.insert_sequence({301021, {5001, 6001}});
  set.insert_sequence({301090, {301011, 301021, 7030}});
  set.insert_sequence({302001, {10004, 12101, 101000, 31001, 20003}});
  set.insert_sequence({303001, {222000, 236000, 101005, 31031, 33007}});
}

FuzzTables load() {
  FuzzTables out;
  const std::string master = env_or("TARNWEL_FUZZ_MASTER_DIR", newest_wmo_dir());
  const std::string local = env_or("TARNWEL_FUZZ_LOCAL_DIR", kLocalTables);
  if (read_dir(master, out.tables)) {
    out.origin = master;
    if (read_dir(local, out.tables)) out.origin += " + " + local;
  } else {
    out.tables = TableSet();
    built_in_tables(out.tables);
    out.origin = "built-in tables (no ecCodes table directory found)";
  }
  // The set offers lookups only, so the codes are found by probing every F X Y.
  for (uint32_t x = 0; x < 64; ++x) {
    for (uint32_t y = 0; y < 256; ++y) {
      const uint32_t code = x * 1000 + y;
      if (out.tables.get_element(code) != nullptr) out.elements.push_back(code);
      if (out.tables.get_sequence(300000 + code) != nullptr) out.sequences.push_back(300000 + code);
    }
  }
  for (uint32_t code : {31000u, 31001u, 31002u, 31011u, 31012u}) {
    if (out.tables.get_element(code) != nullptr) out.factors.push_back(code);
  }
  if (out.factors.empty()) out.factors.push_back(31001);
  return out;
}

}  // namespace

const FuzzTables& fuzz_tables() {
  static const FuzzTables tables = [] {
    FuzzTables loaded = load();
    std::fprintf(stderr, "fuzz tables: %s (%zu elements, %zu sequences)\n", loaded.origin.c_str(),
                 loaded.elements.size(), loaded.sequences.size());
    return loaded;
  }();
  return tables;
}

}  // namespace tarnwel::fuzz
