// The isolation grid over sparse tiles (cells of thinly filled tiles kept in tables): the
// same verdicts as an independent count of the 27 cells around every point, for scattered
// points, clusters across tile borders and across the fill at which a tile gets its
// buffer, negative coordinates, saturated counters and spills under a tiny budget.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "grid_brute_force.hpp"
#include "temp_dir.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/las_raster.hpp"

namespace {

using namespace grid_test;

// Cells a sparse tile of the kind holds before it gets a buffer.
std::uint32_t sparse_limit_of(const char* kind) {
  LASraster raster;
  raster.set_kind(kind);
  raster.set_sparse(true);
  raster.set_cell(0, 0, nullptr);
  return raster.sparse_cell_limit();
}

// Points spread over a square of `extent` metres and 100 m of height, one in ten with a few
// more in its own or the next cell.
Cloud scattered(std::mt19937& random, int count, double extent, double origin = 0.0,
                int flightlines = 1) {
  Cloud cloud;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < count; i++) {
    const double x = origin + unit(random) * extent, y = origin + unit(random) * extent;
    const double z = origin / 100.0 + unit(random) * 100.0;
    const auto line = static_cast<std::uint16_t>(1 + i % flightlines);
    cloud.add(x, y, z, line);
    if (i % 10 != 0) continue;
    const int more = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < more; k++)
      cloud.add(x + (unit(random) - 0.5) * 6.0, y + (unit(random) - 0.5) * 6.0, z, line);
  }
  return cloud;
}

// Four quadrants around tile corners (tiles of 100 cells of `step`), each filled with a
// lattice of cells: every other cell with `limit` + 1, `limit` and `limit` - 1 cells (most
// of them isolated, the ones at the corner next to each other across the border), and a
// solid block of `limit` + 1 cells, all in one layer; a third of them have a point in the
// layer above. One corner lies at the origin, with negative coordinates.
Cloud tile_corner_clusters(float step, std::uint32_t limit, int points_per_cell) {
  Cloud cloud;
  const double s = step;
  const double corners[][2] = {{0.0, 0.0}, {300.0 * s, -700.0 * s}, {-1200.0 * s, 900.0 * s}};
  for (const auto& corner : corners) {
    const std::uint32_t counts[] = {limit + 1, limit, limit - 1, limit + 1};
    for (int quadrant = 0; quadrant < 4; quadrant++) {
      const int sx = quadrant == 0 || quadrant == 3 ? 1 : -1;
      const int sy = quadrant < 2 ? 1 : -1;
      const int spacing = quadrant == 3 ? 1 : 2;
      const auto side = static_cast<std::uint32_t>(std::ceil(std::sqrt(counts[quadrant])));
      for (std::uint32_t n = 0; n < counts[quadrant]; n++) {
        const int i = static_cast<int>(n % side), j = static_cast<int>(n / side);
        // Cell centres, the column -1 - i on the negative side.
        const double x = corner[0] + (sx > 0 ? spacing * i + 0.5 : -spacing * i - 0.5) * s;
        const double y = corner[1] + (sy > 0 ? spacing * j + 0.5 : -spacing * j - 0.5) * s;
        cloud.add_many(1 + (i + 2 * j) % points_per_cell, x, y, 0.5 * s);
        if ((i + j) % 3 == 0) cloud.add(x, y, 1.5 * s);
      }
    }
  }
  return cloud;
}

