#include "tool/las_raster.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "model/las_point.hpp"
#include "temp_dir.hpp"
#include "tool/tile_budget.hpp"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t count_at(LASraster& raster, int column, int row) {
  double value = -1.0;
  const bool found = raster.get_cell(column, row, value);
  const std::uint32_t fast = raster.count_cell(column, row);
  EXPECT_EQ(found ? static_cast<std::uint32_t>(value) : 0u, fast) << column << "/" << row;
  return fast;
}

TEST(LasRaster, EmptyRasterAnswersNothingAndMakesNoFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  {
    LASraster raster;
    raster.set_temp_name_base(dir.base());
    double value;
    EXPECT_FALSE(raster.get_cell(0, 0, value));
    EXPECT_FALSE(raster.get_cell(-5, 7, value));
    EXPECT_EQ(raster.count_cell(3, 3), 0u);
    EXPECT_FALSE(raster.has_cells());
    EXPECT_TRUE(raster.tile_extents().empty());
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LasRaster, SetStepRejectsZeroNegativeAndNonFiniteSteps) {
  LASraster raster;
  EXPECT_TRUE(raster.set_step(2.5));
  EXPECT_FALSE(raster.set_step(0.0));
  EXPECT_FALSE(raster.set_step(-1.0));
  EXPECT_FALSE(raster.set_step(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(raster.set_step(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(raster.step_x(), 2.5);
  EXPECT_EQ(raster.step_y(), 2.5);
}

TEST(LasRaster, ColumnMinusOneSitsAtPosition95OfTheTileBeforeZero) {
  LASraster raster;
  ASSERT_TRUE(raster.set_kind("counter_4bit"));
  ASSERT_TRUE(raster.set_cell(0, 0, nullptr));
  ASSERT_TRUE(raster.set_cell(-1, 0, nullptr));
  ASSERT_TRUE(raster.set_cell(-1, 0, nullptr));
  EXPECT_NE(raster.tile_of(-1, 0), raster.tile_of(0, 0));
  EXPECT_EQ(raster.tile_of(-96, 0), raster.tile_of(-1, 0));
  EXPECT_NE(raster.tile_of(-97, 0), raster.tile_of(-1, 0));
  EXPECT_EQ(count_at(raster, 0, 0), 1u);
  EXPECT_EQ(count_at(raster, -1, 0), 2u);
  // Position 95 of row 0: byte 47, odd index, so the low nibble.
  EXPECT_EQ(raster.tile_of(-1, 0)->buffer[47], 0x02);
  // Ordered as seen from the first tile: tile 0, then the one 42949672 tiles further on.
  const auto extents = raster.tile_extents();
  ASSERT_EQ(extents.size(), 2u);
  EXPECT_EQ(extents[0].first_column, 0);
  EXPECT_EQ(extents[0].columns, 100u);
  EXPECT_EQ(extents[1].first_column, -96);
  EXPECT_EQ(extents[1].columns, 96u);
  EXPECT_EQ(extents[1].rows, 100u);
  EXPECT_EQ(raster.min_col, -1);
  EXPECT_EQ(raster.max_col, 0);
}

TEST(LasRaster, CountersStoreTheirCellsAtTheDocumentedBits) {
  LASraster two;
  ASSERT_TRUE(two.set_kind("counter_2bit"));
  for (int i = 0; i < 4; i++) {
    for (int n = 0; n <= i; n++)
      ASSERT_TRUE(two.set_cell(i, 0, nullptr));
  }
  // counts 1, 2, 3, 3 in cells 0..3: bits 6-7, 4-5, 2-3, 0-1 of byte 0
  EXPECT_EQ(two.tile_of(0, 0)->buffer[0], 0b01101111);
  EXPECT_EQ(two.overflow_count, 1u);

  LASraster four;
  ASSERT_TRUE(four.set_kind("counter_4bit"));
  ASSERT_TRUE(four.set_cell(0, 0, nullptr));
  for (int n = 0; n < 3; n++)
    ASSERT_TRUE(four.set_cell(1, 0, nullptr));
  EXPECT_EQ(four.tile_of(0, 0)->buffer[0], 0x13);  // cell 0 in the high nibble

  LASraster occupancy;
  ASSERT_TRUE(occupancy.set_kind("occupancy"));
  ASSERT_TRUE(occupancy.set_cell(33, 0, nullptr));
  ASSERT_TRUE(occupancy.set_cell(0, 1, nullptr));  // cell index 100: word 3, bit 4
  std::uint32_t words[4];
  std::memcpy(words, occupancy.tile_of(0, 0)->buffer, sizeof(words));
  EXPECT_EQ(words[1], 1u << 1);
  EXPECT_EQ(words[3], 1u << 4);
  EXPECT_EQ(occupancy.count_cell(33, 0), 1u);
  EXPECT_EQ(occupancy.count_cell(34, 0), 0u);
  EXPECT_EQ(occupancy.min_value, 0);
  EXPECT_EQ(occupancy.max_value, 1);
  EXPECT_TRUE(occupancy.clear_cell(33, 0));
  EXPECT_EQ(occupancy.count_cell(33, 0), 0u);
}

TEST(LasRaster, EveryCounterWidthSaturatesAtItsMaximumAndCountsOverflows) {
  struct Width {
    const char* kind;
    std::uint32_t maximum;
    std::uint32_t plane_bytes;
  };
  const Width widths[] = {{"counter_2bit", 3, 2500},
                          {"counter_4bit", 15, 5000},
                          {"counter", 255, 10000},
                          {"counter_16bit", 65535, 20000}};
  for (const Width& width : widths) {
    LASraster raster;
    ASSERT_TRUE(raster.set_kind(width.kind));
    raster.track_range = true;
    for (std::uint32_t n = 0; n < width.maximum + 2; n++)
      ASSERT_TRUE(raster.set_cell(5, 5, nullptr));
    EXPECT_EQ(count_at(raster, 5, 5), width.maximum) << width.kind;
    EXPECT_EQ(raster.overflow_count, 2u) << width.kind;
    EXPECT_EQ(raster.max_value, static_cast<std::int32_t>(width.maximum)) << width.kind;
    EXPECT_EQ(raster.min_value, 0) << width.kind;
    EXPECT_EQ(raster.tile_bytes(), width.plane_bytes) << width.kind;
  }
  LASraster two;
  ASSERT_TRUE(two.set_kind("counter_2bit"));
  for (int n = 0; n < 5; n++)
    ASSERT_TRUE(two.set_cell(0, 0, nullptr));
  EXPECT_EQ(count_at(two, 0, 0), 3u);
  EXPECT_EQ(two.overflow_count, 2u);

  // A 32-bit counter is set near its maximum and then saturates.
  LASraster wide;
  ASSERT_TRUE(wide.set_kind("counter_32bit"));
  ASSERT_TRUE(wide.set_value(1, 1, 4294967294u));
  ASSERT_TRUE(wide.set_cell(1, 1, nullptr));
  ASSERT_TRUE(wide.set_cell(1, 1, nullptr));
  EXPECT_EQ(count_at(wide, 1, 1), 4294967295u);
  EXPECT_EQ(wide.overflow_count, 1u);
  EXPECT_EQ(wide.tile_bytes(), 40000u);
}

TEST(LasRaster, AddToCounterSaysHowManyTheCellHoldsAndStopsAtTheMaximum) {
  for (const auto& [kind, maximum] : {std::pair{"counter_2bit", 3u}, std::pair{"counter_4bit", 15u},
                                      std::pair{"counter", 255u}}) {
    LASraster raster;
    ASSERT_TRUE(raster.set_kind(kind));
    for (std::uint32_t n = 1; n <= maximum + 2; n++)
      ASSERT_EQ(raster.add_to_counter(-3, 7), std::min(n, maximum)) << kind;
    EXPECT_EQ(count_at(raster, -3, 7), maximum) << kind;
    EXPECT_EQ(raster.overflow_count, 2u) << kind;
    EXPECT_EQ(raster.add_to_counter(-2, 7), 1u) << kind;  // its neighbour starts at one
  }
  LASraster wide;
  ASSERT_TRUE(wide.set_kind("counter_32bit"));
  ASSERT_TRUE(wide.set_value(1, 1, 4294967294u));
  EXPECT_EQ(wide.add_to_counter(1, 1), 4294967295u);
  EXPECT_EQ(wide.add_to_counter(1, 1), 4294967295u);
}

TEST(LasRaster, SetStoresClampedValuesOnlyForByteAndWiderCounters) {
  LASraster bytes;
  ASSERT_TRUE(bytes.set_kind("counter"));
  ASSERT_TRUE(bytes.set_value(0, 0, 1000));
  EXPECT_EQ(count_at(bytes, 0, 0), 255u);
  LASraster words;
  ASSERT_TRUE(words.set_kind("counter_16bit"));
  ASSERT_TRUE(words.set_value(0, 0, 70000));
  EXPECT_EQ(count_at(words, 0, 0), 65535u);
  LASraster nibbles;
  ASSERT_TRUE(nibbles.set_kind("counter_4bit"));
  EXPECT_FALSE(nibbles.set_value(0, 0, 3));
}

TEST(LasRaster, TwoTileBudgetEvictsToNumberedSlotsAndSkipsCleanTiles) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  ChangeDir in_dir(dir.path());
  ASSERT_TRUE(in_dir.ok());
  std::string file_name;
  {
    LASraster raster;
    ASSERT_TRUE(raster.set_kind("counter_4bit"));
    raster.set_memory_limit(2 * 5000);
    const int a = 0, b = 100, c = 200;  // first columns of tiles A, B, C
    for (int n = 0; n < 7; n++)
      ASSERT_TRUE(raster.set_cell(a + 3, 4, nullptr));
    ASSERT_TRUE(raster.set_cell(b, 0, nullptr));
    EXPECT_EQ(raster.temp_file_count(), 0u);
    ASSERT_TRUE(raster.set_cell(c, 0, nullptr));  // A goes to slot 0
    EXPECT_EQ(raster.max_buffers(), 2u);
    EXPECT_EQ(raster.buffer_count(), 2u);
    EXPECT_EQ(raster.tile_of(a, 0)->buffer, nullptr);
    EXPECT_EQ(raster.tile_of(a, 0)->state, RasterTileNode::kSlotAssigned | 0u);
    EXPECT_EQ(count_at(raster, a + 3, 4), 7u);  // B goes to slot 1, A is read back
    EXPECT_EQ(raster.tile_of(b, 0)->state, RasterTileNode::kSlotAssigned | 1u);
    EXPECT_EQ(raster.tile_of(a, 0)->state,
              RasterTileNode::kClean | RasterTileNode::kSlotAssigned | 0u);
    EXPECT_EQ(raster.tile_writes(), 2u);
    EXPECT_EQ(raster.tile_reads(), 1u);
    ASSERT_EQ(raster.temp_file_count(), 1u);
    file_name = raster.temp_file_name(0);
    EXPECT_EQ(file_name, "taemp" + std::to_string(raster.process_id()) + ".0.tmp");
    EXPECT_EQ(raster.tiles_per_file(), 2147483647u / 5000u);

    EXPECT_EQ(count_at(raster, b, 0), 1u);  // C (changed) goes to slot 2, B is read back
    EXPECT_EQ(raster.tile_writes(), 3u);
    EXPECT_EQ(count_at(raster, c, 0), 1u);  // A is clean: evicted without a write
    EXPECT_EQ(raster.tile_writes(), 3u);
    EXPECT_EQ(raster.tile_of(a, 0)->writes, 1u);
    EXPECT_EQ(raster.tile_of(a, 0)->reads, 1u);
    EXPECT_EQ(raster.tile_reads(), 3u);
    EXPECT_EQ(count_at(raster, a + 3, 4), 7u);
    EXPECT_EQ(dir.files().size(), 1u);
  }
  EXPECT_TRUE(dir.files().empty()) << "left " << file_name;
}

TEST(LasRaster, TilesFarFromTheFirstOneLiveInTheOrderedMapAndStillCount) {
  LASraster raster;
  ASSERT_TRUE(raster.set_kind("counter"));
  const std::pair<int, int> cells[] = {{0, 0},
                                       {2000000000, -2000000000},
                                       {-2147483647, 2147483646},
                                       {3276800, 5},
                                       {-3276900, 5},
                                       {5, 3276799}};
  for (auto [column, row] : cells) {
    ASSERT_TRUE(raster.set_cell(column, row, nullptr));
    ASSERT_TRUE(raster.set_cell(column, row, nullptr));
  }
  for (auto [column, row] : cells)
    EXPECT_EQ(count_at(raster, column, row), 2u);
  EXPECT_EQ(raster.tile_count(), 6u);
  EXPECT_EQ(count_at(raster, 1, 1), 0u);
  EXPECT_EQ(count_at(raster, 2000000001, -2000000000), 0u);
  EXPECT_EQ(raster.tile_extents().size(), 6u);
  EXPECT_EQ(raster.min_col, -2147483647);
  EXPECT_EQ(raster.max_row, 2147483646);
}

// Many random touches over a spread of tiles with a budget of three tiles, checked
// against a plain map, so every read-back and every clean skip is exercised.
TEST(LasRaster, SmallBudgetKeepsEveryCountThroughEvictionAndReadBack) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* kind :
       {"counter_2bit", "counter_4bit", "counter", "counter_16bit", "occupancy"}) {
    {
      LASraster raster;
      ASSERT_TRUE(raster.set_kind(kind));
      raster.set_temp_name_base(dir.base());
      raster.set_memory_limit(3 * 2500);
      std::map<std::pair<int, int>, std::uint32_t> model;
      std::mt19937 random(7);
      std::uniform_int_distribution<int> spread(-450, 449);
      const std::uint32_t maximum =
          raster.counter_bits() == 1 ? 1 : (1u << raster.counter_bits()) - 1;
      for (int n = 0; n < 20000; n++) {
        const int column = spread(random), row = spread(random) / 3;
        ASSERT_TRUE(raster.set_cell(column, row, nullptr));
        std::uint32_t& count = model[{column, row}];
        if (count < maximum) count++;
        if (n % 7 == 0) {
          const int probe_column = spread(random), probe_row = spread(random);
          auto found = model.find({probe_column, probe_row});
          ASSERT_EQ(raster.count_cell(probe_column, probe_row),
                    found == model.end() ? 0u : found->second);
        }
      }
      for (const auto& [cell, count] : model)
        ASSERT_EQ(raster.count_cell(cell.first, cell.second), count) << kind;
      EXPECT_GT(raster.tile_writes(), 0u) << kind;
      EXPECT_GT(raster.tile_reads(), 0u) << kind;
      EXPECT_EQ(dir.files().size(), raster.temp_file_count());
    }
    EXPECT_TRUE(dir.files().empty()) << kind;
  }
}

TEST(LasRaster, TwoRastersAliveAtOnceNeverShareATemporaryFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  {
    LASraster first, second;
    for (LASraster* raster : {&first, &second}) {
      ASSERT_TRUE(raster->set_kind("counter"));
      raster->set_temp_name_base(dir.base());
      raster->set_memory_limit(2 * 10000);
    }
    for (int tile = 0; tile < 4; tile++) {
      for (int n = 0; n < tile + 1; n++) {
        ASSERT_TRUE(first.set_cell(tile * 100, 0, nullptr));
        ASSERT_TRUE(second.set_cell(tile * 100, 0, nullptr));
        ASSERT_TRUE(second.set_cell(tile * 100, 0, nullptr));
      }
    }
    ASSERT_EQ(first.temp_file_count(), 1u);
    ASSERT_EQ(second.temp_file_count(), 1u);
    EXPECT_NE(first.temp_file_name(0), second.temp_file_name(0));
    for (int tile = 0; tile < 4; tile++) {
      EXPECT_EQ(first.count_cell(tile * 100, 0), static_cast<std::uint32_t>(tile + 1));
      EXPECT_EQ(second.count_cell(tile * 100, 0), static_cast<std::uint32_t>(2 * tile + 2));
    }
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LasRaster, UnwritableSpillKeepsTheTileInMemoryAndReportsTheCell) {
  LASraster raster;
  ASSERT_TRUE(raster.set_kind("counter"));
  raster.set_temp_name_base("/nonexistent-isocull-dir/spill");
  raster.set_memory_limit(2 * 10000);
  ASSERT_TRUE(raster.set_cell(0, 0, nullptr));
  ASSERT_TRUE(raster.set_cell(100, 0, nullptr));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(raster.set_cell(200, 0, nullptr));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: cannot create temporary file '/nonexistent-isocull-dir/spill"),
            std::string::npos);
  EXPECT_NE(err.find("ERROR: cannot get tile (200/0)\n"), std::string::npos);
  EXPECT_EQ(raster.count_cell(0, 0), 1u);
  EXPECT_EQ(raster.count_cell(100, 0), 1u);
  EXPECT_EQ(raster.count_cell(200, 0), 0u);
}

TEST(LasRaster, LostSpillFileFailsItsTilesOnlyAndLeavesNoFileBehind) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  {
    LASraster raster;
    ASSERT_TRUE(raster.set_kind("counter"));
    raster.set_temp_name_base(dir.base());
    raster.set_memory_limit(2 * 10000);
    for (int tile = 0; tile < 4; tile++)
      ASSERT_TRUE(raster.set_cell(tile * 100, 0, nullptr));
    EXPECT_EQ(raster.count_cell(0, 0), 1u);    // tile 0 read back, clean
    EXPECT_EQ(raster.count_cell(300, 0), 1u);  // tile 3 to the front: tile 0 is next out
    ASSERT_EQ(raster.temp_file_count(), 1u);
    std::FILE* truncate = std::fopen(raster.temp_file_name(0).c_str(), "wb");
    ASSERT_NE(truncate, nullptr);
    std::fclose(truncate);
    testing::internal::CaptureStderr();
    EXPECT_EQ(raster.count_cell(100, 0), 0u);  // tile 1 cannot be read
    EXPECT_FALSE(raster.set_cell(100, 0, nullptr));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: cannot read LASrasterTile from temporary file\n"),
              std::string::npos);
    EXPECT_NE(err.find("ERROR: cannot get tile (100/0)\n"), std::string::npos);
    EXPECT_EQ(raster.count_cell(300, 0), 1u);  // still in memory
    ASSERT_TRUE(raster.set_cell(400, 0, nullptr));
    EXPECT_EQ(raster.count_cell(400, 0), 1u);
  }
  EXPECT_TRUE(dir.files().empty());
}

