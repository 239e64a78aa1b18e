// The buffer around a tile is closed on all four sides: a neighbour's point exactly on the
// grown box's edge is a buffer point, one a quarter unit beyond it is not.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/las_reader_buffered.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "model/header_layout.hpp"
#include "model/point_layout.hpp"

#include "open_las.hpp"

namespace {

// Quarter units: every coordinate below is exact, so the edges are met exactly.
bool write_points(const std::string& path, const std::vector<std::pair<double, double>>& xy) {
  LASheader header;
  header.version_minor = 2;
  header.header_size = standard_header_size(2);
  header.offset_to_point_data = header.header_size;
  header.point_data_format = 0;
  header.point_data_record_length = static_cast<std::uint16_t>(point_type_base_size(0));
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.25;
  LASpoint point;
  if (!point.init_for_point_type(&header, 0, header.point_data_record_length, &header))
    return false;
  LASwriterLAS writer;
  if (!writer.open_file(path.c_str(), &header)) return false;
  for (const auto& [x, y] : xy) {
    point.X = static_cast<std::int32_t>(x * 4);
    point.Y = static_cast<std::int32_t>(y * 4);
    point.Z = 0;
    if (!writer.write_point(point)) return false;
    writer.count_point(point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) > 0;
}

using formats_test::open_las;

TEST(LasReaderBuffered, TheBufferHoldsTheNeighbourPointsOnEveryEdgeOfTheGrownBox) {
  char pattern[] = "/tmp/isocull_buffer_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern, tile = dir + "/tile.las", next = dir + "/next.las";
  // The tile spans [0, 100] in x and y; with a buffer of 10 the grown box is [-10, 110].
  ASSERT_TRUE(write_points(tile, {{0, 0}, {100, 100}, {50, 20}}));
  const std::vector<double> across = {-10.25, -10, 50, 110, 110.25};
  std::vector<std::pair<double, double>> neighbour;
  int within = 0;
  for (double x : across) {
    for (double y : across) {
      neighbour.emplace_back(x, y);
      if (x >= -10 && x <= 110 && y >= -10 && y <= 110) within++;
    }
  }
  ASSERT_EQ(within, 9);
  ASSERT_TRUE(write_points(next, neighbour));

  LASreaderBuffered reader(&open_las, 10.0);
  reader.set_main_file(tile);
  reader.add_buffer_source(next);
  ASSERT_TRUE(reader.open());
  EXPECT_EQ(reader.buffer_point_count(), within);
  std::vector<std::pair<double, double>> buffered;
  while (reader.read_next()) {
    if (reader.reading_buffer()) buffered.emplace_back(reader.point.get_x(), reader.point.get_y());
  }
  for (const auto& [x, y] : buffered) {
    EXPECT_TRUE(x >= -10 && x <= 110 && y >= -10 && y <= 110) << x << " " << y;
  }
  EXPECT_EQ(buffered.size(), static_cast<std::size_t>(within));
  reader.close_reader();
  unlink(tile.c_str());
  unlink(next.c_str());
  rmdir(dir.c_str());
}

}  // namespace
