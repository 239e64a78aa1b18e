// The survey of how many points lie around a typical point: the grid's samples and their
// neighbourhood counts against a brute-force count, the verdict of check_density at its
// bounds, and the rounding of the suggested step.

#include "tool/density_check.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "model/las_point.hpp"
#include "tool/isolation_grid.hpp"

namespace {

struct Points {
  std::unique_ptr<LASscaling> scaling = std::make_unique<LASscaling>();
  std::vector<LASpoint> all;
  void add(double x, double y, double z) {
    LASpoint point;
    point.scaling = scaling.get();
    point.X = static_cast<std::int32_t>(scaling->get_X(x));
    point.Y = static_cast<std::int32_t>(scaling->get_Y(y));
    point.Z = static_cast<std::int32_t>(scaling->get_Z(z));
    point.point_source_ID = 1;
    all.push_back(point);
  }
};

IsolationGridSettings settings_for(int isolated, float step) {
  IsolationGridSettings settings;
  settings.step_xy = settings.step_z = step;
  settings.threshold = static_cast<std::uint32_t>(isolated) + 1;
  return settings;
}

// A plane of `per_cell` points in each cell of a `side` by `side` square of cells (step 1),
// framed by cells of 30 points more, so that no point of the plane has fewer around it
// than 9 * `per_cell`, the count inside.
Points lattice(int side, int per_cell) {
  Points points;
  for (int x = 0; x < side; x++) {
    for (int y = 0; y < side; y++) {
      const bool frame = x == 0 || y == 0 || x == side - 1 || y == side - 1;
      for (int k = 0; k < per_cell + (frame ? 30 : 0); k++)
        points.add(x + 0.01 + 0.03 * k, y + 0.5, 10.5);
    }
  }
  return points;
}

TEST(DensityCheck, SamplesCountTheCubeAroundTheirPointLikeABruteForce) {
  // Clusters and scattered points over a few layers, fewer than the samples hold: every
  // point is a sample, in the order added.
  Points points;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> across(0.0, 40.0), up(0.0, 12.0);
  for (int i = 0; i < 3000; i++)
    points.add(across(random), across(random), up(random));
  for (int i = 0; i < 200; i++)
    points.add(20.5, 20.5, 5.5);
  IsolationGrid grid(settings_for(250, 4.0f), nullptr);
  std::map<std::tuple<int, int, int>, std::uint64_t> cells;
  const auto cell_of = [](const LASpoint& p) {
    return std::tuple<int, int, int>(static_cast<int>(std::floor(p.get_z() / 4.0)),
                                     static_cast<int>(std::floor(p.get_x() / 4.0)),
                                     static_cast<int>(std::floor(p.get_y() / 4.0)));
  };
  for (const LASpoint& p : points.all) {
    grid.add_point(p);
    cells[cell_of(p)]++;
  }
  grid.finish_first_pass();
  ASSERT_EQ(grid.neighbourhood_sample_count(), points.all.size());
  for (std::size_t i = 0; i < points.all.size(); i += 7) {
    const auto [layer, column, row] = cell_of(points.all[i]);
    for (const int reach : {0, 1, 2}) {
      std::uint64_t expected = 0;
      for (int dz = -reach; dz <= reach; dz++) {
        for (int dx = -reach; dx <= reach; dx++) {
          for (int dy = -reach; dy <= reach; dy++) {
            const auto found = cells.find({layer + dz, column + dx, row + dy});
            if (found != cells.end()) expected += found->second;
          }
        }
      }
      EXPECT_EQ(grid.sample_neighbourhood(i, reach), expected)
          << "point " << i << " reach " << reach;
    }
  }
}

TEST(DensityCheck, SamplesStayBoundedAndSpreadWhateverTheCount) {
  for (const std::size_t count : {std::size_t{32768}, std::size_t{32769}, std::size_t{100000}}) {
    Points points;
    for (std::size_t i = 0; i < count; i++)
      points.add(static_cast<double>(i % 1000), static_cast<double>(i / 1000), 1.0);
    IsolationGrid grid(settings_for(5, 1.0f), nullptr);
    for (const LASpoint& p : points.all)
      grid.add_point(p);
    grid.finish_first_pass();
    const std::size_t samples = grid.neighbourhood_sample_count();
    EXPECT_LE(samples, 2 * IsolationGrid::kNeighbourhoodSamples) << count;
    EXPECT_GE(samples, IsolationGrid::kNeighbourhoodSamples) << count;
    // Spread over the whole order: the last samples lie in the last rows of points, whose
    // cells border no row beyond (a cell and its 8 around it in the plane hold at most 6).
    EXPECT_LE(grid.sample_neighbourhood(samples - 1, 1), 6u) << count;
    EXPECT_EQ(grid.sample_neighbourhood(samples / 3, 1), 9u) << count;
  }
}

TEST(DensityCheck, SparseExactlyBelowThreeTimesTheThreshold) {
  struct Case {
    int per_cell;
    int isolated;
    bool sparse;
    std::uint64_t sparse_count;
    std::uint64_t bound;
  };
  const Case cases[] = {
      {1, 5, true, 9, 18},    // 9 around each point, 18 wanted
      {2, 5, false, 18, 18},  // just enough
      {1, 2, false, 9, 9},    // 9 around, 9 wanted
      {1, 3, true, 9, 12},   {2, 6, true, 18, 21},
  };
  for (const Case& c : cases) {
    const Points points = lattice(60, c.per_cell);
    IsolationGrid grid(settings_for(c.isolated, 1.0f), nullptr);
    for (const LASpoint& p : points.all)
      grid.add_point(p);
    grid.finish_first_pass();
    const DensityFinding finding = check_density(grid, static_cast<std::uint32_t>(c.isolated));
    SCOPED_TRACE(std::to_string(c.per_cell) + " a cell, -isolated " + std::to_string(c.isolated));
    EXPECT_EQ(finding.sparse, c.sparse);
    EXPECT_EQ(finding.sparse_count, c.sparse_count);
    EXPECT_EQ(finding.bound, c.bound);
    EXPECT_EQ(finding.target, 2 * c.bound);
    if (!c.sparse) continue;
    // In a plane the count grows with the square of the step: twice the bound needs a
    // factor of sqrt(2 bound / the count).
    EXPECT_NEAR(
        finding.scale,
        std::sqrt(static_cast<double>(finding.target) / static_cast<double>(c.sparse_count)), 1e-9);
  }
}

// Points whose cell and the 26 around hold `isolated` + 1 points are noise: they say nothing
// of the genuine points' density and are left out of the survey.
TEST(DensityCheck, PointsAtTheThresholdAreNoiseAndLeftOut) {
  Points points = lattice(60, 1);
  // 50 lone clusters of 6 points far from the plane and from each other: 7.7 % of points.
  for (int cluster = 0; cluster < 50; cluster++) {
    for (int k = 0; k < 6; k++)
      points.add(1000.5 + 10.0 * cluster, 1000.5, 10.5 + 0.1 * k);
  }
  IsolationGrid grid(settings_for(5, 1.0f), nullptr);
  for (const LASpoint& p : points.all)
    grid.add_point(p);
  grid.finish_first_pass();
  const DensityFinding finding = check_density(grid, 5);
  EXPECT_TRUE(finding.sparse);
  EXPECT_EQ(finding.sparse_count, 9u);
  // With one point fewer to be noise (-isolated 4), the clusters count as genuine and sparse.
  EXPECT_EQ(check_density(grid, 4).sparse_count, 6u);
}

TEST(DensityCheck, TooManyNoisePointsOrTooFewSamplesAreNotJudged) {
  // Every point alone: all would be noise, and the warning about that share speaks.
  Points scattered;
  for (int i = 0; i < 1000; i++)
    scattered.add(i * 10.0, 0.5, 0.5);
  IsolationGrid alone(settings_for(5, 1.0f), nullptr);
  for (const LASpoint& p : scattered.all)
    alone.add_point(p);
  alone.finish_first_pass();
  EXPECT_FALSE(check_density(alone, 5).sparse);
  // 199 points are too few to judge; 200 are enough.
  for (const int side : {199, 200}) {
    Points row;
    for (int i = 0; i < side; i++)
      row.add(i + 0.5, 0.5, 0.5);
    IsolationGrid grid(settings_for(0, 1.0f), nullptr);
    for (const LASpoint& p : row.all)
      grid.add_point(p);
    grid.finish_first_pass();
    EXPECT_EQ(check_density(grid, 1).sparse, side == 200) << side;
  }
}

TEST(DensityCheck, SuggestedStepsRoundUpToTwoSignificantDigits) {
  struct Case {
    double step, scale, expected;
  };
  const Case cases[] = {
      {4.0, 1.6175, 6.5}, {12.0, 1.6, 20.0},     {4.0, 1.0, 4.0}, {4.0, 2.0, 8.0},
      {0.5, 1.25, 0.63},  {100.0, 1.001, 110.0}, {9.0, 1.1, 9.9}, {3.0, 3.5, 11.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(rounded_up_step(c.step, c.scale), c.expected, 1e-9) << c.step << " x " << c.scale;
  }
}

}  // namespace
