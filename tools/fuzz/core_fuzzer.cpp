// libFuzzer target for the core: scanning, parsing, expansion and section 4 decoding, with a
// structure-aware mutator.
#include <cstddef>
#include <cstdint>

#include "fuzz_tables.hpp"
#include "harness.hpp"
#include "mutator.hpp"

extern "C" std::size_t LLVMFuzzerMutate(uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tarnwel::fuzz::fuzz_tables();  // loaded once, before the first input
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tarnwel::fuzz::run_core_input(data, size, tarnwel::fuzz::fuzz_tables());
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  return tarnwel::fuzz::mutate_input(data, size, max_size, seed, tarnwel::fuzz::fuzz_tables(),
                                     LLVMFuzzerMutate);
}
