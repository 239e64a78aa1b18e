#include "tool/coordinate_noise.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "stream/worker_pool.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/las_raster.hpp"
#include "tool/temporary_directory.hpp"

// The rows are split into parts by column (x), one grid and one thread each: a part's grid
// counts the points of its own columns and of the one column on either side of them, so
// every cell around a point of its own holds in that grid what it holds in a grid of all
// points, and the verdict is the same. The parts read the rows in order, each taking its own,
// so each part's grid sees its points in the order of the rows, and every phase (counting,
// search, verdicts) runs on all parts at once.

namespace {

using Outcome = CoordinateNoiseResult::Outcome;

// Rows between two looks at `keep_going` (on the calling thread) and at the stop flag, less
// one (a mask): a look costs little beside 65536 rows, and a stop comes soon.
constexpr std::uint64_t kLookEvery = (std::uint64_t{1} << 16) - 1;
// Rows sampled for the columns that split the parts.
constexpr std::uint64_t kSampledRows = 4096;
// How often the calling thread asks `keep_going` while it waits for the other parts.
constexpr auto kWaitingAsk = std::chrono::milliseconds(50);

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

double inverse_of(float step) {
  return 1.0 / static_cast<double>(step);
}

// What a part does with a row.
enum class Role { kSkip, kOwn, kNeighbour };

// The columns a part owns, and the role of a row by its x, placed in a column as the grid
// places it. A row without a column (x out of the grid's range, or not a number) belongs to
// the first part: its grid counts it nowhere (or tells that it is no number), as a grid of
// all points would.
class PartColumns {
 public:
  PartColumns(const CoordinateNoiseSettings& settings, std::int64_t first, std::int64_t last,
              bool whole)
      : column_(settings.step_xy, inverse_of(settings.step_xy)),
        step_xy_(settings.step_xy),
        step_z_(settings.step_z),
        first_(first),
        last_(last),
        whole_(whole) {}

  bool whole() const { return whole_; }
  Role role_of(double x) {
    if (whole_) return Role::kOwn;
    std::int32_t column;
    if (!column_.index_of(x, column)) return first_ == INT64_MIN ? Role::kOwn : Role::kSkip;
    if (column < first_) return column == first_ - 1 ? Role::kNeighbour : Role::kSkip;
    if (column > last_) return column == last_ + 1 ? Role::kNeighbour : Role::kSkip;
    return Role::kOwn;
  }
  // Whether a neighbour's row has a cell: one without is counted by its owner alone, so that
  // the parts' counts of such rows add up (the verdicts would be the same either way).
  bool neighbour_has_cell(double y, double z) const {
    std::int32_t row, layer;
    return cell_index_of(y, step_xy_, row) && cell_index_of(z, step_z_, layer);
  }

 private:
  LastCellIndex column_;
  double step_xy_;
  double step_z_;
  std::int64_t first_;
  std::int64_t last_;
  bool whole_;
};

// What every part reads now and then: a reason to stop, and the first row found so far that
// holds no number. A part that has read past that row stops: a row of its own before it would
// have been found already.
struct SharedState {
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> first_not_finite{UINT64_MAX};

  bool stop_raised() const { return stop.load(std::memory_order_relaxed); }
  void not_finite_at(std::uint64_t row) {
    std::uint64_t known = first_not_finite.load();
    while (row < known && !first_not_finite.compare_exchange_weak(known, row)) {
    }
  }
  bool past_not_finite(std::uint64_t row) const {
    return row > first_not_finite.load(std::memory_order_relaxed);
  }
};

class Part {
 public:
  Part(const CoordinateRows& rows, PartColumns columns, IsolationGridSettings grid_settings,
       bool* noise, SharedState& shared, const std::function<bool()>* keep_going)
      : rows_(rows),
        columns_(std::move(columns)),
        grid_settings_(std::move(grid_settings)),
        noise_(noise),
        shared_(shared),
        keep_going_(keep_going) {}

