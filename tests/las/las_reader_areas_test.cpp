// Areas of interest and coordinate conversions on a grid of points that lie on the edges:
// which points an area delivers and what the header's box becomes, against a brute force;
// which axes a conversion touches and the integers it gives, computed here.

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

// The stored X, Y, Z of grid point (x, y); `jitter` moves them a quarter off the grid now
// and then, so that conversions meet halves.
std::array<std::int32_t, 3> stored_of(int x, int y, bool jitter) {
  const int dx = jitter ? y % 3 - 1 : 0, dy = jitter ? x % 3 - 1 : 0;
  return {4 * x + dx, 4 * y + dy, 4 * (x - y) + (x % 3) - 1};
}

// Points on every integer of [0, 20] x [0, 20] (plus the offsets) at scale 0.25, so that
// every edge is met exactly, and a box of exactly [0, 20]^2.
std::vector<std::uint8_t> grid_file(double x_offset = 0, double y_offset = 0, double z_offset = 0,
                                    bool jitter = false) {
  LASheader header;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.25;
  header.x_offset = x_offset;
  header.y_offset = y_offset;
  header.z_offset = z_offset;
  header.min_x = x_offset;
  header.min_y = y_offset;
  header.max_x = x_offset + 20;
  header.max_y = y_offset + 20;
  header.min_z = z_offset - 20;
  header.max_z = z_offset + 20;
  header.number_of_point_records = 21 * 21;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  EXPECT_TRUE(writer.open_stream(&out, &header));
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(&header, 0, 20, &header));
  for (int x = 0; x <= 20; x++) {
    for (int y = 0; y <= 20; y++) {
      const auto stored = stored_of(x, y, jitter);
      point.X = stored[0];
      point.Y = stored[1];
      point.Z = stored[2];
      writer.write_point(point);
    }
  }
  EXPECT_GT(writer.close_writer(), 0);
  return {out.data(), out.data() + out.size()};
}

struct AreaRow {
  const char* name;
  std::function<bool(LASreader&)> apply;
  bool meets;
  double box[4];  // the header's min x, min y, max x, max y while the area is set
  std::function<bool(double, double)> inside;
};

