// Terrasolid binary, QFIT and shapefiles, built by hand and then damaged: cut at many
// offsets, or holding coordinates no LAS integer can hold. What is delivered is checked
// against the values written, and how the damage is told (a cut, a failure) against the
// offsets where each point's bytes end.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_reader_shp.hpp"
#include "formats/point_file_bytes.hpp"
#include "stream/bytestream_in_file.hpp"
#include "tool/temp_dir.hpp"

namespace {

using namespace formats_test;

struct Coordinates {
  double x, y, z;
};

// A hand-built file, the coordinates each point must read back as, and the offset at which
// each point's bytes are all in the file (a file cut there still delivers it).
struct BuiltFile {
  std::string name;  // extension included
  std::vector<std::uint8_t> bytes;
  std::vector<Coordinates> points;
  std::vector<std::size_t> point_ends;
  std::size_t header_size;  // a cut before this fails the open
  // Whether a cut at `offset` can be told from the file (QFIT has no count to hold it to).
  std::function<bool(std::size_t offset)> cut_is_visible;
  std::function<std::unique_ptr<LASreader>(const std::string& path)> open;
};

template <class Reader>
std::function<std::unique_ptr<LASreader>(const std::string&)> opener() {
  return [](const std::string& path) -> std::unique_ptr<LASreader> {
    auto reader = std::make_unique<Reader>();
    if (!reader->open_file(path.c_str())) return nullptr;
    return reader;
  };
}

BuiltFile terrasolid(bool long_records) {
  BinHeader h;
  h.long_records = long_records;
  h.units = 1000;
  h.origin = {-5000, 12000, 100};
  h.time = true;
  h.color = true;
  std::vector<BinRecord> records;
  BuiltFile file;
  for (int i = 0; i < 40; i++) {
    BinRecord r{100000 + 37 * i, -200000 + 11 * i, 4000 - 3 * i};
    r.time = static_cast<std::uint32_t>(5000 + i);
    records.push_back(r);
    // Coordinate = (stored - origin) / units.
    file.points.push_back({(r.x + 5000) / 1000.0, (r.y - 12000) / 1000.0, (r.z - 100) / 1000.0});
    file.point_ends.push_back(56 + (i + 1) * bin_record_size(h));
  }
  file.name = long_records ? "long.bin" : "short.bin";
  file.bytes = terrasolid_file(h, records);
  file.header_size = 56;
  file.cut_is_visible = [](std::size_t) { return true; };
  file.open = opener<LASreaderBIN>();
  return file;
}

BuiltFile qfit(int record_size, bool big_endian) {
  std::vector<Words> records;
  BuiltFile file;
  for (int i = 0; i < 40; i++) {
    Words w{};
    w[0] = 1000 + i;              // time
    w[1] = 69000000 + 1234 * i;   // latitude
    w[2] = 359000000 + 4321 * i;  // longitude, above 180 degrees
    w[3] = -2500 + 7 * i;         // elevation
    records.push_back(w);
    file.points.push_back({(w[2] - 360000000) * 1e-6, w[1] * 1e-6, w[3] * 1e-3});
    file.point_ends.push_back(static_cast<std::size_t>((i + 3) * record_size));
  }
  file.name = "atm" + std::to_string(record_size) + (big_endian ? "be" : "le") + ".qi";
  file.bytes = qfit_file(record_size, big_endian, records);
  file.header_size = static_cast<std::size_t>(2 * record_size);
  const std::size_t start = file.header_size;
  const std::size_t size = static_cast<std::size_t>(record_size);
  file.cut_is_visible = [start, size](std::size_t offset) { return (offset - start) % size != 0; };
  file.open = opener<LASreaderQFIT>();
  return file;
}

// PointZ records (44 bytes: header, type, x, y, z, m) or MultiPointZ records of four
// vertices, whose z values follow all the x, y pairs.
BuiltFile shapes(int type) {
  std::vector<std::vector<Vertex>> records;
  BuiltFile file;
  std::size_t at = 100;
  const int per_record = multi(type) ? 4 : 1;
  for (int r = 0; r < 40 / per_record; r++) {
    std::vector<Vertex> record;
    for (int v = 0; v < per_record; v++) {
      const int i = per_record * r + v;
      record.push_back({630000.25 + i, 4834000.5 - 2 * i, 100.75 + 0.25 * i, 1.0 * i});
      file.points.push_back({record.back().x, record.back().y, record.back().z});
    }
    const std::size_t n = record.size();
    const std::size_t xyz_end = multi(type) ? at + 8 + 4 + 32 + 4 + 16 * n + 16 + 8 * n : at + 36;
    for (std::size_t v = 0; v < n; v++)
      file.point_ends.push_back(xyz_end);
    at += 8 + shape_content(type, record).size();
    records.push_back(record);
  }
  file.name = multi(type) ? "multi.shp" : "single.shp";
  file.bytes = shapefile(type, records);
  file.header_size = 100;
  file.cut_is_visible = [](std::size_t) { return true; };
  file.open = opener<LASreaderSHP>();
  return file;
}

struct Reading {
  bool opened = false;
  std::vector<Coordinates> points;
  bool failed = false;
  bool cut = false;
  std::string err;
};

// Reads every point of `reader` (with or without the cut warning) and how it ended.
Reading read_all(LASreader& reader, bool warn) {
  Reading got;
  got.opened = true;
  reader.warn_when_cut = warn;
  testing::internal::CaptureStderr();
  while (reader.read_next())
    got.points.push_back({reader.point.get_x(), reader.point.get_y(), reader.point.get_z()});
  got.err = testing::internal::GetCapturedStderr();
  got.failed = reader.read_failed();
  got.cut = reader.ended_cut() || reader.points_done < reader.points_total;
  return got;
}

std::size_t lines_starting(const std::string& text, const std::string& prefix) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (text.compare(at, prefix.size(), prefix) == 0) count++;
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return count;
}

