// End to end with a spatial index: isocull -inside writes the same output whether an index
// lies beside the file or inside it (written by the companion isocull_index) or not.

#include <gtest/gtest.h>

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

}  // namespace
