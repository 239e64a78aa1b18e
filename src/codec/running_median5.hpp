#pragma once

#include <cstdint>

// An approximate median of a stream of coordinate differences, kept as five sorted values.
// Each new value evicts the extreme at the end the previous value did not evict: `high`
// says whether the next insertion drops the largest (true) or the smallest value. The
// codecs predict a difference by `get()` and must update exactly as below in encoder and
// decoder, including the ties.
class RunningMedian5 {
 public:
  void init() {
    s0 = s1 = s2 = s3 = s4 = 0;
    high = true;
  }
  std::int32_t get() const { return s2; }
  void add(std::int32_t x) {
    if (high) {
      if (x < s2) {
        s4 = s3;
        s3 = s2;
        if (x < s0) {
          s2 = s1;
          s1 = s0;
          s0 = x;
        } else if (x < s1) {
          s2 = s1;
          s1 = x;
        } else {
          s2 = x;
        }
      } else {
        if (x < s3) {
          s4 = s3;
          s3 = x;
        } else {
          s4 = x;
        }
        high = false;
      }
    } else {
      if (x > s2) {
        s0 = s1;
        s1 = s2;
        if (x > s4) {
          s2 = s3;
          s3 = s4;
          s4 = x;
        } else if (x > s3) {
          s2 = s3;
          s3 = x;
        } else {
          s2 = x;
        }
      } else {
        if (x > s1) {
          s0 = s1;
          s1 = x;
        } else {
          s0 = x;
        }
        high = true;
      }
    }
  }

  std::int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  bool high = true;
};