void expect_same_points(const std::vector<Coordinates>& got, const std::vector<Coordinates>& want,
                        double tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(got[i].x, want[i].x, tolerance);
    EXPECT_NEAR(got[i].y, want[i].y, tolerance);
    EXPECT_NEAR(got[i].z, want[i].z, tolerance);
  }
}

TEST(DamagedPointFiles, ACutFileDeliversItsWholePointsWarnsOnceAndEndsCut) {
  TempDir dir;
  const BuiltFile files[] = {terrasolid(true), terrasolid(false), qfit(40, false), qfit(48, true),
                             qfit(56, false),  shapes(11),        shapes(18)};
  for (const BuiltFile& file : files) {
    const std::size_t size = file.bytes.size();
    // Cut at each point's end, a byte before it, in the middle of a point, inside the last
    // words, and whole.
    std::vector<std::size_t> cuts = {file.header_size, size, size - 1, size - 3};
    for (std::size_t i : {0u, 1u, 17u, 38u}) {
      cuts.push_back(file.point_ends[i]);
      cuts.push_back(file.point_ends[i] - 1);
      cuts.push_back(file.point_ends[i] + 5);
    }
    for (std::size_t cut : cuts) {
      SCOPED_TRACE(file.name + " cut at " + std::to_string(cut) + " of " + std::to_string(size));
      const std::string path = dir.path() + "/" + file.name;
      ASSERT_TRUE(write_file(
          path, std::vector<std::uint8_t>(file.bytes.begin(),
                                          file.bytes.begin() + static_cast<std::ptrdiff_t>(cut))));
      testing::internal::CaptureStderr();
      std::unique_ptr<LASreader> reader = file.open(path);
      const std::string open_err = testing::internal::GetCapturedStderr();
      ASSERT_TRUE(reader) << open_err;
      EXPECT_EQ(open_err, "");
      std::size_t whole = 0;
      while (whole < file.point_ends.size() && file.point_ends[whole] <= cut)
        whole++;
      const bool visible = cut < size && file.cut_is_visible(cut);

      const Reading first = read_all(*reader, true);
      expect_same_points(
          first.points,
          std::vector<Coordinates>(file.points.begin(),
                                   file.points.begin() + static_cast<std::ptrdiff_t>(whole)),
          1e-6);
      EXPECT_FALSE(first.failed) << first.err;
      EXPECT_EQ(first.cut, visible) << first.err;
      EXPECT_EQ(lines_starting(first.err, "WARNING: "), visible ? 1u : 0u) << first.err;
      EXPECT_EQ(lines_starting(first.err, "ERROR: "), 0u) << first.err;
      if (visible) {
        EXPECT_NE(first.err.find(path), std::string::npos) << first.err;
      }

      // A second pass, told not to warn again, delivers the same points and the same end.
      if (reader->points_total == 0) continue;
      ASSERT_TRUE(reader->seek_point(0));
      const Reading second = read_all(*reader, false);
      EXPECT_EQ(second.points.size(), whole);
      EXPECT_EQ(second.cut, visible);
      EXPECT_EQ(second.err, "");
    }
  }
}

