#pragma once

// What the file benchmarks share: wall-clock timing, timing a shell command, and generated
// scene files that are made once and reused while they hold the wanted number of points.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "las/las_reader_las.hpp"
#include "scene/scene_las.hpp"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds the command took; -1 after an "ERROR: " line when it failed.
inline double time_command(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "ERROR: '%s' failed\n", command.c_str());
    return -1.0;
  }
  return seconds_since(start);
}

// The scene at `path`, generated unless a readable file of `points` points is there.
inline bool ensure_scene(const std::filesystem::path& path, const SceneFileOptions& options) {
  if (std::filesystem::exists(path)) {
    LASreaderLAS probe;
    if (probe.open_file(path.string().c_str(), LASreaderLAS::kDefaultBufferSize, true) &&
        probe.points_total == static_cast<std::int64_t>(options.scene.points)) {
      return true;
    }
  }
  std::fprintf(stderr, "generating %s ...\n", path.string().c_str());
  const auto start = Clock::now();
  if (!write_scene_las(path.string().c_str(), options)) return false;
  std::fprintf(stderr, "generated in %g s\n", seconds_since(start));
  return true;
}

struct ToolFigures {
  bool ok = false;
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the tool's process
  double peak_megabytes = 0;
};

// The argument vector of execv: the binary, the arguments, a null pointer (pointing into the
// strings, which must outlive it).
inline std::vector<char*> argument_vector(const std::string& binary,
                                          const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Runs the tool as a child process (standard input from `input_file` when given) and takes
// its peak resident size from wait4.
inline ToolFigures run_tool(const std::string& binary, const std::vector<std::string>& args,
                            const std::string& input_file = "") {
  ToolFigures figures;
  std::vector<char*> argv = argument_vector(binary, args);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (!input_file.empty()) {
      const int in = open(input_file.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0) _exit(126);
    }
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (child < 0) return figures;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return figures;
  figures.seconds = seconds_since(start);
  figures.peak_megabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  figures.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!figures.ok) std::fprintf(stderr, "ERROR: the tool failed\n");
  return figures;
}

}  // namespace bench
