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

// Every area read with a copy of `index` and without any index.
void expect_same_points(const std::string& path, const LASindex& index, std::uint32_t seed,
                        int random_count) {
  std::uint64_t read_with = 0, read_without = 0, delivered = 0;
  for (const Area& area : areas_around(index.quadtree(), seed, random_count)) {
    SCOPED_TRACE(index_test::describe(area));
    std::uint64_t with = 0, without = 0;
    const std::vector<Delivered> plain = index_test::read_area(path, area, nullptr, &without);
    const std::vector<Delivered> indexed =
        index_test::read_area(path, area, std::make_unique<LASindex>(index), &with);
    ASSERT_EQ(indexed.size(), plain.size());
    EXPECT_TRUE(indexed == plain);
    read_with += with;
    read_without += without;
    delivered += plain.size();
  }
  // The index must have saved reading: the areas cover far less than the files.
  EXPECT_LT(read_with, read_without);
  EXPECT_GE(read_with, delivered);
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
  ASSERT_TRUE(index_test::make_scene(las, 6000, 1));
  ASSERT_TRUE(index_test::compress(las, pkz, 1500));
  ASSERT_TRUE(index_test::make_scene(las14, 4000, 6, 9));
  const Depth depths[] = {{100000, 10}, {1500, 4}, {200, 6}, {30, 12}};
  std::uint32_t seed = 1;
  for (const std::string& path : {las, pkz, las14}) {
    for (const Depth& depth : depths) {
      SCOPED_TRACE(path + " leaf " + std::to_string(depth.leaf_points));
      const std::unique_ptr<LASindex> index =
          build_index(path.c_str(), {depth.leaf_points, depth.max_levels});
      ASSERT_TRUE(index);
      if (depth.leaf_points > 6000) {
        EXPECT_EQ(index->quadtree().levels, 0u);
      } else {
        EXPECT_GE(index->quadtree().levels, 1u);
      }
      expect_same_points(path, *index, seed++, 9);
    }
  }
}

TEST(IndexQuery, RealFilesDeliverTheSamePointsWithTheIndex) {
  SKIP_WITHOUT_REAL_DATA();
  const char* files[] = {"simple.las",     "simple.pkz",  "simple1_4.las",
                         "1_4_w_evlr.pkz", "test1_4.las", "lone-star-split-1.pkz"};
  std::uint32_t seed = 100;
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string path = index_test::real(name);
    const std::unique_ptr<LASindex> index = build_index(path.c_str(), {150, 8});
    ASSERT_TRUE(index);
    expect_same_points(path, *index, seed++, 9);
  }
}

}  // namespace
