// Decodes different messages in four threads with one shared TableSet and checks that every thread
// gets what one thread gets (the threads through one shared pool of caches, the reference with
// fresh ones); CI runs it built with ThreadSanitizer.
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "decode/decoder_pool.hpp"
#include "decode/expansion.hpp"
#include "decode/section4_decoder.hpp"
#include "message/scanner.hpp"
#include "tables/definitions.hpp"

namespace {

using namespace tarnwel;

constexpr unsigned kThreads = 4;

struct Unit {
  std::string name;
  std::vector<uint8_t> bytes;
  BufrMessage message;
};

void append_number(std::string& out, uint64_t number) {
  out += std::to_string(number);
  out += ' ';
}

// Writes everything a caller can read of a decode as text: the expansion, the flat list and the
// numbers of each compressed column, or the error's text. False when it failed.
// With a pool, decodes through it (caches shared between threads); else with a fresh cache.
bool outcome(const Unit& unit, const TableSet& tables, DecoderPool* pool, std::string& out) {
  out.clear();
  Result<std::vector<uint32_t>> expanded =
      expand_descriptors(tables, unit.message.unexpanded_descriptors);
  if (!expanded) {
    out = expanded.error().display();
    return false;
  }
  for (const uint32_t code : expanded.value()) append_number(out, code);
  const ByteView bytes(unit.bytes);
  const ByteView data = unit.message.section4_data(bytes);
  Result<DecodedResult> decoded =
      pool != nullptr ? pool->decode(unit.message, data) : decode_section4(unit.message, tables, data);
  if (!decoded) {
    out = decoded.error().display();
    return false;
  }
  const DecodedResult& result = decoded.value();
  result.for_each_flat([&](const DecodedValue& value) {
    append_number(out, value.descriptor);
    append_number(out, value.flags);
    append_number(out, value.raw);
    append_number(out, std::bit_cast<uint64_t>(value.raw_value));
    out += *value.name;
    if (value.meaning != nullptr) out.append(" = ").append(*value.meaning);
    if (value.has_text()) out.append(" '").append(result.text(value.text_index)).append("'");
    out += '\n';
  });
  std::vector<double> numbers(result.subsets());
  for (std::size_t item = 0; result.compressed() && item < result.items().size(); ++item) {
    result.item_numbers(item, numbers.data(), 1);
    for (const double number : numbers) append_number(out, std::bit_cast<uint64_t>(number));
  }
  return true;
}

bool read_units(const char* path, std::vector<Unit>& units) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  Result<std::vector<MessageRange>> ranges = scan_messages(ByteView(bytes));
  if (!ranges) return false;
  for (const MessageRange& range : ranges.value()) {
    const ByteView message_bytes = range.in(ByteView(bytes));
    Result<BufrMessage> message = parse_message(message_bytes);
    if (!message) return false;
    units.push_back({std::string(path) + " @" + std::to_string(range.start),
                     {message_bytes.begin(), message_bytes.end()}, std::move(message).value()});
  }
  return true;
}

// Every thread decodes every unit `rounds` times, each in its own order; returns the mismatches.
uint64_t run_threads(const std::vector<Unit>& units, const TableSet& tables,
                     const std::vector<std::string>& reference, unsigned rounds) {
  std::atomic<uint64_t> mismatches{0};
  DecoderPool pool(tables);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::size_t> order(units.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937(t));
      std::string got;
      start.arrive_and_wait();
      for (unsigned round = 0; round < rounds; ++round) {
        for (const std::size_t i : order) {
          outcome(units[i], tables, &pool, got);
          if (got == reference[i]) continue;
          std::fprintf(stderr, "thread %u, round %u: %s differs\n", t, round, units[i].name.c_str());
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return mismatches;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: thread_check DEFINITIONS_ROOT ROUNDS FILE...\n");
    return 2;
  }
  const unsigned rounds = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  std::vector<Unit> units;
  for (int i = 3; i < argc; ++i) {
    if (!read_units(argv[i], units)) {
      std::fprintf(stderr, "thread_check: cannot read the messages of %s\n", argv[i]);
      return 1;
    }
  }
  // One set for all: the newest master tables the messages name decode the older ones too.
  const auto newest = std::max_element(units.begin(), units.end(), [](const Unit& a, const Unit& b) {
    return a.message.master_tables_version_number < b.message.master_tables_version_number;
  });
  if (newest == units.end()) return 2;
  Result<TableSet> tables = load_definitions_tables(argv[1], newest->message);
  if (!tables) {
    std::fprintf(stderr, "thread_check: %s\n", tables.error().display().c_str());
    return 1;
  }
  std::vector<std::string> reference(units.size());
  std::size_t failed = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (outcome(units[i], tables.value(), nullptr, reference[i])) continue;
    std::fprintf(stderr, "%s: %s\n", units[i].name.c_str(), reference[i].c_str());
    ++failed;
  }
  const auto began = std::chrono::steady_clock::now();
  const uint64_t mismatches = run_threads(units, tables.value(), reference, rounds);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  std::printf("%zu messages (%zu failing to decode) x %u rounds in %u threads: %llu mismatches, "
              "%.2f s\n",
              units.size(), failed, rounds, kThreads, static_cast<unsigned long long>(mismatches),
              took.count());
  // A message that fails to decode with these tables would compare only an error text.
  return mismatches == 0 && failed == 0 ? 0 : 1;
}
