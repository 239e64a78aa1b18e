// End to end: the point filter through the built tool. Its refusals print their one line
// and end the run with code 1; a filtered run marks exactly what a brute force finds among
// the kept points alone, which are all the output holds.

#include <gtest/gtest.h>

#include <functional>

#include "isocull_run.hpp"
#include "small_scene_fixture.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

using IsocullFilter = SmallSceneRun;

TEST_F(IsocullFilter, EveryRefusedFilterOptionPrintsItsLineAndEndsWithCodeOne) {
  struct Refusal {
    std::vector<std::string> filter;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {{"-keep_xy", "1", "2", "3"},
       "ERROR: '-keep_xy' needs 4 arguments: min_x min_y max_x max_y\n"},
      {{"-keep_x", "0", "ten"},
       "ERROR: '-keep_x' needs 2 arguments: min_x max_x but 'ten' is no valid max_x\n"},
      {{"-drop_z_above"}, "ERROR: '-drop_z_above' needs 1 argument: max_z\n"},
      {{"-keep_XY", "1", "2", "3"},
       "ERROR: '-keep_XY' needs 4 arguments: min_X min_Y max_X max_Y\n"},
      {{"-keep_tile", "1", "2"}, "ERROR: '-keep_tile' needs 3 arguments: llx lly size\n"},
      {{"-keep_circle", "1", "2"},
       "ERROR: '-keep_circle' needs 3 arguments: center_x center_y radius\n"},
      {{"-keep_xyz", "1"},
       "ERROR: '-keep_xyz' needs 6 arguments: min_x min_y min_z max_x max_y max_z\n"},
      {{"-keep_attribute_between", "0", "1"},
       "ERROR: '-keep_attribute_between' needs 3 arguments: index min max\n"},
      {{"-keep_attribute_above", "0", "high"},
       "ERROR: '-keep_attribute_above' needs 2 arguments: index value 'high' is no valid value\n"},
      {{"-keep_class"}, "ERROR: '-keep_class' needs at least 1 argument: classification\n"},
      {{"-keep_class", "2", "32"},
       "ERROR: '-keep_class' needs arguments between 0 and 31 but '32' is out of range\n"},
      {{"-drop_class", "40"},
       "ERROR: cannot drop classification 40 because it is larger than 31\n"},
      {{"-drop_classification", "2x"},
       "ERROR: '-drop_classification' needs at least 1 argument: classification but '2x' is no "
       "valid classification\n"},
      {{"-keep_extended_class"},
       "ERROR: '-keep_extended_class' needs at least a argument: classification\n"},
      {{"-keep_extended_class", "256"},
       "ERROR: cannot keep extended classification 256 because it is larger than 255\n"},
      {{"-drop_extended_class", "300"},
       "ERROR: cannot drop extended classification 300 because it is larger than 255\n"},
      {{"-keep_extended_class", "43", "-drop_extended_class", "5"},
       "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n"},
      {{"-drop_extended_classification_mask", "0", "0", "x", "0", "0", "0", "0", "0"},
       "ERROR: '-drop_extended_classification_mask' needs 8 arguments: mask7 mask6 mask5 mask4 "
       "mask3 mask2 mask1 mask0\nbut 'x' is a bad argument for mask5\n"},
      {{"-keep_return", "16"},
       "ERROR: cannot keep return_number 16 because it is larger than 15\n"},
      {{"-drop_return", "3y"},
       "ERROR: '-drop_return' needs at least 1 argument: return_number but '3y' is no valid "
       "return_number\n"},
      {{"-keep_return_mask", "65536"},
       "ERROR: '-keep_return_mask' needs a return_mask between 0 and 65535 but return_mask is "
       "65536\n"},
      {{"-drop_number_of_returns", "16"},
       "ERROR: '-drop_number_of_returns' needs 1 argument: number of returns but '16' is no valid "
       "value\n"},
      {{"-drop_scan_direction", "2"},
       "ERROR: '-drop_scan_direction' needs 1 argument: scan direction but '2' is no valid "
       "value\n"},
      {{"-keep_intensity", "70000", "1"},
       "ERROR: cannot keep intensity because min of 70000 is larger than 65535\n"},
      {{"-keep_intensity", "1", "70000"},
       "ERROR: cannot keep intensity because max of 70000 is larger than 65535\n"},
      {{"-keep_intensity_above", "70000"},
       "ERROR: cannot keep intensity above max of 70000 because it is larger than 65535\n"},
      {{"-keep_scanner_channel", "4"},
       "ERROR: '-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '4' is not "
       "valid\n"},
      {{"-drop_scanner_channel", "4"}, "ERROR: 4 is no valid value for '-drop_scanner_channel'\n"},
      {{"-keep_scanner_channel", "one"},
       "ERROR: '-keep_scanner_channel' needs 1 argument channel but 'one' is no valid value\n"},
      {{"-drop_user_data", "256"},
       "ERROR: cannot drop user data 256 because it is larger than 255\n"},
      {{"-drop_user_data_between", "1", "256"},
       "ERROR: cannot drop user data between min and max because max of 256 is larger than 255\n"},
      {{"-keep_point_source", "1", "2z"},
       "ERROR: '-keep_point_source' takes one or more IDs but '2z' is no valid ID\n"},
      {{"-keep_point_source", "70000"},
       "ERROR: cannot keep_point_source ID 70000 because it is larger than 65535\n"},
      {{"-drop_point_source_above", "65536"},
       "ERROR: cannot drop point source above max_ID of 65536 because it is larger than 65535\n"},
      {{"-keep_every_nth", "0"}, "ERROR: 0 is no valid nth for '-keep_every_nth'\n"},
      {{"-keep_every_nth", "many"},
       "ERROR: '-keep_every_nth' needs 1 argument nth but 'many' is no valid nth\n"},
      {{"-keep_random_fraction"},
       "ERROR: '-keep_random_fraction' needs at least 1 argument: fraction [seed]\n"},
      {{"-keep_random_fraction", "half"},
       "ERROR: '-keep_random_fraction' needs at least 1 argument: fraction [seed] but 'half' is no "
       "valid fraction\n"},
      {{"-keep_random_fraction", "0.5", "seven"},
       "ERROR: '-keep_random_fraction' takes seed as second argument but 'seven' is no valid "
       "seed\n"},
      {{"-thin_with_grid", "0"},
       "ERROR: '-thin_with_grid' needs 1 argument: grid spacing but '0' is no valid value\n"},
      {{"-thin_with_time", "-1"},
       "ERROR: '-thin_with_time' needs 1 argument: time spacing but '-1' is no valid value\n"},
      {{"-keep_first", "-filter_or"},
       "ERROR: '-filter_or' needs to be preceeded by at least two filters\n"},
      {{"-filter_and"}, "ERROR: '-filter_and' needs to be preceeded by at least two filters\n"},
      {{"-drop_frobnicated"}, "ERROR: cannot understand argument '-drop_frobnicated'\n"},
  };
  for (const Refusal& refusal : refusals) {
    std::vector<std::string> args = {"-i", "in.las", "-o", "out.las"};
    args.insert(args.end(), refusal.filter.begin(), refusal.filter.end());
    std::string typed;
    for (const std::string& arg : refusal.filter)
      typed += arg + " ";
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << typed << "\n" << result.err;
    EXPECT_TRUE(result.printed(refusal.message)) << typed << "\n" << result.err;
    EXPECT_EQ(result.count("ERROR: "), 1u) << typed << "\n" << result.err;
    EXPECT_FALSE(exists(path("out.las"))) << typed;
  }
  const ToolRun clip = run({"-i", "in.las", "-clip_box", "0", "0", "0", "1", "1", "1"});
  EXPECT_EQ(clip.exit_code, 1);
  EXPECT_TRUE(
      clip.printed("ERROR: '-clip_box' is no longer recognized. check documentation "
                   "with '-h'.\n  rename '-clip' to '-keep_xy'.\n"))
      << clip.err;
}

