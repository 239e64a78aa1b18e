#pragma once

#include <cstdint>

// The project's own 15-bit random generator: a linear congruential generator whose values
// (0 to 32767) follow one fixed sequence on every platform, so a random selection or jitter
// is the same on every machine and on every pass over a file.
class LASrandom {
 public:
  static constexpr std::uint32_t kMax = 0x7FFF;

  explicit LASrandom(std::uint32_t seed = 0) : state_(seed) {}
  void seed(std::uint32_t seed) { state_ = seed; }
  // The next value in 0 ... kMax.
  std::uint32_t next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & kMax;
  }

 private:
  std::uint32_t state_;
};
