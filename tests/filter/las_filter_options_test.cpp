// Every filter option not in the family table of las_filter_test.cpp, each against an
// expectation written out here from the point's fields, and the arguments refused with their
// messages.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "filter/las_filter.hpp"
#include "filter_points.hpp"

namespace {

using filter_points::attribute_of;

using filter_points::n;
using filter_points::r;
using filter_points::Row;
using filter_points::x;
using filter_points::y;
using filter_points::z;
int c(const LASpoint& p) {
  return p.classification;
}
bool outside_ndvi(float nir, float red, float min, float max) {
  const float index = (nir - red) / (nir + red);
  return !(min <= index && index <= max);
}

const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      // Coordinates.
      {"-drop_x -2 4", [](const LASpoint& p) { return x(p) >= -2 && x(p) < 4; }},
      {"-drop_x_above 2.5", [](const LASpoint& p) { return x(p) >= 2.5; }},
      {"-drop_x_below -2.5", [](const LASpoint& p) { return x(p) < -2.5; }},
      {"-keep_y -3 5", [](const LASpoint& p) { return y(p) < -3 || y(p) >= 5; }},
      {"-drop_y_below -2.5", [](const LASpoint& p) { return y(p) < -2.5; }},
      {"-keep_z -2 6", [](const LASpoint& p) { return z(p) < -2 || z(p) >= 6; }},
      {"-drop_z -2 6", [](const LASpoint& p) { return z(p) >= -2 && z(p) < 6; }},
      {"-drop_z_below 3", [](const LASpoint& p) { return z(p) < 3; }},
      {"-keep_Y -8 8", [](const LASpoint& p) { return p.Y < -8 || p.Y >= 8; }},
      {"-keep_Z 0 40", [](const LASpoint& p) { return p.Z < 0 || p.Z >= 40; }},
      {"-keep_Z_below 40", [](const LASpoint& p) { return p.Z >= 40; }},
      {"-drop_X -8 8", [](const LASpoint& p) { return p.X >= -8 && p.X < 8; }},
      {"-drop_X_below -8", [](const LASpoint& p) { return p.X < -8; }},
      {"-drop_X_above 8", [](const LASpoint& p) { return p.X >= 8; }},
      {"-drop_Y -8 8", [](const LASpoint& p) { return p.Y >= -8 && p.Y < 8; }},
      {"-drop_Y_below -4", [](const LASpoint& p) { return p.Y < -4; }},
      {"-drop_Z_below 0", [](const LASpoint& p) { return p.Z < 0; }},
      {"-drop_Z_above 40", [](const LASpoint& p) { return p.Z >= 40; }},
      // Return numbering.
      {"-first_only", [](const LASpoint& p) { return r(p) > 1; }},
      {"-last_only", [](const LASpoint& p) { return r(p) < n(p); }},
      {"-drop_first", [](const LASpoint& p) { return r(p) == 1; }},
      {"-drop_second_last", [](const LASpoint& p) { return n(p) >= 2 && r(p) == n(p) - 1; }},
      {"-keep_last_of_many", [](const LASpoint& p) { return r(p) == 1 || r(p) < n(p); }},
      {"-drop_first_of_many", [](const LASpoint& p) { return n(p) >= 2 && r(p) == 1; }},
      {"-keep_return_mask 10", [](const LASpoint& p) { return r(p) != 1 && r(p) != 3; }},
      {"-drop_return 2", [](const LASpoint& p) { return r(p) == 2; }},
      {"-keep_single", [](const LASpoint& p) { return n(p) != 1; }},
      {"-keep_triple", [](const LASpoint& p) { return n(p) != 3; }},
      {"-keep_quadruple", [](const LASpoint& p) { return n(p) != 4; }},
      {"-keep_quintuple", [](const LASpoint& p) { return n(p) != 5; }},
      {"-drop_single", [](const LASpoint& p) { return n(p) == 1; }},
      {"-drop_double", [](const LASpoint& p) { return n(p) == 2; }},
      {"-drop_triple", [](const LASpoint& p) { return n(p) == 3; }},
      {"-drop_quadruple", [](const LASpoint& p) { return n(p) == 4; }},
      {"-drop_quintuple", [](const LASpoint& p) { return n(p) == 5; }},
      {"-keep_number_of_returns 6", [](const LASpoint& p) { return n(p) != 6; }},
      // Scanline flags and intensity.
      {"-drop_scan_direction 0", [](const LASpoint& p) { return p.scan_direction_flag == 0; }},
      {"-keep_intensity_below 100", [](const LASpoint& p) { return p.intensity >= 100; }},
      {"-drop_intensity_below 100", [](const LASpoint& p) { return p.intensity < 100; }},
      {"-keep_intensity 0 99", [](const LASpoint& p) { return p.intensity > 99; }},
      // Classes and flags.
      {"-drop_class 3 5", [](const LASpoint& p) { return c(p) == 3 || c(p) == 5; }},
      {"-keep_classification 4 7", [](const LASpoint& p) { return c(p) != 4 && c(p) != 7; }},
      {"-drop_classification_mask 6", [](const LASpoint& p) { return c(p) == 1 || c(p) == 2; }},
      {"-keep_extended_classification 2 8",
       [](const LASpoint& p) { return c(p) != 2 && c(p) != 8; }},
      {"-drop_extended_class 1", [](const LASpoint& p) { return c(p) == 1; }},
      {"-drop_extended_classification 9 0", [](const LASpoint& p) { return c(p) == 9 || !c(p); }},
      {"-keep_synthetic", [](const LASpoint& p) { return p.synthetic_flag == 0; }},
      {"-keep_withheld", [](const LASpoint& p) { return p.withheld_flag == 0; }},
      {"-drop_keypoint", [](const LASpoint& p) { return p.keypoint_flag == 1; }},
      {"-drop_overlap", [](const LASpoint& p) { return p.get_overlap_flag(); }},
      {"-drop_scanner_channel 1",
       [](const LASpoint& p) { return p.extended_scanner_channel == 1; }},
      {"-keep_scanner_channel 3",
       [](const LASpoint& p) { return p.extended_scanner_channel != 3; }},
      // User data and point source.
      {"-keep_user_data 3", [](const LASpoint& p) { return p.user_data != 3; }},
      {"-keep_user_data_below 3", [](const LASpoint& p) { return p.user_data >= 3; }},
      {"-keep_user_data_above 3", [](const LASpoint& p) { return p.user_data <= 3; }},
      {"-drop_user_data_above 5", [](const LASpoint& p) { return p.user_data > 5; }},
      {"-drop_user_data_between 2 4",
       [](const LASpoint& p) { return p.user_data >= 2 && p.user_data <= 4; }},
      {"-drop_point_source_below 2", [](const LASpoint& p) { return p.point_source_ID < 2; }},
      {"-drop_point_source_above 3", [](const LASpoint& p) { return p.point_source_ID > 3; }},
      {"-drop_point_source_between 1 2",
       [](const LASpoint& p) { return p.point_source_ID >= 1 && p.point_source_ID <= 2; }},
      // Scan angle, bounds in either order.
      {"-keep_scan_angle_between 20 -5",
       [](const LASpoint& p) { return p.scan_angle_rank < -5 || p.scan_angle_rank > 20; }},
      {"-drop_scan_angle_above 10", [](const LASpoint& p) { return p.scan_angle_rank > 10; }},
      {"-drop_scan_angle_below -10", [](const LASpoint& p) { return p.scan_angle_rank < -10; }},
      {"-drop_scan_angle_between 5 -5",
       [](const LASpoint& p) { return p.scan_angle_rank >= -5 && p.scan_angle_rank <= 5; }},
      // GPS time: a point without one is never dropped.
      {"-keep_gpstime 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && (p.gps_time < 1050 || p.gps_time > 1100);
       }},
      {"-keep_gps_time_between 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && (p.gps_time < 1050 || p.gps_time > 1100);
       }},
      {"-keep_gpstime_between 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && (p.gps_time < 1050 || p.gps_time > 1100);
       }},
      {"-keep_gpstime_above 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time < 1100; }},
      {"-keep_gps_time_below 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time > 1100; }},
      {"-keep_gpstime_below 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time > 1100; }},
      {"-drop_gps_time_above 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time > 1100; }},
      {"-drop_gpstime_above 1100",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time > 1100; }},
      {"-drop_gps_time_below 1050",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time < 1050; }},
      {"-drop_gpstime_below 1050",
       [](const LASpoint& p) { return p.has_gps_time && p.gps_time < 1050; }},
      {"-drop_gps_time_between 1050 1100",
       [](const LASpoint& p) {
         return p.has_gps_time && p.gps_time >= 1050 && p.gps_time <= 1100;
       }},
      // Colour channels, bounds in either order, and the indices.
      {"-keep_RGB_green 100 200",
       [](const LASpoint& p) { return p.rgb[1] < 100 || p.rgb[1] > 200; }},
      {"-keep_RGB_blue 100 0", [](const LASpoint& p) { return p.rgb[2] > 100; }},
      {"-keep_RGB_nir 100 200", [](const LASpoint& p) { return p.rgb[3] < 100 || p.rgb[3] > 200; }},
      {"-drop_RGB_red 200 100",
       [](const LASpoint& p) { return p.rgb[0] >= 100 && p.rgb[0] <= 200; }},
      {"-drop_RGB_green 0 0", [](const LASpoint& p) { return p.rgb[1] == 0; }},
      {"-drop_RGB_nir 300 300", [](const LASpoint& p) { return p.rgb[3] == 300; }},
      {"-keep_NDVI 0 1", [](const LASpoint& p) { return outside_ndvi(p.rgb[3], p.rgb[0], 0, 1); }},
      {"-keep_NDVI_blue_is_NIR -0.5 0.5",
       [](const LASpoint& p) { return outside_ndvi(p.rgb[2], p.rgb[0], -0.5f, 0.5f); }},
      {"-keep_NDVI_intensity_is_NIR 0 0.5",
       [](const LASpoint& p) { return outside_ndvi(p.intensity, p.rgb[0], 0, 0.5f); }},
      // Wave packets and attributes (attribute 1 does not exist: its value is 0).
      {"-keep_wavepacket 2", [](const LASpoint& p) { return p.wave_packet[0] != 2; }},
      {"-drop_wavepacket 1", [](const LASpoint& p) { return p.wave_packet[0] == 1; }},
      {"-keep_attribute_above 0 1.5", [](const LASpoint& p) { return attribute_of(p) <= 1.5; }},
      {"-keep_attribute_below 0 1.5", [](const LASpoint& p) { return attribute_of(p) >= 1.5; }},
      {"-keep_attribute_between 0 -1 2",
       [](const LASpoint& p) { return attribute_of(p) < -1 || attribute_of(p) > 2; }},
      {"-drop_attribute_above 0 1.5", [](const LASpoint& p) { return attribute_of(p) > 1.5; }},
      {"-drop_attribute_below 0 -1", [](const LASpoint& p) { return attribute_of(p) < -1; }},
      {"-drop_attribute_between 0 -1 1",
       [](const LASpoint& p) { return attribute_of(p) >= -1 && attribute_of(p) <= 1; }},
      {"-drop_attribute_below 1 0.5 -drop_attribute_above 1 -0.5 -filter_and",
       [](const LASpoint&) { return true; }},
  };
  return table;
}

