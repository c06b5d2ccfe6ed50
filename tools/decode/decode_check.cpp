// Decodes the messages of a BUFR file with tables from a definitions root: prints values or times the decode.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/section4_decoder.hpp"
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

int run(const std::string& root, const std::string& path, const std::string& mode, int repeats) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
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
    for (int r = 0; r < repeats; ++r) {
      const auto start = std::chrono::steady_clock::now();
      auto decoded = decode_section4(message.value(), tables.value(), data);
      total_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!decoded.ok()) {
        std::cout << "decode error: " << decoded.error().display() << "\n";
        break;
      }
      total_values += decoded->values.size();
      if (mode == "print" && r == 0) {
        std::cout << "message subsets=" << message->number_of_subsets
                  << " compressed=" << message->compressed_data << "\n";
        print_values(decoded.value());
      }
    }
  }
  if (mode == "bench") {
    std::printf("%llu values in %.4f s: %.1f million values/s\n",
                static_cast<unsigned long long>(total_values), total_seconds,
                total_values / total_seconds / 1e6);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: decode_check DEFINITIONS_ROOT FILE print|bench [REPEATS]\n";
    return 2;
  }
  const int repeats = argc > 4 ? std::stoi(argv[4]) : 1;
  return run(argv[1], argv[2], argv[3], argv[3] == std::string("bench") ? repeats : 1);
}
