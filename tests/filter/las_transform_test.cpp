// The point transform on single points: every operation family against values worked out
// here by hand, the store rule on both sides of zero, overflow counting and its warning,
// the stateful operations over two passes, map and value files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "filter/las_random.hpp"
#include "filter/las_transform.hpp"
#include "model/las_attribute.hpp"
#include "model/las_point.hpp"

namespace {

// A point of a given type with scale 0.01 and offset 0, and an attribute set whose first
// attribute is an I16 with scale 0.1 (two extra bytes), the second an F64.
struct TestPoint {
  LASscaling scaling;
  LASattributeSet attributes;
  LASpoint point;
  explicit TestPoint(std::uint8_t type = 1) {
    LASattributeDescriptor height(4, "height", "tenths");
    height.set_scale(0.1);
    attributes.add_attribute(height);
    attributes.add_attribute(LASattributeDescriptor(10, "value", "plain"));
    static constexpr std::uint16_t kSizes[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    EXPECT_TRUE(point.init_for_point_type(&scaling, type, kSizes[type] + 10, &attributes));
  }
};

std::string captured_parse(LAStransform& transform, const char* text, bool& ok) {
  testing::internal::CaptureStderr();
  ok = transform.parse(text);
  return testing::internal::GetCapturedStderr();
}

void apply(const char* text, LASpoint& point) {
  LAStransform transform;
  bool ok = false;
  const std::string messages = captured_parse(transform, text, ok);
  ASSERT_TRUE(ok) << messages;
  ASSERT_GT(transform.operation_count(), 0u) << text;
  transform.transform(point);
}

struct FamilyCase {
  const char* command;
  std::uint8_t point_type;
  std::function<void(LASpoint&)> before;
  std::function<void(const LASpoint&)> expect;
};

TEST(LasTransform, EveryFamilyChangesThePointAsWorkedOutByHand) {
  const double kSin = std::sin(30 * 0.017453292519943295),
               kCos = std::cos(30 * 0.017453292519943295);
  const FamilyCase cases[] = {
      // translate and scale: x = X * 0.01
      {"-translate_x 2.5", 1, [](LASpoint& p) { p.X = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.X, 350); }},
      {"-translate_xyz 1 -2 0.5", 1, [](LASpoint& p) { p.X = 0, p.Y = 0, p.Z = 0; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.X, 100);
         EXPECT_EQ(p.Y, -200);
         EXPECT_EQ(p.Z, 50);
       }},
      {"-translate_then_scale_y 1 2", 1, [](LASpoint& p) { p.Y = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.Y, 400); }},
      {"-scale_xyz 2 1 3", 1, [](LASpoint& p) { p.X = 5, p.Y = 5, p.Z = 5; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.X, 10);
         EXPECT_EQ(p.Y, 5);
         EXPECT_EQ(p.Z, 15);
       }},
      {"-translate_raw_xyz 1 2 -3", 1, [](LASpoint& p) { p.X = 7, p.Y = 7, p.Z = 7; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.X, 8);
         EXPECT_EQ(p.Y, 9);
         EXPECT_EQ(p.Z, 4);
       }},
      {"-clamp_raw_z 0 50", 1, [](LASpoint& p) { p.Z = 80; },
       [](const LASpoint& p) { EXPECT_EQ(p.Z, 50); }},
      {"-switch_x_z", 1, [](LASpoint& p) { p.X = 1, p.Z = 2; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.X, 2);
         EXPECT_EQ(p.Z, 1);
       }},
      // rotation about a centre: (12, 10) around (10, 10) by 30 degrees
      {"-rotate_xy 30 10 10", 1, [](LASpoint& p) { p.X = 1200, p.Y = 1000; },
       [&](const LASpoint& p) {
         EXPECT_EQ(p.X, std::lround((2 * kCos + 10) * 100));
         EXPECT_EQ(p.Y, std::lround((2 * kSin + 10) * 100));
       }},
      {"-transform_affine 2,0,1,1", 1, [](LASpoint& p) { p.X = 100, p.Y = 200; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.X, 300);
         EXPECT_EQ(p.Y, 500);
       }},
      // intensity in single precision, clamped
      {"-scale_intensity 2", 1, [](LASpoint& p) { p.intensity = 40000; },
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 65535); }},
      {"-translate_intensity -50", 1, [](LASpoint& p) { p.intensity = 20; },
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 0); }},
      {"-translate_then_scale_intensity 0.5 3", 1, [](LASpoint& p) { p.intensity = 10; },
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 31); }},
      {"-clamp_intensity 10 20", 1, [](LASpoint& p) { p.intensity = 25; },
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 20); }},
      {"-scale_user_data 3", 1, [](LASpoint& p) { p.user_data = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.user_data, 255); }},
      // scan angle rank: rounded half away from zero, clamped
      {"-translate_scan_angle -2.5", 1, [](LASpoint& p) { p.scan_angle_rank = 0; },
       [](const LASpoint& p) { EXPECT_EQ(p.scan_angle_rank, -3); }},
      {"-scale_scan_angle 10", 1, [](LASpoint& p) { p.scan_angle_rank = 20; },
       [](const LASpoint& p) { EXPECT_EQ(p.scan_angle_rank, 127); }},
      {"-set_scan_angle 3", 6, [](LASpoint&) {},
       [](const LASpoint& p) { EXPECT_EQ(p.extended_scan_angle, 500); }},
      // classes: above 31 only the extended class holds them
      {"-set_classification 40", 6, [](LASpoint& p) { p.classification = 2; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.extended_classification, 40);
         EXPECT_EQ(p.classification, 0);
       }},
      {"-change_classification_from_to 40 3", 6, [](LASpoint& p) { p.set_classification(40); },
       [](const LASpoint& p) {
         EXPECT_EQ(p.classification, 3);
         EXPECT_EQ(p.extended_classification, 3);
       }},
      {"-set_RGB_of_class 40 1 2 3", 7, [](LASpoint& p) { p.set_classification(40); },
       [](const LASpoint& p) {
         EXPECT_EQ(p.rgb[0], 1);
         EXPECT_EQ(p.rgb[2], 3);
       }},
      {"-classify_z_between_as 1 2 9", 1, [](LASpoint& p) { p.Z = 200; },
       [](const LASpoint& p) { EXPECT_EQ(p.classification, 9); }},
      {"-classify_intensity_above_as 100 5", 1, [](LASpoint& p) { p.intensity = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.classification, 0); }},
      {"-move_ancient_to_extended_classification", 1,
       [](LASpoint& p) { p.classification = 2, p.set_withheld_flag(true); },
       [](const LASpoint& p) {
         EXPECT_EQ(p.extended_classification, 130);
         EXPECT_EQ(p.classification, 0);
         EXPECT_EQ(p.withheld_flag, 0);
         EXPECT_EQ(p.extended_classification_flags, 0);
       }},
      // flags, returns, channel
      {"-set_withheld_flag 1 -set_overlap_flag 1", 6, [](LASpoint&) {},
       [](const LASpoint& p) {
         EXPECT_EQ(p.withheld_flag, 1);
         EXPECT_EQ(p.extended_classification_flags, 0xC);
       }},
      {"-repair_zero_returns", 1, [](LASpoint& p) { p.return_number = 0, p.number_of_returns = 0; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.return_number, 1);
         EXPECT_EQ(p.number_of_returns, 1);
       }},
      {"-change_extended_return_number_from_to 9 12", 6,
       [](LASpoint& p) { p.extended_return_number = 9; },
       [](const LASpoint& p) { EXPECT_EQ(p.extended_return_number, 12); }},
      {"-merge_scanner_channel_into_point_source", 6,
       [](LASpoint& p) { p.point_source_ID = 10, p.extended_scanner_channel = 3; },
       [](const LASpoint& p) { EXPECT_EQ(p.point_source_ID, 43); }},
      {"-split_scanner_channel_from_point_source", 6, [](LASpoint& p) { p.point_source_ID = 43; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.point_source_ID, 10);
         EXPECT_EQ(p.extended_scanner_channel, 3);
       }},
      // copies and bins
      {"-copy_user_data_into_classification", 1, [](LASpoint& p) { p.user_data = 40; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.classification, 0);
         EXPECT_EQ(p.extended_classification, 0);
       }},
      {"-copy_classification_into_user_data", 6, [](LASpoint& p) { p.set_classification(50); },
       [](const LASpoint& p) { EXPECT_EQ(p.user_data, 50); }},
      {"-bin_Z_into_point_source 30", 1, [](LASpoint& p) { p.Z = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.point_source_ID, 3); }},
      {"-bin_gps_time_into_point_source 2", 1, [](LASpoint& p) { p.gps_time = 131073.0; },
       [](const LASpoint& p) { EXPECT_EQ(p.point_source_ID, 65537 & 0xFFFF); }},
      // colours
      {"-copy_RGB_into_intensity", 2,
       [](LASpoint& p) { p.rgb[0] = 100, p.rgb[1] = 200, p.rgb[2] = 50; },
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 153); }},  // 29.89 + 117.4 + 5.7
      {"-scale_RGB_to_8bit", 2,
       [](LASpoint& p) { p.rgb[0] = 0x1234, p.rgb[1] = 5, p.rgb[2] = 0xFF00; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.rgb[0], 0x12);
         EXPECT_EQ(p.rgb[1], 0);
         EXPECT_EQ(p.rgb[2], 0xFF);
       }},
      {"-switch_RGBI_into_CIR", 8,
       [](LASpoint& p) { p.rgb[0] = 1, p.rgb[1] = 2, p.rgb[2] = 3, p.rgb[3] = 4; },
       [](const LASpoint& p) {
         EXPECT_EQ(p.rgb[0], 4);
         EXPECT_EQ(p.rgb[1], 1);
         EXPECT_EQ(p.rgb[2], 2);
       }},
      {"-multiply_divided_intensity_into_RGB_green 4", 2,
       [](LASpoint& p) { p.intensity = 8, p.rgb[1] = 1000; },
       [](const LASpoint& p) { EXPECT_EQ(p.rgb[1], 2000); }},
      // GPS time
      {"-adjusted_to_week", 1, [](LASpoint& p) { p.gps_time = 0.0; },
       [](const LASpoint& p) { EXPECT_DOUBLE_EQ(p.gps_time, 265600.0); }},
      {"-week_to_adjusted 1653", 1, [](LASpoint& p) { p.gps_time = 265600.0; },
       [](const LASpoint& p) { EXPECT_DOUBLE_EQ(p.gps_time, 0.0); }},
      // attributes through the header's descriptions: I16 with scale 0.1
      {"-set_attribute 0 12.34", 1, [](LASpoint&) {},
       [](const LASpoint& p) {
         std::int16_t stored;
         std::memcpy(&stored, p.extra_bytes.data(), 2);
         EXPECT_EQ(stored, 123);
       }},
      {"-set_attribute 0 5 -add_scaled_attribute_to_z 0 2", 1, [](LASpoint& p) { p.Z = 100; },
       [](const LASpoint& p) { EXPECT_EQ(p.Z, 1100); }},
      {"-set_attribute 9 5 -copy_attribute_into_user_data 9", 1,
       [](LASpoint& p) { p.user_data = 7; },
       [](const LASpoint& p) { EXPECT_EQ(p.user_data, 0); }},  // no attribute 9: it reads 0
  };
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(c.command);
    TestPoint test(c.point_type);
    c.before(test.point);
    apply(c.command, test.point);
    c.expect(test.point);
  }
}

