#include "tool/coordinate_noise.hpp"

#include <cmath>
#include <cstring>

#include "tool/isolation_grid.hpp"
#include "tool/temporary_directory.hpp"

namespace {

// Rows between two questions to `keep_going`, less one (a mask).
constexpr std::uint64_t kAskEvery = (std::uint64_t{1} << 20) - 1;

// One coordinate of a row, widened to double as the grid computes.
template <class Value>
double coordinate_at(const std::byte* at) {
  Value value;
  std::memcpy(&value, at, sizeof(value));
  return static_cast<double>(value);
}

template <class Value>
class RowWalk {
 public:
  explicit RowWalk(const CoordinateRows& rows)
      : row_(rows.data), row_stride_(rows.row_stride), column_stride_(rows.column_stride) {}
  void next() { row_ += row_stride_; }
  double x() const { return coordinate_at<Value>(row_); }
  double y() const { return coordinate_at<Value>(row_ + column_stride_); }
  double z() const { return coordinate_at<Value>(row_ + 2 * column_stride_); }

 private:
  const std::byte* row_;
  std::ptrdiff_t row_stride_;
  std::ptrdiff_t column_stride_;
};

bool asked_to_stop(std::uint64_t row, const std::function<bool()>& keep_going) {
  return (row & kAskEvery) == kAskEvery && keep_going && !keep_going();
}

// The first pass; false when it ended early (the outcome says why).
template <class Value>
bool count_rows(IsolationGrid& grid, const CoordinateRows& rows,
                const std::function<bool()>& keep_going, CoordinateNoiseResult& result) {
  RowWalk<Value> walk(rows);
  for (std::uint64_t i = 0; i < rows.count; i++, walk.next()) {
    const double x = walk.x(), y = walk.y(), z = walk.z();
    // A NaN would only be out of the grid (never noise); for coordinates held in memory it
    // is far more likely a fault of the caller's data, which the caller is told about.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
      result.outcome = CoordinateNoiseResult::Outcome::kNotFinite;
      result.first_not_finite = i;
      return false;
    }
    grid.add_point_at(x, y, z, 0);
    if (asked_to_stop(i, keep_going)) {
      result.outcome = CoordinateNoiseResult::Outcome::kStopped;
      return false;
    }
  }
  return true;
}

// The second pass, in the order of the first, as the tool's second pass asks.
template <class Value>
bool test_rows(IsolationGrid& grid, const CoordinateRows& rows,
               const std::function<bool()>& keep_going, bool* noise,
               CoordinateNoiseResult& result) {
  RowWalk<Value> walk(rows);
  std::uint64_t noise_points = 0;
  for (std::uint64_t i = 0; i < rows.count; i++, walk.next()) {
    const bool is_noise =
        grid.may_be_noise_in_order() && grid.is_noise_at(walk.x(), walk.y(), walk.z(), 0);
    noise[i] = is_noise;
    noise_points += is_noise ? 1u : 0u;
    if (asked_to_stop(i, keep_going)) {
      result.outcome = CoordinateNoiseResult::Outcome::kStopped;
      return false;
    }
  }
  result.noise_points = noise_points;
  return true;
}

template <class Value>
void decide(IsolationGrid& grid, const CoordinateRows& rows,
            const std::function<bool()>& keep_going, bool* noise, CoordinateNoiseResult& result) {
  if (!count_rows<Value>(grid, rows, keep_going, result)) return;
  grid.finish_first_pass();
  result.out_of_grid = grid.out_of_grid_count();
  // A point that could not be counted (its tile lost to a failed spill) could make a crowded
  // neighbourhood look isolated: no verdict rather than a wrong one.
  if (grid.uncounted_count() != 0 || grid.spill_failed()) {
    result.outcome = CoordinateNoiseResult::Outcome::kFailed;
    result.error = "the temporary files of the grid could not be written";
    return;
  }
  grid.search();
  if (grid.spill_failed()) {
    result.outcome = CoordinateNoiseResult::Outcome::kFailed;
    result.error = "the temporary files of the grid could not be written";
    return;
  }
  if (!test_rows<Value>(grid, rows, keep_going, noise, result)) return;
  if (grid.spill_failed()) {
    result.outcome = CoordinateNoiseResult::Outcome::kFailed;
    result.error = "the temporary files of the grid could not be read";
  }
}

}  // namespace

CoordinateNoiseResult decide_coordinate_noise(const CoordinateRows& rows,
                                              const CoordinateNoiseSettings& settings, bool* noise,
                                              const std::function<bool()>& keep_going) {
  CoordinateNoiseResult result;
  // Declared before the grid: the spill files go before their folder does.
  TemporaryDirectory temporary;
  if (!temporary.ok()) {
    result.outcome = CoordinateNoiseResult::Outcome::kFailed;
    result.error = "no room for the temporary files of the grid";
    return result;
  }
  IsolationGridSettings grid_settings;
  grid_settings.step_xy = settings.step_xy;
  grid_settings.step_z = settings.step_z;
  // t = isolated + 1, kept within the widest counter.
  grid_settings.threshold = settings.isolated < UINT32_MAX ? settings.isolated + 1 : UINT32_MAX;
  grid_settings.memory_limit = settings.memory_limit;
  grid_settings.temp_name_base = temporary.file_base();
  try {
    IsolationGrid grid(grid_settings, nullptr);
    if (rows.single_precision) {
      decide<float>(grid, rows, keep_going, noise, result);
    } else {
      decide<double>(grid, rows, keep_going, noise, result);
    }
    result.spilled_tiles = grid.spill_writes();
  } catch (const IsolationGridError& error) {
    // A step that is no positive finite number, or no room for the marks of a layer.
    result.outcome = CoordinateNoiseResult::Outcome::kFailed;
    result.error = error.what();
    while (!result.error.empty() && result.error.back() == '\n')
      result.error.pop_back();
  }
  return result;
}