TEST(LasFilterOptions, EveryOtherOptionDropsExactlyThePointsItsDefinitionNames) {
  const LASscaling scaling = filter_points::quarter_scaling();
  const auto attributes = filter_points::one_attribute();
  for (int point_type : {0, 3}) {
    const std::vector<LASpoint> points =
        filter_points::make_points(scaling, attributes.get(), point_type);
    for (const Row& row : rows()) {
      SCOPED_TRACE(std::string(row.command) + " on point type " + std::to_string(point_type));
      LASfilter filter;
      testing::internal::CaptureStderr();
      const bool parsed = filter.parse(row.command);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      ASSERT_TRUE(parsed);
      std::size_t dropped = 0, wrong = 0;
      for (const LASpoint& point : points) {
        const bool expected = row.dropped(point);
        dropped += expected;
        if (filter.filter(point) != expected && wrong++ < 3) {
          ADD_FAILURE() << "X " << point.X << " Y " << point.Y << " Z " << point.Z << " r "
                        << r(point) << " n " << n(point) << " expected "
                        << (expected ? "drop" : "keep");
        }
      }
      if (point_type == 3 && std::string(row.command).find("filter_and") == std::string::npos) {
        EXPECT_GT(dropped, 0u);
        EXPECT_LT(dropped, points.size());
      }
      // The written command parses to a filter that decides the same.
      LASfilter again;
      ASSERT_TRUE(again.parse(filter.write_command().c_str())) << filter.write_command();
      for (const LASpoint& point : points)
        ASSERT_EQ(again.filter(point), row.dropped(point)) << filter.write_command();
    }
  }
}

