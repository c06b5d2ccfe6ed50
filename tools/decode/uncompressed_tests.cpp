// Uncompressed walk: value conversion, operators, replication, bitmaps, the 2 03 / 2 05 operators and bounds.
#include <cmath>
#include <limits>

#include "test_support.hpp"

namespace tarnwel::test {
namespace {

const TableSet kTables = sample_tables();

DECODE_TEST(numbers_missing_values_and_meanings) {
  const auto d = decode(kTables, {12101, 12101, 20003, 20003, 31001},
                        BitWriter().put(400, 12).put(4095, 12).put(2, 4).put(15, 4).put(255, 8).bytes());
  CHECK_EQ(d.size(), 5u);
  CHECK_EQ(*d.number(0), 36.0);
  CHECK_EQ(d.at(0).raw, 400u);
  CHECK(!d.number(1).has_value());
  CHECK_EQ(d.at(1).raw, 4095u);
  CHECK_EQ(d.name(1), std::string("TEMPERATURE"));
  CHECK_EQ(*d.meaning(2), std::string("two"));
  CHECK_EQ(*d.number(2), 2.0);
  // A missing coded value still gets the meaning of its all-ones figure.
  CHECK(!d.number(3).has_value());
  CHECK_EQ(*d.meaning(3), std::string("missing fifteen"));
  CHECK_EQ(*d.number(4), 255.0);  // class 31 is never missing
}

DECODE_TEST(width_scale_and_reference_operators) {
  // 2 01 129 widens by one: 4095 is present, 8191 missing.
  auto d = decode(kTables, {201129, 12101, 12101},
                  BitWriter().put(4095, 13).put(8191, 13).bytes());
  CHECK_EQ(*d.number(0), 405.5);
  CHECK(!d.number(1).has_value());
  // 2 07 001: 16 bits, reference -400, scale 2.
  d = decode(kTables, {207001, 12101}, BitWriter().put(1000, 16).bytes());
  CHECK_EQ(*d.number(0), 6.0);
  // 2 06 005 gives the next element 5 bits, the one after its table width.
  d = decode(kTables, {206005, 12101, 1001}, BitWriter().put(3, 5).put(100, 7).bytes());
  CHECK_EQ(*d.number(0), -3.7);
  CHECK_EQ(*d.number(1), 100.0);
  // Operators set inside a sequence outlive it; 2 01 000 restores table widths.
  TableSet tables = sample_tables();
  tables.insert_sequence({300001, {201130}});
  d = decode(tables, {300001, 1001, 201000, 1001}, BitWriter().put(300, 9).put(5, 7).bytes());
  CHECK_EQ(*d.number(0), 300.0);
  CHECK_EQ(*d.number(1), 5.0);
}

DECODE_TEST(character_values) {
  auto d = decode(kTables, {1015, 1015, 1015},
                  BitWriter().text("AB  ").put(0xFFFFFFFF, 32).text(std::string("\xC4\0B \t", 5).substr(0, 4)).bytes());
  CHECK_EQ(*d.text(0), std::string("AB"));
  CHECK_EQ(*d.number(0), 1004.0);
  CHECK(!d.at(0).has_raw());
  CHECK(!d.text(1).has_value());
  CHECK_EQ(*d.number(1), 2004.0);
  CHECK_EQ(*d.text(2), std::string("?\0B", 3));
  // 2 08 003 reads 24 bits whatever the table width; 2 08 000 restores it.
  d = decode(kTables, {208003, 1015, 208000, 1015}, BitWriter().text("XYZ").text("ABCD").bytes());
  CHECK_EQ(*d.text(0), std::string("XYZ"));
  CHECK_EQ(*d.number(0), 1003.0);
  CHECK_EQ(*d.text(1), std::string("ABCD"));
}

DECODE_TEST(associated_fields_skip_class_31) {
  const auto d = decode(kTables, {204002, 31021, 1001, 204000, 1002},
                        BitWriter().put(1, 6).put(3, 2).put(9, 7).put(12, 10).bytes());
  CHECK_EQ(d.size(), 4u);
  CHECK_EQ(d.at(0).descriptor, 31021u);
  CHECK_EQ(d.at(1).descriptor, 999999u);
  CHECK_EQ(d.name(1), std::string("associatedField"));
  CHECK_EQ(*d.number(1), 3.0);  // all ones, never missing
  CHECK_EQ(*d.number(2), 9.0);
  CHECK_EQ(*d.number(3), 12.0);
}

DECODE_TEST(subsets_follow_each_other_bit_by_bit) {
  auto d = decode(kTables, {1001, 1002},
                  BitWriter().put(1, 7).put(2, 10).put(3, 7).put(4, 10).put(0, 6).bytes(), 2);
  CHECK_EQ(d.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) CHECK_EQ(*d.number(i), double(i + 1));
  d = decode(kTables, {1015}, BitWriter().text("ABCD").text("EFGH").bytes(), 2);
  CHECK_EQ(*d.number(1), 2004.0);  // the text counter runs over the message
  CHECK(decode(kTables, {1001}, {}, 0).values().values.empty());
}

DECODE_TEST(later_subsets_longer_than_the_first_keep_every_value) {
  // The first subset replicates nothing, the next three 255 times: the result
  // outgrows what the data size and the first subset suggested, twice.
  BitWriter bits;
  bits.put(0, 8);
  for (int subset = 1; subset < 4; ++subset) {
    bits.put(255, 8);
    for (int i = 0; i < 255; ++i) bits.put((subset * 31 + i) % 127, 7);
  }
  const auto d = decode(kTables, {101000, 31001, 1001}, bits.bytes(), 4);
  CHECK_EQ(d.size(), 1u + 3 * 256);
  CHECK_EQ(*d.number(0), 0.0);
  for (std::size_t subset = 1; subset < 4; ++subset) {
    const std::size_t start = 1 + (subset - 1) * 256;
    CHECK_EQ(*d.number(start), 255.0);
    for (std::size_t i = 0; i < 255; ++i) {
      CHECK_EQ(*d.number(start + 1 + i), double((subset * 31 + i) % 127));
    }
  }
}

DECODE_TEST(fixed_and_delayed_replication) {
  auto d = decode(kTables, {102003, 1001, 1002, 12101},
                  BitWriter().put(0, 51).put(400, 12).bytes());
  CHECK_EQ(d.size(), 7u);
  CHECK_EQ(d.at(6).descriptor, 12101u);
  const std::vector<uint32_t> delayed = {101000, 31001, 12101};
  d = decode(kTables, delayed, BitWriter().put(4, 8).put(0, 48).bytes());
  CHECK_EQ(d.size(), 5u);
  CHECK_EQ(*d.number(0), 4.0);
  CHECK_EQ(decode(kTables, delayed, BitWriter().put(0, 8).bytes()).size(), 1u);
  // All ones in a class 31 factor is a count of 255.
  CHECK_EQ(decode(kTables, delayed, BitWriter().put(255, 8).put(0, 255 * 12).bytes()).size(), 256u);
}

DECODE_TEST(descriptor_list_errors) {
  TableSet tables = sample_tables();
  tables.insert_sequence({300002, {300002}});
  tables.insert_sequence({300003, {1001, 412345}});
  const std::vector<uint8_t> data(16, 0);
  CHECK_ERROR(decode(tables, {101000, 31001}, data).result,
              "delayed replication descriptor 101000 is missing its replication factor or "
              "replicated descriptors");
  CHECK_ERROR(decode(tables, {102000, 1001}, data).result, "unsupported replication descriptor 102000");
  CHECK_ERROR(decode(tables, {100001, 1001}, data).result, "unsupported replication descriptor 100001");
  CHECK_ERROR(decode(tables, {300002}, data).result,
              "csv/table parse error: descriptor decode exceeded recursion depth");
  CHECK_ERROR(decode(tables, {300003}, data).result, "csv/table parse error: invalid descriptor 412345");
  CHECK_ERROR(decode(tables, {1099}, data).result, "descriptor 001099 was not found in Table B");
  CHECK_ERROR(decode(tables, {101000, 1099, 1001}, data).result, "descriptor 001099 was not found in Table B");
  CHECK_ERROR(decode(tables, {301099}, data).result, "descriptor 301099 was not found in Table D");
  CHECK_ERROR(decode(tables, {1001, 1002}, {0xFF}).result,
              "csv/table parse error: not enough bits while reading section 4 at bit 7 for width "
              "10 (8 bits available)");
}

// 64 levels of sequences below the section 3 list decode; 65 do not.
DECODE_TEST(nesting_depth_limit) {
  for (const uint32_t levels : {64u, 65u}) {
    TableSet tables = sample_tables();
    for (uint32_t k = 0; k < levels; ++k) {
      tables.insert_sequence({300100 + k, {k + 1 == levels ? 1001u : 300101 + k}});
    }
    const auto d = decode(tables, {300100}, BitWriter().put(5, 7).bytes());
    if (levels == 64) {
      CHECK_EQ(*d.number(0), 5.0);
    } else {
      CHECK_ERROR(d.result, "csv/table parse error: descriptor decode exceeded recursion depth");
    }
  }
}

DECODE_TEST(operator_markers) {
  const auto d = decode(kTables, {222000, 235000, 223255, 222001, 232000}, {});
  CHECK_EQ(d.size(), 3u);
  CHECK_EQ(d.at(0).descriptor, 222000u);
  CHECK_EQ(d.at(1).descriptor, 235000u);
  CHECK_EQ(d.at(2).descriptor, 232000u);
  CHECK_EQ(d.name(2), std::string("operator"));
  CHECK_EQ(*d.number(1), 0.0);
  CHECK_EQ(d.at(1).raw, 0u);
}

DECODE_TEST(bitmap_selects_earlier_elements) {
  // History 1001, 1002, 12101, 1001, 1002; bitmap 0 1 0 1 1 marks positions 0 and 2.
  const std::vector<uint32_t> list = {1001,   1002,   12101,  1001,   1002,   236000, 101005,
                                      31031,  223255, 223255, 223255, 237000, 223255};
  BitWriter bits;
  bits.put(1, 7).put(2, 10).put(3, 12).put(4, 7).put(5, 10);
  bits.put(0b01011, 5).put(70, 7).put(500, 12).put(71, 7);
  const auto d = decode(kTables, list, bits.bytes());
  CHECK_EQ(d.size(), 5u + 1 + 5 + 2 + 1 + 1);
  CHECK_EQ(d.at(11).descriptor, 1001u);
  CHECK_EQ(*d.number(11), 70.0);
  CHECK_EQ(d.at(12).descriptor, 12101u);
  CHECK_EQ(*d.number(12), 46.0);
  CHECK_EQ(d.at(13).descriptor, 237000u);
  CHECK_EQ(*d.number(14), 71.0);  // 2 37 000 starts again at position 0

  // Three history entries and five present bits: the fourth reference is outside.
  const auto outside = decode(kTables, {1001, 1001, 1001, 236000, 101005, 31031, 223255, 223255,
                                        223255, 223255},
                              BitWriter().put(0, 21).put(0, 5).put(0, 21).bytes());
  CHECK_ERROR(outside.result, "csv/table parse error: bitmap reference is outside descriptor history");
}

DECODE_TEST(difference_values_widen_by_one_bit) {
  const auto d = decode(kTables, {12101, 236000, 101001, 31031, 225255},
                        BitWriter().put(0, 12).put(0, 1).put(5000, 13).bytes());
  CHECK_EQ(d.at(3).descriptor, 12101u);
  CHECK_EQ(*d.number(3), 90.4);  // (5000 - 4096) / 10
  CHECK_ERROR(decode(kTables, {2001, 236000, 101001, 31031, 225255},
                     BitWriter().put(0, 64).put(0, 1).put(0, 64).bytes()).result,
              "csv/table parse error: cannot read 65 bits into u64");
}

DECODE_TEST(character_data_operator) {
  const auto d = decode(kTables, {205003, 1015}, BitWriter().text("ABC").text("WXYZ").bytes());
  CHECK_EQ(d.size(), 2u);
  CHECK_EQ(d.at(0).descriptor, 205003u);
  CHECK_EQ(d.name(0), std::string("characterData"));
  CHECK_EQ(*d.text(0), std::string("ABC"));
  CHECK_EQ(*d.number(0), 1003.0);
  CHECK(!d.at(0).has_raw());
  CHECK_EQ(*d.number(1), 2004.0);
}

DECODE_TEST(changed_reference_values) {
  // -100 for 12101 and +5 for 2003 in 10-bit sign and magnitude.
  const auto definitions = [](BitWriter& bits) { bits.put(1, 1).put(100, 9).put(0, 1).put(5, 9); };
  BitWriter bits;
  definitions(bits);
  bits.put(400, 12).put(3, 4).put(400, 12);
  auto d = decode(kTables, {203010, 12101, 2003, 203255, 12101, 2003, 203000, 12101}, bits.bytes());
  CHECK_EQ(d.size(), 3u);
  CHECK_EQ(*d.number(0), 30.0);
  CHECK_EQ(*d.number(1), 8.0);
  CHECK_EQ(*d.number(2), 36.0);
  // 2 07 changes width and scale but does not multiply a changed reference.
  BitWriter scaled;
  definitions(scaled);
  scaled.put(1000, 16);
  d = decode(kTables, {203010, 12101, 2003, 203255, 207001, 12101}, scaled.bytes());
  CHECK_EQ(*d.number(0), 9.0);
  // Changed references carry over into later subsets.
  d = decode(kTables, {12101, 203010, 12101, 203255},
             BitWriter().put(400, 12).put(0, 1).put(0, 9).put(400, 12).put(0, 1).put(0, 9).bytes(), 2);
  CHECK_EQ(*d.number(0), 36.0);
  CHECK_EQ(*d.number(1), 40.0);
}

DECODE_TEST(hostile_counts_and_widths_end_in_errors) {
  CHECK_ERROR(decode(kTables, {104255, 103255, 102255, 101255, 200000}, {}).result,
              "csv/table parse error: descriptor walk exceeds 100000000 steps");
  // A 64-bit factor of all ones saturates the count; the step bound ends it.
  CHECK_ERROR(decode(kTables, {101000, 2001, 200000}, BitWriter().put(~uint64_t{0}, 64).bytes()).result,
              "csv/table parse error: descriptor walk exceeds 100000000 steps");
  CHECK_ERROR(decode(kTables, {201200, 1001}, std::vector<uint8_t>(32)).result,
              "csv/table parse error: cannot read 79 bits into u64");
  // 10^30 saturates, and so does -8 times it: a defined, finite value.
  const auto d = decode(kTables, {207030, 201128, 2003}, BitWriter().put(3, 4).bytes());
  const double expected =
      static_cast<double>(static_cast<__int128>(std::numeric_limits<int64_t>::min()) + 3) /
      std::pow(10.0, 30);
  CHECK_EQ(*d.number(0), expected);
}

}  // namespace
}  // namespace tarnwel::test
