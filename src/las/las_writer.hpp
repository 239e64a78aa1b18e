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
    add(point.X, point.Y, point.Z, point.get_inventory_return_number());
  }
  // The same from the stored values; `return_number` below 16.
  void add(std::int32_t X, std::int32_t Y, std::int32_t Z, unsigned return_number) {
    number_of_point_records++;
    number_of_points_by_return[return_number]++;
    if (first) {
      min_X = max_X = X;
      min_Y = max_Y = Y;
      min_Z = max_Z = Z;
      first = false;
      return;
    }
    if (X < min_X)
      min_X = X;
    else if (X > max_X)
      max_X = X;
    if (Y < min_Y)
      min_Y = Y;
    else if (Y > max_Y)
      max_Y = Y;
    if (Z < min_Z)
      min_Z = Z;
    else if (Z > max_Z)
      max_Z = Z;
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
  // For a caller that copies stored records unchanged (or with a field patched in place):
  // true when records laid out like `point.items` (`point.record_size` bytes) can go to
  // write_raw_record and come out exactly as write_point would store such a point. The
  // caller then counts the points itself (`inventory.add`), as count_point would.
  virtual bool takes_raw_records(const LASpoint& point) const {
    (void)point;
    return false;
  }
  // Writes one stored record as it is; false as write_point.
  virtual bool write_raw_record(const std::uint8_t* record) {
    (void)record;
    return false;
  }
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