TEST(LasFilterOptions, ThinningWithTimeIsThinningPulses) {
  const LASscaling scaling = filter_points::quarter_scaling();
  const std::vector<LASpoint> points = filter_points::make_points(scaling, nullptr, 3, 500);
  LASfilter with_time, pulses;
  ASSERT_TRUE(with_time.parse("-thin_with_time 3"));
  ASSERT_TRUE(pulses.parse("-thin_pulses_with_time 3"));
  int dropped = 0;
  for (const LASpoint& point : points) {
    const bool drop = pulses.filter(point);
    dropped += drop;
    ASSERT_EQ(with_time.filter(point), drop);
  }
  EXPECT_GT(dropped, 0);
}

// A combination holds criteria with state: a new pass starts them afresh, as it does alone.
TEST(LasFilterOptions, StatefulCriteriaInsideACombinationStartAfreshOnEveryPass) {
  const LASscaling scaling = filter_points::quarter_scaling();
  const std::vector<LASpoint> points = filter_points::make_points(scaling, nullptr, 3, 600);
  for (const char* command :
       {"-keep_every_nth 3 -keep_class 2 -filter_or", "-keep_class 2 -thin_with_grid 2 -filter_or",
        "-drop_withheld -keep_every_nth 2 -filter_and"}) {
    SCOPED_TRACE(command);
    LASfilter filter;
    ASSERT_TRUE(filter.parse(command));
    std::vector<bool> first, second;
    for (std::vector<bool>* pass : {&first, &second}) {
      filter.reset();
      for (const LASpoint& point : points)
        pass->push_back(filter.filter(point));
    }
    EXPECT_EQ(first, second);
  }
}

