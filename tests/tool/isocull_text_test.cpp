// End to end on text: a text input (also gzipped) denoised to LAS gives the verdicts of the
// same points given as LAS, and LAS goes out as text with the verdicts in its columns.

#include <gtest/gtest.h>

#include <cinttypes>
#include <fstream>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

using IsocullText = ToolFolders;

// The points of a LAS file as "x y z t i c" lines, printed here with the file's two decimals.
bool write_text_of(const std::string& las, const std::string& text, LASheader& header) {
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return false;
  header = reader.header;
  if (header.x_scale_factor != 0.01 || header.z_scale_factor != 0.01) return false;
  std::ofstream out(text);
  out << "x,y,z,t,i,c\n";
  char line[256];
  while (reader.read_next()) {
    const LASpoint& p = reader.point;
    std::snprintf(line, sizeof(line), "%.2f %.2f %.2f %.6f %d %d\n", p.get_x(), p.get_y(),
                  p.get_z(), p.gps_time, p.intensity, p.classification);
    out << line;
  }
  return static_cast<bool>(out);
}

// Every point's class after denoising: 7 for the noise points, its own class otherwise.
std::vector<int> expected_classes(const std::string& las, const Verdicts& verdicts) {
  std::vector<int> classes;
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return classes;
  for (std::size_t i = 0; reader.read_next(); i++) {
    classes.push_back(verdicts.noise.at(i) ? 7 : reader.point.classification);
  }
  return classes;
}

std::vector<int> classes_of(const std::string& las, std::vector<std::array<std::int32_t, 3>>* xyz) {
  std::vector<int> classes;
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return classes;
  while (reader.read_next()) {
    classes.push_back(reader.point.classification);
    if (xyz) xyz->push_back({reader.point.X, reader.point.Y, reader.point.Z});
  }
  return classes;
}

}  // namespace

TEST_F(IsocullText, TextAndGzippedTextInputsGiveTheVerdictsOfTheSamePointsAsLas) {
  const std::string las = path("in/scene.las");
  ASSERT_TRUE(write_scene(las, 6000, 1, 31));
  LASheader header;
  ASSERT_TRUE(write_text_of(las, path("in/scene.txt"), header));
  ASSERT_EQ(std::system(("gzip -k " + shell_quoted(path("in/scene.txt"))).c_str()), 0);
  const std::vector<int> expected =
      expected_classes(las, brute_force_verdicts(las, NoiseParameters{}));
  ASSERT_EQ(expected.size(), 6000u);
  char offsets[3][64];
  std::snprintf(offsets[0], 64, "%.17g", header.x_offset);
  std::snprintf(offsets[1], 64, "%.17g", header.y_offset);
  std::snprintf(offsets[2], 64, "%.17g", header.z_offset);
  std::vector<std::array<std::int32_t, 3>> first_xyz;
  const std::pair<const char*, const char*> runs[] = {{"in/scene.txt", "out/plain.las"},
                                                      {"in/scene.txt.gz", "out/gz.las"}};
  for (const auto& [input, output_name] : runs) {
    SCOPED_TRACE(input);
    const std::string output = path(output_name);
    const ToolRun result =
        run({"-i", input, "-iparse", "xyztic", "-iskip", "1", "-rescale", "0.01", "0.01", "0.01",
             "-reoffset", offsets[0], offsets[1], offsets[2], "-o", output});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err.find("WARNING"), std::string::npos) << result.err;
    std::vector<std::array<std::int32_t, 3>> xyz;
    EXPECT_EQ(classes_of(output, &xyz), expected);
    if (first_xyz.empty()) {
      first_xyz = xyz;
    } else {
      EXPECT_EQ(xyz, first_xyz);
    }
  }
  // Quantized by the reader's own choice the points are the same too.
  const ToolRun own =
      run({"-i", "in/scene.txt", "-iparse", "xyztic", "-iskip", "1", "-o", "out/own.las"});
  ASSERT_EQ(own.exit_code, 0) << own.err;
  EXPECT_EQ(classes_of(path("out/own.las"), nullptr), expected);
}

TEST_F(IsocullText, LasGoesOutAsTextWithTheVerdictInItsColumn) {
  const std::string las = path("in/scene.las");
  ASSERT_TRUE(write_scene(las, 5000, 3, 32));
  const std::vector<int> expected =
      expected_classes(las, brute_force_verdicts(las, NoiseParameters{}));
  const ToolRun result = run(
      {"-i", "in/scene.las", "-otxt", "-oparse", "xyzc", "-osep", "comma", "-o", "out/scene.txt"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::ifstream text(path("out/scene.txt"));
  std::vector<int> classes;
  for (std::string line; std::getline(text, line);) {
    classes.push_back(std::stoi(line.substr(line.rfind(',') + 1)));
  }
  EXPECT_EQ(classes, expected);
  // A missing text input is named.
  const ToolRun missing = run({"-i", "in/absent.txt", "-o", "out/x.las"});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_TRUE(
      missing.printed("ERROR: cannot open file 'in/absent.txt'\n"
                      "ERROR: cannot open lasreadertxt with file name 'in/absent.txt'\n"))
      << missing.err;
}