// The spill files of a raster alone and of rasters sharing a budget (the grid's way).
TEST(LasRaster, SpillFilesAreNewFilesOfTheOwnerAloneAndAPlantedLinkIsPassedOver) {
  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "budget" : "raster");
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string victim = dir.path() + "/victim";
    { std::ofstream(victim) << "victim"; }
    const std::string first = dir.base() + std::to_string(getpid()) + ".0.tmp";
    ASSERT_EQ(symlink(victim.c_str(), first.c_str()), 0);
    {
      TileBudget budget(2 * 10000, dir.base());
      LASraster raster;
      ASSERT_TRUE(raster.set_kind("counter"));
      raster.set_temp_name_base(dir.base());
      raster.set_memory_limit(2 * 10000);
      if (shared) raster.set_budget(&budget);
      for (int tile = 0; tile < 4; tile++)
        ASSERT_TRUE(raster.set_cell(tile * 100, 0, nullptr));
      for (int tile = 0; tile < 4; tile++)
        EXPECT_EQ(raster.count_cell(tile * 100, 0), 1u);
      const std::string second = dir.base() + std::to_string(getpid()) + ".1.tmp";
      struct stat info {};
      ASSERT_EQ(lstat(second.c_str(), &info), 0) << "the next name is taken";
      EXPECT_TRUE(S_ISREG(info.st_mode));
      EXPECT_EQ(info.st_mode & 0777, 0600u);
      EXPECT_EQ(read_text(victim), "victim");
    }
    EXPECT_EQ(read_text(victim), "victim");
    EXPECT_EQ(dir.files().size(), 2u) << "the link planted and the victim stay, the spill goes";
    unlink(first.c_str());
    unlink(victim.c_str());
  }
}