struct Refusal {
  const char* command;
  const char* message;
};

TEST(LasFilterOptions, ArgumentsOutOfRangeOrMissingAreRefusedByName) {
  const Refusal refusals[] = {
      {"-keep_every_nth 0", "ERROR: 0 is no valid nth for '-keep_every_nth'\n"},
      {"-drop_every_nth 0", "ERROR: 0 is no valid nth for '-drop_every_nth'\n"},
      {"-keep_every_nth x",
       "ERROR: '-keep_every_nth' needs 1 argument nth but 'x' is no valid nth\n"},
      {"-thin_with_grid 0",
       "ERROR: '-thin_with_grid' needs 1 argument: grid spacing but '0' is no valid value\n"},
      {"-thin_pulses_with_time -1",
       "ERROR: '-thin_pulses_with_time' needs 1 argument: time spacing but '-1' is no valid "
       "value\n"},
      {"-thin_points_with_time 0",
       "ERROR: '-thin_points_with_time' needs 1 argument: time spacing but '0' is no valid "
       "value\n"},
      {"-keep_number_of_returns 16",
       "ERROR: '-keep_number_of_returns' needs 1 argument: number of returns but '16' is no "
       "valid value\n"},
      {"-keep_intensity 65536 2",
       "ERROR: cannot keep intensity because min of 65536 is larger than 65535\n"},
      {"-keep_intensity 2 65536",
       "ERROR: cannot keep intensity because max of 65536 is larger than 65535\n"},
      {"-keep_intensity_above 65536",
       "ERROR: cannot keep intensity above max of 65536 because it is larger than 65535\n"},
      {"-keep_intensity_below 65536",
       "ERROR: cannot keep intensity below min of 65536 because it is larger than 65535\n"},
      {"-keep_point_source_between 65536 1",
       "ERROR: cannot keep point source because min_ID of 65536 is larger than 65535\n"},
      {"-keep_point_source_between 1 65536",
       "ERROR: cannot keep point source because max_ID of 65536 is larger than 65535\n"},
      {"-drop_point_source_below 65536",
       "ERROR: cannot drop point source below min_ID of 65536 because it is larger than "
       "65535\n"},
      {"-drop_point_source_above 65536",
       "ERROR: cannot drop point source above max_ID of 65536 because it is larger than "
       "65535\n"},
      {"-drop_point_source_between 65536 1",
       "ERROR: cannot drop point source because min_ID of 65536 is larger than 65535\n"},
      {"-drop_point_source_between 1 65536",
       "ERROR: cannot drop point source because max_ID of 65536 is larger than 65535\n"},
      {"-drop_user_data_below 256",
       "ERROR: cannot drop user data below 256 because it is larger than 255\n"},
      {"-drop_user_data_above 256",
       "ERROR: cannot drop user data above 256 because it is larger than 255\n"},
      {"-drop_user_data_between 256 1",
       "ERROR: cannot drop user data between min and max because min of 256 is larger than "
       "255\n"},
      {"-drop_user_data_between 1 256",
       "ERROR: cannot drop user data between min and max because max of 256 is larger than "
       "255\n"},
      {"-drop_scan_direction 2",
       "ERROR: '-drop_scan_direction' needs 1 argument: scan direction but '2' is no valid "
       "value\n"},
      {"-keep_scanner_channel 4",
       "ERROR: '-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '4' is not "
       "valid\n"},
      {"-drop_scanner_channel 4", "ERROR: 4 is no valid value for '-drop_scanner_channel'\n"},
      {"-keep_return_mask 65536",
       "ERROR: '-keep_return_mask' needs a return_mask between 0 and 65535 but return_mask is "
       "65536\n"},
      {"-keep_class 32",
       "ERROR: '-keep_class' needs arguments between 0 and 31 but '32' is out of range\n"},
      {"-drop_class 32", "ERROR: cannot drop classification 32 because it is larger than 31\n"},
      {"-keep_class", "ERROR: '-keep_class' needs at least 1 argument: classification\n"},
      {"-keep_return 16", "ERROR: cannot keep return_number 16 because it is larger than 15\n"},
      {"-drop_return 16", "ERROR: cannot drop return_number 16 because it is larger than 15\n"},
      {"-keep_random_fraction",
       "ERROR: '-keep_random_fraction' needs at least 1 argument: fraction [seed]\n"},
      {"-keep_random_fraction x",
       "ERROR: '-keep_random_fraction' needs at least 1 argument: fraction [seed] but 'x' is "
       "no valid fraction\n"},
      {"-keep_random_fraction 0.5 9x",
       "ERROR: '-keep_random_fraction' takes seed as second argument but '9x' is no valid "
       "seed\n"},
      {"-keep_extended_class 2 -drop_extended_class 3",
       "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.command);
    LASfilter filter;
    testing::internal::CaptureStderr();
    const bool parsed = filter.parse(refusal.command);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal.message);
    EXPECT_FALSE(parsed);
  }
}

}  // namespace