// Writes the points of `input` for which `kept` (given the raw record) holds, through the
// project's reader and writer, with `change` applied to each point first.
bool write_kept(const std::string& input, const std::string& output,
                const std::function<bool(const std::vector<std::uint8_t>&)>& kept,
                const std::function<void(LASpoint&, std::size_t)>& change = {}) {
  const LasRecords records = read_records(input);
  if (!records.ok) return false;
  LASreaderLAS reader;
  if (!reader.open_file(input.c_str())) return false;
  LASheader header = reader.header;
  LASwriterLAS writer;
  if (!writer.open_file(output.c_str(), &header)) return false;
  std::size_t index = 0;
  while (reader.read_next()) {
    if (change) change(reader.point, index);
    if (index >= records.records.size()) return false;
    if (kept(records.records[index])) {
      if (!writer.write_point(reader.point)) return false;
      writer.count_point(reader.point);
    }
    index++;
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) > 0 || index == 0;
}

TEST_F(IsocullFilter, KeptClassTwoPointsAreAllTheToolSeesAndWrites) {
  const std::string input = kRealData + "/simple.las";
  if (!exists(input)) GTEST_SKIP() << "no real files in " << kRealData;
  // The class-2 points alone, picked from their class bytes.
  ASSERT_TRUE(write_kept(input, path("class2.las"), [](const std::vector<std::uint8_t>& record) {
    return (record[kLegacyClassByte] & 0x1F) == 2;
  }));
  NoiseParameters coarse;  // the real points are sparse: some cells are full at this size
  coarse.step_xy = coarse.step_z = 200.0f;
  coarse.isolated = 6;
  const Verdicts verdicts = brute_force_verdicts(path("class2.las"), coarse);
  ASSERT_GT(verdicts.noise_count, 0u);
  ASSERT_LT(verdicts.noise_count, verdicts.noise.size());
  const ToolRun result = run(
      {"-i", input, "-keep_class", "2", "-step", "200", "-isolated", "6", "-o", path("out.las")});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  expect_marked(path("class2.las"), path("out.las"), Mode::kClassify, 7, verdicts);
}

