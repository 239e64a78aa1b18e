// The point filter on generated points: every criterion family against an expectation
// written out here from the point's fields, the sets that merge, the combinations, and the
// criteria with state over two passes.

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filter/las_filter.hpp"
#include "filter_points.hpp"
#include "model/las_point.hpp"
#include "model/las_scaling.hpp"

namespace {

using filter_points::quarter_scaling;

std::vector<LASpoint> make_points(const LASscaling& scaling, int point_type, int count = 3000) {
  return filter_points::make_points(scaling, nullptr, point_type, count);
}

using filter_points::n;
using filter_points::r;
using filter_points::Row;
using filter_points::x;
using filter_points::y;
using filter_points::z;

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      // Coordinates: half-open at the maximum, closed at the minimum.
      {"-keep_tile -5 -5 10",
       [](const LASpoint& p) { return !(x(p) >= -5 && x(p) < 5 && y(p) >= -5 && y(p) < 5); }},
      {"-keep_circle 1 1 5",
       [](const LASpoint& p) { return (x(p) - 1) * (x(p) - 1) + (y(p) - 1) * (y(p) - 1) >= 25; }},
      {"-keep_xy -2 -3 4 5",
       [](const LASpoint& p) { return !(x(p) >= -2 && x(p) < 4 && y(p) >= -3 && y(p) < 5); }},
      {"-drop_xy -2 -3 4 5",
       [](const LASpoint& p) { return x(p) >= -2 && x(p) < 4 && y(p) >= -3 && y(p) < 5; }},
      {"-keep_xyz -2 -3 0 4 5 10",
       [](const LASpoint& p) {
         return !(x(p) >= -2 && x(p) < 4 && y(p) >= -3 && y(p) < 5 && z(p) >= 0 && z(p) < 10);
       }},
      {"-drop_xyz -2 -3 0 4 5 10",
       [](const LASpoint& p) {
         return x(p) >= -2 && x(p) < 4 && y(p) >= -3 && y(p) < 5 && z(p) >= 0 && z(p) < 10;
       }},
      {"-keep_x 0 10", [](const LASpoint& p) { return x(p) < 0 || x(p) >= 10; }},
      {"-drop_y 0 10", [](const LASpoint& p) { return y(p) >= 0 && y(p) < 10; }},
      {"-drop_x_below 2.5", [](const LASpoint& p) { return x(p) < 2.5; }},
      {"-drop_y_above 2.5", [](const LASpoint& p) { return y(p) >= 2.5; }},
      {"-keep_z_above 10", [](const LASpoint& p) { return z(p) < 10; }},
      {"-drop_z_above 10", [](const LASpoint& p) { return z(p) >= 10; }},
      {"-keep_z_below 10", [](const LASpoint& p) { return z(p) >= 10; }},
      {"-keep_X -8 8", [](const LASpoint& p) { return p.X < -8 || p.X >= 8; }},
      {"-keep_XY -8 0 8 20",
       [](const LASpoint& p) { return !(p.X >= -8 && p.X < 8 && p.Y >= 0 && p.Y < 20); }},
      {"-drop_Z 0 40", [](const LASpoint& p) { return p.Z >= 0 && p.Z < 40; }},
      {"-keep_Z_above 40", [](const LASpoint& p) { return p.Z < 40; }},
      {"-drop_Y_above 4", [](const LASpoint& p) { return p.Y >= 4; }},
      // Return numbering.
      {"-keep_first", [](const LASpoint& p) { return r(p) > 1; }},
      {"-keep_last", [](const LASpoint& p) { return r(p) < n(p); }},
      {"-drop_last", [](const LASpoint& p) { return r(p) >= n(p); }},
      {"-keep_second_last", [](const LASpoint& p) { return !(n(p) >= 2 && r(p) == n(p) - 1); }},
      {"-keep_first_of_many", [](const LASpoint& p) { return n(p) == 1 || r(p) > 1; }},
      {"-drop_last_of_many", [](const LASpoint& p) { return n(p) > 1 && r(p) >= n(p); }},
      {"-keep_middle", [](const LASpoint& p) { return r(p) == 1 || r(p) >= n(p); }},
      {"-drop_middle", [](const LASpoint& p) { return r(p) > 1 && r(p) < n(p); }},
      {"-keep_return 1 3", [](const LASpoint& p) { return r(p) != 1 && r(p) != 3; }},
      {"-drop_return_mask 6", [](const LASpoint& p) { return r(p) == 1 || r(p) == 2; }},
      {"-keep_double", [](const LASpoint& p) { return n(p) != 2; }},
      {"-drop_number_of_returns 4", [](const LASpoint& p) { return n(p) == 4; }},
      // Scanline flags and intensity.
      {"-drop_scan_direction 1", [](const LASpoint& p) { return p.scan_direction_flag == 1; }},
      {"-keep_edge_of_flight_line", [](const LASpoint& p) { return p.edge_of_flight_line == 0; }},
      {"-keep_intensity 50 100",
       [](const LASpoint& p) { return p.intensity < 50 || p.intensity > 100; }},
      {"-keep_intensity_above 100", [](const LASpoint& p) { return p.intensity <= 100; }},
      {"-drop_intensity_above 100", [](const LASpoint& p) { return p.intensity > 100; }},
      {"-drop_intensity_between 90 100",
       [](const LASpoint& p) { return p.intensity >= 90 && p.intensity <= 100; }},
      // Classes and flags.
      {"-keep_class 2 6",
       [](const LASpoint& p) { return p.classification != 2 && p.classification != 6; }},
      {"-drop_classification 1 2 9",
       [](const LASpoint& p) {
         return p.classification == 1 || p.classification == 2 || p.classification == 9;
       }},
      {"-keep_classification_mask 12",
       [](const LASpoint& p) { return p.classification != 2 && p.classification != 3; }},
      {"-keep_extended_class 3", [](const LASpoint& p) { return p.classification != 3; }},
      {"-drop_extended_classification_mask 0 0 0 0 0 0 0 16",
       [](const LASpoint& p) { return p.classification == 4; }},
      {"-drop_synthetic", [](const LASpoint& p) { return p.synthetic_flag == 1; }},
      {"-keep_keypoint", [](const LASpoint& p) { return p.keypoint_flag == 0; }},
      {"-drop_withheld", [](const LASpoint& p) { return p.withheld_flag == 1; }},
      {"-keep_overlap",
       [](const LASpoint& p) { return (p.extended_classification_flags & 8) == 0; }},
      {"-keep_scanner_channel 2",
       [](const LASpoint& p) { return p.extended_scanner_channel != 2; }},
      // User data, point source, scan angle.
      {"-keep_user_data_between 2 4",
       [](const LASpoint& p) { return p.user_data < 2 || p.user_data > 4; }},
      {"-drop_user_data 1 5",
       [](const LASpoint& p) { return p.user_data == 1 || p.user_data == 5; }},
      {"-drop_user_data_below 3", [](const LASpoint& p) { return p.user_data < 3; }},
      {"-keep_point_source 1 2 3",
       [](const LASpoint& p) { return p.point_source_ID < 1 || p.point_source_ID > 3; }},
      {"-drop_point_source 0 4",
       [](const LASpoint& p) { return p.point_source_ID == 0 || p.point_source_ID == 4; }},
      {"-keep_point_source_between 2 3",
       [](const LASpoint& p) { return p.point_source_ID < 2 || p.point_source_ID > 3; }},
      {"-keep_scan_angle 10 -10",
       [](const LASpoint& p) { return p.scan_angle_rank < -10 || p.scan_angle_rank > 10; }},
      {"-drop_abs_scan_angle_above 20",
       [](const LASpoint& p) { return std::abs(p.scan_angle_rank) > 20; }},
      {"-drop_abs_scan_angle_below 1", [](const LASpoint& p) { return p.scan_angle_rank == 0; }},
      {"-drop_abs_scan_angle_below 5",
       [](const LASpoint& p) { return std::abs(p.scan_angle_rank) <= 4; }},
      // GPS time (only points that have one) and colour.
      {"-keep_gps_time 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && (p.gps_time < 1050 || p.gps_time > 1100);
       }},
      {"-keep_gps_time_above 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time < 1100; }},
      {"-drop_gpstime_between 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && p.gps_time >= 1050 && p.gps_time <= 1100;
       }},
      {"-keep_RGB_red 100 200", [](const LASpoint& p) { return p.rgb[0] < 100 || p.rgb[0] > 200; }},
      {"-drop_RGB_blue 200 0", [](const LASpoint& p) { return p.rgb[2] <= 200; }},
      {"-keep_RGB_greenness 0 1000",
       [](const LASpoint& p) {
         const int g = 2 * p.rgb[1] - p.rgb[2] - p.rgb[0];
         return g < 0 || g > 1000;
       }},
      {"-keep_NDVI_from_CIR 0.2 1",
       [](const LASpoint& p) {
         const float v = (float(p.rgb[0]) - float(p.rgb[1])) / (float(p.rgb[0]) + float(p.rgb[1]));
         return !(v >= 0.2f && v <= 1.0f);
       }},
      {"-keep_NDVI_green_is_NIR -0.5 0.5",
       [](const LASpoint& p) {
         const float v = (float(p.rgb[1]) - float(p.rgb[0])) / (float(p.rgb[1]) + float(p.rgb[0]));
         return !(v >= -0.5f && v <= 0.5f);
       }},
      // Boolean combinations, read as what is kept.
      {"-keep_xy -10 -10 0 0 -keep_xy 0 0 10 10 -filter_or",
       [](const LASpoint& p) {
         return !((x(p) < 0 && y(p) < 0) || (x(p) >= 0 && x(p) < 10 && y(p) >= 0 && y(p) < 10));
       }},
      {"-keep_first -keep_class 2 -filter_and",
       [](const LASpoint& p) { return r(p) > 1 || p.classification != 2; }},
      {"-keep_first -keep_class 2 -filter_and -drop_withheld -filter_or",
       [](const LASpoint& p) { return (r(p) > 1 || p.classification != 2) && p.withheld_flag; }},
  };
  return table;
}

