// Throughput and memory of the isolation grid on a synthetic airborne tile: 10 million
// points over 1 km x 1 km in flightline and scanline order, mostly ground and vegetation
// with a few per cent isolated returns (birds, low multipath), default step 4 and
// isolated 5. Usage: bench_grid [points] [step] [isolated]

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tool/isolation_grid.hpp"

namespace {

// Coordinates of the points in reading order, as a reader would deliver them.
struct SyntheticTile {
  LASscaling scaling;
  std::vector<std::int32_t> X, Y, Z;
  std::uint64_t outliers = 0;
};

double terrain(double x, double y) {
  return 120.0 + 15.0 * std::sin(x / 170.0) + 10.0 * std::cos(y / 230.0) + 0.002 * x;
}

SyntheticTile make_tile(std::uint64_t count) {
  SyntheticTile tile;
  tile.scaling.x_offset = 500000.0;
  tile.scaling.y_offset = 4000000.0;
  tile.X.reserve(count);
  tile.Y.reserve(count);
  tile.Z.reserve(count);
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Four flightlines of 300 m swath with overlap; each scanline sweeps across its swath.
  const int strips = 4;
  const double swath = 300.0;
  const std::uint64_t per_strip = count / strips;
  const double per_line = 300.0;  // points per scanline
  const double lines = static_cast<double>(per_strip) / per_line;
  for (int strip = 0; strip < strips; strip++) {
    const double centre = 125.0 + strip * 250.0;
    const std::uint64_t n = strip == strips - 1 ? count - per_strip * (strips - 1) : per_strip;
    for (std::uint64_t i = 0; i < n; i++) {
      const double line = std::floor(static_cast<double>(i) / per_line);
      const double across = (static_cast<double>(i) - line * per_line) / per_line;
      const double sweep = (static_cast<std::uint64_t>(line) & 1) ? 1.0 - across : across;
      double x = centre + (sweep - 0.5) * swath + (unit(random) - 0.5) * 0.5;
      double y = 1000.0 * line / lines + (unit(random) - 0.5) * 0.5;
      x = std::fmin(std::fmax(x, 0.0), 999.99);
      const double ground = terrain(x, y);
      double z;
      const double kind = unit(random);
      if (kind < 0.03) {
        // Isolated returns: birds and clouds above, multipath below ground.
        z = kind < 0.02 ? ground + 40.0 + unit(random) * 400.0 : ground - 5.0 - unit(random) * 60.0;
        tile.outliers++;
      } else if (kind < 0.45) {
        z = ground + unit(random) * 25.0 * (0.5 + 0.5 * std::sin(x / 40.0) * std::cos(y / 55.0));
      } else {
        z = ground + (unit(random) - 0.5) * 0.1;
      }
      tile.X.push_back(static_cast<std::int32_t>(tile.scaling.get_X(tile.scaling.x_offset + x)));
      tile.Y.push_back(static_cast<std::int32_t>(tile.scaling.get_Y(tile.scaling.y_offset + y)));
      tile.Z.push_back(static_cast<std::int32_t>(tile.scaling.get_Z(z)));
    }
  }
  return tile;
}

// A reader over the tile: read_next() and a public point, as the run loop's readers.
struct TileReader {
  explicit TileReader(const SyntheticTile& source) : tile(source) { point.scaling = &tile.scaling; }
  const SyntheticTile& tile;
  std::size_t next = 0;
  LASpoint point;
  bool read_next() {
    if (next == tile.X.size()) return false;
    point.X = tile.X[next];
    point.Y = tile.Y[next];
    point.Z = tile.Z[next];
    next++;
    return true;
  }
};

std::uint64_t status_kilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0)
      return std::strtoull(line.c_str() + length + 1, nullptr, 10);
  }
  return 0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  const float step = argc > 2 ? std::strtof(argv[2], nullptr) : 4.0f;
  const int isolated = argc > 3 ? std::atoi(argv[3]) : 5;

  const SyntheticTile tile = make_tile(count);
  const std::uint64_t baseline_kb = status_kilobytes("VmRSS:");
  std::printf("points %" PRIu64 ", step %g, isolated %d, planted outliers %" PRIu64 "\n", count,
              static_cast<double>(step), isolated, tile.outliers);
  std::printf("point arrays %.1f MB, RSS before the grid %.1f MB\n",
              3.0 * 4.0 * static_cast<double>(count) / 1048576.0, baseline_kb / 1024.0);

  IsolationGridSettings settings;
  settings.step_xy = settings.step_z = step;
  settings.threshold = static_cast<std::uint32_t>(isolated) + 1;
  IsolationGrid grid(settings, nullptr);

  const auto total_start = std::chrono::steady_clock::now();
  auto start = total_start;
  TileReader first(tile);
  grid.first_pass(first);
  const double first_seconds = seconds_since(start);

  start = std::chrono::steady_clock::now();
  const std::uint64_t cells = grid.search();
  const double search_seconds = seconds_since(start);

  start = std::chrono::steady_clock::now();
  TileReader second(tile);
  std::uint64_t noise = 0;
  while (second.read_next())
    noise += grid.is_noise(second.point);
  const double test_seconds = seconds_since(start);
  const double total_seconds = seconds_since(total_start);

  const double n = static_cast<double>(count);
  std::printf("layers %u, counter %s, isolated cells %" PRIu64 ", noise points %" PRIu64 "\n",
              grid.created_layers(), grid.counter_kind(), cells, noise);
  std::printf("first pass   %8.3f s  %7.1f M points/s\n", first_seconds, n / first_seconds / 1e6);
  std::printf("search       %8.3f s  %7.1f M points/s\n", search_seconds, n / search_seconds / 1e6);
  std::printf("second pass  %8.3f s  %7.1f M points/s\n", test_seconds, n / test_seconds / 1e6);
  std::printf("overall      %8.3f s  %7.1f M points/s\n", total_seconds, n / total_seconds / 1e6);
  std::printf("grid peak memory %.2f MB (tile buffers, tile records, maps)\n",
              grid.peak_memory_bytes() / 1048576.0);
  std::printf("process VmHWM %.1f MB (%.1f MB above the RSS before the grid)\n",
              status_kilobytes("VmHWM:") / 1024.0,
              (static_cast<double>(status_kilobytes("VmHWM:")) - baseline_kb) / 1024.0);
  return 0;
}
