// End to end: the tool denoises Terrasolid binary, QFIT and shapefile inputs in every marking
// mode their outputs can hold, marks exactly the points a brute-force count calls noise, and
// refuses a mode whose mark the output format has no room for.

#include <gtest/gtest.h>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_writer_bin.hpp"
#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

void put_le32(std::vector<std::uint8_t>& bytes, std::int64_t value) {
  for (int i = 0; i < 4; i++)
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
}
void put_be32(std::vector<std::uint8_t>& bytes, std::int64_t value) {
  for (int i = 3; i >= 0; i--)
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
}
void put_f64(std::vector<std::uint8_t>& bytes, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  for (int i = 0; i < 8; i++)
    bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}
bool save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A dense 40 x 40 patch of points one grid unit apart and a few lone points beside it, in
// grid units that never fall on a cell boundary of the steps below.
struct GridPoint {
  double column, row;
};
// The lone points come first and in the middle: a mark must not stick to the points after.
std::vector<GridPoint> patch_with_outliers() {
  std::vector<GridPoint> points;
  for (int r = 0; r < 40; r++) {
    if (r == 0 || r == 20) {
      for (int k = 0; k < 3; k++)
        points.push_back({200.5 + 100 * k, 300.5 + r});
    }
    for (int c = 0; c < 40; c++)
      points.push_back({c + 0.5, r + 0.5});
  }
  return points;
}

// QFIT, big-endian, 40-byte records: longitude and latitude in micro-degrees, a grid unit
// being 10 micro-degrees.
std::vector<std::uint8_t> qfit_patch() {
  std::vector<std::uint8_t> bytes;
  put_be32(bytes, 40);
  bytes.resize(40, 0);
  put_be32(bytes, -9000000);
  put_be32(bytes, 80);
  bytes.resize(80, 0);
  std::int64_t time = 1000;
  for (const GridPoint& p : patch_with_outliers()) {
    const std::int64_t words[10] = {time++,
                                    70000000 + static_cast<std::int64_t>(p.row * 10),
                                    315000000 + static_cast<std::int64_t>(p.column * 10),
                                    101000,
                                    0,
                                    50,
                                    90000,
                                    100,
                                    -100,
                                    0};
    for (std::int64_t w : words)
      put_be32(bytes, w);
  }
  return bytes;
}

// A PointZ shapefile in metres, a grid unit being half a metre.
std::vector<std::uint8_t> shp_patch() {
  std::vector<std::uint8_t> records;
  int number = 1;
  double min_x = 1e300, max_x = -1e300, min_y = 1e300, max_y = -1e300;
  for (const GridPoint& p : patch_with_outliers()) {
    const double x = 630000 + p.column * 0.5, y = 4834000 + p.row * 0.5;
    min_x = std::min(min_x, x);
    max_x = std::max(max_x, x);
    min_y = std::min(min_y, y);
    max_y = std::max(max_y, y);
    put_be32(records, number++);
    put_be32(records, 18);  // 36 bytes of content
    put_le32(records, 11);
    put_f64(records, x);
    put_f64(records, y);
    put_f64(records, 101.0);
    put_f64(records, 0.0);
  }
  std::vector<std::uint8_t> bytes;
  put_be32(bytes, 9994);
  bytes.resize(24, 0);
  put_be32(bytes, static_cast<std::int64_t>(100 + records.size()) / 2);
  put_le32(bytes, 1000);
  put_le32(bytes, 11);
  for (double v : {min_x, min_y, max_x, max_y, 101.0, 101.0, 0.0, 0.0})
    put_f64(bytes, v);
  bytes.insert(bytes.end(), records.begin(), records.end());
  return bytes;
}

// A scene of point type 3, as a Terrasolid binary file with 20-byte records.
bool bin_scene(const TempDir& dir, const std::string& path) {
  const std::string las = dir.path() + "/scene.las";
  if (!write_scene(las, 3000, 3, 5)) return false;
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return false;
  LASwriterBIN writer;
  if (!writer.open_file(path.c_str(), &reader.header, "ts16")) return false;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return false;
  }
  return writer.close_writer(true) != 0;
}

struct Format {
  const char* name;
  std::vector<std::string> steps;
  NoiseParameters parameters;
};

