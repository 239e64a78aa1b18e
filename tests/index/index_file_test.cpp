// The index file itself: its name beside the point file, both layouts, the merge of runs,
// seeking through single-point runs, the borders of the root extent, every message of a file
// that does not read or lies, and the index arriving through the reader factory and from
// inside a compressed file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "index_test_support.hpp"
#include "select/las_reader_factory.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using index_test::Area;
using index_test::Delivered;

std::vector<std::uint8_t> bytes_of(const LASindex& index) {
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(index.write(out));
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// A tree of one level over [0, 100]^2 whose four cells (numbers 1 to 4) hold the given runs.
LASindex four_cells(const std::vector<std::vector<LASintervalRun>>& runs) {
  LASindex index;
  LASquadtree& tree = index.quadtree();
  tree.levels = 1;
  tree.min_x = tree.min_y = 0;
  tree.max_x = tree.max_y = 100;
  for (std::size_t i = 0; i < runs.size(); i++) {
    LASintervalCell cell;
    for (const LASintervalRun& run : runs[i]) {
      cell.runs.push_back(run);
      cell.points_in_runs += run.end - run.start + 1;
    }
    cell.points_in_cells = static_cast<std::uint32_t>(cell.points_in_runs);
    const std::int32_t number = static_cast<std::int32_t>(i + 1);
    index.interval().set_cell(number, std::move(cell));
    index.quadtree().set_leaf(static_cast<std::uint32_t>(number));
  }
  return index;
}

std::vector<LASintervalRun> merged_runs(LASindex& index) {
  std::vector<LASintervalRun> runs;
  LASintervalRun run;
  while (index.interval().next_run(run))
    runs.push_back(run);
  return runs;
}

TEST(IndexFile, TheIndexFileNameFollowsThePointFileName) {
  const std::pair<const char*, const char*> names[] = {
      {"a.las", "a.lax"},
      {"b.pkz", "b.pkx"},
      {"A.LAS", "A.LAX"},
      {"B.PKZ", "B.PKX"},
      {"a.txt", "a.lax"},
      {"tile.las.gz", "tile.las.gx"},
      {"dir/scan.bin", "dir/scan.lax"},
      {"xy", "xy.lax"},
  };
  for (const auto& [point_file, index_file] : names)
    EXPECT_EQ(LASindex::file_name_for(point_file), index_file) << point_file;
}

TEST(IndexFile, RunsOfSeveralCellsMergeAcrossGapsOfAtMostAThousandPoints) {
  // Gap 1000 (start 1009 after end 9) merges, 1001 does not.
  LASindex close = four_cells({{{0, 9}}, {{1009, 1019}}});
  ASSERT_TRUE(close.query_rectangle(0, 0, 100, 100));
  EXPECT_EQ(close.cells(), 4u);
  EXPECT_EQ(close.points_in_cells(), 21u);
  EXPECT_EQ(close.points_in_runs(), 1020u);
  const auto one = merged_runs(close);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].start, 0u);
  EXPECT_EQ(one[0].end, 1019u);

  LASindex apart = four_cells({{{0, 9}}, {{1010, 1019}}});
  ASSERT_TRUE(apart.query_rectangle(0, 0, 100, 100));
  EXPECT_EQ(apart.points_in_runs(), 20u);
  EXPECT_EQ(merged_runs(apart).size(), 2u);

  // A cell whose runs lie inside another cell's run adds no points to read.
  LASindex nested = four_cells({{{0, 99}}, {{10, 20}, {40, 40}}});
  ASSERT_TRUE(nested.query_rectangle(0, 0, 100, 100));
  EXPECT_EQ(nested.points_in_runs(), 100u);
  EXPECT_EQ(merged_runs(nested).size(), 1u);

  // One cell keeps its runs as they are, whatever their gaps.
  LASindex single = four_cells({{{0, 9}, {20, 29}}});
  ASSERT_TRUE(single.query_rectangle(0, 0, 10, 10));
  EXPECT_EQ(single.cells(), 1u);
  EXPECT_EQ(merged_runs(single).size(), 2u);
  // An area over cells without runs yields nothing.
  EXPECT_FALSE(single.query_rectangle(60, 60, 70, 70));
}

