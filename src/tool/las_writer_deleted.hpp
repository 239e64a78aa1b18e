#pragma once

#include <cstdint>
#include <memory>

#include "las/las_writer.hpp"

// The writer of remove mode: passes every point on to the writer it wraps except those whose
// `deletion_mark` is set, and keeps its own tally of the points it passed on, so that the
// output header can be made to describe exactly the points written.
//
// Owns the inner writer. `failed()` turns true when the inner writer refuses a point, its
// header update or its close; a dropped point is no failure (write_point returns false for
// it, as the point was not written).
class LASwriterDeleted final : public LASwriter {
 public:
  LASwriterDeleted() = default;
  explicit LASwriterDeleted(std::unique_ptr<LASwriter> inner) { set_writer(std::move(inner)); }

  // Takes the writer to wrap; true when it is not null.
  bool set_writer(std::unique_ptr<LASwriter> inner);
  LASwriter* writer() const { return inner_.get(); }

  bool write_point(const LASpoint& point) override {
    if (point.deletion_mark) return false;
    points_done++;
    if (inner_->write_point(point)) return true;
    failed_ = true;
    return false;
  }
  void count_point(const LASpoint& point) override {
    if (!point.deletion_mark) inventory.add(point);
  }
  // A record given here is kept: the caller leaves out the deleted ones.
  bool takes_raw_records(const LASpoint& point) const override {
    return inner_->takes_raw_records(point);
  }
  bool write_raw_record(const std::uint8_t* record) override {
    points_done++;
    if (inner_->write_raw_record(record)) return true;
    failed_ = true;
    return false;
  }
  bool chunk() override;
  // With `from_tally` the inner writer first receives this wrapper's tally.
  bool update_header(const LASheader* header, bool from_tally = false,
                     bool refresh_attributes = false) override;
  // Closes the inner writer and takes its point total as its own.
  std::int64_t close_writer(bool fix_count = true) override;

 private:
  std::unique_ptr<LASwriter> inner_;
};
