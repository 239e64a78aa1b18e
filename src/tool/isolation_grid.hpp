#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "las/las_reader.hpp"
#include "model/las_point.hpp"
#include "select/las_ignore.hpp"
#include "tool/las_raster.hpp"
#include "tool/tile_budget.hpp"

// The grid's fatal conditions, such as "FATAL ERROR: cannot alloc raster_hash for
// flightline %d.\n" for a flightline that the first pass never saw. what() is the exact
// message, line end included: the run loop prints it as it is and ends with exit code 1.
// Running out of memory elsewhere surfaces as std::bad_alloc, which the run loop treats as
// a failure of the file.
class IsolationGridError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The counter kind for threshold t: the narrowest counter whose maximum exceeds t. A
// counter that can also hold t + 1 keeps a saturated cell from ever reading as t or less,
// so saturation never turns a crowded cell into an isolated one: "counter_2bit" for
// t <= 2, "counter_4bit" for t <= 14, "counter" for t <= 254, "counter_16bit" for
// t <= 65534, else "counter_32bit".
const char* counter_kind_for_threshold(std::uint32_t t);

struct IsolationGridSettings {
  float step_xy = 4.0f;         // must be positive and finite
  float step_z = 4.0f;          // must be positive and finite
  std::uint32_t threshold = 6;  // t = isolated + 1
  bool by_flightline = false;
  std::int64_t memory_limit = 6291456000;  // tile budget of all rasters together, in bytes
  std::string temp_name_base;              // empty: "taemp..." in the working directory
  // Thinly filled tiles keep their cells in tables (LASraster::set_sparse), so that
  // scattered points cost memory and time by the point, not by the area they span. The
  // verdicts are the same either way.
  bool sparse_tiles = true;
};

// The state of one grid: the counter rasters by layer, the layer cache of the first pass,
// the layer range and, after the search, the occupancy rasters of the isolated cells.
struct FlightlineGroup {
  static constexpr std::int64_t kNoLayer = INT64_MIN;  // outside every 32-bit layer index

  std::unordered_map<std::int32_t, std::unique_ptr<LASraster>> raster_hash;
  LASraster* current_raster = nullptr;
  std::int64_t current_layer = kNoLayer;
  std::int32_t min_layer = 2147483647;
  std::int32_t max_layer = -2147483647 - 1;
  // Marked cells by layer; only layers with isolated cells have an entry, so a wide
  // spread of layers (an outlier far above the ground) costs nothing.
  std::unordered_map<std::int32_t, std::unique_ptr<LASraster>> noise_rasters;
  std::uint32_t isolated_cells = 0;

  // Vegetation and outliers make consecutive points hop between layers; a small
  // direct-mapped cache by layer spares most of those hash lookups in both passes.
  struct CachedLayer {
    std::int64_t layer = kNoLayer;
    LASraster* raster = nullptr;
  };
  static constexpr std::size_t kLayerCacheSize = 64;
  std::array<CachedLayer, kLayerCacheSize> counter_cache{};
  std::array<CachedLayer, kLayerCacheSize> noise_cache{};
  static std::size_t cache_slot(std::int32_t layer) {
    return static_cast<std::uint32_t>(layer) % kLayerCacheSize;
  }

  // max_layer - min_layer + 1, or 0 before the first counted point.
  std::uint32_t layer_count() const;
};

// A point of the first pass placed in the grid: its cell (when `in_grid`) and flightline.
struct LocatedPoint {
  std::int32_t layer;
  std::int32_t column;
  std::int32_t row;
  std::uint16_t flightline;
  bool in_grid;
};

// What the search found in one grid (flightline -1 without by-flightline).
struct GroupSearchResult {
  std::int32_t flightline;
  std::uint32_t isolated_cells;
};

