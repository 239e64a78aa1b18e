// An index never changes what an area delivers. Indexes made by the project's own writer for
// real files of other producers, then damaged field by field (the cells' point counts, the
// extent bit by bit, runs beyond the points, the file's points re-sorted under the index,
// another file's index, an index older than its file), deliver through the reader exactly
// the points of reading without an index, with one WARNING naming what is wrong; a sound
// index is kept, says nothing and reads fewer points.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "codec/pakrel.hpp"
#include "index_test_support.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using index_test::Area;
using index_test::Delivered;

// A reader that counts the stored points it reads.
struct CountingReader : LASreaderLAS {
  std::int64_t reads = 0;
  bool read_raw_point() override {
    reads++;
    return LASreaderLAS::read_raw_point();
  }
};

struct Outcome {
  std::vector<Delivered> points;
  std::string messages;
  bool kept = false;  // the index was still attached after reading
  bool failed = false;
  std::int64_t reads = 0;  // stored points read, to check the index and to deliver
};

// The points `path` delivers inside `area`, through `index` when given, and what was said.
Outcome read_with(const std::string& path, const Area& area, std::unique_ptr<LASindex> index) {
  Outcome outcome;
  CountingReader reader;
  if (!reader.open_file(path.c_str())) {
    ADD_FAILURE() << "cannot open " << path;
    return outcome;
  }
  reader.attach_index(std::move(index));
  testing::internal::CaptureStderr();
  index_test::apply(reader, area);
  while (reader.read_next())
    outcome.points.push_back(
        {reader.points_done - 1, reader.point.X, reader.point.Y, reader.point.Z});
  outcome.messages = testing::internal::GetCapturedStderr();
  outcome.kept = reader.get_index() != nullptr;
  outcome.failed = reader.read_failed();
  outcome.reads = reader.reads;
  return outcome;
}

