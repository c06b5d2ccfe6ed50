// Runs files through the core fuzz harness without libFuzzer (any compiler), optionally after
// rounds of the structure-aware mutator, and prints what each did.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_tables.hpp"
#include "harness.hpp"
#include "mutator.hpp"

namespace {

// Stands in for LLVMFuzzerMutate: changes one octet.
std::size_t flip_one_octet(uint8_t* data, std::size_t size, std::size_t) {
  if (size != 0) data[static_cast<std::size_t>(std::rand()) % size] ^= 0x5A;
  return size;
}

bool read_file(const char* path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void replay(const char* path, const std::vector<uint8_t>& bytes) {
  const auto start = std::chrono::steady_clock::now();
  const tarnwel::fuzz::InputStats stats =
      tarnwel::fuzz::run_core_input(bytes.data(), bytes.size(), tarnwel::fuzz::fuzz_tables());
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%s: %zu octets, %llu messages, %llu expanded, %llu decoded, %llu over budget, "
              "%llu skipped, %llu values, %.3f s",
              path, bytes.size(), static_cast<unsigned long long>(stats.messages),
              static_cast<unsigned long long>(stats.expanded),
              static_cast<unsigned long long>(stats.decoded),
              static_cast<unsigned long long>(stats.over_budget),
              static_cast<unsigned long long>(stats.skipped),
              static_cast<unsigned long long>(stats.values), took.count());
  if (stats.skipped != 0) {
    std::printf(" (largest bound skipped: %llu steps, %llu values)",
                static_cast<unsigned long long>(stats.largest.walk_steps),
                static_cast<unsigned long long>(stats.largest.values));
  }
  std::printf("\n");
}

// Each round mutates the previous round's result, as a fuzzing run would.
void mutate_rounds(const std::vector<uint8_t>& bytes, unsigned long rounds) {
  constexpr std::size_t kMaxSize = 1 << 16;
  std::vector<uint8_t> buffer(bytes);
  buffer.resize(kMaxSize);
  std::size_t size = std::min(bytes.size(), kMaxSize);
  std::chrono::duration<double> mutating{0}, running{0};
  uint64_t octets = 0;
  for (unsigned long round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    size = tarnwel::fuzz::mutate_input(buffer.data(), size, kMaxSize,
                                       static_cast<unsigned>(round), tarnwel::fuzz::fuzz_tables(),
                                       flip_one_octet);
    const auto mutated = std::chrono::steady_clock::now();
    tarnwel::fuzz::run_core_input(buffer.data(), size, tarnwel::fuzz::fuzz_tables());
    mutating += mutated - start;
    running += std::chrono::steady_clock::now() - mutated;
    octets += size;
  }
  std::printf("  %lu mutations: %.3f s mutating, %.3f s running, %llu octets on average\n", rounds,
              mutating.count(), running.count(),
              static_cast<unsigned long long>(octets / (rounds == 0 ? 1 : rounds)));
}

}  // namespace

int main(int argc, char** argv) {
  tarnwel::fuzz::fuzz_tables();  // loaded before the first timing
  unsigned long rounds = 0;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--mutate") == 0) {
    rounds = std::strtoul(argv[2], nullptr, 10);
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: fuzz_replay [--mutate ROUNDS] FILE...\n");
    return 2;
  }
  for (int i = first; i < argc; ++i) {
    std::vector<uint8_t> bytes;
    if (!read_file(argv[i], bytes)) {
      std::fprintf(stderr, "fuzz_replay: cannot read %s\n", argv[i]);
      return 1;
    }
    replay(argv[i], bytes);
    if (rounds != 0) mutate_rounds(bytes, rounds);
  }
  return 0;
}
