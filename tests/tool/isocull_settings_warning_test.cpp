// Warnings when the settings do not fit the data: points too sparse for the step and
// -isolated (genuine points would be marked too), and a -buffered too short for the step
// to give the tile's edges the verdicts of the whole survey.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "scene/scene_las.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

constexpr char kSparse[] = "are sparse for these settings";

class IsocullSettingsWarning : public ToolFolders {
 protected:
  // A generated scene of 200000 points at `density` pulses per square metre and flight
  // line, 0.5 % of them injected noise whose indexes go to `truth`.
  void make_scene(const std::string& name, double density, const std::string& truth) {
    SceneFileOptions options;
    options.scene.points = 200000;
    options.scene.density = density;
    options.scene.noise_fraction = 0.005;
    options.truth_path = path(truth);
    ASSERT_TRUE(write_scene_las(path(name).c_str(), options)) << name;
  }
  // Of the points classified noise (class 7) in `output`: how many are genuine, how many
  // were injected.
  struct Marked {
    std::size_t genuine = 0;
    std::size_t injected = 0;
    double genuine_share() const {
      return genuine + injected == 0
                 ? 0.0
                 : static_cast<double>(genuine) / static_cast<double>(genuine + injected);
    }
  };
  Marked marked(const std::string& output, const std::string& truth) {
    std::set<std::size_t> noise;
    std::ifstream in(path(truth));
    for (std::size_t index; in >> index;)
      noise.insert(index);
    const LasRecords file = read_records(path(output));
    EXPECT_TRUE(file.ok) << output;
    Marked count;
    for (std::size_t i = 0; i < file.records.size(); i++) {
      // Point type 1: the classification's five bits at byte 15.
      if ((file.records[i][15] & 0x1F) != 7) continue;
      (noise.count(i) != 0 ? count.injected : count.genuine)++;
    }
    return count;
  }
};

// The warning says the step that would give enough.
std::string suggested_step(const std::string& err) {
  const std::string key = "'-step ";
  const std::size_t at = err.find(key);
  if (at == std::string::npos) return "";
  return err.substr(at + key.size(), err.find('\'', at + key.size()) - at - key.size());
}

