// The noise tool with one thread beside the tool with every core: one large file of point
// type 1 and of type 6 from PKZ to PKZ (classify and remove), PKZ to LAS and LAS to PKZ,
// type 1 from LAS to LAS, and a batch of 8 tiles (a quarter of the points each) with -cores 1
// beside -cores 2.
// Each row is the median of alternating runs (one thread, then all, then one ...), so a
// machine that gets busier meanwhile weighs on both; peak memory is the largest resident
// size of the tool's process over the runs. The table is printed at the end.
//
// usage: bench_cores [data folder, default bench-data/] [points, default 20000000]
//                    [runs, default 5]
// BENCH_CORES_POINTS and BENCH_CORES_RUNS in the environment override the defaults (for a
// quick run: BENCH_CORES_POINTS=400000 BENCH_CORES_RUNS=5). The scenes are generated once
// into the folder and reused. The tool is the `isocull` beside this program.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_files.hpp"
#include "scene/scene_las.hpp"
#include "stream/worker_pool.hpp"

namespace {

namespace fs = std::filesystem;

std::uint64_t setting(const char* variable, int argc, char* argv[], int index,
                      std::uint64_t fallback) {
  if (argc > index) return std::strtoull(argv[index], nullptr, 10);
  if (const char* text = std::getenv(variable)) return std::strtoull(text, nullptr, 10);
  return fallback;
}

struct Row {
  std::string label;
  std::uint64_t points = 0;
  std::string parallel;        // what the parallel runs were given
  double seconds[2] = {0, 0};  // median: sequential, parallel
  double peak[2] = {0, 0};     // largest, megabytes
  bool ok = true;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Bench {
 public:
  Bench(std::string binary, fs::path folder, unsigned runs)
      : binary_(std::move(binary)), folder_(std::move(folder)), runs_(runs) {}

  // A scene of `points` points, its PKZ twin written by the tool beside it when `pkz`.
  bool scene(const std::string& name, std::uint64_t points, int type, std::uint32_t seed,
             bool pkz) {
    SceneFileOptions options;
    options.scene.points = points;
    options.scene.seed = seed;
    options.point_type = type;
    const fs::path las = folder_ / (name + ".las");
    if (!bench::ensure_scene(las, options)) return false;
    const fs::path compressed = folder_ / (name + ".pkz");
    if (!pkz || fs::exists(compressed)) return true;
    std::fprintf(stderr, "compressing %s ...\n", las.string().c_str());
    return bench::run_tool(binary_,
                           {"-i", las.string(), "-o", compressed.string(), "-quiet", "-cores", "1"})
        .ok;
  }

  // `inputs` run with `output_format` into a folder of their own; the sequential runs with
  // -cores 1, the parallel ones with `parallel` (nothing: the default, every core).
  // `both` are given to both runs (a marking mode).
  Row measure(const std::string& label, const std::vector<std::string>& inputs,
              std::uint64_t points, const char* output_format,
              const std::vector<std::string>& parallel, const std::vector<std::string>& both = {}) {
    Row row;
    row.label = label;
    row.points = points;
    for (const std::string& option : parallel)
      row.parallel += (row.parallel.empty() ? "" : " ") + option;
    if (row.parallel.empty()) row.parallel = "default";
    const fs::path out = folder_ / "bench_cores_out";
    std::vector<double> times[2];
    for (unsigned run = 0; run < runs_; run++) {
      for (int variant = 0; variant < 2; variant++) {
        fs::remove_all(out);
        fs::create_directories(out);
        std::vector<std::string> args = {"-i"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        args.insert(args.end(), {"-odir", out.string(), output_format, "-quiet"});
        args.insert(args.end(), both.begin(), both.end());
        if (variant == 0) {
          args.insert(args.end(), {"-cores", "1"});
        } else {
          args.insert(args.end(), parallel.begin(), parallel.end());
        }
        const bench::ToolFigures figures = bench::run_tool(binary_, args);
        row.ok = row.ok && figures.ok;
        times[variant].push_back(figures.seconds);
        row.peak[variant] = std::max(row.peak[variant], figures.peak_megabytes);
      }
    }
    fs::remove_all(out);
    for (int variant = 0; variant < 2; variant++)
      row.seconds[variant] = median(times[variant]);
    std::fprintf(stderr, "%s: %.2f s / %.2f s\n", label.c_str(), row.seconds[0], row.seconds[1]);
    return row;
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }

 private:
  std::string binary_;
  fs::path folder_;
  unsigned runs_;
};

}  // namespace

int main(int argc, char* argv[]) {
  const fs::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = setting("BENCH_CORES_POINTS", argc, argv, 2, 20000000);
  const unsigned runs = static_cast<unsigned>(
      std::max<std::uint64_t>(1, setting("BENCH_CORES_RUNS", argc, argv, 3, 5)));
  const std::string binary = (fs::absolute(argv[0]).parent_path() / "isocull").string();
  fs::create_directories(folder);
  Bench bench(binary, folder, runs);

  const std::string large = "cores_" + std::to_string(points);
  const std::uint64_t tile_points = points / 4;
  constexpr int kTiles = 8;
  if (!bench.scene(large + "_type1", points, 1, 1, true) ||
      !bench.scene(large + "_type6", points, 6, 1, true)) {
    return 1;
  }
  std::vector<std::string> tiles_las, tiles_pkz;
  for (int i = 0; i < kTiles; i++) {
    const std::string name = "cores_tile_" + std::to_string(tile_points) + "_" + std::to_string(i);
    if (!bench.scene(name, tile_points, 1, 100 + i, true)) return 1;
    tiles_las.push_back(bench.path(name + ".las"));
    tiles_pkz.push_back(bench.path(name + ".pkz"));
  }

  std::vector<Row> rows;
  for (int type : {1, 6}) {
    const std::string base = large + "_type" + std::to_string(type);
    const std::string t = "type " + std::to_string(type) + " ";
    rows.push_back(bench.measure(t + "PKZ->PKZ", {bench.path(base + ".pkz")}, points, "-opkz", {}));
    rows.push_back(bench.measure(t + "PKZ->LAS", {bench.path(base + ".pkz")}, points, "-olas", {}));
    rows.push_back(bench.measure(t + "LAS->PKZ", {bench.path(base + ".las")}, points, "-opkz", {}));
    rows.push_back(bench.measure(t + "PKZ->PKZ remove", {bench.path(base + ".pkz")}, points,
                                 "-opkz", {}, {"-remove_noise"}));
  }
  rows.push_back(
      bench.measure("type 1 LAS->LAS", {bench.path(large + "_type1.las")}, points, "-olas", {}));
  const std::uint64_t tiles_total = tile_points * kTiles;
  rows.push_back(
      bench.measure("8 tiles LAS->LAS", tiles_las, tiles_total, "-olas", {"-cores", "2"}));
  rows.push_back(
      bench.measure("8 tiles PKZ->PKZ", tiles_pkz, tiles_total, "-opkz", {"-cores", "2"}));

  std::printf(
      "\nisocull with -cores 1 beside more threads (this machine: %u cores), classify "
      "mode unless the row says remove, median of %u alternating runs\n",
      WorkerPool::machine_cores(), runs);
  std::printf("%-22s %10s %-10s %9s %9s %9s %9s %8s %9s %9s\n", "row", "points", "parallel",
              "seq s", "par s", "seq Mp/s", "par Mp/s", "speedup", "seq MB", "par MB");
  bool ok = true;
  for (const Row& row : rows) {
    ok = ok && row.ok;
    const double mp = static_cast<double>(row.points) / 1e6;
    std::printf("%-22s %10llu %-10s %9.2f %9.2f %9.2f %9.2f %8.2f %9.1f %9.1f%s\n",
                row.label.c_str(), static_cast<unsigned long long>(row.points),
                row.parallel.c_str(), row.seconds[0], row.seconds[1], mp / row.seconds[0],
                mp / row.seconds[1], row.seconds[0] / row.seconds[1], row.peak[0], row.peak[1],
                row.ok ? "" : "  (a run failed)");
  }
  return ok ? 0 : 1;
}