// A write beyond the file-size limit (ulimit -f) fails as on a full disk; the process goes
// on (the tool ignores SIGXFSZ, as this child does).
TEST(LasRaster, ASpillBeyondTheFileSizeLimitFailsLikeAFullDiskAndLeavesNoFile) {
  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "budget" : "raster");
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string messages = dir.path() + "/messages";
    const pid_t child = fork();
    if (child == 0) {
      if (!std::freopen(messages.c_str(), "w", stderr)) _exit(2);
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
      bool failed = false;
      {
        TileBudget budget(2 * 10000, dir.base());
        LASraster raster;
        raster.set_kind("counter");
        raster.set_temp_name_base(dir.base());
        raster.set_memory_limit(2 * 10000);
        if (shared) raster.set_budget(&budget);
        for (int tile = 0; tile < 4; tile++)
          failed = !raster.set_cell(tile * 100, 0, nullptr) || failed;
        failed = failed && (!shared || budget.spill_failed());
      }
      std::fflush(stderr);
      _exit(failed && dir.files().size() == 1 ? 0 : 4);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string err = read_text(messages);
    EXPECT_NE(err.find("ERROR: cannot write tile to temporary file"), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(EFBIG)), std::string::npos) << err;
    unlink(messages.c_str());
  }
}

TEST(LasRaster, AddPointUsesTheStepAndRefusesCoordinatesWithoutACell) {
  LASscaling scaling;
  scaling.x_scale_factor = scaling.y_scale_factor = 0.01;
  LASpoint point;
  point.scaling = &scaling;
  LASraster raster;
  ASSERT_TRUE(raster.set_step(4.0));
  point.X = -10;  // x = -0.1: column -1
  point.Y = 400;  // y = 4.0: on the boundary, row 1
  ASSERT_TRUE(raster.add_point(point));
  EXPECT_EQ(raster.count_cell(-1, 1), 1u);
  double value;
  EXPECT_TRUE(raster.get_point(point, value));
  EXPECT_EQ(value, 1.0);
  scaling.x_scale_factor = 1e30;  // far beyond any cell index
  point.X = 1;
  EXPECT_FALSE(raster.add_point(point));
  scaling.x_scale_factor = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(raster.add_point(point));
  EXPECT_EQ(raster.tile_count(), 1u);
  EXPECT_DOUBLE_EQ(raster.cell_center_x(-0.1), -2.0);
}