TEST(LasFilter, EveryCriterionDropsExactlyThePointsItsDefinitionNames) {
  const LASscaling scaling = quarter_scaling();
  for (int point_type : {0, 3}) {
    const std::vector<LASpoint> points = make_points(scaling, point_type);
    for (const Row& row : rows()) {
      LASfilter filter;
      ASSERT_TRUE(filter.parse(row.command)) << row.command;
      ASSERT_TRUE(filter.active()) << row.command;
      std::size_t dropped = 0;
      std::size_t wrong = 0;
      for (const LASpoint& point : points) {
        const bool expected = row.dropped(point);
        dropped += expected;
        if (filter.filter(point) != expected && wrong++ < 3) {
          ADD_FAILURE() << row.command << " on point type " << point_type << ": X " << point.X
                        << " Y " << point.Y << " Z " << point.Z << " r " << r(point) << " n "
                        << n(point) << " expected " << (expected ? "drop" : "keep");
        }
      }
      // A row that drops nothing or everything would prove little.
      if (point_type == 3) {
        EXPECT_GT(dropped, 0u) << row.command;
        EXPECT_LT(dropped, points.size()) << row.command;
      }
      // The written command parses to a filter that decides the same.
      LASfilter again;
      ASSERT_TRUE(again.parse(filter.write_command().c_str())) << filter.write_command();
      for (const LASpoint& point : points)
        ASSERT_EQ(again.filter(point), row.dropped(point)) << filter.write_command();
    }
  }
}

