#pragma once

// What the file benchmarks share: wall-clock timing, timing a shell command, and generated
// scene files that are made once and reused while they hold the wanted number of points.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace bench
