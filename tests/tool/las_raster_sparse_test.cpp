// Sparse tiles of LASraster and the cell table under them: a thinly filled tile keeps its
// cells in a table, counts and reads exactly as a tile buffer does, gets its buffer when
// one cell more than its limit arrives, and takes its memory from the budget.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.hpp"
#include "tool/cell_table.hpp"
#include "tool/las_raster.hpp"
#include "tool/tile_budget.hpp"

namespace {

const char* const kKinds[] = {"counter_2bit",  "counter_4bit",  "counter",
                              "counter_16bit", "counter_32bit", "occupancy"};

std::uint32_t maximum_of(const LASraster& raster) {
  const std::uint32_t bits = raster.counter_bits();
  return bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
}

TEST(CellTable, AgreesWithAMapThroughInsertsErasesAndTakesOverWrappedRuns) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; round++) {
    CellTable<std::uint32_t> table;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> model;
    // Few distinct keys in a small table: long runs that wrap around its end.
    const std::uint32_t spread = round < 10 ? 40 : 5000;
    for (int step = 0; step < 4000; step++) {
      const std::uint32_t column = random() % spread, row = random() % 3 + 0x7FFFFFFEu;
      const int action = static_cast<int>(random() % 10);
      if (action < 6) {
        bool added = false;
        std::uint32_t& value = table.insert(column, row, added);
        EXPECT_EQ(added, model.count({column, row}) == 0);
        value += 1 + column;
        model[{column, row}] += 1 + column;
      } else if (action < 9) {
        EXPECT_EQ(table.erase(column, row), model.erase({column, row}) == 1);
      } else {
        // Takes every pair of one column.
        const std::uint32_t taken = column;
        table.take_if([&](std::uint32_t c, std::uint32_t, std::uint32_t) { return c == taken; });
        std::erase_if(model, [&](const auto& entry) { return entry.first.first == taken; });
      }
      ASSERT_EQ(table.size(), model.size());
    }
    for (const auto& [key, value] : model) {
      const std::uint32_t* found = table.find(key.first, key.second);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(*found, value);
    }
    std::size_t visited = 0;
    table.for_each([&](std::uint32_t c, std::uint32_t r, std::uint32_t value) {
      EXPECT_EQ(model.at({c, r}), value);
      visited++;
    });
    EXPECT_EQ(visited, model.size());
    EXPECT_LE(table.size() * 10, table.capacity() * 7);
  }
}

// Fills one tile (the narrow one that ends at column -1, or an ordinary one) with `limit`
// cells of several counts, then one more: the tile gets a buffer holding every count. With
// `crowded` many other sparse cells make the cell table larger than a tile, so the cells are
// found by looking up the tile's cells instead of walking the table.
TEST(LasRasterSparse, ATileGetsItsBufferWithEveryCountWhenOneCellMoreThanItsLimitArrives) {
  for (const char* kind : kKinds) {
    for (const bool narrow : {false, true}) {
      for (const bool crowded : {false, true}) {
        SCOPED_TRACE(std::string(kind) + (narrow ? " narrow" : "") + (crowded ? " crowded" : ""));
        LASraster raster;
        ASSERT_TRUE(raster.set_kind(kind));
        ASSERT_TRUE(raster.set_sparse(true));
        // Rows -196 ... -97 make one tile: tiles begin at multiples of 100 as unsigned.
        const int first_column = narrow ? -96 : 300, first_row = -196;
        const int columns = narrow ? 96 : 100;
        if (crowded) {
          // Two cells in each of 6000 tiles: the second ones go to the cell table.
          for (int n = 0; n < 12000; n++) {
            const int tile = n / 2;
            ASSERT_TRUE(raster.set_cell(1000 + 200 * (tile % 100) + n % 2,
                                        1000 + 200 * (tile / 100), nullptr));
          }
        }
        ASSERT_TRUE(raster.set_cell(first_column, first_row, nullptr));
        const std::uint32_t limit = raster.sparse_cell_limit();
        ASSERT_GT(limit, 30u);
        std::map<std::pair<int, int>, std::uint32_t> expected;
        expected[{first_column, first_row}] = 1;
        // The tile's last cell, and cells spread over the tile.
        ASSERT_TRUE(raster.set_cell(first_column + columns - 1, first_row + 99, nullptr));
        expected[{first_column + columns - 1, first_row + 99}] = 1;
        for (std::uint32_t n = 0; expected.size() < limit && n < limit; n++) {
          const std::pair<int, int> cell{
              first_column + static_cast<int>((n * 37) % columns),
              first_row + static_cast<int>((n * 37) / columns * 7 % 100)};
          if (expected.count(cell) != 0) continue;
          for (std::uint32_t k = 0; k < 1 + n % 4; k++)
            ASSERT_TRUE(raster.set_cell(cell.first, cell.second, nullptr));
          expected[cell] = std::min(1 + n % 4, maximum_of(raster));
        }
        // Fill up to the limit with cells of one count in the tile's first row.
        for (int x = 0; expected.size() < limit; x++) {
          if (expected.count({first_column + x, first_row}) != 0) continue;
          ASSERT_TRUE(raster.set_cell(first_column + x, first_row, nullptr));
          expected[{first_column + x, first_row}] = 1;
        }
        EXPECT_EQ(raster.tile_of(first_column, first_row), nullptr);
        EXPECT_EQ(raster.tile_cell_count(first_column, first_row), limit);
        EXPECT_EQ(raster.sparse_cell_count(), limit + (crowded ? 12000u : 0u));
        for (const auto& [cell, count] : expected)
          ASSERT_EQ(raster.count_cell(cell.first, cell.second), count);

        // One cell more.
        std::pair<int, int> last{first_column, first_row + 1};
        while (expected.count(last) != 0)
          last.first++;
        ASSERT_TRUE(raster.set_cell(last.first, last.second, nullptr));
        expected[last] = 1;
        EXPECT_NE(raster.tile_of(first_column, first_row), nullptr);
        EXPECT_EQ(raster.tile_cell_count(first_column, first_row), LASraster::kCellsPerTile);
        EXPECT_EQ(raster.sparse_cell_count(), crowded ? 12000u : 0u);
        EXPECT_EQ(raster.sparse_tile_count(), crowded ? 6000u : 0u);
        ASSERT_EQ(raster.tile_extents().size(), 1u);
        EXPECT_EQ(raster.tile_extents()[0].columns, static_cast<std::uint32_t>(columns));
        for (int y = 0; y < 100; y++) {
          for (int x = 0; x < columns; x++) {
            auto found = expected.find({first_column + x, first_row + y});
            ASSERT_EQ(raster.count_cell(first_column + x, first_row + y),
                      found == expected.end() ? 0u : found->second)
                << first_column + x << "/" << first_row + y;
          }
        }
        if (crowded) {
          EXPECT_EQ(raster.count_cell(1000 + 200 * 99 + 1, 1000 + 200 * 59), 1u);
        }
      }
    }
  }
}

