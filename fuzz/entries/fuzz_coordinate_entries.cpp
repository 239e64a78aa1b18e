#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "tool/coordinate_noise.hpp"

namespace fuzz_entry {
namespace {

// Rows beyond this are not read: the brute force below looks at every point on its own.
constexpr std::size_t kMostRows = 1500;
// Steps byte 0 chooses from: wide and narrow cells, one that is not a binary fraction, and
// one so small that modest coordinates lie out of the grid's range.
constexpr float kSteps[] = {4.0f, 0.3f, 1.0f, 1e-7f};

[[noreturn]] void finding(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "FUZZ FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

// floor(coordinate / step) as the grid's cell function, false where the grid has no cell.
bool cell_of(double coordinate, float step, long long& cell) {
  const double quotient = coordinate / static_cast<double>(step);
  if (!(quotient >= -2147483647.0 && quotient < 2147483647.0)) return false;
  cell = static_cast<long long>(std::floor(quotient));
  return true;
}

}  // namespace

int coordinate_noise(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t options = data[0];
  const bool single = (options & 0x80) != 0;
  CoordinateNoiseSettings settings;
  settings.step_xy = kSteps[options & 3];
  settings.step_z = kSteps[(options >> 2) & 3];
  settings.isolated = (options >> 4) & 7;  // 0 ... 7: 2-bit and 4-bit counters
  settings.memory_limit = (data[1] & 1) != 0 ? 20000 : 1 << 26;  // spills, or not
  settings.threads = 1 + ((data[1] >> 1) & 3);
  settings.rows_per_thread = 1 + (data[1] >> 3);

  const std::size_t width = single ? sizeof(float) : sizeof(double);
  const std::size_t rows = std::min((size - 2) / (3 * width), kMostRows);
  std::vector<double> xyz(3 * rows);
  std::vector<float> narrow(3 * rows);
  for (std::size_t i = 0; i < 3 * rows; i++) {
    if (single) {
      std::memcpy(&narrow[i], data + 2 + i * width, width);
      xyz[i] = narrow[i];
    } else {
      std::memcpy(&xyz[i], data + 2 + i * width, width);
    }
  }
  CoordinateRows view;
  view.data = reinterpret_cast<const std::byte*>(single ? static_cast<const void*>(narrow.data())
                                                        : static_cast<const void*>(xyz.data()));
  view.count = rows;
  view.row_stride = static_cast<std::ptrdiff_t>(3 * width);
  view.column_stride = static_cast<std::ptrdiff_t>(width);
  view.single_precision = single;
  std::vector<char> noise(rows, 2);
  const CoordinateNoiseResult result =
      decide_coordinate_noise(view, settings, reinterpret_cast<bool*>(noise.data()));

  // Independently: the first row that is no number, else each point's 27 cells counted.
  std::size_t first_not_finite = rows;
  for (std::size_t i = 0; i < 3 * rows && first_not_finite == rows; i++) {
    if (!std::isfinite(xyz[i])) first_not_finite = i / 3;
  }
  if (first_not_finite < rows) {
    if (result.outcome != CoordinateNoiseResult::Outcome::kNotFinite ||
        result.first_not_finite != first_not_finite) {
      finding("a NaN or infinity not found first at row", std::to_string(first_not_finite));
    }
    return 0;
  }
  if (result.outcome != CoordinateNoiseResult::Outcome::kDone) {
    finding("no verdicts:", result.error);
  }
  using Cell = std::tuple<long long, long long, long long>;
  std::vector<Cell> cells(rows);
  std::vector<bool> has_cell(rows);
  std::map<Cell, std::uint64_t> counts;
  std::uint64_t cellless = 0;
  for (std::size_t i = 0; i < rows; i++) {
    long long c = 0, r = 0, l = 0;
    has_cell[i] = cell_of(xyz[3 * i], settings.step_xy, c) &&
                  cell_of(xyz[3 * i + 1], settings.step_xy, r) &&
                  cell_of(xyz[3 * i + 2], settings.step_z, l);
    if (!has_cell[i]) {
      cellless++;
      continue;
    }
    cells[i] = Cell{c, r, l};
    counts[cells[i]]++;
  }
  if (result.out_of_grid != cellless) finding("points out of the grid miscounted");
  std::uint64_t noise_points = 0;
  for (std::size_t i = 0; i < rows; i++) {
    bool expected = false;
    if (has_cell[i]) {
      const auto [c, r, l] = cells[i];
      std::uint64_t around = 0;
      for (int dc = -1; dc <= 1; dc++)
        for (int dr = -1; dr <= 1; dr++)
          for (int dl = -1; dl <= 1; dl++) {
            const auto found = counts.find(Cell{c + dc, r + dr, l + dl});
            if (found != counts.end()) around += found->second;
          }
      expected = around <= settings.isolated + std::uint64_t{1};
    }
    if (noise[i] != static_cast<char>(expected))
      finding("a verdict differs at row", std::to_string(i));
    noise_points += expected ? 1u : 0u;
  }
  if (result.noise_points != noise_points) finding("noise points miscounted");
  return 0;
}

std::vector<std::vector<std::uint8_t>> coordinate_noise_seeds() {
  std::vector<std::vector<std::uint8_t>> seeds;
  // Crowds and loners around the origin, on and off cell boundaries, in both precisions,
  // one thread and several, with and without spilling.
  for (const std::uint8_t options : {0x20, 0x31, 0xA0, 0x55}) {
    for (const std::uint8_t threads : {0x00, 0x0F}) {
      std::vector<std::uint8_t> seed{options, threads};
      const bool single = (options & 0x80) != 0;
      for (int i = 0; i < 300; i++) {
        const double crowd = (i % 3 == 0) ? 0.0 : 37.0;
        const double coordinates[3] = {crowd - 4.0 * (i % 7) + 0.01 * i, crowd + (i % 5),
                                       -2.0 + 0.5 * (i % 4)};
        for (const double value : coordinates) {
          std::uint8_t bytes[8];
          if (single) {
            const float narrow = static_cast<float>(value);
            std::memcpy(bytes, &narrow, 4);
            seed.insert(seed.end(), bytes, bytes + 4);
          } else {
            std::memcpy(bytes, &value, 8);
            seed.insert(seed.end(), bytes, bytes + 8);
          }
        }
      }
      seeds.push_back(std::move(seed));
    }
  }
  return seeds;
}

}  // namespace fuzz_entry