TEST(IndexFile, TheRootExtentIsReachedAlongItsMaximumEdgesOnly) {
  LASindex index = four_cells({{{0, 0}}, {{1, 1}}, {{2, 2}}, {{3, 3}}});
  EXPECT_FALSE(index.query_rectangle(-50, 0, 0, 100));  // max_x = root min_x
  EXPECT_FALSE(index.query_rectangle(0, -50, 100, 0));  // max_y = root min_y
  EXPECT_FALSE(index.query_tile(-50, 20, 50));
  EXPECT_FALSE(index.query_circle(-10, 50, 10));
  // min_x = root max_x: the cells along the high x border (numbers 2 and 4).
  ASSERT_TRUE(index.query_rectangle(100, 0, 150, 100));
  EXPECT_EQ(index.quadtree().result(), (std::vector<std::uint32_t>{2, 4}));
  ASSERT_TRUE(index.query_rectangle(0, 100, 100, 150));
  EXPECT_EQ(index.quadtree().result(), (std::vector<std::uint32_t>{3, 4}));
  // A circle whose square meets a cell but whose disc does not leaves the cell out.
  ASSERT_TRUE(index.query_circle(95, 95, 10));
  EXPECT_EQ(index.quadtree().result(), (std::vector<std::uint32_t>{4}));
}

TEST(IndexFile, TheOlderLayoutReadsTheSameAsTheCurrentOne) {
  const auto dir = index_test::scratch_dir();
  const std::string las = (dir / "scene.las").string();
  ASSERT_TRUE(index_test::make_scene(las, 3000, 1));
  const std::unique_ptr<LASindex> built = build_index(las.c_str(), {200, 6});
  ASSERT_TRUE(built);
  std::vector<std::uint8_t> current = bytes_of(*built);
  std::vector<std::uint8_t> older = current;
  // The older layout has the levels where "LASQ" stands and no quadtree version.
  older.erase(older.begin() + kIndexOffsetQuadtree, older.begin() + kIndexOffsetLevels);
  std::memcpy(older.data() + kIndexOffsetQuadtree, current.data() + kIndexOffsetLevels, 4);
  ASSERT_EQ(older.size() + kOlderLayoutShift, current.size());
  write_file((dir / "scene.lax").string(), older);

  LASindex from_current;
  ByteStreamInArrayLE in(current.data(), static_cast<std::int64_t>(current.size()));
  ASSERT_TRUE(from_current.load(in));
  LASindex from_older;
  ASSERT_TRUE(from_older.load(las.c_str()));
  EXPECT_EQ(from_older.quadtree().levels, built->quadtree().levels);
  EXPECT_EQ(bytes_of(from_older), current);
  const LASquadtree& tree = built->quadtree();
  const double mid_x = (tree.min_x + tree.max_x) / 2, mid_y = (tree.min_y + tree.max_y) / 2;
  ASSERT_TRUE(from_current.query_circle(mid_x, mid_y, 20));
  ASSERT_TRUE(from_older.query_circle(mid_x, mid_y, 20));
  EXPECT_EQ(from_older.quadtree().result(), from_current.quadtree().result());
  EXPECT_EQ(from_older.points_in_runs(), from_current.points_in_runs());
}

TEST(IndexFile, ARunOfOnePointReadsExactlyThatPoint) {
  const auto dir = index_test::scratch_dir();
  const std::string las = (dir / "scene.las").string();
  ASSERT_TRUE(index_test::make_scene(las, 2000, 1));
  LASreaderLAS probe;
  ASSERT_TRUE(probe.open_file(las.c_str()));
  auto index = std::make_unique<LASindex>();
  LASquadtree& tree = index->quadtree();
  tree.min_x = static_cast<float>(probe.header.min_x) - 1;
  tree.min_y = static_cast<float>(probe.header.min_y) - 1;
  tree.max_x = static_cast<float>(probe.header.max_x) + 1;
  tree.max_y = static_cast<float>(probe.header.max_y) + 1;
  LASintervalCell root;
  root.runs = {{1234, 1234}, {1500, 1501}};
  root.points_in_cells = 3;
  root.points_in_runs = 3;
  index->interval().set_cell(0, std::move(root));
  tree.set_leaf(0);
  // The index walks the reader itself (a reader would refuse this index: its cell does not
  // hold the file's points).
  ASSERT_TRUE(index->query_rectangle(tree.min_x, tree.min_y, tree.max_x, tree.max_y));
  std::vector<std::int64_t> numbers;
  while (index->advance(probe)) {
    ASSERT_TRUE(probe.read_raw_point());
    numbers.push_back(probe.points_done - 1);
  }
  EXPECT_EQ(numbers, (std::vector<std::int64_t>{1234, 1500, 1501}));
}

