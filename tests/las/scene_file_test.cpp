// The scene file generator writes what it promises: counts and bounds from its tally, the
// unit in its geo keys, the fields of the point type, and a truth file of noise indexes.

#include <fstream>

#include "las/las_reader_las.hpp"
#include "las_test_support.hpp"
#include "scene/scene_las.hpp"

using namespace las_test;

namespace {

std::uint16_t geo_key(const LASheader& header, std::uint16_t key_id) {
  for (int i = 0; i < header.geo_key_count(); i++) {
    if (header.geo_key_entries()[i].key_id == key_id)
      return header.geo_key_entries()[i].value_offset;
  }
  return 0;
}

}  // namespace

TEST(SceneFile, FeetSceneOfTypeEightCarriesItsUnitCountsBoundsAndTruth) {
  const auto path = scratch("scene.las");
  const auto truth = scratch("truth.txt");
  SceneFileOptions options;
  options.scene.points = 20000;
  options.scene.feet = true;
  options.scene.noise_fraction = 0.01;
  options.point_type = 8;
  options.truth_path = truth.string();
  ASSERT_TRUE(write_scene_las(path.string().c_str(), options));

  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_file(path.string().c_str()));
  EXPECT_EQ(reader.header.version_minor, 4);
  EXPECT_EQ(reader.header.point_data_format, 8);
  EXPECT_EQ(reader.header.number_of_point_records, 0u);
  EXPECT_EQ(reader.header.extended_number_of_point_records, 20000u);
  EXPECT_EQ(geo_key(reader.header, 3076), 9003);
  EXPECT_EQ(geo_key(reader.header, 4099), 9003);
  EXPECT_NE(geo_key(reader.header, 3072), 0);
  EXPECT_EQ(reader.header.x_scale_factor, 0.01);

  double min_x = 1e300, max_x = -1e300, min_z = 1e300, max_z = -1e300;
  std::uint64_t returns[16] = {};
  std::int64_t points = 0;
  bool colours = false, infrared = false, times = true;
  while (reader.read_next()) {
    const LASpoint& p = reader.point;
    min_x = std::min(min_x, p.get_x());
    max_x = std::max(max_x, p.get_x());
    min_z = std::min(min_z, p.get_z());
    max_z = std::max(max_z, p.get_z());
    returns[p.extended_return_number]++;
    colours = colours || p.rgb[0] != 0;
    infrared = infrared || p.rgb[3] != 0;
    times = times && p.gps_time > 0;
    points++;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(points, 20000);
  EXPECT_EQ(reader.header.min_x, min_x);
  EXPECT_EQ(reader.header.max_x, max_x);
  EXPECT_EQ(reader.header.min_z, min_z);
  EXPECT_EQ(reader.header.max_z, max_z);
  EXPECT_EQ(reader.header.extended_number_of_points_by_return[0], returns[1]);
  EXPECT_TRUE(colours);
  EXPECT_TRUE(infrared);
  EXPECT_TRUE(times);

  std::ifstream lines(truth);
  std::int64_t index = 0, previous = -1, noise = 0;
  while (lines >> index) {
    EXPECT_GT(index, previous);
    EXPECT_LT(index, 20000);
    previous = index;
    noise++;
  }
  EXPECT_GT(noise, 100);
  EXPECT_LT(noise, 400);
}

TEST(SceneFile, MetreSceneOfTypeOneIsLasOneTwoWithLegacyCounts) {
  const auto path = scratch("scene.las");
  SceneFileOptions options;
  options.scene.points = 5000;
  ASSERT_TRUE(write_scene_las(path.string().c_str(), options));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(path.string().c_str()));
  EXPECT_EQ(reader.header.version_minor, 2);
  EXPECT_EQ(reader.header.point_data_format, 1);
  EXPECT_EQ(reader.header.number_of_point_records, 5000u);
  EXPECT_EQ(geo_key(reader.header, 3076), 9001);
  EXPECT_EQ(reader.header.x_offset, 431000.0);

  options.point_type = 11;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(write_scene_las(path.string().c_str(), options));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: point type 11 is not one of 0 to 10\n");
}
