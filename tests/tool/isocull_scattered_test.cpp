// End to end: points scattered over a wide area (each alone in its grid tile), with pairs
// and clusters across tile borders and below zero, are marked exactly as an independent
// count of the 27 cells around each point says, at every counter width.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

using IsocullScattered = ToolFolders;

// 4000 points over 80 km, two flightlines; one in eight with company in its own or the next
// cell, and clusters across the tile borders around the origin and at 400 m (tiles of
// 100 cells of 4 m), the latter with a crowded core.
std::vector<SimplePoint> scattered_scene() {
  std::mt19937 random(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<SimplePoint> points;
  for (int i = 0; i < 4000; i++) {
    const double x = -40000.0 + unit(random) * 80000.0, y = -40000.0 + unit(random) * 80000.0;
    const double z = -50.0 + unit(random) * 150.0;
    const auto line = static_cast<std::uint16_t>(1 + i % 2);
    points.push_back({x, y, z, 1, line});
    if (i % 8 != 0) continue;
    for (int k = 0; k <= i % 5; k++)
      points.push_back({x + (unit(random) - 0.5) * 8.0, y + unit(random) * 4.0, z, 1, line});
  }
  for (const double corner : {0.0, 400.0}) {
    for (int i = 0; i < (corner == 0.0 ? 2000 : 900); i++) {
      // Around the origin enough cells to give the four tiles their buffers; at 400 m a
      // core of 600 points in the four cells around the corner.
      const double spread = corner == 0.0 ? 160.0 : (i < 300 ? 40.0 : 7.9);
      points.push_back({corner + (unit(random) - 0.5) * spread,
                        corner + (unit(random) - 0.5) * spread, unit(random) * 8.0, 1,
                        static_cast<std::uint16_t>(1 + i % 2)});
    }
  }
  return points;
}

TEST_F(IsocullScattered, ScatteredPointsAreMarkedAsAnIndependentCountSays) {
  const std::string input = path("in/scattered.las");
  ASSERT_TRUE(write_points(input, scattered_scene()));
  struct Case {
    std::vector<std::string> options;
    NoiseParameters parameters;
    bool whole_tiles_too;  // a tile for every scattered point takes long: a few cases only
  };
  const std::vector<Case> cases = {
      {{}, {}, true},
      {{"-isolated", "1"}, {4.0f, 4.0f, 1}, true},                   // 2-bit counters
      {{"-isolated", "20", "-step", "8"}, {8.0f, 8.0f, 20}, false},  // 8 bits
      {{"-isolated", "300"}, {4.0f, 4.0f, 300}, false},              // 16 bits
      {{"-by_flightline", "-step_xy", "2"}, {2.0f, 4.0f, 5, true}, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", input, "-o", path("out/scattered.las")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(args.size() > 4 ? args[4] : "defaults");
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const Verdicts verdicts = brute_force_verdicts(input, c.parameters);
    EXPECT_GT(verdicts.noise_count, 1000u);
    EXPECT_LT(verdicts.noise_count, verdicts.noise.size());
    expect_marked(input, path("out/scattered.las"), Mode::kClassify, 7, verdicts);
    EXPECT_TRUE(listing("tmp").empty());
    // With whole tiles only: the same bytes.
    if (!c.whole_tiles_too) continue;
    args[3] = path("out/whole.las");
    args.push_back("-whole_tiles");
    ASSERT_EQ(run(args).exit_code, 0);
    EXPECT_EQ(read_text(path("out/whole.las")), read_text(path("out/scattered.las")));
  }
}

}  // namespace
