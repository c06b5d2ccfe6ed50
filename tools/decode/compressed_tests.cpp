// Compressed walk: R0/NBINC/increments, strings, replication factors, operators and subset order.
#include "test_support.hpp"

namespace tarnwel::test {
namespace {

const TableSet kTables = sample_tables();

// One compressed item: R0 of `width` bits, NBINC, then one increment per subset.
BitWriter& item(BitWriter& bits, uint64_t base, unsigned width, unsigned increment_bits,
                std::initializer_list<uint64_t> increments = {}) {
  bits.put(base, width).put(increment_bits, 6);
  for (uint64_t increment : increments) bits.put(increment, increment_bits);
  return bits;
}

Decoded decode_compressed(std::vector<uint32_t> list, const BitWriter& bits, uint16_t subsets,
                          const TableSet& tables = kTables) {
  return decode(tables, std::move(list), bits.bytes(), subsets, true);
}

DECODE_TEST(increments_and_missing_values) {
  BitWriter bits;
  item(bits, 100, 12, 3, {0, 5, 7});
  auto d = decode_compressed({12101}, bits, 3);
  CHECK_EQ(d.at(0).raw, 100u);
  CHECK_EQ(*d.number(0), 6.0);
  CHECK_EQ(d.at(1).raw, 105u);
  CHECK_EQ(*d.number(1), 6.5);
  CHECK(!d.number(2).has_value());  // increment all ones
  CHECK_EQ(d.at(2).raw, 100u);

  // A missing R0 makes every subset missing; its increments are still read.
  for (const unsigned increment_bits : {0u, 2u}) {
    BitWriter missing;
    item(missing, 4095, 12, increment_bits, {});
    for (int i = 0; i < 2 && increment_bits != 0; ++i) missing.put(1, increment_bits);
    item(missing, 9, 7, 0);
    d = decode_compressed({12101, 1001}, missing, 2);
    CHECK(!d.number(0).has_value());
    CHECK_EQ(d.at(2).raw, 4095u);
    CHECK_EQ(*d.number(1), 9.0);
  }
  // Class 31 and zero-width items.
  BitWriter special;
  item(special, 255, 8, 0);
  item(special, 0, 0, 0);
  d = decode_compressed({31001, 2002}, special, 2);
  CHECK_EQ(*d.number(2), 255.0);
  CHECK(!d.number(3).has_value());
}

DECODE_TEST(values_come_out_in_subset_order) {
  BitWriter bits;
  item(bits, 1, 7, 2, {0, 1});
  item(bits, 10, 10, 2, {0, 1});
  item(bits, 400, 12, 0);
  const auto d = decode_compressed({1001, 1002, 12101}, bits, 2);
  const std::vector<uint32_t> codes = {1001, 1002, 12101, 1001, 1002, 12101};
  const std::vector<double> numbers = {1, 10, 36, 2, 11, 36};
  CHECK_EQ(d.size(), 6u);
  for (std::size_t i = 0; i < d.size(); ++i) {
    CHECK_EQ(d.at(i).descriptor, codes[i]);
    CHECK_EQ(*d.number(i), numbers[i]);
  }
}

DECODE_TEST(delayed_replication_needs_one_factor) {
  const std::vector<uint32_t> list = {101000, 31001, 1001};
  BitWriter same;
  item(same, 3, 8, 1, {0, 0});
  for (int k = 0; k < 3; ++k) item(same, k, 7, 0);
  CHECK_EQ(decode_compressed(list, same, 2).size(), 8u);
  BitWriter varying;
  item(varying, 3, 8, 1, {0, 1});
  CHECK_ERROR(decode_compressed(list, varying, 2).result,
              "csv/table parse error: compressed delayed replication with varying factors is not "
              "implemented");
  // R0 plus an increment may count past the factor's width, or past 64 bits under 2 01.
  BitWriter wide;
  item(wide, 255, 8, 1, {1, 1});
  CHECK_ERROR(decode_compressed({101000, 31001, 237000}, wide, 2).result,
              "csv/table parse error: compressed delayed replication factor of descriptor 031001 "
              "exceeds its 8-bit width");
  BitWriter wrapping;
  item(wrapping, ~uint64_t{0}, 64, 1, {1, 1});
  CHECK_ERROR(decode_compressed({201184, 101000, 31001, 237000}, wrapping, 2).result,
              "csv/table parse error: compressed delayed replication factor of descriptor 031001 "
              "exceeds its 64-bit width");
  // Missing in one subset and not in another is a varying factor too.
  BitWriter half_missing;
  item(half_missing, 3, 7, 7, {127, 0});
  CHECK_ERROR(decode_compressed({101000, 1001, 1002}, half_missing, 2).result,
              "csv/table parse error: compressed delayed replication with varying factors is not "
              "implemented");
  // A missing factor (non class 31 element) replicates nothing and reads nothing more.
  BitWriter missing;
  item(missing, 127, 7, 0);
  const auto d = decode_compressed({101000, 1001, 1002}, missing, 2);
  CHECK_EQ(d.size(), 2u);
}

DECODE_TEST(string_columns) {
  BitWriter shared;
  shared.text("AB  ").put(0, 6);
  shared.text("WXYZ").put(2, 6).text("ab").put(0xFFFF, 16);
  const auto d = decode_compressed({1015, 1015}, shared, 2);
  CHECK_EQ(*d.text(0), std::string("AB"));
  CHECK_EQ(*d.text(2), std::string("AB"));
  CHECK_EQ(*d.text(1), std::string("ab"));
  CHECK(!d.text(3).has_value());
  CHECK_EQ(*d.number(0), 1004.0);
  CHECK_EQ(*d.number(2), 2004.0);
  CHECK_EQ(*d.number(1), 3004.0);  // raw_value keeps R0's length, 4
  CHECK_EQ(*d.number(3), 4004.0);

  BitWriter operator_text;
  operator_text.text("QRS").put(0, 6);
  const auto c = decode_compressed({205003}, operator_text, 2);
  CHECK_EQ(c.at(1).descriptor, 205003u);
  CHECK_EQ(c.name(1), std::string("characterData"));
  CHECK_EQ(*c.text(1), std::string("QRS"));
  CHECK_EQ(*c.number(1), 2003.0);
}

DECODE_TEST(associated_fields_and_markers_per_subset) {
  BitWriter bits;
  item(bits, 255, 8, 0);
  item(bits, 5, 7, 0);
  item(bits, 1, 6, 0);
  const auto d = decode_compressed({204008, 1001, 31021, 222000}, bits, 2);
  CHECK_EQ(d.size(), 8u);
  CHECK_EQ(d.at(0).descriptor, 999999u);
  CHECK_EQ(*d.number(0), 255.0);
  CHECK_EQ(d.at(2).descriptor, 31021u);  // class 31 gets no associated field
  CHECK_EQ(d.at(7).descriptor, 222000u);
}

DECODE_TEST(changed_references_are_plain_fields) {
  BitWriter bits;
  bits.put(1, 1).put(100, 9);  // -100, once for all subsets
  item(bits, 400, 12, 1, {0, 1});
  const auto d = decode_compressed({203010, 12101, 203255, 12101}, bits, 2);
  CHECK_EQ(d.size(), 2u);
  CHECK_EQ(*d.number(0), 30.0);
  CHECK(!d.number(1).has_value());
}

DECODE_TEST(compressed_limits) {
  for (const uint32_t levels : {64u, 65u}) {
    TableSet tables = sample_tables();
    for (uint32_t k = 0; k < levels; ++k) {
      tables.insert_sequence({300100 + k, {k + 1 == levels ? 1001u : 300101 + k}});
    }
    BitWriter bits;
    item(bits, 5, 7, 0);
    const auto d = decode_compressed({300100}, bits, 1, tables);
    if (levels == 64) {
      CHECK_EQ(*d.number(0), 5.0);
    } else {
      CHECK_ERROR(d.result, "csv/table parse error: compressed descriptor decode exceeded recursion depth");
    }
  }
  // Zero-width items cost 6 bits for all subsets: 306 of them exceed the value bound.
  BitWriter zeros;
  for (int k = 0; k < 320; ++k) item(zeros, 0, 0, 0);
  CHECK_ERROR(decode_compressed({102255, 101255, 2002}, zeros, 65535).result,
              "csv/table parse error: decoded value count exceeds 20000000");
  // Without subsets markers cost nothing to keep; the step bound ends the walk.
  CHECK_ERROR(decode_compressed({104255, 103255, 102255, 101255, 222000}, BitWriter(), 0).result,
              "csv/table parse error: descriptor walk exceeds 100000000 steps");
  BitWriter short_item;
  item(short_item, 1, 7, 3, {1});
  CHECK_ERROR(decode_compressed({1001}, short_item, 3).result,
              "csv/table parse error: not enough bits while reading section 4 at bit 16 for width 3 "
              "(16 bits available)");
}

}  // namespace
}  // namespace tarnwel::test
