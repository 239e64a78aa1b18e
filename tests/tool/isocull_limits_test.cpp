// End to end: temporary files that a planted link cannot redirect, runs that add layers to
// one LAY file at the same time, and writes beyond the file-size limit (ulimit -f). After
// every refused or failed run the files it read are byte-identical and no temporary file is
// left.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "layers/lay_file.hpp"
#include "tool_folders.hpp"
#include "tool_process.hpp"

namespace {

using namespace isocull_test;

class IsocullLimits : public ToolFolders {
 protected:
  ToolLaunch launch(const std::string& stderr_name = ".stderr") const {
    ToolLaunch l;
    l.dir = dir_.path();
    l.tmpdir = path("tmp");
    l.stderr_path = path(stderr_name);
    return l;
  }
  // Layers in the LAY file, 0 when it is missing or broken.
  std::uint32_t layer_count(const std::string& name) const {
    const std::string bytes = read_text(path(name));
    LAYidentity identity;
    std::uint32_t count = 0;
    std::size_t at = 0;
    std::string failure;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return decode_lay_header(data, bytes.size(), identity, count, at, failure) ? count : 0;
  }
  // Waits until the file `name` holds `text`; false after 30 seconds.
  bool wait_for_text(const std::string& name, const std::string& text) const {
    for (int tries = 0; tries < 3000; tries++) {
      if (read_text(path(name)).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(IsocullLimits, ALinkPlantedAtTheLayerFilesTemporaryNameIsNeverWrittenThrough) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 20000, 1, 91));
  ASSERT_EQ(run({"-i", "in/a.las", "-olay", "-quiet"}).exit_code, 0);
  { std::ofstream(path("victim")) << "victim"; }
  // The run's process identifier is known to whoever starts it: the link is planted by the
  // process that then becomes the tool.
  const std::string stderr_path = path(".stderr");
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    const std::string pid = std::to_string(getpid());
    for (const std::string& name :
         std::vector<std::string>{"in/a.lay.tmp" + pid, "in/a.lay.tmp", "in/a.lay.tmp0"}) {
      if (symlink("../victim", name.c_str()) != 0) _exit(125);
    }
    setenv("TMPDIR", path("tmp").c_str(), 1);
    const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    execl(kBinary.c_str(), kBinary.c_str(), "-i", "in/a.las", "-ilay", "-olay", "-quiet", nullptr);
    _exit(127);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(stderr_path);
  EXPECT_EQ(read_text(path("victim")), "victim");
  EXPECT_EQ(layer_count("in/a.lay"), 2u);
  struct stat info {};
  ASSERT_EQ(lstat(path("in/a.lay").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode)) << "the LAY file is a file of its own";
  EXPECT_EQ(listing("in").size(), 5u) << "a.las, a.lay and the three links, nothing else";
  EXPECT_TRUE(listing("tmp").empty());
}

TEST_F(IsocullLimits, TwoRunsAddingLayersToOneFileTakeTurnsOrTheSecondFails) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 200000, 1, 92));
  const std::string input = read_text(path("in/a.las"));
  ASSERT_EQ(run({"-i", "in/a.las", "-olay", "-quiet"}).exit_code, 0);
  const std::vector<std::string> args = {"-i", "in/a.las", "-ilay", "-olay", "-quiet"};
  const pid_t first = launch_tool(args, launch(".first"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const pid_t second = launch_tool(args, launch(".second"));
  const ToolEnd a = wait_for_tool(first, launch(".first"));
  const ToolEnd b = wait_for_tool(second, launch(".second"));
  const std::uint32_t layers = layer_count("in/a.lay");
  if (a.exit_code == 0 && b.exit_code == 0) {
    EXPECT_EQ(layers, 3u) << "no layer is lost";
  } else {
    EXPECT_EQ(a.exit_code + b.exit_code, 1) << a.err << b.err;
    EXPECT_EQ(a.count("ERROR: ") + b.count("ERROR: "), 1u) << a.err << b.err;
    EXPECT_EQ(layers, 2u);
  }
  EXPECT_EQ(read_text(path("in/a.las")), input);
  EXPECT_EQ(listing("in").size(), 2u) << "no temporary LAY file is left";
}

TEST_F(IsocullLimits, AWaitingRunAddsItsLayerToTheFileThatTheRunBeforePutInPlace) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 20000, 1, 93));
  ASSERT_EQ(run({"-i", "in/a.las", "-olay", "-quiet"}).exit_code, 0);
  // The file that another run would put in place: the same point file with two layers.
  ASSERT_EQ(mkdir(path("other").c_str(), 0755), 0);
  ASSERT_EQ(link(path("in/a.las").c_str(), path("other/a.las").c_str()), 0);
  ASSERT_EQ(link(path("in/a.lay").c_str(), path("other/a.lay").c_str()), 0);
  ASSERT_EQ(run({"-i", "other/a.las", "-ilay", "-olay", "-quiet"}).exit_code, 0);
  ASSERT_EQ(layer_count("other/a.lay"), 2u);
  ASSERT_EQ(layer_count("in/a.lay"), 1u);

  // That other run holds the lock while the second run starts.
  // Closed on exec, or the tool started below would hold the lock too.
  const int held = open(path("in/a.lay").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const pid_t waiting = launch_tool({"-i", "in/a.las", "-ilay", "-olay"}, launch());
  ASSERT_TRUE(wait_for_text(".stderr",
                            "waiting for LAY file 'in/a.lay', which another run is "
                            "changing ...\n"))
      << read_text(path(".stderr"));
  EXPECT_EQ(waitpid(waiting, nullptr, WNOHANG), 0) << "the run waits for the lock";
  ASSERT_EQ(std::rename(path("other/a.lay").c_str(), path("in/a.lay").c_str()), 0);
  close(held);
  const ToolEnd end = wait_for_tool(waiting, launch());
  EXPECT_EQ(end.exit_code, 0) << end.err;
  EXPECT_EQ(layer_count("in/a.lay"), 3u) << "the layer goes on top of the two put in place";
}

