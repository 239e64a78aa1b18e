// The point filter: the noise tool end to end on the generated LAS tile of point type 1
// without a filter, with a three-criterion filter ("-keep_class 1 2 -drop_withheld") and
// with grid thinning ("-thin_with_grid 1"): seconds, peak resident memory of the tool's
// process and the cost over the unfiltered run. Then selective decoding: the layered PKZ
// twin of a point type 6 tile read through the reader factory, every layer against only
// the z layer plus what "-keep_class 2" reads.
//
// usage: bench_filter [data folder, default bench-data/] [points, default 20000000]
// The tiles are generated once into the folder and reused by later runs. The tool is the
// `isocull` beside this program.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_files.hpp"
#include "select/las_reader_factory.hpp"

namespace {

using bench::Clock;
using bench::seconds_since;

struct ToolFigures {
  bool ok = false;
  double seconds = 0;
  double peak_megabytes = 0;
};

ToolFigures run_tool(const std::string& binary, const std::vector<std::string>& args) {
  ToolFigures figures;
  std::vector<char*> argv = bench::argument_vector(binary, args);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (child < 0) return figures;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return figures;
  figures.seconds = seconds_since(start);
  figures.peak_megabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!figures.ok) std::fprintf(stderr, "ERROR: the tool failed\n");
  return figures;
}

bool ensure_scene(const std::filesystem::path& path, std::uint64_t points, int point_type) {
  SceneFileOptions options;
  options.scene.points = points;
  options.point_type = point_type;
  return bench::ensure_scene(path, options);
}

// Reads every point of `file` through the factory with `filter` and the asked layers;
// seconds, or -1 when it failed.
double read_through_factory(const std::string& file, std::vector<std::string> filter,
                            std::uint32_t layers, std::uint64_t& delivered) {
  std::vector<std::string> words = {"bench", "-i", file};
  words.insert(words.end(), filter.begin(), filter.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  LASreaderFactory factory;
  if (!factory.parse(static_cast<int>(argv.size()), argv.data())) return -1;
  factory.set_selective_decoding(layers);
  const auto start = Clock::now();
  std::unique_ptr<LASreader> reader = factory.open();
  if (!reader) return -1;
  delivered = 0;
  while (reader->read_next())
    delivered++;
  return seconds_since(start);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
  const std::string binary =
      (std::filesystem::absolute(argv[0]).parent_path() / "isocull").string();
  std::filesystem::create_directories(folder);
  const std::string tile = (folder / ("scene_" + std::to_string(points) + "_type1.las")).string();
  if (!ensure_scene(tile, points, 1)) return 1;
  const std::string output = (folder / "bench_filter_out.las").string();

  std::printf("isocull end to end with a filter, %llu points of type 1\n",
              static_cast<unsigned long long>(points));
  std::printf("%-36s %10s %10s %10s\n", "filter", "seconds", "peak MB", "over none");
  const std::vector<std::vector<std::string>> filters = {
      {}, {"-keep_class", "1", "2", "-drop_withheld"}, {"-thin_with_grid", "1"}};
  double unfiltered = 0;
  bool ok = true;
  for (const std::vector<std::string>& filter : filters) {
    std::vector<std::string> args = {"-i", tile, "-o", output, "-quiet"};
    args.insert(args.end(), filter.begin(), filter.end());
    const ToolFigures figures = run_tool(binary, args);
    std::filesystem::remove(output);
    ok = ok && figures.ok;
    std::string shown;
    for (const std::string& word : filter)
      shown += word + " ";
    if (shown.empty()) {
      shown = "(none)";
      unfiltered = figures.seconds;
    }
    std::printf("%-36s %10.2f %10.1f %9.1f%%\n", shown.c_str(), figures.seconds,
                figures.peak_megabytes, 100.0 * (figures.seconds / unfiltered - 1.0));
  }

  // Selective decoding on a layered file.
  const std::uint64_t layered_points = points / 4;
  const std::string layered_las =
      (folder / ("scene_" + std::to_string(layered_points) + "_type6.las")).string();
  const std::string layered =
      (folder / ("scene_" + std::to_string(layered_points) + "_type6.pkz")).string();
  if (!ensure_scene(layered_las, layered_points, 6)) return 1;
  if (!std::filesystem::exists(layered) &&
      !run_tool(binary, {"-i", layered_las, "-o", layered, "-quiet"}).ok) {
    return 1;
  }
  std::printf("\nreading a layered PKZ file of %llu points of type 6 through the factory\n",
              static_cast<unsigned long long>(layered_points));
  std::printf("%-44s %10s %12s %10s\n", "decoded layers", "seconds", "Mpoints/s", "points");
  struct Run {
    const char* name;
    std::vector<std::string> filter;
    std::uint32_t layers;
  };
  const Run runs[] = {
      {"all", {}, kDecompressAll},
      {"all, -keep_class 2", {"-keep_class", "2"}, kDecompressAll},
      {"z only, -keep_class 2 adds classification", {"-keep_class", "2"}, kDecompressZ},
  };
  for (const Run& run : runs) {
    std::uint64_t delivered = 0;
    const double seconds = read_through_factory(layered, run.filter, run.layers, delivered);
    ok = ok && seconds >= 0;
    std::printf("%-44s %10.2f %12.2f %10llu\n", run.name, seconds, layered_points / seconds / 1e6,
                static_cast<unsigned long long>(delivered));
  }
  return ok ? 0 : 1;
}