// The same random touches, reads, sets and clears on a sparse raster and on one of whole
// tiles: every answer, the saturation, the overflow count, the value range and the
// bounding box agree. Counters of 2 to 16 bits saturate on the way, in tiles with buffers
// and in sparse ones.
TEST(LasRasterSparse, CountsReadsSetsAndClearsAsTileBuffersDo) {
  for (const char* kind : kKinds) {
    SCOPED_TRACE(kind);
    LASraster sparse, whole;
    for (LASraster* raster : {&sparse, &whole}) {
      ASSERT_TRUE(raster->set_kind(kind));
      raster->track_range = true;
    }
    ASSERT_TRUE(sparse.set_sparse(true));
    std::mt19937 random(3);
    // Clustered around a few spots of 40 x 40 cells across tile borders (their tiles
    // fill up) and scattered far out.
    const auto pick = [&]() -> std::pair<int, int> {
      if (random() % 8 == 0) {
        return {static_cast<int>(random() % 2000000) - 1000000,
                static_cast<int>(random() % 2000000) - 1000000};
      }
      const int spot = static_cast<int>(random() % 3) * 150 - 170;
      return {spot + static_cast<int>(random() % 40), spot + static_cast<int>(random() % 40)};
    };
    for (int step = 0; step < 30000; step++) {
      const auto [column, row] = pick();
      const int action = static_cast<int>(random() % 20);
      if (action < 15) {
        if (sparse.counter_bits() != 1) {
          ASSERT_EQ(sparse.add_to_counter(column, row), whole.add_to_counter(column, row));
        } else {
          ASSERT_EQ(sparse.set_cell(column, row, nullptr), whole.set_cell(column, row, nullptr));
        }
      } else if (action < 17) {
        const std::uint32_t value = static_cast<std::uint32_t>(random() % 70000);
        ASSERT_EQ(sparse.set_value(column, row, value), whole.set_value(column, row, value));
      } else if (action < 18) {
        // A cell of a tile that no longer exists as a tile of whole buffers may still be
        // cleared in one of sparse cells: only the reads must agree.
        sparse.clear_cell(column, row);
        whole.clear_cell(column, row);
      } else {
        double sparse_value = -1.0, whole_value = -1.0;
        const bool in_sparse = sparse.get_cell(column, row, sparse_value);
        ASSERT_EQ(in_sparse, whole.get_cell(column, row, whole_value));
        if (in_sparse) {
          ASSERT_EQ(sparse_value, whole_value);
        }
        ASSERT_EQ(sparse.count_cell(column, row), whole.count_cell(column, row));
      }
    }
    // One cell alone in its tile and one among the spots, counted beyond the maximum of 16
    // bits.
    for (int n = 0; n < 70000; n++) {
      ASSERT_EQ(sparse.set_cell(-5000, 5000, nullptr), whole.set_cell(-5000, 5000, nullptr));
      ASSERT_EQ(sparse.set_cell(-165, -165, nullptr), whole.set_cell(-165, -165, nullptr));
    }
    EXPECT_EQ(sparse.tile_of(-5000, 5000), nullptr);
    EXPECT_NE(sparse.tile_of(-165, -165), nullptr);
    for (int column = -180; column <= 180; column++) {
      for (int row = -180; row <= 180; row += 3)
        ASSERT_EQ(sparse.count_cell(column, row), whole.count_cell(column, row));
    }
    EXPECT_EQ(sparse.count_cell(-5000, 5000), whole.count_cell(-5000, 5000));
    if (sparse.counter_bits() > 1 && sparse.counter_bits() < 32) {
      EXPECT_GE(sparse.overflow_count, 2 * (70000u - maximum_of(sparse)));
    }
    EXPECT_EQ(sparse.overflow_count, whole.overflow_count);
    EXPECT_EQ(sparse.max_value, whole.max_value);
    EXPECT_EQ(sparse.min_value, whole.min_value);
    EXPECT_EQ(std::tuple(sparse.min_col, sparse.min_row, sparse.max_col, sparse.max_row),
              std::tuple(whole.min_col, whole.min_row, whole.max_col, whole.max_row));
    EXPECT_GT(sparse.sparse_cell_count(), 1000u);
    EXPECT_GT(sparse.tile_count(), 0u);
    EXPECT_LT(sparse.memory_bytes() * 4, whole.memory_bytes());
  }
}

