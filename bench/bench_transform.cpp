// The noise tool end to end with a point transform, against the same run without one, on
// the generated 20-million-point tile of point type 1: a shift of every point by half a
// unit (coordinates changed, the header's box from the written points) and an intensity and
// user-data change (no coordinate touched). The plain run reads and copies stored records
// straight; both transforms have a record form and change the records in place.
// Each row is the median of several runs, the three commands taking turns, so that a
// machine whose load changes during the benchmark slows all of them alike.
//
// usage: bench_transform [data folder, default bench-data/] [points, default 20000000]
//                        [runs of each command, default 5]
// The tile is shared with bench_isocull (generated once, reused). The tool is the `isocull`
// beside this program.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_files.hpp"

namespace {

struct Timing {
  double seconds = -1.0;     // wall clock; negative when the run failed
  double cpu_seconds = 0.0;  // user and system time of the child
};

// The tool run as a child process.
Timing run_tool(const std::string& binary, const std::vector<std::string>& args) {
  std::vector<char*> argv = bench::argument_vector(binary, args);
  const auto start = bench::Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  Timing timing;
  if (child < 0) return timing;
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return timing;
  const double seconds = bench::seconds_since(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "ERROR: the tool failed\n");
    return timing;
  }
  timing.seconds = seconds;
  timing.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec * 1e-6;
  return timing;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
  const std::string binary =
      (std::filesystem::absolute(argv[0]).parent_path() / "isocull").string();
  std::filesystem::create_directories(folder);
  const std::string input = (folder / ("scene_" + std::to_string(points) + "_type1.las")).string();
  SceneFileOptions options;
  options.scene.points = points;
  options.point_type = 1;
  if (!bench::ensure_scene(input, options)) return 1;
  const std::string output = (folder / "bench_transform_out.las").string();

  struct Run {
    const char* name;
    std::vector<std::string> transform;
  };
  const Run runs[] = {
      {"none", {}},
      {"-translate_xyz 0.5 0.5 0", {"-translate_xyz", "0.5", "0.5", "0"}},
      {"-scale_intensity 2 -set_user_data 7", {"-scale_intensity", "2", "-set_user_data", "7"}},
  };
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::printf("isocull end to end with a point transform, %llu points of type 1, median of %d\n",
              static_cast<unsigned long long>(points), repeats);
  std::printf("%-38s %10s %12s %10s %10s\n", "transform", "seconds", "Mpoints/s", "x none",
              "cpu s");
  const std::size_t kinds = sizeof(runs) / sizeof(runs[0]);
  std::vector<std::vector<double>> wall(kinds), cpu(kinds);
  bool ok = true;
  for (int round = -1; round < repeats && ok; round++) {
    for (std::size_t k = 0; k < kinds; k++) {
      std::vector<std::string> args = {"-i", input, "-o", output, "-quiet"};
      args.insert(args.end(), runs[k].transform.begin(), runs[k].transform.end());
      const Timing timing = run_tool(binary, args);
      std::filesystem::remove(output);
      if (timing.seconds <= 0) {
        ok = false;
        break;
      }
      if (round < 0) continue;  // warms the cache for the first command alike
      wall[k].push_back(timing.seconds);
      cpu[k].push_back(timing.cpu_seconds);
    }
  }
  if (!ok) return 1;
  const double plain = median(wall[0]);
  for (std::size_t k = 0; k < kinds; k++) {
    const double seconds = median(wall[k]);
    std::printf("%-38s %10.2f %12.2f %10.2f %10.2f\n", runs[k].name, seconds,
                points / seconds / 1e6, seconds / plain, median(cpu[k]));
  }
  return ok ? 0 : 1;
}