TEST(LasRaster, CellIndexOfFloorsAndGuardsTheInt32Range) {
  std::int32_t index = 99;
  EXPECT_TRUE(cell_index_of(-0.25, 1.0, index));
  EXPECT_EQ(index, -1);
  EXPECT_TRUE(cell_index_of(4.0, 4.0, index));
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(cell_index_of(-2147483647.0, 1.0, index));
  EXPECT_EQ(index, kMinCellIndex);
  EXPECT_TRUE(cell_index_of(2147483646.9, 1.0, index));
  EXPECT_EQ(index, kMaxCellIndex);
  index = 5;
  EXPECT_FALSE(cell_index_of(2147483647.0, 1.0, index));
  EXPECT_FALSE(cell_index_of(-2147483647.5, 1.0, index));
  EXPECT_FALSE(cell_index_of(1e300, 1.0, index));
  EXPECT_FALSE(cell_index_of(std::numeric_limits<double>::infinity(), 1.0, index));
  EXPECT_FALSE(cell_index_of(1.0, 0.0, index));
  EXPECT_FALSE(cell_index_of(0.0, 0.0, index));  // NaN
  EXPECT_EQ(index, 5);
}

TEST(LasRaster, CellIndexByReciprocalAgreesWithTheDivisionEverywhere) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const float steps[] = {4.0f, 0.1f, 0.3f, 1.0f / 3.0f, 12.0f, 0.01f, 7.77f, 1e-6f};
  int boundary_cases = 0;
  for (float step_f : steps) {
    const double step = step_f;
    const double inverse = 1.0 / step;
    for (int n = 0; n < 200000; n++) {
      double coordinate;
      const double scale = std::pow(10.0, unit(random) * 12.5 - 3.0);  // up to 2^31 and past
      if (n % 2 == 0) {
        // On and next to a boundary, where the two can disagree.
        const double k = std::floor((unit(random) - 0.5) * scale);
        coordinate = k * step;
        if (n % 4 == 2) coordinate = std::nextafter(coordinate, n % 8 == 2 ? -1e300 : 1e300);
        boundary_cases++;
      } else {
        coordinate = (unit(random) - 0.5) * scale * step;
      }
      std::int32_t exact = 0, fast = 0;
      const bool exact_ok = cell_index_of(coordinate, step, exact);
      const bool fast_ok = cell_index_of(coordinate, step, inverse, fast);
      ASSERT_EQ(fast_ok, exact_ok) << coordinate << " / " << step;
      if (exact_ok) {
        ASSERT_EQ(fast, exact) << coordinate << " / " << step;
      }
    }
  }
  EXPECT_GT(boundary_cases, 0);
}

