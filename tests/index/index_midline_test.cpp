// Points that lie exactly on the lines where the index splits its cells belong to the cell
// above the line, as the areas do: an area whose lower edge is such a line must still see
// them when it reads through the index.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "index_test_support.hpp"
#include "model/header_layout.hpp"
#include "model/point_layout.hpp"

namespace {

using index_test::Area;

// A 1024 m square sampled every 16 m (every point of the grid lies on the split lines of
// levels 1 to 6 of a root cell of [0, 1024]), with a second point 1 cm inside every
// grid point so that cells have points on both sides of their lines. Quarter-metre
// integers keep every coordinate exact in float and double.
std::string write_grid_file(const std::string& path) {
  LASheader header;
  header.version_minor = 2;
  header.header_size = standard_header_size(2);
  header.offset_to_point_data = header.header_size;
  header.point_data_format = 1;
  header.point_data_record_length = static_cast<std::uint16_t>(point_type_base_size(1));
  header.x_scale_factor = header.y_scale_factor = 0.25;
  header.z_scale_factor = 0.01;
  header.max_x = header.max_y = 1024;
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(&header, 1, header.point_data_record_length, &header));
  LASwriterLAS writer;
  EXPECT_TRUE(writer.open_file(path.c_str(), &header));
  for (int row = 0; row <= 64; row++) {
    for (int column = 0; column <= 64; column++) {
      for (int inside = 0; inside < 2; inside++) {
        point.X = column * 64 - inside * (column > 0 ? 1 : 0);
        point.Y = row * 64 - inside * (row > 0 ? 1 : 0);
        point.Z = row + column;
        EXPECT_TRUE(writer.write_point(point));
        writer.count_point(point);
      }
    }
  }
  writer.update_header(&header, true);
  EXPECT_GT(writer.close_writer(true), 0);
  return path;
}

// The leaves that areas reach in a small tree, worked out by hand: the root [0, 16] split
// once, its low-low quarter split again. An area holds its lower edges and not its upper
// ones (but the root's), as a cell does, so an area that starts on a split line reaches only
// the cells above it and one that ends on it only those below.
TEST(IndexQuery, AreasReachTheLeavesWorkedOutByHand) {
  LASquadtree tree;
  tree.levels = 2;
  tree.min_x = tree.min_y = 0;
  tree.max_x = tree.max_y = 16;
  // Level 1: 1 [0,8)x[0,8), 2 [8,16]x[0,8), 3 [0,8)x[8,16], 4 [8,16]x[8,16]; level 2 under
  // cell 1: 5 [0,4)x[0,4), 6 [4,8)x[0,4), 7 [0,4)x[4,8), 8 [4,8)x[4,8).
  for (const std::uint32_t leaf : {2u, 3u, 4u, 5u, 6u, 7u, 8u})
    tree.set_leaf(leaf);
  struct Case {
    Area area;
    std::vector<std::uint32_t> leaves;
  };
  const Case cases[] = {
      {{Area::kRectangle, 2, 2, 6, 6}, {5, 6, 7, 8}},
      {{Area::kRectangle, 4, 4, 6, 6}, {8}},
      {{Area::kRectangle, 1, 1, 4, 4}, {5}},
      {{Area::kRectangle, 8, 8, 12, 12}, {4}},
      {{Area::kRectangle, 6, 1, 12, 3}, {2, 6}},
      {{Area::kRectangle, 1, 6, 3, 12}, {3, 7}},
      {{Area::kRectangle, 4, 8, 12, 12}, {3, 4}},
      {{Area::kRectangle, 16, 0, 20, 16}, {2, 4}},  // the root's upper edge is its own
      {{Area::kRectangle, 0, 16, 16, 20}, {3, 4}},
      {{Area::kRectangle, -4, 0, 0, 16}, {}},  // its lower edge is not the area's
      {{Area::kTile, 8, 0, 8, 0}, {2}},
      {{Area::kTile, 2, 2, 4, 0}, {5, 6, 7, 8}},
      // Circles: a cell is reached when its nearest point lies closer than the radius.
      {{Area::kCircle, 20, 4, 3, 0}, {}},
      {{Area::kCircle, 20, 4, 5, 0}, {2}},
      {{Area::kCircle, 20, 4, 6, 0}, {2, 4}},  // (16, 8) lies 5.66 away
      {{Area::kCircle, 2, 20, 5, 0}, {3}},
      {{Area::kCircle, 2, 20, 13, 0}, {3, 4, 7, 8}},  // 12 from 7, 12.17 from 8, 13.4 from 2
      {{Area::kCircle, -3, 2, 3.5, 0}, {5}},          // 3.6 from cell 7
      {{Area::kCircle, 2, -3, 3.5, 0}, {5}},
      {{Area::kCircle, 6, 6, 1, 0}, {8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(index_test::describe(c.area));
    switch (c.area.kind) {
      case Area::kRectangle:
        tree.intersect_rectangle(c.area.a, c.area.b, c.area.c, c.area.d);
        break;
      case Area::kTile:
        tree.intersect_tile(static_cast<float>(c.area.a), static_cast<float>(c.area.b),
                            static_cast<float>(c.area.c));
        break;
      case Area::kCircle:
        tree.intersect_circle(c.area.a, c.area.b, c.area.c);
        break;
    }
    std::vector<std::uint32_t> leaves = tree.result();
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(leaves, c.leaves);
  }
}

TEST(IndexQuery, PointsOnTheSplitLinesAreSeenFromAreasThatStartOnThem) {
  const std::string path = write_grid_file((index_test::scratch_dir() / "grid.las").string());
  auto index = build_index(path.c_str(), {20, 8});
  ASSERT_TRUE(index);
  const LASquadtree& tree = index->quadtree();
  ASSERT_EQ(tree.min_x, 0.0f);
  ASSERT_EQ(tree.max_x, 1024.0f);
  ASSERT_GE(tree.levels, 4u);
  std::vector<Area> areas;
  // Lower edges on the split lines of levels 1-4, upper edges across the next lines.
  for (int line = 64; line < 1024; line += 64) {
    const double at = line;
    areas.push_back({Area::kRectangle, at, 0, at + 100, 1024});
    areas.push_back({Area::kRectangle, 0, at, 1024, at + 40});
    areas.push_back({Area::kRectangle, at, at, at + 64, at + 64});
    areas.push_back({Area::kRectangle, at, 512, at + 0.25, 600});
    areas.push_back({Area::kTile, at, at, 64, 0});
  }
  for (const Area& area : areas) {
    SCOPED_TRACE(index_test::describe(area));
    const auto plain = index_test::read_area(path, area, nullptr);
    testing::internal::CaptureStderr();
    const auto indexed = index_test::read_area(path, area, std::make_unique<LASindex>(*index));
    // The index was checked and kept: the points on the root's upper edges are its own.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(indexed == plain) << plain.size() << " points without the index, " << indexed.size()
                                  << " with it";
  }
}

}  // namespace
