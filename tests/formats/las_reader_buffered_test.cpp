// The buffered reader holds exactly the neighbours' points within the buffer, and hands the
// buffer points out in the first pass only.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "formats/las_reader_buffered.hpp"
#include "las/las_reader_las.hpp"
#include "stream/bytestream_blocks.hpp"

#include "open_las.hpp"

namespace {

const std::string kReal = ISOCULL_REAL_DATA_DIR;

using formats_test::open_las;

TEST(LasReaderBuffered, HoldsTheNeighbourPointsWithinTheBufferAndHandsThemOutOnce) {
  const std::string main_tile = kReal + "/lone-star-split-1.pkz";
  const std::string neighbour = kReal + "/lone-star-split-2.pkz";
  {
    LASreaderLAS probe;
    if (!probe.open_file(main_tile.c_str())) GTEST_SKIP() << "real files not found in " << kReal;
  }
  const double buffer = 2.0;
  LASreaderLAS main_reader;
  ASSERT_TRUE(main_reader.open_file(main_tile.c_str()));
  const LASheader box = main_reader.header;
  std::int64_t main_points = 0;
  while (main_reader.read_next())
    main_points++;
  // The expectation, point by point: the neighbour's points inside the grown box.
  std::int64_t within = 0;
  LASreaderLAS other;
  ASSERT_TRUE(other.open_file(neighbour.c_str()));
  while (other.read_next()) {
    const double x = other.point.get_x(), y = other.point.get_y();
    if (x >= box.min_x - buffer && x <= box.max_x + buffer && y >= box.min_y - buffer &&
        y <= box.max_y + buffer) {
      within++;
    }
  }
  ASSERT_GT(within, 0);
  ASSERT_LT(within, other.points_total);

  LASreaderBuffered reader(&open_las, buffer);
  reader.set_main_file(main_tile);
  reader.add_buffer_source(neighbour);
  // A neighbour listed with a rectangle far away is never opened (the name does not exist).
  reader.add_buffer_source("/nonexistent/far.las", LASreaderBuffered::Rectangle{0, 0, 1, 1});
  ASSERT_TRUE(reader.open());
  EXPECT_EQ(reader.buffer_point_count(), within);
  // A few bytes per buffer point, not the neighbour's size.
  EXPECT_LE(reader.buffer_bytes(), within * 12 + static_cast<std::int64_t>(ByteBlocks::kBlockSize));
  std::int64_t first_pass = 0;
  while (reader.read_next())
    first_pass++;
  EXPECT_EQ(first_pass, main_points + within);
  ASSERT_TRUE(reader.reopen(false));
  std::int64_t second_pass = 0;
  while (reader.read_next()) {
    EXPECT_FALSE(reader.reading_buffer());
    second_pass++;
  }
  EXPECT_EQ(second_pass, main_points);
}

}  // namespace