// ---- the kinds that the noise tool does not use ----

LASpoint sample_point(std::int32_t z, std::uint16_t intensity = 0) {
  LASpoint point;
  point.Z = z;
  point.intensity = intensity;
  return point;
}

double value_at(LASraster& raster, std::uint32_t argument = 0) {
  double value = -12345.0;
  EXPECT_TRUE(raster.get_cell(0, 0, value, argument));
  return value;
}

TEST(LasRaster, LastCellIndexAgreesWithTheDivisionAlongWalksOverBoundaries) {
  // Walks of small steps stay in a cell for a while (the remembered cell answers) and cross
  // boundaries now and then, landing on them, just before and just after.
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const float step_f : {4.0f, 0.3f, 12.0f, 1e-6f}) {
    const double step = step_f;
    LastCellIndex last(step, 1.0 / step);
    for (int walk = 0; walk < 200; walk++) {
      const double magnitude = std::pow(10.0, unit(random) * 12.5 - 3.0);
      double coordinate = std::floor((unit(random) - 0.5) * magnitude) * step;
      for (int n = 0; n < 500; n++) {
        if (n % 50 == 0) coordinate = std::nextafter(coordinate, n % 100 ? 1e300 : -1e300);
        coordinate += (unit(random) - 0.3) * step * 0.2;
        if (n % 97 == 0) coordinate = std::round(coordinate / step) * step;  // on a boundary
        std::int32_t exact = 0, remembered = 0;
        const bool exact_ok = cell_index_of(coordinate, step, exact);
        ASSERT_EQ(last.index_of(coordinate, remembered), exact_ok) << coordinate << " / " << step;
        if (exact_ok) {
          ASSERT_EQ(remembered, exact) << coordinate << " / " << step;
        }
      }
    }
    std::int32_t index = 0;
    EXPECT_FALSE(last.index_of(std::numeric_limits<double>::quiet_NaN(), index));
  }
  // Boundaries where the product with the inverse falls short of the quotient, reached from
  // the cell below: the remembered cell must not answer for them.
  int disagreements = 0;
  for (const float step_f : {0.3f, 12.0f, 7.77f, 1e-6f}) {
    const double step = step_f;
    LastCellIndex last(step, 1.0 / step);
    for (std::int64_t k = 1; k < 3000000 && disagreements < 400; k += 7) {
      for (const double toward : {-1e300, 1e300}) {
        const double near = std::nextafter(static_cast<double>(k) * step, toward);
        if (std::floor(near * (1.0 / step)) == std::floor(near / step)) continue;
        disagreements++;
        std::int32_t exact = 0, remembered = 0;
        ASSERT_TRUE(last.index_of(near - 0.5 * step, remembered));
        ASSERT_TRUE(cell_index_of(near, step, exact));
        ASSERT_TRUE(last.index_of(near, remembered));
        ASSERT_EQ(remembered, exact) << near << " / " << step;
        ASSERT_TRUE(last.index_of(near + 0.5 * step, remembered));
        ASSERT_TRUE(last.index_of(near, remembered));
        ASSERT_EQ(remembered, exact) << near << " / " << step;
      }
    }
  }
  EXPECT_GT(disagreements, 0);
}