// Pairs of cells alone in their tiles, next to each other across a tile border (column or
// row 99 and 100, -1 and 0, -97 and -96 where the narrow tile begins, corners, the layer
// above), each cell holding about half of t: together they are more than t, alone they
// are not. Every pair lies far from the others.
Cloud tile_border_pairs(float step, std::uint32_t t) {
  Cloud cloud;
  const double s = step;
  const int half = static_cast<int>(t / 2 + 1);
  const int columns[][2] = {{99, 100}, {-1, 0}, {-97, -96}, {199, 200}};
  double far = 0.0;
  for (const auto& pair : columns) {
    for (int layer_step : {0, 1}) {
      far += 1000.0;  // rows apart
      const double row = far + 50.5;
      // Across a column border, across a row border (the pair transposed), across a corner.
      cloud.add_many(half, (pair[0] + 0.5) * s, row * s, 0.5 * s);
      cloud.add_many(half, (pair[1] + 0.5) * s, row * s, (0.5 + layer_step) * s);
      cloud.add_many(half, (far + 50.5) * s, (pair[0] + 0.5) * s, 0.5 * s);
      cloud.add_many(half, (far + 50.5) * s, (pair[1] + 0.5) * s, (0.5 + layer_step) * s);
      cloud.add_many(half, (pair[0] + 0.5 - far) * s, (pair[0] + 0.5) * s, 0.5 * s);
      cloud.add_many(half, (pair[1] + 0.5 - far) * s, (pair[1] + 0.5) * s, (0.5 + layer_step) * s);
    }
  }
  return cloud;
}

// Cells of 1, t + 1 and beyond the counter's maximum, alone in their tiles and beside cells
// of t or beyond the maximum, so that saturated counters are read as neighbours too.
Cloud saturated_cells(std::uint32_t t, std::uint32_t maximum) {
  Cloud cloud;
  double x = -2000.0;
  for (std::uint32_t own : {1u, t + 1, maximum + 3}) {
    for (std::uint32_t beside : {0u, t, maximum + 1}) {
      cloud.add_many(static_cast<int>(own), x, 10.0, 10.0);
      cloud.add_many(static_cast<int>(beside), x + 4.0, 14.0, 14.0);  // the diagonal cell
      x += 900.0;
    }
  }
  return cloud;
}

struct SparseCase {
  std::string name;
  int isolated;
  float step;
  bool by_flightline;
  bool whole_tiles_too;
  std::function<Cloud(std::mt19937&, std::uint32_t limit)> make;
};

std::vector<SparseCase> sparse_cases() {
  std::vector<SparseCase> cases;
  for (int isolated : {1, 5, 100}) {
    cases.push_back({"scattered over 100 km", isolated, 4.0f, false, false,
                     [](std::mt19937& r, std::uint32_t) { return scattered(r, 3000, 1e5); }});
  }
  cases.push_back({"scattered by flightline", 5, 4.0f, true, false,
                   [](std::mt19937& r, std::uint32_t) { return scattered(r, 3000, 2e4, 0.0, 3); }});
  cases.push_back(
      {"scattered below zero", 2, 1.0f, false, true,
       [](std::mt19937& r, std::uint32_t) { return scattered(r, 3000, 3000.0, -1500.0); }});
  for (int isolated : {1, 5, 100}) {
    cases.push_back({"pairs across tile borders", isolated, 2.0f, false, true,
                     [isolated](std::mt19937&, std::uint32_t) {
                       return tile_border_pairs(2.0f, static_cast<std::uint32_t>(isolated) + 1);
                     }});
  }
  // One kind of counter each: 2, 4, 8, 16 and 32 bits.
  for (int isolated : {1, 5, 100, 300, 70000}) {
    for (int per_cell : {1, 4}) {
      cases.push_back({"tile corner clusters of " + std::to_string(per_cell), isolated, 2.0f, false,
                       true, [per_cell](std::mt19937&, std::uint32_t limit) {
                         return tile_corner_clusters(2.0f, limit, per_cell);
                       }});
    }
  }
  for (auto [isolated, maximum] : {std::pair{1, 3u}, {2, 15u}, {100, 255u}, {300, 65535u}}) {
    cases.push_back({"saturated", isolated, 4.0f, false, true,
                     [isolated, maximum](std::mt19937&, std::uint32_t) {
                       return saturated_cells(static_cast<std::uint32_t>(isolated) + 1, maximum);
                     }});
  }
  return cases;
}

