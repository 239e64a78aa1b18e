// Piped input against the same file by name, and a tile read with its eight neighbours
// against the tile alone.
//
// Piped: the 20-million-point tile (LAS and its PKZ twin) written into a pipe that is the
// tool's standard input, where the tool keeps the stream as it arrived for its second pass:
// in memory up to 64 MB, beyond that in a temporary file (at 20 million points both the LAS
// and the PKZ go there); the median of 3 runs (or as many as asked) each, and the peak
// memory beside the compressed size. Buffered: a 3 x 3 block of tiles of 5 million points
// each (one generated tile, shifted by its width and height through the header offsets), the
// centre tile with `-buffered 8` and its neighbours, without and (when the index program is
// built) with spatial indexes beside the neighbours.
//
// usage: bench_wrappers [data folder, default bench-data/] [points, default 20000000]
//                       [runs of the piped rows, default 3]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.hpp"
#include "las/las_reader_las.hpp"

namespace {

using bench::run_tool;
using bench::ToolFigures;

bool ensure_scene(const std::filesystem::path& path, std::uint64_t points, double density) {
  SceneFileOptions options;
  options.scene.points = points;
  options.scene.density = density;
  options.point_type = 1;
  return bench::ensure_scene(path, options);
}

// A copy of `tile` moved by (dx, dy): only the header's offsets and bounds change.
bool shifted_copy(const std::string& tile, const std::string& copy, double dx, double dy) {
  std::filesystem::copy_file(tile, copy, std::filesystem::copy_options::overwrite_existing);
  std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
  double offsets[3], bounds[6];
  file.seekg(155);
  file.read(reinterpret_cast<char*>(offsets), sizeof(offsets));
  file.read(reinterpret_cast<char*>(bounds), sizeof(bounds));
  offsets[0] += dx;
  offsets[1] += dy;
  bounds[0] += dx;  // max x, min x, max y, min y, max z, min z
  bounds[1] += dx;
  bounds[2] += dy;
  bounds[3] += dy;
  file.seekp(155);
  file.write(reinterpret_cast<const char*>(offsets), sizeof(offsets));
  file.write(reinterpret_cast<const char*>(bounds), sizeof(bounds));
  return static_cast<bool>(file);
}

// Runs the tool with `file` written into a pipe that is its standard input, by a process of
// its own as a producer piping into the tool would; the figures are the tool's.
ToolFigures run_piped(const std::string& binary, const std::vector<std::string>& args,
                      const std::string& file) {
  ToolFigures figures;
  std::vector<char*> argv = bench::argument_vector(binary, args);
  int ends[2];
  if (pipe(ends) != 0) return figures;
  const auto start = bench::Clock::now();
  const pid_t feeder = fork();
  if (feeder == 0) {
    close(ends[0]);
    const int in = open(file.c_str(), O_RDONLY);
    static char buffer[1 << 16];
    for (ssize_t got; in >= 0 && (got = read(in, buffer, sizeof(buffer))) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const ssize_t put = write(ends[1], buffer + at, static_cast<std::size_t>(got - at));
        if (put <= 0) _exit(1);
        at += put;
      }
    }
    _exit(0);
  }
  const pid_t tool = fork();
  if (tool == 0) {
    if (dup2(ends[0], 0) < 0) _exit(126);
    close(ends[0]);
    close(ends[1]);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(ends[0]);
  close(ends[1]);
  int status = 0;
  rusage usage{};
  const bool waited = tool > 0 && wait4(tool, &status, 0, &usage) == tool;
  figures.seconds = bench::seconds_since(start);
  if (feeder > 0) waitpid(feeder, nullptr, 0);
  if (!waited) return figures;
  figures.peak_megabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!figures.ok) std::fprintf(stderr, "ERROR: the tool failed\n");
  return figures;
}

// The run of median time among `runs` runs (the largest peak memory of them).
template <typename Run>
ToolFigures median_of(int runs, Run run) {
  std::vector<ToolFigures> all;
  for (int i = 0; i < runs; i++)
    all.push_back(run());
  std::sort(all.begin(), all.end(),
            [](const ToolFigures& a, const ToolFigures& b) { return a.seconds < b.seconds; });
  ToolFigures median = all[all.size() / 2];
  for (const ToolFigures& figures : all) {
    median.ok = median.ok && figures.ok;
    median.peak_megabytes = std::max(median.peak_megabytes, figures.peak_megabytes);
  }
  return median;
}

