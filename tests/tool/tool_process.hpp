#pragma once

// The built tool as a process of its own, for tests that limit it (ulimit -f), signal it
// while it runs, or run two at once.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace isocull_test {

struct ToolLaunch {
  std::string dir;                         // the working folder
  std::string tmpdir;                      // TMPDIR, when not empty
  std::string stdin_path;                  // standard input (else /dev/null)
  std::string stderr_path;                 // where standard error goes
  std::string path_prefix;                 // put before PATH, when not empty
  rlim_t file_size_limit = RLIM_INFINITY;  // bytes (setrlimit RLIMIT_FSIZE)
};

// Starts the tool with `args`; its pid (or -1).
inline pid_t launch_tool(const std::vector<std::string>& args, const ToolLaunch& launch) {
  std::vector<std::string> words{kBinary};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child != 0) return child;
  if (chdir(launch.dir.c_str()) != 0) _exit(126);
  if (!launch.tmpdir.empty()) setenv("TMPDIR", launch.tmpdir.c_str(), 1);
  if (!launch.path_prefix.empty()) {
    const char* path = std::getenv("PATH");
    setenv("PATH", (launch.path_prefix + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  }
  const int in =
      open(launch.stdin_path.empty() ? "/dev/null" : launch.stdin_path.c_str(), O_RDONLY);
  const int out = open("/dev/null", O_WRONLY);
  const int err = open(launch.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  // The test program's own handlers and mask must not reach the tool.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  std::signal(SIGXFSZ, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
  const rlimit limit{launch.file_size_limit, launch.file_size_limit};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  execv(kBinary.c_str(), argv.data());
  _exit(127);
}

struct ToolEnd {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;      // the signal that ended it
  std::string err;
  bool printed(const std::string& text) const { return err.find(text) != std::string::npos; }
  std::size_t count(const std::string& text) const {
    std::size_t n = 0;
    for (std::size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
      n++;
    return n;
  }
};

// Waits for the tool started by launch_tool and reads what it printed. A tool that hangs is
// killed after `seconds` (the test then fails on its exit code or signal).
inline ToolEnd wait_for_tool(pid_t pid, const ToolLaunch& launch, int seconds = 300) {
  ToolEnd end;
  int status = 0;
  pid_t done = 0;
  for (int tries = 0; tries < seconds * 100 && done == 0; tries++) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) usleep(10000);
  }
  if (done == 0) {
    ADD_FAILURE() << "the tool hangs: killed after " << seconds << " seconds";
    kill(pid, SIGKILL);
    done = waitpid(pid, &status, 0);
  }
  if (done != pid) return end;
  if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  end.err = read_text(launch.stderr_path);
  return end;
}

inline ToolEnd run_tool_as(const std::vector<std::string>& args, const ToolLaunch& launch) {
  return wait_for_tool(launch_tool(args, launch), launch);
}

// The bytes of every file below `folder` (names relative to it), to compare before and after.
inline std::map<std::string, std::string> folder_contents(const std::string& folder) {
  std::map<std::string, std::string> contents;
  for (const std::string& name : folder_entries(folder)) {
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      for (const auto& [inner, bytes] : folder_contents(path))
        contents[name + "/" + inner] = bytes;
    } else if (S_ISLNK(info.st_mode)) {
      char target[4096] = {};
      const ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
      contents[name] = "link to " + std::string(target, length > 0 ? length : 0);
    } else {
      contents[name] = read_text(path);
    }
  }
  return contents;
}

}  // namespace isocull_test
