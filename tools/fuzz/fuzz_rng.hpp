// A small seeded generator, so that a mutation is repeatable from libFuzzer's seed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwel::fuzz {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  // splitmix64: every seed, 0 included, gives a full-period stream.
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); 0 when bound is 0.
  uint64_t below(uint64_t bound) { return bound == 0 ? 0 : next() % bound; }
  bool one_in(uint64_t n) { return below(n) == 0; }
  // Mostly small: 0..bound-1 with a strong lean towards 0.
  uint64_t small(uint64_t bound) { return below(1 + below(bound)); }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  uint64_t state_;
};

}  // namespace tarnwel::fuzz