// The input read by the tool into LAS with nothing marked: what every LAS output must equal
// but for the marks.
std::string reference(const TempDir& dir, const std::string& input) {
  const std::string ref = dir.path() + "/reference.las";
  const ToolRun run =
      run_tool({"-i", input, "-o", ref, "-step", "100000", "-isolated", "1"}, dir.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return ref;
}

void check_las_outputs(const TempDir& dir, const std::string& input, const Format& format) {
  const std::string ref = reference(dir, input);
  const Verdicts verdicts = brute_force_verdicts(ref, format.parameters);
  ASSERT_TRUE(verdicts.ok);
  EXPECT_GE(verdicts.noise_count, 6u);
  struct ModeCase {
    std::vector<std::string> options;
    Mode mode;
    std::uint8_t code;
  };
  const ModeCase modes[] = {{{}, Mode::kClassify, 7},
                            {{"-classify_as", "12"}, Mode::kClassify, 12},
                            {{"-flag_as_withheld"}, Mode::kFlag, 0},
                            {{"-remove_noise"}, Mode::kRemove, 0}};
  int number = 0;
  for (const ModeCase& m : modes) {
    const std::string output = dir.path() + "/out" + std::to_string(number++) + ".las";
    std::vector<std::string> args = {"-i", input, "-o", output};
    args.insert(args.end(), format.steps.begin(), format.steps.end());
    args.insert(args.end(), m.options.begin(), m.options.end());
    const ToolRun run = run_tool(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    SCOPED_TRACE(std::string(format.name) + " to LAS, option " +
                 (m.options.empty() ? "" : m.options[0]));
    expect_marked(ref, output, m.mode, m.code, verdicts);
  }
}

const Format kBin = {"bin", {"-step", "2", "-isolated", "2"}, {2.0f, 2.0f, 2, false, nullptr}};
const Format kQfit = {"qi",
                      {"-step_xy", "0.00004", "-step_z", "4", "-isolated", "5"},
                      {0.00004f, 4.0f, 5, false, nullptr}};
const Format kShp = {
    "shp", {"-step_xy", "2", "-step_z", "4", "-isolated", "5"}, {2.0f, 4.0f, 5, false, nullptr}};

TEST(IsocullFormats, TerrasolidBinaryIsDenoisedIntoLasAndIntoItsOwnFormat) {
  TempDir dir;
  const std::string input = dir.path() + "/strip.bin";
  ASSERT_TRUE(bin_scene(dir, input));
  check_las_outputs(dir, input, kBin);

  const Verdicts verdicts = brute_force_verdicts(reference(dir, input), kBin.parameters);
  LASreaderBIN original;
  ASSERT_TRUE(original.open_file(input.c_str()));
  std::vector<LASpoint> points;
  while (original.read_next())
    points.push_back(original.point);
  ASSERT_EQ(points.size(), verdicts.noise.size());

  // Classified into BIN: the class byte says 7 for exactly the noise points.
  std::vector<std::string> args = {"-i", input, "-o", dir.path() + "/marked.bin"};
  args.insert(args.end(), kBin.steps.begin(), kBin.steps.end());
  ToolRun run = run_tool(args, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  {
    LASreaderBIN marked;
    ASSERT_TRUE(marked.open_file((dir.path() + "/marked.bin").c_str()));
    for (std::size_t i = 0; i < points.size(); i++) {
      ASSERT_TRUE(marked.read_next());
      EXPECT_EQ(marked.point.X, points[i].X);
      EXPECT_EQ(marked.point.classification, verdicts.noise[i] ? 7 : points[i].classification) << i;
    }
    EXPECT_FALSE(marked.read_next());
  }
  // Removed: exactly the other points, in order, and a header that counts them.
  args[3] = dir.path() + "/clean.bin";
  args.push_back("-remove_noise");
  run = run_tool(args, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  {
    LASreaderBIN clean;
    ASSERT_TRUE(clean.open_file((dir.path() + "/clean.bin").c_str()));
    EXPECT_EQ(clean.header.number_of_point_records, points.size() - verdicts.noise_count);
    for (std::size_t i = 0; i < points.size(); i++) {
      if (verdicts.noise[i]) continue;
      ASSERT_TRUE(clean.read_next());
      EXPECT_EQ(clean.point.X, points[i].X);
      EXPECT_EQ(clean.point.Z, points[i].Z);
    }
    EXPECT_FALSE(clean.read_next());
  }
  // No withheld flag in the format: refused before anything is written.
  run = run_tool({"-i", input, "-o", dir.path() + "/flagged.bin", "-flag_as_withheld"}, dir.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.printed("ERROR: Terrasolid binary output has no withheld flag")) << run.err;
  EXPECT_FALSE(exists(dir.path() + "/flagged.bin"));
}

TEST(IsocullFormats, QfitIsDenoisedIntoLasAndOnlyRemovedIntoQfit) {
  TempDir dir;
  const std::string input = dir.path() + "/atm.qi";
  ASSERT_TRUE(save(input, qfit_patch()));
  check_las_outputs(dir, input, kQfit);

  const Verdicts verdicts = brute_force_verdicts(reference(dir, input), kQfit.parameters);
  std::vector<std::string> args = {"-i", input, "-o", dir.path() + "/clean.qi", "-remove_noise"};
  args.insert(args.end(), kQfit.steps.begin(), kQfit.steps.end());
  ToolRun run = run_tool(args, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  LASreaderQFIT original, clean;
  ASSERT_TRUE(original.open_file(input.c_str()));
  ASSERT_TRUE(clean.open_file((dir.path() + "/clean.qi").c_str()));
  EXPECT_EQ(clean.header.number_of_point_records, verdicts.noise.size() - verdicts.noise_count);
  for (std::size_t i = 0; i < verdicts.noise.size(); i++) {
    ASSERT_TRUE(original.read_next());
    if (verdicts.noise[i]) continue;
    ASSERT_TRUE(clean.read_next());
    EXPECT_EQ(clean.point.X, original.point.X);
    EXPECT_EQ(clean.point.Y, original.point.Y);
    EXPECT_EQ(clean.point.gps_time, original.point.gps_time);
    EXPECT_EQ(clean.point.extra_bytes, original.point.extra_bytes);
  }
  EXPECT_FALSE(clean.read_next());

  for (const char* option : {"-classify_as", "-flag_as_withheld"}) {
    std::vector<std::string> refused = {"-i", input, "-o", dir.path() + "/marked.qi", option};
    if (std::string(option) == "-classify_as") refused.push_back("7");
    run = run_tool(refused, dir.path());
    EXPECT_EQ(run.exit_code, 1) << option;
    EXPECT_TRUE(run.printed("ERROR: QFIT output has no ")) << run.err;
    EXPECT_FALSE(exists(dir.path() + "/marked.qi"));
  }
}

TEST(IsocullFormats, PointShapefilesAreDenoisedIntoLas) {
  TempDir dir;
  const std::string input = dir.path() + "/points.shp";
  ASSERT_TRUE(save(input, shp_patch()));
  check_las_outputs(dir, input, kShp);
}

}  // namespace
