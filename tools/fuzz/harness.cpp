// The core harness: scanning, parsing, expansion and decoding, each result checked for consistency.
#include "harness.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "message/descriptor_code.hpp"
#include "message/scanner.hpp"
#include "decode/expansion.hpp"

namespace tarnwel::fuzz {
namespace {

constexpr std::size_t kMaxMessagesPerInput = 8;

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

void check_ranges(const std::vector<MessageRange>& ranges, std::size_t size) {
  uint64_t end = 0;
  for (const MessageRange& range : ranges) {
    require(range.start >= end, "message ranges overlap or go backwards");
    require(range.length >= 1 && range.length <= size - range.start, "range outside the buffer");
    end = range.start + range.length;
  }
}

void check_message(const BufrMessage& m, ByteView bytes) {
  require(m.total_length == bytes.size(), "total length differs from the message size");
  require(m.section4_data_offset <= bytes.size() &&
              m.section4_data_length <= bytes.size() - m.section4_data_offset,
          "section 4 data outside the message");
  require(m.unexpanded_descriptors.size() == (m.section3_length - 7) / 2,
          "descriptor count differs from the section 3 length");
}

void check_expansion(const std::vector<uint32_t>& codes) {
  for (const uint32_t code : codes) {
    const uint32_t f = descriptor_f(code);
    require(code == kAssociatedFieldCode || f == 0 || f == 2, "expansion left a F=1 or F=3 code");
    const uint32_t x = descriptor_x(code);
    require(f != 2 || (x != 1 && x != 2 && x != 4 && x != 6 && x != 7 && x != 8),
            "expansion kept an operator that changes no descriptor");
  }
}

// Visits the values in place: a result within the budget can hold 5 M of them.
void check_values(const DecodedResult& decoded, const BufrMessage& m) {
  for (std::size_t i = 0; i < decoded.text_count(); ++i) {
    for (const char c : decoded.text(static_cast<uint32_t>(i))) {
      require(static_cast<unsigned char>(c) < 0x80, "text keeps an octet of 0x80 or above");
    }
  }
  std::size_t visited = 0;
  decoded.for_each_flat([&](const DecodedValue& value) {
    ++visited;
    require(value.name != nullptr, "value without a name");
    require(!value.has_text() || value.text_index < decoded.text_count(),
            "text index out of range");
    const uint32_t f = descriptor_f(value.descriptor);
    require(value.descriptor == kAssociatedFieldCode || f == 0 || f == 2,
            "value with a replication or sequence descriptor");
  });
  require(visited == decoded.size(), "the flat list differs from the result's size");
  require(decoded.size() <= kReaderMaxValues, "a decode passed its value budget");
  if (m.number_of_subsets == 0) require(decoded.size() == 0, "values from no subsets");
  if (m.compressed_data && m.number_of_subsets != 0) {
    require(decoded.size() % m.number_of_subsets == 0,
            "compressed values are not the same number per subset");
  }
}

void run_message(ByteView bytes, const FuzzTables& tables, InputStats& stats) {
  Result<BufrMessage> parsed = parse_message(bytes);
  if (!parsed) return;
  const BufrMessage& m = parsed.value();
  check_message(m, bytes);
  ++stats.messages;
  const WorkBound bound = bound_work(tables.tables, m);
  if (expansion_within_budget(bound)) {
    Result<std::vector<uint32_t>> expanded =
        expand_descriptors(tables.tables, m.unexpanded_descriptors);
    if (expanded) check_expansion(expanded.value());
    ++stats.expanded;
  } else {
    ++stats.skipped;
  }
  std::optional<Result<DecodedResult>> decoded =
      decode_within_budget(m, tables.tables, m.section4_data(bytes));
  if (!decoded) {
    ++stats.skipped;
    stats.largest.walk_steps = std::max(stats.largest.walk_steps, bound.walk_steps);
    stats.largest.values = std::max(stats.largest.values, bound.values);
    return;
  }
  if (!decoded->ok()) {
    if (decoded->error().kind() == ErrorKind::ValueBudgetExceeded) ++stats.over_budget;
    return;
  }
  check_values(decoded->value(), m);
  ++stats.decoded;
  stats.values += decoded->value().size();
}

}  // namespace

InputStats run_core_input(const uint8_t* data, std::size_t size, const FuzzTables& tables) {
  InputStats stats;
  const ByteView buffer(data, size);
  Result<std::vector<MessageRange>> ranges = scan_messages(buffer);
  if (ranges) {
    check_ranges(ranges.value(), size);
    Result<MessageRange> first = first_message(buffer);
    require(first.ok() == !ranges->empty(), "first_message disagrees with scan_messages");
    Result<std::vector<BufrMessage>> all = parse_all_messages(buffer);
    for (std::size_t i = 0; i < ranges->size() && i < kMaxMessagesPerInput; ++i) {
      run_message((*ranges)[i].in(buffer), tables, stats);
    }
    if (all) require(all->size() == ranges->size(), "parse_all_messages lost a message");
  }
  // The whole buffer as one message reaches the framing checks a scan would stop before.
  if (!ranges || ranges->size() != 1 || (*ranges)[0].length != size) {
    Result<BufrMessage> whole = parse_message(buffer);
    if (whole) check_message(whole.value(), buffer);
  }
  return stats;
}

}  // namespace tarnwel::fuzz
