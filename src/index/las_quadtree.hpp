#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "index/index_layout.hpp"

class ByteStreamIn;
class ByteStreamOut;

// The quadtree of a spatial index: the xy extent of the root cell, the depth, and which
// cells are subdivided. Cells are numbered level by level (see index_layout.hpp); the
// children of local cell i of level l are 4i + k of level l + 1, k = 0 (low x, low y),
// 1 (high x, low y), 2 (low x, high y), 3 (high x, high y). Cell bounds are halved in
// single precision, and a point on a boundary belongs to the higher cell, so that a point
// inside an area always lies in a cell the area's query visits.
//
// A cell is a leaf unless some registered cell lies below it. The subdivided cells are kept
// as a set of cell numbers rather than a bit set over all numbers: a single deep cell number
// in a hostile index would otherwise cost a bit set of hundreds of megabytes.
class LASquadtree {
 public:
  std::uint32_t levels = 0;
  float min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  std::uint32_t level_start[kLevelStartCount];

  LASquadtree();

  // Reads the quadtree part of the layout, in either layout. False after the failed
  // field's "ERROR (LASquadtree): " line (also for a tree deeper than 15 levels).
  bool read(ByteStreamIn& stream);
  // Writes the current layout. False when the stream refuses a byte.
  bool write(ByteStreamOut& stream) const;

  // One past the highest cell number a tree of `levels` levels has.
  std::uint32_t cell_limit() const { return level_start[levels + 1]; }
  // The level of a cell number below cell_limit().
  std::uint32_t level_of(std::uint32_t cell) const;
  // Marks `cell` (below cell_limit()) as a leaf and every cell above it as subdivided.
  void set_leaf(std::uint32_t cell);
  bool is_split(std::uint32_t cell) const { return split_.count(cell) != 0; }
  bool has_cells() const { return has_cells_; }

  // Queries: the leaf cells that the area may reach, in result(). Tile arguments are single
  // precision; the tile's far corner is computed in single precision too.
  void intersect_rectangle(double min_x, double min_y, double max_x, double max_y);
  void intersect_tile(float ll_x, float ll_y, float size);
  void intersect_circle(double center_x, double center_y, double radius);
  const std::vector<std::uint32_t>& result() const { return result_; }

  // For writers: the local number, at `level`, of the cell that holds the point (x, y).
  std::uint32_t local_cell_at(double x, double y, std::uint32_t level) const;
  // The number of the leaf cell that holds the point (x, y), by the rule the queries use:
  // a point on a split line lies in the higher half.
  std::uint32_t leaf_at(double x, double y) const;
  // The bounds of cell `cell` (below cell_limit()), halved from the root as the queries do.
  void cell_bounds(std::uint32_t cell, float& cell_min_x, float& cell_min_y, float& cell_max_x,
                   float& cell_max_y) const;

 private:
  struct Query {
    double min_x, min_y, max_x, max_y;
    bool circle;
    double center_x, center_y, radius;
  };
  void intersect(const Query& query);
  void descend(const Query& query, std::uint32_t level, std::uint32_t local, float cell_min_x,
               float cell_min_y, float cell_max_x, float cell_max_y);
  static bool circle_reaches(const Query& query, float cell_min_x, float cell_min_y,
                             float cell_max_x, float cell_max_y);

  std::unordered_set<std::uint32_t> split_;
  bool has_cells_ = false;
  std::vector<std::uint32_t> result_;
};