TEST(LasRaster, EveryKindNameIsRecognisedAndUnknownNamesAreRefused) {
  const char* names[] = {"counter",
                         "counter_2bit",
                         "counter_4bit",
                         "counter_16bit",
                         "counter_32bit",
                         "occupancy",
                         "elevation_highest",
                         "elevation_max",
                         "elevation_lowest",
                         "elevation_min",
                         "elevation_average",
                         "elevation_avg",
                         "elevation_mean",
                         "elevation_stddev",
                         "elevation_std",
                         "elevation_range",
                         "elevation_index",
                         "elevation",
                         "intensity",
                         "intensity_lowest",
                         "intensity_average",
                         "intensity_range",
                         "scan_angle",
                         "scan_angle_highest_abs",
                         "scan_angle_abs_highest",
                         "scan_angle_max_abs",
                         "scan_angle_abs_max",
                         "scan_angle_average_abs",
                         "scan_angle_abs_average",
                         "scan_angle_avg_abs",
                         "scan_angle_abs_avg",
                         "scan_angle_abs",
                         "user_data_mean",
                         "point_source_highest",
                         "number_returns_lowest",
                         "return_type",
                         "return_type_highest",
                         "return_type_lowest",
                         "rgb",
                         "xyz_random",
                         "mean_xyz",
                         "value",
                         "classification_variety",
                         "classification_quotient_2_",
                         "quotient_8_16bit",
                         "counter_quotient",
                         "counter_quotient_16bit",
                         "majority",
                         "majority_16bit",
                         "majority_32bit"};
  for (const char* name : names) {
    LASraster raster;
    EXPECT_TRUE(raster.set_kind(name)) << name;
  }
  for (const char* name :
       {"", "nonsense", "quotient", "quotient_9_", "intensity_index", "return_type_average"}) {
    LASraster raster;
    EXPECT_FALSE(raster.set_kind(name)) << name;
  }
  LASraster used;
  ASSERT_TRUE(used.set_cell(0, 0, nullptr));
  EXPECT_FALSE(used.set_kind("occupancy"));  // the layout is fixed once a tile exists
}

