// Layer files against full copies on a generated LAS tile of point type 1, default settings:
// per marking mode the seconds of the tool writing a full copy and writing a LAY file
// instead, the LAY file's size against the LAS file's, and the seconds of reading the tile
// plainly and through its LAY file.
//
// usage: bench_layers [data folder, default bench-data/] [points, default 20000000]
// The tile is the one bench_isocull generates (shared when both run on one folder). The
// tool is the `isocull` beside this program.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_files.hpp"
#include "las/las_reader_las.hpp"
#include "layers/las_apply.hpp"
#include "layers/lay_file.hpp"

namespace {

using bench::Clock;
using bench::seconds_since;
using bench::time_command;

// Seconds to read every point, through the LAY file in `laydir` when one is given; -1 when
// the file or its layers do not open.
double read_seconds(const std::string& file, const std::string& laydir, std::uint64_t& points) {
  const auto start = Clock::now();
  auto reader = std::make_unique<LASreaderLAS>();
  if (!reader->open_file(file.c_str())) return -1.0;
  std::unique_ptr<LASreader> source = std::move(reader);
  if (!laydir.empty()) {
    auto apply = std::make_unique<LASapply>();
    apply->set_directory(laydir.c_str());
    if (!apply->open(*source, file, 65536) || !apply->load_layers(2147483647)) {
      std::fprintf(stderr, "ERROR: %s\n", apply->failure().c_str());
      return -1.0;
    }
    apply->take_reader(std::move(source));
    source = std::move(apply);
  }
  points = 0;
  while (source->read_next())
    points++;
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
  SceneFileOptions options;
  options.scene.points = points;
  options.point_type = 1;
  if (!bench::ensure_scene(tile, options)) return 1;
  const std::string copy = (folder / "bench_layers_out.las").string();
  const std::filesystem::path laydir = folder / "bench_layers_lay";
  std::filesystem::create_directories(laydir);
  const std::string lay = lay_file_name(tile, laydir.string().c_str());
  const double las_bytes = static_cast<double>(std::filesystem::file_size(tile));

  std::printf("layer files vs full copies, %llu points of point type 1 (%.1f MB), defaults\n",
              static_cast<unsigned long long>(points), las_bytes / 1e6);
  std::printf("%-9s %10s %10s %8s %12s %10s %12s %12s\n", "mode", "copy s", "layer s", "ratio",
              "LAY bytes", "% of LAS", "read s", "layered s");
  bool ok = true;
  for (const char* mode : {"classify", "flag", "remove"}) {
    std::string extra;
    if (std::string(mode) == "flag") extra = " -flag_as_withheld";
    if (std::string(mode) == "remove") extra = " -remove_noise";
    time_command("cat '" + tile + "' > /dev/null");  // the same warm cache for both runs
    const double copy_seconds =
        time_command("'" + binary + "' -quiet -i '" + tile + "' -o '" + copy + "'" + extra);
    std::filesystem::remove(copy);
    std::filesystem::remove(lay);
    const double layer_seconds = time_command("'" + binary + "' -quiet -i '" + tile +
                                              "' -olaydir '" + laydir.string() + "'" + extra);
    if (copy_seconds < 0 || layer_seconds < 0 || !std::filesystem::exists(lay)) {
      ok = false;
      continue;
    }
    const double lay_bytes = static_cast<double>(std::filesystem::file_size(lay));
    std::uint64_t plain_points = 0, layered_points = 0;
    const double plain = read_seconds(tile, "", plain_points);
    const double layered = read_seconds(tile, laydir.string(), layered_points);
    ok = ok && plain >= 0 && layered >= 0;
    std::printf("%-9s %10.2f %10.2f %8.2f %12.0f %10.4f %12.2f %12.2f\n", mode, copy_seconds,
                layer_seconds, layer_seconds / copy_seconds, lay_bytes,
                100.0 * lay_bytes / las_bytes, plain, layered);
    if (plain_points != layered_points) {
      std::printf("%-9s %llu of %llu points left when read through the layer\n", "",
                  static_cast<unsigned long long>(layered_points),
                  static_cast<unsigned long long>(plain_points));
    }
  }
  std::filesystem::remove(lay);
  std::filesystem::remove(laydir);
  return ok ? 0 : 1;
}
