// The transform operations that the family table of las_transform_test.cpp leaves out, each
// on one point against values worked out here by hand; the command each writes, read back,
// does the same; and the arguments refused with their messages.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filter/las_transform.hpp"
#include "model/las_attribute.hpp"
#include "model/las_point.hpp"

namespace {

// A point of a type with scale 0.01 and offset 0, attribute 0 an I16 at scale 0.1 (two extra
// bytes) and attribute 1 an F64.
struct TestPoint {
  LASscaling scaling;
  LASattributeSet attributes;
  LASpoint point;
  explicit TestPoint(std::uint8_t type) {
    LASattributeDescriptor height(4, "height", "tenths");
    height.set_scale(0.1);
    attributes.add_attribute(height);
    attributes.add_attribute(LASattributeDescriptor(10, "value", "plain"));
    static constexpr std::uint16_t kSizes[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    EXPECT_TRUE(point.init_for_point_type(&scaling, type, kSizes[type] + 10, &attributes));
  }
  double attribute(int index) const {
    return attributes.get_value(point.extra_bytes.data(), point.extra_bytes_size, index);
  }
  void set_attribute(int index, double value) {
    attributes.set_value(point.extra_bytes.data(), point.extra_bytes_size, index, value);
  }
};

struct Case {
  const char* command;
  std::uint8_t point_type;
  std::function<void(TestPoint&)> before;
  std::function<void(const TestPoint&)> expect;
};

void rgb(LASpoint& p, int r, int g, int b, int nir = 0) {
  p.rgb[0] = static_cast<std::uint16_t>(r);
  p.rgb[1] = static_cast<std::uint16_t>(g);
  p.rgb[2] = static_cast<std::uint16_t>(b);
  p.rgb[3] = static_cast<std::uint16_t>(nir);
}

std::vector<int> rgb_of(const LASpoint& p) {
  return {p.rgb[0], p.rgb[1], p.rgb[2], p.rgb[3]};
}

const std::vector<Case>& cases() {
  using T = TestPoint;
  using V = std::vector<int>;
  static const std::vector<Case> table = {
      // Coordinates, raw and scaled, one axis at a time.
      {"-translate_raw_x 5", 1, [](T& t) { t.point.X = 10, t.point.Y = 10; },
       [](const T& t) {
         EXPECT_EQ(t.point.X, 15);
         EXPECT_EQ(t.point.Y, 10);
       }},
      {"-translate_raw_y -5", 1, [](T& t) { t.point.X = 10, t.point.Y = 10; },
       [](const T& t) {
         EXPECT_EQ(t.point.Y, 5);
         EXPECT_EQ(t.point.X, 10);
       }},
      {"-translate_raw_z 7", 1, [](T& t) { t.point.Z = 1, t.point.Y = 1; },
       [](const T& t) {
         EXPECT_EQ(t.point.Z, 8);
         EXPECT_EQ(t.point.Y, 1);
       }},
      {"-translate_then_scale_x 1 2", 1, [](T& t) { t.point.X = 100, t.point.Y = 100; },
       [](const T& t) {
         EXPECT_EQ(t.point.X, 400);
         EXPECT_EQ(t.point.Y, 100);
       }},
      {"-translate_then_scale_z -0.5 3", 1, [](T& t) { t.point.Z = 150, t.point.X = 150; },
       [](const T& t) {
         EXPECT_EQ(t.point.Z, 300);
         EXPECT_EQ(t.point.X, 150);
       }},
      {"-scale_x 3", 1, [](T& t) { t.point.X = 7, t.point.Y = 7; },
       [](const T& t) {
         EXPECT_EQ(t.point.X, 21);
         EXPECT_EQ(t.point.Y, 7);
       }},
      {"-scale_y 0.5", 1, [](T& t) { t.point.Y = 10, t.point.Z = 10; },
       [](const T& t) {
         EXPECT_EQ(t.point.Y, 5);
         EXPECT_EQ(t.point.Z, 10);
       }},
      {"-switch_x_y", 1, [](T& t) { t.point.X = 1, t.point.Y = 2, t.point.Z = 3; },
       [](const T& t) {
         EXPECT_EQ(V({t.point.X, t.point.Y, t.point.Z}), V({2, 1, 3}));
       }},
      {"-switch_y_z", 1, [](T& t) { t.point.X = 1, t.point.Y = 2, t.point.Z = 3; },
       [](const T& t) {
         EXPECT_EQ(V({t.point.X, t.point.Y, t.point.Z}), V({1, 3, 2}));
       }},
      {"-rotate_yz 90 1 0", 1, [](T& t) { t.point.X = 5, t.point.Y = 300, t.point.Z = 0; },
       [](const T& t) {
         EXPECT_EQ(V({t.point.X, t.point.Y, t.point.Z}), V({5, 100, 200}));
       }},
      {"-rotate_xz 90 0 1", 1, [](T& t) { t.point.X = 200, t.point.Y = 5, t.point.Z = 100; },
       [](const T& t) {
         EXPECT_EQ(V({t.point.X, t.point.Y, t.point.Z}), V({0, 5, 300}));
       }},
      {"-clamp_z_below 1", 1, [](T& t) { t.point.Z = 50; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 100); }},
      {"-clamp_z_above 1", 1, [](T& t) { t.point.Z = 150; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 100); }},
      {"-clamp_z_above 1", 1, [](T& t) { t.point.Z = 99; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 99); }},
      // GPS time.
      {"-translate_gps_time 10.5", 1, [](T& t) { t.point.gps_time = 1.0; },
       [](const T& t) { EXPECT_EQ(t.point.gps_time, 11.5); }},
      {"-set_gps_time 3.25", 1, [](T& t) { t.point.gps_time = 1.0; },
       [](const T& t) { EXPECT_EQ(t.point.gps_time, 3.25); }},
      {"-bin_gps_time_into_intensity 2", 1, [](T& t) { t.point.gps_time = 7.0; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 4); }},  // 3.5 rounds away from zero
      // Intensity and scan angle.
      {"-clamp_intensity_below 10", 1, [](T& t) { t.point.intensity = 5; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 10); }},
      {"-clamp_intensity_below 10", 1, [](T& t) { t.point.intensity = 11; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 11); }},
      {"-clamp_intensity_above 10", 1, [](T& t) { t.point.intensity = 25; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 10); }},
      {"-clamp_intensity_above 10", 1, [](T& t) { t.point.intensity = 9; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 9); }},
      {"-set_intensity 1234", 1, [](T& t) { t.point.intensity = 5; },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 1234); }},
      {"-translate_then_scale_scan_angle 2 3", 1, [](T& t) { t.point.scan_angle_rank = 5; },
       [](const T& t) { EXPECT_EQ(t.point.scan_angle_rank, 21); }},
      {"-bin_abs_scan_angle_into_point_source 5", 1, [](T& t) { t.point.scan_angle_rank = -17; },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 3); }},
      // Classes, flags, channels and returns.
      {"-set_extended_classification 77", 6, [](T& t) { t.point.set_classification(2); },
       [](const T& t) {
         EXPECT_EQ(t.point.extended_classification, 77);
         EXPECT_EQ(t.point.classification, 0);
       }},
      {"-change_extended_classification_from_to 40 50", 6,
       [](T& t) { t.point.set_classification(40); },
       [](const T& t) { EXPECT_EQ(t.point.extended_classification, 50); }},
      {"-set_keypoint_flag 1", 6, [](T&) {},
       [](const T& t) {
         EXPECT_EQ(t.point.keypoint_flag, 1);
         EXPECT_EQ(t.point.extended_classification_flags, 0x2);
       }},
      {"-set_synthetic_flag 1", 6, [](T&) {},
       [](const T& t) {
         EXPECT_EQ(t.point.synthetic_flag, 1);
         EXPECT_EQ(t.point.extended_classification_flags, 0x1);
       }},
      {"-set_synthetic_flag 0", 6, [](T& t) { t.point.set_synthetic_flag(true); },
       [](const T& t) { EXPECT_EQ(t.point.extended_classification_flags, 0); }},
      {"-set_extended_overlap_flag 1", 6, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.extended_classification_flags, 0x8); }},
      {"-set_scan_direction_flag 1", 1, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.scan_direction_flag, 1); }},
      {"-set_edge_of_flight_line 1", 1, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.edge_of_flight_line, 1); }},
      {"-set_scanner_channel 2", 6, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.extended_scanner_channel, 2); }},
      {"-set_extended_scanner_channel 3", 6, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.extended_scanner_channel, 3); }},
      {"-set_return_number 5", 1, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.return_number, 5); }},
      {"-set_number_of_returns 6", 1, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.number_of_returns, 6); }},
      {"-set_extended_return_number 11", 6, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.extended_return_number, 11); }},
      {"-set_extended_number_of_returns 13", 6, [](T&) {},
       [](const T& t) { EXPECT_EQ(t.point.extended_number_of_returns, 13); }},
      {"-change_return_number_from_to 2 4", 1, [](T& t) { t.point.return_number = 2; },
       [](const T& t) { EXPECT_EQ(t.point.return_number, 4); }},
      {"-change_return_number_from_to 2 4", 1, [](T& t) { t.point.return_number = 3; },
       [](const T& t) { EXPECT_EQ(t.point.return_number, 3); }},
      {"-change_number_of_returns_from_to 3 5", 1, [](T& t) { t.point.number_of_returns = 3; },
       [](const T& t) { EXPECT_EQ(t.point.number_of_returns, 5); }},
      {"-change_extended_number_of_returns_from_to 9 14", 6,
       [](T& t) { t.point.extended_number_of_returns = 9; },
       [](const T& t) { EXPECT_EQ(t.point.extended_number_of_returns, 14); }},
      {"-change_user_data_from_to 7 9", 1, [](T& t) { t.point.user_data = 7; },
       [](const T& t) { EXPECT_EQ(t.point.user_data, 9); }},
      {"-change_point_source_from_to 3 8", 1, [](T& t) { t.point.point_source_ID = 3; },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 8); }},
      {"-change_point_source_from_to 3 8", 1, [](T& t) { t.point.point_source_ID = 4; },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 4); }},
      // Copies between fields.
      {"-copy_classification_into_point_source", 1, [](T& t) { t.point.set_classification(5); },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 5); }},
      {"-copy_classification_into_point_source", 6, [](T& t) { t.point.set_classification(40); },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 40); }},
      {"-copy_intensity_into_classification", 1, [](T& t) { t.point.intensity = 17; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 17); }},
      {"-copy_intensity_into_classification", 1,
       [](T& t) { t.point.intensity = 32, t.point.set_classification(3); },
       [](const T& t) { EXPECT_EQ(t.point.classification, 3); }},
      {"-copy_user_data_into_point_source", 1, [](T& t) { t.point.user_data = 33; },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 33); }},
      {"-copy_user_data_into_scanner_channel", 6, [](T& t) { t.point.user_data = 6; },
       [](const T& t) { EXPECT_EQ(t.point.extended_scanner_channel, 2); }},
      {"-copy_scanner_channel_into_point_source", 6,
       [](T& t) { t.point.set_extended_scanner_channel(3); },
       [](const T& t) { EXPECT_EQ(t.point.point_source_ID, 3); }},
      {"-copy_scanner_channel_into_user_data", 6,
       [](T& t) { t.point.set_extended_scanner_channel(2); },
       [](const T& t) { EXPECT_EQ(t.point.user_data, 2); }},
      {"-copy_user_data_into_z", 1, [](T& t) { t.point.user_data = 12; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 1200); }},
      {"-copy_intensity_into_z", 1, [](T& t) { t.point.intensity = 3; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 300); }},
      // Attributes: attribute 0 holds 2.5 where set.
      {"-copy_user_data_into_attribute 0", 1, [](T& t) { t.point.user_data = 12; },
       [](const T& t) { EXPECT_EQ(t.attribute(0), 12.0); }},
      {"-copy_attribute_into_x 0", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.X, 250); }},
      {"-copy_attribute_into_y 0", 1, [](T& t) { t.set_attribute(0, -2.5); },
       [](const T& t) { EXPECT_EQ(t.point.Y, -250); }},
      {"-copy_attribute_into_z 1", 1, [](T& t) { t.set_attribute(1, 7.75); },
       [](const T& t) { EXPECT_EQ(t.point.Z, 775); }},
      {"-copy_attribute_into_intensity 0", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 2); }},
      {"-copy_attribute_into_user_data 1", 1, [](T& t) { t.set_attribute(1, 300.0); },
       [](const T& t) { EXPECT_EQ(t.point.user_data, 255); }},
      {"-scale_attribute 0 2", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.attribute(0), 5.0); }},
      {"-translate_attribute 0 1.5", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.attribute(0), 4.0); }},
      {"-set_attribute 1 -7.25", 1, [](T&) {},
       [](const T& t) {
         EXPECT_EQ(t.attribute(1), -7.25);
         EXPECT_EQ(t.attribute(0), 0.0);
       }},
      {"-add_attribute_to_z 0", 1, [](T& t) { t.set_attribute(0, 2.5), t.point.Z = 100; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 350); }},
      {"-add_scaled_attribute_to_z 0 2", 1, [](T& t) { t.set_attribute(0, 2.5), t.point.Z = 100; },
       [](const T& t) { EXPECT_EQ(t.point.Z, 600); }},
      {"-add_scaled_attribute_to_user_data 0 2", 1,
       [](T& t) { t.set_attribute(0, 2.5), t.point.user_data = 10; },
       [](const T& t) { EXPECT_EQ(t.point.user_data, 15); }},
      {"-add_scaled_attribute_to_user_data 0 -5", 1,
       [](T& t) { t.set_attribute(0, 2.5), t.point.user_data = 10; },
       [](const T& t) { EXPECT_EQ(t.point.user_data, 0); }},
      // Classification by thresholds: strictly below or above, or between inclusive.
      {"-classify_z_below_as 1 7", 1, [](T& t) { t.point.Z = 50; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 7); }},
      {"-classify_z_below_as 1 7", 1, [](T& t) { t.point.Z = 100; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 0); }},
      {"-classify_z_above_as 1 8", 1, [](T& t) { t.point.Z = 101; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 8); }},
      {"-classify_z_above_as 1 8", 1, [](T& t) { t.point.Z = 100; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 0); }},
      {"-classify_intensity_below_as 10 3", 1, [](T& t) { t.point.intensity = 9; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 3); }},
      {"-classify_intensity_between_as 5 10 4", 1, [](T& t) { t.point.intensity = 10; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 4); }},
      {"-classify_intensity_between_as 5 10 4", 1, [](T& t) { t.point.intensity = 4; },
       [](const T& t) { EXPECT_EQ(t.point.classification, 0); }},
      {"-classify_attribute_below_as 0 3 6", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.classification, 6); }},
      {"-classify_attribute_above_as 0 2 9", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.classification, 9); }},
      {"-classify_attribute_between_as 0 2.5 3 11", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.classification, 11); }},
      {"-classify_attribute_between_as 1 2.5 3 11", 1, [](T& t) { t.set_attribute(0, 2.5); },
       [](const T& t) { EXPECT_EQ(t.point.classification, 0); }},
      // Colours.
      {"-set_RGB 1 2 3", 2, [](T& t) { rgb(t.point, 9, 9, 9, 9); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 9}));
       }},
      {"-scale_RGB 0.5 2 1", 2, [](T& t) { rgb(t.point, 101, 200, 300, 7); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({50, 400, 300, 7}));
       }},
      {"-scale_rgb 1 1 0.25", 2, [](T& t) { rgb(t.point, 101, 200, 300, 7); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({101, 200, 75, 7}));
       }},
      {"-scale_RGB_down", 2, [](T& t) { rgb(t.point, 0x1234, 0x00FF, 0xFF00, 0x4400); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({0x12, 0, 0xFF, 0x4400}));
       }},
      {"-scale_RGB_up", 2, [](T& t) { rgb(t.point, 0x12, 1, 0xFF, 3); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({0x1200, 0x100, 0xFF00, 3}));
       }},
      {"-scale_RGB_to_16bit", 2, [](T& t) { rgb(t.point, 1, 2, 255); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({256, 512, 65280, 0}));
       }},
      {"-scale_RGB_to_16bit", 2, [](T& t) { rgb(t.point, 1, 256, 2); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 256, 2, 0}));
       }},
      {"-scale_rgb_to_8bit", 2, [](T& t) { rgb(t.point, 1, 2, 255); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 255, 0}));
       }},
      {"-switch_R_G", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({2, 1, 3, 4}));
       }},
      {"-switch_R_B", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({3, 2, 1, 4}));
       }},
      {"-switch_G_B", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 3, 2, 4}));
       }},
      {"-switch_RGB_intensity_into_CIR", 2,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 9; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({9, 1, 2, 4}));
       }},
      {"-copy_R_into_intensity", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 1); }},
      {"-copy_G_into_intensity", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 2); }},
      {"-copy_B_into_intensity", 2, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 3); }},
      {"-copy_NIR_into_intensity", 8, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) { EXPECT_EQ(t.point.intensity, 4); }},
      {"-copy_R_into_NIR", 8, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 1}));
       }},
      {"-copy_G_into_NIR", 8, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 2}));
       }},
      {"-copy_B_into_NIR", 8, [](T& t) { rgb(t.point, 1, 2, 3, 4); },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 3}));
       }},
      {"-copy_intensity_into_NIR", 8, [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 9; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 9}));
       }},
      {"-multiply_scaled_intensity_into_RGB_red 0.5", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({5, 2, 3, 4}));
       }},
      {"-multiply_scaled_intensity_into_RGB_green 0.5", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 10, 3, 4}));
       }},
      {"-multiply_scaled_intensity_into_RGB_blue 0.5", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 15, 4}));
       }},
      {"-multiply_scaled_intensity_into_RGB_nir 0.5", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 20}));
       }},
      {"-multiply_divided_intensity_into_RGB_red 4", 8,
       [](T& t) { rgb(t.point, 2, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({5, 2, 3, 4}));
       }},
      {"-multiply_divided_intensity_into_RGB_green 4", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 5, 3, 4}));
       }},
      {"-multiply_divided_intensity_into_RGB_blue 2", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 15, 4}));
       }},
      {"-multiply_divided_intensity_into_RGB_nir 5", 8,
       [](T& t) { rgb(t.point, 1, 2, 3, 4), t.point.intensity = 10; },
       [](const T& t) {
         EXPECT_EQ(rgb_of(t.point), V({1, 2, 3, 8}));
       }},
      // The flags become bits 5-7 of the extended class.
      {"-move_ancient_to_extended_classification", 1,
       [](T& t) { t.point.set_classification(3), t.point.set_keypoint_flag(true); },
       [](const T& t) {
         EXPECT_EQ(t.point.extended_classification, 67);
         EXPECT_EQ(t.point.keypoint_flag, 0);
       }},
      {"-move_ancient_to_extended_classification", 1,
       [](T& t) { t.point.set_classification(3), t.point.set_synthetic_flag(true); },
       [](const T& t) {
         EXPECT_EQ(t.point.extended_classification, 35);
         EXPECT_EQ(t.point.synthetic_flag, 0);
       }},
      {"-move_ancient_to_extended_classification", 1,
       [](T& t) { t.point.set_classification(3), t.point.set_overlap_flag(true); },
       [](const T& t) {
         EXPECT_EQ(t.point.extended_classification, 3);
         EXPECT_TRUE(t.point.get_overlap_flag());
       }},
      // Wave packets: the direction's three floats change sign.
      {"-flip_waveform_direction", 4,
       [](T& t) {
         const float d[3] = {1.5f, -2.0f, 0.25f};
         std::memcpy(t.point.wave_packet + 17, d, 12);
         t.point.wave_packet[0] = 3;
       },
       [](const T& t) {
         float d[3];
         std::memcpy(d, t.point.wave_packet + 17, 12);
         EXPECT_EQ(d[0], -1.5f);
         EXPECT_EQ(d[1], 2.0f);
         EXPECT_EQ(d[2], -0.25f);
         EXPECT_EQ(t.point.wave_packet[0], 3);
       }},
  };
  return table;
}

