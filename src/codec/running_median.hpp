#pragma once

#include <cstdint>

// The median of the last five values added, kept sorted with one insertion per value. The
// coordinate codecs predict a difference by the median of the recent differences of the same
// return class: a median shrugs off the odd jump that a mean would smear over the next points.
//
// Which end a new value displaces alternates (`high`), so the five values stay a window
// around the recent median rather than the last five in time; encoder and decoder must
// update it identically, so the exact insertion rule is part of the compressed format.
class RunningMedian5 {
 public:
  void reset() {
    s0 = s1 = s2 = s3 = s4 = 0;
    high = true;
  }
  std::int32_t get() const { return s2; }
  // Drops the largest value (`high`) or the smallest and inserts x in order. Masks instead
  // of the comparisons of an insertion: the differences added are noise, and a processor
  // guesses such branches wrong about every other time (the compiler turns plain minima and
  // choices into branches here).
  void add(std::int32_t x) {
    const std::uint32_t drop_largest = 0u - static_cast<std::uint32_t>(high);
    const std::int32_t t0 = choose(drop_largest, s0, s1);
    const std::int32_t t1 = choose(drop_largest, s1, s2);
    const std::int32_t t2 = choose(drop_largest, s2, s3);
    const std::int32_t t3 = choose(drop_largest, s3, s4);
    // Dropping the largest goes on while values come below the median; one at it or above
    // turns to dropping the smallest, which goes on while values come above it.
    high = (x < s2) | (!high & (x == s2));
    s0 = lower(t0, x);
    s1 = higher(t0, lower(t1, x));
    s2 = higher(t1, lower(t2, x));
    s3 = higher(t2, lower(t3, x));
    s4 = higher(t3, x);
  }

 private:
  // `mask` all ones: a, all zeros: b.
  static std::int32_t choose(std::uint32_t mask, std::int32_t a, std::int32_t b) {
    const auto ua = static_cast<std::uint32_t>(a);
    const auto ub = static_cast<std::uint32_t>(b);
    return static_cast<std::int32_t>(ub ^ ((ua ^ ub) & mask));
  }
  static std::int32_t lower(std::int32_t a, std::int32_t b) {
    return choose(0u - static_cast<std::uint32_t>(a < b), a, b);
  }
  static std::int32_t higher(std::int32_t a, std::int32_t b) {
    return choose(0u - static_cast<std::uint32_t>(a > b), a, b);
  }

  std::int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  bool high = true;
};
