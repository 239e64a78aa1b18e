// End to end with -cores: several files at once write the bytes and print the lines of a
// run that takes one file after the other, failures and the report cover every file, the
// outputs that would meet are still refused, and a signal cleans up after every file in
// progress.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "json_value.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

class IsocullCores : public ToolFolders {
 protected:
  // Four small inputs: LAS of the plain and the extended layouts, PKZ of both.
  void write_inputs() {
    ASSERT_TRUE(write_scene(path("in/a.las"), 3000, 1, 31));
    ASSERT_TRUE(write_scene(path("in/b.las"), 2500, 6, 32));
    ASSERT_TRUE(write_scene(path("tmp/c.las"), 3500, 3, 33));
    ASSERT_TRUE(write_scene(path("tmp/d.las"), 2000, 7, 34));
    for (const char* name : {"c", "d"}) {
      const std::string las = std::string("tmp/") + name + ".las";
      const std::string pkz = std::string("in/") + name + ".pkz";
      ASSERT_EQ(run({"-i", las, "-o", pkz, "-quiet", "-cores", "1"}).exit_code, 0);
      std::remove(path(las).c_str());
    }
  }
  // What does not depend on timing or on the output folder's name.
  static std::string steady(const std::string& text, const std::string& folder) {
    std::string out = std::regex_replace(text, std::regex("[0-9.e+-]+ sec"), "# sec");
    return std::regex_replace(out, std::regex(folder), "OUT");
  }
};

