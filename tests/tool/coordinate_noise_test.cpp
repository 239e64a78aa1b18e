#include "tool/coordinate_noise.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "sanitizer_build.hpp"
#include "temp_dir.hpp"

namespace {

using Point = std::array<double, 3>;
using Outcome = CoordinateNoiseResult::Outcome;

// Under ThreadSanitizer the parts are compared with one grid, and the grid with the brute
// force only in the other builds: the brute force is a third of a million map lookups.
constexpr bool kThreadSanitized = sanitizer_build::kThreads;

// Noise when the point's cell and the 26 around it hold at most isolated + 1 points, each
// cell floor(coordinate / step) in double precision, every point looked at on its own.
std::vector<bool> brute_force(const std::vector<Point>& points, float step_xy, float step_z,
                              std::uint32_t isolated) {
  using Cell = std::tuple<long long, long long, long long>;
  const auto cell_of = [&](const Point& p) {
    return Cell{static_cast<long long>(std::floor(p[0] / static_cast<double>(step_xy))),
                static_cast<long long>(std::floor(p[1] / static_cast<double>(step_xy))),
                static_cast<long long>(std::floor(p[2] / static_cast<double>(step_z)))};
  };
  std::map<Cell, std::uint64_t> counts;
  for (const Point& p : points)
    counts[cell_of(p)]++;
  std::vector<bool> noise;
  for (const Point& p : points) {
    const auto [c, r, l] = cell_of(p);
    std::uint64_t around = 0;
    for (int dc = -1; dc <= 1; dc++)
      for (int dr = -1; dr <= 1; dr++)
        for (int dl = -1; dl <= 1; dl++) {
          const auto found = counts.find(Cell{c + dc, r + dr, l + dl});
          if (found != counts.end()) around += found->second;
        }
    noise.push_back(around <= isolated + std::uint64_t{1});
  }
  return noise;
}

// Crowds, loners, negative coordinates and points exactly on cell boundaries.
std::vector<Point> mixed_points(std::uint32_t seed, std::size_t count, float step) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> spread(-20.0 * step, 20.0 * step);
  std::uniform_int_distribution<int> cell(-5, 5);
  std::normal_distribution<double> near(0.0, 0.3 * step);
  std::vector<Point> points;
  for (std::size_t i = 0; i < count; i++) {
    switch (i % 4) {
      case 0:
        points.push_back({spread(random), spread(random), spread(random)});
        break;
      case 1:
        points.push_back({cell(random) * static_cast<double>(step),
                          cell(random) * static_cast<double>(step),
                          cell(random) * static_cast<double>(step)});
        break;
      default:
        points.push_back({-1.5 * step + near(random), near(random), 2.0 * step + near(random)});
    }
  }
  return points;
}

std::vector<bool> decide(const CoordinateRows& rows, const CoordinateNoiseSettings& settings,
                         CoordinateNoiseResult* result_out = nullptr) {
  std::vector<char> noise(rows.count, 2);
  const CoordinateNoiseResult result =
      decide_coordinate_noise(rows, settings, reinterpret_cast<bool*>(noise.data()));
  EXPECT_EQ(result.outcome, Outcome::kDone) << result.error;
  if (result_out) *result_out = result;
  return std::vector<bool>(noise.begin(), noise.end());
}

TEST(CoordinateNoise, EqualsABruteForceInEveryLayoutAndPrecision) {
  for (const auto& [step, isolated] :
       {std::tuple{4.0f, 5u}, std::tuple{0.3f, 1u}, std::tuple{2.5f, 14u}, std::tuple{1.0f, 0u}}) {
    const std::vector<Point> points =
        mixed_points(static_cast<std::uint32_t>(isolated) + 7, 600, step);
    const std::vector<bool> expected = brute_force(points, step, step, isolated);
    ASSERT_NE(std::count(expected.begin(), expected.end(), true), 0);
    ASSERT_NE(std::count(expected.begin(), expected.end(), false), 0);
    CoordinateNoiseSettings settings;
    settings.step_xy = settings.step_z = step;
    settings.isolated = isolated;
    const std::size_t n = points.size();

    CoordinateRows rows;  // rows one after the other
    rows.data = reinterpret_cast<const std::byte*>(points.data());
    rows.count = n;
    rows.row_stride = sizeof(Point);
    rows.column_stride = sizeof(double);
    CoordinateNoiseResult result;
    EXPECT_EQ(decide(rows, settings, &result), expected) << step;
    EXPECT_EQ(result.noise_points,
              static_cast<std::uint64_t>(std::count(expected.begin(), expected.end(), true)));

    std::vector<double> columns(3 * n);  // x of every row, then y, then z
    for (std::size_t i = 0; i < n; i++)
      for (int axis = 0; axis < 3; axis++)
        columns[axis * n + i] = points[i][axis];
    rows.data = reinterpret_cast<const std::byte*>(columns.data());
    rows.row_stride = sizeof(double);
    rows.column_stride = static_cast<std::ptrdiff_t>(n * sizeof(double));
    EXPECT_EQ(decide(rows, settings), expected) << step;

    rows.data = reinterpret_cast<const std::byte*>(&points[n - 1]);  // last row first
    rows.row_stride = -static_cast<std::ptrdiff_t>(sizeof(Point));
    rows.column_stride = sizeof(double);
    const std::vector<bool> backwards = decide(rows, settings);
    EXPECT_EQ(std::vector<bool>(backwards.rbegin(), backwards.rend()), expected) << step;

    // Single precision, four floats a row: the verdict of the widened values.
    std::vector<float> narrow(4 * n);
    std::vector<Point> widened;
    for (std::size_t i = 0; i < n; i++) {
      for (int axis = 0; axis < 3; axis++)
        narrow[4 * i + axis] = static_cast<float>(points[i][axis]);
      widened.push_back({narrow[4 * i], narrow[4 * i + 1], narrow[4 * i + 2]});
    }
    rows.data = reinterpret_cast<const std::byte*>(narrow.data());
    rows.row_stride = 4 * sizeof(float);
    rows.column_stride = sizeof(float);
    rows.single_precision = true;
    EXPECT_EQ(decide(rows, settings), brute_force(widened, step, step, isolated)) << step;
  }
}

