// Damaged inputs of the other point formats through the real binary: a cut Terrasolid, QFIT
// or shapefile is written as far as it goes and reported cut, coordinates no LAS integer
// holds fail their file instead of being clamped, a shapefile's lying box changes nothing,
// and a merged file fails when one of its files cannot be read.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <thread>

#include "formats/point_file_bytes.hpp"
#include "json_value.hpp"
#include "tool_folders.hpp"

namespace isocull_test {
namespace {

using formats_test::BinHeader;
using formats_test::BinRecord;
using formats_test::ShapeBox;
using formats_test::Vertex;

class IsocullDamagedInputs : public ToolFolders {};

struct Coordinates {
  double x, y, z;
};

std::vector<Coordinates> las_points(const std::string& path) {
  std::vector<Coordinates> points;
  LASreaderLAS reader;
  if (!reader.open_file(path.c_str())) return points;
  while (reader.read_next())
    points.push_back({reader.point.get_x(), reader.point.get_y(), reader.point.get_z()});
  return points;
}

bool save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return formats_test::write_file(path, bytes);
}

bool save_cut(const std::string& from, const std::string& to, std::size_t keep) {
  const std::string bytes = read_text(from);
  if (bytes.size() < keep) return false;
  return save(to, std::vector<std::uint8_t>(bytes.begin(),
                                            bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
}

JsonValue report_of(const std::string& path) {
  JsonValue report;
  EXPECT_TRUE(JsonParser(read_text(path)).parse(report)) << read_text(path);
  return report;
}

// A PointZ patch of 30 x 30 points half a metre apart.
std::vector<std::vector<Vertex>> shape_patch() {
  std::vector<std::vector<Vertex>> records;
  for (int r = 0; r < 30; r++) {
    for (int c = 0; c < 30; c++)
      records.push_back({{630000.25 + 0.5 * c, 4834000.75 + 0.5 * r, 101.0 + 0.01 * c, 0}});
  }
  return records;
}

// A Terrasolid patch of 16-byte records with time words, origin away from zero.
std::vector<std::uint8_t> terrasolid_patch(std::vector<BinRecord>* out = nullptr) {
  BinHeader h;
  h.long_records = false;
  h.time = true;
  h.origin = {-63000000, 483400000, 0};
  std::vector<BinRecord> records;
  for (int r = 0; r < 30; r++) {
    for (int c = 0; c < 30; c++)
      records.push_back({50 * c, 50 * r, 10100 + c});
  }
  if (out != nullptr) *out = records;
  return formats_test::terrasolid_file(h, records);
}

TEST_F(IsocullDamagedInputs, ACutFileOfEveryFormatIsWrittenAsFarAsItGoesAndReportedCut) {
  const std::string time_color = kRealData + "/time-color.bin";
  const std::string ten_word = kRealData + "/10-word.qi";
  if (!exists(time_color) || !exists(ten_word)) {
    GTEST_SKIP() << "real files not found in " << kRealData;
  }
  ASSERT_TRUE(save(path("in/patch.shp"), formats_test::shapefile(11, shape_patch())));
  ASSERT_TRUE(save(path("in/patch.bin"), terrasolid_patch()));
  struct Case {
    std::string whole;
    std::string extension;
    std::size_t keep;   // bytes left of the file
    std::size_t kept;   // whole points in them
    std::size_t total;  // what the cut file promised, 0 when it gives no count
  };
  const Case cases[] = {
      // 56-byte header, 28-byte records of 1000 points; 20-byte header, 16 + 4.
      {time_color, ".bin", 20000, (20000 - 56) / 28, 1000},
      {time_color, ".bin", 56 + 28 * 500 + 27, 500, 1000},
      {time_color, ".bin", 28056 - 1, 999, 1000},
      {path("in/patch.bin"), ".bin", 56 + 20 * 433 + 6, 433, 900},
      // Big-endian 40-byte records from byte 2120.
      {ten_word, ".qi", 2120 + 40 * 22 + 13, 22, 23},
      {ten_word, ".qi", 82120 - 1, 1999, 2000},
      // 44-byte PointZ records from byte 100; x, y and z are in a record's first 36 bytes.
      {path("in/patch.shp"), ".shp", 100 + 44 * 700 + 35, 700, 0},
      {path("in/patch.shp"), ".shp", 100 + 44 * 700 + 36, 701, 0},
      {path("in/patch.shp"), ".shp", 100 + 44 * 123, 123, 0},
  };
  int number = 0;
  for (const Case& c : cases) {
    const std::string name = "cut" + std::to_string(number++) + c.extension;
    SCOPED_TRACE(c.whole + " cut at " + std::to_string(c.keep) + " as " + name);
    ASSERT_TRUE(save_cut(c.whole, path("in/" + name), c.keep));
    // The whole file gives the points every cut must keep.
    ToolRun result = run({"-i", c.whole, "-o", path("out/whole.las")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::vector<Coordinates> whole = las_points(path("out/whole.las"));
    ASSERT_GT(whole.size(), c.kept);

    std::vector<std::string> args = {"-i",          "in/" + name, "-o",
                                     "out/cut.las", "-report",    "out/cut.json"};
    // Steps in degrees for the QFIT file, which is in longitude and latitude.
    if (c.extension == ".qi") args.insert(args.end(), {"-step_xy", "0.00004"});
    result = run_tool(args, dir_.path(), path("tmp"));
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_TRUE(result.printed("summary: 0 files done, 0 failed, 1 cut. " + std::to_string(c.kept) +
                               " points read"))
        << result.err;
    // Warned once: the second pass knows.
    EXPECT_EQ(result.count("end-of-file after " + std::to_string(c.kept)), 1u) << result.err;
    if (c.total != 0) {
      EXPECT_TRUE(result.printed("end-of-file after " + std::to_string(c.kept) + " of " +
                                 std::to_string(c.total) + " points for 'in/" + name + "'"))
          << result.err;
    }
    const JsonValue report = report_of(path("out/cut.json"));
    ASSERT_EQ(report["files"].items.size(), 1u);
    EXPECT_EQ(report["files"].items[0]["status"].text, "cut");
    EXPECT_EQ(report["files"].items[0]["points_read"].number, static_cast<double>(c.kept));
    EXPECT_EQ(report["totals"]["cut"].number, 1);

    const std::vector<Coordinates> kept = las_points(path("out/cut.las"));
    ASSERT_EQ(kept.size(), c.kept);
    for (std::size_t i = 0; i < kept.size(); i++) {
      ASSERT_NEAR(kept[i].x, whole[i].x, 1e-6) << i;
      ASSERT_NEAR(kept[i].y, whole[i].y, 1e-6) << i;
      ASSERT_NEAR(kept[i].z, whole[i].z, 1e-6) << i;
    }
  }
}

// A FIFO named like a shapefile is read once, kept, and read again from what was kept: that
// it was cut must survive the keeping.
TEST_F(IsocullDamagedInputs, ACutShapefileThroughAFifoIsReportedCut) {
  std::vector<std::uint8_t> bytes = formats_test::shapefile(11, shape_patch());
  bytes.resize(100 + 44 * 321 + 20);
  const std::string fifo = path("in/piped.shp");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread writer([&] {
    const int out = open(fifo.c_str(), O_WRONLY);
    if (out < 0) return;
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
    close(out);
  });
  const ToolRun result = run({"-i", fifo, "-o", path("out/piped.las")});
  // A tool that never opened the FIFO would leave the writer waiting: be its reader.
  const int unblock = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (unblock >= 0) close(unblock);
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.printed("summary: 0 files done, 0 failed, 1 cut. 321 points read"))
      << result.err;
  EXPECT_EQ(las_points(path("out/piped.las")).size(), 321u);
}

TEST_F(IsocullDamagedInputs, CoordinatesNoLasIntegerHoldsFailTheFileAndWriteNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::vector<Vertex>> patch = shape_patch();
  std::vector<BinRecord> bin_records;
  terrasolid_patch(&bin_records);
  bin_records[450].y = 2000000000;  // 20,000 km out: 0.001 cannot hold it in 32 bits
  BinHeader bin_header;
  bin_header.long_records = false;
  bin_header.time = true;
  struct Case {
    const char* what;
    std::string name;
    std::vector<std::uint8_t> bytes;  // empty: `name` is a real file
    std::vector<std::string> options;
    const char* message;
  };
  auto with = [&](Vertex bad) {
    std::vector<std::vector<Vertex>> records = patch;
    records[417] = {bad};
    return formats_test::shapefile(11, records);
  };
  const std::vector<Case> cases = {
      {"a NaN x", "nan.shp", with({nan, 4834000.0, 100.0, 0}), {}, "ERROR: 1 points of '"},
      {"an infinite y", "inf.shp", with({630000.0, -inf, 100.0, 0}), {}, "ERROR: 1 points of '"},
      {"an infinite z",
       "infz.shp",
       with({630000.0, 4834000.0, inf, 0}),
       {},
       "ERROR: 1 points of '"},
      {"a point at 1e12 among points near 630000",
       "far.shp",
       with({1e12, 1e12, 1e12, 0}),
       {},
       "ERROR: the x coordinates of '"},
      {"a rescaled point 20,000 km out",
       "far.bin",
       formats_test::terrasolid_file(bin_header, bin_records),
       {"-rescale", "0.001", "0.001", "0.001"},
       "ERROR: 1 points of '"},
      {"every point of a real file rescaled beyond 32 bits",
       kRealData + "/time-color.bin",
       {},
       {"-rescale", "0.0001", "0.0001", "0.01"},
       "ERROR: 1000 points of '"},
      {"every longitude of a real file rescaled beyond 32 bits",
       kRealData + "/10-word.qi",
       {},
       {"-rescale", "1e-9", "1e-9", "0.001"},
       "ERROR: 2000 points of '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string input = c.name;
    if (!c.bytes.empty()) {
      input = path("in/" + c.name);
      ASSERT_TRUE(save(input, c.bytes));
    } else if (!exists(input)) {
      GTEST_SKIP() << "real files not found in " << kRealData;
    }
    std::vector<std::string> args = {
        "-i", input, "-o", path("out/o.las"), "-report", path("out/o.json")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.count(c.message + input + "'"), 1u) << result.err;
    EXPECT_TRUE(result.printed("summary: 0 files done, 1 failed, 0 cut.")) << result.err;
    EXPECT_FALSE(exists(path("out/o.las")));
    const JsonValue report = report_of(path("out/o.json"));
    ASSERT_EQ(report["files"].items.size(), 1u);
    EXPECT_EQ(report["files"].items[0]["status"].text, "failed");
  }
}

TEST_F(IsocullDamagedInputs, AShapefileBoxThatLiesChangesNoCoordinate) {
  const std::vector<std::vector<Vertex>> patch = shape_patch();
  const std::vector<std::vector<Vertex>> far = {{{1e12, -1e12, 1e12, 0}}};
  const ShapeBox degree = {0, 0, 1, 1, 0, 1};
  struct Case {
    const char* what;
    const std::vector<std::vector<Vertex>>* records;
  };
  for (const Case& c :
       {Case{"900 points near 630000, 4834000", &patch}, Case{"one point at 1e12", &far}}) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(save(path("in/lie.shp"), formats_test::shapefile(11, *c.records, {}, -1, &degree)));
    const ToolRun result = run({"-i", path("in/lie.shp"), "-o", path("out/lie.las")});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::vector<Coordinates> written = las_points(path("out/lie.las"));
    ASSERT_EQ(written.size(), c.records->size());
    for (std::size_t i = 0; i < written.size(); i++) {
      const Vertex& v = (*c.records)[i][0];
      ASSERT_NEAR(written[i].x, v.x, 0.005) << i;
      ASSERT_NEAR(written[i].y, v.y, 0.005) << i;
      ASSERT_NEAR(written[i].z, v.z, 0.005) << i;
    }
  }
}

TEST_F(IsocullDamagedInputs, AMergedFileFailsWhenOneOfItsFilesCannotBeRead) {
  ASSERT_TRUE(write_points(path("in/a.las"), {{1, 2, 3}}));
  ASSERT_TRUE(write_points(path("in/c.las"), {{2, 3, 4}}));
  {
    std::ofstream text(path("in/b.txt"));
    text << "1 2 3\n";
  }
  ASSERT_TRUE(save(path("in/a.bin"), terrasolid_patch()));
  ASSERT_TRUE(save(path("in/b.shp"), formats_test::shapefile(11, shape_patch())));
  struct Case {
    const char* what;
    std::vector<std::string> inputs;
    const char* message;
  };
  const Case cases[] = {
      {"a missing file",
       {"in/a.las", "in/missing.las", "in/c.las"},
       "ERROR: file 'in/missing.las' cannot be opened"},
      {"a text file among LAS files",
       {"in/a.las", "in/b.txt", "in/c.las"},
       "ERROR: cannot mix LAS with TXT. skipping 'in/b.txt' ..."},
      {"a shapefile after a Terrasolid file",
       {"in/a.bin", "in/b.shp"},
       "ERROR: cannot mix BIN with SHP. skipping 'in/b.shp' ..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.inputs;
    args.insert(args.begin(), "-i");
    args.insert(args.end(), {"-merged", "-o", "out/m.las"});
    const ToolRun result = run_tool(args, dir_.path(), path("tmp"));
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_TRUE(result.printed(c.message)) << result.err;
    EXPECT_TRUE(result.printed("summary: 0 files done, 1 failed, 0 cut.")) << result.err;
    EXPECT_FALSE(exists(path("out/m.las")));
  }

  // A cut file among whole ones is read to its cut, said once, and the merged file is cut.
  // 30 bytes less: the last two 20-byte Terrasolid records, the last 44-byte shape record.
  std::vector<std::uint8_t> bin = terrasolid_patch();
  bin.resize(bin.size() - 30);
  ASSERT_TRUE(save(path("in/b.bin"), bin));
  std::vector<std::uint8_t> shp = formats_test::shapefile(11, shape_patch());
  shp.resize(shp.size() - 30);
  ASSERT_TRUE(save(path("in/a.shp"), shp));
  struct Merged {
    std::vector<std::string> inputs;
    std::size_t points;
  };
  const Merged merged[] = {{{"in/a.bin", "in/b.bin", "in/a.bin"}, 900 + 898 + 900},
                           {{"in/b.shp", "in/a.shp", "in/b.shp"}, 900 + 899 + 900}};
  for (const Merged& m : merged) {
    SCOPED_TRACE(m.inputs[1]);
    std::vector<std::string> args = m.inputs;
    args.insert(args.begin(), "-i");
    args.insert(args.end(), {"-merged", "-o", "out/m.las"});
    const ToolRun result = run_tool(args, dir_.path(), path("tmp"));
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.count("WARNING: "), 1u) << result.err;
    EXPECT_TRUE(result.printed("'" + m.inputs[1] + "'")) << result.err;
    EXPECT_TRUE(result.printed("summary: 0 files done, 0 failed, 1 cut. " +
                               std::to_string(m.points) + " points read"))
        << result.err;
    EXPECT_EQ(las_points(path("out/m.las")).size(), m.points);
  }
}

}  // namespace
}  // namespace isocull_test