TEST(LasRaster, StatisticsKindsFoldPointAttributes) {
  const std::int32_t z[] = {10, -4, 7};
  struct Expect {
    const char* kind;
    double value;
  };
  const Expect expects[] = {{"elevation", -4},
                            {"elevation_highest", 10},
                            {"elevation_range", 14},
                            {"elevation_average", 13.0 / 3},
                            {"mean_xyz", 13.0 / 3}};
  for (const Expect& e : expects) {
    LASraster raster;
    ASSERT_TRUE(raster.set_kind(e.kind));
    double value;
    EXPECT_FALSE(raster.get_cell(0, 0, value));
    for (std::int32_t v : z) {
      LASpoint point = sample_point(v);
      ASSERT_TRUE(raster.set_cell(0, 0, &point));
    }
    EXPECT_DOUBLE_EQ(value_at(raster, e.kind == std::string("mean_xyz") ? 2 : 0), e.value)
        << e.kind;
  }
  LASraster deviation;
  ASSERT_TRUE(deviation.set_kind("elevation_stddev"));
  for (std::int32_t v : {2, 4, 4, 4, 5, 5, 7, 9}) {
    LASpoint point = sample_point(v);
    ASSERT_TRUE(deviation.set_cell(0, 0, &point));
  }
  EXPECT_DOUBLE_EQ(value_at(deviation), 2.0);

  LASraster lowest;
  ASSERT_TRUE(lowest.set_kind("elevation_index"));
  for (std::uint32_t n = 0; n < 3; n++) {
    LASpoint point = sample_point(z[n]);
    lowest.point_index = 100 + n;
    ASSERT_TRUE(lowest.set_cell(0, 0, &point));
  }
  EXPECT_EQ(value_at(lowest, 0), 101.0);
  EXPECT_EQ(value_at(lowest, 1), -4.0);

  LASraster brightest;
  ASSERT_TRUE(brightest.set_kind("intensity"));
  brightest.track_range = true;
  for (std::uint16_t i : {300, 900, 20}) {
    LASpoint point = sample_point(0, i);
    ASSERT_TRUE(brightest.set_cell(0, 0, &point));
  }
  EXPECT_EQ(value_at(brightest), 900.0);
  EXPECT_EQ(brightest.max_value, 900);
  EXPECT_EQ(brightest.min_value, 300);
  EXPECT_TRUE(brightest.clear_cell(0, 0));
  double value;
  EXPECT_FALSE(brightest.get_cell(0, 0, value));
}