// The isolation grid of one file. Phases, in order:
//   1. first pass: `add_point` for every point read (or `first_pass(reader)`), then
//      `finish_first_pass`;
//   2. `search`: marks the isolated cells and frees the counter rasters as it goes;
//   3. second pass: `is_noise` for every point that is not ignored;
//   4. destruction (or `release`) frees everything.
//
// A cell (column, row, layer) is floor(x / step_xy), floor(y / step_xy), floor(z / step_z).
// A point whose cell index lies outside kMinCellIndex ... kMaxCellIndex (coordinates far
// out, NaN, infinities) has no cell: it is counted nowhere, never noise, and reported by
// `out_of_grid_count`. Points that the ignore set ignores are neither counted nor tested.
//
// The grid borrows the ignore set, which must outlive it. It prints nothing: the print_*
// functions below give the verbose lines, with the caller's timings.
class IsolationGrid {
 public:
  // Throws IsolationGridError when a step is not a positive finite number.
  IsolationGrid(const IsolationGridSettings& settings, const LASignore* ignore);
  ~IsolationGrid();
  IsolationGrid(const IsolationGrid&) = delete;
  IsolationGrid& operator=(const IsolationGrid&) = delete;

  // First pass, one point. May throw IsolationGridError (a flightline group that cannot
  // be allocated) and std::bad_alloc.
  void add_point(const LASpoint& point) {
    if (ignore_ != nullptr && ignore_->ignore(point)) {
      ignored_count_++;
      return;
    }
    add_coordinates(point.get_x(), point.get_y(), point.get_z(), point.point_source_ID);
  }
  // add_point for a point given by its coordinates and point source ID (points held by the
  // caller, not read from a file); the ignore set plays no part.
  void add_point_at(double x, double y, double z, std::uint16_t flightline) {
    add_coordinates(x, y, z, flightline);
  }

  // First pass over any reader with `bool read_next()` and a public `LASpoint point`:
  // counts every point, ends the pass and returns the number of ignored points. The
  // caller closes the reader. From a reader that hands out its stored records (see
  // LASreader::take_raw_records) the coordinates are taken straight from the records
  // while the ignore set is empty: the same points, counted in the same order, without
  // filling a point for each.
  template <class Reader>
  std::uint64_t first_pass(Reader& reader) {
    if constexpr (std::is_base_of_v<LASreader, Reader>) {
      if ((ignore_ == nullptr || ignore_->flags == 0) && reader.delivers_raw_records() &&
          count_raw_records(reader)) {
        finish_first_pass();
        return ignored_count_;
      }
    }
    // A point that could not be counted makes the counts useless (see uncounted_count):
    // the pass ends there rather than failing once for every point after it.
    std::uint64_t points = 0;
    while (uncounted_count_ == 0 && reader.read_next()) {
      add_point(reader.point);
      if (progress_ && (++points & 0x3FFF) == 0) progress_(points);
    }
    finish_first_pass();
    return ignored_count_;
  }
  void finish_first_pass();
  // Called now and then during the first pass with the points read so far.
  void set_progress(std::function<void(std::uint64_t)> progress) {
    progress_ = std::move(progress);
  }
  // Lets the second pass run again from its first point (a pass that only tallies, then
  // the one that writes).
  void restart_in_order() { tested_points_ = 0; }
  // True once a tile could not be written to or read from a temporary file (its one
  // "ERROR: " line printed): counts or marks are missing.
  bool spill_failed() const;

  // Marks the isolated cells of every grid (groups in ascending point source ID) and
  // returns their number. `after_group`, when given, is called after each grid, so that
  // the caller can print "took %g sec. found %d isolated cells for flightline %d.\n".
  // Throws IsolationGridError "ERROR: cannot alloc noise_raster_array for %d rasters.\n"
  // when no room is left for the marks of a layer.
  std::uint64_t search(const std::function<void(const GroupSearchResult&)>& after_group = {});

  // Between the first pass and the search: the cells of points taken evenly from the order
  // of the first pass (every k-th counted point, k doubling as they pile up, so at most
  // 2 * kNeighbourhoodSamples of them), for a survey of how many points lie around a typical
  // point. `sample_neighbourhood(i, reach)` is the number of points counted in the cube of
  // (2 reach + 1)^3 cells around sample i, in its flightline's grid (counters read as the
  // smaller of their count and their maximum): reach 1 is the cell and its 26 neighbours.
  static constexpr std::size_t kNeighbourhoodSamples = 4096;
  std::size_t neighbourhood_sample_count() const { return samples_.size(); }
  std::uint64_t sample_neighbourhood(std::size_t sample, std::int32_t reach);