TEST(IndexFile, AnIndexOfAnotherFileOrAttachedAfterTheAreaHidesNoPoint) {
  const auto dir = index_test::scratch_dir();
  const std::string a = (dir / "a.las").string();
  const std::string b = (dir / "b.las").string();
  ASSERT_TRUE(index_test::make_scene(a, 3000, 1, 3));
  ASSERT_TRUE(index_test::make_scene(b, 3000, 1, 4));
  const std::unique_ptr<LASindex> index = build_index(a.c_str(), {100, 6});
  ASSERT_TRUE(index);
  const LASquadtree& tree = index->quadtree();
  const double mid_x = (tree.min_x + tree.max_x) / 2, mid_y = (tree.min_y + tree.max_y) / 2;
  const Area area{Area::kCircle, mid_x, mid_y, 15, 0};
  auto read = [&](LASreader& reader) {
    std::vector<Delivered> points;
    while (reader.read_next())
      points.push_back({reader.points_done - 1, reader.point.X, reader.point.Y, reader.point.Z});
    return points;
  };
  const std::vector<Delivered> in_a = index_test::read_area(a, area, nullptr);
  const std::vector<Delivered> in_b = index_test::read_area(b, area, nullptr);
  ASSERT_FALSE(in_a.empty());
  ASSERT_NE(in_a, in_b);

  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(a.c_str()));
  index_test::apply(reader, area);
  reader.attach_index(std::make_unique<LASindex>(*index));
  EXPECT_EQ(read(reader), in_a);
  ASSERT_TRUE(reader.open_file(a.c_str()));
  reader.attach_index(std::make_unique<LASindex>(*index));
  index_test::apply(reader, area);
  EXPECT_EQ(read(reader), in_a);
  // The next file opened by the same reader is read without the first file's index.
  ASSERT_TRUE(reader.open_file(b.c_str()));
  EXPECT_EQ(reader.get_index(), nullptr);
  index_test::apply(reader, area);
  EXPECT_EQ(read(reader), in_b);
}

// A valid index of 100 points over two levels: cells 5 and 20 with two runs each.
std::vector<std::uint8_t> small_index() {
  LASindex index;
  LASquadtree& tree = index.quadtree();
  tree.levels = 2;
  tree.min_x = tree.min_y = 0;
  tree.max_x = tree.max_y = 64;
  index.interval().set_cell(5, {4, 4, {{0, 1}, {10, 11}}});
  index.interval().set_cell(20, {3, 6, {{2, 4}, {50, 52}}});
  return bytes_of(index);
}

struct Hostile {
  const char* what;
  std::size_t keep;  // bytes kept (the rest is cut), 0 for all
  std::size_t offset;
  std::uint32_t value;  // written at `offset` when offset is non-zero
  std::string messages;
};