TEST_F(IsocullFilter, LastReturnsThatAreNotWithheldAreAllThatIsCountedAndRemovedFrom) {
  const std::string real = kRealData + "/simple.las";
  if (!exists(real)) GTEST_SKIP() << "no real files in " << kRealData;
  // The real points with every fifth one withheld, so that both criteria drop points.
  ASSERT_TRUE(write_kept(
      real, path("marked.las"), [](const std::vector<std::uint8_t>&) { return true; },
      [](LASpoint& point, std::size_t index) { point.set_withheld_flag(index % 5 == 0); }));
  const std::string input = path("marked.las");
  ASSERT_TRUE(write_kept(input, path("kept.las"), [](const std::vector<std::uint8_t>& record) {
    const int r = record[14] & 7;
    const int n = (record[14] >> 3) & 7;
    const bool withheld = (record[kLegacyClassByte] & 0x80) != 0;
    return r >= n && !withheld;
  }));
  NoiseParameters coarse;  // the real points are sparse: some cells are full at this size
  coarse.step_xy = coarse.step_z = 200.0f;
  coarse.isolated = 6;
  const Verdicts verdicts = brute_force_verdicts(path("kept.las"), coarse);
  ASSERT_GT(verdicts.noise_count, 0u);
  const ToolRun result = run({"-i", input, "-keep_last", "-drop_withheld", "-remove_noise", "-step",
                              "200", "-isolated", "6", "-o", path("out.las")});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  expect_marked(path("kept.las"), path("out.las"), Mode::kRemove, 0, verdicts);
}

}  // namespace
