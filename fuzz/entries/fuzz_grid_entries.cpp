#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "model/las_point.hpp"
#include "tool/isolation_grid.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "FUZZ FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

constexpr std::uint32_t kThresholds[] = {2, 3, 6, 14, 15, 101, 255, 301};
constexpr float kSteps[] = {0.5f, 1.0f, 2.0f, 4.0f};
constexpr std::size_t kRecordBytes = 7;
// Bounds the time of one input: every point is counted, searched around and tested.
constexpr std::size_t kMostPoints = 20000;

// What the narrowest counter that can hold t + 1 reads for a true count.
std::uint64_t counter_maximum(std::uint32_t t) {
  for (std::uint64_t maximum : {3ull, 15ull, 255ull, 65535ull}) {
    if (t < maximum) return maximum;
  }
  return 4294967295ull;
}

using Cell = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>;

// The verdict of every point from a plain count of its cell and the 26 around it.
std::vector<bool> brute_force(const std::vector<LASpoint>& points,
                              const IsolationGridSettings& settings) {
  const auto index = [](double coordinate, float step) {
    return static_cast<std::int64_t>(std::floor(coordinate / static_cast<double>(step)));
  };
  std::vector<Cell> cells;
  std::map<Cell, std::uint64_t> counts;
  for (const LASpoint& p : points) {
    cells.emplace_back(settings.by_flightline ? p.point_source_ID : 0,
                       index(p.get_z(), settings.step_z), index(p.get_x(), settings.step_xy),
                       index(p.get_y(), settings.step_xy));
    counts[cells.back()]++;
  }
  const std::uint64_t maximum = counter_maximum(settings.threshold);
  const auto read = [&](const Cell& cell) -> std::uint64_t {
    auto found = counts.find(cell);
    return found == counts.end() ? 0 : std::min(found->second, maximum);
  };
  std::vector<bool> noise;
  for (const Cell& cell : cells) {
    const auto [line, layer, column, row] = cell;
    std::uint64_t total = 0;
    for (int dl = -1; dl <= 1; dl++) {
      for (int dc = -1; dc <= 1; dc++) {
        for (int dr = -1; dr <= 1; dr++)
          total += read({line, layer + dl, column + dc, row + dr});
      }
    }
    noise.push_back(read(cell) <= settings.threshold && total <= settings.threshold);
  }
  return noise;
}

}  // namespace

int grid_cells(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t options = data[0];
  IsolationGridSettings settings;
  settings.threshold = kThresholds[options & 7];
  settings.by_flightline = (options & 8) != 0;
  settings.step_xy = settings.step_z = kSteps[(options >> 5) & 3];
  // Quarter metres, or 25 m for points far apart (a tile each).
  LASscaling scaling;
  scaling.x_scale_factor = scaling.y_scale_factor = (options & 0x80) ? 25.0 : 0.25;
  scaling.z_scale_factor = 0.25;

  std::vector<LASpoint> points;
  for (std::size_t at = 1; at + kRecordBytes <= size && points.size() < kMostPoints;
       at += kRecordBytes) {
    std::int16_t xyz[3];
    std::memcpy(xyz, data + at, sizeof(xyz));
    const std::uint8_t repeat = data[at + 6];
    LASpoint point;
    point.scaling = &scaling;
    point.X = xyz[0];
    point.Y = xyz[1];
    point.Z = xyz[2];
    point.point_source_ID = repeat >> 6;
    for (int n = 0; n <= (repeat & 0x3F) && points.size() < kMostPoints; n++)
      points.push_back(point);
  }

  // A tiny budget sends the tiles with buffers to the spill file.
  std::filesystem::path spill_dir;
  if (options & 0x10) {
    char pattern[] = "/tmp/isocull_fuzz_grid_XXXXXX";
    if (mkdtemp(pattern) == nullptr) finding("no scratch folder");
    spill_dir = pattern;
    settings.memory_limit = 12000;
    settings.temp_name_base = (spill_dir / "spill").string();
  }
  const std::vector<bool> expected = brute_force(points, settings);
  {
    IsolationGrid grid(settings, nullptr);
    for (const LASpoint& point : points)
      grid.add_point(point);
    grid.finish_first_pass();
    grid.search();
    for (std::size_t i = 0; i < points.size(); i++) {
      if (grid.is_noise(points[i]) != expected[i]) {
        finding("verdict differs from the brute force", "at point " + std::to_string(i));
      }
      if (grid.is_noise_in_order(points[i]) != expected[i]) {
        finding("verdict in order differs from the brute force", "at point " + std::to_string(i));
      }
    }
    if (grid.spill_failed()) finding("spill failed");
  }
  if (!spill_dir.empty()) {
    if (!std::filesystem::is_empty(spill_dir)) finding("spill file left behind");
    std::filesystem::remove_all(spill_dir);
  }
  return 0;
}

std::vector<std::vector<std::uint8_t>> grid_cells_seeds() {
  std::vector<std::vector<std::uint8_t>> seeds;
  // Lone points, pairs across tile borders, a crowded cell and a block of cells that gives
  // its tile a buffer, in every layout of the options byte that matters.
  for (const std::uint8_t options : {0x02, 0x11, 0x2B, 0x47, 0x82, 0x94, 0xF5}) {
    std::vector<std::uint8_t> seed = {options};
    const auto add = [&seed](std::int16_t x, std::int16_t y, std::int16_t z, std::uint8_t repeat) {
      std::uint8_t record[kRecordBytes];
      std::memcpy(record, &x, 2);
      std::memcpy(record + 2, &y, 2);
      std::memcpy(record + 4, &z, 2);
      record[6] = repeat;
      seed.insert(seed.end(), record, record + kRecordBytes);
    };
    add(0, 0, 0, 0);
    add(-1, 3, 2, 0x40);
    add(399, 399, 10, 2);
    add(400, 400, 14, 3);
    add(-20000, 12000, -300, 0x3F);
    for (std::int16_t i = 0; i < 400; i++)
      add(static_cast<std::int16_t>(800 + (i % 20) * 4),
          static_cast<std::int16_t>(800 + i / 20 * 4), static_cast<std::int16_t>(i % 3),
          static_cast<std::uint8_t>(i % 5));
    seeds.push_back(std::move(seed));
  }
  return seeds;
}

}  // namespace fuzz_entry
