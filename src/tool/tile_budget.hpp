#pragma once

#include <cstdint>

class LASraster;

// One memory budget for the tile buffers of many rasters (all counter and occupancy
// rasters of a file's grid), so that the budget holds for the file whatever the number of
// layers. Rasters that hold buffers are kept in order of last use: a raster that needs a
// buffer beyond the budget takes one from the least recently used other raster, whose tile
// goes to its temporary file first (see LASraster::release_one_buffer).
//
// The budget borrows the rasters; a raster leaves it when destroyed, so the budget must
// outlive every raster given it. Not thread-safe.
class TileBudget {
 public:
  explicit TileBudget(std::int64_t limit) : limit_(limit) {}
  TileBudget(const TileBudget&) = delete;
  TileBudget& operator=(const TileBudget&) = delete;

  std::int64_t limit() const { return limit_; }
  std::int64_t used() const { return used_; }
  bool fits(std::uint32_t bytes) const { return used_ + static_cast<std::int64_t>(bytes) <= limit_; }

  // Set once a tile could not be written to (or read from) its temporary file: the file's
  // counts are incomplete, and later failures of the same cause are not reported again.
  bool spill_failed() const { return spill_failed_; }
  void note_spill_failure() { spill_failed_ = true; }

 private:
  friend class LASraster;
  void take(std::int64_t bytes) { used_ += bytes; }
  void give(std::int64_t bytes) { used_ -= bytes; }
  // Moves the raster to the most recently used end (inserting it when absent).
  void touch(LASraster& raster);
  void forget(LASraster& raster);
  // The least recently used raster other than `self` that holds a buffer; null if none.
  LASraster* least_recent_other(const LASraster& self) const;

  std::int64_t limit_;
  std::int64_t used_ = 0;
  bool spill_failed_ = false;
  LASraster* oldest_ = nullptr;
  LASraster* newest_ = nullptr;
};