TEST(LasTransform, StoreRuleRoundsHalvesAwayFromZeroOnBothSides) {
  // A quarter scale makes the halves exact in binary: with 0.01 the sum 1.005 / 0.01 is
  // 100.49999999999999 in double arithmetic and rounds down.
  TestPoint test;
  test.scaling.z_scale_factor = 0.25;
  test.point.Z = 100;  // 25 + 0.125 = 25.125, q = 100.5
  apply("-translate_z 0.125", test.point);
  EXPECT_EQ(test.point.Z, 101);
  test.point.Z = -100;  // -25 + 0.125 = -24.875, q = -99.5
  apply("-translate_z 0.125", test.point);
  EXPECT_EQ(test.point.Z, -100);
  test.point.Z = -100;  // below the offset: -25.125, q = -100.5
  apply("-translate_z -0.125", test.point);
  EXPECT_EQ(test.point.Z, -101);
}

TEST(LasTransform, OverflowsAreCountedPerOperationAndReportedWithTheCommand) {
  TestPoint test;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_x 1 -translate_y 0.5"));
  test.point.X = 2147483600;  // + 100 units does not fit
  test.point.Y = 0;
  transform.transform(test.point);
  EXPECT_EQ(test.point.X, static_cast<std::int32_t>(2147483700u));  // low 32 bits kept
  EXPECT_EQ(test.point.Y, 50);
  EXPECT_EQ(transform.operation(0)->overflow, 1);
  EXPECT_EQ(transform.operation(1)->overflow, 0);
  testing::internal::CaptureStderr();
  transform.report_overflows();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: total of 1 overflows caused by '-translate_x 1.000000 '\n");
  transform.reset();
  EXPECT_EQ(transform.operation(0)->overflow, 0);
}

