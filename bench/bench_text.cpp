// Text speed: a generated scene of point type 1 written as "xyzti" text lines (LAS to text)
// and read back into LAS (text to LAS), with and without the populate pass, in lines per
// second on one core. Times are the process's processor time (the machine may be shared),
// with the wall-clock time beside them.
//
// usage: bench_text [data folder, default bench-data/] [lines, default 5000000]
// The scene is generated once into the folder and reused; the text is written anew.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "bench_files.hpp"
#include "formats/las_reader_txt.hpp"
#include "formats/las_writer_txt.hpp"
#include "las/las_writer_las.hpp"

namespace {

using bench::Clock;
using bench::seconds_since;

double processor_seconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

struct Timing {
  Clock::time_point wall = Clock::now();
  double processor = processor_seconds();
};

// LAS to text; the lines written, or -1.
std::int64_t las_to_text(const std::string& las, const std::string& text, double& seconds,
                         double& wall) {
  LASreaderLAS reader;
  const Timing start;
  if (!reader.open_file(las.c_str())) return -1;
  LASwriterTXT writer;
  if (!writer.open(text.c_str(), &reader.header, "xyzti")) return -1;
  std::int64_t lines = 0;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return -1;
    lines++;
  }
  if (writer.close_writer() == 0) return -1;
  seconds = processor_seconds() - start.processor;
  wall = seconds_since(start.wall);
  return lines;
}

// Text to LAS; the points written, or -1.
std::int64_t text_to_las(const std::string& text, const std::string& las, bool populate,
                         double& seconds, double& wall) {
  LASreaderTXT reader;
  const Timing start;
  if (!reader.open(text.c_str(), 0, "xyzti", 0, populate)) return -1;
  LASwriterLAS writer;
  if (!writer.open_file(las.c_str(), &reader.header)) return -1;
  std::int64_t points = 0;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return -1;
    writer.count_point(reader.point);
    points++;
  }
  writer.update_header(&reader.header, true);
  if (writer.close_writer() == 0) return -1;
  seconds = processor_seconds() - start.processor;
  wall = seconds_since(start.wall);
  return points;
}

void report(const char* what, std::int64_t lines, double seconds, double wall) {
  std::printf("%-34s %10lld lines %8.3f s cpu (%.3f s wall) %8.2f M lines/s\n", what,
              static_cast<long long>(lines), seconds, wall,
              static_cast<double>(lines) / seconds / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
  const std::uint64_t lines = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 5000000;
  std::filesystem::create_directories(folder);
  const std::string las = (folder / ("text_scene_" + std::to_string(lines) + ".las")).string();
  SceneFileOptions options;
  options.scene.points = lines;
  options.point_type = 1;
  if (!bench::ensure_scene(las, options)) return 1;
  const std::string text = (folder / "text_scene.txt").string();
  const std::string back = (folder / "text_scene_back.las").string();

  std::printf("text reading and writing, one core (point type 1, columns xyzti)\n");
  double seconds = 0, wall = 0;
  std::int64_t count = las_to_text(las, text, seconds, wall);
  if (count < 0) return 1;
  report("LAS to text", count, seconds, wall);
  std::printf("%-34s %10.1f MB\n", "text size", std::filesystem::file_size(text) / 1e6);
  count = text_to_las(text, back, false, seconds, wall);
  if (count < 0) return 1;
  report("text to LAS (one pass)", count, seconds, wall);
  count = text_to_las(text, back, true, seconds, wall);
  if (count < 0) return 1;
  report("text to LAS (populate pass first)", count, seconds, wall);
  std::filesystem::remove(text);
  std::filesystem::remove(back);
  return 0;
}