TEST(LasFilter, ClassSetsMergeOnlyWithADirectlyPrecedingSetAndCountersNameTheDropper) {
  LASfilter merged;
  ASSERT_TRUE(merged.parse("-keep_class 2 -keep_class 6"));
  EXPECT_EQ(merged.criteria_count(), 1u);
  EXPECT_EQ(merged.write_command(), "-keep_class 2 6 ");

  LASfilter apart;
  ASSERT_TRUE(apart.parse("-keep_class 2 -drop_withheld -keep_class 6"));
  EXPECT_EQ(apart.criteria_count(), 3u);

  LASfilter counted;
  ASSERT_TRUE(counted.parse("-keep_class 2 6 -drop_withheld"));
  const LASscaling scaling = quarter_scaling();
  LASpoint point;
  point.init_for_point_type(&scaling, 0, 20, nullptr);
  point.set_classification(2);
  point.set_withheld_flag(true);
  EXPECT_TRUE(counted.filter(point));
  point.set_classification(3);
  EXPECT_TRUE(counted.filter(point));
  point.set_classification(6);
  point.set_withheld_flag(false);
  EXPECT_FALSE(counted.filter(point));
  for (int i = 0; i < 2; i++)
    EXPECT_TRUE(apart.filter(point)) << "no point passes both class tests";
  EXPECT_EQ(counted.drop_count(0), 1);
  EXPECT_EQ(counted.drop_count(1), 1);
  counted.reset();
  EXPECT_EQ(counted.drop_count(0), 1) << "reset keeps the counters";

  LASfilter returns;
  ASSERT_TRUE(returns.parse("-drop_return 1 -drop_return 3"));
  EXPECT_EQ(returns.write_command(), "-drop_return 1 3 ");
}

