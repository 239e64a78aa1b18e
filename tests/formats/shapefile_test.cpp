// Point shapefiles written here byte by byte from the published shapefile layout, read back
// to the expected points; lying and cut files.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formats/las_reader_shp.hpp"
#include "formats/point_file_bytes.hpp"
#include "tool/temp_dir.hpp"

namespace {

using namespace formats_test;

struct ReadBack {
  bool opened = false;
  std::vector<Vertex> points;  // x, y, z as delivered (m unused)
  std::uint32_t count_before = 0;
  std::uint32_t count_after = 0;
  bool failed = false;
  bool cut = false;
  ShapeBox box{};  // the reader's header box after reading
  std::string err;
};

ReadBack read_back(const TempDir& dir, const std::vector<std::uint8_t>& bytes) {
  const std::string path = dir.path() + "/points.shp";
  EXPECT_TRUE(write_file(path, bytes));
  ReadBack result;
  LASreaderSHP reader;
  testing::internal::CaptureStderr();
  result.opened = reader.open_file(path.c_str());
  if (result.opened) {
    result.count_before = reader.header.number_of_point_records;
    while (reader.read_next())
      result.points.push_back(
          {reader.point.get_x(), reader.point.get_y(), reader.point.get_z(), 0});
    result.count_after = reader.header.number_of_point_records;
    result.failed = reader.read_failed();
    result.cut = reader.ended_cut();
    result.box = {reader.header.min_x, reader.header.min_y, reader.header.max_x,
                  reader.header.max_y, reader.header.min_z, reader.header.max_z};
  }
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

void expect_points(const ReadBack& got, const std::vector<std::vector<Vertex>>& records,
                   bool z_kept, double tolerance) {
  std::vector<Vertex> expected;
  for (const auto& record : records)
    expected.insert(expected.end(), record.begin(), record.end());
  ASSERT_EQ(got.points.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(got.points[i].x, expected[i].x, tolerance);
    EXPECT_NEAR(got.points[i].y, expected[i].y, tolerance);
    EXPECT_NEAR(got.points[i].z, z_kept ? expected[i].z : 0.0, 0.005);
  }
}

const std::vector<std::vector<Vertex>> kSingles = {
    {{630250.25, 4834500.75, 181.5, 7.0}},
    {{630251.00, 4834499.50, 183.25, 8.0}},
    {{630249.75, 4834501.25, 179.75, 9.0}},
};
const std::vector<std::vector<Vertex>> kGroups = {
    {{630250.25, 4834500.75, 181.5, 1.0},
     {630251.0, 4834499.5, 183.25, 2.0},
     {630249.75, 4834501.25, 179.75, 3.0}},
    {{630260.5, 4834510.25, 190.0, 4.0}, {630261.25, 4834511.0, 191.5, 5.0}},
    {{630270.0, 4834520.0, 200.25, 6.0}},
};

TEST(ShapefileReader, EveryPointTypeReadsBackItsVertices) {
  TempDir dir;
  struct Case {
    int type;
    const std::vector<std::vector<Vertex>>* records;
  };
  const Case cases[] = {{1, &kSingles}, {11, &kSingles}, {21, &kSingles},
                        {8, &kGroups},  {18, &kGroups},  {28, &kGroups}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const ReadBack got = read_back(dir, shapefile(c.type, *c.records));
    ASSERT_TRUE(got.opened) << got.err;
    expect_points(got, *c.records, with_z(c.type), 0.005);
    EXPECT_FALSE(got.failed);
    EXPECT_TRUE(got.err.empty()) << got.err;
    // Single points are estimated exactly from the file length; multipoints only roughly,
    // and the end brings the real number.
    if (!multi(c.type)) {
      EXPECT_EQ(got.count_before, 3u);
    }
    EXPECT_EQ(got.count_after, multi(c.type) ? 6u : 3u);
  }
}

TEST(ShapefileReader, GeographicCoordinatesAreQuantizedFinely) {
  TempDir dir;
  const std::vector<std::vector<Vertex>> records = {{{-122.4194155, 37.7749295, 12.5, 0}},
                                                    {{-122.4194012, 37.7749401, 13.0, 0}}};
  const ReadBack got = read_back(dir, shapefile(11, records));
  ASSERT_TRUE(got.opened) << got.err;
  expect_points(got, records, true, 0.00000006);
}

TEST(ShapefileReader, AnotherPointShapeInAMultiPointZFileWarnsAndReadsByItsOwnLayout) {
  TempDir dir;
  std::vector<std::vector<Vertex>> records = kGroups;
  records.push_back({{630280.5, 4834530.5, 210.0, 0}});
  const ReadBack got = read_back(dir, shapefile(18, records, {18, 18, 18, 1}));
  ASSERT_TRUE(got.opened) << got.err;
  EXPECT_NE(got.err.find("WARNING: wrong shape type 1 != 18 in record\n"), std::string::npos)
      << got.err;
  ASSERT_EQ(got.points.size(), 7u);
  EXPECT_NEAR(got.points[6].x, 630280.5, 0.005);
  EXPECT_NEAR(got.points[6].z, 0.0, 0.005);  // a Point record carries no z
  EXPECT_NEAR(got.points[2].z, 179.75, 0.005);
}

TEST(ShapefileReader, NullShapesHoldNoPoints) {
  TempDir dir;
  std::vector<std::uint8_t> bytes = shapefile(1, kSingles);
  // A null record (number 4, content length 2 words: its type 0) at the end.
  Bytes null_record;
  null_record.be32(4).be32(2).le32(0);
  bytes.insert(bytes.end(), null_record.data.begin(), null_record.data.end());
  const ReadBack got = read_back(dir, bytes);
  ASSERT_TRUE(got.opened);
  EXPECT_EQ(got.points.size(), 3u);
  EXPECT_TRUE(got.err.empty()) << got.err;
}

TEST(ShapefileReader, WrongCodeVersionOrShapeTypeIsRefusedWithItsMessage) {
  TempDir dir;
  struct Case {
    std::size_t at;
    std::vector<std::uint8_t> patch;
    const char* message;
  };
  const Case cases[] = {
      {0, {0, 0, 0x27, 0x0B}, "ERROR: wrong shapefile code 9995 != 9994\n"},
      {28, {0xE9, 0x03, 0, 0}, "ERROR: wrong shapefile version 1001 != 1000\n"},
      {32, {3, 0, 0, 0}, "ERROR: wrong shape type 3 != 1,11,21,8,18,28\n"},
      {32, {31, 0, 0, 0}, "MultiPatch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::uint8_t> bytes = shapefile(1, kSingles);
    std::copy(c.patch.begin(), c.patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
    const ReadBack got = read_back(dir, bytes);
    EXPECT_FALSE(got.opened);
    EXPECT_NE(got.err.find(c.message), std::string::npos) << got.err;
  }
}

TEST(ShapefileReader, LyingCountsAndLengthsNeverSizeAnything) {
  TempDir dir;
  {
    // A MultiPoint record that claims 100 million points in a file of a few hundred bytes.
    std::vector<std::uint8_t> bytes = shapefile(8, kGroups);
    const std::size_t count_at = 100 + 8 + 4 + 32;
    bytes[count_at] = 0x00;
    bytes[count_at + 1] = 0xE1;
    bytes[count_at + 2] = 0xF5;
    bytes[count_at + 3] = 0x05;
    const ReadBack got = read_back(dir, bytes);
    ASSERT_TRUE(got.opened);
    EXPECT_TRUE(got.points.empty());
    EXPECT_TRUE(got.failed);
    EXPECT_NE(got.err.find("ERROR: shapefile record 1 claims 100000000 points"), std::string::npos)
        << got.err;
  }
  {
    // A negative count is a lie too.
    std::vector<std::uint8_t> bytes = shapefile(28, kGroups);
    const std::size_t count_at = 100 + 8 + 4 + 32;
    for (int k = 0; k < 4; k++)
      bytes[count_at + static_cast<std::size_t>(k)] = 0xFF;
    const ReadBack got = read_back(dir, bytes);
    EXPECT_TRUE(got.failed);
  }
  {
    // A file length of 2^31 words: the count comes from the records there are, and the
    // file is cut short of what its header announces.
    const ReadBack got = read_back(dir, shapefile(1, kSingles, {}, 0x7FFFFFFF));
    ASSERT_TRUE(got.opened);
    EXPECT_NE(got.err.find("points.shp' ends after 184 of the 4294967294 bytes its header "
                           "announces: end-of-file after 3 points\n"),
              std::string::npos)
        << got.err;
    EXPECT_EQ(got.count_before, 3u);
    EXPECT_EQ(got.points.size(), 3u);
    EXPECT_TRUE(got.cut);
  }
}

TEST(ShapefileReader, ACutFileDeliversTheWholeRecordsItHolds) {
  TempDir dir;
  const std::vector<std::uint8_t> whole = shapefile(18, kGroups);
  for (std::size_t keep :
       {std::size_t{100}, std::size_t{99}, whole.size() - 1, whole.size() - 60}) {
    SCOPED_TRACE(keep);
    const std::vector<std::uint8_t> cut(whole.begin(),
                                        whole.begin() + static_cast<std::ptrdiff_t>(keep));
    const ReadBack got = read_back(dir, cut);
    if (keep < 100) {
      EXPECT_FALSE(got.opened);
      continue;
    }
    ASSERT_TRUE(got.opened);
    EXPECT_LE(got.points.size(), 6u);
    EXPECT_EQ(got.count_after, got.points.size());
    EXPECT_TRUE(got.cut);
    EXPECT_FALSE(got.failed);
  }
  // Cut inside the last record's m values: its points still read, and the file is cut.
  const std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 4);
  const ReadBack got = read_back(dir, cut);
  EXPECT_EQ(got.points.size(), 6u);
  EXPECT_TRUE(got.cut);
}

TEST(ShapefileReader, AFileCutWithItsHeaderLengthIsCutWhenARecordRunsPastTheEnd) {
  TempDir dir;
  struct Case {
    int type;
    const std::vector<std::vector<Vertex>>* records;
    std::size_t cut;  // bytes off the end
    std::size_t points;
  };
  // The last 8 bytes of a PointZ record are its m, the 8 before its z; a MultiPointZ record
  // ends with the m range and one m per vertex.
  const Case cases[] = {
      {11, &kSingles, 4, 3}, {11, &kSingles, 20, 2}, {18, &kGroups, 4, 6}, {18, &kGroups, 30, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " less " + std::to_string(c.cut));
    std::vector<std::uint8_t> bytes = shapefile(c.type, *c.records);
    bytes.resize(bytes.size() - c.cut);
    // The header's length says the file is whole as it is now.
    const std::uint32_t words = static_cast<std::uint32_t>(bytes.size() / 2);
    for (int k = 0; k < 4; k++)
      bytes[24 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(words >> (24 - 8 * k));
    const ReadBack got = read_back(dir, bytes);
    ASSERT_TRUE(got.opened) << got.err;
    EXPECT_EQ(got.points.size(), c.points);
    EXPECT_TRUE(got.cut);
    EXPECT_FALSE(got.failed);
    EXPECT_NE(got.err.find("ends inside shapefile record"), std::string::npos) << got.err;
  }
}

TEST(ShapefileReader, TheHeaderBoxIsAHintTheVerticesChooseTheQuantization) {
  TempDir dir;
  std::vector<std::vector<Vertex>> projected;
  for (int i = 0; i < 2000; i++)
    projected.push_back({{630000.25 + 0.5 * i, 4834000.75 - 0.25 * i, 100.5 + 0.01 * i, 0}});
  const std::vector<std::vector<Vertex>> geographic = {{{-122.4194155, 37.7749295, 12.5, 0}},
                                                       {{-122.4194012, 37.7749401, 13.0, 0}}};
  const std::vector<std::vector<Vertex>> far = {{{1e12, -1e12, 1e12, 0}}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ShapeBox degree = {0, 0, 1, 1, 0, 1};
  const ShapeBox none = {nan, nan, nan, nan, nan, nan};
  const ShapeBox huge = {-1e300, -1e300, 1e300, 1e300, -1e300, 1e300};
  const ShapeBox metres = {0, 0, 1e6, 1e6, 0, 100};
  struct Case {
    const char* what;
    const std::vector<std::vector<Vertex>>* records;
    const ShapeBox* box;
    double tolerance;
  };
  const Case cases[] = {
      {"2000 projected points in a box of one degree", &projected, &degree, 0.005},
      {"projected points in a box of NaN", &projected, &none, 0.005},
      {"projected points in a box of 1e300", &projected, &huge, 0.005},
      {"geographic points in a projected box", &geographic, &metres, 6e-8},
      {"a point a billion kilometres out", &far, &degree, 0.005},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ReadBack got = read_back(dir, shapefile(11, *c.records, {}, -1, c.box));
    ASSERT_TRUE(got.opened) << got.err;
    EXPECT_FALSE(got.failed);
    EXPECT_EQ(got.count_before, c.records->size());
    expect_points(got, *c.records, true, c.tolerance);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const auto& record : *c.records) {
      const double v[3] = {record[0].x, record[0].y, record[0].z};
      for (int k = 0; k < 3; k++) {
        lo[k] = std::min(lo[k], v[k]);
        hi[k] = std::max(hi[k], v[k]);
      }
    }
    const double want[6] = {lo[0], lo[1], hi[0], hi[1], lo[2], hi[2]};
    for (int k = 0; k < 6; k++)
      EXPECT_NEAR(got.box[static_cast<std::size_t>(k)], want[k], c.tolerance) << k;
  }
}

TEST(ShapefileReader, VerticesThatNoQuantizationHoldsAreRefusedNamingTheAxis) {
  TempDir dir;
  const Vertex near = {630000.25, 4834000.75, 100.5, 0};
  struct Case {
    Vertex far;
    const char* message;
  };
  const Case cases[] = {
      {{1e12, 4834000.75, 100.5, 0}, "ERROR: the x coordinates of '"},
      {{630000.25, -1e12, 100.5, 0}, "ERROR: the y coordinates of '"},
      {{630000.25, 4834000.75, 1e12, 0}, "ERROR: the z coordinates of '"},
      {{1e308, 4834000.75, 100.5, 0}, "ERROR: the x coordinates of '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const ReadBack got = read_back(dir, shapefile(11, {{near}, {c.far}, {near}}));
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.err.rfind(c.message, 0), 0u) << got.err;
    EXPECT_NE(got.err.find("points.shp' run from "), std::string::npos) << got.err;
  }
}

TEST(ShapefileReader, ReopeningReadsTheSamePointsWithTheCountOfTheFirstPass) {
  TempDir dir;
  const std::string path = dir.path() + "/groups.shp";
  ASSERT_TRUE(write_file(path, shapefile(18, kGroups)));
  LASreaderSHP reader;
  ASSERT_TRUE(reader.open_file(path.c_str()));
  std::vector<std::int32_t> first;
  while (reader.read_next())
    first.push_back(reader.point.Z);
  ASSERT_TRUE(reader.reopen_file(path.c_str()));
  EXPECT_EQ(reader.header.number_of_point_records, 6u);
  std::vector<std::int32_t> second;
  while (reader.read_next())
    second.push_back(reader.point.Z);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.size(), 6u);
}

}  // namespace