TEST(IsolationGridSparse, VerdictsAreThoseOfAnIndependentCountWithAndWithoutSparseTiles) {
  std::mt19937 random(2718);
  for (const SparseCase& c : sparse_cases()) {
    IsolationGridSettings settings = settings_for(c.isolated, c.step, c.by_flightline);
    const std::uint32_t limit = sparse_limit_of(counter_kind_for_threshold(settings.threshold));
    const Cloud cloud = c.make(random, limit);
    const std::vector<bool> expected = BruteForce::verdicts(settings, cloud, nullptr);
    ASSERT_EQ(verdicts(settings, cloud), expected) << c.name << ", isolated " << c.isolated;
    // Whole tiles where they are few (a tile for every scattered point takes long).
    if (!c.whole_tiles_too) continue;
    settings.sparse_tiles = false;
    ASSERT_EQ(verdicts(settings, cloud), expected) << c.name << " (whole tiles)";
  }
}

TEST(IsolationGridSparse, TinyBudgetSpillsTheWholeTilesAndKeepsTheSparseOnesWithOneWarning) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::mt19937 random(31);
  for (int isolated : {1, 5, 254}) {
    // A solid block of 110 x 110 cells (whole tiles, some across tile borders) among
    // scattered points, in tiles of 100 m.
    Cloud cloud = scattered(random, 1000, 5000.0, -2500.0);
    for (int i = 0; i < 110; i++) {
      for (int j = 0; j < 110; j++)
        cloud.add(-55.5 + i, -55.5 + j, (i * j) % 7 == 0 ? 1.5 : 0.5);
    }
    IsolationGridSettings settings = settings_for(isolated, 1.0f);
    const std::vector<bool> expected = BruteForce::verdicts(settings, cloud, nullptr);
    settings.memory_limit = 12000;
    settings.temp_name_base = dir.base();
    {
      IsolationGrid grid(settings, nullptr);
      testing::internal::CaptureStderr();
      const std::vector<bool> noise = verdicts(grid, cloud);
      const std::string err = testing::internal::GetCapturedStderr();
      ASSERT_EQ(noise, expected) << "isolated " << isolated;
      EXPECT_GT(grid.spill_writes(), 0u);
      EXPECT_GT(grid.spill_reads(), 0u);
      EXPECT_FALSE(grid.spill_failed());
      EXPECT_EQ(err.find("WARNING: the grid's scattered cells need "), 0u) << err;
      EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    }
    EXPECT_TRUE(dir.files().empty());
  }
}

// The grid's own figure of its memory (tile buffers, tables, records and maps): scattered
// points take about as much as the same points packed into one square kilometre, where
// whole tiles took about 5 kB for each of them.
TEST(IsolationGridSparse, ScatteredPointsCostMemoryByThePointNotByTheArea) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int count = 20000;
  Cloud packed, spread;
  for (int i = 0; i < count; i++) {
    const double x = unit(random), y = unit(random), z = unit(random) * 100.0;
    packed.add(x * 1000.0, y * 1000.0, z);
    spread.add(x * 1e5, y * 1e5, z);
  }
  Cloud few;  // whole tiles take long: a tenth of the points
  for (int i = 0; i < count / 10; i++)
    few.points.push_back(spread.points[i]);
  const auto peak = [](const Cloud& cloud, bool sparse) {
    IsolationGridSettings settings = settings_for(5);
    settings.sparse_tiles = sparse;
    IsolationGrid grid(settings, nullptr);
    verdicts(grid, cloud);
    return grid.peak_memory_bytes();
  };
  const std::uint64_t packed_bytes = peak(packed, true);
  const std::uint64_t spread_bytes = peak(spread, true);
  EXPECT_LT(spread_bytes, 100u * count) << "packed: " << packed_bytes;
  EXPECT_LT(spread_bytes, 3 * packed_bytes);
  EXPECT_GT(peak(few, false), 4000u * (count / 10)) << "whole tiles cost a tile a point";
}

}  // namespace
