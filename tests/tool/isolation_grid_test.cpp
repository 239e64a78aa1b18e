#include "tool/isolation_grid.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grid_brute_force.hpp"
#include "las/las_reader_las.hpp"
#include "scene/scene_las.hpp"
#include "temp_dir.hpp"

namespace {

using namespace grid_test;

TEST(IsolationGrid, RandomCloudsMatchAnIndependentCountAtEveryCounterWidth) {
  std::mt19937 random(20240607);
  const int thresholds[] = {1, 2, 3, 5, 13, 14, 15, 40, 253, 254, 255, 300};
  const float steps[] = {0.5f, 1.0f, 2.5f, 4.0f};
  std::map<std::string, int> kinds_used;
  for (int round = 0; round < 48; round++) {
    const bool by_flightline = round % 3 == 0;
    Cloud cloud = random_cloud(random, by_flightline ? 3 : 1);
    IsolationGridSettings settings =
        settings_for(thresholds[round % 12], steps[(round / 3) % 4], by_flightline);
    LASignore ignore;
    const bool with_ignore = round % 4 == 1;
    if (with_ignore) {
      ignore.flags = 1;
      ignore.classes[0] = 1u << 2;
    }
    const LASignore* ignore_set = with_ignore ? &ignore : nullptr;
    const std::vector<bool> expected = BruteForce::verdicts(settings, cloud, ignore_set);
    IsolationGrid grid(settings, ignore_set);
    kinds_used[grid.counter_kind()]++;
    ASSERT_EQ(verdicts(grid, cloud, ignore_set), expected)
        << "round " << round << " isolated " << settings.threshold - 1;
  }
  EXPECT_EQ(kinds_used.size(), 4u);  // 2, 4, 8 and 16 bits; 32 bits below
}

TEST(IsolationGrid, RandomCloudsGiveTheSameVerdictsThroughSpillFiles) {
  std::mt19937 random(99);
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const int thresholds[] = {1, 5, 14, 254};
  for (int round = 0; round < 8; round++) {
    const bool by_flightline = round % 2 == 1;
    Cloud cloud = random_cloud(random, by_flightline ? 2 : 1, 300.0);
    // Cells of 0.5 m make tiles of 50 m, so each of the few tall layers spans dozens.
    IsolationGridSettings settings = settings_for(thresholds[round % 4], 0.5f, by_flightline);
    settings.step_z = 30.0f;
    const std::vector<bool> expected = BruteForce::verdicts(settings, cloud, nullptr);
    ASSERT_EQ(verdicts(settings, cloud), expected);
    settings.memory_limit = 12000;  // two to nine tiles, by kind
    settings.temp_name_base = dir.base();
    // Whole tiles only, so that every tile goes through the spill file: sparse tiles stay
    // in memory (their spill is tested with the sparse grid).
    settings.sparse_tiles = false;
    {
      IsolationGrid grid(settings, nullptr);
      ASSERT_EQ(verdicts(grid, cloud), expected) << "round " << round;
      EXPECT_GT(grid.spill_writes(), 0u);
      EXPECT_GT(grid.spill_reads(), 0u);
    }
    EXPECT_TRUE(dir.files().empty()) << "round " << round;
  }
}

TEST(IsolationGrid, CrowdedCellIsNotNoiseWhenTheThresholdFillsA16BitCounter) {
  // isolated 65534: t = 65535 needs a 32-bit counter to tell 70000 points from 65535.
  Cloud cloud;
  cloud.add_many(70000, 1.0, 1.0, 1.0);
  cloud.add(1000.0, 1000.0, 1.0);
  IsolationGridSettings settings = settings_for(65534);
  IsolationGrid grid(settings, nullptr);
  EXPECT_STREQ(grid.counter_kind(), "counter_32bit");
  const std::vector<bool> noise = verdicts(grid, cloud);
  EXPECT_FALSE(noise[0]);
  EXPECT_TRUE(noise.back());
  EXPECT_EQ(noise, BruteForce::verdicts(settings, cloud, nullptr));
}

TEST(IsolationGrid, CounterKindIsTheNarrowestThatHoldsOneMoreThanTheThreshold) {
  EXPECT_STREQ(counter_kind_for_threshold(2), "counter_2bit");
  EXPECT_STREQ(counter_kind_for_threshold(3), "counter_4bit");
  EXPECT_STREQ(counter_kind_for_threshold(6), "counter_4bit");
  EXPECT_STREQ(counter_kind_for_threshold(14), "counter_4bit");
  EXPECT_STREQ(counter_kind_for_threshold(15), "counter");
  EXPECT_STREQ(counter_kind_for_threshold(254), "counter");
  EXPECT_STREQ(counter_kind_for_threshold(255), "counter_16bit");
  EXPECT_STREQ(counter_kind_for_threshold(65534), "counter_16bit");
  EXPECT_STREQ(counter_kind_for_threshold(65535), "counter_32bit");
}

TEST(IsolationGrid, SinglePointWithNothingAroundIsNoiseForEveryThreshold) {
  Cloud cloud;
  cloud.add(10.0, 10.0, 10.0);
  for (int isolated : {1, 2, 5, 100, 70000}) {
    EXPECT_EQ(verdicts(settings_for(isolated), cloud), std::vector<bool>{true}) << isolated;
  }
}

TEST(IsolationGrid, SevenPointsInOneCellAreNotNoiseAtTheDefaultThreshold) {
  Cloud six;
  six.add_many(6, 1.0, 1.0, 1.0);
  EXPECT_EQ(noise_count(verdicts(settings_for(5), six)), 6);
  Cloud seven;
  seven.add_many(7, 1.0, 1.0, 1.0);
  EXPECT_EQ(noise_count(verdicts(settings_for(5), seven)), 0);
}

TEST(IsolationGrid, ThreePlusThreeOnADiagonalAreNoiseUntilASeventhPointJoins) {
  Cloud diagonal;
  diagonal.add_many(3, 1.0, 1.0, 1.0);
  diagonal.add_many(3, 5.0, 5.0, 5.0);  // one more column, row and layer
  EXPECT_EQ(noise_count(verdicts(settings_for(5), diagonal)), 6);
  for (double corner : {1.0, 5.0}) {
    Cloud seven = Cloud{};
    seven.add_many(3, 1.0, 1.0, 1.0);
    seven.add_many(3, 5.0, 5.0, 5.0);
    seven.add(corner, corner, corner);
    EXPECT_EQ(noise_count(verdicts(settings_for(5), seven)), 0) << corner;
  }
}

TEST(IsolationGrid, PointsTwoLayersApartDoNotCountForEachOther) {
  Cloud apart;
  apart.add_many(3, 1.0, 1.0, 3.9);  // layer 0
  apart.add_many(4, 1.0, 1.0, 8.0);  // layer 2: z = 8 lies on the boundary, in the upper cell
  EXPECT_EQ(noise_count(verdicts(settings_for(5), apart)), 7);
  Cloud adjacent;
  adjacent.add_many(3, 1.0, 1.0, 3.9);
  adjacent.add_many(4, 1.0, 1.0, 4.0);  // layer 1
  EXPECT_EQ(noise_count(verdicts(settings_for(5), adjacent)), 0);
  IsolationGrid grid(settings_for(5), nullptr);
  for (const LASpoint& point : apart.points)
    grid.add_point(point);
  grid.finish_first_pass();
  EXPECT_EQ(grid.created_layers(), 3u);  // 0 to 2, the empty layer 1 included
}

TEST(IsolationGrid, SaturatedTwoBitCounterNeverMakesACrowdedCellNoise) {
  // isolated 1 (t = 2) uses 2-bit counters; four points read 3 > t and are not noise.
  Cloud four;
  four.add_many(4, 1.0, 1.0, 1.0);
  IsolationGrid two_bit(settings_for(1), nullptr);
  EXPECT_STREQ(two_bit.counter_kind(), "counter_2bit");
  EXPECT_EQ(noise_count(verdicts(two_bit, four)), 0);
  Cloud two;
  two.add_many(2, 1.0, 1.0, 1.0);
  EXPECT_EQ(noise_count(verdicts(settings_for(1), two)), 2);
  // isolated 2 (t = 3) would saturate a 2-bit counter at t; it gets 4 bits instead.
  IsolationGrid wider(settings_for(2), nullptr);
  EXPECT_STREQ(wider.counter_kind(), "counter_4bit");
  EXPECT_EQ(noise_count(verdicts(wider, four)), 0);
  Cloud three;
  three.add_many(3, 1.0, 1.0, 1.0);
  EXPECT_EQ(noise_count(verdicts(settings_for(2), three)), 3);
}

TEST(IsolationGrid, NegativeCoordinateFallsIntoColumnMinusOneNextToColumnZero) {
  Cloud near_zero;
  near_zero.add_many(3, -0.1, 1.0, 1.0);  // column -1
  near_zero.add_many(4, 0.1, 1.0, 1.0);   // column 0
  EXPECT_EQ(noise_count(verdicts(settings_for(5), near_zero)), 0);
  Cloud apart;
  apart.add_many(3, -4.1, 1.0, 1.0);  // column -2
  apart.add_many(4, 0.1, 1.0, 1.0);
  EXPECT_EQ(noise_count(verdicts(settings_for(5), apart)), 7);
}

TEST(IsolationGrid, IgnoredPointsAreNeitherCountedNorTested) {
  Cloud cloud;
  cloud.add(1.0, 1.0, 1.0);
  for (int i = 0; i < 20; i++)
    cloud.add(2.0, 2.0, 2.0, 0, 2);  // ignored ground points
  LASignore ignore;
  ignore.flags = 1;
  ignore.classes[0] = 1u << 2;
  IsolationGrid grid(settings_for(5), &ignore);
  const std::vector<bool> noise = verdicts(grid, cloud, &ignore);
  EXPECT_TRUE(noise[0]);
  EXPECT_EQ(noise_count(noise), 1);
  EXPECT_EQ(grid.ignored_count(), 20u);
}

TEST(IsolationGrid, FlightlinesAreSeparateGridsReportedInAscendingOrder) {
  Cloud cloud;
  cloud.add_many(4, 1.0, 1.0, 1.0, 9);
  cloud.add_many(4, 1.0, 1.0, 1.0, 3);  // the same cell, another flightline
  cloud.add_many(10, 50.0, 50.0, 1.0, 3);
  cloud.add(90.0, 90.0, 1.0, 5);
  const std::vector<bool> together = verdicts(settings_for(5), cloud);
  EXPECT_EQ(noise_count(together), 1);

  IsolationGrid grid(settings_for(5, 4.0f, true), nullptr);
  for (const LASpoint& point : cloud.points)
    grid.add_point(point);
  grid.finish_first_pass();
  EXPECT_EQ(grid.group_count(), 3u);
  EXPECT_EQ(grid.created_layers(), 1u);
  std::vector<GroupSearchResult> results;
  testing::internal::CaptureStderr();
  const std::uint64_t total = grid.search([&](const GroupSearchResult& result) {
    results.push_back(result);
    print_flightline_search_done(0.5, result);
  });
  print_now_outputting();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "took 0.5 sec. found 1 isolated cells for flightline 3.\n"
            "took 0.5 sec. found 1 isolated cells for flightline 5.\n"
            "took 0.5 sec. found 1 isolated cells for flightline 9.\n"
            "now outputting ...\n");
  EXPECT_EQ(total, 3u);
  ASSERT_EQ(results.size(), 3u);
  int noise = 0;
  for (const LASpoint& point : cloud.points)
    noise += grid.is_noise(point);
  EXPECT_EQ(noise, 9);
}