  // Second pass: true when the point's cell is marked. The caller skips ignored points.
  // Throws IsolationGridError "FATAL ERROR: cannot alloc raster_hash for flightline %d.\n"
  // for a point source ID that the first pass never saw (with by-flightline).
  bool is_noise(const LASpoint& point) {
    return is_noise_at(point.get_x(), point.get_y(), point.get_z(), point.point_source_ID);
  }
  // is_noise for a point given by its coordinates and point source ID.
  bool is_noise_at(double x, double y, double z, std::uint16_t flightline) {
    if (by_flightline_ && flightline != current_flightline_) {
      switch_flightline_for_testing(flightline);
    }
    // The layer first: in a layer without isolated cells (most points are in one) the
    // column and row are not needed.
    std::int32_t layer, column, row;
    if (!layer_index_.index_of(z, layer)) return false;
    if (layer != test_layer_) switch_test_layer(layer);
    if (test_raster_ == nullptr) return false;
    if (!column_index_.index_of(x, column) || !row_index_.index_of(y, row)) return false;
    return test_raster_->count_cell(column, row) != 0;
  }

  // Second pass, the same verdict as is_noise for the points in the order that add_point
  // was given them, the ignored ones left out: once for each. Only the points that were
  // among the first t of their cell when they were counted need a look at the grid; the
  // others lie in a cell of more than t points (about nine in ten in a dense survey), which
  // the search never marks.
  bool is_noise_in_order(const LASpoint& point) {
    if (!may_be_noise_in_order()) return false;
    return is_noise(point);
  }
  // The first half of is_noise_in_order: false for a point that cannot be noise; otherwise
  // is_noise (or is_noise_at) decides.
  bool may_be_noise_in_order() {
    const std::uint64_t i = tested_points_++;
    return i >= remembered_points_ || ((candidates_[i >> 6] >> (i & 63)) & 1u) != 0;
  }

  // Frees every raster and group.
  void release();

  bool by_flightline() const { return by_flightline_; }
  std::uint64_t ignored_count() const { return ignored_count_; }
  // Every point the first pass was given, the ignored ones included.
  std::uint64_t first_pass_points() const { return located_points_ + ignored_count_; }
  std::uint64_t out_of_grid_count() const { return out_of_grid_count_; }
  // Points whose tile could not be had (the raster printed why).
  std::uint64_t uncounted_count() const { return uncounted_count_; }
  // Layers of the grid read last: the number for "created %u grid layers".
  std::uint32_t created_layers() const;
  std::uint32_t group_count() const;
  const char* counter_kind() const { return counter_kind_; }
  // Most bytes that the rasters held at once (tile buffers, tile records, maps), sampled
  // at the end of the first pass and after each layer of the search.
  std::uint64_t peak_memory_bytes() const { return peak_memory_bytes_; }
  std::uint64_t memory_bytes() const;
  // Tile writes and reads of spill files over all rasters so far.
  std::uint64_t spill_writes() const;
  std::uint64_t spill_reads() const;

