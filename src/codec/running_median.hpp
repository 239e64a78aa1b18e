#pragma once

#include <algorithm>
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
  // Drops the largest value (`high`) or the smallest and inserts x in order. Selects and
  // minima instead of the comparisons of an insertion: the differences added are noise, and
  // a processor guesses such branches wrong about every other time.
  void add(std::int32_t x) {
    const std::int32_t t0 = high ? s0 : s1;
    const std::int32_t t1 = high ? s1 : s2;
    const std::int32_t t2 = high ? s2 : s3;
    const std::int32_t t3 = high ? s3 : s4;
    // Dropping the largest goes on while values come below the median; one at it or above
    // turns to dropping the smallest, which goes on while values come above it.
    high = x < s2 || (!high && x == s2);
    s0 = std::min(t0, x);
    s1 = std::max(t0, std::min(t1, x));
    s2 = std::max(t1, std::min(t2, x));
    s3 = std::max(t2, std::min(t3, x));
    s4 = std::max(t3, x);
  }

 private:
  std::int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  bool high = true;
};