TEST(LasRaster, ClassAndReturnKindsCountWhatTheirNamesSay) {
  LASraster variety, share, singles, types, colour;
  ASSERT_TRUE(variety.set_kind("classification_variety"));
  ASSERT_TRUE(share.set_kind("classification_quotient_2_"));
  ASSERT_TRUE(singles.set_kind("counter_quotient"));
  ASSERT_TRUE(types.set_kind("return_type"));
  ASSERT_TRUE(colour.set_kind("rgb"));
  const int classes[] = {2, 2, 5, 2};
  const int returns[][2] = {{1, 1}, {1, 2}, {2, 2}, {1, 1}};
  for (int n = 0; n < 4; n++) {
    LASpoint point;
    point.set_classification(static_cast<std::uint8_t>(classes[n]));
    point.return_number = returns[n][0] & 7;
    point.number_of_returns = returns[n][1] & 7;
    point.rgb[0] = static_cast<std::uint16_t>(100 * n);
    for (LASraster* raster : {&variety, &share, &singles, &types, &colour}) {
      ASSERT_TRUE(raster->set_cell(0, 0, &point));
    }
  }
  EXPECT_EQ(value_at(variety), 2.0);
  EXPECT_EQ(value_at(share), std::floor(3.0 * 255 / 4));
  EXPECT_EQ(value_at(singles), std::floor(2.0 * 255 / 3));
  EXPECT_EQ(value_at(types), 1.0 + 2.0 + 8.0);  // single, first of many, last of many
  EXPECT_EQ(value_at(colour, 0), 150.0);

  LASraster given;
  ASSERT_TRUE(given.set_kind("value"));
  double value;
  ASSERT_TRUE(given.set_cell(0, 0, nullptr));
  EXPECT_FALSE(given.get_cell(0, 0, value));
  ASSERT_TRUE(given.set_value(0, 0, 77));
  EXPECT_EQ(value_at(given), 77.0);
}

}  // namespace
