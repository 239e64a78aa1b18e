// Several files read as one: the merged header counts what the files hold, return by
// return (the extended counts of LAS 1.4 too), its box is the union, and the points come
// file after file, none lost or repeated.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/las_reader_merged.hpp"
#include "las/las_reader_las.hpp"
#include "scene/scene_las.hpp"

#include "open_las.hpp"

namespace {

using formats_test::open_las;

// What the files hold, counted point by point: no header is trusted.
struct Counted {
  std::uint64_t points = 0;
  std::array<std::uint64_t, 15> by_return{};
  double min_x = 1e300, max_x = -1e300, min_y = 1e300, max_y = -1e300;
  std::vector<std::array<double, 3>> xyz;
  void add(const LASpoint& point) {
    points++;
    const int r = point.extended_layout ? point.extended_return_number : point.return_number;
    if (r >= 1 && r <= 15) by_return[static_cast<std::size_t>(r - 1)]++;
    min_x = std::min(min_x, point.get_x());
    max_x = std::max(max_x, point.get_x());
    min_y = std::min(min_y, point.get_y());
    max_y = std::max(max_y, point.get_y());
    xyz.push_back({point.get_x(), point.get_y(), point.get_z()});
  }
};

class MergedFiles : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/isocull_merged_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Three tiles of one scene kind with other seeds: other boxes, other return mixes.
    for (std::uint32_t seed : {2u, 5u, 9u}) {
      SceneFileOptions options;
      options.scene.points = 200 + 150 * seed;
      options.scene.seed = seed;
      options.point_type = GetParam();
      names_.push_back(dir_ + "/tile" + std::to_string(seed) + ".las");
      ASSERT_TRUE(write_scene_las(names_.back().c_str(), options));
    }
  }
  void TearDown() override {
    for (const std::string& name : names_)
      unlink(name.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
  std::vector<std::string> names_;
};

TEST_P(MergedFiles, TheMergedHeaderCountsEveryReturnOfEveryFile) {
  Counted expected;
  for (const std::string& name : names_) {
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(name.c_str()));
    while (reader.read_next())
      expected.add(reader.point);
  }
  LASreaderMerged merged(&open_las, [](LASreader&, std::uint32_t, std::optional<std::uint32_t>) {});
  for (const std::string& name : names_)
    ASSERT_TRUE(merged.add_file_name(name));
  ASSERT_TRUE(merged.open());
  const LASheader& header = merged.header;
  EXPECT_EQ(header.point_count(), expected.points);
  if (header.version_minor >= 4) {
    EXPECT_EQ(header.extended_number_of_point_records, expected.points);
    for (std::size_t r = 0; r < 15; r++)
      EXPECT_EQ(header.extended_number_of_points_by_return[r], expected.by_return[r]) << r + 1;
  }
  // The legacy counts hold the first five returns where the point type allows them.
  if (GetParam() < 6) {
    EXPECT_EQ(header.number_of_point_records, expected.points);
    for (std::size_t r = 0; r < 5; r++)
      EXPECT_EQ(header.number_of_points_by_return[r], expected.by_return[r]) << r + 1;
  }
  const double slack = header.x_scale_factor;
  EXPECT_NEAR(header.min_x, expected.min_x, slack);
  EXPECT_NEAR(header.max_x, expected.max_x, slack);
  EXPECT_NEAR(header.min_y, expected.min_y, slack);
  EXPECT_NEAR(header.max_y, expected.max_y, slack);

  Counted delivered;
  while (merged.read_next())
    delivered.add(merged.point);
  ASSERT_EQ(delivered.points, expected.points);
  for (std::size_t i = 0; i < delivered.xyz.size(); i++) {
    for (int k = 0; k < 3; k++)
      ASSERT_NEAR(delivered.xyz[i][static_cast<std::size_t>(k)],
                  expected.xyz[i][static_cast<std::size_t>(k)], 0.006)
          << "point " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(PointTypes, MergedFiles, ::testing::Values(1, 6, 8),
                         [](const auto& info) { return "type" + std::to_string(info.param); });

}  // namespace