  // Counts, searches and decides the part's rows; never throws (a failure is kept for the
  // caller and stops the other parts).
  void run() {
    try {
      IsolationGrid grid(grid_settings_, nullptr);
      if (rows_.single_precision) {
        decide<float>(grid);
      } else {
        decide<double>(grid);
      }
      result.spilled_tiles = grid.spill_writes();
    } catch (const IsolationGridError& error) {
      // No room for the marks of a layer (the steps were checked before).
      result.outcome = Outcome::kFailed;
      result.error = error.what();
      while (!result.error.empty() && result.error.back() == '\n')
        result.error.pop_back();
    } catch (...) {
      failure = std::current_exception();
    }
    if (result.outcome == Outcome::kFailed || failure) shared_.stop = true;
  }

  CoordinateNoiseResult result;
  std::exception_ptr failure;  // std::bad_alloc, for the caller to throw

 private:
  // Whether to end early: `keep_going` said no (asked on the calling thread only), another
  // part failed, or a row before this one holds no number.
  bool should_stop(std::uint64_t row) {
    if ((row & kLookEvery) != kLookEvery) return false;
    if (keep_going_ != nullptr && *keep_going_ && !(*keep_going_)()) shared_.stop = true;
    return shared_.stop_raised() || shared_.past_not_finite(row);
  }

  template <class Value>
  void decide(IsolationGrid& grid) {
    if (!count_rows<Value>(grid)) return;
    grid.finish_first_pass();
    result.out_of_grid = grid.out_of_grid_count();
    // A point that could not be counted (its tile lost to a failed spill) could make a
    // crowded neighbourhood look isolated: no verdict rather than a wrong one.
    if (grid.uncounted_count() != 0 || grid.spill_failed()) {
      fail("the temporary files of the grid could not be written");
      return;
    }
    grid.search();
    if (grid.spill_failed()) {
      fail("the temporary files of the grid could not be written");
      return;
    }
    if (!test_rows<Value>(grid)) return;
    if (grid.spill_failed()) fail("the temporary files of the grid could not be read");
  }

  void fail(const char* why) {
    result.outcome = Outcome::kFailed;
    result.error = why;
  }

  template <class Value>
  bool count_rows(IsolationGrid& grid) {
    RowWalk<Value> walk(rows_);
    PartColumns columns = columns_;
    if (!columns.whole()) taken_.assign((rows_.count + 63) / 64, 0);
    for (std::uint64_t i = 0; i < rows_.count; i++, walk.next()) {
      const double x = walk.x();
      const Role role = columns.role_of(x);
      if (role != Role::kSkip) {
        const double y = walk.y(), z = walk.z();
        if (role == Role::kOwn) {
          // A NaN would only be out of the grid (never noise); in coordinates held in memory
          // it is far more likely a fault of the caller's data, which the caller is told of.
          if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
            result.outcome = Outcome::kNotFinite;
            result.first_not_finite = i;
            shared_.not_finite_at(i);
            return false;
          }
          grid.add_point_at(x, y, z, 0);
          if (!taken_.empty()) taken_[i >> 6] |= std::uint64_t{1} << (i & 63);
        } else if (columns.neighbour_has_cell(y, z)) {
          grid.add_point_at(x, y, z, 0);
          taken_[i >> 6] |= std::uint64_t{1} << (i & 63);
        }
      }
      if (should_stop(i)) {
        result.outcome = Outcome::kStopped;
        return false;
      }
    }
    return true;
  }