TEST(LasRasterSparse, TablesTakeTheirBytesFromTheBudgetAndPushOtherTilesToTheSpillFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  {
    TileBudget budget(4 * 5000 + 30000, dir.base());
    LASraster whole;
    auto sparse = std::make_unique<LASraster>();
    for (LASraster* raster : {&whole, sparse.get()}) {
      ASSERT_TRUE(raster->set_kind("counter_4bit"));
      raster->set_budget(&budget);
    }
    ASSERT_TRUE(sparse->set_sparse(true));
    for (int tile = 0; tile < 4; tile++) {
      for (int n = 0; n <= tile; n++)
        ASSERT_TRUE(whole.set_cell(tile * 100, 7, nullptr));
    }
    EXPECT_EQ(budget.used(), 4 * 5000);
    EXPECT_EQ(whole.tile_writes(), 0u);
    // Scattered cells until the tables need more than the budget leaves.
    int cells = 0;
    while (whole.tile_writes() == 0 && cells < 100000) {
      ASSERT_TRUE(sparse->set_cell(cells * 1000, -cells * 1000, nullptr));
      cells++;
      ASSERT_LE(budget.used(), budget.limit());
    }
    EXPECT_EQ(sparse->tile_count(), 0u);
    EXPECT_LT(cells, 100000) << "a tile buffer made room for the tables";
    EXPECT_LT(whole.buffer_count(), 4u);
    for (int tile = 0; tile < 4; tile++)
      EXPECT_EQ(whole.count_cell(tile * 100, 7), static_cast<std::uint32_t>(tile + 1));
    for (int n = 0; n < cells; n++)
      ASSERT_EQ(sparse->count_cell(n * 1000, -n * 1000), 1u);
    const std::int64_t whole_bytes = static_cast<std::int64_t>(whole.buffer_count()) * 5000;
    EXPECT_GT(budget.used(), whole_bytes + 30000);
    sparse.reset();
    EXPECT_EQ(budget.used(), whole_bytes) << "the tables' bytes go back with the raster";
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LasRasterSparse, TablesBeyondTheWholeBudgetStayInMemoryAfterOneWarning) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  TileBudget budget(3 * 1048576, dir.base());
  LASraster raster;
  ASSERT_TRUE(raster.set_kind("counter"));
  raster.set_budget(&budget);
  ASSERT_TRUE(raster.set_sparse(true));
  testing::internal::CaptureStderr();
  for (int n = 0; n < 200000; n++)
    ASSERT_TRUE(raster.set_cell(n * 100, n % 7, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: the grid's scattered cells need 4 MB, more than the memory limit of 3 MB. "
            "they stay in memory.\n");
  EXPECT_GT(budget.used(), budget.limit());
  for (int n = 0; n < 200000; n += 997)
    ASSERT_EQ(raster.count_cell(n * 100, n % 7), 1u);
  EXPECT_TRUE(dir.files().empty());
}

TEST(LasRasterSparse, NeighboursOfACellLieInItsTileUnlessItIsOnTheTileEdge) {
  struct Case {
    std::int32_t column, row;
    bool inside;
  } const cases[] = {
      {1, 1, true},           {98, 98, true},  {0, 50, false},   {99, 50, false},
      {50, 0, false},         {50, 99, false}, {-2, 50, true},   {-1, 50, false},
      {-96, 50, false},       {-95, 50, true}, {-97, 50, false}, {-98, 50, true},
      {50, -1, false},        {50, -2, true},  {150, 250, true}, {2147483646, 5, true},
      {-2147483647, 5, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LASraster::neighbours_in_tile(c.column, c.row), c.inside) << c.column << "/" << c.row;
}

}  // namespace
