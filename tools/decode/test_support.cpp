// A small test harness and builders for hand-made tables and section 4 bit strings.
#include "test_support.hpp"

#include <sstream>

#include "decode/section4_decoder.hpp"

namespace tarnwel::test {

namespace {

struct TestCase {
  const char* name;
  std::function<void()> body;
};

std::vector<TestCase>& registry() {
  static std::vector<TestCase> tests;
  return tests;
}

int failures = 0;

ElementDefinition element(uint32_t code, std::string name, std::string unit, int32_t scale,
                          int64_t reference, uint16_t width) {
  ElementDefinition definition;
  definition.code = code;
  definition.name = std::move(name);
  definition.unit = std::move(unit);
  definition.scale = scale;
  definition.reference = reference;
  definition.width = width;
  return definition;
}

}  // namespace

void register_test(const char* name, std::function<void()> body) {
  registry().push_back({name, std::move(body)});
}

void report_failure(const char* file, int line, const std::string& what) {
  ++failures;
  std::cerr << file << ":" << line << ": check failed: " << what << "\n";
}

BitWriter& BitWriter::put(uint64_t value, unsigned width) {
  // Wider fields are zero-extended on the left.
  for (unsigned i = width; i-- > 0;) bits_.push_back(i < 64 && ((value >> i) & 1) != 0);
  return *this;
}

BitWriter& BitWriter::text(const std::string& characters) {
  for (char c : characters) put(static_cast<uint8_t>(c), 8);
  return *this;
}

std::vector<uint8_t> BitWriter::bytes() const {
  std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits_.size(); ++i) {
    if (bits_[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return out;
}

TableSet sample_tables() {
  TableSet tables;
  tables.insert_element(element(1001, "WMO BLOCK NUMBER", "Numeric", 0, 0, 7));
  tables.insert_element(element(1002, "WMO STATION NUMBER", "Numeric", 0, 0, 10));
  tables.insert_element(element(1015, "STATION OR SITE NAME", "CCITT IA5", 0, 0, 32));
  tables.insert_element(element(12101, "TEMPERATURE", "K", 1, -40, 12));
  tables.insert_element(element(20003, "PRESENT WEATHER", "CODE TABLE", 0, 0, 4));
  tables.insert_element(element(31001, "DELAYED REPLICATION FACTOR", "Numeric", 0, 0, 8));
  tables.insert_element(element(31021, "ASSOCIATED FIELD SIGNIFICANCE", "CODE TABLE", 0, 0, 6));
  tables.insert_element(element(31031, "DATA PRESENT INDICATOR", "FLAG TABLE", 0, 0, 1));
  tables.insert_element(element(2001, "WIDE", "Numeric", 0, 0, 64));
  tables.insert_element(element(2002, "ZERO WIDTH", "Numeric", 0, 0, 0));
  tables.insert_element(element(2003, "SIGNED", "Numeric", 0, -8, 4));
  tables.insert_code_table(20003, {{2, "two"}, {15, "missing fifteen"}});
  return tables;
}

std::optional<double> Decoded::number(std::size_t i) const {
  if (!at(i).has_raw_value()) return std::nullopt;
  return at(i).raw_value;
}

std::optional<std::string> Decoded::text(std::size_t i) const {
  if (!at(i).has_text()) return std::nullopt;
  return std::string(values().text(at(i).text_index));
}

std::optional<std::string> Decoded::meaning(std::size_t i) const {
  if (at(i).meaning == nullptr) return std::nullopt;
  return *at(i).meaning;
}

Decoded decode(const TableSet& tables, std::vector<uint32_t> descriptors,
               const std::vector<uint8_t>& data, uint16_t subsets, bool compressed) {
  BufrMessage message;
  message.unexpanded_descriptors = std::move(descriptors);
  message.number_of_subsets = subsets;
  message.compressed_data = compressed;
  Result<DecodedResult> decoded = decode_section4(message, tables, ByteView(data));
  if (!decoded) return Decoded{std::move(decoded).error()};
  return Decoded{decoded->flat()};
}

}  // namespace tarnwel::test

int main() {
  using namespace tarnwel::test;
  for (const TestCase& test : registry()) {
    const int before = failures;
    test.body();
    if (failures != before) std::cerr << "FAILED " << test.name << "\n";
  }
  std::cout << registry().size() << " tests, " << failures << " failed checks\n";
  return failures == 0 ? 0 : 1;
}