  // The second pass, over the rows of the first in their order, as the tool's second pass
  // asks the grid: every row in one part, else the rows taken in the first pass.
  template <class Value>
  bool test_rows(IsolationGrid& grid) {
    std::uint64_t noise_points = 0;
    const auto test = [&](std::uint64_t i, double x, double y, double z) {
      const bool is_noise = grid.may_be_noise_in_order() && grid.is_noise_at(x, y, z, 0);
      noise_[i] = is_noise;
      noise_points += is_noise ? 1u : 0u;
    };
    if (taken_.empty()) {
      RowWalk<Value> walk(rows_);
      for (std::uint64_t i = 0; i < rows_.count; i++, walk.next()) {
        test(i, walk.x(), walk.y(), walk.z());
        if (should_stop(i)) return stopped();
      }
    } else {
      PartColumns columns = columns_;
      for (std::uint64_t word = 0; word < taken_.size(); word++) {
        for (std::uint64_t bits = taken_[word]; bits != 0; bits &= bits - 1) {
          const std::uint64_t i = (word << 6) | static_cast<unsigned>(std::countr_zero(bits));
          const std::byte* row = rows_.data + static_cast<std::ptrdiff_t>(i) * rows_.row_stride;
          const double x = coordinate_at<Value>(row);
          const double y = coordinate_at<Value>(row + rows_.column_stride);
          const double z = coordinate_at<Value>(row + 2 * rows_.column_stride);
          if (columns.role_of(x) == Role::kOwn) {
            test(i, x, y, z);
          } else {
            grid.may_be_noise_in_order();  // a neighbour's row, counted here: keeps the order
          }
        }
        if (should_stop(word << 6 | 63)) return stopped();
      }
    }
    result.noise_points = noise_points;
    return true;
  }

  bool stopped() {
    result.outcome = Outcome::kStopped;
    return false;
  }

  const CoordinateRows& rows_;
  PartColumns columns_;
  IsolationGridSettings grid_settings_;
  bool* noise_;
  SharedState& shared_;
  const std::function<bool()>* keep_going_;  // set for the part of the calling thread
  // With several parts: a bit for each row that the first pass counted, for the second.
  std::vector<std::uint64_t> taken_;
};

// The first column of each part after the first, at quantiles of the columns of a sample of
// rows: the parts get about as many rows each. Fewer when the columns do not spread so far.
template <class Value>
std::vector<std::int64_t> part_starts(const CoordinateRows& rows, float step_xy, unsigned parts) {
  std::vector<std::int32_t> columns;
  const std::uint64_t stride = std::max<std::uint64_t>(1, rows.count / kSampledRows);
  for (std::uint64_t i = 0; i < rows.count; i += stride) {
    const double x =
        coordinate_at<Value>(rows.data + static_cast<std::ptrdiff_t>(i) * rows.row_stride);
    std::int32_t column;
    if (cell_index_of(x, static_cast<double>(step_xy), column)) columns.push_back(column);
  }
  std::sort(columns.begin(), columns.end());
  std::vector<std::int64_t> starts;
  for (unsigned part = 1; part < parts && !columns.empty(); part++) {
    const std::int64_t start = columns[columns.size() * part / parts];
    if (start > (starts.empty() ? std::int64_t{columns.front()} : starts.back())) {
      starts.push_back(start);
    }
  }
  return starts;
}

unsigned part_count(const CoordinateRows& rows, const CoordinateNoiseSettings& settings) {
  const unsigned threads = settings.threads != 0 ? settings.threads : WorkerPool::machine_cores();
  const std::uint64_t by_rows = rows.count / std::max<std::uint64_t>(1, settings.rows_per_thread);
  return static_cast<unsigned>(std::clamp<std::uint64_t>(by_rows, 1, threads));
}

// Waits for the other parts' threads, asking `keep_going` now and then.
class PartsDone {
 public:
  void one_done() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      done_++;
    }
    changed_.notify_one();
  }
  void wait_for(unsigned count, SharedState& shared, const std::function<bool()>& keep_going) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, kWaitingAsk, [&] { return done_ == count; })) {
      if (!shared.stop_raised() && keep_going && !keep_going()) shared.stop = true;
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned done_ = 0;
};

