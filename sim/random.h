// The device's one source of chance: garbled bytes, line noise and corrupted replies all
// draw from it in the order they happen, so that a seed replays the same faults.
#pragma once
#include <cstdint>

namespace kv70sim {

class Random {
 public:
  explicit Random(std::uint64_t seed)
      : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}

  // xorshift64*: cheap, and the same faults for the same seed.
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  std::uint8_t NextByte() { return static_cast<std::uint8_t>(Next() >> 56); }
  // True with probability `p`.
  bool Chance(double p) {
    return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0) < p;
  }

 private:
  std::uint64_t state_;
};

}  // namespace kv70sim