TEST(IndexFile, AFileThatDoesNotReadOrLiesIsRefusedWithItsMessage) {
  const std::size_t first_run = kIndexOffsetFirstCell + kCellHeadSize;
  const std::size_t second_cell = first_run + 2 * kRunSize;
  const std::string spatial = "ERROR (LASindex): cannot read LASspatial (LASquadtree)\n";
  const std::string interval = "ERROR (LASindex): reading LASinterval\n";
  std::vector<Hostile> cases = {
      {"empty", 1, 0, 0, "ERROR (LASindex): reading signature\n"},
      {"signature", 0, 0, 0x59534c4c, "ERROR (LASindex): wrong signature LLSY instead of 'LASX'\n"},
      {"version", 6, 0, 0, "ERROR (LASindex): reading version\n"},
      {"spatial signature", 10, 0, 0,
       "ERROR (LASquadtree): reading LASspatial signature\n" + spatial},
      {"spatial signature wrong", 0, 8, 0x5453414c,
       "ERROR (LASquadtree): wrong LASspatial signature LAST instead of 'LASS'\n" + spatial},
      {"spatial type", 0, 12, 1, "ERROR (LASquadtree): unknown LASspatial type 1\n" + spatial},
      {"levels beyond 15", 0, kIndexOffsetLevels, 16,
       "ERROR (LASquadtree): 16 levels are more than the 15 supported\n" + spatial},
      {"interval signature", 0, kIndexOffsetInterval, 0x5856414c,
       "ERROR (LASinterval): wrong signature LAVX instead of 'LASV'\n" + interval},
      {"number of cells", 62, 0, 0, "ERROR (LASinterval): reading number of cells\n" + interval},
      {"more cells than the file holds", 0, kIndexOffsetCellCount, 0xFFFFFFFF,
       "ERROR (LASinterval): reading cell index\n" + interval},
      {"more runs than the file holds", 0, second_cell + 4, 0xFFFFFFFF,
       "ERROR (LASinterval): reading start 0 of interval\n" + interval},
      {"runs of one cell running into the next", 0, kIndexOffsetFirstCell + 4, 3,
       "ERROR (LASinterval): interval 20 to 2 of cell 5 is out of order\n" + interval},
      {"run cut", first_run + 6, 0, 0,
       "ERROR (LASinterval): reading end 0 of interval\n" + interval},
      {"cell beyond the levels", 0, kIndexOffsetFirstCell, 21,
       "ERROR (LASinterval): cell index 21 lies outside the quadtree\n" + interval},
      {"negative cell", 0, kIndexOffsetFirstCell, 0x80000000,
       "ERROR (LASinterval): cell index -2147483648 lies outside the quadtree\n" + interval},
      {"reversed run", 0, first_run, 3,
       "ERROR (LASinterval): interval 3 to 1 of cell 5 is out of order\n" + interval},
      {"more points than its runs", 0, kIndexOffsetFirstCell + 8, 5,
       "ERROR (LASinterval): cell 5 claims 5 points but its intervals hold 4\n" + interval},
  };
  // Cut at each field of the quadtree after its type: the field is named.
  const std::pair<const char*, std::size_t> tree_fields[] = {
      {"levels", 26}, {"level_index", 30}, {"implicit_levels", 34}, {"min_x", 38},
      {"max_x", 42},  {"min_y", 46},       {"max_y", 50},
  };
  for (const auto& [field, at] : tree_fields) {
    cases.push_back(
        {field, at, 0, 0, std::string("ERROR (LASquadtree): reading ") + field + "\n" + spatial});
  }
  const std::vector<std::uint8_t> valid = small_index();
  {
    LASindex index;
    ByteStreamInArrayLE in(valid.data(), static_cast<std::int64_t>(valid.size()));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(index.load(in));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = valid;
    if (c.offset != 0 || std::strcmp(c.what, "signature") == 0) put(bytes, c.offset, c.value);
    if (c.keep != 0) bytes.resize(c.keep - (std::strcmp(c.what, "empty") == 0 ? 1 : 0));
    LASindex index;
    ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(index.load(in));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
  }
}

// Reads the area through the factory as the tool does; `indexed` tells whether an index was
// attached and kept through the first pass.
std::vector<Delivered> read_through_factory(const std::string& path, const Area& area,
                                            bool& indexed, std::string& messages) {
  LASreaderFactory factory;
  factory.add_file_name(path.c_str());
  factory.set_inside_rectangle(area.a, area.b, area.c, area.d);
  testing::internal::CaptureStderr();
  std::unique_ptr<LASreader> reader = factory.open();
  std::vector<Delivered> points;
  while (reader && reader->read_next())
    points.push_back({reader->points_done - 1, reader->point.X, reader->point.Y, reader->point.Z});
  indexed = reader && reader->get_index() != nullptr;
  // The second pass of the tool reads the same points again.
  if (reader && factory.reopen(reader.get())) {
    std::size_t i = 0;
    while (reader->read_next())
      EXPECT_TRUE(i < points.size() && points[i++].number == reader->points_done - 1);
    EXPECT_EQ(i, points.size());
  }
  messages = testing::internal::GetCapturedStderr();
  return points;
}

