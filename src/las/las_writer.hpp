#pragma once

#include <cstdint>

#include "model/las_header.hpp"
#include "model/las_point.hpp"
#include "model/las_scaling.hpp"

// Running summary of the points a writer received: how many, how many per return number,
// and their bounding box in stored integers.
class LAStally {
 public:
  std::int64_t number_of_point_records = 0;
  std::int64_t number_of_points_by_return[16] = {};  // by return number 0-15
  std::int32_t max_X = 0;
  std::int32_t min_X = 0;
  std::int32_t max_Y = 0;
  std::int32_t min_Y = 0;
  std::int32_t max_Z = 0;
  std::int32_t min_Z = 0;
  bool first = true;  // no point added yet

  // Counts the point under its return number (the 4-bit extended one for points of types
  // 6-10, the 3-bit legacy one otherwise) and widens the box.
  void add(const LASpoint& point) {
    number_of_point_records++;
    number_of_points_by_return[point.get_inventory_return_number()]++;
    if (first) {
      min_X = max_X = point.X;
      min_Y = max_Y = point.Y;
      min_Z = max_Z = point.Z;
      first = false;
      return;
    }
    if (point.X < min_X)
      min_X = point.X;
    else if (point.X > max_X)
      max_X = point.X;
    if (point.Y < min_Y)
      min_Y = point.Y;
    else if (point.Y > max_Y)
      max_Y = point.Y;
    if (point.Z < min_Z)
      min_Z = point.Z;
    else if (point.Z > max_Z)
      max_Z = point.Z;
  }

  // Puts the counts and the bounds (integer x scale + offset of the header) into `header`.
  // Legacy counts take the values that fit 32 bits (0 otherwise, and always 0 for point
  // types 6-10), the LAS 1.4 counts the full values. False, leaving the header unchanged, when a
  // count needs 32 bits or more in a header below version 1.4.
  bool copy_to(LASheader& header) const;
};

// The abstract point sink. A writer is opened with a header, takes points one at a time and
// can, after the points, rewrite the point counts and bounding box in what it wrote.
//
// Every failed operation prints one "ERROR: " line and returns false (0 bytes from
// close_writer); `failed()` then stays true, so a caller that checks only at the end still
// learns that the output is incomplete.
class LASwriter {
 public:
  LASscaling scaling;             // copied from the header at open
  std::int64_t points_total = 0;  // points announced
  std::int64_t points_done = 0;   // points written
  LAStally inventory;

  LASwriter() = default;
  LASwriter(const LASwriter&) = delete;
  LASwriter& operator=(const LASwriter&) = delete;
  virtual ~LASwriter() = default;

  virtual bool write_point(const LASpoint& point) = 0;
  // Adds the point to `inventory`; the writers' callers decide which points count.
  virtual void count_point(const LASpoint& point) { inventory.add(point); }
  // Ends the current compressed chunk now (variable chunks only).
  virtual bool chunk() = 0;
  // Rewrites counts and bounds in the written header: from `inventory` or from `header`.
  virtual bool update_header(const LASheader* header, bool from_tally = false,
                             bool refresh_attributes = false) = 0;
  // Ends the output and returns the number of bytes written; 0 when it failed. With
  // `fix_count` the header's point count is patched when it differs from the points written.
  virtual std::int64_t close_writer(bool fix_count = true) = 0;

  // True once any write, flush or close of this writer failed.
  bool failed() const { return failed_; }

 protected:
  bool failed_ = false;
};