// The result of all parts: the first row that is no number, else a failure, else a stop.
CoordinateNoiseResult merged(const std::vector<std::unique_ptr<Part>>& parts) {
  CoordinateNoiseResult all;
  for (const auto& part : parts) {
    const CoordinateNoiseResult& one = part->result;
    all.noise_points += one.noise_points;
    all.out_of_grid += one.out_of_grid;
    all.spilled_tiles += one.spilled_tiles;
    if (one.outcome == Outcome::kNotFinite &&
        (all.outcome != Outcome::kNotFinite || one.first_not_finite < all.first_not_finite)) {
      all.outcome = Outcome::kNotFinite;
      all.first_not_finite = one.first_not_finite;
    } else if (one.outcome == Outcome::kFailed && all.outcome != Outcome::kNotFinite &&
               all.outcome != Outcome::kFailed) {
      all.outcome = Outcome::kFailed;
      all.error = one.error;
    } else if (one.outcome == Outcome::kStopped && all.outcome == Outcome::kDone) {
      all.outcome = Outcome::kStopped;
    }
  }
  return all;
}

}  // namespace

CoordinateNoiseResult decide_coordinate_noise(const CoordinateRows& rows,
                                              const CoordinateNoiseSettings& settings, bool* noise,
                                              const std::function<bool()>& keep_going) {
  CoordinateNoiseResult result;
  if (!(settings.step_xy > 0.0f && std::isfinite(settings.step_xy) && settings.step_z > 0.0f &&
        std::isfinite(settings.step_z))) {
    result.outcome = Outcome::kFailed;
    result.error = "the steps must be positive finite numbers";
    return result;
  }
  // Declared before the grids: the spill files go before their folder does.
  TemporaryDirectory temporary;
  if (!temporary.ok()) {
    result.outcome = Outcome::kFailed;
    result.error = "no room for the temporary files of the grid";
    return result;
  }

  const std::vector<std::int64_t> starts =
      rows.single_precision
          ? part_starts<float>(rows, settings.step_xy, part_count(rows, settings))
          : part_starts<double>(rows, settings.step_xy, part_count(rows, settings));
  const auto count = static_cast<unsigned>(starts.size() + 1);
  SharedState shared;
  std::vector<std::unique_ptr<Part>> parts;
  for (unsigned k = 0; k < count; k++) {
    IsolationGridSettings grid_settings;
    grid_settings.step_xy = settings.step_xy;
    grid_settings.step_z = settings.step_z;
    // t = isolated + 1, kept within the widest counter.
    grid_settings.threshold = settings.isolated < UINT32_MAX ? settings.isolated + 1 : UINT32_MAX;
    grid_settings.memory_limit = settings.memory_limit / count;
    grid_settings.temp_name_base = temporary.file_base() + std::to_string(k) + "-";
    const std::int64_t first = k == 0 ? INT64_MIN : starts[k - 1];
    const std::int64_t last = k + 1 == count ? INT64_MAX : starts[k] - 1;
    PartColumns columns(settings, first, last, count == 1);
    parts.push_back(std::make_unique<Part>(rows, columns, grid_settings, noise, shared,
                                           k == 0 ? &keep_going : nullptr));
  }

  // The first part on the calling thread (it alone asks `keep_going`), the others on threads
  // of their own; a part whose thread cannot be started runs here after the first.
  PartsDone done;
  std::vector<std::thread> threads;
  std::vector<Part*> left_here;
  for (unsigned k = 1; k < count; k++) {
    Part* part = parts[k].get();
    try {
      threads.emplace_back([part, &done] {
        part->run();
        done.one_done();
      });
    } catch (const std::system_error&) {
      left_here.push_back(part);
    }
  }
  parts[0]->run();
  for (Part* part : left_here)
    part->run();
  done.wait_for(static_cast<unsigned>(threads.size()), shared, keep_going);
  for (std::thread& thread : threads)
    thread.join();

  for (const auto& part : parts) {
    if (part->failure) std::rethrow_exception(part->failure);
  }
  return merged(parts);
}