// A pipe holding `bytes`, as a file that cannot be measured or sought.
std::FILE* pipe_with(const std::vector<std::uint8_t>& bytes) {
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  const ssize_t written = write(ends[1], bytes.data(), bytes.size());
  close(ends[1]);
  if (written != static_cast<ssize_t>(bytes.size())) {
    close(ends[0]);
    return nullptr;
  }
  return fdopen(ends[0], "rb");
}

TEST(DamagedPointFiles, CoordinatesThatCannotBeStoredAreSkippedCountedAndFailTheFile) {
  TempDir dir;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Vertex> good = {{630000.25, 4834000.5, 100.75, 0},
                                    {630001.25, 4834001.5, 101.75, 0},
                                    {630002.25, 4834002.5, 102.75, 0}};
  struct Case {
    const char* what;
    std::function<std::unique_ptr<LASreader>(const std::string& path)> open;
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::size_t bad;  // which point cannot be stored
    std::vector<Coordinates> kept;
    const char* message;
  };
  std::vector<Case> cases;
  const std::vector<Coordinates> kept_shapes = {{good[0].x, good[0].y, good[0].z},
                                                {good[2].x, good[2].y, good[2].z}};
  for (const Vertex bad : {Vertex{nan, 4834000.0, 100.0, 0}, Vertex{630000.0, -inf, 100.0, 0},
                           Vertex{630000.0, 4834000.0, inf, 0}}) {
    cases.push_back({"a coordinate that is not finite", opener<LASreaderSHP>(), "points.shp",
                     shapefile(11, {{good[0]}, {bad}, {good[2]}}), 1, kept_shapes,
                     "ERROR: 1 points of '"});
    cases.push_back({"a vertex of a multipoint that is not finite", opener<LASreaderSHP>(),
                     "multi.shp", shapefile(18, {{good[0], bad, good[2]}}), 1, kept_shapes,
                     "ERROR: 1 points of '"});
  }
  {
    // Units 100: the third point lies 20,000 km out, which 0.001 cannot hold in 32 bits; the
    // sampled box never saw it.
    BinHeader h;
    std::vector<BinRecord> records;
    for (int i = 0; i < 30; i++)
      records.push_back({1000 * i, 2000 * i, 300 * i});
    records[13].x = 2000000000;
    std::vector<Coordinates> kept;
    for (std::size_t i = 0; i < records.size(); i++) {
      if (i != 13)
        kept.push_back({records[i].x / 100.0, records[i].y / 100.0, records[i].z / 100.0});
    }
    cases.push_back({"a rescaled coordinate beyond 32 bits",
                     [](const std::string& path) -> std::unique_ptr<LASreader> {
                       auto reader = std::make_unique<LASreaderBINrescale>(0.001, 0.001, 0.001);
                       if (!reader->open_file(path.c_str())) return nullptr;
                       return reader;
                     },
                     "far.bin", terrasolid_file(h, records), 13, kept, "ERROR: 1 points of '"});
  }
  {
    // Longitudes near 0 fit at 1e-9 degrees; one at 100 degrees does not.
    std::vector<Words> records;
    std::vector<Coordinates> kept;
    for (int i = 0; i < 60; i++) {
      Words w{};
      w[1] = 1000 * i;
      w[2] = i == 41 ? 100000000 : 2000 * i;
      w[3] = 10 * i;
      records.push_back(w);
      if (i != 41) kept.push_back({w[2] * 1e-6, w[1] * 1e-6, w[3] * 1e-3});
    }
    cases.push_back({"a rescaled longitude beyond 32 bits",
                     [](const std::string& path) -> std::unique_ptr<LASreader> {
                       auto reader = std::make_unique<LASreaderQFITrescale>(1e-9, 1e-9, 0.001);
                       if (!reader->open_file(path.c_str())) return nullptr;
                       return reader;
                     },
                     "far.qi", qfit_file(40, false, records), 41, kept, "ERROR: 1 points of '"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " in " + c.name);
    const std::string path = dir.path() + "/" + c.name;
    ASSERT_TRUE(write_file(path, c.bytes));
    testing::internal::CaptureStderr();
    std::unique_ptr<LASreader> reader = c.open(path);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(reader);
    const Reading got = read_all(*reader, true);
    expect_same_points(got.points, c.kept, 1e-6);
    EXPECT_TRUE(got.failed);
    EXPECT_EQ(lines_starting(got.err, "ERROR: "), 1u) << got.err;
    EXPECT_NE(got.err.find(c.message + path + "'"), std::string::npos) << got.err;
  }

  // Read from a pipe, a shapefile cannot be looked through first: its header box chooses
  // the quantization, and one that lies (a box of one degree) skips every vertex rather
  // than store it clamped.
  const ShapeBox lie = {0, 0, 1, 1, 0, 1};
  std::FILE* piped = pipe_with(shapefile(11, {{good[0]}, {good[1]}, {good[2]}}, {}, -1, &lie));
  ASSERT_NE(piped, nullptr);
  {
    ByteStreamInFileLE stream(piped);
    LASreaderSHP reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open_stream(&stream));
    testing::internal::GetCapturedStderr();
    const Reading got = read_all(reader, true);
    EXPECT_TRUE(got.points.empty());
    EXPECT_TRUE(got.failed);
    EXPECT_NE(got.err.find("ERROR: 3 points of 'the shapefile' have coordinates that cannot be "
                           "stored"),
              std::string::npos)
        << got.err;
  }
  std::fclose(piped);
}

