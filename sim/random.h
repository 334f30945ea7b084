// A small deterministic random source (splitmix64): the same seed gives the same faults
// and the same old flash contents on every run and every platform.
#pragma once

#include <cstdint>

namespace sim {

class Random {
 public:
  explicit Random(uint64_t seed = 1) : m_state(seed) {}

  uint64_t next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // True with probability p (never for 0, always for 1).
  bool chance(double p) { return p > 0 && unit() < p; }
  // Uniform in [0, bound); 0 for a bound of 0.
  uint64_t below(uint64_t bound) { return bound == 0 ? 0 : next() % bound; }

 private:
  uint64_t m_state;
};

}  // namespace sim
