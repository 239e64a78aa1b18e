#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace isocull_test {

// A private working folder for runs of the tool: an input folder "in", an output folder
// "out" and a folder "tmp" that the runs use as TMPDIR. Everything made below it is removed
// after the test.
class ToolFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* sub : {"in", "out", "tmp"})
      ASSERT_EQ(mkdir(path(sub).c_str(), 0755), 0);
  }
  void TearDown() override {
    for (const std::string& name : folder_entries(dir_.path()))
      remove_tree(path(name));
  }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }
  ToolRun run(const std::vector<std::string>& args) {
    return run_tool(args, dir_.path(), path("tmp"));
  }
  // Names left in a folder below the working folder.
  std::vector<std::string> listing(const std::string& folder) const {
    return folder_entries(path(folder));
  }
  TempDir dir_;
};

}  // namespace isocull_test