TEST(DamagedPointFiles, APipedMultipointClaimingTwoBillionVerticesIsCutWithoutSizingAnything) {
  // A record of three vertices whose count says 2,000,000,000: read from a pipe, nothing
  // tells the reader how many bytes follow.
  Bytes record;
  record.le32(8).f64(0).f64(0).f64(1).f64(1).le32(2000000000);
  for (int i = 0; i < 3; i++)
    record.f64(630000.5).f64(4834000.5);
  Bytes file;
  file.be32(9994).zeros(20).be32(static_cast<std::int64_t>(100 + 8 + record.size()) / 2);
  file.le32(1000).le32(8).zeros(64);
  file.be32(1).be32(static_cast<std::int64_t>(record.size() / 2));
  file.data.insert(file.data.end(), record.data.begin(), record.data.end());
  std::FILE* piped = pipe_with(file.data);
  ASSERT_NE(piped, nullptr);
  {
    ByteStreamInFileLE stream(piped);
    LASreaderSHP reader;
    ASSERT_TRUE(reader.open_stream(&stream));
    const Reading got = read_all(reader, true);
    EXPECT_TRUE(got.points.empty());
    EXPECT_TRUE(got.cut);
    EXPECT_FALSE(got.failed);
    EXPECT_EQ(got.err,
              "WARNING: 'the shapefile' ends inside shapefile record 1: end-of-file after 0 "
              "points\n");
  }
  std::fclose(piped);
}

}  // namespace