TEST(CoordinateNoise, StopsAtTheFirstNanOrInfinityAndNamesItsRow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [row, axis, value] : {std::tuple{0, 0, nan}, std::tuple{7, 2, inf},
                                         std::tuple{9, 1, -inf}, std::tuple{3, 2, nan}}) {
    std::vector<Point> points(10, Point{1.0, 2.0, 3.0});
    points[row][axis] = value;
    points[9][0] = row == 9 ? points[9][0] : nan;  // a later one is not the first
    CoordinateRows rows{reinterpret_cast<const std::byte*>(points.data()), points.size(),
                        sizeof(Point), sizeof(double), false};
    bool noise[10] = {};
    const CoordinateNoiseResult result = decide_coordinate_noise(rows, {}, noise);
    EXPECT_EQ(result.outcome, Outcome::kNotFinite);
    EXPECT_EQ(result.first_not_finite, static_cast<std::uint64_t>(row));
  }
}

TEST(CoordinateNoise, PointsFarOutHaveNoCellAndAreNeverNoise) {
  const std::vector<Point> points = {{1e15, 0.0, 0.0}, {0.0, 0.0, -1e15}, {0.0, 0.0, 0.0}};
  CoordinateRows rows{reinterpret_cast<const std::byte*>(points.data()), points.size(),
                      sizeof(Point), sizeof(double), false};
  CoordinateNoiseSettings settings;
  settings.step_xy = settings.step_z = 0.001f;
  CoordinateNoiseResult result;
  EXPECT_EQ(decide(rows, settings, &result), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(result.out_of_grid, 2u);
}

TEST(CoordinateNoise, ASmallBudgetSpillsIntoAPrivateFolderAndGivesTheSameVerdicts) {
  // 1000 x 1000 m at step 2: hundreds of tiles, where the budget holds a few.
  std::mt19937 random(3);
  std::uniform_real_distribution<double> across(-500.0, 500.0);
  std::vector<Point> points;
  for (int i = 0; i < 20000; i++)
    points.push_back({across(random), across(random), across(random) / 100.0});
  CoordinateRows rows{reinterpret_cast<const std::byte*>(points.data()), points.size(),
                      sizeof(Point), sizeof(double), false};
  CoordinateNoiseSettings settings;
  settings.step_xy = settings.step_z = 2.0f;
  settings.isolated = 0;
  settings.memory_limit = 100000;
  settings.rows_per_thread = 5000;  // in parts, each with its share of the budget
  TempDir temporary;
  ASSERT_TRUE(temporary.ok());
  const char* saved = getenv("TMPDIR");
  const std::string saved_tmpdir = saved ? saved : "";
  setenv("TMPDIR", temporary.path().c_str(), 1);
  CoordinateNoiseResult result;
  const std::vector<bool> spilled = decide(rows, settings, &result);
  saved ? setenv("TMPDIR", saved_tmpdir.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_GT(result.spilled_tiles, 0u);
  EXPECT_TRUE(temporary.files().empty());
  EXPECT_EQ(spilled, brute_force(points, 2.0f, 2.0f, 0));
  settings.memory_limit = CoordinateNoiseSettings{}.memory_limit;
  EXPECT_EQ(decide(rows, settings, &result), spilled);
  EXPECT_EQ(result.spilled_tiles, 0u);
}

TEST(CoordinateNoise, EndsWithoutVerdictsWhenTheCallerSaysStop) {
  const std::vector<Point> points(3u << 16, Point{1.0, 2.0, 3.0});
  CoordinateRows rows{reinterpret_cast<const std::byte*>(points.data()), points.size(),
                      sizeof(Point), sizeof(double), false};
  std::vector<char> noise(points.size(), 0);
  bool* verdicts = reinterpret_cast<bool*>(noise.data());
  CoordinateNoiseSettings one_thread;
  one_thread.threads = 1;
  int asked = 0;
  const auto stop_at_second = [&asked] { return ++asked < 2; };
  EXPECT_EQ(decide_coordinate_noise(rows, one_thread, verdicts, stop_at_second).outcome,
            Outcome::kStopped);
  EXPECT_EQ(asked, 2);
  int asked_through = 0;
  const auto always = [&asked_through] { return ++asked_through > 0; };
  EXPECT_EQ(decide_coordinate_noise(rows, one_thread, verdicts, always).outcome, Outcome::kDone);
  EXPECT_EQ(asked_through, 6);  // three times in each pass
  // Split into parts, the parts on the other threads stop too.
  CoordinateNoiseSettings parts;
  parts.threads = 4;
  parts.rows_per_thread = 1000;
  asked = 0;
  EXPECT_EQ(decide_coordinate_noise(rows, parts, verdicts, stop_at_second).outcome,
            Outcome::kStopped);
}

// Points along x from -600 to 600 m in crowds of a few, so that cells across the columns
// where the parts meet hold points of both parts.
std::vector<Point> strip_points(std::uint32_t seed, std::size_t count) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> along(-600.0, 600.0);
  std::uniform_real_distribution<double> across(-8.0, 8.0);
  std::uniform_int_distribution<int> crowd(1, 9);
  std::vector<Point> points;
  while (points.size() < count) {
    const Point centre{along(random), across(random), across(random)};
    for (int i = crowd(random); i > 0 && points.size() < count; i--)
      points.push_back({centre[0] + across(random) / 4, centre[1] + across(random) / 4,
                        centre[2] + across(random) / 4});
  }
  return points;
}

TEST(CoordinateNoise, PartsOnSeveralThreadsGiveTheVerdictsOfOneGrid) {
  const std::vector<Point> points = strip_points(12, 40000);
  CoordinateRows rows{reinterpret_cast<const std::byte*>(points.data()), points.size(),
                      sizeof(Point), sizeof(double), false};
  for (const float step : {2.0f, 0.5f, 7.0f}) {
    CoordinateNoiseSettings settings;
    settings.step_xy = settings.step_z = step;
    settings.isolated = 3;
    settings.threads = 1;
    CoordinateNoiseResult one;
    const std::vector<bool> expected = decide(rows, settings, &one);
    if (!kThreadSanitized) {
      EXPECT_EQ(expected, brute_force(points, step, step, 3)) << step;
    }
    for (const unsigned threads : {2u, 3u, 8u}) {
      settings.threads = threads;
      settings.rows_per_thread = 1000;
      CoordinateNoiseResult split;
      EXPECT_EQ(decide(rows, settings, &split), expected) << step << " " << threads;
      EXPECT_EQ(split.noise_points, one.noise_points);
    }
  }
  // Points without a cell, and the first NaN, are found as with one grid. Every 40th row
  // lies far out in y or z, in every column, also those that two parts share: each is
  // counted once.
  std::vector<Point> odd = points;
  for (std::size_t i = 0; i < odd.size(); i += 40)
    odd[i][1 + i / 40 % 2] = 1e300;
  CoordinateRows odd_rows{reinterpret_cast<const std::byte*>(odd.data()), odd.size(), sizeof(Point),
                          sizeof(double), false};
  CoordinateNoiseSettings settings;
  settings.threads = 4;
  settings.rows_per_thread = 1000;
  CoordinateNoiseResult split;
  const std::vector<bool> verdicts = decide(odd_rows, settings, &split);
  EXPECT_EQ(split.out_of_grid, odd.size() / 40);
  for (std::size_t i = 0; i < odd.size(); i += 40)
    EXPECT_FALSE(verdicts[i]) << i;
  // The first NaN in the first part (no x), a later one in the last (the largest x): both
  // parts find theirs before they look at each other's (every 65536 rows).
  odd[25000][0] = std::numeric_limits<double>::quiet_NaN();
  odd[39000][0] = 700.0;
  odd[39000][1] = std::numeric_limits<double>::quiet_NaN();
  std::vector<char> noise(odd.size());
  const CoordinateNoiseResult stopped =
      decide_coordinate_noise(odd_rows, settings, reinterpret_cast<bool*>(noise.data()));
  EXPECT_EQ(stopped.outcome, Outcome::kNotFinite);
  EXPECT_EQ(stopped.first_not_finite, 25000u);
}

}  // namespace