TEST(LasReaderArea, EachAreaDeliversThePointsOnItsClosedEdgesOnlyAndMeetsTheBoxItTouches) {
  const std::vector<std::uint8_t> file = grid_file();
  auto circle = [](double cx, double cy, double r) {
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; };
  };
  auto rectangle = [](double x0, double y0, double x1, double y1) {
    return [=](double x, double y) { return x0 <= x && x < x1 && y0 <= y && y < y1; };
  };
  const std::vector<AreaRow> rows = {
      {"rectangle inside",
       [](LASreader& r) { return r.inside_rectangle(5, 6, 10, 12); },
       true,
       {5, 6, 10, 12},
       rectangle(5, 6, 10, 12)},
      {"rectangle touching the left edge",
       [](LASreader& r) { return r.inside_rectangle(-10, 0, 0, 20); },
       true,
       {-10, 0, 0, 20},
       rectangle(-10, 0, 0, 20)},
      {"rectangle left of the box",
       [](LASreader& r) { return r.inside_rectangle(-10, 0, -1, 20); },
       false,
       {-10, 0, -1, 20},
       nullptr},
      {"rectangle touching the right edge",
       [](LASreader& r) { return r.inside_rectangle(20, 0, 30, 20); },
       true,
       {20, 0, 30, 20},
       rectangle(20, 0, 30, 20)},
      {"rectangle right of the box",
       [](LASreader& r) { return r.inside_rectangle(20.5, 0, 30, 20); },
       false,
       {20.5, 0, 30, 20},
       nullptr},
      {"rectangle touching the bottom edge",
       [](LASreader& r) { return r.inside_rectangle(0, -5, 20, 0); },
       true,
       {0, -5, 20, 0},
       rectangle(0, -5, 20, 0)},
      {"rectangle below the box",
       [](LASreader& r) { return r.inside_rectangle(0, -5, 20, -1); },
       false,
       {0, -5, 20, -1},
       nullptr},
      {"rectangle touching the top edge",
       [](LASreader& r) { return r.inside_rectangle(0, 20, 20, 25); },
       true,
       {0, 20, 20, 25},
       rectangle(0, 20, 20, 25)},
      {"rectangle above the box",
       [](LASreader& r) { return r.inside_rectangle(0, 21, 20, 25); },
       false,
       {0, 21, 20, 25},
       nullptr},
      {"tile inside",
       [](LASreader& r) { return r.inside_tile(5, 10, 5); },
       true,
       {5, 10, 9.75, 14.75},
       rectangle(5, 10, 10, 15)},
      {"tile ending at the left edge",
       [](LASreader& r) { return r.inside_tile(-10, 0, 10.25f); },
       true,
       {-10, 0, 0, 10},
       rectangle(-10, 0, 0.25, 10.25)},
      {"tile ending before the left edge",
       [](LASreader& r) { return r.inside_tile(-10, 0, 10); },
       false,
       {-10, 0, -0.25, 9.75},
       nullptr},
      {"tile ending below the bottom edge",
       [](LASreader& r) { return r.inside_tile(0, -10, 10); },
       false,
       {0, -10, 9.75, -0.25},
       nullptr},
      {"tile starting at the right edge",
       [](LASreader& r) { return r.inside_tile(20, 3, 4); },
       true,
       {20, 3, 23.75, 6.75},
       rectangle(20, 3, 24, 7)},
      {"tile starting right of the box",
       [](LASreader& r) { return r.inside_tile(20.25f, 3, 4); },
       false,
       {20.25, 3, 24, 6.75},
       nullptr},
      {"tile starting above the box",
       [](LASreader& r) { return r.inside_tile(3, 20.25f, 4); },
       false,
       {3, 20.25, 6.75, 24},
       nullptr},
      {"circle inside",
       [](LASreader& r) { return r.inside_circle(10, 10, 5); },
       true,
       {5, 5, 15, 15},
       circle(10, 10, 5)},
      {"circle touching the left edge",
       [](LASreader& r) { return r.inside_circle(-5, 10, 5); },
       true,
       {-10, 5, 0, 15},
       circle(-5, 10, 5)},
      {"circle left of the box",
       [](LASreader& r) { return r.inside_circle(-5, 10, 4.75); },
       false,
       {-9.75, 5.25, -0.25, 14.75},
       nullptr},
      {"circle touching the right edge",
       [](LASreader& r) { return r.inside_circle(25, 10, 5); },
       true,
       {20, 5, 30, 15},
       circle(25, 10, 5)},
      {"circle right of the box",
       [](LASreader& r) { return r.inside_circle(25, 10, 4.75); },
       false,
       {20.25, 5.25, 29.75, 14.75},
       nullptr},
      {"circle touching the bottom edge",
       [](LASreader& r) { return r.inside_circle(10, -5, 5); },
       true,
       {5, -10, 15, 0},
       circle(10, -5, 5)},
      {"circle below the box",
       [](LASreader& r) { return r.inside_circle(10, -5, 4.75); },
       false,
       {5.25, -9.75, 14.75, -0.25},
       nullptr},
      {"circle above the box",
       [](LASreader& r) { return r.inside_circle(10, 25, 4.75); },
       false,
       {5.25, 20.25, 14.75, 29.75},
       nullptr},
  };
  for (const AreaRow& row : rows) {
    SCOPED_TRACE(row.name);
    ByteStreamInArrayLE in(file.data(), static_cast<std::int64_t>(file.size()));
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_stream(&in));
    EXPECT_EQ(row.apply(reader), row.meets);
    EXPECT_EQ(reader.header.min_x, row.box[0]);
    EXPECT_EQ(reader.header.min_y, row.box[1]);
    EXPECT_EQ(reader.header.max_x, row.box[2]);
    EXPECT_EQ(reader.header.max_y, row.box[3]);
    std::int64_t expected = 0;
    if (row.inside) {
      for (int x = 0; x <= 20; x++) {
        for (int y = 0; y <= 20; y++)
          expected += row.inside(x, y) ? 1 : 0;
      }
    }
    std::int64_t delivered = 0;
    while (reader.read_next()) {
      EXPECT_TRUE(row.inside && row.inside(reader.point.get_x(), reader.point.get_y()))
          << reader.point.get_x() << " " << reader.point.get_y();
      delivered++;
    }
    EXPECT_EQ(delivered, expected);
    EXPECT_TRUE(row.meets || reader.points_done == 0);
    reader.clear_area();
    EXPECT_EQ(reader.header.min_x, 0);
    EXPECT_EQ(reader.header.min_y, 0);
    EXPECT_EQ(reader.header.max_x, 20);
    EXPECT_EQ(reader.header.max_y, 20);
  }
}

TEST(LasReaderArea, ASecondAreaReplacesTheFirstAndClearingRestoresTheFilesBox) {
  const std::vector<std::uint8_t> file = grid_file(100, 200);
  ByteStreamInArrayLE in(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_stream(&in));
  EXPECT_EQ(reader.inside(), LASreader::kAreaNone);
  EXPECT_TRUE(reader.inside_tile(100, 200, 8));
  EXPECT_EQ(reader.inside(), LASreader::kAreaTile);
  EXPECT_TRUE(reader.inside_circle(110, 210, 3));
  EXPECT_EQ(reader.inside(), LASreader::kAreaCircle);
  // Still measured against the file's box, not the tile's: this one lies outside the tile.
  EXPECT_TRUE(reader.inside_rectangle(115, 215, 125, 225));
  EXPECT_EQ(reader.inside(), LASreader::kAreaRectangle);
  std::int64_t delivered = 0;
  while (reader.read_next())
    delivered++;
  EXPECT_EQ(delivered, 6 * 6);
  reader.clear_area();
  EXPECT_EQ(reader.inside(), LASreader::kAreaNone);
  EXPECT_EQ(reader.header.min_x, 100);
  EXPECT_EQ(reader.header.min_y, 200);
  EXPECT_EQ(reader.header.max_x, 120);
  EXPECT_EQ(reader.header.max_y, 220);
}