TEST(IsolationGrid, UnseenFlightlineInTheSecondPassIsFatal) {
  Cloud cloud;
  cloud.add(1.0, 1.0, 1.0, 4);
  IsolationGrid grid(settings_for(5, 4.0f, true), nullptr);
  verdicts(grid, cloud);
  Cloud stranger;
  stranger.add(1.0, 1.0, 1.0, 77);
  try {
    grid.is_noise(stranger.points[0]);
    FAIL() << "no exception";
  } catch (const IsolationGridError& error) {
    EXPECT_STREQ(error.what(), "FATAL ERROR: cannot alloc raster_hash for flightline 77.\n");
  }
}

TEST(IsolationGrid, StepsThatAreNotPositiveFiniteNumbersAreRejected) {
  const float bad[] = {0.0f, -4.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()};
  for (float step : bad) {
    IsolationGridSettings xy = settings_for(5);
    xy.step_xy = step;
    EXPECT_THROW(IsolationGrid(xy, nullptr), IsolationGridError) << step;
    IsolationGridSettings z = settings_for(5);
    z.step_z = step;
    EXPECT_THROW(IsolationGrid(z, nullptr), IsolationGridError) << step;
  }
  IsolationGridSettings zero = settings_for(5);
  zero.step_xy = 0.0f;
  try {
    IsolationGrid grid(zero, nullptr);
    FAIL() << "no exception";
  } catch (const IsolationGridError& error) {
    EXPECT_STREQ(error.what(), "ERROR: step_xy must be a positive finite number but is 0\n");
  }
}