TEST(LasTransformOperations, EachChangesThePointAsWorkedOutByHandAndWritesACommandThatDoesTheSame) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.command);
    TestPoint point(c.point_type);
    c.before(point);
    LAStransform transform;
    testing::internal::CaptureStderr();
    const bool parsed = transform.parse(c.command);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(parsed);
    ASSERT_EQ(transform.operation_count(), 1u);
    transform.transform(point.point);
    c.expect(point);

    // The command written reads back as an operation that does the same.
    char command[512];
    transform.write_command(command, sizeof(command));
    const std::string written = command;
    SCOPED_TRACE(written);
    LAStransform again;
    ASSERT_TRUE(again.parse(written.c_str()));
    TestPoint second(c.point_type);
    c.before(second);
    again.transform(second.point);
    c.expect(second);
  }
}

TEST(LasTransformOperations, MapsOfUserDataAndPointSourceChangeOnlyTheirField) {
  char folder[] = "/tmp/isocull_transform_maps_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string map = std::string(folder) + "/map.txt";
  std::FILE* file = std::fopen(map.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("3 30\n4 40\n", file);
  std::fclose(file);
  for (const bool user_data : {true, false}) {
    const std::string command = (user_data ? "-map_user_data " : "-map_point_source ") + map;
    LAStransform transform;
    ASSERT_TRUE(transform.parse(command.c_str())) << command;
    ASSERT_EQ(transform.operation_count(), 1u);
    for (const int value : {3, 4, 5}) {
      TestPoint test(1);
      test.point.user_data = static_cast<std::uint8_t>(value);
      test.point.point_source_ID = static_cast<std::uint16_t>(value);
      transform.transform(test.point);
      const int mapped = value == 3 ? 30 : value == 4 ? 40 : value;
      EXPECT_EQ(test.point.user_data, user_data ? mapped : value) << command;
      EXPECT_EQ(test.point.point_source_ID, user_data ? value : mapped) << command;
    }
  }
  std::remove(map.c_str());
  rmdir(folder);
}

struct Refusal {
  const char* command;
  const char* message;
};

TEST(LasTransformOperations, ValuesAtTheEndsOfTheirFieldsAreTaken) {
  for (const char* command : {"-set_classification 255",
                              "-set_intensity 65535",
                              "-set_withheld_flag 1",
                              "-set_scanner_channel 3",
                              "-set_user_data 255",
                              "-set_point_source 65535",
                              "-set_return_number 7",
                              "-set_extended_return_number 15",
                              "-set_number_of_returns 7",
                              "-set_extended_number_of_returns 15",
                              "-change_classification_from_to 255 255",
                              "-change_user_data_from_to 255 255",
                              "-change_point_source_from_to 65535 65535",
                              "-change_return_number_from_to 7 7",
                              "-change_number_of_returns_from_to 7 7",
                              "-change_extended_return_number_from_to 15 15",
                              "-change_extended_number_of_returns_from_to 15 15",
                              "-set_scan_angle 180",
                              "-set_scan_angle -180",
                              "-bin_Z_into_point_source 1"}) {
    LAStransform transform;
    testing::internal::CaptureStderr();
    const bool parsed = transform.parse(command);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << command;
    EXPECT_TRUE(parsed) << command;
    EXPECT_EQ(transform.operation_count(), 1u) << command;
  }
}

TEST(LasTransformOperations, ValuesBeyondTheirFieldsAreRefusedByName) {
  const Refusal refusals[] = {
      {"-set_classification 256",
       "ERROR: cannot set classification because classification of 256 is larger than 255\n"},
      {"-set_intensity 65536",
       "ERROR: cannot set intensity because value of 65536 is larger than 65535\n"},
      {"-set_withheld_flag 2",
       "ERROR: cannot set withheld flag because value 2 is larger than 1\n"},
      {"-set_synthetic_flag 2",
       "ERROR: cannot set synthetic flag because value 2 is larger than 1\n"},
      {"-set_keypoint_flag 2",
       "ERROR: cannot set keypoint flag because value 2 is larger than 1\n"},
      {"-set_overlap_flag 2", "ERROR: cannot set overlap flag because value 2 is larger than 1\n"},
      {"-set_scan_direction_flag 2",
       "ERROR: cannot set scan direction flag because value 2 is larger than 1\n"},
      {"-set_edge_of_flight_line 2",
       "ERROR: cannot set edge of flight line because value 2 is larger than 1\n"},
      {"-set_scanner_channel 4",
       "ERROR: cannot set scanner channel because value 4 is larger than 3\n"},
      {"-set_user_data 256", "ERROR: cannot set user data because value 256 is larger than 255\n"},
      {"-set_point_source 65536",
       "ERROR: cannot set point source ID because value 65536 is larger than 65535\n"},
      {"-set_return_number 8", "ERROR: cannot set return_number because 8 is larger than 7\n"},
      {"-set_extended_return_number 16",
       "ERROR: cannot set extended_return_number because 16 is larger than 15\n"},
      {"-set_number_of_returns 8",
       "ERROR: cannot set number_of_returns because 8 is larger than 7\n"},
      {"-set_extended_number_of_returns 16",
       "ERROR: cannot set extended_number_of_returns because 16 is larger than 15\n"},
      {"-bin_Z_into_point_source 0",
       "ERROR: 0 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      {"-change_classification_from_to 256 1",
       "ERROR: cannot change classification because from_value 256 is larger than 255\n"},
      {"-change_user_data_from_to 1 256",
       "ERROR: cannot change user_data because to_value 256 is larger than 255\n"},
      {"-change_point_source_from_to 65536 1",
       "ERROR: cannot change point_source because from_value 65536 is larger than 65535\n"},
      {"-change_return_number_from_to 8 1",
       "ERROR: cannot change return_number because from_value 8 is larger than 7\n"},
      {"-change_number_of_returns_from_to 1 8",
       "ERROR: cannot change number_of_returns because to_value 8 is larger than 7\n"},
      {"-change_extended_return_number_from_to 16 1",
       "ERROR: cannot change extended_return_number because from_value 16 is larger than 15\n"},
      {"-change_extended_number_of_returns_from_to 1 16",
       "ERROR: cannot change extended_number_of_returns because to_value 16 is larger than 15\n"},
      {"-set_scan_angle 181",
       "ERROR: cannot set scan angle rank because value 181 is larger than 180\n"},
      {"-set_scan_angle -181",
       "ERROR: cannot set scan angle because value -181 is smaller than -180\n"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.command);
    LAStransform transform;
    testing::internal::CaptureStderr();
    const bool parsed = transform.parse(refusal.command);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal.message);
    EXPECT_FALSE(parsed);
    EXPECT_EQ(transform.operation_count(), 0u);
  }
}

}  // namespace
