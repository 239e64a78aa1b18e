#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "index/index_layout.hpp"

class ByteStreamIn;
class ByteStreamOut;

// One run of point numbers, both ends inclusive.
struct LASintervalRun {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// What an index knows of one cell: how many points it holds and the runs of point numbers
// that hold them (a run may also cover points of other cells; readers test every point).
struct LASintervalCell {
  std::uint32_t points_in_cells = 0;  // as the file says
  std::uint64_t points_in_runs = 0;   // sum of end - start + 1 over `runs`
  std::vector<LASintervalRun> runs;   // ascending, not overlapping

  // Whether one of the runs holds point `number`.
  bool holds(std::uint32_t number) const;
};

// The runs of every cell of an index, and the merge of the cells one query selects into a
// single ascending list of runs to read.
class LASinterval {
 public:
  explicit LASinterval(std::int32_t threshold = kMergeThreshold) : threshold_(threshold) {}

  // Reads the interval part of the layout. Cell numbers must lie below `cell_limit`. Runs of
  // a cell must ascend without overlapping, and a cell may not claim more points than its
  // runs cover. False after one "ERROR (LASinterval): " line naming the field that failed or
  // the count that lies; nothing is allocated beyond what was read. Whether the runs fit the
  // point file is for LASindex::check to tell.
  bool read(ByteStreamIn& stream, std::uint32_t cell_limit);
  // Writes the cells in ascending order. False when the stream refuses a byte.
  bool write(ByteStreamOut& stream) const;

  // For writers: the cell's record, replacing an earlier one.
  void set_cell(std::int32_t cell, LASintervalCell record) { cells_[cell] = std::move(record); }
  const std::map<std::int32_t, LASintervalCell>& cells() const { return cells_; }
  // The record of `cell`, null when the index has none.
  const LASintervalCell* find(std::int32_t cell) const {
    const auto found = cells_.find(cell);
    return found == cells_.end() ? nullptr : &found->second;
  }

  // A query's merge: clear, add each selected cell (unknown cells are skipped), merge.
  // merge() is false when no known cell was added; the merged runs are then empty.
  void clear_merge() {
    merge_set_.clear();
    merged_numbers_.clear();
  }
  void add_to_merge(std::int32_t cell);
  bool merge();
  // The numbers of the cells the last merge took.
  const std::vector<std::int32_t>& merged_cells() const { return merged_numbers_; }
  // The merged runs, handed out once each in ascending order; rewind() hands them out anew.
  bool next_run(LASintervalRun& run);
  void rewind() { next_ = 0; }
  const std::vector<LASintervalRun>& merged_runs() const { return merged_; }
  std::uint64_t merged_points_in_cells() const { return merged_points_in_cells_; }
  std::uint64_t merged_points_in_runs() const { return merged_points_in_runs_; }

 private:
  std::int32_t threshold_;
  std::map<std::int32_t, LASintervalCell> cells_;
  std::vector<const LASintervalCell*> merge_set_;  // emptied by merge()
  std::vector<std::int32_t> merged_numbers_;
  std::vector<LASintervalRun> merged_;
  std::vector<LASintervalRun> gathered_;  // reused by merge()
  std::size_t next_ = 0;
  std::uint64_t merged_points_in_cells_ = 0;
  std::uint64_t merged_points_in_runs_ = 0;
};