TEST(IsolationGrid, PointsWithoutACellAreCountedNowhereAndNeverNoise) {
  // Each point lies at the offsets of its own scaling (X = Y = Z = 0).
  const auto at = [](double x, double y, double z) {
    LASscaling scaling;
    scaling.x_offset = x;
    scaling.y_offset = y;
    scaling.z_offset = z;
    return scaling;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const LASscaling places[] = {
      at(1e12, 1.0, 1.0),   // column 2.5e11
      at(1.0, -1e12, 1.0),  // row far below
      at(1.0, 1.0, 1e12),   // layer far above
      at(1.0, 1.0, 1.0),    // an ordinary lonely point
      at(nan, 1.0, 1.0),
      // The outer cells of the usable range are no neighbours across the wrap-around.
      at(4.0 * 2147483646 + 2.0, 1.0, 1.0),   // column 2147483646
      at(-4.0 * 2147483647 + 2.0, 1.0, 1.0),  // column -2147483647
  };
  Cloud cloud;
  for (int i = 0; i < 7; i++) {
    for (int n = 0; n < (i < 5 ? 1 : 4); n++)
      cloud.add(0.0, 0.0, 0.0).scaling = &places[i];
  }
  IsolationGrid grid(settings_for(5), nullptr);
  const std::vector<bool> noise = verdicts(grid, cloud);
  std::vector<bool> expected = {false, false, false, true, false};
  expected.resize(13, true);
  EXPECT_EQ(noise, expected);
  EXPECT_EQ(grid.out_of_grid_count(), 4u);
}

TEST(IsolationGrid, FarApartLayersCostNoMemoryForTheEmptyOnesBetween) {
  Cloud cloud;
  cloud.scaling->z_scale_factor = 4.0;
  cloud.add(1.0, 1.0, -8.5e9);  // layer -2.125e9
  cloud.add(1.0, 1.0, 8.5e9);   // layer +2.125e9
  cloud.add_many(10, 1.0, 1.0, 1.0);
  IsolationGrid grid(settings_for(5), nullptr);
  for (const LASpoint& point : cloud.points)
    grid.add_point(point);
  grid.finish_first_pass();
  EXPECT_GT(grid.created_layers(), 4000000000u);
  EXPECT_EQ(grid.search(), 2u);
  EXPECT_LT(grid.peak_memory_bytes(), 1u << 20);
  EXPECT_TRUE(grid.is_noise(cloud.points[0]));
  EXPECT_TRUE(grid.is_noise(cloud.points[1]));
  EXPECT_FALSE(grid.is_noise(cloud.points[2]));
}

// A reader as the run loop has them: read_next() and a public point.
struct VectorReader {
  explicit VectorReader(const Cloud& points) : cloud(points) {}
  const Cloud& cloud;
  std::size_t next = 0;
  LASpoint point;
  bool read_next() {
    if (next == cloud.points.size()) return false;
    point = cloud.points[next++];
    return true;
  }
};

TEST(IsolationGrid, FirstPassLoopsOverAReaderAndReportsIgnoredPoints) {
  Cloud cloud;
  cloud.add(1.0, 1.0, 1.0);
  cloud.add(1.0, 1.0, 1.0, 0, 7);
  cloud.add(1.0, 1.0, 9.0);
  LASignore ignore;
  ignore.flags = 1;
  ignore.classes[0] = 1u << 7;
  IsolationGrid grid(settings_for(5), &ignore);
  VectorReader reader(cloud);
  EXPECT_EQ(grid.first_pass(reader), 1u);
  EXPECT_EQ(grid.created_layers(), 3u);
  testing::internal::CaptureStderr();
  print_ignored_points(grid.ignored_count());
  print_ignored_points(0);
  print_first_pass_done(1.25, grid.created_layers());
  print_search_done(0.5, grid.search());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ignored 1 points (that will also survive).\n"
            "took 1.25 sec. created 3 grid layers. finding isolated cells ...\n"
            "took 0.5 sec. found 2 isolated cells. now outputting ...\n");
}

