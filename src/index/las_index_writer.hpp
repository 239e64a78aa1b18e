#pragma once

#include <cstdint>
#include <memory>

#include "index/las_index.hpp"

// Making spatial indexes, for the companion program isocull_index and for tests; the noise
// tool only reads them.

struct LASindexBuildOptions {
  // A cell is split while it holds more points than this (and is above `max_levels`).
  std::uint32_t leaf_points = 4000;
  // Depth of the deepest leaves; at most kMaxBuildLevels.
  std::uint32_t max_levels = 10;
};

// The depth the builder supports: its counting grid has 4^levels cells.
inline constexpr std::uint32_t kMaxBuildLevels = 12;

// Reads the points of the LAS or PKZ file three times (extent, cell counts, runs) and builds
// its index: a square root cell around the points, split while a cell holds more than
// `leaf_points`, and for every leaf the runs of consecutive point numbers in it. Null after
// an "ERROR: " line (a file that does not open or read whole, more than 2^32 points).
std::unique_ptr<LASindex> build_index(const char* file_name, const LASindexBuildOptions& options);

// Writes `index` as the index file of `point_file_name` (LASindex::file_name_for). False
// after an "ERROR: " line; no partial file is left behind.
bool write_index_file(const LASindex& index, const char* point_file_name);

// Stores `index` inside the compressed file as the suite's record 30 after everything else,
// replacing an index stored there before, and points the codec record at it. False after
// an "ERROR: " line (a file without a codec record, other records of that kind present);
// the file is then unchanged.
bool append_index_record(const LASindex& index, const char* file_name);
