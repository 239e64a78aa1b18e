#pragma once

#include <cstdint>

// The project's own 15-bit random generator: a linear congruential generator, state = state *
// 214013 + 2531011 (mod 2^32), value = bits 16-30 of the state, whose values (0 to 32767)
// follow one fixed sequence on every platform, so a random selection or jitter is the same
// on every machine and on every pass over a file. Its constants and output are those publicly
// documented for the Windows C runtime's rand(), so selections match those made with it.
struct LASrandom15 {
  static constexpr std::uint32_t kMax = 0x7FFF;
  static std::uint32_t next(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return (state >> 16) & kMax;
  }
};

// The same generator holding its state.
class LASrandom {
 public:
  static constexpr std::uint32_t kMax = 0x7FFF;

  explicit LASrandom(std::uint32_t seed = 0) : state_(seed) {}
  void seed(std::uint32_t seed) { state_ = seed; }
  // The next value in 0 ... kMax.
  std::uint32_t next() { return LASrandom15::next(state_); }

 private:
  std::uint32_t state_;
};