 private:
  // add_point after the ignore test.
  void add_coordinates(double x, double y, double z, std::uint16_t flightline) {
    if (by_flightline_ && flightline != current_flightline_) {
      switch_flightline_for_counting(flightline);
    }
    std::int32_t layer, column, row;
    if (!cell_of(x, y, z, layer, column, row)) {
      out_of_grid_count_++;
      remember_candidate(false);
      return;
    }
    count_in_cell(layer, column, row);
  }
  // A point located by the thread of count_raw_records, counted as add_coordinates would.
  void add_located(const LocatedPoint& point) {
    if (by_flightline_ && point.flightline != current_flightline_) {
      switch_flightline_for_counting(point.flightline);
    }
    if (!point.in_grid) {
      out_of_grid_count_++;
      remember_candidate(false);
      return;
    }
    count_in_cell(point.layer, point.column, point.row);
  }
  void count_in_cell(std::int32_t layer, std::int32_t column, std::int32_t row) {
    FlightlineGroup& group = *current_group_;
    if (layer < group.min_layer) group.min_layer = layer;
    if (layer > group.max_layer) group.max_layer = layer;
    if (layer != group.current_layer) switch_layer(group, layer);
    const std::uint32_t count = group.current_raster->add_to_counter(column, row);
    if (count == 0) {
      uncounted_count_++;
      remember_candidate(true);
      return;
    }
    // A cell that holds more than t points is not isolated, whatever comes later.
    remember_candidate(count <= threshold_);
    if (--sample_countdown_ == 0) take_sample(layer, column, row);
  }
  // The first pass from stored records (see first_pass); false, having counted nothing,
  // when the records are not laid out as expected. Reads on with read_next whenever no
  // whole record is buffered, so every point is counted either way. A second thread reads
  // and locates the points (the cell indices are most of the work per point) while this
  // one counts them, in the order read.
  bool count_raw_records(LASreader& reader);
  bool cell_of(double x, double y, double z, std::int32_t& layer, std::int32_t& column,
               std::int32_t& row) {
    return layer_index_.index_of(z, layer) && column_index_.index_of(x, column) &&
           row_index_.index_of(y, row);
  }
  // One bit per counted point for is_noise_in_order (up to kRememberedPoints of them; the
  // points beyond are all looked at): whether its cell held at most t points after it.
  static constexpr std::uint64_t kRememberedPoints = std::uint64_t{1} << 27;  // 16 MiB
  void remember_candidate(bool candidate) {
    located_points_++;
    const std::uint64_t i = remembered_points_;
    if (i == kRememberedPoints) return;
    if ((i & 63) == 0) candidates_.push_back(0);
    candidates_.back() |= static_cast<std::uint64_t>(candidate) << (i & 63);
    remembered_points_ = i + 1;
  }
  void take_sample(std::int32_t layer, std::int32_t column, std::int32_t row);
  void switch_flightline_for_counting(std::uint16_t flightline);
  void switch_flightline_for_testing(std::uint16_t flightline);
  void switch_layer(FlightlineGroup& group, std::int32_t layer);
  void switch_test_layer(std::int32_t layer);
  std::unique_ptr<LASraster> make_raster(const char* kind) const;
  std::uint32_t search_group(FlightlineGroup& group);
  LASraster* add_noise_raster(FlightlineGroup& group, std::int32_t layer);
  void note_spill(const LASraster& raster);

  double step_xy_;
  double step_z_;
  double inverse_xy_;  // 1 / step: cell indices mostly without a division
  double inverse_z_;
  LastCellIndex layer_index_;
  LastCellIndex column_index_;
  LastCellIndex row_index_;
  std::uint32_t threshold_;
  bool by_flightline_;
  std::int64_t memory_limit_;
  bool sparse_tiles_;
  // One budget for all rasters of the grid; declared before them, so it outlives them.
  std::unique_ptr<TileBudget> budget_;
  std::function<void(std::uint64_t)> progress_;
  std::string temp_name_base_;
  const char* counter_kind_;
  const LASignore* ignore_;

  FlightlineGroup single_;
  std::map<std::uint16_t, FlightlineGroup> flightlines_;
  FlightlineGroup* current_group_;
  std::int32_t current_flightline_ = -1;

  std::int64_t test_layer_ = FlightlineGroup::kNoLayer;
  LASraster* test_raster_ = nullptr;

  struct CellSample {
    std::int32_t flightline;  // -1 for the single grid
    std::int32_t layer, column, row;
  };
  std::vector<CellSample> samples_;
  std::uint64_t sample_stride_ = 1;
  std::uint64_t sample_countdown_ = 1;

  std::vector<std::uint64_t> candidates_;
  std::uint64_t remembered_points_ = 0;
  std::uint64_t tested_points_ = 0;  // given to is_noise_in_order
  std::uint64_t ignored_count_ = 0;
  std::uint64_t located_points_ = 0;  // not ignored: counted, out of the grid or uncounted
  std::uint64_t out_of_grid_count_ = 0;
  std::uint64_t uncounted_count_ = 0;
  std::uint64_t peak_memory_bytes_ = 0;
  std::uint64_t spill_writes_ = 0;
  std::uint64_t spill_reads_ = 0;
};

// The verbose lines of the grid's phases, on stderr, with the caller's timings.
// "ignored %I64d points (that will also survive).\n", only when count is not 0.
void print_ignored_points(std::uint64_t count);
// "took %g sec. created %u grid layers. finding isolated cells ...\n"
void print_first_pass_done(double seconds, std::uint32_t layers);
// "took %g sec. found %d isolated cells for flightline %d.\n"
void print_flightline_search_done(double seconds, const GroupSearchResult& result);
// "took %g sec. found %d isolated cells. now outputting ...\n"
void print_search_done(double seconds, std::uint64_t isolated_cells);
// "now outputting ...\n", after the last flightline.
void print_now_outputting();
