#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "index/las_interval.hpp"
#include "index/las_quadtree.hpp"
#include "las/las_reader_hooks.hpp"

class ByteStreamIn;
class ByteStreamOut;

// A spatial index of one point file: a quadtree over the file's xy extent and, for every
// leaf cell, the runs of point numbers that hold its points. A query turns an area into the
// merged runs of the cells it reaches; `advance` then walks the reader from run to run.
//
// The reader the index is attached to owns it. Loading prints the failed field's message
// (and, for a file, "ERROR (LASindex): cannot read '<name>'") and returns false; the index
// must then not be used. An index that claims runs beyond `points_total` (when known), cells
// beyond its depth or runs out of order is refused in the same way: the file is then read
// without it.
class LASindex final : public LASindexHook {
 public:
  static constexpr std::int64_t kUnknownPointCount = LASinterval::kUnknownPointCount;

  // `points_total`: the points of the file the index belongs to, or kUnknownPointCount.
  explicit LASindex(std::int64_t points_total = kUnknownPointCount);

  // The index file of a point file: "a.las" -> "a.lax", "b.pkz" -> "b.pkx", "A.LAS" ->
  // "A.LAX", any other name has its last three characters replaced by "lax".
  static std::string file_name_for(std::string_view point_file_name);

  // Reads the index file of `point_file_name`. False without a message when there is no such
  // file; false after the messages above when it does not read.
  bool load(const char* point_file_name);
  // Reads the layout from a stream positioned at "LASX".
  bool load(ByteStreamIn& stream);
  // Writes the layout. False when the stream refuses a byte.
  bool write(ByteStreamOut& stream) const;

  bool query_rectangle(double min_x, double min_y, double max_x, double max_y) override;
  bool query_tile(float ll_x, float ll_y, float size) override;
  bool query_circle(double center_x, double center_y, double radius) override;
  // Seeks the reader to the next merged run when the current one is used up; a reader that
  // cannot seek there reads forward to it. False once every run is used up.
  bool advance(LASreader& reader) override;

  // Of the last query: cells it reached, points those cells hold, points the runs cover.
  std::uint32_t cells() const { return cells_; }
  std::uint64_t points_in_cells() const { return interval_.merged_points_in_cells(); }
  std::uint64_t points_in_runs() const { return interval_.merged_points_in_runs(); }

  LASquadtree& quadtree() { return quadtree_; }
  const LASquadtree& quadtree() const { return quadtree_; }
  LASinterval& interval() { return interval_; }
  const LASinterval& interval() const { return interval_; }

 private:
  bool merge_result();

  std::int64_t points_total_;
  LASquadtree quadtree_;
  LASinterval interval_;
  std::uint32_t cells_ = 0;
  std::uint32_t run_start_ = 0;
  std::uint32_t run_end_ = 0;
  bool in_run_ = false;
};

// Lets every LAS reader opened from now on take the index stored inside a compressed file
// (the suite's extended record 30). Call once before opening readers.
void install_embedded_index_loader();
