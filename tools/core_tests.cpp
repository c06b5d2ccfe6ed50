// Plain C++ checks of the table core: field helpers, readers, loaders, expansion.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "decode/expansion.hpp"
#include "message/message.hpp"
#include "tables/csv_reader.hpp"
#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/fields.hpp"
#include "tables/wmo_csv_loader.hpp"

namespace {

int g_failures = 0;

#define CHECK(cond)                                                       \
  do {                                                                    \
    if (!(cond)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                       \
    }                                                                     \
  } while (0)

template <class R>
void check_error(const R& result, const std::string& expected, int line) {
  if (result.ok()) {
    std::fprintf(stderr, "line %d: expected error \"%s\", got success\n", line, expected.c_str());
    ++g_failures;
  } else if (result.error().display() != expected) {
    std::fprintf(stderr, "line %d: expected \"%s\"\n          got \"%s\"\n", line,
                 expected.c_str(), result.error().display().c_str());
    ++g_failures;
  }
}
#define CHECK_ERROR(result, expected) check_error((result), (expected), __LINE__)

template <class T>
void check_value(const tarnwel::Result<T>& result, const T& expected, int line) {
  if (!result.ok()) {
    std::fprintf(stderr, "line %d: unexpected error \"%s\"\n", line,
                 result.error().display().c_str());
    ++g_failures;
  } else if (!(result.value() == expected)) {
    std::fprintf(stderr, "line %d: unexpected value\n", line);
    ++g_failures;
  }
}
#define CHECK_VALUE(result, expected) check_value((result), (expected), __LINE__)

// A fresh directory under /tmp, removed by the caller's scratch lifetime.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/tarnwel-core-XXXXXX";
    // Without a scratch directory no file check could mean anything.
    if (::mkdtemp(pattern) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    root_ = pattern;
  }
  ~Scratch() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  const std::string& root() const { return root_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  void dir(const std::string& relative) const { ::mkdir(path(relative).c_str(), 0755); }
  void file(const std::string& relative, const std::string& text) const {
    std::ofstream(path(relative), std::ios::binary) << text;
  }

 private:
  std::string root_;
};

const std::string kPrefix = "csv/table parse error: ";
const std::string kHeader =
    "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n";

void test_field_helpers() {
  using namespace tarnwel;
  CHECK_VALUE(parse_descriptor_code("001001"), uint32_t{1001});
  CHECK_VALUE(parse_descriptor_code(" \t001001\u3000"), uint32_t{1001});
  CHECK_VALUE(parse_descriptor_code("\"\"301011\"\""), uint32_t{301011});
  CHECK_VALUE(parse_descriptor_code("+7"), uint32_t{7});
  CHECK_VALUE(parse_descriptor_code("4294967295"), uint32_t{4294967295u});
  CHECK_ERROR(parse_descriptor_code(""),
              kPrefix + "bad descriptor code \"\": cannot parse integer from empty string");
  CHECK_ERROR(parse_descriptor_code(" \"\" "),
              kPrefix + "bad descriptor code \" \\\"\\\" \": cannot parse integer from empty string");
  CHECK_ERROR(parse_descriptor_code("-1"),
              kPrefix + "bad descriptor code \"-1\": invalid digit found in string");
  CHECK_ERROR(parse_descriptor_code("+"),
              kPrefix + "bad descriptor code \"+\": invalid digit found in string");
  CHECK_ERROR(parse_descriptor_code("4294967296"),
              kPrefix + "bad descriptor code \"4294967296\": number too large to fit in target type");
  // Overflow is found before a later bad character.
  CHECK_ERROR(parse_descriptor_code("99999999999x"),
              kPrefix + "bad descriptor code \"99999999999x\": number too large to fit in target type");

  CHECK_VALUE(parse_i32_field("-3"), int32_t{-3});
  CHECK_VALUE(parse_i32_field("+3"), int32_t{3});
  CHECK_VALUE(parse_i32_field("-2147483648"), int32_t{-2147483647 - 1});
  CHECK_ERROR(parse_i32_field(" 3"), kPrefix + "bad i32 \" 3\": invalid digit found in string");
  CHECK_ERROR(parse_i32_field("-"), kPrefix + "bad i32 \"-\": invalid digit found in string");
  CHECK_ERROR(parse_i32_field("2147483648"),
              kPrefix + "bad i32 \"2147483648\": number too large to fit in target type");
  CHECK_ERROR(parse_i32_field("-2147483649"),
              kPrefix + "bad i32 \"-2147483649\": number too small to fit in target type");
  CHECK_VALUE(parse_i64_field("-9223372036854775808"), int64_t{INT64_MIN});
  CHECK_ERROR(parse_i64_field("-9223372036854775809"),
              kPrefix + "bad i64 \"-9223372036854775809\": number too small to fit in target type");
  CHECK_ERROR(parse_i64_field(""), kPrefix + "bad i64 \"\": cannot parse integer from empty string");
  CHECK_VALUE(parse_u16_field("65535"), uint16_t{65535});
  CHECK_ERROR(parse_u16_field("65536"),
              kPrefix + "bad u16 \"65536\": number too large to fit in target type");
  CHECK_ERROR(parse_u16_field("-1"), kPrefix + "bad u16 \"-1\": invalid digit found in string");
  CHECK_ERROR(parse_u16_field("-0"), kPrefix + "bad u16 \"-0\": invalid digit found in string");
  CHECK_VALUE(parse_code_table_key("18446744073709551615"), uint64_t{UINT64_MAX});
  CHECK_ERROR(parse_code_table_key("18446744073709551616"),
              kPrefix + "bad code table key \"18446744073709551616\": number too large to fit in target type");
}

void test_quoted_text() {
  using tarnwel::quoted_text;
  CHECK(quoted_text("") == "\"\"");
  CHECK(quoted_text("a\"b\\c'd") == "\"a\\\"b\\\\c'd\"");
  CHECK(quoted_text(std::string("\t\r\n\0", 4)) == "\"\\t\\r\\n\\0\"");
  CHECK(quoted_text("\x01\x1b\x7f") == "\"\\u{1}\\u{1b}\\u{7f}\"");
  // C1 controls are escaped; printable non-ASCII text stays as it is.
  CHECK(quoted_text("\xc2\x85\xc2\x9f") == "\"\\u{85}\\u{9f}\"");
  CHECK(quoted_text("\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80") ==
        "\"\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
  CHECK(quoted_text("\xe2\x80\x8b\xef\xbb\xbf") == "\"\\u{200b}\\u{feff}\"");
  // Format characters of later Unicode versions and of the supplementary planes.
  CHECK(quoted_text("\xe0\xa2\x90\xe0\xa3\xa2\xf0\x91\x83\x8d\xf0\x93\x90\xbf") ==
        "\"\\u{890}\\u{8e2}\\u{110cd}\\u{1343f}\"");
  CHECK(quoted_text("a\xff") == "\"a\xef\xbf\xbd\"");
}

std::vector<uint32_t> codes(std::initializer_list<uint32_t> list) { return list; }

void test_expansion() {
  using namespace tarnwel;
  TableSet set;
  set.insert_sequence({301001, {1001, 1002}});
  set.insert_sequence({300000, {}});
  set.insert_sequence({301999, {301999}});
  auto expand = [&](std::vector<uint32_t> input) { return expand_descriptors(set, input); };
  CHECK_VALUE(expand({}), codes({}));
  CHECK_VALUE(expand({301001, 300000}), codes({1001, 1002}));
  CHECK_VALUE(expand({103002, 1001, 1002, 1003}), codes({1001, 1002, 1003, 1001, 1002, 1003}));
  CHECK_VALUE(expand({101000, 31001, 1001}), codes({31001, 1001}));
  CHECK_VALUE(expand({204008, 31021, 12101, 204000, 12101}), codes({31021, 999999, 12101, 12101}));
  CHECK_VALUE(expand({201129, 12101, 222000, 236000}), codes({12101, 222000, 236000}));
  // The factor is walked as the first descriptor of its group, whatever it is.
  CHECK_VALUE(expand({204008, 101000, 301001, 12101}),
              codes({999999, 1001, 999999, 1002, 999999, 12101}));
  CHECK_ERROR(expand({101000, 31001}),
              "delayed replication descriptor 101000 is missing its replication factor or "
              "replicated descriptors");
  CHECK_ERROR(expand({102000, 31001}), "unsupported replication descriptor 102000");
  CHECK_ERROR(expand({100002, 1001, 1002}), "unsupported replication descriptor 100002");
  // A window ends where its group ends: the inner replication may not reach past it.
  CHECK_ERROR(expand({102002, 1001, 101000, 1002}), "unsupported replication descriptor 101000");
  CHECK_ERROR(expand({101002, 102001, 1001, 1002}), "unsupported replication descriptor 102001");
  CHECK_ERROR(expand({301999}), kPrefix + "sequence expansion exceeded recursion depth");
  CHECK_ERROR(expand({400000}), kPrefix + "invalid descriptor 400000");
  CHECK_ERROR(expand({1001, 399999}), "descriptor 399999 was not found in Table D");

  // A chain of 64 sequences expands, one of 65 does not.
  TableSet chain;
  for (uint32_t i = 1; i < 65; ++i) chain.insert_sequence({340000 + i, {340000 + i + 1}});
  chain.insert_sequence({340065, {1001}});
  CHECK_VALUE(expand_descriptors(chain, codes({340002})), codes({1001}));
  CHECK_ERROR(expand_descriptors(chain, codes({340001})),
              kPrefix + "sequence expansion exceeded recursion depth");
}

void test_expansion_bounds() {
  using namespace tarnwel;
  // Each of 32 sequences replicates the next 255 times, as deep as the limit
  // allows: 255^31 elements.
  TableSet hostile;
  for (uint32_t i = 0; i < 31; ++i) hostile.insert_sequence({350000 + i, {101255, 350000 + i + 1}});
  hostile.insert_sequence({350031, {1001}});
  auto start = std::chrono::steady_clock::now();
  CHECK_ERROR(expand_descriptors(hostile, codes({350000})),
              kPrefix + "expanded descriptor list exceeds 10000000 descriptors");
  // The same nesting around an empty sequence produces nothing but must still stop.
  hostile.insert_sequence({350031, {}});
  CHECK_ERROR(expand_descriptors(hostile, codes({350000})),
              kPrefix + "sequence expansion visited more than 50000000 descriptors");
  // Replications nested within one flat list, each covering all that follows.
  std::vector<uint32_t> flat;
  for (uint32_t x = 63; x >= 1; --x) flat.push_back(100255 + x * 1000);
  flat.push_back(300000);
  hostile.insert_sequence({300000, {}});
  CHECK_ERROR(expand_descriptors(hostile, flat),
              kPrefix + "sequence expansion visited more than 50000000 descriptors");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("hostile expansions stopped in %.2f s\n", seconds);
  // Just under the bound is still fine.
  TableSet big;
  big.insert_sequence({360000, {110000 + 200, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010}});
  big.insert_sequence({360001, {101200, 360000}});
  big.insert_sequence({360002, {101025, 360001}});
  auto result = expand_descriptors(big, codes({360002}));
  CHECK(result.ok() && result->size() == kMaxExpandedDescriptors);
}

// Visits count every descriptor of every list walked, a delayed factor too, and
// the output bound is met only by an append.
void test_expansion_counting() {
  using namespace tarnwel;
  TableSet set;
  set.insert_sequence({300000, {}});
  set.insert_sequence({360001, std::vector<uint32_t>(999, 300000)});  // 1,000 visits
  set.insert_sequence({360002, {101250, 360001}});                    // 250,002 visits
  std::vector<uint32_t> list = {101199, 360002};
  list.insert(list.end(), kMaxExpansionVisits - (1 + 199 * 250'002) - 3, 300000);
  for (uint32_t code : {101000, 31001, 300000}) list.push_back(code);
  CHECK_VALUE(expand_descriptors(set, list), codes({31001}));
  list.push_back(300000);
  CHECK_ERROR(expand_descriptors(set, list),
              kPrefix + "sequence expansion visited more than 50000000 descriptors");

  set.insert_sequence({360010, {1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010}});
  set.insert_sequence({360011, {101200, 360010}});
  set.insert_sequence({360012, {101250, 360011}});
  set.insert_sequence({360013, {101020, 360012}});  // exactly the bound
  auto full = expand_descriptors(set, codes({360013, 201129, 204008, 300000}));
  CHECK(full.ok() && full->size() == kMaxExpandedDescriptors);
  CHECK_ERROR(expand_descriptors(set, codes({360013, 222000})),
              kPrefix + "expanded descriptor list exceeds 10000000 descriptors");
}

void test_element_table() {
  using namespace tarnwel;
  Scratch dir;
  const std::string row11 = "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n";
  const std::string row8 = "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|0|10\n";
  const std::string row7 = "001003|region|table|REGION|CODE TABLE|0|0\n";
  auto load = [&](const std::string& text) {
    dir.file("element.table", text);
    TableSet set;
    Status status = read_element_table(dir.path("element.table"), set);
    return status.ok() ? Result<std::size_t>(set.element_count())
                       : Result<std::size_t>(std::move(status).error());
  };
  CHECK_VALUE(load(kHeader + row11 + row8 + row11), std::size_t{2});
  CHECK_VALUE(load(row8 + row11), std::size_t{2});
  CHECK_VALUE(load(row7 + row7), std::size_t{0});
  CHECK_VALUE(load("\n\r\n" + row11 + "\r\n\r\n" + row8), std::size_t{2});
  CHECK_ERROR(load(kHeader + row11 + row7),
              kPrefix + "CSV error: record 1 (line: 3, byte: " +
                  std::to_string(kHeader.size() + row11.size()) +
                  "): found record with 7 fields, but the previous record has 11 fields");
  const std::string second_at = "(line: 2, byte: " + std::to_string(row11.size()) + ")";
  CHECK_ERROR(load(row11 + "   \n"),
              kPrefix + "CSV error: record 1 " + second_at +
                  ": found record with 1 fields, but the previous record has 11 fields");
  CHECK_ERROR(load(row7 + row8),
              kPrefix + "CSV error: record 1 (line: 2, byte: " + std::to_string(row7.size()) +
                  "): found record with 8 fields, but the previous record has 7 fields");
  CHECK_ERROR(load(row11 + " #comment\n"),
              kPrefix + "CSV error: record 1 " + second_at +
                  ": found record with 1 fields, but the previous record has 11 fields");
  CHECK_ERROR(load("001001|a|b|\xc3\xa9t\xe9|u|0|0|7\n"),
              kPrefix + "CSV parse error: record 0 (line 1, field: 3, byte: 0): invalid utf-8: "
                        "invalid UTF-8 in field 3 near byte index 3");
  CHECK_ERROR(load("001001|a|long|n|u| 0|0|7\n"),
              kPrefix + "bad i32 \" 0\": invalid digit found in string");
  // Quoted fields may hold the delimiter, doubled quotes and line ends.
  dir.file("element.table", "\"001001\"|\"a|b\"|long|\"say \"\"hi\"\"\nthere\"|u|-1|-5|7\n" + row8);
  TableSet set;
  CHECK(read_element_table(dir.path("element.table"), set).ok());
  const ElementDefinition* element = set.get_element(1001);
  CHECK(element != nullptr && element->abbreviation == "a|b" &&
        element->name == "say \"hi\"\nthere" && element->scale == -1 &&
        element->reference == -5 && element->width == 7);
  CHECK_ERROR(load_eccodes_dir(dir.path("missing")),
              kPrefix + "No such file or directory (os error 2)");
}

void test_sequence_def() {
  using namespace tarnwel;
  Scratch dir;
  auto load = [&](const std::string& text) {
    dir.file("sequence.def", text);
    TableSet set;
    Status status = read_sequence_def(dir.path("sequence.def"), set);
    return status.ok() ? Result<TableSet>(std::move(set)) : Result<TableSet>(std::move(status).error());
  };
  auto members = [](const Result<TableSet>& set, uint32_t code) {
    const SequenceDefinition* seq = set.ok() ? set->get_sequence(code) : nullptr;
    return seq == nullptr ? std::vector<uint32_t>{99} : seq->members;
  };
  auto set = load("# c\n\"301001\" =\n  [ 001001,\r\n 001002, ]\n\"301002\" = [] \"301003\" = [1]\n");
  CHECK(members(set, 301001) == codes({1001, 1002}));
  CHECK(members(set, 301002).empty());
  CHECK(set.ok() && set->sequence_count() == 2);
  CHECK_ERROR(load("\"301001\" = 001001 ]\n"), kPrefix + "\"301001\" = 001001 ]");
  CHECK_ERROR(load("\"301001\" =\n ] 001001 [\n"), kPrefix + "\"301001\" = ] 001001 [");
  set = load("no equals ]\n301004=[1]");
  CHECK(set.ok() && set->sequence_count() == 1);
  CHECK_ERROR(load("\" 30100x \" = [1]"),
              kPrefix + "bad descriptor code \" 30100x \": invalid digit found in string");
  CHECK_ERROR(load("1 = [1, x]"), kPrefix + "bad descriptor code \"x\": invalid digit found in string");
  CHECK_ERROR(load("1 = [\xff]"), "io error: stream did not contain valid UTF-8");
  CHECK_ERROR(load_eccodes_dir(dir.root()), kPrefix + "No such file or directory (os error 2)");
  dir.file("element.table", "");
  dir.file("sequence.def", "");
  ::unlink(dir.path("sequence.def").c_str());
  CHECK_ERROR(load_eccodes_dir(dir.root()), "io error: No such file or directory (os error 2)");
}

void test_code_tables() {
  using namespace tarnwel;
  Scratch dir;
  dir.file("element.table", "");
  dir.file("sequence.def", "");
  dir.dir("codetables");
  dir.file("codetables/001003.table", "0 0 Antarctica\n");
  dir.file("codetables/1003.table", "# x\n1 1 Region   I\n0 0\n12 12 Reserved\r\n+5 5 Five\n");
  dir.file("codetables/20003.table.bak", "x");
  dir.file("codetables/5.table", "");
  auto set = load_eccodes_dir(dir.root());
  CHECK(set.ok() && set->code_table_count() == 2);
  if (set.ok()) {
    const std::string* meaning = lookup_meaning(*set, 1003, 1);
    CHECK(meaning != nullptr && *meaning == "Region I");
    CHECK(lookup_meaning(*set, 1003, 0) == nullptr);
    CHECK(lookup_meaning(*set, 1003, 12) != nullptr && *lookup_meaning(*set, 1003, 5) == "Five");
  }
  dir.file("codetables/7.table", "x 1 Bad\n");
  CHECK_ERROR(load_eccodes_dir(dir.root()),
              kPrefix + "bad code table key \"x\": invalid digit found in string");
  ::unlink(dir.path("codetables/7.table").c_str());
  dir.file("codetables/README.table", "");
  CHECK_ERROR(load_eccodes_dir(dir.root()),
              kPrefix + "bad descriptor code \"README\": invalid digit found in string");
  ::unlink(dir.path("codetables/README.table").c_str());
  dir.dir("codetables/8.table");
  CHECK_ERROR(load_eccodes_dir(dir.root()), "io error: Is a directory (os error 21)");
}

tarnwel::BufrMessage message_for(uint8_t version, uint8_t local_version) {
  tarnwel::BufrMessage message;
  message.master_tables_version_number = version;
  message.local_tables_version_number = local_version;
  message.originating_centre = 98;
  return message;
}

void test_definitions() {
  using namespace tarnwel;
  Scratch root;
  for (const char* dir : {"bufr", "bufr/tables", "bufr/tables/0", "bufr/tables/0/wmo",
                          "bufr/tables/0/wmo/35", "bufr/tables/0/local",
                          "bufr/tables/0/local/19-1", "bufr/tables/0/local/19-1/98",
                          "bufr/tables/0/local/19-1/98/0"}) {
    root.dir(dir);
  }
  root.file("bufr/tables/0/wmo/35/element.table", "001001|a|long|MASTER|u|0|0|7\n"
                                                   "001002|b|long|KEPT|u|0|0|7\n");
  root.file("bufr/tables/0/wmo/35/sequence.def", "301001 = [1001]\n");
  root.file("bufr/tables/0/wmo/36", "35\n");
  root.file("bufr/tables/0/wmo/19", " 36 ");
  root.file("bufr/tables/0/local/19-1/98/0/element.table", "001001|a|long|LOCAL|u|0|0|7\n");
  auto set = load_definitions_tables(root.root(), message_for(19, 1));
  CHECK(set.ok() && set->get_element(1001)->name == "LOCAL" &&
        set->get_element(1002)->name == "KEPT" && set->sequence_count() == 1);
  set = load_definitions_tables(root.root(), message_for(19, 0));
  CHECK(set.ok() && set->get_element(1001)->name == "MASTER");
  CHECK_ERROR(load_definitions_tables(root.root(), message_for(37, 0)),
              kPrefix + "ecCodes table directory does not exist: " +
                  root.path("bufr/tables/0/wmo/37"));
  root.file("bufr/tables/0/wmo/40", "35/x\n");
  CHECK_ERROR(resolve_table_dir(root.path("bufr/tables/0/wmo/40")),
              kPrefix + "invalid ecCodes table alias " + root.path("bufr/tables/0/wmo/40") +
                  " -> \"35/x\"");
  root.file("bufr/tables/0/wmo/41", "42");
  root.file("bufr/tables/0/wmo/42", "41");
  CHECK_ERROR(resolve_table_dir(root.path("bufr/tables/0/wmo/41")),
              kPrefix + "ecCodes table alias chain is too long at " +
                  root.path("bufr/tables/0/wmo/41"));
  root.file("bufr/tables/0/local/19-1/98/0/sequence.def", "301001 = ]\n");
  CHECK_ERROR(load_definitions_tables(root.root(), message_for(19, 1)), kPrefix + "301001 = ]");
}

void test_wmo_csv() {
  using namespace tarnwel;
  Scratch dir;
  const std::string header_b =
      "ClassNo,ClassName_en,FXY,ElementName_en,BUFR_Unit,BUFR_Scale,BUFR_ReferenceValue,"
      "BUFR_DataWidth_Bits\n";
  dir.file("BUFRCREX_TableB_en_01.csv", header_b + "01,Id,001001,FIRST,Code table,0,0,7\n");
  dir.file("BUFRCREX_TableB_en_02.csv",
           header_b + "01,Id,\" 001001 \",\"SECOND, really\",CCITT IA5 ,0,-1,7\n");
  dir.file("bufrcrex_TableB_en_03.csv", header_b + "01,Id,001009,x,u,0,0,7\n");
  dir.file("BUFR_TableD_en_01.csv",
           "a,b,c,d,e,f\n1,x,301001,t,s,001001\n1,x,301002,t,s,001003\n1,x,301001,t,s,001002\n");
  auto set = load_wmo_csv_dir(dir.root());
  CHECK(set.ok() && set->element_count() == 1 && set->sequence_count() == 2);
  if (set.ok()) {
    const ElementDefinition* element = set->get_element(1001);
    CHECK(element->name == "SECOND, really" && element->unit == "CCITT IA5 " &&
          element->element_type == "long" && element->reference == -1);
    CHECK(set->get_sequence(301001)->members == codes({1001, 1002}));
  }
  dir.file("BUFRCREX_TableB_en_03.csv", header_b + "01,Id,001001,x,u,0,,7\n");
  CHECK_ERROR(load_wmo_csv_dir(dir.root()),
              kPrefix + "bad i64 \"\": cannot parse integer from empty string");
  dir.file("BUFRCREX_TableB_en_03.csv", header_b + "01,Id,001001,x,u,0,0,7,9\n");
  CHECK_ERROR(load_wmo_csv_dir(dir.root()),
              kPrefix + "CSV error: record 1 (line: 2, byte: " + std::to_string(header_b.size()) +
                  "): found record with 9 fields, but the previous record has 8 fields");
  CHECK_ERROR(load_wmo_csv_dir(dir.path("none")), "io error: No such file or directory (os error 2)");
}

}  // namespace

int main() {
  test_field_helpers();
  test_quoted_text();
  test_expansion();
  test_expansion_bounds();
  test_expansion_counting();
  test_element_table();
  test_sequence_def();
  test_code_tables();
  test_definitions();
  test_wmo_csv();
  if (g_failures != 0) {
    std::fprintf(stderr, "%d check(s) failed\n", g_failures);
    return 1;
  }
  std::printf("all core checks passed\n");
  return 0;
}