TEST(LasTransform, RotationByNinetyDegreesTurnsXIntoY) {
  TestPoint test;
  test.point.X = 100;  // (1, 0)
  test.point.Y = 0;
  apply("-rotate_xy 90 0 0", test.point);
  EXPECT_EQ(test.point.X, 0);
  EXPECT_EQ(test.point.Y, 100);
}

TEST(LasTransform, HelmertWithThreeParametersIsATranslationAndWithSevenARotation) {
  TestPoint a, b, c;
  for (LASpoint* p : {&a.point, &b.point, &c.point}) {
    p->X = 1000000, p->Y = 2000000, p->Z = 30000;
  }
  apply("-transform_helmert 1.5,-2,3", a.point);
  apply("-translate_xyz 1.5 -2 3", b.point);
  EXPECT_EQ(a.point.X, b.point.X);
  EXPECT_EQ(a.point.Y, b.point.Y);
  EXPECT_EQ(a.point.Z, b.point.Z);

  apply("-transform_helmert 10,20,30,1,2,3,4", c.point);
  const double s = 4.84813681109536e-6, k = 1 + 4e-6;
  const double x = 10000, y = 20000, z = 300;
  EXPECT_EQ(c.point.X, std::lround(((x - 3 * s * y + 2 * s * z) * k + 10) * 100));
  EXPECT_EQ(c.point.Y, std::lround(((3 * s * x + y - 1 * s * z) * k + 20) * 100));
  EXPECT_EQ(c.point.Z, std::lround(((-2 * s * x + 1 * s * y + z) * k + 30) * 100));
}