TEST_F(IsocullCores, FilesAtOnceWriteTheBytesAndLinesOfOneFileAfterTheOther) {
  write_inputs();
  struct Case {
    const char* name;
    std::vector<std::string> options;
  };
  const std::vector<Case> cases = {
      {"classify", {"-vv"}},
      {"flag_pkz", {"-flag_as_withheld", "-opkz"}},
      {"remove", {"-remove_noise", "-v"}},
      {"remove_pkz", {"-remove_noise", "-opkz", "-v"}},
      // Per-file state of the factories: flightline numbers by list position, a filter
      // that counts points, a transform.
      {"flightlines", {"-files_are_flightlines", "-by_flightline", "-v"}},
      {"filter_transform", {"-keep_every_nth", "3", "-translate_z", "1.5", "-opkz"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, ToolRun> runs;
    for (const char* cores : {"1", "2"}) {
      const std::string folder = std::string("out/") + c.name + "_" + cores;
      ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
      std::vector<std::string> args = {"-i", "in/*.*", "-odir", folder, "-cores", cores};
      args.insert(args.end(), c.options.begin(), c.options.end());
      runs[cores] = run(args);
      EXPECT_EQ(runs[cores].exit_code, 0) << runs[cores].err;
    }
    const std::string one = std::string("out/") + c.name + "_1";
    const std::string two = std::string("out/") + c.name + "_2";
    const std::vector<std::string> outputs = listing(one);
    EXPECT_EQ(outputs.size(), 4u);
    EXPECT_EQ(listing(two), outputs);
    for (const std::string& output : outputs) {
      EXPECT_EQ(read_text(path(two + "/" + output)), read_text(path(one + "/" + output))) << output;
    }
    // The same lines in the same order: every file's lines together, in the list's order.
    EXPECT_EQ(steady(runs["2"].err, two), steady(runs["1"].err, one));
    EXPECT_EQ(runs["2"].count("done with '"), 4u) << runs["2"].err;
  }
  EXPECT_TRUE(listing("tmp").empty());
}

TEST_F(IsocullCores, RealFilesAtOnceGiveTheBytesAndLinesOfOneAfterTheOther) {
  struct stat info {};
  if (stat(kRealData.c_str(), &info) != 0) {
    GTEST_SKIP() << "no real point files in " << kRealData;
  }
  // One run per extension: a LAS file and its PKZ twin would derive the same output name.
  // The reader's own warnings (cut files, odd records) come from its reading thread.
  struct Case {
    const char* extension;
    const char* mode;
    std::vector<std::string> inputs;
  };
  const Case cases[] = {
      {"las", "-classify_as", {"simple*.las", "bad-vlr-garbage.las", "extrabytes.las"}},
      {"pkz",
       "-flag_as_withheld",
       {"simple*.pkz", "extrabytes.pkz", "1_4_w_evlr.pkz", "fullwave.pkz"}},
  };
  for (const auto& [extension, mode, inputs] : cases) {
    SCOPED_TRACE(std::string(extension) + " " + mode);
    std::map<std::string, ToolRun> runs;
    for (const char* cores : {"1", "2"}) {
      const std::string folder = std::string("out/") + extension + mode + cores;
      ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
      std::vector<std::string> args = {"-i"};
      for (const std::string& input : inputs)
        args.push_back(kRealData + "/" + input);
      args.insert(args.end(), {"-odir", folder, "-cores", cores, mode});
      if (std::string(mode) == "-classify_as") args.push_back("9");
      runs[cores] = run(args);
    }
    const std::string one = std::string("out/") + extension + mode + "1";
    const std::string two = std::string("out/") + extension + mode + "2";
    EXPECT_EQ(runs["2"].exit_code, runs["1"].exit_code);
    EXPECT_EQ(steady(runs["2"].err, two), steady(runs["1"].err, one));
    const std::vector<std::string> outputs = listing(one);
    EXPECT_GE(outputs.size(), 4u);
    EXPECT_EQ(listing(two), outputs);
    for (const std::string& output : outputs) {
      EXPECT_EQ(read_text(path(two + "/" + output)), read_text(path(one + "/" + output))) << output;
    }
  }
}

TEST_F(IsocullCores, AFailingFileAmongGoodOnesFailsTheRunAndEveryFileIsCounted) {
  write_inputs();
  {
    std::ofstream broken(path("in/broken.las"), std::ios::binary);
    broken << "not a point file at all";
  }
  std::map<std::string, JsonValue> reports;
  std::map<std::string, ToolRun> runs;
  for (const char* cores : {"1", "2"}) {
    const std::string folder = std::string("out/") + cores;
    ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    const std::string report = folder + "/run.json";
    runs[cores] = run({"-i", "in/a.las", "in/broken.las", "in/b.las", "in/gone.las", "in/c.pkz",
                       "-odir", folder, "-cores", cores, "-report", report});
    EXPECT_EQ(runs[cores].exit_code, 1) << runs[cores].err;
    EXPECT_TRUE(runs[cores].printed("summary: 3 files done, 2 failed, 0 cut. 9000 points read, "))
        << runs[cores].err;
    ASSERT_TRUE(JsonParser(read_text(path(report))).parse(reports[cores]));
  }
  EXPECT_EQ(steady(runs["2"].err, "out/2"), steady(runs["1"].err, "out/1"));
  const JsonValue& one = reports["1"]["files"];
  const JsonValue& two = reports["2"]["files"];
  ASSERT_EQ(two.items.size(), 5u);
  ASSERT_EQ(one.items.size(), 5u);
  const char* statuses[] = {"done", "failed", "done", "failed", "done"};
  for (std::size_t i = 0; i < 5; i++) {
    SCOPED_TRACE(two.items[i]["input"].text);
    EXPECT_EQ(two.items[i]["status"].text, statuses[i]);
    for (const char* field : {"input", "status", "message"})
      EXPECT_EQ(two.items[i][field].text, one.items[i][field].text) << field;
    for (const char* field : {"point_type", "points_read", "marked", "isolated_cells"})
      EXPECT_EQ(two.items[i][field].number, one.items[i][field].number) << field;
  }
  EXPECT_EQ(reports["1"]["settings"]["cores"].number, 1);
  EXPECT_EQ(reports["2"]["settings"]["cores"].number,
            std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
  for (const char* field : {"files", "done", "failed", "points_read", "marked"}) {
    EXPECT_EQ(reports["2"]["totals"][field].number, reports["1"]["totals"][field].number) << field;
  }
}

TEST_F(IsocullCores, CoresOutsideTheMachineAreClampedWithOneWarning) {
  write_inputs();
  const std::string machine = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
  struct Case {
    const char* cores;
    std::string warning;
  };
  for (const Case& c : {Case{"0", "WARNING: '-cores 0' not possible: this machine has " + machine +
                                      " cores. using 1.\n"},
                        Case{"100000", "WARNING: '-cores 100000' not possible: this machine has " +
                                           machine + " cores. using " + machine + ".\n"}}) {
    SCOPED_TRACE(c.cores);
    const ToolRun result = run({"-i", "in/*.*", "-odir", "out", "-cores", c.cores});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err.find(c.warning), 0u) << result.err;
    EXPECT_EQ(result.count("WARNING: "), 1u) << result.err;
    EXPECT_EQ(result.count("done with '"), 4u) << result.err;
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-i", "in/a.las", "-cores", "two"},
        std::vector<std::string>{"-i", "in/a.las", "-cores"}}) {
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result.err.rfind("ERROR: '-cores' needs 1 argument: number of cores", 0), 0u)
        << result.err;
  }
}