// The integer a coordinate gets at a new scale and offset, rounded half away from zero.
std::int32_t quantized(double coordinate, double scale, double offset) {
  const double q = (coordinate - offset) / scale;
  return static_cast<std::int32_t>(q >= 0 ? std::floor(q + 0.5) : std::ceil(q - 0.5));
}

struct ConvertRow {
  const char* name;
  std::function<std::unique_ptr<LASreaderLASconverting>()> make;
  double scale[3];   // what the header holds after opening
  double offset[3];  // ditto
  bool converted[3];
};

TEST(LasReaderConvert, EachAxisIsConvertedAloneWhenItsRequestDiffersAndRoundsAwayFromZero) {
  const std::vector<std::uint8_t> file = grid_file(100, 200, 30, true);
  const std::vector<ConvertRow> rows = {
      {"rescale x",
       [] { return std::make_unique<LASreaderLASrescale>(0.5, 0, 0); },
       {0.5, 0.25, 0.25},
       {100, 200, 30},
       {true, false, false}},
      {"rescale y",
       [] { return std::make_unique<LASreaderLASrescale>(0, 0.1, 0.25); },
       {0.25, 0.1, 0.25},
       {100, 200, 30},
       {false, true, false}},
      {"rescale z",
       [] { return std::make_unique<LASreaderLASrescale>(0.25, 0, 0.5); },
       {0.25, 0.25, 0.5},
       {100, 200, 30},
       {false, false, true}},
      {"reoffset x",
       [] { return std::make_unique<LASreaderLASreoffset>(99.875, 200, 30); },
       {0.25, 0.25, 0.25},
       {99.875, 200, 30},
       {true, false, false}},
      {"reoffset y",
       [] { return std::make_unique<LASreaderLASreoffset>(100, 200.125, 30); },
       {0.25, 0.25, 0.25},
       {100, 200.125, 30},
       {false, true, false}},
      {"reoffset z",
       [] { return std::make_unique<LASreaderLASreoffset>(100, 200, 29.875); },
       {0.25, 0.25, 0.25},
       {100, 200, 29.875},
       {false, false, true}},
      {"rescale and reoffset z",
       [] { return std::make_unique<LASreaderLASrescalereoffset>(0, 0, 0.5, 100, 200, 31); },
       {0.25, 0.25, 0.5},
       {100, 200, 31},
       {false, false, true}},
      {"rescale x, reoffset y",
       [] { return std::make_unique<LASreaderLASrescalereoffset>(0.5, 0, 0, 100, 199, 30); },
       {0.5, 0.25, 0.25},
       {100, 199, 30},
       {true, true, false}},
  };
  for (const ConvertRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<LASreaderLASconverting> reader = row.make();
    ByteStreamInArrayLE in(file.data(), static_cast<std::int64_t>(file.size()));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader->open_stream(&in));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const double scales[3] = {reader->header.x_scale_factor, reader->header.y_scale_factor,
                              reader->header.z_scale_factor};
    const double offsets[3] = {reader->header.x_offset, reader->header.y_offset,
                               reader->header.z_offset};
    for (int axis = 0; axis < 3; axis++) {
      EXPECT_EQ(scales[axis], row.scale[axis]) << axis;
      EXPECT_EQ(offsets[axis], row.offset[axis]) << axis;
      EXPECT_EQ(reader->rescaled(axis) || reader->reoffset(axis), row.converted[axis]) << axis;
    }
    int halves = 0;
    for (int x = 0; x <= 20; x++) {
      for (int y = 0; y <= 20; y++) {
        ASSERT_TRUE(reader->read_next());
        const auto stored = stored_of(x, y, true);
        const double file_offsets[3] = {100, 200, 30};
        const std::int32_t got[3] = {reader->point.X, reader->point.Y, reader->point.Z};
        for (int axis = 0; axis < 3; axis++) {
          const double coordinate = stored[axis] * 0.25 + file_offsets[axis];
          const std::int32_t expected = row.converted[axis]
                                            ? quantized(coordinate, scales[axis], offsets[axis])
                                            : stored[axis];
          ASSERT_EQ(got[axis], expected) << "axis " << axis << " at " << x << " " << y;
          const double exact = (coordinate - offsets[axis]) / scales[axis];
          halves += exact != std::floor(exact) && std::fabs(exact - std::trunc(exact)) == 0.5;
        }
      }
    }
    EXPECT_FALSE(reader->read_next());
    EXPECT_GT(halves, 0);
  }
}

}  // namespace
