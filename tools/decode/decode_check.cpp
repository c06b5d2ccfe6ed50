// Decodes the messages of a BUFR file with tables from a definitions root: prints values or times the decode.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "bitstream/bit_reader.hpp"
#include "decode/decoder_pool.hpp"
#include "decode/section4_decoder.hpp"
#include "decode/value_arrays.hpp"
#include "decode/uncompressed_decoder.hpp"
#include "message/scanner.hpp"
#include "tables/definitions.hpp"

namespace {

using namespace tarnwel;

void print_values(const DecodedValues& decoded) {
  for (const DecodedValue& value : decoded.values) {
    std::printf("%06u\t", value.descriptor);
    if (value.has_text()) {
      std::printf("text\t%s\n", std::string(decoded.text(value.text_index)).c_str());
    } else if (value.has_raw_value()) {
      std::printf("number\t%.17g\n", value.raw_value);
    } else {
      std::printf("missing\n");
    }
  }
}

// A single-subset uncompressed message's data repeated `copies` times, bit after
// bit, as the section 4 of a message with that many subsets.
std::vector<uint8_t> repeat_subset(const BufrMessage& message, const TableSet& tables,
                                   ByteView data, uint32_t copies) {
  BitReader reader(data);
  DescriptorCache cache(tables);
  if (!decode_uncompressed(message.unexpanded_descriptors, 1, cache, reader, DecodeOptions{}).ok()) return {};
  const uint64_t bits = reader.position();
  std::vector<uint8_t> out((bits * copies + 7) / 8, 0);
  uint64_t at = 0;
  for (uint32_t c = 0; c < copies; ++c) {
    BitReader again(data);
    for (uint64_t done = 0; done < bits; ++done, ++at) {
      if (again.read_bits(1).value() != 0) out[at / 8] |= static_cast<uint8_t>(0x80 >> (at % 8));
    }
  }
  return out;
}

// Best times of an array plan and of filling every column from it, as to_arrays() does.
void time_plan(const DecodedResult& decoded, DescriptorCache& cache, double& plan_best,
               double& fill_best) {
  const auto start = std::chrono::steady_clock::now();
  const ArrayPlan plan(decoded, cache);
  const auto planned = std::chrono::steady_clock::now();
  std::vector<std::vector<double>> numbers(plan.columns().size());
  std::vector<std::vector<uint32_t>> texts(plan.columns().size());
  std::vector<double*> number_cells(numbers.size(), nullptr);
  std::vector<uint32_t*> text_cells(texts.size(), nullptr);
  for (std::size_t c = 0; c < numbers.size(); ++c) {
    const std::size_t cells = std::size_t{plan.subsets()} * plan.columns()[c].width;
    if (plan.columns()[c].text) {
      texts[c].resize(cells);
      text_cells[c] = texts[c].data();
    } else {
      numbers[c].resize(cells);
      number_cells[c] = numbers[c].data();
    }
  }
  const auto filling = std::chrono::steady_clock::now();
  plan.fill(decoded, number_cells, text_cells);
  const auto filled = std::chrono::steady_clock::now();
  plan_best = std::min(plan_best, std::chrono::duration<double>(planned - start).count());
  fill_best = std::min(fill_best, std::chrono::duration<double>(filled - filling).count());
}

double seconds_per_decode(const BufrMessage& message, const TableSet& tables, ByteView data,
                          int repeats, uint64_t& values) {
  double total = 0;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    auto decoded = decode_section4(message, tables, data);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    values = decoded.ok() ? decoded->size() : 0;
  }
  return total / repeats;
}

// Times the first message of the file made into a message of `copies` subsets.
int bench_subsets(const std::string& root, const std::vector<uint8_t>& bytes, uint32_t copies,
                  int repeats) {
  auto range = first_message(ByteView(bytes));
  if (!range.ok()) return 1;
  const ByteView message_bytes = range->in(ByteView(bytes));
  auto message = parse_message(message_bytes);
  if (!message.ok() || message->compressed_data) return 1;
  auto tables = load_definitions_tables(root, message.value());
  if (!tables.ok()) return 1;
  const auto data = repeat_subset(message.value(), tables.value(),
                                  message->section4_data(message_bytes), copies);
  message->number_of_subsets = static_cast<uint16_t>(copies);
  uint64_t values = 0;
  const double seconds = seconds_per_decode(message.value(), tables.value(), ByteView(data),
                                            repeats, values);
  std::printf("%u subsets, %llu values, %.3f ms per decode: %.1f million values/s\n", copies,
              static_cast<unsigned long long>(values), seconds * 1e3, values / seconds / 1e6);
  return 0;
}

int run(const std::string& root, const std::string& path, const std::string& mode, int repeats) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
  if (mode.starts_with("subsets=")) {
    return bench_subsets(root, bytes, static_cast<uint32_t>(std::stoul(mode.substr(8))), repeats);
  }
  auto messages = scan_messages(ByteView(bytes));
  if (!messages.ok()) {
    std::cerr << messages.error().display() << "\n";
    return 1;
  }
  uint64_t total_values = 0;
  double total_seconds = 0;
  for (const MessageRange& range : messages.value()) {
    const ByteView message_bytes = ByteView(bytes).subspan(range.start, range.length);
    auto message = parse_message(message_bytes);
    if (!message.ok()) {
      std::cout << "message error: " << message.error().display() << "\n";
      continue;
    }
    auto tables = load_definitions_tables(root, message.value());
    if (!tables.ok()) {
      std::cout << "table error: " << tables.error().display() << "\n";
      continue;
    }
    const ByteView data = message->section4_data(message_bytes);
    DecoderPool decoders(tables.value());  // as the module decodes: table entries kept between decodes
    DescriptorCache plan_cache(tables.value());
    double plan_best = 1e9, fill_best = 1e9;
    for (int r = 0; r < repeats; ++r) {
      const auto start = std::chrono::steady_clock::now();
      auto decoded = decoders.decode(message.value(), data);
      total_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!decoded.ok()) {
        std::cout << "decode error: " << decoded.error().display() << "\n";
        break;
      }
      total_values += decoded->size();
      if (mode == "plan") time_plan(decoded.value(), plan_cache, plan_best, fill_best);
      if (mode == "print" && r == 0) {
        std::cout << "message subsets=" << message->number_of_subsets
                  << " compressed=" << message->compressed_data << "\n";
        print_values(decoded->flat());
      }
    }
    if (mode == "plan") {
      std::printf("plan %.3f ms, fill %.3f ms (best of %d)\n", plan_best * 1e3, fill_best * 1e3,
                  repeats);
    }
  }
  if (mode == "bench" || mode == "plan") {
    std::printf("%llu values in %.4f s: %.1f million values/s\n",
                static_cast<unsigned long long>(total_values), total_seconds,
                total_values / total_seconds / 1e6);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: decode_check DEFINITIONS_ROOT FILE print|bench|plan|subsets=N [REPEATS]\n";
    return 2;
  }
  const int repeats = argc > 4 ? std::stoi(argv[4]) : 1;
  return run(argv[1], argv[2], argv[3], std::string(argv[3]) == "print" ? 1 : repeats);
}
