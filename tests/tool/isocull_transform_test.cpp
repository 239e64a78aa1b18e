// End to end: the point transform through the built tool. Its refusals print their one line
// and end the run with code 1; transformed points are what the grid counts and what is
// written, and the output header describes them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "isocull_run.hpp"
#include "small_scene_fixture.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

using IsocullTransform = SmallSceneRun;

TEST_F(IsocullTransform, EveryRefusedTransformOptionPrintsItsLineAndEndsWithCodeOne) {
  struct Refusal {
    std::vector<std::string> transform;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {{"-translate_x"}, "ERROR: '-translate_x' needs 1 argument: offset\n"},
      {{"-translate_x", "1m"},
       "ERROR: '-translate_x' needs 1 argument: offset but '1m' is no valid number\n"},
      {{"-translate_xyz", "1", "2"},
       "ERROR: '-translate_xyz' needs 3 arguments: offset_x offset_y offset_z\n"},
      {{"-rotate_xy", "10", "0"},
       "ERROR: '-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y\n"},
      {{"-rotate_xy", "0", "0", "0"},
       "ERROR: '-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 0 is no valid "
       "angle\n"},
      {{"-change_classification_from_to", "2"},
       "ERROR: '-change_classification_from_to' needs 2 arguments: from_value to_value\n"},
      {{"-change_classification_from_to", "2", "300"},
       "ERROR: cannot change classification because to_value 300 is larger than 255\n"},
      {{"-change_return_number_from_to", "8", "1"},
       "ERROR: cannot change return_number because from_value 8 is larger than 7\n"},
      {{"-map_intensity"}, "ERROR: '-map_intensity' needs 1 argument: map_file_name.txt\n"},
      {{"-map_intensity", "missing.txt"},
       "ERROR: '-map_intensity' needs text file with map but 'missing.txt' cannot be opened\n"},
      {{"-map_attribute_into_RGB", "0", "missing.txt"},
       "ERROR: cannot '-map_attribute_into_RGB' needs text file with map but 'missing.txt' "
       "cannot be opened\n"},
      {{"-load_attribute_from_text", "0", "missing.txt"},
       "ERROR: '-load_attribute_from_text' needs text file with attribute values but "
       "'missing.txt' cannot be opened\n"},
      {{"-multiply_divided_intensity_into_RGB_red"},
       "ERROR: '-multiply_divided_intensity_into_RGB_red' needs 1 argument: divisor \n"},
      {{"-multiply_divided_intensity_into_RGB_red", "0"},
       "ERROR: '-multiply_divided_intensity_into_RGB_red' needs 1 argument: scale but '0' is no "
       "valid divisor\n"},
      {{"-scale_intensity", "0"},
       "ERROR: '-scale_intensity' needs 1 argument: scale but '0' is no valid scale\n"},
      {{"-scale_attribute", "0", "0"},
       "ERROR: '-scale_attribute' needs 2 arguments: index scale but '0' is no valid scale\n"},
      {{"-set_withheld_flag"}, "ERROR: '-set_withheld_flag' need 1 argument: value\n"},
      {{"-set_withheld_flag", "2"},
       "ERROR: cannot set withheld flag because value 2 is larger than 1\n"},
      {{"-set_edge_of_flight_line", "3"},
       "ERROR: cannot set edge of flight line because value 3 is larger than 1\n"},
      {{"-set_point_source"}, "ERROR: '-set_point_source' need 1 argument: psid\n"},
      {{"-set_point_source", "65536"},
       "ERROR: cannot set point source ID because value 65536 is larger than 65535\n"},
      {{"-set_scanner_channel", "4"},
       "ERROR: cannot set scanner channel because value 4 is larger than 3\n"},
      {{"-set_user_data", "256"},
       "ERROR: cannot set user data because value 256 is larger than 255\n"},
      {{"-set_intensity", "65536"},
       "ERROR: cannot set intensity because value of 65536 is larger than 65535\n"},
      {{"-set_scan_angle", "181"},
       "ERROR: cannot set scan angle rank because value 181 is larger than 180\n"},
      {{"-set_scan_angle", "-181"},
       "ERROR: cannot set scan angle because value -181 is smaller than -180\n"},
      {{"-set_return_number", "8"}, "ERROR: cannot set return_number because 8 is larger than 7\n"},
      {{"-set_extended_number_of_returns", "16"},
       "ERROR: cannot set extended_number_of_returns because 16 is larger than 15\n"},
      {{"-set_classification", "256"},
       "ERROR: cannot set classification because classification of 256 is larger than 255\n"},
      {{"-set_RGB", "1", "70000", "3"},
       "ERROR: cannot set RGB because G is 70000, which is larger than 65535\n"},
      {{"-set_RGB_of_class", "256", "1", "2", "3"},
       "ERROR: cannot set RGB because classification is 256, which is larger than 255\n"},
      {{"-clamp_intensity", "70000", "1"},
       "ERROR: cannot clamp intensity because below value of 70000 is larger than 65535\n"},
      {{"-clamp_intensity_above", "70000"},
       "ERROR: cannot clamp intensity because above value of 70000 is larger than 65535\n"},
      {{"-classify_z_below_as", "1", "256"},
       "ERROR: cannot classify z_value because classification of 256 is larger than 255\n"},
      {{"-classify_intensity_between_as", "1", "70000", "2"},
       "ERROR: cannot classify intensity because max_value of 70000 is larger than 65535\n"},
      {{"-classify_attribute_above_as", "0", "1", "300"},
       "ERROR: cannot classify attribute above because classification of 300 is larger than "
       "255\n"},
      {{"-bin_Z_into_point_source", "0"},
       "ERROR: 0 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      {{"-bin_abs_scan_angle_into_point_source", "0"},
       "ERROR: 0.000000 is no valid bin_size for '-bin_abs_scan_angle_into_point_source'\n"},
      {{"-bin_gps_time_into_intensity", "-1"},
       "ERROR: -1 is no valid bin_size for '-bin_gps_time_into_intensity'\n"},
      {{"-transform_helmert", "1,2,3,4,5,6,7,8"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {{"-transform_helmert", "1,2"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {{"-transform_affine", "1,2,3"},
       "ERROR: '-transform_affine' needs 4 comma separated parameters as argument\n"},
      {{"-week_to_adjusted", "-1"},
       "ERROR: '-week_to_adjusted' needs 1 argument: week but '-1' is no valid week\n"},
  };
  for (const Refusal& refusal : refusals) {
    std::vector<std::string> args = {"-i", "in.las", "-o", "out.las"};
    args.insert(args.end(), refusal.transform.begin(), refusal.transform.end());
    std::string typed;
    for (const std::string& arg : refusal.transform)
      typed += arg + " ";
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << typed << "\n" << result.err;
    EXPECT_TRUE(result.printed(refusal.message)) << typed << "\n" << result.err;
    EXPECT_EQ(result.count("ERROR: "), 1u) << typed << "\n" << result.err;
    EXPECT_FALSE(exists(path("out.las"))) << typed;
  }
}

TEST_F(IsocullTransform, ATranslationByWholeCellsMovesEveryPointAndKeepsEveryVerdict) {
  const std::string input = kRealData + "/simple1_4.las";
  if (!exists(input)) GTEST_SKIP() << "no real files in " << kRealData;
  const ToolRun plain = run({"-i", input, "-o", path("plain.las")});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  const ToolRun moved =
      run({"-i", input, "-translate_xyz", "8", "20", "32", "-o", path("moved.las")});
  ASSERT_EQ(moved.exit_code, 0) << moved.err;

  const LasRecords before = read_records(path("plain.las"));
  const LasRecords after = read_records(path("moved.las"));
  ASSERT_TRUE(before.ok && after.ok);
  ASSERT_EQ(before.records.size(), after.records.size());
  const LASheader& h = before.header;
  EXPECT_EQ(after.header.x_offset, h.x_offset);
  EXPECT_EQ(after.header.z_scale_factor, h.z_scale_factor);
  const std::int64_t shift[3] = {std::llround(8 / h.x_scale_factor),
                                 std::llround(20 / h.y_scale_factor),
                                 std::llround(32 / h.z_scale_factor)};
  std::size_t noise = 0;
  for (std::size_t i = 0; i < before.records.size(); i++) {
    std::vector<std::uint8_t> a = before.records[i], b = after.records[i];
    for (int k = 0; k < 3; k++) {
      std::int32_t xa, xb;
      std::memcpy(&xa, a.data() + 4 * k, 4);
      std::memcpy(&xb, b.data() + 4 * k, 4);
      ASSERT_EQ(xb, xa + shift[k]) << "point " << i << " axis " << k;
    }
    // Marks and every other byte are the same: the cells moved as a whole.
    std::memset(a.data(), 0, 12);
    std::memset(b.data(), 0, 12);
    ASSERT_EQ(a, b) << "point " << i;
    noise += a[16] == 7;  // class byte of point type 7
  }
  EXPECT_GT(noise, 0u);
  // The header's bounds are those of the moved points.
  const RecordSummary summary = summarize(after.records, after.header);
  EXPECT_DOUBLE_EQ(after.header.min_x, summary.min_x);
  EXPECT_DOUBLE_EQ(after.header.max_y, summary.max_y);
  EXPECT_DOUBLE_EQ(after.header.max_z, summary.max_z);
  EXPECT_NEAR(after.header.min_x, h.min_x + 8, 1e-6);
  EXPECT_NEAR(after.header.min_z, h.min_z + 32, 1e-6);
}

TEST_F(IsocullTransform, PointsClassifiedAsIgnoredLeaveNothingToDenoise) {
  const ToolRun result =
      run({"-i", "in.las", "-set_classification", "2", "-ignore_class", "2", "-o", "out.las"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.printed("classified 0 noise points of")) << result.err;
  const LasRecords out = read_records(path("out.las"));
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.records.size(), 8u);
  for (const auto& record : out.records)
    EXPECT_EQ(record[kLegacyClassByte], 2);
  // Without the transform the lone point far away is noise.
  const ToolRun plain = run({"-i", "in.las", "-ignore_class", "2", "-o", "plain.las"});
  EXPECT_TRUE(plain.printed("classified 1 noise points of")) << plain.err;
}

TEST_F(IsocullTransform, CoordinatesBeyondTheStoredIntegersAreCountedAndReported) {
  // 3e7 metres at scale 0.01 are 3e9 units: no point fits.
  const ToolRun result = run({"-i", "in.las", "-translate_x", "30000000", "-o", "out.las"});
  EXPECT_TRUE(
      result.printed("WARNING: total of 8 overflows caused by '-translate_x 30000000.000000 '\n"))
      << result.err;
  EXPECT_EQ(result.count("overflows caused"), 1u) << result.err;  // the last pass only
}

TEST_F(IsocullTransform, ColoursOnAPointTypeWithoutThemAreNotWritten) {
  const ToolRun result = run({"-i", "in.las", "-set_RGB", "1", "2", "3", "-o", "out.las"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const LasRecords in = read_records(path("in.las"));
  const LasRecords out = read_records(path("out.las"));
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.header.point_data_format, 1);
  EXPECT_EQ(out.header.point_data_record_length, 28);
  EXPECT_EQ(read_text(path("out.las")).size(), read_text(path("in.las")).size());
  ASSERT_EQ(out.records.size(), in.records.size());
}

TEST_F(IsocullTransform, AttributesAreWrittenThroughTheHeaderDescriptions) {
  const std::string input = kRealData + "/extrabytes.las";
  if (!exists(input)) GTEST_SKIP() << "no real files in " << kRealData;
  const ToolRun result = run({"-i", input, "-set_attribute", "3", "5", "-translate_attribute", "4",
                              "2", "-set_attribute", "1", "9", "-o", path("out.las")});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  LASreaderLAS original, changed;
  ASSERT_TRUE(original.open_file(input.c_str()));
  ASSERT_TRUE(changed.open_file(path("out.las").c_str()));
  const LASattributeSet& set = changed.header;
  // 3 is a U32, 4 a U64; 1 is undocumented bytes, which no value can be written into.
  ASSERT_EQ(set.attribute_count(), 5);
  ASSERT_EQ(set.descriptor(1).data_type, 0);
  std::size_t points = 0;
  while (original.read_next() && changed.read_next()) {
    const LASpoint& a = original.point;
    const LASpoint& b = changed.point;
    EXPECT_EQ(set.get_value(b.extra_bytes.data(), b.extra_bytes_size, 3), 5.0);
    EXPECT_EQ(set.get_value(b.extra_bytes.data(), b.extra_bytes_size, 4),
              set.get_value(a.extra_bytes.data(), a.extra_bytes_size, 4) + 2);
    // Everything before attribute 3 is as it was.
    EXPECT_EQ(std::memcmp(a.extra_bytes.data(), b.extra_bytes.data(), 15), 0) << points;
    points++;
  }
  EXPECT_EQ(points, 1065u);
}

}  // namespace