TEST_F(IsocullLimits, AWriteBeyondTheFileSizeLimitEndsThatFileLikeAFullDisk) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 50000, 1, 94));
  ASSERT_EQ(run({"-i", "in/a.las", "-o", "in/c.pkz"}).exit_code, 0);
  ASSERT_EQ(run({"-i", "in/c.pkz", "-o", "out/c_reference.pkz"}).exit_code, 0);
  ASSERT_TRUE(write_scene(path("in/b.las"), 50000, 1, 95));
  ASSERT_EQ(run({"-i", "in/b.las", "-olay", "-quiet"}).exit_code, 0);
  const std::uint64_t las_bytes = read_text(path("in/a.las")).size();
  const std::uint64_t pkz_bytes = read_text(path("out/c_reference.pkz")).size();
  const std::uint64_t lay_bytes = read_text(path("in/b.lay")).size();
  const std::uint64_t raw_points = 50000ull * 28;
  ASSERT_LT(pkz_bytes, raw_points / 2);

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string stdin_name;
    std::uint64_t limit;
    int exit_code;
    const char* error;   // the first "ERROR: " line (its start), for a failure
    std::size_t errors;  // "ERROR: " lines in all
    const char* absent;  // what must not be left
  };
  const Case cases[] = {
      {"LAS output",
       {"-i", "in/a.las", "-o", "out/a.las"},
       "",
       las_bytes / 2,
       1,
       "ERROR: cannot write",
       1,
       "out/a.las"},
      {"text output",
       {"-i", "in/a.las", "-o", "out/a.txt", "-oparse", "xyzc"},
       "",
       100000,
       1,
       "ERROR: writing text output failed: File too large",
       1,
       "out/a.txt"},
      // The tool says after it that the input did not open.
      {"copy of the piped input",
       {"-stdin", "-piped_memory", "0", "-nil"},
       "in/a.las",
       las_bytes / 2,
       1,
       "ERROR: cannot write the temporary copy of the piped input: File too large",
       2,
       ""},
      {"new LAY file",
       {"-i", "in/a.las", "-olay", "-quiet"},
       "",
       lay_bytes / 2,
       1,
       "ERROR: cannot write LAY file 'in/a.lay': File too large",
       1,
       "in/a.lay"},
      {"layer added",
       {"-i", "in/b.las", "-ilay", "-olay", "-quiet"},
       "",
       lay_bytes + 100,
       1,
       "ERROR: cannot write LAY file 'in/b.lay': File too large",
       1,
       ""},
      // The decoded points (raw records) would not fit: the second pass decodes again.
      {"decoded points",
       {"-i", "in/c.pkz", "-o", "out/c.pkz"},
       "",
       (pkz_bytes + raw_points) / 2,
       0,
       nullptr,
       0,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::map<std::string, std::string> inputs = folder_contents(path("in"));
    ToolLaunch l = launch();
    if (!c.stdin_name.empty()) l.stdin_path = path(c.stdin_name);
    l.file_size_limit = c.limit;
    const ToolEnd end = run_tool_as(c.args, l);
    EXPECT_EQ(end.signal, 0) << "not ended by a signal";
    EXPECT_EQ(end.exit_code, c.exit_code) << end.err;
    EXPECT_EQ(end.count("ERROR: "), c.errors) << end.err;
    if (c.error != nullptr) {
      EXPECT_EQ(end.err.find("ERROR: "), end.err.find(c.error)) << end.err;
    } else {
      EXPECT_EQ(read_text(path("out/c.pkz")), read_text(path("out/c_reference.pkz")));
    }
    if (c.absent[0] != '\0') {
      EXPECT_FALSE(exists(path(c.absent)));
    }
    EXPECT_EQ(folder_contents(path("in")), inputs) << "every file read stays as it was";
    EXPECT_TRUE(listing("tmp").empty()) << "no temporary file is left";
  }
}

