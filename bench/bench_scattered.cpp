// Scattered against packed points: the same number of random points (default 300,000) over
// 100 km x 100 km and over 1 km x 1 km, both 100 m high. The grid costs memory and time by
// the point, not by the area: the tool's time and peak memory on the two should stay within
// a small factor of each other (the scattered points' cells are spread over memory, where
// the packed ones share a few tiles). The grid alone follows, in this process, with the
// figure the grid keeps of its own memory; `whole` adds a run of the grid with whole tiles
// only (as before sparse tiles: about 5 kB and a tile's search for every scattered point).
//
// usage: bench_scattered [data folder, default bench-data/] [points] [whole]
// The point files are generated once into the folder and reused by later runs. The tool is
// the `isocull` beside this program.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_files.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "tool/isolation_grid.hpp"

namespace {

struct Scene {
  const char* name;
  double extent;  // metres
};
constexpr Scene kScenes[] = {{"scattered", 100000.0}, {"packed", 1000.0}};

// Random points of point type 1, scale 0.01, over `extent` metres square and 100 m high.
bool write_random_points(const std::string& path, std::uint64_t count, double extent) {
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.x_offset = 500000.0;
  header.y_offset = 4000000.0;
  header.number_of_point_records = static_cast<std::uint32_t>(count);
  LASpoint point;
  if (!point.init_for_point_type(&header, 1, 28, &header)) return false;
  LASwriterLAS writer;
  if (!writer.open_file(path.c_str(), &header)) return false;
  std::mt19937_64 random(300000);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (std::uint64_t i = 0; i < count; i++) {
    point.set_x(header.x_offset + unit(random) * extent);
    point.set_y(header.y_offset + unit(random) * extent);
    point.set_z(unit(random) * 100.0);
    point.gps_time = static_cast<double>(i);
    if (!writer.write_point(point)) return false;
    writer.count_point(point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

bool ensure_points(const std::string& path, std::uint64_t count, double extent) {
  {
    LASreaderLAS probe;
    if (std::filesystem::exists(path) &&
        probe.open_file(path.c_str(), LASreaderLAS::kDefaultBufferSize, true) &&
        probe.points_total == static_cast<std::int64_t>(count)) {
      return true;
    }
  }
  std::fprintf(stderr, "generating %s ...\n", path.c_str());
  return write_random_points(path, count, extent);
}

struct GridFigures {
  double seconds = 0;
  double megabytes = 0;
};

// The grid alone on the file's points (read once into memory): first pass, search and
// second pass.
GridFigures run_grid(const std::string& path, bool sparse) {
  LASreaderLAS reader;
  if (!reader.open_file(path.c_str())) return {};
  std::vector<LASpoint> points;
  while (reader.read_next())
    points.push_back(reader.point);
  IsolationGridSettings settings;
  settings.sparse_tiles = sparse;
  IsolationGrid grid(settings, nullptr);
  const auto start = bench::Clock::now();
  for (const LASpoint& point : points)
    grid.add_point(point);
  grid.finish_first_pass();
  grid.search();
  std::uint64_t noise = 0;
  for (const LASpoint& point : points)
    noise += grid.is_noise_in_order(point);
  GridFigures figures;
  figures.seconds = bench::seconds_since(start);
  figures.megabytes = static_cast<double>(grid.peak_memory_bytes()) / 1048576.0;
  return figures;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 300000;
  const bool whole = argc > 3 && std::string(argv[3]) == "whole";
  const std::string binary =
      (std::filesystem::absolute(argv[0]).parent_path() / "isocull").string();
  std::filesystem::create_directories(folder);

  std::vector<std::string> files;
  for (const Scene& scene : kScenes) {
    files.push_back(
        (folder / ("random_" + std::to_string(points) + "_" + scene.name + ".las")).string());
    if (!ensure_points(files.back(), points, scene.extent)) return 1;
  }
  const std::string output = (folder / "bench_scattered_out.las").string();

  std::printf("isocull on %llu random points, 100 m high, default settings\n",
              static_cast<unsigned long long>(points));
  std::printf("%-10s %10s %10s %10s %10s\n", "points", "area", "seconds", "cpu s", "peak MB");
  bench::ToolFigures figures[2];
  bool ok = true;
  for (int i = 0; i < 2; i++) {
    figures[i] = bench::run_tool(binary, {"-i", files[i], "-o", output, "-quiet"});
    std::filesystem::remove(output);
    ok = ok && figures[i].ok;
    std::printf("%-10s %8.0f m %10.2f %10.2f %10.1f\n", kScenes[i].name, kScenes[i].extent,
                figures[i].seconds, figures[i].cpu_seconds, figures[i].peak_megabytes);
  }
  std::printf("%-10s %10s %9.1fx %9.1fx %9.1fx\n", "scattered", "/ packed",
              figures[0].seconds / figures[1].seconds,
              figures[0].cpu_seconds / figures[1].cpu_seconds,
              figures[0].peak_megabytes / figures[1].peak_megabytes);

  std::printf("\nthe grid alone (first pass, search, second pass) and its peak memory\n");
  std::printf("%-10s %-12s %10s %10s\n", "points", "tiles", "seconds", "grid MB");
  for (int i = 0; i < 2; i++) {
    for (const bool sparse : {true, false}) {
      if (!sparse && !whole) continue;
      const GridFigures grid = run_grid(files[i], sparse);
      std::printf("%-10s %-12s %10.3f %10.1f\n", kScenes[i].name, sparse ? "sparse" : "whole only",
                  grid.seconds, grid.megabytes);
    }
  }
  return ok ? 0 : 1;
}
