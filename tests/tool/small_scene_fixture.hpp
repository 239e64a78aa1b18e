#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace isocull_test {

// A folder with in.las: seven points in one cell (kept at the default threshold) and one far
// away (noise), for tests of options through the built tool.
class SmallSceneRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    std::vector<SimplePoint> points;
    for (int i = 0; i < 7; i++)
      points.push_back({0.5 * i, 0.25, 0.5});
    points.push_back({50, 50, 50});
    ASSERT_TRUE(write_points(path("in.las"), points));
  }
  ToolRun run(const std::vector<std::string>& args) { return run_tool(args, dir_.path()); }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }
  TempDir dir_;
};

}  // namespace isocull_test
