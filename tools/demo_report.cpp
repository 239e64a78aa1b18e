// Compares a point file with the noise tool's output of it and with the truth file of the
// scene generator (indexes of the injected noise points), and prints what a user of the demo
// wants to know: how many points were read, how many were marked as noise, how many of the
// injected noise points were found and how many genuine points were marked too.
//
// usage: demo_report input.las output.las truth.txt [seconds]
//
// A point counts as marked when its record differs from the input's (classify and flag
// modes) or when it is missing from the output (remove mode).

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "las/las_reader_las.hpp"

namespace {

std::vector<bool> read_truth(const char* path, std::int64_t points, bool& ok) {
  std::vector<bool> noise(static_cast<std::size_t>(points), false);
  std::FILE* file = std::fopen(path, "r");
  ok = file != nullptr;
  if (!ok) {
    std::fprintf(stderr, "ERROR: cannot open truth file '%s'\n", path);
    return noise;
  }
  unsigned long long index = 0;
  while (std::fscanf(file, "%llu", &index) == 1) {
    if (index < noise.size()) noise[index] = true;
  }
  std::fclose(file);
  return noise;
}

bool same_place(const LASpoint& a, const LASpoint& b) {
  return a.X == b.X && a.Y == b.Y && a.Z == b.Z && a.gps_time == b.gps_time;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: demo_report input.las output.las truth.txt [seconds]\n");
    return 1;
  }
  LASreaderLAS input, output;
  if (!input.open_file(argv[1]) || !output.open_file(argv[2])) return 1;
  bool truth_ok = false;
  const std::vector<bool> injected = read_truth(argv[3], input.points_total, truth_ok);
  if (!truth_ok) return 1;

  std::int64_t read = 0, marked = 0, injected_total = 0, found = 0, genuine_marked = 0;
  bool output_has_point = output.read_next();
  while (input.read_next()) {
    const bool is_injected = injected[static_cast<std::size_t>(read)];
    read++;
    bool is_marked = true;  // missing from the output unless found below
    if (output_has_point && same_place(input.point, output.point)) {
      // Same point: marked when classification or flags changed.
      is_marked = input.point.classification != output.point.classification ||
                  input.point.extended_classification != output.point.extended_classification ||
                  input.point.withheld_flag != output.point.withheld_flag;
      output_has_point = output.read_next();
    }
    if (is_injected) injected_total++;
    if (is_marked) {
      marked++;
      if (is_injected) {
        found++;
      } else {
        genuine_marked++;
      }
    }
  }
  const double percent_found = injected_total ? 100.0 * found / injected_total : 0.0;
  std::printf("\n");
  std::printf("  points read              %12" PRId64 "\n", read);
  std::printf("  marked as noise          %12" PRId64 "\n", marked);
  std::printf("  injected noise points    %12" PRId64 "\n", injected_total);
  std::printf("  ... found                %12" PRId64 "  (%.1f%%)\n", found, percent_found);
  std::printf("  genuine points marked    %12" PRId64 "  (%.4f%% of all points)\n", genuine_marked,
              read ? 100.0 * genuine_marked / read : 0.0);
  if (argc > 4) {
    const double seconds = std::atof(argv[4]);
    std::printf("  time taken               %12.2f s  (%.1f million points/s)\n", seconds,
                seconds > 0 ? read / seconds / 1e6 : 0.0);
  }
  std::printf("  output                   %s\n\n", argv[2]);
  return 0;
}
