// The noise tool end to end on generated LAS tiles of point type 1: points per second, peak
// resident memory of the tool's process, and the I/O floor of the same run (reading the
// input twice with `cat` and copying it once with `cp`, what any two-pass tool that writes
// a copy must at least do). The 5- and 20-million-point tiles cover the same area (the 5M
// one at a quarter of the density), so their peak memory shows whether it depends on the
// number of points; the grid's share follows the area and the height range, not the points.
// Last, the large tile's PKZ twin, PKZ in and PKZ out (no floor: the codec bounds it).
//
// usage: bench_isocull [data folder, default bench-data/] [points, default 20000000]
// The tiles are generated once into the folder and reused by later runs. The tool is the
// `isocull` beside this program.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "bench_files.hpp"
#include "las/las_reader_las.hpp"
#include "scene/scene_las.hpp"

namespace {

using bench::Clock;
using bench::seconds_since;
using bench::time_command;

bool ensure_scene(const std::filesystem::path& path, std::uint64_t points, double density,
                  int point_type = 1) {
  SceneFileOptions options;
  options.scene.points = points;
  options.scene.density = density;
  options.point_type = point_type;
  return bench::ensure_scene(path, options);
}

using bench::run_tool;
using bench::ToolFigures;

struct Floor {
  double cat = 0, cp = 0;
  double seconds() const { return 2 * cat + cp; }
};

Floor measure_floor(const std::string& input, const std::string& copy) {
  Floor floor;
  time_command("cat '" + input + "' > /dev/null");  // warm the cache like the tool's runs
  floor.cat = time_command("cat '" + input + "' > /dev/null");
  floor.cp = time_command("cp '" + input + "' '" + copy + "'");
  std::filesystem::remove(copy);
  return floor;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
  const std::string binary =
      (std::filesystem::absolute(argv[0]).parent_path() / "isocull").string();
  std::filesystem::create_directories(folder);

  const std::uint64_t small_points = points / 4;
  const std::string large = (folder / ("scene_" + std::to_string(points) + "_type1.las")).string();
  const std::string small =
      (folder / ("scene_" + std::to_string(small_points) + "_type1_sparse.las")).string();
  const double density = SceneOptions{}.density;
  if (!ensure_scene(large, points, density) || !ensure_scene(small, small_points, density / 4)) {
    return 1;
  }
  const std::string output = (folder / "bench_isocull_out.las").string();

  std::printf("isocull end to end, point type 1, default settings (step 4, isolated 5)\n");
  std::printf("%-10s %-9s %10s %12s %10s %10s %8s\n", "points", "mode", "seconds", "Mpoints/s",
              "peak MB", "floor s", "x floor");
  bool ok = true;
  for (const auto& [file, count] : {std::pair{small, small_points}, std::pair{large, points}}) {
    const Floor floor = measure_floor(file, output);
    for (const char* mode : {"classify", "remove"}) {
      std::vector<std::string> args = {"-i", file, "-o", output, "-quiet"};
      if (std::string(mode) == "remove") args.push_back("-remove_noise");
      const ToolFigures figures = run_tool(binary, args);
      std::filesystem::remove(output);
      ok = ok && figures.ok;
      std::printf("%-10llu %-9s %10.2f %12.2f %10.1f %10.2f %8.2f\n",
                  static_cast<unsigned long long>(count), mode, figures.seconds,
                  count / figures.seconds / 1e6, figures.peak_megabytes, floor.seconds(),
                  figures.seconds / floor.seconds());
    }
    std::printf("%-10s I/O floor: cat %.2f s (twice), cp %.2f s\n", "", floor.cat, floor.cp);
  }

  // PKZ in, PKZ out: the compressed twin of the large tile is written once by the tool itself
  // (its noise classified, which changes nothing of what the timing measures).
  const std::string large_pkz =
      (folder / ("scene_" + std::to_string(points) + "_type1.pkz")).string();
  if (!std::filesystem::exists(large_pkz)) {
    std::fprintf(stderr, "compressing %s ...\n", large.c_str());
    if (!run_tool(binary, {"-i", large, "-o", large_pkz, "-quiet"}).ok) return 1;
  }
  const std::string output_pkz = (folder / "bench_isocull_out.pkz").string();
  std::printf("\nisocull end to end, PKZ in and PKZ out, point type 1 (input %.1f MB)\n",
              static_cast<double>(std::filesystem::file_size(large_pkz)) / 1e6);
  std::printf("%-10s %-9s %10s %12s %10s\n", "points", "mode", "seconds", "Mpoints/s", "peak MB");
  for (const char* mode : {"classify", "remove"}) {
    std::vector<std::string> args = {"-i", large_pkz, "-o", output_pkz, "-quiet"};
    if (std::string(mode) == "remove") args.push_back("-remove_noise");
    const ToolFigures figures = run_tool(binary, args);
    std::filesystem::remove(output_pkz);
    ok = ok && figures.ok;
    std::printf("%-10llu %-9s %10.2f %12.2f %10.1f\n", static_cast<unsigned long long>(points),
                mode, figures.seconds, points / figures.seconds / 1e6, figures.peak_megabytes);
  }

  // Point type 6 at a quarter of the size: LAS records copied as they lie, and a layered
  // PKZ input whose first pass decodes only the layers the grid needs.
  const std::string type6 =
      (folder / ("scene_" + std::to_string(small_points) + "_type6.las")).string();
  const std::string type6_pkz =
      (folder / ("scene_" + std::to_string(small_points) + "_type6.pkz")).string();
  if (!ensure_scene(type6, small_points, density, 6)) return 1;
  if (!std::filesystem::exists(type6_pkz) &&
      !run_tool(binary, {"-i", type6, "-o", type6_pkz, "-quiet"}).ok) {
    return 1;
  }
  std::printf("\nisocull end to end, point type 6, classify mode\n");
  std::printf("%-10s %-9s %10s %12s %10s\n", "points", "in -> out", "seconds", "Mpoints/s",
              "peak MB");
  for (const auto& [input, out, label] :
       {std::tuple{type6, output, "LAS->LAS"}, std::tuple{type6_pkz, output_pkz, "PKZ->PKZ"},
        std::tuple{type6_pkz, output, "PKZ->LAS"}}) {
    const ToolFigures figures = run_tool(binary, {"-i", input, "-o", out, "-quiet"});
    std::filesystem::remove(out);
    ok = ok && figures.ok;
    std::printf("%-10llu %-9s %10.2f %12.2f %10.1f\n",
                static_cast<unsigned long long>(small_points), label, figures.seconds,
                small_points / figures.seconds / 1e6, figures.peak_megabytes);
  }
  return ok ? 0 : 1;
}
