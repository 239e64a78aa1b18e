#include "index/las_interval.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace {

// A field that does not read whole keeps its value.
template <typename T>
bool read_field(ByteStreamIn& stream, T& value) {
  try {
    T read;
    stream.read_bytes(&read, sizeof(T));
    value = read;
    return true;
  } catch (const ByteStreamEndOfData&) {
    return false;
  }
}

template <typename T>
bool write_field(ByteStreamOut& stream, T value) {
  return stream.write_bytes(&value, sizeof(T));
}

}  // namespace

bool LASintervalCell::holds(std::uint32_t number) const {
  // The last run that starts at or before the point.
  const auto after =
      std::upper_bound(runs.begin(), runs.end(), number,
                       [](std::uint32_t n, const LASintervalRun& run) { return n < run.start; });
  return after != runs.begin() && number <= (after - 1)->end;
}

bool LASinterval::read(ByteStreamIn& stream, std::uint32_t cell_limit) {
  cells_.clear();
  clear_merge();
  merged_.clear();
  next_ = 0;
  char signature[kSignatureSize + 1] = {};
  try {
    stream.read_bytes(signature, kSignatureSize);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR (LASinterval): reading signature\n");
    return false;
  }
  if (kIntervalSignature != std::string_view(signature, kSignatureSize)) {
    std::fprintf(stderr, "ERROR (LASinterval): wrong signature %4s instead of 'LASV'\n", signature);
    return false;
  }
  std::uint32_t version = 0;
  if (!read_field(stream, version)) {
    std::fprintf(stderr, "ERROR (LASinterval): reading version\n");
    return false;
  }
  std::uint32_t number_of_cells = 0;
  if (!read_field(stream, number_of_cells)) {
    std::fprintf(stderr, "ERROR (LASinterval): reading number of cells\n");
    return false;
  }
  // The counts are not believed: records grow only as their bytes arrive.
  for (std::uint32_t c = 0; c < number_of_cells; c++) {
    std::int32_t cell = 0;
    if (!read_field(stream, cell)) {
      std::fprintf(stderr, "ERROR (LASinterval): reading cell index\n");
      return false;
    }
    if (cell < 0 || static_cast<std::uint32_t>(cell) >= cell_limit) {
      std::fprintf(stderr, "ERROR (LASinterval): cell index %d lies outside the quadtree\n", cell);
      return false;
    }
    std::uint32_t number_of_runs = 0;
    if (!read_field(stream, number_of_runs)) {
      std::fprintf(stderr, "ERROR (LASinterval): reading number of intervals in cell\n");
      return false;
    }
    LASintervalCell record;
    if (!read_field(stream, record.points_in_cells)) {
      std::fprintf(stderr, "ERROR (LASinterval): reading number of points in cell\n");
      return false;
    }
    for (std::uint32_t r = 0; r < number_of_runs; r++) {
      LASintervalRun run;
      if (!read_field(stream, run.start)) {
        std::fprintf(stderr, "ERROR (LASinterval): reading start %d of interval\n",
                     static_cast<int>(run.start));
        return false;
      }
      if (!read_field(stream, run.end)) {
        std::fprintf(stderr, "ERROR (LASinterval): reading end %d of interval\n",
                     static_cast<int>(run.end));
        return false;
      }
      // Reversed or overlapping runs would deliver points twice or out of order.
      if (run.end < run.start || (!record.runs.empty() && run.start <= record.runs.back().end)) {
        std::fprintf(stderr, "ERROR (LASinterval): interval %u to %u of cell %d is out of order\n",
                     run.start, run.end, cell);
        return false;
      }
      record.points_in_runs += std::uint64_t{run.end} - run.start + 1;
      record.runs.push_back(run);
    }
    if (record.points_in_cells > record.points_in_runs) {
      std::fprintf(stderr,
                   "ERROR (LASinterval): cell %d claims %u points but its intervals hold %" PRIu64
                   "\n",
                   cell, record.points_in_cells, record.points_in_runs);
      return false;
    }
    // A cell number seen before keeps its first record.
    cells_.emplace(cell, std::move(record));
  }
  return true;
}

bool LASinterval::write(ByteStreamOut& stream) const {
  bool ok = stream.write_bytes(kIntervalSignature.data(), kSignatureSize) &&
            write_field(stream, kIntervalVersion) &&
            write_field(stream, static_cast<std::uint32_t>(cells_.size()));
  for (const auto& [cell, record] : cells_) {
    ok = ok && write_field(stream, cell) &&
         write_field(stream, static_cast<std::uint32_t>(record.runs.size())) &&
         write_field(stream, record.points_in_cells);
    for (const LASintervalRun& run : record.runs)
      ok = ok && write_field(stream, run.start) && write_field(stream, run.end);
  }
  return ok;
}

void LASinterval::add_to_merge(std::int32_t cell) {
  if (const LASintervalCell* record = find(cell)) {
    merge_set_.push_back(record);
    merged_numbers_.push_back(cell);
  }
}

bool LASinterval::merge() {
  merged_.clear();
  next_ = 0;
  merged_points_in_cells_ = 0;
  merged_points_in_runs_ = 0;
  if (merge_set_.empty()) return false;
  if (merge_set_.size() == 1) {
    const LASintervalCell& cell = *merge_set_.front();
    merged_ = cell.runs;
    merged_points_in_cells_ = cell.points_in_cells;
    merged_points_in_runs_ = cell.points_in_runs;
  } else {
    gathered_.clear();
    for (const LASintervalCell* cell : merge_set_) {
      merged_points_in_cells_ += cell->points_in_cells;
      gathered_.insert(gathered_.end(), cell->runs.begin(), cell->runs.end());
    }
    std::sort(gathered_.begin(), gathered_.end(),
              [](const LASintervalRun& a, const LASintervalRun& b) { return a.start < b.start; });
    for (const LASintervalRun& run : gathered_) {
      // The gap in 64 bits: a 32-bit difference wraps for runs more than 2^31 points apart.
      if (merged_.empty() ||
          static_cast<std::int64_t>(run.start) - merged_.back().end > threshold_) {
        merged_.push_back(run);
        merged_points_in_runs_ += std::uint64_t{run.end} - run.start + 1;
      } else if (run.end > merged_.back().end) {
        merged_points_in_runs_ += run.end - merged_.back().end;
        merged_.back().end = run.end;
      }
    }
  }
  merge_set_.clear();
  return !merged_.empty();
}

bool LASinterval::next_run(LASintervalRun& run) {
  if (next_ >= merged_.size()) return false;
  run = merged_[next_++];
  return true;
}