void print_row(const char* what, const ToolFigures& figures, double reference) {
  std::printf("%-44s %8.2f %8.2fx %9.1f\n", what, figures.seconds, figures.seconds / reference,
              figures.peak_megabytes);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t points = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
  const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);
  const std::filesystem::path programs = std::filesystem::absolute(argv[0]).parent_path();
  const std::string binary = (programs / "isocull").string();
  std::filesystem::create_directories(folder);
  const double density = SceneOptions{}.density;
  bool ok = true;

  const std::string large = (folder / ("scene_" + std::to_string(points) + "_type1.las")).string();
  const std::string large_pkz =
      (folder / ("scene_" + std::to_string(points) + "_type1.pkz")).string();
  if (!ensure_scene(large, points, density)) return 1;
  if (!std::filesystem::exists(large_pkz) &&
      !run_tool(binary, {"-i", large, "-o", large_pkz, "-quiet"}).ok) {
    return 1;
  }
  std::printf("piped input against the file by name, %llu points, point type 1\n",
              static_cast<unsigned long long>(points));
  std::printf("%-44s %8s %9s %9s\n", "run", "seconds", "x name", "peak MB");
  for (const std::string& input : {large, large_pkz}) {
    const std::string ext = input.substr(input.size() - 3);
    const std::string output = (folder / ("bench_wrappers_out." + ext)).string();
    const ToolFigures by_name = median_of(runs, [&] {
      return run_tool(binary, {"-i", input, "-o", output, "-quiet"});
    });
    const ToolFigures piped = median_of(runs, [&] {
      return run_piped(binary, {"-stdin", "-o", output, "-quiet"}, input);
    });
    ok = ok && by_name.ok && piped.ok;
    print_row((ext + " by name").c_str(), by_name, by_name.seconds);
    print_row((ext + " piped").c_str(), piped, by_name.seconds);
    std::filesystem::remove(output);
  }
  std::printf("(compressed size of the tile: %.1f MB)\n\n",
              static_cast<double>(std::filesystem::file_size(large_pkz)) / 1e6);

  // The 3 x 3 block: tiles of a quarter of the points at a quarter of the density cover the
  // large tile's area each.
  const std::uint64_t tile_points = points / 4;
  const std::string tile =
      (folder / ("scene_" + std::to_string(tile_points) + "_type1_sparse.las")).string();
  if (!ensure_scene(tile, tile_points, density / 4)) return 1;
  LASreaderLAS probe;
  if (!probe.open_file(tile.c_str(), LASreaderLAS::kDefaultBufferSize, true)) return 1;
  // Whole multiples of the 4 m cell keep the cells of the shifted copies aligned.
  const double width = std::ceil((probe.header.max_x - probe.header.min_x) / 4 + 1) * 4;
  const double height = std::ceil((probe.header.max_y - probe.header.min_y) / 4 + 1) * 4;
  probe.close_reader();
  std::vector<std::string> neighbours;
  const std::string centre = (folder / "block_centre.las").string();
  for (int row = -1; row <= 1; row++) {
    for (int column = -1; column <= 1; column++) {
      const std::string name = row == 0 && column == 0
                                   ? centre
                                   : (folder / ("block_" + std::to_string(row + 1) +
                                                std::to_string(column + 1) + ".las"))
                                         .string();
      if (!shifted_copy(tile, name, column * width, row * height)) return 1;
      if (name != centre) neighbours.push_back(name);
    }
  }
  const std::string output = (folder / "bench_wrappers_block.las").string();
  std::printf("3 x 3 tiles of %llu points, the centre tile with -buffered 8\n",
              static_cast<unsigned long long>(tile_points));
  std::printf("%-44s %8s %9s %9s\n", "run", "seconds", "x alone", "peak MB");
  // Indexes an earlier run left beside the neighbours would make the first figure indexed.
  for (const std::string& neighbour : neighbours)
    std::filesystem::remove(neighbour.substr(0, neighbour.size() - 3) + "lax");
  const ToolFigures alone = run_tool(binary, {"-i", centre, "-o", output, "-quiet"});
  std::vector<std::string> args = {"-i", centre, "-buffered", "8", "-neighbors"};
  args.insert(args.end(), neighbours.begin(), neighbours.end());
  args.insert(args.end(), {"-o", output, "-quiet"});
  const ToolFigures buffered = run_tool(binary, args);
  ok = ok && alone.ok && buffered.ok;
  print_row("centre alone", alone, alone.seconds);
  print_row("centre + 8 neighbours, no index", buffered, alone.seconds);
  const std::string indexer = (programs / "isocull_index").string();
  if (std::filesystem::exists(indexer)) {
    for (const std::string& neighbour : neighbours)
      ok = ok && run_tool(indexer, {"-i", neighbour}).ok;
    const ToolFigures indexed = run_tool(binary, args);
    ok = ok && indexed.ok;
    print_row("centre + 8 neighbours, indexed", indexed, alone.seconds);
  }
  std::filesystem::remove(output);
  return ok ? 0 : 1;
}