// Hides the stored records of a reader, so that the first pass fills the point for each.
struct PointByPointReader {
  LASreader& reader;
  LASpoint& point;
  explicit PointByPointReader(LASreader& r) : reader(r), point(r.point) {}
  bool read_next() { return reader.read_next(); }
};

struct PassFigures {
  std::uint64_t isolated = 0;
  std::uint32_t layers = 0;
  std::vector<bool> noise;
};

// First pass (with or without the stored records), search, and the verdicts of a second
// reading of the file.
PassFigures run_passes(const std::string& file, bool by_flightline, bool point_by_point) {
  PassFigures figures;
  IsolationGrid grid(settings_for(5, 4.0f, by_flightline), nullptr);
  {
    LASreaderLAS reader;
    EXPECT_TRUE(reader.open_file(file.c_str()));
    EXPECT_TRUE(reader.delivers_raw_records());
    if (point_by_point) {
      PointByPointReader plain(reader);
      grid.first_pass(plain);
    } else {
      grid.first_pass(reader);
    }
    EXPECT_EQ(reader.points_done, reader.points_total);
    EXPECT_FALSE(reader.read_failed());
  }
  figures.layers = grid.created_layers();
  figures.isolated = grid.search();
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open_file(file.c_str()));
  while (reader.read_next())
    figures.noise.push_back(grid.is_noise_in_order(reader.point));
  return figures;
}

