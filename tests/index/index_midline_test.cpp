// Points that lie exactly on the lines where the index splits its cells belong to the cell
// above the line, as the areas do: an area whose lower edge is such a line must still see
// them when it reads through the index.

#include <gtest/gtest.h>

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
    const auto indexed = index_test::read_area(path, area, std::make_unique<LASindex>(*index));
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(indexed == plain) << plain.size() << " points without the index, " << indexed.size()
                                  << " with it";
  }
}

}  // namespace
