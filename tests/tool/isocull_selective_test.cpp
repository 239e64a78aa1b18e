// End to end: a compressed file of point types 6-10 read on its own decodes only the layers
// the first pass needs; read through the merging reader (which reopens its files as it
// first opened them) it decodes every layer in both passes. Both must write the same bytes.

#include <gtest/gtest.h>

#include <cstdio>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

// Marks `input` once on its own and once merged with each option set, and compares the
// outputs byte for byte.
void expect_same_output_both_ways(const TempDir& dir, const std::string& input) {
  const std::vector<std::vector<std::string>> option_sets = {
      {},
      {"-step", "3", "-isolated", "4", "-flag_as_withheld"},
      {"-step", "3", "-isolated", "4", "-remove_noise"},
      {"-step", "3", "-isolated", "4", "-by_flightline", "-classify_as", "9"},
      {"-step", "3", "-isolated", "4", "-ignore_class", "2", "-remove_noise"},
      {"-step", "3", "-isolated", "4", "-by_flightline", "-ignore_class", "1", "2"},
  };
  int written = 0;
  for (const std::vector<std::string>& options : option_sets) {
    // Remove mode leaves no output when every point is noise: a stale one must not pass.
    std::remove((dir.path() + "/named.las").c_str());
    std::remove((dir.path() + "/merged.las").c_str());
    std::vector<std::string> named = {"-i", input, "-o", "named.las"};
    named.insert(named.end(), options.begin(), options.end());
    std::vector<std::string> merged = {"-i", input, "-merged", "-o", "merged.las"};
    merged.insert(merged.end(), options.begin(), options.end());
    const ToolRun named_run = run_tool(named, dir.path());
    const ToolRun merged_run = run_tool(merged, dir.path());
    ASSERT_EQ(named_run.exit_code, 0) << input << "\n" << named_run.err;
    ASSERT_EQ(merged_run.exit_code, 0) << input << "\n" << merged_run.err;
    const std::string output = read_text(dir.path() + "/named.las");
    if (!output.empty()) written++;
    EXPECT_TRUE(output == read_text(dir.path() + "/merged.las"))
        << input << " with " << (options.empty() ? "defaults" : options.back());
  }
  EXPECT_GE(written, 4) << input;
}

TEST(IsocullSelectiveDecoding, GeneratedLayeredFilesGiveTheBytesOfTheFullDecode) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const int point_type : {6, 8}) {
    const std::string scene = dir.path() + "/scene" + std::to_string(point_type) + ".las";
    ASSERT_TRUE(write_scene(scene, 20000, point_type, 5, false, 0.03));
    const std::string compressed = dir.path() + "/scene" + std::to_string(point_type) + ".pkz";
    const ToolRun run = run_tool({"-i", scene, "-o", compressed, "-quiet"}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    expect_same_output_both_ways(dir, compressed);
  }
}

TEST(IsocullSelectiveDecoding, RealLayeredFilesGiveTheBytesOfTheFullDecode) {
  if (!exists(kRealData + "/fullwave.pkz")) GTEST_SKIP() << "no real files in " << kRealData;
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* name :
       {"1_4_w_evlr.pkz", "fullwave.pkz", "simple-varchunk.pkz", "autzen-clip-varchunk.pkz"}) {
    expect_same_output_both_ways(dir, kRealData + "/" + name);
  }
}

}  // namespace