TEST(LasFilter, LayersAreTheUnionOfWhatTheCriteriaRead) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"-keep_xy 0 0 1 1 -keep_first -thin_with_grid 1", 0u},
      {"-keep_class 2", kLayerClassification},
      {"-keep_z 0 1 -drop_withheld", kLayerZ | kLayerFlags},
      {"-keep_NDVI 0 1", kLayerRGB | kLayerNIR},
      {"-keep_NDVI_intensity_is_NIR 0 1", kLayerRGB | kLayerIntensity},
      {"-keep_gps_time 0 1 -keep_user_data 3 -filter_or", kLayerGpsTime | kLayerUserData},
      {"-drop_attribute_below 0 1", kLayerExtraBytes},
  };
  for (const auto& [command, layers] : cases) {
    LASfilter filter;
    ASSERT_TRUE(filter.parse(command));
    EXPECT_EQ(filter.get_selective_decoding(), layers) << command;
  }
}

// Runs `command` over the points twice, with a reset between, and returns the kept indexes
// of both passes.
std::pair<std::vector<int>, std::vector<int>> two_passes(const char* command,
                                                         const std::vector<LASpoint>& points) {
  LASfilter filter;
  EXPECT_TRUE(filter.parse(command)) << command;
  std::pair<std::vector<int>, std::vector<int>> kept;
  for (std::vector<int>* pass : {&kept.first, &kept.second}) {
    filter.reset();
    for (int i = 0; i < static_cast<int>(points.size()); i++) {
      if (!filter.filter(points[i])) pass->push_back(i);
    }
  }
  return kept;
}