std::vector<std::uint8_t> bytes_of(const LASindex& index) {
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(index.write(out));
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

std::unique_ptr<LASindex> index_of(const std::vector<std::uint8_t>& bytes) {
  auto index = std::make_unique<LASindex>();
  ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  testing::internal::CaptureStderr();
  const bool loaded = index->load(in);
  testing::internal::GetCapturedStderr();
  return loaded ? std::move(index) : nullptr;
}

// The whole file, a rectangle over the middle third, a tile at a corner, a circle off the
// centre, and a small rectangle and circle: areas that reach several cells of an index a few
// levels deep, the small ones few enough that their runs hold under half the points of a
// file ordered in space (the index is then read and checked, not passed over).
std::vector<Area> areas_of(const std::string& path) {
  LASreaderLAS probe;
  EXPECT_TRUE(probe.open_file(path.c_str()));
  const LASheader& h = probe.header;
  const double w = h.max_x - h.min_x, d = h.max_y - h.min_y;
  return {
      {Area::kRectangle, h.min_x, h.min_y, h.max_x + w / 100, h.max_y + d / 100},
      {Area::kRectangle, h.min_x + w / 3, h.min_y + d / 3, h.min_x + 2 * w / 3,
       h.min_y + 2 * d / 3},
      {Area::kTile, h.min_x - w / 8, h.min_y - d / 8, std::max(w, d) / 2, 0},
      {Area::kCircle, h.min_x + 0.6 * w, h.min_y + 0.45 * d, std::min(w, d) / 4, 0},
      {Area::kRectangle, h.min_x + 0.52 * w, h.min_y + 0.31 * d, h.min_x + 0.64 * w,
       h.min_y + 0.43 * d},
      {Area::kCircle, h.min_x + 0.3 * w, h.min_y + 0.7 * d, std::min(w, d) / 14, 0},
  };
}

// A copy of `index` queried for `area`.
std::unique_ptr<LASindex> queried(const LASindex& index, const Area& area) {
  auto copy = std::make_unique<LASindex>(index);
  switch (area.kind) {
    case Area::kRectangle:
      copy->query_rectangle(area.a, area.b, area.c, area.d);
      break;
    case Area::kTile:
      copy->query_tile(static_cast<float>(area.a), static_cast<float>(area.b),
                       static_cast<float>(area.c));
      break;
    case Area::kCircle:
      copy->query_circle(area.a, area.b, area.c);
      break;
  }
  return copy;
}

// Whether the reader of `path` reads `area` through the sound `index` (and so checks it by
// reading the points of its runs) rather than passing it over: it then reads those points
// twice, once to check them and once to deliver them.
bool read_through(const std::string& path, const LASindex& index, const Area& area) {
  const std::uint64_t in_runs = queried(index, area)->points_in_runs();
  const Outcome outcome = read_with(path, area, std::make_unique<LASindex>(index));
  EXPECT_TRUE(outcome.kept);
  return in_runs > 0 && static_cast<std::uint64_t>(outcome.reads) == 2 * in_runs;
}

// The files the tests damage indexes of: real files of other producers, and a scene of the
// project's own, plain and compressed, whose points lie in the order of a survey.
std::vector<std::string> subjects() {
  const auto dir = std::filesystem::temp_directory_path() / "isocull_index_tests" / "subjects";
  std::filesystem::create_directories(dir);
  const std::string las = (dir / "scene.las").string();
  const std::string pkz = (dir / "scene.pkz").string();
  if (!std::filesystem::exists(pkz)) {
    EXPECT_TRUE(index_test::make_scene(las, 40000, 1, 7));
    EXPECT_TRUE(index_test::compress(las, pkz, 5000));
  }
  return {index_test::real("simple.las"), index_test::real("simple.pkz"),
          index_test::real("lone-star-split-1.pkz"), las, pkz};
}

// The points of `in` written to `out` in another order: its tenths from the last to the
// first. Counts, bounds, chunk size and every point stay; only their numbers change.
bool write_resorted(const std::string& in, const std::string& out) {
  LASreaderLAS reader;
  if (!reader.open_file(in.c_str())) return false;
  const std::int64_t block = std::max<std::int64_t>(1, reader.points_total / 10);
  LASheader header = reader.header;
  const bool compressed = header.codec != nullptr;
  LASwriterLAS writer;
  const std::uint16_t compressor = !compressed ? 0 : header.point_data_format >= 6 ? 3 : 2;
  // Chunks of the same size: reading the runs costs what it costs in the original.
  const int chunk_size = compressed ? static_cast<int>(header.codec->chunk_size) : -1;
  if (!writer.open_file(out.c_str(), &header, compressor, 0, chunk_size)) return false;
  const std::int64_t total = reader.points_total;
  for (std::int64_t first = (total - 1) / block * block; first >= 0; first -= block) {
    if (!reader.seek_point(first)) return false;
    for (std::int64_t n = first; n < std::min(total, first + block); n++) {
      if (!reader.read_raw_point() || !writer.write_point(reader.point)) return false;
    }
  }
  return writer.close_writer(true) > 0;
}

// A cell record of `index` changed by `change`: the cell with the most points of those the
// area reaches (of all when it reaches none).
std::unique_ptr<LASindex> with_cell_changed(const LASindex& index, const Area& area,
                                            const std::function<void(LASintervalCell&)>& change) {
  auto changed = std::make_unique<LASindex>(index);
  std::vector<std::int32_t> candidates = queried(index, area)->interval().merged_cells();
  if (candidates.empty()) {
    for (const auto& entry : index.interval().cells())
      candidates.push_back(entry.first);
  }
  std::int32_t fullest = 0;
  std::uint32_t most = 0;
  for (std::int32_t number : candidates) {
    const LASintervalCell& cell = index.interval().cells().at(number);
    if (cell.points_in_cells > most) {
      most = cell.points_in_cells;
      fullest = number;
    }
  }
  LASintervalCell cell = index.interval().cells().at(fullest);
  change(cell);
  changed->interval().set_cell(fullest, std::move(cell));
  return changed;
}

// The project's index of `path`, a few levels deep whatever the file's size.
std::unique_ptr<LASindex> sound_index(const std::string& path) {
  LASreaderLAS probe;
  EXPECT_TRUE(probe.open_file(path.c_str()));
  const auto leaf_points =
      static_cast<std::uint32_t>(std::max<std::int64_t>(20, probe.points_total / 30));
  return build_index(path.c_str(), {leaf_points, 6});
}

struct Damage {
  const char* what;
  // The index damaged for an area.
  std::function<std::unique_ptr<LASindex>(const LASindex&, const Area&)> damage;
  const char* warning;  // what the one WARNING line says after the index's name
  // Found by reading the points of the area's runs, so only where the area is read through
  // the index (read_through); elsewhere the index is passed over silently.
  bool found_by_reading = false;
};

TEST(IndexStale, ADamagedIndexDeliversThePointsOfReadingWithoutOneAndSaysWhy) {
  const Damage damages[] = {
      {"a cell holding one point less",
       [](const LASindex& index, const Area& area) {
         return with_cell_changed(index, area,
                                  [](LASintervalCell& cell) { cell.points_in_cells--; });
       },
       "its cells hold ", false},
      {"a run beyond the last point",
       [](const LASindex& index, const Area&) {
         auto changed = std::make_unique<LASindex>(index);
         // The run that ends last, moved one point beyond the file.
         std::int32_t last_cell = 0;
         std::uint32_t last_end = 0;
         for (const auto& [number, cell] : index.interval().cells()) {
           if (cell.runs.back().end >= last_end) {
             last_end = cell.runs.back().end;
             last_cell = number;
           }
         }
         LASintervalCell cell = index.interval().cells().at(last_cell);
         cell.runs.back().end++;
         cell.points_in_runs++;
         changed->interval().set_cell(last_cell, std::move(cell));
         return changed;
       },
       "its runs reach point ", false},
      {"the extent shrunk by a tenth",
       [](const LASindex& index, const Area&) {
         auto changed = std::make_unique<LASindex>(index);
         LASquadtree& tree = changed->quadtree();
         tree.min_x += (tree.max_x - tree.min_x) / 10;
         return changed;
       },
       "its extent ", false},
      {"a point moved from one cell's count to another's",
       // The total stays; the area's fullest cell says it holds one point less, another cell
       // one more, its last run widened over a point of some other cell.
       [](const LASindex& index, const Area& area) {
         auto changed =
             with_cell_changed(index, area, [](LASintervalCell& cell) { cell.points_in_cells--; });
         for (const auto& [number, cell] : index.interval().cells()) {
           if (changed->interval().cells().at(number).points_in_cells != cell.points_in_cells) {
             continue;  // the fullest cell
           }
           const std::uint32_t next = cell.runs.back().end + 1;
           bool elsewhere = false;
           for (const auto& entry : index.interval().cells())
             elsewhere = elsewhere || entry.second.holds(next);
           if (!elsewhere) continue;
           LASintervalCell widened = cell;
           widened.runs.back().end = next;
           widened.points_in_cells++;
           widened.points_in_runs++;
           changed->interval().set_cell(number, std::move(widened));
           return changed;
         }
         return std::unique_ptr<LASindex>();
       },
       "cell ", true},
  };
  SKIP_WITHOUT_REAL_DATA();
  for (const std::string& path : subjects()) {
    SCOPED_TRACE(path);
    const std::unique_ptr<LASindex> sound = sound_index(path);
    ASSERT_TRUE(sound);
    ASSERT_GE(sound->quadtree().levels, 2u);
    const std::int64_t total = index_test::points_total_of(path);
    int found_by_reading = 0;
    for (const Area& area : areas_of(path)) {
      SCOPED_TRACE(index_test::describe(area));
      const Outcome plain = read_with(path, area, nullptr);
      const Outcome kept = read_with(path, area, std::make_unique<LASindex>(*sound));
      // Read through the index, its runs' points are read twice: to check, to deliver.
      const std::uint64_t in_runs = queried(*sound, area)->points_in_runs();
      const bool read_by_index =
          in_runs > 0 && static_cast<std::uint64_t>(kept.reads) == 2 * in_runs;
      EXPECT_EQ(kept.points, plain.points);
      EXPECT_TRUE(kept.kept);
      EXPECT_EQ(kept.messages, "");
      for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::unique_ptr<LASindex> damaged = damage.damage(*sound, area);
        ASSERT_TRUE(damaged);
        damaged->set_description("spatial index 'x.lax'");
        const Outcome outcome = read_with(path, area, std::move(damaged));
        EXPECT_EQ(outcome.points, plain.points);
        EXPECT_FALSE(outcome.failed);
        if (damage.found_by_reading && !read_by_index) {
          EXPECT_TRUE(outcome.kept);
          EXPECT_EQ(outcome.messages, "");
          continue;
        }
        found_by_reading += damage.found_by_reading ? 1 : 0;
        EXPECT_FALSE(outcome.kept);
        EXPECT_EQ(outcome.messages.rfind(
                      std::string("WARNING: ignoring spatial index 'x.lax': ") + damage.warning, 0),
                  0u)
            << outcome.messages;
        EXPECT_EQ(std::count(outcome.messages.begin(), outcome.messages.end(), '\n'), 1)
            << outcome.messages;
      }
    }
    // The small files' runs merge into nearly all their points; the others are read.
    if (total > 10000) {
      EXPECT_GT(found_by_reading, 0);
    }
  }
}

