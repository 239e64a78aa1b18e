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

 private:
  std::int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  bool high = true;
};
