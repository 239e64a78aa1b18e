// The tool run inside a host program, as the Python module runs it.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "isocull_run.hpp"
#include "temp_dir.hpp"
#include "tool/message_capture.hpp"
#include "tool/noise_tool.hpp"

namespace {

using isocull_test::read_text;

EmbeddedRun run_embedded(std::vector<std::string> args) {
  args.insert(args.begin(), "isocull");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run_isocull_embedded(static_cast<int>(args.size()), argv.data());
}

std::string without_seconds(const std::string& report) {
  return std::regex_replace(report, std::regex("\"seconds\": [0-9.e+-]+"), "\"seconds\": S");
}

TEST(EmbeddedRun, GivesTheOutputOfTheCommandLineAndTheReportItWrites) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/scene.las";
  ASSERT_TRUE(isocull_test::write_scene(scene, 30000, 1));
  const isocull_test::ToolRun command_line = isocull_test::run_tool(
      {"-i", scene, "-o", dir.path() + "/cli.las", "-remove_noise"}, dir.path());
  ASSERT_EQ(command_line.exit_code, 0) << command_line.err;

  std::string first_report;
  for (int run = 0; run < 2; run++) {
    const std::string output = dir.path() + "/embedded.las";
    const EmbeddedRun embedded = run_embedded({"-i", scene, "-o", output, "-remove_noise",
                                               "-report", dir.path() + "/report.json", "-quiet"});
    EXPECT_EQ(embedded.exit_code, 0);
    EXPECT_EQ(embedded.error_line, "");
    EXPECT_EQ(embedded.report_json, read_text(dir.path() + "/report.json"));
    EXPECT_NE(embedded.report_json.find("\"status\": \"done\""), std::string::npos);
    EXPECT_EQ(read_text(output), read_text(dir.path() + "/cli.las"));
    // A second run in the same process is the first one again.
    if (run == 0) first_report = without_seconds(embedded.report_json);
    EXPECT_EQ(without_seconds(embedded.report_json), first_report);
    unlink(output.c_str());
  }
}

TEST(EmbeddedRun, AFailedStartGivesTheToolsLastErrorLineAndNoReport) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/scene.las";
  ASSERT_TRUE(isocull_test::write_scene(scene, 1000, 1));
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"-i", scene, "-step_xy", "0"}, 1, "ERROR: '-step_xy' needs positive number as argument"},
      {{"-i", scene, "-isolated"}, 1, "ERROR: '-isolated' needs 1 argument: threshold"},
      {{"-i", scene, "-bogus"}, 1, "ERROR: cannot understand argument '-bogus'"},
      {{"-o", dir.path() + "/out.las"}, 1, "ERROR: no input specified"},
      {{"-version"}, 0, ""},
  };
  for (const auto& [args, exit_code, line] : cases) {
    const EmbeddedRun embedded = run_embedded(args);
    EXPECT_EQ(embedded.exit_code, exit_code) << line;
    EXPECT_EQ(embedded.error_line, line);
    EXPECT_EQ(embedded.report_json, "") << line;
  }
  // A run after failed ones is whole.
  const EmbeddedRun embedded = run_embedded({"-i", scene, "-o", dir.path() + "/out.las"});
  EXPECT_EQ(embedded.exit_code, 0);
  EXPECT_EQ(embedded.error_line, "");
  EXPECT_NE(embedded.report_json.find("\"done\": 1"), std::string::npos);
}

std::atomic<int> g_caught{0};
void note_signal(int) {
  g_caught++;
}

TEST(EmbeddedRun, InstallsNoHandlersAndHoldsBackTheHostsCaughtSignalsUntilTheEnd) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string scene = dir.path() + "/scene.las";
  ASSERT_TRUE(isocull_test::write_scene(scene, 100000, 1));
  const std::string data = read_text(scene);

  struct sigaction host {
  }, saved_usr1{}, saved_int{};
  host.sa_handler = note_signal;
  sigemptyset(&host.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &host, &saved_usr1), 0);
  ASSERT_EQ(sigaction(SIGINT, nullptr, &saved_int), 0);
  g_caught = 0;

  // The points come through a pipe on standard input: the run waits for the second half,
  // which is sent after the signal, so the signal surely comes while the run lasts.
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const int saved_stdin = dup(STDIN_FILENO);
  dup2(pipe_ends[0], STDIN_FILENO);
  close(pipe_ends[0]);
  const pthread_t runner = pthread_self();
  int caught_during_run = -1;
  std::thread feeder([&] {
    const auto write_all = [&](std::size_t from, std::size_t to) {
      while (from < to) {
        const ssize_t written = write(pipe_ends[1], data.data() + from, to - from);
        if (written <= 0) return;
        from += static_cast<std::size_t>(written);
      }
    };
    write_all(0, data.size() / 2);
    pthread_kill(runner, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    caught_during_run = g_caught;
    write_all(data.size() / 2, data.size());
    close(pipe_ends[1]);
  });
  const EmbeddedRun embedded = run_embedded({"-stdin", "-o", dir.path() + "/out.las", "-quiet"});
  feeder.join();
  dup2(saved_stdin, STDIN_FILENO);
  close(saved_stdin);

  EXPECT_EQ(embedded.exit_code, 0) << embedded.error_line;
  EXPECT_EQ(caught_during_run, 0);
  EXPECT_EQ(g_caught, 1);  // delivered when the run ended
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, saved_int.sa_handler);
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_EQ(sigismember(&mask, SIGUSR1), 0);
  sigaction(SIGUSR1, &saved_usr1, nullptr);
}

TEST(StderrErrorLine, PassesEverythingOnAndKeepsTheLastErrorLine) {
  std::FILE* original = stderr;
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  std::string last, unended;
  stderr = sink;
  {
    StderrErrorLine error_line;
    std::fputs("ERR", stderr);
    std::fputs("OR: the first\nWARNING: not this\n", stderr);
    std::fprintf(stderr, "FATAL ERROR: cannot alloc %d\n  continued\n", 3);
    std::fputs("\rpass 1 of 2: 50%", stderr);  // a progress line, rewritten in place
    last = error_line.last();
    // An error printed over the progress line counts, also before its line end.
    std::fputs("\rERROR: over the progress", stderr);
    unended = error_line.last();
  }
  stderr = original;
  std::rewind(sink);
  char text[256] = {};
  const std::size_t size = std::fread(text, 1, sizeof(text) - 1, sink);
  std::fclose(sink);
  EXPECT_EQ(std::string(text, size),
            "ERROR: the first\nWARNING: not this\nFATAL ERROR: cannot alloc 3\n  continued\n"
            "\rpass 1 of 2: 50%\rERROR: over the progress");
  EXPECT_EQ(last, "FATAL ERROR: cannot alloc 3");
  EXPECT_EQ(unended, "ERROR: over the progress");
}

}  // namespace