// The report is put in place whole: one that cannot be written leaves the report of an
// earlier run as it was, and no part of the new one.
TEST_F(IsocullLimits, AReportBeyondTheFileSizeLimitLeavesTheEarlierReportWhole) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 2000, 1, 96));
  {
    std::FILE* earlier = std::fopen(path("out/run.json").c_str(), "wb");
    ASSERT_NE(earlier, nullptr);
    std::fputs("{\"earlier\": true}\n", earlier);
    std::fclose(earlier);
  }
  ToolLaunch l = launch();
  // Less than a report, more than the few lines of a quiet run (standard error is a file
  // under the same limit).
  l.file_size_limit = 300;
  const ToolEnd end =
      run_tool_as({"-i", "in/a.las", "-nil", "-quiet", "-report", "out/run.json"}, l);
  EXPECT_EQ(end.signal, 0) << "not ended by a signal";
  EXPECT_EQ(end.exit_code, 1) << end.err;
  EXPECT_NE(end.err.find("ERROR: cannot write report 'out/run.json': File too large"),
            std::string::npos)
      << end.err;
  EXPECT_EQ(read_text(path("out/run.json")), "{\"earlier\": true}\n");
  EXPECT_EQ(listing("out"), std::vector<std::string>{"run.json"}) << "no part of the new one";
  EXPECT_TRUE(listing("tmp").empty());
  // Without the limit the new report takes its place.
  ASSERT_EQ(run({"-i", "in/a.las", "-nil", "-report", "out/run.json"}).exit_code, 0);
  EXPECT_NE(read_text(path("out/run.json")).find("\"totals\""), std::string::npos);
  EXPECT_EQ(listing("out"), std::vector<std::string>{"run.json"});
}

}  // namespace
