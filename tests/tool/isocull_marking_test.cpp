// End to end: the built tool marks exactly the points that a brute-force count calls noise,
// and changes nothing else, in each of its three marking modes.

#include <gtest/gtest.h>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

struct Case {
  std::vector<std::string> options;
  Mode mode;
  std::uint8_t code;
  NoiseParameters parameters;
};

std::vector<Case> cases() {
  NoiseParameters fine;
  fine.step_xy = 2.0f;
  fine.step_z = 2.0f;
  fine.isolated = 2;
  NoiseParameters odd;
  odd.step_xy = 3.0f;
  odd.step_z = 1.5f;
  odd.isolated = 8;
  NoiseParameters coarse;  // sparse real files have isolated points only in coarse cells
  coarse.step_xy = coarse.step_z = 100.0f;
  coarse.isolated = 6;
  return {
      {{}, Mode::kClassify, 7, NoiseParameters{}},
      {{"-step", "2", "-isolated", "2", "-classify_as", "9"}, Mode::kClassify, 9, fine},
      {{"-step_xy", "3", "-step_z", "1.5", "-isolated", "8", "-flag_as_withheld"},
       Mode::kFlag,
       0,
       odd},
      {{"-remove_noise"}, Mode::kRemove, 0, NoiseParameters{}},
      {{"-step", "100", "-isolated", "6", "-classify_as", "31"}, Mode::kClassify, 31, coarse},
      {{"-step", "100", "-isolated", "6", "-remove_noise"}, Mode::kRemove, 0, coarse},
      {{"-step", "2", "-isolated", "2", "-remove_noise"}, Mode::kRemove, 0, fine},
  };
}

// Runs every case on `input` (an absolute path) and checks every point.
void check_all_modes(const TempDir& dir, const std::string& input,
                     const std::vector<std::string>& extra = {}) {
  int number = 0;
  for (const Case& c : cases()) {
    const std::string output = dir.path() + "/out" + std::to_string(number++) + ".las";
    std::vector<std::string> args = {"-i", input, "-o", output};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = run_tool(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << input << "\n" << run.err;
    const Verdicts verdicts = brute_force_verdicts(input, c.parameters);
    SCOPED_TRACE(input + " with " + std::to_string(verdicts.noise_count) + " noise points");
    expect_marked(input, output, c.mode, c.code, verdicts);
  }
}

TEST(IsocullMarking, GeneratedScenesOfEveryPointFamilyGetExactlyTheBruteForceVerdicts) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (int point_type : {1, 3, 6, 8}) {
    const std::string scene = dir.path() + "/scene" + std::to_string(point_type) + ".las";
    ASSERT_TRUE(write_scene(scene, 30000, point_type, 7));
    SCOPED_TRACE("point type " + std::to_string(point_type));
    check_all_modes(dir, scene);
  }
}

TEST(IsocullMarking, RealFilesGetExactlyTheBruteForceVerdicts) {
  const char* names[] = {"simple.las",     "simple1_1.las",        "simple1_3.las",
                         "simple1_4.las",  "test1_4.las",          "extrabytes.las",
                         "1_4_w_evlr.las", "100-points.las",       "hextest.las",
                         "perm_1.0_0.las", "perm_1.2_3.las",       "gps-time-nan.las",
                         "no-points.las",  "bad-geotiff-keys.las", "unregistered_extra_bytes.las"};
  if (!exists(kRealData + "/simple.las")) GTEST_SKIP() << "no real files in " << kRealData;
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* name : names) {
    SCOPED_TRACE(name);
    // Some of these files are in feet: metres make the default steps those of the verdicts.
    check_all_modes(dir, kRealData + "/" + name, {"-meter"});
  }
}