TEST(LasFilter, StatefulCriteriaSelectTheSamePointsOnEveryPass) {
  const LASscaling scaling = quarter_scaling();
  const std::vector<LASpoint> points = make_points(scaling, 3, 1001);
  const int count = static_cast<int>(points.size());

  {  // every nth: points n, 2n, 3n, ...
    const auto [first, second] = two_passes("-keep_every_nth 3", points);
    std::vector<int> expected;
    for (int i = 2; i < count; i += 3)
      expected.push_back(i);
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(two_passes("-keep_every_nth 1", points).first.size(), points.size());
    EXPECT_EQ(two_passes("-drop_every_nth 3", points).second.size(),
              points.size() - expected.size());
  }
  {  // random fraction: the 15-bit generator reseeded with each value it draws
    const auto [first, second] = two_passes("-keep_random_fraction 0.5", points);
    std::vector<int> expected;
    std::uint32_t seed = 0;
    for (int i = 0; i < count; i++) {
      const std::uint32_t state = seed * 214013u + 2531011u;
      seed = (state >> 16) & 0x7FFF;
      if (!(static_cast<float>(seed) / 32767.0f > 0.5f)) expected.push_back(i);
    }
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    // After srand(1) the Windows C runtime's first rand() is 41: 41 / 32767 = 0.00125.
    LASfilter low, high;
    ASSERT_TRUE(low.parse("-keep_random_fraction 0.001 1"));
    ASSERT_TRUE(high.parse("-keep_random_fraction 0.002 1"));
    EXPECT_TRUE(low.filter(points[0]));
    EXPECT_FALSE(high.filter(points[0]));
  }
  {  // grid thinning: the first point of every occupied cell, on all sides of the first point
    const auto [first, second] = two_passes("-thin_with_grid 1", points);
    std::vector<int> expected;
    std::set<std::pair<long, long>> seen;
    bool left_or_below = false;
    for (int i = 0; i < count; i++) {
      const std::pair<long, long> cell{std::lround(std::floor(x(points[i]))),
                                       std::lround(std::floor(y(points[i])))};
      if (seen.insert(cell).second) expected.push_back(i);
      left_or_below |= x(points[i]) < x(points[0]) - 1 || y(points[i]) < y(points[0]) - 1;
    }
    EXPECT_TRUE(left_or_below);
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
  }
  {  // time thinning of points and of pulses
    const auto points_kept = two_passes("-thin_points_with_time 7", points);
    const auto pulses_kept = two_passes("-thin_pulses_with_time 7", points);
    std::vector<int> expected_points, expected_pulses;
    std::map<long, double> first_time;
    for (int i = 0; i < count; i++) {
      const long bucket = std::lround(std::floor(points[i].gps_time / 7.0));
      const auto [entry, fresh] = first_time.emplace(bucket, points[i].gps_time);
      if (fresh) expected_points.push_back(i);
      if (entry->second == points[i].gps_time) expected_pulses.push_back(i);
    }
    EXPECT_EQ(points_kept.first, expected_points);
    EXPECT_EQ(points_kept.second, expected_points);
    EXPECT_EQ(pulses_kept.second, expected_pulses);
    EXPECT_GT(expected_pulses.size(), expected_points.size());
  }
  {  // scan direction changes: the first point has no predecessor
    const auto [first, second] = two_passes("-keep_scan_direction_change", points);
    std::vector<int> expected;
    for (int i = 1; i < count; i++) {
      if (points[i].scan_direction_flag != points[i - 1].scan_direction_flag) expected.push_back(i);
    }
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
  }
}

TEST(LasFilter, ParsingBlanksWhatItTakesAndLeavesTheRest) {
  std::vector<std::string> words = {"tool", "-i", "a.las", "-keep_class",         "2",
                                    "6",    "-o", "b.las", "-drop_unknown_thing", "-keep_first"};
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  LASfilter filter;
  ASSERT_TRUE(filter.parse(static_cast<int>(argv.size()), argv.data()));
  EXPECT_EQ(filter.write_command(), "-keep_class 2 6 -keep_first ");
  const std::vector<std::string> left = {
      "tool", "-i", "a.las", "", "", "", "-o", "b.las", "-drop_unknown_thing", ""};
  std::vector<std::string> now(argv.begin(), argv.end());
  EXPECT_EQ(now, left);
}

}  // namespace
