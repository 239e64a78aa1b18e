// The noise tool end to end with a point transform, against the same run without one, on
// the generated 20-million-point tile of point type 1: a shift of every point by half a
// unit (coordinates changed, the header's box from the written points) and an intensity and
// user-data change (no coordinate touched). The plain run reads and copies stored records
// straight; a transform needs every point filled, changed and written field by field.
//
// usage: bench_transform [data folder, default bench-data/] [points, default 20000000]
// The tile is shared with bench_isocull (generated once, reused). The tool is the `isocull`
// beside this program.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_files.hpp"

namespace {

// Wall-clock seconds of the tool run as a child process; negative when it failed.
double run_tool(const std::string& binary, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const auto start = bench::Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (child < 0) return -1.0;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1.0;
  const double seconds = bench::seconds_since(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "ERROR: the tool failed\n");
    return -1.0;
  }
  return seconds;
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
  std::printf("isocull end to end with a point transform, %llu points of type 1\n",
              static_cast<unsigned long long>(points));
  std::printf("%-38s %10s %12s %10s\n", "transform", "seconds", "Mpoints/s", "x none");
  double plain = 0;
  bool ok = true;
  for (const Run& run : runs) {
    std::vector<std::string> args = {"-i", input, "-o", output, "-quiet"};
    args.insert(args.end(), run.transform.begin(), run.transform.end());
    run_tool(binary, args);  // warms the cache for the first run alike
    const double seconds = run_tool(binary, args);
    std::filesystem::remove(output);
    if (seconds <= 0) {
      ok = false;
      continue;
    }
    if (run.transform.empty()) plain = seconds;
    std::printf("%-38s %10.2f %12.2f %10.2f\n", run.name, seconds, points / seconds / 1e6,
                plain > 0 ? seconds / plain : 0.0);
  }
  return ok ? 0 : 1;
}
