// End to end: a run ended by SIGTERM, at any moment, leaves only finished outputs (each the
// one an undisturbed run writes), no temporary file and no outside program behind, and ends
// by the signal.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "process_watch.hpp"
#include "tool_folders.hpp"
#include "tool_process.hpp"

namespace {

using namespace isocull_test;

class IsocullSignals : public ToolFolders {
 protected:
  ToolLaunch launch() const {
    ToolLaunch l;
    l.dir = dir_.path();
    l.tmpdir = path("tmp");
    l.stderr_path = path(".stderr");
    return l;
  }
};

TEST_F(IsocullSignals, ATermSignalAtAnyMomentLeavesOnlyFinishedOutputsAndNoTemporaries) {
  constexpr int kFiles = 12;
  for (int i = 0; i < kFiles; i++) {
    ASSERT_TRUE(write_scene(path("in/g" + std::to_string(i) + ".las"), 20000, 1, 100 + i));
  }
  ASSERT_EQ(mkdir(path("reference").c_str(), 0755), 0);
  const std::vector<std::string> args = {"-i", "in/*.las", "-cores", "2", "-quiet", "-odir"};
  std::vector<std::string> reference_args = args;
  reference_args.push_back("reference");
  ASSERT_EQ(run(reference_args).exit_code, 0);
  const std::map<std::string, std::string> reference = folder_contents(path("reference"));
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFiles));
  const std::map<std::string, std::string> inputs = folder_contents(path("in"));

  std::vector<std::string> out_args = args;
  out_args.push_back("out");
  int ended_by_signal = 0;
  for (const int moment : {0, 5, 20, 50, 100, 200, 400}) {
    SCOPED_TRACE("SIGTERM after " + std::to_string(moment) + " ms");
    for (const std::string& name : listing("out"))
      remove_tree(path("out/" + name));
    const pid_t pid = launch_tool(out_args, launch());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(moment));
    kill(pid, SIGTERM);
    const ToolEnd end = wait_for_tool(pid, launch());
    if (end.signal != 0) {
      EXPECT_EQ(end.signal, SIGTERM) << "the exit is by the signal";
      ended_by_signal++;
    } else {
      EXPECT_EQ(end.exit_code, 0) << "finished before the signal: " << end.err;
    }
    for (const auto& [name, bytes] : folder_contents(path("out"))) {
      const auto expected = reference.find(name);
      ASSERT_NE(expected, reference.end()) << name;
      EXPECT_TRUE(bytes == expected->second)
          << name << " is no finished output (" << bytes.size() << " bytes)";
    }
    EXPECT_TRUE(listing("tmp").empty()) << "no temporary file or folder is left";
    EXPECT_EQ(folder_contents(path("in")), inputs);
  }
  EXPECT_GT(ended_by_signal, 0);
}

TEST_F(IsocullSignals, ATermSignalEndsTheDecompressorWithEverythingItStarted) {
  ASSERT_EQ(mkdir(path("bin").c_str(), 0755), 0);
  const std::string pids = path("pids");
  // A decompressor that starts a child of its own, delivers a line and then waits.
  {
    std::ofstream script(path("bin/gzip"));
    script << "#!/bin/sh\necho $$ > '" << pids << "'\nsleep 60 &\necho $! >> '" << pids
           << "'\nprintf '1 2 3\\n'\nwait\n";
  }
  ASSERT_EQ(chmod(path("bin/gzip").c_str(), 0755), 0);
  { std::ofstream(path("in/a.txt.gz")) << "not read by the fake gzip"; }
  ToolLaunch l = launch();
  l.path_prefix = path("bin");
  const pid_t pid = launch_tool({"-i", "in/a.txt.gz", "-iparse", "xyz", "-o", "out/a.las"}, l);
  ASSERT_GT(pid, 0);
  std::vector<pid_t> started;
  for (int tries = 0; tries < 3000 && started.size() < 2; tries++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(pids);
    started.clear();
    for (long number = 0; in >> number;)
      started.push_back(static_cast<pid_t>(number));
  }
  ASSERT_EQ(started.size(), 2u) << read_text(path(".stderr"));
  kill(pid, SIGTERM);
  const ToolEnd end = wait_for_tool(pid, l);
  EXPECT_EQ(end.signal, SIGTERM) << end.err;
  for (pid_t program : started) {
    EXPECT_TRUE(process_watch::ends_within(program, 5)) << "process " << program << " was left";
  }
  EXPECT_TRUE(listing("tmp").empty());
  EXPECT_TRUE(listing("out").empty());
}

}  // namespace