TEST(IndexStale, AnIndexOverPointsReSortedSinceOrOfAnotherFileIsLetGo) {
  SKIP_WITHOUT_REAL_DATA();
  const auto dir = index_test::scratch_dir();
  for (const std::string& path : subjects()) {
    SCOPED_TRACE(path);
    const std::string resorted =
        (dir / ("resorted" + std::filesystem::path(path).extension().string())).string();
    ASSERT_TRUE(write_resorted(path, resorted));
    const std::unique_ptr<LASindex> original = sound_index(path);
    ASSERT_TRUE(original);
    const std::int64_t total = index_test::points_total_of(path);
    int found = 0;
    for (const Area& area : areas_of(path)) {
      SCOPED_TRACE(index_test::describe(area));
      const Outcome plain = read_with(resorted, area, nullptr);
      const Outcome stale = read_with(resorted, area, std::make_unique<LASindex>(*original));
      EXPECT_EQ(stale.points, plain.points);
      if (!read_through(path, *original, area)) {
        EXPECT_EQ(stale.messages, "");
        continue;
      }
      found++;
      EXPECT_FALSE(stale.kept);
      EXPECT_EQ(stale.messages.rfind("WARNING: ignoring spatial index: point ", 0), 0u)
          << stale.messages;
    }
    if (total > 10000) {
      EXPECT_GT(found, 0);
    }
  }
  // The other tile of the same survey: another count and extent.
  const std::string one = index_test::real("lone-star-split-1.pkz");
  const std::unique_ptr<LASindex> other = sound_index(index_test::real("lone-star-split-2.pkz"));
  ASSERT_TRUE(other);
  for (const Area& area : {areas_of(one)[0], areas_of(one)[4]}) {
    const Outcome plain = read_with(one, area, nullptr);
    const Outcome foreign = read_with(one, area, std::make_unique<LASindex>(*other));
    EXPECT_EQ(foreign.points, plain.points);
    EXPECT_FALSE(foreign.kept);
    EXPECT_NE(foreign.messages.find("WARNING: ignoring spatial index: its cells hold"),
              std::string::npos)
        << foreign.messages;
  }
}