// The compressed twins and the file that exists only compressed: read as PKZ and written as
// LAS, and written as PKZ; the verdicts come from the decoded points.
TEST(IsocullMarking, CompressedRealFilesGetExactlyTheBruteForceVerdictsBothWays) {
  if (!exists(kRealData + "/simple.pkz")) GTEST_SKIP() << "no real files in " << kRealData;
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::vector<std::string> without_codecs;
  for (const char* name : {"simple.pkz", "simple-v1.pkz", "extrabytes.pkz", "1_4_w_evlr.pkz",
                           "fullwave.pkz", "simple-varchunk.pkz", "autzen-clip-varchunk.pkz"}) {
    SCOPED_TRACE(name);
    const std::string input = kRealData + "/" + name;
    {
      // The item codecs of every point type are not all there yet: such files wait.
      LASreaderLAS probe;
      if (!probe.open_file(input.c_str()) || !probe.read_next()) {
        without_codecs.push_back(name);
        continue;
      }
    }
    const std::string decoded = dir.path() + "/decoded.las";
    ASSERT_TRUE(decoded_records(input, decoded).ok);
    for (const Case& c : cases()) {
      for (const std::string format : {"las", "pkz"}) {
        const std::string output = dir.path() + "/out." + format;
        std::vector<std::string> args = {"-i", input, "-o", output, "-meter"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ToolRun run = run_tool(args, dir.path());
        ASSERT_EQ(run.exit_code, 0) << run.err;
        std::string checked = output;
        if (format == "pkz" && exists(output)) {
          checked = dir.path() + "/out_decoded.las";
          ASSERT_TRUE(decoded_records(output, checked).ok);
        }
        expect_marked(decoded, checked, c.mode, c.code, brute_force_verdicts(input, c.parameters));
        std::remove(output.c_str());
        std::remove(checked.c_str());
      }
    }
  }
  if (without_codecs.size() == 7) GTEST_SKIP() << "no compressed item codecs yet";
  for (const std::string& name : without_codecs)
    EXPECT_EQ(name.find("varchunk"), std::string::npos) << name << " must read";
  for (const std::string& name : without_codecs)
    std::printf("note: %s skipped, its item codecs are not there yet\n", name.c_str());
}

TEST(IsocullMarking, AnAllNoiseInputLeavesNoOutputInRemoveModeUnlessAsked) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string input = dir.path() + "/sparse.las";
  ASSERT_TRUE(write_points(input, {{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {50, 50, 50}}));

  ToolRun run = run_tool({"-i", "sparse.las", "-o", "gone.las", "-remove_noise"}, dir.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_FALSE(exists(dir.path() + "/gone.las"));
  EXPECT_FALSE(run.printed("removing empty output file"));
  EXPECT_FALSE(run.printed("done with 'gone.las'")) << run.err;
  EXPECT_TRUE(run.printed("all 4 points of 'sparse.las' are noise: no output written")) << run.err;

  run = run_tool({"-i", "sparse.las", "-o", "gone.las", "-remove_noise", "-v"}, dir.path());
  EXPECT_TRUE(run.printed("removing empty output file 'gone.las'\n")) << run.err;
  EXPECT_FALSE(exists(dir.path() + "/gone.las"));

  run =
      run_tool({"-i", "sparse.las", "-o", "kept.las", "-remove_noise", "-dont_remove_empty_files"},
               dir.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const LasRecords kept = read_records(dir.path() + "/kept.las");
  ASSERT_TRUE(kept.ok);
  EXPECT_EQ(kept.records.size(), 0u);
  EXPECT_EQ(kept.header.number_of_point_records, 0u);

  // Classified, the same points all stay.
  run = run_tool({"-i", "sparse.las", "-o", "classified.las"}, dir.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  expect_marked(input, dir.path() + "/classified.las", Mode::kClassify, 7,
                brute_force_verdicts(input, NoiseParameters{}));
}

TEST(IsocullMarking, IgnoredPointsAreNeverChangedAndNeverCounted) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/scene.las";
  ASSERT_TRUE(write_scene(scene, 30000, 1, 3));
  LASignore ignore;
  ignore.classes[0] = (1u << 1) | (1u << 5);  // unclassified and high vegetation
  ignore.flags = 1;
  NoiseParameters parameters;
  parameters.ignore = &ignore;
  const Verdicts verdicts = brute_force_verdicts(scene, parameters);
  ASSERT_TRUE(verdicts.ok);
  // The ignore set must matter in this scene: some ignored points would be noise otherwise.
  const Verdicts plain = brute_force_verdicts(scene, NoiseParameters{});
  std::size_t spared = 0;
  for (std::size_t i = 0; i < plain.noise.size(); i++)
    spared += plain.noise[i] && verdicts.ignored[i];
  EXPECT_GT(spared, 0u);

  for (Mode mode : {Mode::kClassify, Mode::kFlag, Mode::kRemove}) {
    std::vector<std::string> args = {"-i", "scene.las", "-o", "out.las", "-ignore_class", "1", "5"};
    if (mode == Mode::kFlag) args.push_back("-flag_as_withheld");
    if (mode == Mode::kRemove) args.push_back("-remove_noise");
    const ToolRun run = run_tool(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    expect_marked(scene, dir.path() + "/out.las", mode, 7, verdicts);
  }
}

TEST(IsocullMarking, ByFlightlineKeepsFlightlinesFromSavingEachOther) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  // Four points of each of two flightlines in one cell: eight together are no noise, four
  // alone are.
  std::vector<SimplePoint> points;
  for (int i = 0; i < 8; i++)
    points.push_back({1.0 + 0.25 * i, 1.0, 1.0, 1, static_cast<std::uint16_t>(1 + i % 2)});
  const std::string crafted = dir.path() + "/crafted.las";
  ASSERT_TRUE(write_points(crafted, points));
  ToolRun run = run_tool({"-i", "crafted.las", "-o", "alone.las"}, dir.path());
  EXPECT_TRUE(run.printed("classified 0 noise points of")) << run.err;
  run = run_tool({"-i", "crafted.las", "-o", "apart.las", "-by_flightline"}, dir.path());
  EXPECT_TRUE(run.printed("classified 8 noise points of")) << run.err;

  const std::string scene = dir.path() + "/scene.las";
  ASSERT_TRUE(write_scene(scene, 30000, 1, 5));
  NoiseParameters parameters;
  parameters.by_flightline = true;
  run = run_tool({"-i", "scene.las", "-o", "out.las", "-by_flightline", "-v"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.printed("isolated cells for flightline 1.\n")) << run.err;
  EXPECT_TRUE(run.printed("isolated cells for flightline 2.\n")) << run.err;
  EXPECT_LT(run.err.find("flightline 1."), run.err.find("flightline 2.")) << "ascending order";
  EXPECT_TRUE(run.printed("now outputting ...\n"));
  expect_marked(scene, dir.path() + "/out.las", Mode::kClassify, 7,
                brute_force_verdicts(scene, parameters));
}

TEST(IsocullMarking, ASceneInSurveyFeetGetsTwelveFootCells) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/feet.las";
  ASSERT_TRUE(write_scene(scene, 30000, 1, 2, true));
  const ToolRun run = run_tool({"-i", "feet.las", "-o", "out.las", "-v"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.printed("coordinates are feet. tripling default step_xy to 12\n")) << run.err;
  EXPECT_TRUE(run.printed("elevation is feet. tripling default step_z to 12\n")) << run.err;
  EXPECT_TRUE(run.printed("gridding 30000 points with step_xy 12 sft and step_z 12 ft ...\n"))
      << run.err;
  NoiseParameters feet;
  feet.step_xy = feet.step_z = 12.0f;
  expect_marked(scene, dir.path() + "/out.las", Mode::kClassify, 7,
                brute_force_verdicts(scene, feet));

  // A step given on the command line wins; the other axis keeps its feet default.
  const ToolRun given =
      run_tool({"-i", "feet.las", "-o", "out.las", "-v", "-step_xy", "6"}, dir.path());
  EXPECT_FALSE(given.printed("tripling default step_xy"));
  EXPECT_TRUE(given.printed("gridding 30000 points with step_xy 6 sft and step_z 12 ft ...\n"))
      << given.err;
  // Feet named by the records of a file written by other software.
  if (exists(kRealData + "/test1_4.las")) {
    const ToolRun real = run_tool({"-i", kRealData + "/test1_4.las", "-nil", "-v"}, dir.path());
    EXPECT_TRUE(real.printed("coordinates are feet. tripling default step_xy to 12\n")) << real.err;
  }
  // Metres on the command line override the file's feet.
  const ToolRun metres = run_tool({"-i", "feet.las", "-o", "out.las", "-v", "-meter"}, dir.path());
  EXPECT_TRUE(metres.printed("gridding 30000 points with step_xy 4 m and step_z 4 m ...\n"))
      << metres.err;
}

TEST(IsocullMarking, TheOutputHeaderCarriesTheCommandLineProjectionAndTheToolsNames) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/feet.las";
  ASSERT_TRUE(write_scene(scene, 5000, 1, 2, true));  // keys of a state plane system in feet
  const ToolRun run = run_tool({"-i", "feet.las", "-o", "out.las", "-epsg", "32633"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const LasRecords output = read_records(dir.path() + "/out.las");
  ASSERT_TRUE(output.ok);
  std::map<std::uint16_t, std::uint16_t> keys;
  for (std::uint16_t i = 0; i < output.header.geo_key_count(); i++)
    keys[output.header.geo_key_entries()[i].key_id] =
        output.header.geo_key_entries()[i].value_offset;
  EXPECT_EQ(keys[3072], 32633) << "ProjectedCSTypeGeoKey";
  EXPECT_EQ(keys[3076], 9001) << "ProjLinearUnitsGeoKey";
  EXPECT_EQ(output.header.find_vlr("LASF_Projection", 34737), -1) << "no ASCII parameters";
  EXPECT_EQ(std::string(output.header.generating_software), "isocull64 (200509)");
  EXPECT_EQ(std::string(output.header.system_identifier), "Brindlex");
  // The projection of the command line stands for the file's own keys, so their feet are
  // not consulted and the default steps stay 4.
  expect_marked(scene, dir.path() + "/out.las", Mode::kClassify, 7,
                brute_force_verdicts(scene, NoiseParameters{}));
}

TEST(IsocullMarking, VeryVerboseReportsEveryNoisePointBeforeItChanges) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string input = dir.path() + "/sparse.las";
  ASSERT_TRUE(write_points(input, {{1, 1, 1, 2}, {1.5, 1, 1, 2}, {200, 200, 10, 3}}));
  const ToolRun run = run_tool({"-i", "sparse.las", "-o", "out.las", "-vv"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  // Coordinates at the file's precision (scale 0.01), GPS time, intensity, class, return.
  EXPECT_TRUE(
      run.printed("noise point 0: x 1.00 y 1.00 z 1.00 gps_time 1000.000000 intensity 0 "
                  "class 2 return 1 of 1\n"))
      << run.err;
  EXPECT_TRUE(
      run.printed("noise point 1: x 1.50 y 1.00 z 1.00 gps_time 1001.000000 intensity 0 "
                  "class 2 return 1 of 1\n"))
      << run.err;
  EXPECT_TRUE(
      run.printed("noise point 2: x 200.00 y 200.00 z 10.00 gps_time 1002.000000 "
                  "intensity 0 class 3 return 1 of 1\n"))
      << run.err;
  EXPECT_EQ(run.count("noise point "), 3u);
}

TEST(IsocullMarking, CopiedRecordsGiveTheBytesOfThePointByPointPass) {
  // Without an ignore set or per-point reports, plain LAS records are copied from input to
  // output and only the class or flag byte of a noise point is patched; "-vv" makes the tool fill
  // and write every point instead. Both ways must write the same bytes, in every mode, for
  // records that straddle the input's buffer fills and with more items than the core one.
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const int point_type : {1, 3, 6, 7, 8, 9, 10}) {
    const std::string input = dir.path() + "/scene" + std::to_string(point_type) + ".las";
    ASSERT_TRUE(write_scene(input, 30000, point_type, 11, false, 0.03));
    const std::vector<std::vector<std::string>> modes = {
        {"-classify_as", "9"}, {"-flag_as_withheld"}, {"-remove_noise"}, {"-by_flightline"}};
    for (const std::vector<std::string>& mode : modes) {
      std::vector<std::string> copied = {"-i", input, "-o", "copied.las"};
      copied.insert(copied.end(), mode.begin(), mode.end());
      std::vector<std::string> filled = {"-i", input, "-o", "filled.las", "-vv"};
      filled.insert(filled.end(), mode.begin(), mode.end());
      const ToolRun copy_run = run_tool(copied, dir.path());
      const ToolRun fill_run = run_tool(filled, dir.path());
      ASSERT_EQ(copy_run.exit_code, 0) << copy_run.err;
      ASSERT_EQ(fill_run.exit_code, 0) << fill_run.err;
      EXPECT_GT(fill_run.count("noise point "), 100u);
      const std::string bytes = read_text(dir.path() + "/copied.las");
      EXPECT_GT(bytes.size(), 30000u * 28u / 2u);
      EXPECT_TRUE(bytes == read_text(dir.path() + "/filled.las"))
          << "point type " << point_type << " " << mode.front();
    }
  }
}

}  // namespace
