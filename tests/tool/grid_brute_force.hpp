#pragma once

// What the isolation grid's tests share: clouds of points, the grid's three phases as the
// run loop drives them, and an independent count of the 27 cells around every point.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "model/las_point.hpp"
#include "select/las_ignore.hpp"
#include "tool/isolation_grid.hpp"

namespace grid_test {

// Points of a test, all with one scaling unless a point brings its own.
struct Cloud {
  std::unique_ptr<LASscaling> scaling = std::make_unique<LASscaling>();
  std::vector<LASpoint> points;

  LASpoint& add(double x, double y, double z, std::uint16_t flightline = 0,
                std::uint8_t classification = 1) {
    LASpoint point;
    point.scaling = scaling.get();
    point.X = static_cast<std::int32_t>(scaling->get_X(x));
    point.Y = static_cast<std::int32_t>(scaling->get_Y(y));
    point.Z = static_cast<std::int32_t>(scaling->get_Z(z));
    point.point_source_ID = flightline;
    point.set_classification(classification);
    points.push_back(point);
    return points.back();
  }
  void add_many(int count, double x, double y, double z, std::uint16_t flightline = 0) {
    for (int i = 0; i < count; i++)
      add(x, y, z, flightline);
  }
};

inline IsolationGridSettings settings_for(int isolated, float step = 4.0f,
                                          bool by_flightline = false) {
  IsolationGridSettings settings;
  settings.step_xy = settings.step_z = step;
  settings.threshold = static_cast<std::uint32_t>(isolated) + 1;
  settings.by_flightline = by_flightline;
  return settings;
}

// The verdict of every point: first pass, search, second pass as the run loop drives them.
inline std::vector<bool> verdicts(IsolationGrid& grid, const Cloud& cloud,
                                  const LASignore* ignore = nullptr) {
  for (const LASpoint& point : cloud.points)
    grid.add_point(point);
  grid.finish_first_pass();
  grid.search();
  std::vector<bool> noise;
  for (const LASpoint& point : cloud.points) {
    const bool ignored = ignore && ignore->ignore(point);
    noise.push_back(!ignored && grid.is_noise(point));
    // The run loop's way, which looks only at the points that were among the first t of
    // their cell, gives the same verdict.
    if (!ignored) {
      EXPECT_EQ(grid.is_noise_in_order(point), noise.back());
    }
  }
  return noise;
}

inline std::vector<bool> verdicts(const IsolationGridSettings& settings, const Cloud& cloud,
                                  const LASignore* ignore = nullptr) {
  IsolationGrid grid(settings, ignore);
  return verdicts(grid, cloud, ignore);
}

inline int noise_count(const std::vector<bool>& noise) {
  int count = 0;
  for (bool b : noise)
    count += b;
  return count;
}

// ---- an independent count: a map from cell to points, 27 cells around each ----

struct BruteForce {
  struct Cell {
    std::int64_t flightline, layer, column, row;
    auto operator<=>(const Cell&) const = default;
  };

  static bool cell_index(double coordinate, float step, std::int64_t& index) {
    const double floored = std::floor(coordinate / static_cast<double>(step));
    if (!(floored >= -2147483647.0 && floored <= 2147483646.0)) return false;
    index = static_cast<std::int64_t>(floored);
    return true;
  }

  static bool cell_of(const LASpoint& p, const IsolationGridSettings& s, Cell& cell) {
    cell.flightline = s.by_flightline ? p.point_source_ID : 0;
    return cell_index(p.get_z(), s.step_z, cell.layer) &&
           cell_index(p.get_x(), s.step_xy, cell.column) &&
           cell_index(p.get_y(), s.step_xy, cell.row);
  }

  // What the narrowest counter that can hold t + 1 reads for a true count.
  static std::uint64_t counter_maximum(std::uint32_t t) {
    for (std::uint64_t maximum : {3ull, 15ull, 255ull, 65535ull}) {
      if (t < maximum) return maximum;
    }
    return 4294967295ull;
  }

  static std::vector<bool> verdicts(const IsolationGridSettings& s, const Cloud& cloud,
                                    const LASignore* ignore) {
    std::map<Cell, std::uint64_t> counts;
    for (const LASpoint& p : cloud.points) {
      Cell cell;
      if ((ignore && ignore->ignore(p)) || !cell_of(p, s, cell)) continue;
      counts[cell]++;
    }
    const std::uint64_t maximum = counter_maximum(s.threshold);
    const auto read = [&](const Cell& cell) -> std::uint64_t {
      auto found = counts.find(cell);
      return found == counts.end() ? 0 : std::min(found->second, maximum);
    };
    std::vector<bool> noise;
    std::map<Cell, bool> decided;  // all points of a cell share the verdict
    for (const LASpoint& p : cloud.points) {
      Cell cell;
      if ((ignore && ignore->ignore(p)) || !cell_of(p, s, cell)) {
        noise.push_back(false);
        continue;
      }
      if (auto found = decided.find(cell); found != decided.end()) {
        noise.push_back(found->second);
        continue;
      }
      const std::uint64_t own = read(cell);
      std::uint64_t total = 0;
      for (int dl = -1; dl <= 1; dl++) {
        for (int dc = -1; dc <= 1; dc++) {
          for (int dr = -1; dr <= 1; dr++) {
            total += read({cell.flightline, cell.layer + dl, cell.column + dc, cell.row + dr});
          }
        }
      }
      noise.push_back(own <= s.threshold && total <= s.threshold);
      decided[cell] = noise.back();
    }
    return noise;
  }
};

// A random cloud: dense blobs (some crowded enough to saturate narrow counters), loose
// clusters and sparse points, around an origin that may be negative.
inline Cloud random_cloud(std::mt19937& random, int flightlines, double min_extent = 20.0) {
  Cloud cloud;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double origin_x = (unit(random) - 0.5) * 2000.0;
  const double origin_y = (unit(random) - 0.5) * 2000.0;
  const double origin_z = (unit(random) - 0.7) * 100.0;
  cloud.scaling->x_offset = std::floor(origin_x);
  cloud.scaling->z_offset = -50.0;
  const double extent = min_extent + unit(random) * 300.0;
  const auto flightline = [&] {
    return static_cast<std::uint16_t>(1 + random() % static_cast<unsigned>(flightlines));
  };
  const auto cls = [&] { return static_cast<std::uint8_t>(random() % 4 == 0 ? 2 : 1); };
  const int blobs = 1 + static_cast<int>(random() % 4);
  for (int b = 0; b < blobs; b++) {
    const double x = origin_x + unit(random) * extent, y = origin_y + unit(random) * extent;
    const double z = origin_z + unit(random) * 20.0;
    const int count = 1 + static_cast<int>(random() % 400);
    const double spread = unit(random) < 0.5 ? 0.05 : 2.0;
    const std::uint16_t line = flightline();
    for (int i = 0; i < count; i++) {
      cloud.add(x + unit(random) * spread, y + unit(random) * spread, z + unit(random) * spread,
                line, cls());
    }
  }
  const int sparse = 50 + static_cast<int>(random() % 600);
  for (int i = 0; i < sparse; i++) {
    cloud.add(origin_x + unit(random) * extent, origin_y + unit(random) * extent,
              origin_z + unit(random) * 40.0, flightline(), cls());
  }
  return cloud;
}

}  // namespace grid_test