// Single-bit flips of the extent's 16 bytes (all of them for the small files, the top bit of
// each byte for the large one): the index is either refused with one WARNING or kept, and
// either way the area delivers what it delivers without an index.
TEST(IndexStale, EveryFlippedBitOfTheExtentKeepsTheAreaWhole) {
  SKIP_WITHOUT_REAL_DATA();
  struct Sweep {
    const char* file;
    std::uint8_t bits;  // which bits of each byte are flipped
    std::size_t areas;  // how many of areas_of() are read
  };
  const Sweep sweeps[] = {
      {"simple.las", 0xFF, 4}, {"simple.pkz", 0xFF, 2}, {"lone-star-split-1.pkz", 0x80, 1}};
  for (const Sweep& sweep : sweeps) {
    SCOPED_TRACE(sweep.file);
    const std::string path = index_test::real(sweep.file);
    const std::unique_ptr<LASindex> sound = sound_index(path);
    ASSERT_TRUE(sound);
    const std::vector<std::uint8_t> bytes = bytes_of(*sound);
    std::vector<Area> areas = areas_of(path);
    areas.resize(sweep.areas);
    std::vector<Outcome> plain;
    for (const Area& area : areas)
      plain.push_back(read_with(path, area, nullptr));
    int refused = 0, kept = 0;
    for (std::size_t byte = kIndexOffsetBounds; byte < kIndexOffsetBounds + 16; byte++) {
      for (int bit = 0; bit < 8; bit++) {
        if ((sweep.bits & (1u << bit)) == 0) continue;
        std::vector<std::uint8_t> flipped = bytes;
        flipped[byte] ^= static_cast<std::uint8_t>(1u << bit);
        const std::unique_ptr<LASindex> index = index_of(flipped);
        ASSERT_TRUE(index);
        for (std::size_t a = 0; a < areas.size(); a++) {
          SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit) + " " +
                       index_test::describe(areas[a]));
          const Outcome outcome = read_with(path, areas[a], std::make_unique<LASindex>(*index));
          EXPECT_EQ(outcome.points, plain[a].points);
          if (outcome.kept) {
            EXPECT_EQ(outcome.messages, "");
            kept++;
          } else {
            EXPECT_EQ(outcome.messages.rfind("WARNING: ignoring spatial index: ", 0), 0u)
                << outcome.messages;
            refused++;
          }
        }
      }
    }
    // Most flips move the extent off the file; the lowest bits of a bound may not matter.
    EXPECT_GT(refused, kept);
  }
}

