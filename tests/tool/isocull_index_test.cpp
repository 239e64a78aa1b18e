// End to end with a spatial index: isocull -inside writes the same output whether an index
// lies beside the file or inside it (written by the companion isocull_index) or not, and
// whether that index is sound, damaged, older than the file or made before its points were
// re-sorted.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "index/index_layout.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

using IsocullIndex = ToolFolders;

const std::string kIndexer = ISOCULL_BINARY_DIR "/isocull_index";

int run_indexer(const std::string& dir, const std::string& args) {
  const std::string command = "cd " + shell_quoted(dir) + " && " + shell_quoted(kIndexer) + " " +
                              args + " 2>" + shell_quoted(dir + "/.indexer");
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(IsocullIndex, AreaOutputsAreTheSameWithAndWithoutTheIndex) {
  if (!exists(kIndexer)) GTEST_SKIP() << "isocull_index is not built";
  ASSERT_TRUE(write_scene(path("in/tile.las"), 30000, 1, 5));
  const LasRecords input = read_records(path("in/tile.las"));
  ASSERT_TRUE(input.ok);
  const double min_x = input.header.min_x, min_y = input.header.min_y;
  const double w = input.header.max_x - min_x;
  const std::vector<std::vector<std::string>> areas = {
      {"-inside", std::to_string(min_x + w * 0.2), std::to_string(min_y + w * 0.3),
       std::to_string(min_x + w * 0.45), std::to_string(min_y + w * 0.5)},
      {"-inside_tile", std::to_string(min_x + w * 0.7), std::to_string(min_y - 5),
       std::to_string(w * 0.25)},
      {"-inside_circle", std::to_string(min_x + w * 0.5), std::to_string(min_y + w * 0.5),
       std::to_string(w * 0.1)},
  };
  // The compressed twin, written by the tool itself.
  ASSERT_EQ(run({"-i", "in/tile.las", "-o", "in/tile.pkz", "-step", "1000"}).exit_code, 0);

  for (const char* input_name : {"in/tile.las", "in/tile.pkz"}) {
    const std::string extension = std::string(input_name).substr(7);
    auto outputs = [&](const std::string& tag) {
      std::vector<std::string> bytes;
      for (std::size_t i = 0; i < areas.size(); i++) {
        const std::string output = "out/" + tag + std::to_string(i) + extension;
        std::vector<std::string> args = {"-i", input_name, "-o", output};
        args.insert(args.end(), areas[i].begin(), areas[i].end());
        const ToolRun result = run(args);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        bytes.push_back(read_text(path(output)));
        EXPECT_GT(bytes.back().size(), 400u);
      }
      return bytes;
    };
    SCOPED_TRACE(input_name);
    const std::vector<std::string> without = outputs("plain");
    const bool compressed = extension == ".pkz";
    ASSERT_EQ(run_indexer(dir_.path(), std::string("-i ") + input_name + " -leaf_points 500" +
                                           (compressed ? " -append" : "")),
              0)
        << read_text(path(".indexer"));
    // "tile.las" gets "tile.lax"; "tile.pkz" would look for "tile.pkx" but holds its own.
    EXPECT_EQ(exists(path(compressed ? "in/tile.pkx" : "in/tile.lax")), !compressed);
    EXPECT_EQ(outputs("indexed"), without);
  }
  // An input that does not open leaves no index behind.
  EXPECT_EQ(run_indexer(dir_.path(), "-i in/none.las"), 1);
  EXPECT_NE(read_text(path(".indexer")).find("ERROR: cannot open 'in/none.las'"),
            std::string::npos);
  EXPECT_FALSE(exists(path("in/none.lax")));
}

// The points of `in` written to `out`, raw or compressed: in their order, or re-sorted (its
// tenths from the last to the first) as a tool that sorts points would leave them, with
// the same count and bounds.
bool write_copy(const std::string& in, const std::string& out, bool compressed, bool resorted) {
  LASreaderLAS reader;
  if (!reader.open_file(in.c_str())) return false;
  LASheader header = reader.header;
  LASwriterLAS writer;
  if (!writer.open_file(out.c_str(), &header, compressed ? 2 : 0)) return false;
  const std::int64_t total = reader.points_total;
  const std::int64_t block = resorted ? std::max<std::int64_t>(1, total / 10) : total;
  for (std::int64_t first = (total - 1) / block * block; first >= 0; first -= block) {
    if (!reader.seek_point(first)) return false;
    for (std::int64_t n = first; n < std::min(total, first + block); n++) {
      if (!reader.read_raw_point() || !writer.write_point(reader.point)) return false;
    }
  }
  return writer.close_writer(true) > 0;
}

void flip(const std::string& path, std::size_t offset, std::uint8_t bits) {
  std::string bytes = read_text(path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ bits);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void lower_count(const std::string& path, std::size_t offset) {
  std::string bytes = read_text(path);
  ASSERT_LE(offset + 4, bytes.size());
  std::uint32_t count;
  std::memcpy(&count, bytes.data() + offset, 4);
  ASSERT_GT(count, 0u);
  count--;
  std::memcpy(bytes.data() + offset, &count, 4);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Sets the file's modification time `seconds` from that of `other` (following links).
void age(const std::string& path, const std::string& other, int seconds) {
  struct stat info {};
  ASSERT_EQ(stat(other.c_str(), &info), 0);
  timespec times[2] = {info.st_mtim, info.st_mtim};
  times[1].tv_sec += seconds;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct IndexDamage {
  const char* what;
  std::function<void(const std::string& index)> damage;
  const char* says;  // after "WARNING: ignoring spatial index '<index>': "
  bool may_pass_silently = false;
};

TEST_F(IsocullIndex, AStaleOrDamagedIndexBesideATileChangesNoAreaAndSaysSoOnce) {
  if (!exists(kIndexer)) GTEST_SKIP() << "isocull_index is not built";
  if (!exists(kRealData + "/lone-star-split-1.pkz")) GTEST_SKIP() << "no real files";
  const std::string real_tile = kRealData + "/lone-star-split-1.pkz";
  const std::vector<std::string> inside = {"-inside", "515394.5", "4918345", "515397", "4918353"};
  auto run_area = [&](const std::string& input, const std::string& output) {
    std::vector<std::string> args = {"-i", input, "-o", output};
    args.insert(args.end(), inside.begin(), inside.end());
    return run(args);
  };
  // The tile as its producer wrote it (compressed, by link) and uncompressed; each also
  // re-sorted by another program, the index of the tile left beside it from before.
  ASSERT_EQ(symlink(real_tile.c_str(), path("in/t1.pkz").c_str()), 0);
  ASSERT_TRUE(write_copy(real_tile, path("in/t1.las"), false, false));
  for (const std::string extension : {".las", ".pkz"}) {
    SCOPED_TRACE(extension);
    const bool compressed = extension == ".pkz";
    const std::string tile = "in/t1" + extension;
    const std::string resorted = "in/r" + extension;
    const std::string index_of_tile = compressed ? "in/t1.pkx" : "in/t1.lax";
    const std::string index_of_resorted = compressed ? "in/r.pkx" : "in/r.lax";
    const ToolRun plain = run_area(tile, "out/plain.las");
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const std::string expected = read_text(path("out/plain.las"));
    ASSERT_GT(read_records(path("out/plain.las")).records.size(), 1000u);

    ASSERT_EQ(run_indexer(dir_.path(), "-i " + tile + " -leaf_points 2000"), 0)
        << read_text(path(".indexer"));
    const std::string sound_index = read_text(path(index_of_tile));
    ASSERT_GT(sound_index.size(), 200u);
    // Sound: the same bytes, and no word about the index.
    const ToolRun indexed = run_area(tile, "out/indexed.las");
    ASSERT_EQ(indexed.exit_code, 0) << indexed.err;
    EXPECT_EQ(read_text(path("out/indexed.las")), expected);
    EXPECT_FALSE(indexed.printed("spatial index")) << indexed.err;

    ASSERT_TRUE(write_copy(real_tile, path(resorted), compressed, true));
    const ToolRun resorted_plain = run_area(resorted, "out/resorted_plain.las");
    ASSERT_EQ(resorted_plain.exit_code, 0) << resorted_plain.err;
    const std::string resorted_expected = read_text(path("out/resorted_plain.las"));
    EXPECT_EQ(read_records(path("out/resorted_plain.las")).records.size(),
              read_records(path("out/plain.las")).records.size());

    const std::string resorted_tile = path(resorted);
    const IndexDamage damages[] = {
        // Found by reading the runs, which the reader of a compressed tile may pass over
        // (when skipping within its chunks would save too little): then without a word.
        {"points re-sorted since", [](const std::string&) {}, "point ", compressed},
        {"a cell's point count",
         [](const std::string& index) { lower_count(index, kIndexOffsetFirstCell + 8); },
         "its cells hold "},
        {"a bound", [](const std::string& index) { flip(index, kIndexOffsetBounds + 2, 0x04); },
         "its "},
        {"older than the tile", [&](const std::string& index) { age(index, resorted_tile, -5); },
         "it is older than '"},
    };
    for (const IndexDamage& damage : damages) {
      SCOPED_TRACE(damage.what);
      std::ofstream(path(index_of_resorted), std::ios::binary | std::ios::trunc) << sound_index;
      damage.damage(path(index_of_resorted));
      const ToolRun stale = run_area(resorted, "out/stale.las");
      ASSERT_EQ(stale.exit_code, 0) << stale.err;
      EXPECT_EQ(read_text(path("out/stale.las")), resorted_expected);
      if (damage.may_pass_silently && !stale.printed("spatial index")) continue;
      const std::string warning =
          "WARNING: ignoring spatial index '" + index_of_resorted + "': " + damage.says;
      EXPECT_EQ(stale.count(warning), 1u) << stale.err;
      EXPECT_EQ(stale.count("WARNING: ignoring"), 1u) << stale.err;
    }
  }
}

}  // namespace