TEST(IsolationGrid, TheFirstPassFromStoredRecordsCountsAsThePointByPointOne) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  // More than one buffer fill of records (some straddle two fills), in both item layouts
  // that keep the flightline at different places, by flightline and not.
  for (const int point_type : {1, 6}) {
    const std::string file = dir.path() + "/scene" + std::to_string(point_type) + ".las";
    SceneFileOptions options;
    options.scene.points = 30000;
    options.scene.seed = 7;
    options.scene.noise_fraction = 0.02;
    options.point_type = point_type;
    ASSERT_TRUE(write_scene_las(file.c_str(), options));
    for (const bool by_flightline : {false, true}) {
      const PassFigures taken = run_passes(file, by_flightline, false);
      const PassFigures filled = run_passes(file, by_flightline, true);
      EXPECT_GT(taken.isolated, 0u);
      EXPECT_EQ(taken.isolated, filled.isolated);
      EXPECT_EQ(taken.layers, filled.layers);
      EXPECT_EQ(taken.noise.size(), 30000u);
      EXPECT_EQ(taken.noise, filled.noise) << "point type " << point_type;
    }
  }
}

TEST(IsolationGrid, AReaderWithAFilterOrConversionHandsOutNoStoredRecords) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string file = dir.path() + "/scene.las";
  SceneFileOptions options;
  options.scene.points = 1000;
  ASSERT_TRUE(write_scene_las(file.c_str(), options));
  LASreaderLASrescale rescaled(0.001, 0.001, 0.001);
  ASSERT_TRUE(rescaled.open_file(file.c_str()));
  EXPECT_FALSE(rescaled.delivers_raw_records());
  const std::uint8_t* records = nullptr;
  EXPECT_EQ(rescaled.take_raw_records(records, 10), 0u);
  EXPECT_EQ(rescaled.points_done, 0);
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(file.c_str()));
  ASSERT_TRUE(reader.inside_rectangle(-1e9, -1e9, 1e9, 1e9));
  EXPECT_FALSE(reader.delivers_raw_records());
  reader.clear_area();
  EXPECT_TRUE(reader.delivers_raw_records());
  // Taken records count as delivered: read_next goes on after them.
  ASSERT_EQ(reader.take_raw_records(records, 10), 10u);
  EXPECT_EQ(reader.points_done, 10);
  std::int32_t X;
  std::memcpy(&X, records + 9 * reader.point.record_size, 4);
  ASSERT_TRUE(reader.read_next());
  EXPECT_EQ(reader.points_done, 11);
  EXPECT_NE(reader.point.X, 0);
}

}  // namespace
