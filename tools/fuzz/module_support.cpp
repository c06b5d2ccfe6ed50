// C entry points that let the atheris target share the core target's mutator and work bound
// (loaded with ctypes into a process that has libFuzzer preloaded).
#include <cstddef>
#include <cstdint>

#include "fuzz_tables.hpp"
#include "harness_budget.hpp"
#include "message/scanner.hpp"
#include "mutator.hpp"

extern "C" std::size_t LLVMFuzzerMutate(uint8_t* data, std::size_t size, std::size_t max_size);

// The bound of the buffer's first message, as decode_values_with_tables would meet it; 0 when
// the buffer has no message that parses (the module then fails before decoding).
extern "C" int tarnwel_fuzz_bound(const uint8_t* data, std::size_t size, uint64_t* walk_steps,
                                  uint64_t* values, uint64_t* expansion_visits) {
  const tarnwel::ByteView buffer(data, size);
  tarnwel::Result<tarnwel::MessageRange> range = tarnwel::first_message(buffer);
  if (!range) return 0;
  tarnwel::Result<tarnwel::BufrMessage> message = tarnwel::parse_message(range->in(buffer));
  if (!message) return 0;
  const tarnwel::fuzz::WorkBound bound =
      tarnwel::fuzz::bound_work(tarnwel::fuzz::fuzz_tables().tables, message.value());
  *walk_steps = bound.walk_steps;
  *values = bound.values;
  *expansion_visits = bound.expansion_visits;
  return 1;
}

extern "C" std::size_t tarnwel_fuzz_mutate(uint8_t* data, std::size_t size, std::size_t max_size,
                                           unsigned int seed) {
  return tarnwel::fuzz::mutate_input(data, size, max_size, seed, tarnwel::fuzz::fuzz_tables(),
                                     LLVMFuzzerMutate);
}