TEST(IndexFile, TheFactoryAttachesTheIndexBesideOrInsideAndDropsALyingOne) {
  const auto dir = index_test::scratch_dir();
  const std::string las = (dir / "tile.las").string();
  const std::string pkz = (dir / "tile.pkz").string();
  ASSERT_TRUE(index_test::make_scene(las, 6000, 1));
  ASSERT_TRUE(index_test::compress(las, pkz, 1000));
  LASreaderLAS probe;
  ASSERT_TRUE(probe.open_file(las.c_str()));
  const double w = probe.header.max_x - probe.header.min_x;
  const Area area{Area::kRectangle, probe.header.min_x + w / 3, probe.header.min_y + w / 3,
                  probe.header.min_x + w / 2, probe.header.min_y + w / 2};
  const std::vector<Delivered> expected = index_test::read_area(las, area, nullptr);
  ASSERT_GT(expected.size(), 10u);

  const std::unique_ptr<LASindex> index = build_index(las.c_str(), {300, 8});
  ASSERT_TRUE(index);
  ASSERT_TRUE(write_index_file(*index, las.c_str()));
  bool indexed = false;
  std::string messages;
  EXPECT_EQ(read_through_factory(las, area, indexed, messages), expected);
  EXPECT_TRUE(indexed);
  EXPECT_EQ(messages, "");

  // Inside the compressed file, stored twice: the second replaces the first.
  const std::unique_ptr<LASindex> pkz_index = build_index(pkz.c_str(), {300, 8});
  ASSERT_TRUE(pkz_index);
  const auto plain_size = std::filesystem::file_size(pkz);
  ASSERT_TRUE(append_index_record(*pkz_index, pkz.c_str()));
  const auto indexed_size = std::filesystem::file_size(pkz);
  ASSERT_TRUE(append_index_record(*pkz_index, pkz.c_str()));
  EXPECT_EQ(std::filesystem::file_size(pkz), indexed_size);
  EXPECT_EQ(indexed_size - plain_size, kEvlrHeadSize + bytes_of(*pkz_index).size());
  EXPECT_EQ(read_through_factory(pkz, area, indexed, messages), expected);
  EXPECT_TRUE(indexed);
  EXPECT_EQ(messages, "");
  // A plain file cannot hold it.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(append_index_record(*index, las.c_str()));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("put a .lax file beside it"),
            std::string::npos);
  // Nor can a file that is not there.
  const std::string missing = (dir / "missing.pkz").string();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(append_index_record(*index, missing.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot open file '" + missing + "' for update\n");
  EXPECT_FALSE(std::filesystem::exists(missing));

  // A lying index beside the file: one message chain, not repeated by the second pass, and
  // the file is read without it.
  std::vector<std::uint8_t> lying = file_bytes((dir / "tile.lax").string());
  const std::uint32_t first_end = kIndexOffsetFirstCell + kCellHeadSize + 4;
  const std::uint32_t end = 6000;
  put<std::uint32_t>(lying, first_end, end);
  write_file((dir / "tile.lax").string(), lying);
  EXPECT_EQ(read_through_factory(las, area, indexed, messages), expected);
  EXPECT_FALSE(indexed);
  const std::string chain =
      "ERROR (LASindex): reading LASinterval\nERROR (LASindex): cannot read '" +
      (dir / "tile.lax").string() + "'\n";
  ASSERT_NE(messages.find(chain), std::string::npos) << messages;
  EXPECT_EQ(messages.find(chain), messages.rfind(chain)) << messages;
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 3) << messages;
}

}  // namespace
