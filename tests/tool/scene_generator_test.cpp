#include "scene/scene_generator.hpp"

#include <gtest/gtest.h>

#include <set>

namespace {

std::vector<ScenePoint> generate(const SceneOptions& options) {
  SceneGenerator generator(options);
  std::vector<ScenePoint> points;
  ScenePoint point;
  while (generator.next(point))
    points.push_back(point);
  return points;
}

TEST(SceneGenerator, SameSeedGivesTheSamePointsAndOtherSeedsOthers) {
  SceneOptions options;
  options.points = 20000;
  const auto a = generate(options);
  const auto b = generate(options);
  ASSERT_EQ(a.size(), 20000u);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); i++) {
    ASSERT_EQ(a[i].x, b[i].x) << i;
    ASSERT_EQ(a[i].z, b[i].z) << i;
    ASSERT_EQ(a[i].gps_time, b[i].gps_time) << i;
  }
  options.seed = 2;
  const auto c = generate(options);
  EXPECT_NE(a[100].x, c[100].x);
}

TEST(SceneGenerator, PointsLookLikeAnAirborneAcquisition) {
  SceneOptions options;
  options.points = 200000;
  options.noise_fraction = 0.002;
  SceneGenerator generator(options);
  ScenePoint point;
  std::uint64_t count = 0, noise = 0, multiple = 0;
  std::set<int> classes, flight_lines;
  double last_time = 0;
  while (generator.next(point)) {
    count++;
    ASSERT_GE(point.gps_time, last_time);
    last_time = point.gps_time;
    ASSERT_GE(point.return_number, 1);
    ASSERT_LE(point.return_number, point.number_of_returns);
    ASSERT_GE(point.x, generator.min_x());
    ASSERT_LE(point.x, generator.max_x());
    ASSERT_GE(point.y, generator.min_y());
    ASSERT_LE(point.y, generator.max_y());
    if (point.injected_noise) noise++;
    if (point.number_of_returns > 1) multiple++;
    classes.insert(point.classification);
    flight_lines.insert(point.point_source_ID);
  }
  EXPECT_EQ(count, 200000u);
  EXPECT_NEAR(static_cast<double>(noise), 400.0, 120.0);
  EXPECT_GT(multiple, count / 20);  // trees give several returns per pulse
  EXPECT_TRUE(classes.count(2) && classes.count(5) && classes.count(6));
  EXPECT_GE(flight_lines.size(), 2u);  // two overlapping flight lines
}

TEST(SceneGenerator, FeetTilesAreLargerNumbersForTheSameGround) {
  SceneOptions metres;
  metres.points = 1000;
  SceneOptions feet = metres;
  feet.feet = true;
  SceneGenerator m(metres), f(feet);
  EXPECT_NEAR((f.max_x() - f.min_x()) / (m.max_x() - m.min_x()), 3.2808, 0.001);
}

}  // namespace
