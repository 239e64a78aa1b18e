// Areas read through an index deliver exactly the points, in the same order, that reading
// the whole file and testing every point delivers: on generated scenes (LAS and PKZ) with
// indexes of several depths and on real files, for random rectangles, tiles and circles
// inside, across the edges, outside, on the root extent's borders and degenerate.

#include <gtest/gtest.h>

#include <random>

#include "index_test_support.hpp"

namespace {

using index_test::Area;
using index_test::Delivered;

// Areas of every kind around the extent [min, max] of the root cell.
std::vector<Area> areas_around(const LASquadtree& tree, std::uint32_t seed, int random_count) {
  const double min_x = tree.min_x, max_x = tree.max_x, min_y = tree.min_y, max_y = tree.max_y;
  const double w = max_x - min_x, h = max_y - min_y;
  std::vector<Area> areas = {
      // The root extent's borders: touching min_x or min_y from outside yields nothing,
      // touching max_x or max_y reaches the border cells.
      {Area::kRectangle, min_x - w, min_y, min_x, max_y},
      {Area::kRectangle, min_x, min_y - h, max_x, min_y},
      {Area::kRectangle, max_x, min_y, max_x + w, max_y},
      {Area::kRectangle, min_x, max_y, max_x, max_y + h},
      {Area::kRectangle, min_x, min_y, max_x, max_y},
      {Area::kRectangle, min_x - 1, min_y - 1, max_x + 1, max_y + 1},
      {Area::kTile, min_x - w / 4, min_y - h / 4, w / 2, 0},
      {Area::kTile, max_x - w / 8, max_y - h / 8, w / 4, 0},
      {Area::kCircle, min_x, min_y, w / 3, 0},
      {Area::kCircle, (min_x + max_x) / 2, (min_y + max_y) / 2, 2 * w, 0},
      // Degenerate: no width, the smallest tile and circle.
      {Area::kRectangle, (min_x + max_x) / 2, min_y, (min_x + max_x) / 2, max_y},
      {Area::kTile, (min_x + max_x) / 2, (min_y + max_y) / 2, 0.01, 0},
      {Area::kCircle, (min_x + max_x) / 2, (min_y + max_y) / 2, 0.005, 0},
      // Entirely outside.
      {Area::kRectangle, max_x + 10, max_y + 10, max_x + 20, max_y + 20},
      {Area::kCircle, min_x - w, min_y - h, w / 10, 0},
  };
  std::mt19937 random(seed);
  // Corners from a little outside to a little inside, so that edges are crossed often.
  std::uniform_real_distribution<double> along(-0.2, 1.2);
  std::uniform_real_distribution<double> extent(0.001, 0.5);
  for (int i = 0; i < random_count; i++) {
    const double x = min_x + along(random) * w, y = min_y + along(random) * h;
    const double size = extent(random) * w;
    switch (i % 3) {
      case 0:
        areas.push_back({Area::kRectangle, x, y, x + size, y + extent(random) * h});
        break;
      case 1:
        areas.push_back({Area::kTile, x, y, size, 0});
        break;
      default:
        areas.push_back({Area::kCircle, x, y, size, 0});
        break;
    }
  }
  return areas;
}

// Every area read without any index and with a copy of each of `indexes` (the same points
// at several depths, so the same root extent).
void expect_same_points(const std::string& path,
                        const std::vector<std::unique_ptr<LASindex>>& indexes, std::uint32_t seed,
                        int random_count) {
  std::uint64_t read_without = 0, delivered = 0;
  std::vector<std::uint64_t> read_with(indexes.size(), 0);
  for (const Area& area : areas_around(indexes.front()->quadtree(), seed, random_count)) {
    SCOPED_TRACE(index_test::describe(area));
    std::uint64_t without = 0;
    const std::vector<Delivered> plain = index_test::read_area(path, area, nullptr, &without);
    read_without += without;
    delivered += plain.size();
    for (std::size_t i = 0; i < indexes.size(); i++) {
      SCOPED_TRACE("index " + std::to_string(i));
      std::uint64_t with = 0;
      const std::vector<Delivered> indexed =
          index_test::read_area(path, area, std::make_unique<LASindex>(*indexes[i]), &with);
      ASSERT_EQ(indexed.size(), plain.size());
      EXPECT_TRUE(indexed == plain);
      read_with[i] += with;
    }
  }
  for (std::size_t i = 0; i < indexes.size(); i++) {
    // A subdivided index must have saved reading: the areas cover far less than the file.
    if (indexes[i]->quadtree().levels > 0) {
      EXPECT_LT(read_with[i], read_without) << i;
    }
    EXPECT_GE(read_with[i], delivered);
  }
}

struct Depth {
  std::uint32_t leaf_points;
  std::uint32_t max_levels;
};

TEST(IndexQuery, GeneratedScenesDeliverTheSamePointsWithTheIndexAtEveryDepth) {
  const auto dir = index_test::scratch_dir();
  const std::string las = (dir / "scene.las").string();
  const std::string pkz = (dir / "scene.pkz").string();
  const std::string las14 = (dir / "scene14.las").string();
  ASSERT_TRUE(index_test::make_scene(las, 4000, 1));
  ASSERT_TRUE(index_test::compress(las, pkz, 1500));
  ASSERT_TRUE(index_test::make_scene(las14, 3000, 6, 9));
  const Depth depths[] = {{100000, 10}, {1000, 4}, {150, 6}, {30, 9}};
  std::uint32_t seed = 1;
  for (const std::string& path : {las, pkz, las14}) {
    SCOPED_TRACE(path);
    std::vector<std::unique_ptr<LASindex>> indexes;
    for (const Depth& depth : depths) {
      indexes.push_back(build_index(path.c_str(), {depth.leaf_points, depth.max_levels}));
      ASSERT_TRUE(indexes.back());
      if (depth.leaf_points > 4000) {
        EXPECT_EQ(indexes.back()->quadtree().levels, 0u);
      } else {
        EXPECT_GE(indexes.back()->quadtree().levels, 1u);
      }
    }
    expect_same_points(path, indexes, seed++, 8);
  }
}

TEST(IndexQuery, RealFilesDeliverTheSamePointsWithTheIndex) {
  SKIP_WITHOUT_REAL_DATA();
  const char* files[] = {"simple.las", "simple.pkz", "simple-v1.pkz", "1_4_w_evlr.pkz",
                         "test1_4.las"};
  std::uint32_t seed = 100;
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string path = index_test::real(name);
    std::vector<std::unique_ptr<LASindex>> indexes;
    indexes.push_back(build_index(path.c_str(), {150, 8}));
    ASSERT_TRUE(indexes.back());
    expect_same_points(path, indexes, seed++, 6);
  }
}

}  // namespace