TEST(IndexStale, AnIndexFileOlderThanItsPointFileIsNotLoaded) {
  SKIP_WITHOUT_REAL_DATA();
  const auto dir = index_test::scratch_dir();
  const std::string link = (dir / "tile.las").string();
  std::filesystem::remove(link);
  std::filesystem::create_symlink(index_test::real("simple.las"), link);
  const std::unique_ptr<LASindex> sound = sound_index(link);
  ASSERT_TRUE(sound);
  ASSERT_TRUE(write_index_file(*sound, link.c_str()));
  const std::string lax = (dir / "tile.lax").string();
  LASindex fresh;
  EXPECT_TRUE(fresh.load(link.c_str()));
  // One second before the point file's last change.
  struct stat point_info {};
  ASSERT_EQ(stat(link.c_str(), &point_info), 0);
  timespec times[2] = {point_info.st_mtim, point_info.st_mtim};
  times[0].tv_sec -= 1;
  times[1].tv_sec -= 1;
  ASSERT_EQ(utimensat(AT_FDCWD, lax.c_str(), times, 0), 0);
  LASindex older;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(older.load(link.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: ignoring spatial index '" + lax + "': it is older than '" + link + "'\n");
  // A nanosecond older is older.
  times[0] = times[1] = point_info.st_mtim;
  if (times[1].tv_nsec > 0) {
    times[1].tv_nsec -= 1;
  } else {
    times[1].tv_sec -= 1;
    times[1].tv_nsec = 999999999;
  }
  ASSERT_EQ(utimensat(AT_FDCWD, lax.c_str(), times, 0), 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(older.load(link.c_str()));
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  // As old as the point file is not older.
  times[1] = point_info.st_mtim;
  ASSERT_EQ(utimensat(AT_FDCWD, lax.c_str(), times, 0), 0);
  EXPECT_TRUE(older.load(link.c_str()));
}

TEST(IndexStale, CellsFoundSoundOnceInARunAreNotReadAgainToBeChecked) {
  const auto dir = index_test::scratch_dir();
  const std::string link = (dir / "tile.pkz").string();
  std::filesystem::remove(link);
  std::filesystem::create_symlink(subjects().back(), link);
  const std::unique_ptr<LASindex> sound = sound_index(link);
  ASSERT_TRUE(sound);
  ASSERT_TRUE(write_index_file(*sound, link.c_str()));
  const Area area = areas_of(link)[4];
  ASSERT_TRUE(read_through(link, *sound, area));
  auto memory = std::make_shared<LASindex::Memory>();
  // Reads the area through the index file with `shared` memory; the points read and delivered.
  auto pass = [&](const std::shared_ptr<LASindex::Memory>& shared, std::int64_t& delivered) {
    CountingReader reader;
    EXPECT_TRUE(reader.open_file(link.c_str()));
    auto index = std::make_unique<LASindex>();
    index->remember_in(shared);
    EXPECT_TRUE(index->load(link.c_str()));
    reader.attach_index(std::move(index));
    index_test::apply(reader, area);
    delivered = 0;
    while (reader.read_next())
      delivered++;
    EXPECT_NE(reader.get_index(), nullptr);
    return reader.reads;
  };
  std::int64_t first_delivered = 0, second_delivered = 0, fresh_delivered = 0;
  const std::int64_t first = pass(memory, first_delivered);
  const std::int64_t second = pass(memory, second_delivered);
  const std::int64_t fresh = pass(std::make_shared<LASindex::Memory>(), fresh_delivered);
  EXPECT_GT(first_delivered, 0);
  EXPECT_EQ(second_delivered, first_delivered);
  EXPECT_EQ(fresh_delivered, first_delivered);
  // Checked and delivered, then only delivered.
  EXPECT_EQ(first, fresh);
  EXPECT_EQ(first, 2 * second);
  EXPECT_EQ(memory->sound_reads.size(), 1u);
  EXPECT_TRUE(memory->refused.empty());
}

}  // namespace