TEST_F(IsocullCores, OutputsThatWouldMeetAreStillRefusedAfterTheFirst) {
  write_inputs();
  ASSERT_EQ(mkdir(path("in/more").c_str(), 0755), 0);
  ASSERT_TRUE(write_scene(path("in/more/a.las"), 1000, 1, 35));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* refusal;
    std::vector<std::string> outputs;
  };
  const std::vector<Case> cases = {
      {"same derived name",
       {"-i", "in/a.las", "in/b.las", "in/more/a.las", "-odir", "out"},
       "ERROR: output 'out/a.las' was already written for 'in/a.las' in this run. skipping "
       "'in/more/a.las'.\n",
       {"out/a.las", "out/b.las"}},
      {"the same file by another name",
       {"-i", "in/a.las", "in/b.las", "./in/a.las"},
       "ERROR: output './in/a_1.las' was already written for 'in/a.las' in this run. skipping "
       "'./in/a.las'.\n",
       {"in/a_1.las", "in/b_1.las"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, ToolRun> runs;
    std::map<std::string, std::string> written;
    for (const char* cores : {"1", "2"}) {
      for (const std::string& output : c.outputs)
        std::remove(path(output).c_str());
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"-cores", cores});
      runs[cores] = run(args);
      EXPECT_EQ(runs[cores].exit_code, 1) << runs[cores].err;
      EXPECT_EQ(runs[cores].count(c.refusal), 1u) << runs[cores].err;
      for (const std::string& output : c.outputs)
        written[cores] += output + ":" + read_text(path(output));
    }
    EXPECT_EQ(steady(runs["2"].err, "out"), steady(runs["1"].err, "out"));
    EXPECT_EQ(written["2"], written["1"]);
  }
}

TEST_F(IsocullCores, ASignalCleansUpAfterEveryFileInProgress) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 50000, 1, 36));
  ASSERT_TRUE(write_scene(path("in/b.las"), 50000, 1, 37));
  // Both outputs are pipes that nobody reads: both files wait in the middle of writing.
  std::vector<int> pipe_ends;
  for (const char* name : {"out/a.las", "out/b.las"}) {
    ASSERT_EQ(mkfifo(path(name).c_str(), 0644), 0);
    pipe_ends.push_back(open(path(name).c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_GE(pipe_ends.back(), 0);
  }
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    setenv("TMPDIR", path("tmp").c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl(kBinary.c_str(), kBinary.c_str(), "-i", "in/a.las", "in/b.las", "-odir", "out", "-cores",
          "2", nullptr);
    _exit(127);
  }
  ASSERT_GT(child, 0);
  for (int waiting = 0; waiting < 3000; waiting++) {
    int first = 0, second = 0;
    ioctl(pipe_ends[0], FIONREAD, &first);
    ioctl(pipe_ends[1], FIONREAD, &second);
    if (first != 0 && second != 0) break;
    usleep(10000);
  }
  if (std::thread::hardware_concurrency() >= 2) {
    EXPECT_EQ(listing("tmp").size(), 2u) << "two files in progress, a directory each";
  }
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (int end : pipe_ends)
    close(end);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "ended by the signal";
  EXPECT_TRUE(listing("tmp").empty()) << "every temporary directory is gone";
}

}  // namespace
