#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "filter/las_criteria_basic.hpp"
#include "filter/las_random.hpp"

// Criteria that remember earlier points (thinning, sampling, scan direction changes) and
// the boolean combinations. `reset` makes each start afresh, so that every pass over the
// same input drops the same points.

// Passes points n, 2n, 3n, ... of each pass (keep) or drops exactly those (drop).
template <LAScriterionName kName, bool kKeep>
class LAScriterionEveryNth final : public LAScriterion {
 public:
  explicit LAScriterionEveryNth(std::uint32_t nth) : nth_(nth) {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    las_criteria::CommandText text(buffer, size);
    text.add("-%s %u ", kName.text, nth_);
    return text.used();
  }
  bool filter(const LASpoint&) override {
    const bool nth = counter_ == nth_;
    counter_ = nth ? 1 : counter_ + 1;
    return kKeep ? !nth : nth;
  }
  // Counting restarts: otherwise a second pass would select other points than the first.
  void reset() override { counter_ = 1; }

 private:
  std::uint32_t nth_;
  std::uint32_t counter_ = 1;
};

using LAScriterionKeepEveryNth = LAScriterionEveryNth<"keep_every_nth", true>;
using LAScriterionDropEveryNth = LAScriterionEveryNth<"drop_every_nth", false>;

// Keeps about `fraction` of the points: for each point the generator is seeded with the
// running seed, draws one value v that becomes the running seed, and the point is dropped
// when v / 32767 > fraction. `reset` restores the initial seed.
class LAScriterionKeepRandomFraction final : public LAScriterion {
 public:
  LAScriterionKeepRandomFraction(float fraction, std::uint32_t seed)
      : fraction_(fraction), initial_seed_(seed), seed_(seed) {}
  const char* name() const override { return "keep_random_fraction"; }
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint&) override {
    std::uint32_t state = seed_;
    seed_ = LASrandom15::next(state);
    return static_cast<float>(seed_) / static_cast<float>(LASrandom15::kMax) > fraction_;
  }
  void reset() override { seed_ = initial_seed_; }

 private:
  float fraction_;
  std::uint32_t initial_seed_;
  std::uint32_t seed_;
};

// Keeps a point whose scan direction flag differs from the previous point's; the first
// point of a pass has no predecessor and is dropped.
class LAScriterionKeepScanDirectionChange final : public LAScriterion {
 public:
  const char* name() const override { return "keep_scan_direction_change"; }
  int write_command(char* buffer, std::size_t size) const override {
    return las_criteria::write_name(buffer, size, name());
  }
  std::uint32_t get_selective_decoding() const override { return kLayerFlags; }
  bool filter(const LASpoint& point) override {
    const int flag = point.scan_direction_flag;
    if (flag == previous_) return true;
    const bool first = previous_ == -1;
    previous_ = flag;
    return first;
  }
  void reset() override { previous_ = -1; }

 private:
  int previous_ = -1;
};

// Keeps the first point of every square cell of side `spacing` in x and y. Rows are counted
// from the row of the first point; rows at or above it and rows below it live in two
// tables, each row a bit per column on either side of the column of the row's first point,
// so memory grows with the cells actually covered.
class LAScriterionThinWithGrid final : public LAScriterion {
 public:
  explicit LAScriterionThinWithGrid(float spacing) : spacing_(spacing) {}
  const char* name() const override { return "thin_with_grid"; }
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint& point) override;
  void reset() override;

 private:
  struct Row {
    bool used = false;
    std::int64_t anchor = 0;           // column of the row's first point
    std::vector<std::uint32_t> right;  // columns anchor, anchor + 1, ...
    std::vector<std::uint32_t> left;   // columns anchor - 1, anchor - 2, ...
  };
  // Sets the bit of `offset` in `bits`; false when it was already set.
  static bool mark(std::vector<std::uint32_t>& bits, std::uint64_t offset);

  float spacing_;
  bool started_ = false;
  std::int64_t base_row_ = 0;
  std::vector<Row> rows_up_;    // rows base, base + 1, ...
  std::vector<Row> rows_down_;  // rows base - 1, base - 2, ...
};

// Time thinning: the bucket of a point is floor(gps_time / spacing). The points form keeps
// the first point of each bucket; the pulses form keeps every point with the GPS time of
// the bucket's first point (all returns of its first pulse).
class LAScriterionThinPointsWithTime final : public LAScriterion {
 public:
  explicit LAScriterionThinPointsWithTime(float spacing) : spacing_(spacing) {}
  const char* name() const override { return "thin_points_with_time"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerGpsTime; }
  bool filter(const LASpoint& point) override;
  void reset() override { buckets_.clear(); }

 private:
  double spacing_;
  std::set<std::int64_t> buckets_;
};

class LAScriterionThinPulsesWithTime final : public LAScriterion {
 public:
  explicit LAScriterionThinPulsesWithTime(float spacing) : spacing_(spacing) {}
  const char* name() const override { return "thin_pulses_with_time"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerGpsTime; }
  bool filter(const LASpoint& point) override;
  void reset() override { first_times_.clear(); }

 private:
  double spacing_;
  std::map<std::int64_t, double> first_times_;
};

// Boolean combinations of two criteria A (given first) and B, read as what a user keeps:
// "A B -filter_and" keeps the points both keep (drops when either drops; B is asked only
// when A keeps), "A B -filter_or" keeps the points either keeps (drops when both drop; B
// is asked only when A drops). Both own their operands.
class LAScriterionAnd final : public LAScriterion {
 public:
  LAScriterionAnd(std::unique_ptr<LAScriterion> one, std::unique_ptr<LAScriterion> two)
      : one_(std::move(one)), two_(std::move(two)) {}
  const char* name() const override { return "filter_and"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override {
    return one_->get_selective_decoding() | two_->get_selective_decoding();
  }
  bool filter(const LASpoint& point) override { return one_->filter(point) || two_->filter(point); }
  void reset() override {
    one_->reset();
    two_->reset();
  }

 private:
  std::unique_ptr<LAScriterion> one_, two_;
};

class LAScriterionOr final : public LAScriterion {
 public:
  LAScriterionOr(std::unique_ptr<LAScriterion> one, std::unique_ptr<LAScriterion> two)
      : one_(std::move(one)), two_(std::move(two)) {}
  const char* name() const override { return "filter_or"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override {
    return one_->get_selective_decoding() | two_->get_selective_decoding();
  }
  bool filter(const LASpoint& point) override { return one_->filter(point) && two_->filter(point); }
  void reset() override {
    one_->reset();
    two_->reset();
  }

 private:
  std::unique_ptr<LAScriterion> one_, two_;
};