// Genuine points start to be marked (more than one marked point in 20 is a genuine one)
// exactly where the warning starts; the step it suggests makes both go away.
TEST_F(IsocullSettingsWarning, SparseWarningAppearsExactlyWhereGenuinePointsAreMarked) {
  struct Case {
    double density;
    bool warned;
  };
  const Case cases[] = {{0.3, true},  {0.5, true},  {0.7, true},
                        {0.8, false}, {1.0, false}, {2.0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("density " + std::to_string(c.density));
    make_scene("in/scene.las", c.density, "in/truth.txt");
    const ToolRun plain = run({"-i", "in/scene.las", "-o", "out/scene.las"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const Marked by_default = marked("out/scene.las", "in/truth.txt");
    EXPECT_GT(by_default.injected, 500u);
    const bool genuine_marked = by_default.genuine_share() > 0.05;
    EXPECT_EQ(genuine_marked, c.warned)
        << by_default.genuine << " genuine, " << by_default.injected << " injected";
    EXPECT_EQ(plain.count(kSparse), c.warned ? 1u : 0u) << plain.err;
    if (!c.warned) continue;
    EXPECT_TRUE(
        plain.printed("WARNING: the points of 'in/scene.las' are sparse for these "
                      "settings: one point in 200 has at most "))
        << plain.err;
    EXPECT_TRUE(
        plain.printed(", fewer than 18 (three times the 6 that '-isolated 5' leaves "
                      "isolated), so genuine points in sparse places are marked as "
                      "noise too. '-step "))
        << plain.err;
    EXPECT_TRUE(plain.printed("' would give about 36.\n")) << plain.err;
    // The typical count it names is below the bound.
    const std::size_t at = plain.err.find("has at most ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(std::atoi(plain.err.c_str() + at + 12), 18);

    const std::string step = suggested_step(plain.err);
    ASSERT_FALSE(step.empty()) << plain.err;
    EXPECT_GT(std::atof(step.c_str()), 4.0);
    EXPECT_LT(std::atof(step.c_str()), 12.0);
    const ToolRun better = run({"-i", "in/scene.las", "-step", step, "-o", "out/better.las"});
    ASSERT_EQ(better.exit_code, 0) << better.err;
    EXPECT_FALSE(better.printed(kSparse)) << better.err;
    EXPECT_LE(marked("out/better.las", "in/truth.txt").genuine_share(), 0.05);
    std::remove(path("out/better.las").c_str());
  }
}

// The bound follows -isolated; -quiet keeps the warning back with the other chatter of a
// file; one warning at most, the sparse one or the one about too many noise points.
TEST_F(IsocullSettingsWarning, SparseBoundFollowsIsolated) {
  make_scene("in/scene.las", 1.0, "in/truth.txt");
  struct Case {
    std::vector<std::string> options;
    bool warned;
    const char* bound;
    std::size_t warnings;  // of any kind
  };
  const Case cases[] = {
      {{}, false, "", 0},
      {{"-isolated", "8"}, true, "fewer than 27 (three times the 9 that '-isolated 8' ", 1},
      {{"-isolated", "3"}, false, "", 0},
      {{"-step", "2"}, true, "fewer than 18 (three times the 6 that '-isolated 5' ", 1},
      {{"-step", "2", "-quiet"}, false, "", 0},
      {{"-step", "1.5"}, true, "fewer than 18 (three times the 6 that '-isolated 5' ", 1},
      // More than one point in ten noise: the warning about that share alone.
      {{"-step", "1"}, false, "", 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", "in/scene.las", "-nil"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.count(kSparse), c.warned ? 1u : 0u) << result.err;
    EXPECT_EQ(result.count("WARNING: "), c.warnings) << result.err;
    if (c.warned) {
      EXPECT_TRUE(result.printed(c.bound)) << result.err;
    }
  }
}

// -buffered below two horizontal cells warns once per file, naming the least exact buffer in
// the file's unit; at two cells or more it is silent.
TEST_F(IsocullSettingsWarning, ShortBufferWarnsWithTheLeastExactValue) {
  for (const bool feet : {false, true}) {
    const std::string tile = feet ? "in/feet.las" : "in/metre.las";
    const std::string next = feet ? "in/feet_2.las" : "in/metre_2.las";
    ASSERT_TRUE(write_scene(path(tile), 20000, 1, 1, feet));
    ASSERT_TRUE(write_scene(path(next), 20000, 1, 2, feet));
  }
  struct Case {
    const char* tile;
    const char* next;
    std::vector<std::string> options;
    const char* warning;  // empty: none
  };
  const Case cases[] = {
      {"in/metre.las",
       "in/metre_2.las",
       {"-buffered", "7.9"},
       "WARNING: '-buffered 7.9' is less than two cells (step_xy 4 m) of 'in/metre.las': "
       "points near its edges may get other verdicts than the whole survey gives them. "
       "'-buffered 8' is the least that gives every point the verdict of the whole survey.\n"},
      {"in/metre.las", "in/metre_2.las", {"-buffered", "8"}, ""},
      {"in/metre.las", "in/metre_2.las", {"-buffered", "5", "-step", "2.5"}, ""},
      {"in/metre.las",
       "in/metre_2.las",
       {"-buffered", "5", "-step_xy", "3", "-step_z", "1"},
       "'-buffered 6' is the least"},
      {"in/feet.las",
       "in/feet_2.las",
       {"-buffered", "10"},
       "WARNING: '-buffered 10' is less than two cells (step_xy 12 sft) of 'in/feet.las'"},
      {"in/feet.las", "in/feet_2.las", {"-buffered", "24"}, ""},
      {"in/feet.las", "in/feet_2.las", {"-buffered", "7", "-meter"}, "'-buffered 8' is"},
      {"in/feet.las", "in/feet_2.las", {"-buffered", "10", "-meter"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", c.tile, "-neighbors", c.next, "-nil"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string warning = c.warning;
    EXPECT_EQ(result.count("WARNING: '-buffered"), warning.empty() ? 0u : 1u) << result.err;
    if (!warning.empty()) {
      EXPECT_TRUE(result.printed(warning)) << result.err;
    }
  }
}

}  // namespace
