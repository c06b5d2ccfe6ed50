// Bit reader: values, positions and the exact underrun and width texts.
#include <random>

#include "bitstream/bit_reader.hpp"
#include "test_support.hpp"

namespace tarnwel::test {
namespace {

// The rule the word-wise reader must match: one bit at a time.
uint64_t read_bit_by_bit(const std::vector<uint8_t>& data, uint64_t position, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i, ++position) {
    value = (value << 1) | ((data[position / 8] >> (7 - position % 8)) & 1);
  }
  return value;
}

DECODE_TEST(reads_fields_across_bytes) {
  const std::vector<uint8_t> one = {0xB4};
  BitReader reader{ByteView(one)};
  CHECK_EQ(reader.read_bits(3).value(), 5u);
  CHECK_EQ(reader.read_bits(5).value(), 20u);
  CHECK_EQ(reader.position(), 8u);

  // Width 12 from bit 6 takes 2 + 8 + 2 bits of three bytes.
  const std::vector<uint8_t> three = {0b00000011, 0b10101010, 0b11000000};
  BitReader straddle{ByteView(three)};
  CHECK_EQ(straddle.read_bits(6).value(), 0u);
  CHECK_EQ(straddle.read_bits(12).value(), 0b111010101011u);

  const std::vector<uint8_t> ones(8, 0xFF);
  BitReader full{ByteView(ones)};
  CHECK_EQ(full.read_bits(64).value(), 18446744073709551615u);
}

DECODE_TEST(underrun_and_width_errors_consume_nothing) {
  const std::vector<uint8_t> two = {0x12, 0x34};
  BitReader reader{ByteView(two)};
  CHECK_EQ(reader.read_bits(10).value(), 0x12u << 2);
  CHECK_ERROR(reader.read_bits(7),
              "csv/table parse error: not enough bits while reading section 4 at bit 10 for "
              "width 7 (16 bits available)");
  CHECK_EQ(reader.position(), 10u);
  CHECK_EQ(reader.read_bits(6).value(), 0x34u & 63);
  CHECK_EQ(reader.read_bits(0).value(), 0u);  // past the end, still fine

  const std::vector<uint8_t> large(100, 0);
  BitReader wide{ByteView(large)};
  CHECK_ERROR(wide.read_bits(65), "csv/table parse error: cannot read 65 bits into u64");
  BitReader short_one{ByteView(two)};
  CHECK_ERROR(short_one.read_bits(70000), "csv/table parse error: cannot read 70000 bits into u64");
}

// Every width at every offset, near the end too, where the word load is padded.
DECODE_TEST(word_wise_reads_match_bit_by_bit) {
  std::mt19937_64 random(7);
  std::vector<uint8_t> data(23);
  for (auto& byte : data) byte = static_cast<uint8_t>(random());
  const uint64_t capacity = data.size() * 8;
  for (uint64_t start = 0; start < capacity; ++start) {
    for (unsigned width = 1; width <= 64 && start + width <= capacity; ++width) {
      BitReader reader{ByteView(data)};
      for (uint64_t skipped = 0; skipped < start;) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(64, start - skipped));
        (void)reader.read_bits(step);
        skipped += step;
      }
      const uint64_t expected = read_bit_by_bit(data, start, width);
      const uint64_t actual = reader.read_bits(width).value();
      if (actual != expected) {
        CHECK_EQ(actual, expected);
        return;
      }
    }
  }
}

DECODE_TEST(reads_bytes_with_partial_last_byte) {
  const std::vector<uint8_t> data = {0x41, 0x4F};
  BitReader reader{ByteView(data)};
  CHECK(reader.read_bytes(0).value().empty());
  CHECK_EQ(reader.position(), 0u);
  const std::vector<uint8_t> expected = {0x41, 0x40};
  CHECK(reader.read_bytes(12).value() == expected);
  CHECK_EQ(reader.position(), 12u);

  // Unaligned runs match the bit rule byte for byte.
  const std::vector<uint8_t> mixed = {0x9C, 0x3A, 0xF1, 0x07, 0x5E};
  BitReader unaligned{ByteView(mixed)};
  (void)unaligned.read_bits(3);
  const auto bytes = unaligned.read_bytes(29).value();
  CHECK_EQ(bytes.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) CHECK_EQ(uint64_t{bytes[i]}, read_bit_by_bit(mixed, 3 + 8 * i, 8));
  CHECK_EQ(uint64_t{bytes[3]}, read_bit_by_bit(mixed, 27, 5) << 3);
}

DECODE_TEST(failed_byte_run_keeps_whole_bytes_consumed) {
  const std::vector<uint8_t> data = {1, 2, 3};
  BitReader reader{ByteView(data)};
  (void)reader.read_bits(4);
  CHECK_ERROR(reader.read_bytes(24),
              "csv/table parse error: not enough bits while reading section 4 at bit 20 for "
              "width 8 (24 bits available)");
  CHECK_EQ(reader.position(), 20u);

  BitReader tail{ByteView(data)};
  (void)tail.read_bits(4);
  CHECK_ERROR(tail.read_bytes(21),
              "csv/table parse error: not enough bits while reading section 4 at bit 20 for "
              "width 5 (24 bits available)");
  CHECK_EQ(tail.position(), 20u);
}

}  // namespace
}  // namespace tarnwel::test
