#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stream/temporary_file.hpp"

class LASraster;

// One memory budget for the tile buffers of many rasters (all counter and occupancy
// rasters of a file's grid), so that the budget holds for the file whatever the number of
// layers. Rasters that hold buffers are kept in order of last use: a raster that needs a
// buffer beyond the budget takes one from the least recently used other raster, whose tile
// goes to its temporary file first (see LASraster::release_one_buffer).
//
// The tiles that go to disk share one temporary file per budget, named by
// "<base><process id>.<number>.tmp" (thousands of layers must not hold thousands of open
// files); the budget deletes it when destroyed (see TemporaryFile).
//
// The budget borrows the rasters; a raster leaves it when destroyed, so the budget must
// outlive every raster given it. Not thread-safe.
class TileBudget {
 public:
  // `temp_name_base` as for LASraster::set_temp_name_base (empty: "taemp").
  explicit TileBudget(std::int64_t limit, std::string temp_name_base = {})
      : limit_(limit), temp_name_base_(std::move(temp_name_base)) {}
  TileBudget(const TileBudget&) = delete;
  TileBudget& operator=(const TileBudget&) = delete;

  std::int64_t limit() const { return limit_; }
  std::int64_t used() const { return used_; }
  bool fits(std::int64_t bytes) const { return used_ + bytes <= limit_; }

  // Set once a tile could not be written to (or read from) its temporary file: the file's
  // counts are incomplete, and later failures of the same cause are not reported again.
  bool spill_failed() const { return spill_failed_; }
  void note_spill_failure() { spill_failed_ = true; }

  // The sparse tables of the rasters (see LASraster::set_sparse) stay in memory: when they
  // need `bytes` more than the limit leaves after every tile buffer has gone to the
  // temporary file, they take them anyway, and the first time prints
  // "WARNING: the grid's scattered cells need %lld MB, more than the memory limit of %lld
  // MB. they stay in memory.\n" with the megabytes then in use and the limit.
  void note_overrun(std::int64_t bytes);

 private:
  friend class LASraster;
  void take(std::int64_t bytes) { used_ += bytes; }
  void give(std::int64_t bytes) { used_ -= bytes; }
  // Moves the raster to the most recently used end (inserting it when absent).
  void touch(LASraster& raster);
  void forget(LASraster& raster);
  // The least recently used raster other than `self` that holds a buffer; null if none.
  LASraster* least_recent_other(const LASraster& self) const;
  // A place of `bytes` in the spill file, as a slot number below 2^30; false when none is
  // left. Writing and reading a slot print their "ERROR: " line and return false on failure.
  bool new_slot(std::uint32_t bytes, std::uint32_t& slot);
  bool write_slot(std::uint32_t slot, const std::uint8_t* data, std::uint32_t bytes);
  bool read_slot(std::uint32_t slot, std::uint8_t* data, std::uint32_t bytes);
  bool open_file();

  std::int64_t limit_;
  std::int64_t used_ = 0;
  bool spill_failed_ = false;
  bool overrun_reported_ = false;
  LASraster* oldest_ = nullptr;
  LASraster* newest_ = nullptr;
  std::string temp_name_base_;
  TemporaryFile file_;
  std::vector<std::int64_t> slot_offsets_;
  std::int64_t file_end_ = 0;
};