TEST(LasTransform, ClampZKeepsTheBoundAndStoresTheBoundBeyondIt) {
  TestPoint test;
  test.point.Z = 1000;
  apply("-clamp_z 0 10", test.point);
  EXPECT_EQ(test.point.Z, 1000);
  test.point.Z = 1001;
  apply("-clamp_z 0 10", test.point);
  EXPECT_EQ(test.point.Z, 1000);
  test.point.Z = -5;
  apply("-clamp_z_below 0", test.point);
  EXPECT_EQ(test.point.Z, 0);
}

// The generator the jitter is expected to follow, written out here.
std::uint32_t next_value(std::uint32_t& state) {
  state = state * 214013u + 2531011u;
  return (state >> 16) & 0x7FFF;
}

TEST(LasTransform, RandomJitterFollowsTheGeneratorAndRepeatsAfterReset) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_raw_xy_at_random 3 5"));
  std::uint32_t state = 0;
  std::vector<std::int32_t> first;
  for (int pass = 0; pass < 2; pass++) {
    transform.reset();
    for (int i = 0; i < 20; i++) {
      TestPoint test;
      transform.transform(test.point);
      if (pass == 0) {
        std::uint32_t seed = state;
        const std::uint32_t v = next_value(seed);
        state = v;
        EXPECT_EQ(test.point.X, static_cast<int>(v / 8 % 7) - 3);
        EXPECT_EQ(test.point.Y, static_cast<int>(v / 64 % 11) - 5);
        first.push_back(test.point.X * 100 + test.point.Y);
      } else {
        EXPECT_EQ(test.point.X * 100 + test.point.Y, first[static_cast<std::size_t>(i)]);
      }
    }
  }
}

class LasTransformFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/isocull_transform_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& file : files_)
      std::remove(file.c_str());
    rmdir(dir_.c_str());
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(LasTransformFiles, MapWithAPartialTableChangesOnlyTheListedValues) {
  const std::string map = write("map.txt", "5 7\nnot a line\n70000 1\n9 65535\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(("-map_intensity " + map).c_str()));
  const std::uint16_t expected[][2] = {{5, 7}, {6, 6}, {9, 65535}, {0, 0}, {7, 7}};
  for (const auto& pair : expected) {
    TestPoint test;
    test.point.intensity = pair[0];
    transform.transform(test.point);
    EXPECT_EQ(test.point.intensity, pair[1]) << pair[0];
  }
  char command[256];
  transform.write_command(command, sizeof(command));
  EXPECT_EQ(std::string(command), "-map_intensity \"" + map + "\" ");
}

TEST_F(LasTransformFiles, AttributeColoursComeFromTheNearestValue) {
  const std::string map = write("colours.txt", "0 10 10 10\n10 20 20 20\n20 30 30 30\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(("-map_attribute_into_RGB 1 " + map).c_str()));
  const double values[][2] = {{-5, 10}, {4, 10}, {5, 10}, {6, 20}, {16, 30}, {99, 30}};
  for (const auto& pair : values) {
    TestPoint test(2);
    test.attributes.set_value(test.point.extra_bytes.data(), test.point.extra_bytes_size, 1,
                              pair[0]);
    transform.transform(test.point);
    EXPECT_EQ(test.point.rgb[0], pair[1]) << pair[0];
  }
}

TEST_F(LasTransformFiles, AttributeValuesFromTextAreReadAgainOnTheSecondPass) {
  const std::string values = write("values.txt", "1.5\nno value\n2.5\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(("-load_attribute_from_text 1 " + values).c_str()));
  for (int pass = 0; pass < 2; pass++) {
    transform.reset();
    std::vector<double> seen;
    for (int i = 0; i < 3; i++) {
      TestPoint test;
      test.attributes.set_value(test.point.extra_bytes.data(), test.point.extra_bytes_size, 1, -1);
      transform.transform(test.point);
      seen.push_back(
          test.attributes.get_value(test.point.extra_bytes.data(), test.point.extra_bytes_size, 1));
    }
    // The third point comes after the last value: it is left as it was.
    EXPECT_EQ(seen, (std::vector<double>{1.5, 2.5, -1})) << "pass " << pass;
  }
}

TEST(LasTransform, AFilteredTransformChangesOnlyTheSelectedPoints) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-set_user_data 9"));
  auto filter = std::make_unique<LASfilter>();
  ASSERT_TRUE(filter->parse("-keep_class 2"));
  transform.set_filter(std::move(filter));
  for (std::uint8_t classification : {2, 3}) {
    TestPoint test;
    test.point.classification = classification;
    transform.transform(test.point);
    EXPECT_EQ(test.point.user_data, classification == 2 ? 9 : 0);
  }
  char command[256];
  transform.write_command(command, sizeof(command));
  EXPECT_EQ(std::string(command), "-keep_class 2 -filtered_transform -set_user_data 9 ");
  transform.set_filter(nullptr);
  EXPECT_FALSE(transform.is_filtered());
}

TEST(LasTransform, PointSourceStampReplacesTheEarlierOneAndCommandsListInOrder) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-set_point_source 4 -scale_rgb 2 2 2 -clamp_z 1 2"));
  transform.set_point_source(17);
  transform.set_point_source(18);
  char command[512];
  const int length = transform.write_command(command, sizeof(command));
  const std::string expected =
      "-scale_RGB 2.000000 2.000000 2.000000 -clamp_z 1.000000 2.000000 -set_point_source 18 ";
  EXPECT_EQ(std::string(command), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));
  char small[10];
  EXPECT_EQ(transform.write_command(small, sizeof(small)), length);
  EXPECT_EQ(std::string(small), expected.substr(0, 9));
  EXPECT_EQ(transform.changed_fields, kChangedRGB | kChangedZ);
  transform.remove_operation("clamp_z");
  EXPECT_EQ(transform.operation_count(), 2u);
  transform.clean();
  EXPECT_EQ(transform.operation_count(), 0u);
  EXPECT_EQ(transform.changed_fields, 0u);
}

TEST(LasTransform, LayersNameWhatTheOperationsRead) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"-translate_x 1", 0},
      {"-translate_z 1", 1},
      {"-rotate_xz 5 0 0", 1},
      {"-change_classification_from_to 1 2", 2},
      {"-move_ancient_to_extended_classification", 6},
      {"-scale_intensity 2", 8},
      {"-switch_RGBI_into_CIR", 768},
      {"-multiply_scaled_intensity_into_RGB_red 2", 264},
      {"-add_attribute_to_z 0", 4294901761u},
      {"-add_scaled_attribute_to_user_data 0 1", 4294901792u},
      {"-set_classification 3 -repair_zero_returns -load_attribute_from_text 0 /dev/null", 0},
  };
  for (const auto& [command, layers] : cases) {
    LAStransform transform;
    ASSERT_TRUE(transform.parse(command)) << command;
    EXPECT_EQ(transform.get_selective_decoding(), layers) << command;
  }
}

TEST(LasTransform, ParseBlanksWhatItTakesAndLeavesTheRest) {
  std::vector<std::string> storage = {"tool", "-keep_class", "2",      "-set_user_data",
                                      "4",    "-o",          "out.las"};
  std::vector<char*> argv;
  for (std::string& entry : storage)
    argv.push_back(entry.data());
  LAStransform transform;
  ASSERT_TRUE(transform.parse(static_cast<int>(argv.size()), argv.data()));
  EXPECT_STREQ(argv[3], "");
  EXPECT_STREQ(argv[4], "");
  EXPECT_STREQ(argv[1], "-keep_class");
  EXPECT_STREQ(argv[5], "-o");
}

TEST(LasTransform, RandomGeneratorStartsWithTheKnownSequence) {
  LASrandom random(0);
  EXPECT_EQ(random.next(), 38u);  // (2531011 >> 16) & 0x7FFF
  EXPECT_EQ(random.next(), 7719u);
}

}  // namespace
