#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "stream/temporary_file.hpp"
#include "tool/cell_table.hpp"

class LASpoint;
class TileBudget;

// Cell indices usable by rasters and grids: one short of the signed 32-bit range at both
// ends, so that the neighbours c - 1 and c + 1 of every usable cell are usable numbers too
// and never wrap around to the other end of the range.
inline constexpr std::int32_t kMinCellIndex = -2147483647;
inline constexpr std::int32_t kMaxCellIndex = 2147483646;

// floor(coordinate / step) as a cell index. False, leaving `index` alone, when the quotient
// is NaN or its floor lies outside kMinCellIndex ... kMaxCellIndex (a coordinate far out,
// an infinite one, or a tiny step): such a coordinate has no cell. Floor is truncation,
// minus one when truncation went up, so a coordinate on a boundary belongs to the cell
// above it.
inline bool cell_index_of(double coordinate, double step, std::int32_t& index) {
  const double quotient = coordinate / step;
  // Written so that NaN fails too; the bounds keep the conversion below defined.
  if (!(quotient >= -2147483647.0 && quotient < 2147483647.0)) return false;
  std::int32_t truncated = static_cast<std::int32_t>(quotient);
  if (truncated > quotient) truncated--;
  index = truncated;
  return true;
}

// The same as cell_index_of, with `inverse` = 1 / step, but mostly without a division:
// the product coordinate * inverse is within a few ulps of the quotient, so when it lies
// clearly inside a cell, the quotient lies in the same cell. Near a boundary (and out of
// range) the exact division decides.
//
// The product and the quotient differ by at most 3.3 * 2^-53 of their size (the rounding of
// the inverse, of the product and of the quotient): below 2^31, by less than 8e-7. One
// margin for the whole range, 2^-18, keeps that well clear and costs a division only for
// every 130000th coordinate.
inline constexpr double kCellFractionMargin = 1.0 / 262144.0;
inline bool cell_index_of(double coordinate, double step, double inverse, std::int32_t& index) {
  const double estimate = coordinate * inverse;
  if (estimate >= -2147483646.0 && estimate < 2147483646.0) {
    std::int32_t truncated = static_cast<std::int32_t>(estimate);
    if (truncated > estimate) truncated--;
    const double fraction = estimate - truncated;  // exact
    if (fraction > kCellFractionMargin && fraction < 1.0 - kCellFractionMargin) {
      index = truncated;
      return true;
    }
  }
  return cell_index_of(coordinate, step, index);
}

// One tile of a raster (named LASrasterTile in messages). Its buffer is borrowed from the
// raster's buffer pool and is null while the tile lives only in a temporary file.
// cell_index_of with the inverse, remembering the cell it gave last: a coordinate whose
// estimate lies clearly inside that cell (most do, as the points of a scan follow one
// another) is placed without the conversions to an integer and back, which make most of the
// cost of a cell index. The same margin as in cell_index_of makes the answer the same.
class LastCellIndex {
 public:
  LastCellIndex(double step, double inverse) : step_(step), inverse_(inverse) {}
  bool index_of(double coordinate, std::int32_t& index) {
    const double fraction = coordinate * inverse_ - last_value_;
    if (fraction > kCellFractionMargin && fraction < 1.0 - kCellFractionMargin) {
      index = last_index_;
      return true;
    }
    if (!cell_index_of(coordinate, step_, inverse_, index)) return false;
    last_index_ = index;
    last_value_ = index;
    return true;
  }

 private:
  double step_;
  double inverse_;
  double last_value_ = std::numeric_limits<double>::quiet_NaN();  // no cell yet
  std::int32_t last_index_ = 0;
};

struct RasterTileNode {
  static constexpr std::uint32_t kSlotMask = 0x3FFFFFFFu;
  static constexpr std::uint32_t kSlotAssigned = 0x40000000u;
  static constexpr std::uint32_t kClean = 0x80000000u;  // buffer equals the disk copy

  std::uint8_t* buffer = nullptr;
  std::uint32_t state = 0;  // bits 0-29 disk slot, kSlotAssigned, kClean
  std::uint16_t writes = 0;
  std::uint16_t reads = 0;
  RasterTileNode* next = nullptr;  // towards the least recently used tile
  RasterTileNode* prev = nullptr;  // towards the most recently used tile
};

// A sparse raster of cells addressed by signed 32-bit column and row, stored in tiles of
// 100 x 100 cells that are made only where cells are touched. The kind (`set_kind`) decides
// what a cell holds: a saturating counter of 2 to 32 bits, an occupancy bit, or a
// statistic of point attributes. At most `memory_limit` bytes of tile buffers stay in
// memory (never fewer than two tiles); the least recently used tiles go to temporary files
// "<base><pid>.<n>.tmp" ("taemp<pid>.<n>.tmp" without a base), created exclusively for the
// owner alone (see TemporaryFile), which the destructor deletes.
//
// With `set_sparse` the counter and occupancy kinds keep the cells of a tile that holds
// only a few of them (up to `sparse_cell_limit`) in a table of cells instead of a tile
// buffer, so that scattered points cost memory by the cell, not by the tile; the tile gets
// its buffer (and its cells move there) when one more cell arrives. Every read and count
// is the same either way. The table stays in memory: it takes its bytes from the budget,
// so that tile buffers go to the temporary files first to make room for it.
//
// Failures (allocation, temporary file) print one "ERROR: " line and make the call return
// false; the raster stays usable for other cells. A tile that failed to be written keeps
// its buffer, so no counted value is ever lost silently.
//
// Not thread-safe. Configure (step, kind, sparse, budget, name base) before the first cell
// is touched; they must not change afterwards.
class LASraster {
 public:
  // Operations of a kind. `tile` is the tile buffer, `index` the cell inside the tile.
  using AddFunction = void (*)(LASraster& raster, std::uint8_t* tile, std::uint32_t index,
                               const LASpoint* point);
  using GetFunction = bool (*)(const LASraster& raster, const std::uint8_t* tile,
                               std::uint32_t index, double& value, std::uint32_t argument);
  using SetFunction = void (*)(LASraster& raster, std::uint8_t* tile, std::uint32_t index,
                               std::uint32_t value);
  using ClearFunction = void (*)(LASraster& raster, std::uint8_t* tile, std::uint32_t index);

  static constexpr std::uint32_t tile_size = 100;
  static constexpr std::uint32_t kCellsPerTile = tile_size * tile_size;
  static constexpr int kMaxPlanes = 6;

  // First cell and extent of one tile, for walking the cells that exist.
  struct TileExtent {
    std::int32_t first_column;
    std::int32_t first_row;
    std::uint32_t columns;  // 100, or 96 for the tile that ends at column -1
    std::uint32_t rows;
  };

  LASraster();
  ~LASraster();
  LASraster(const LASraster&) = delete;
  LASraster& operator=(const LASraster&) = delete;

  // False (step kept) unless step is a positive finite number.
  bool set_step(double step);
  // Chooses the kind by name; false for a name that matches no kind. Before the first cell.
  bool set_kind(std::string_view name);
  // Keeps thinly filled tiles of the counter and occupancy kinds as cells in a table (see
  // above); other kinds have only whole tiles. False (nothing changed) once a cell exists.
  bool set_sparse(bool sparse) {
    if (tile_bytes_ != 0) return false;
    sparse_wanted_ = sparse;
    sparse_ = sparse_wanted_ && counter_bits_ != 0;
    return true;
  }
  // Budget for tile buffers, applied when the first tile is made.
  void set_memory_limit(std::int64_t bytes) { memory_limit_ = bytes; }
  // Shares a budget with other rasters (borrowed; it must outlive the raster). Without one
  // the raster keeps to its own `memory_limit`.
  void set_budget(TileBudget* budget) { budget_ = budget; }
  // Frees one tile buffer for another raster of the budget: a spare one, else that of the
  // least recently used tile after writing it out. False (after the "ERROR: " line of a
  // failed write) when there is none or the tile cannot be written.
  bool release_one_buffer();
  // Prefix of the temporary file names (copied); may contain a directory.
  void set_temp_name_base(std::string_view base) { temp_name_base_ = std::string(base); }

  // Folds the point into the cell of its x and y. False when the point's coordinates have
  // no cell (see cell_index_of) or the tile cannot be had. `point.scaling` must be set.
  bool add_point(const LASpoint& point);
  // The counter kinds only ("counter_2bit" ... "counter_32bit"): counts one more point into
  // cell (column, row), like set_cell, and returns how many the cell holds now (a saturated
  // counter stays at its maximum). When the tile cannot be had: prints as set_cell and
  // returns 0.
  std::uint32_t add_to_counter(std::int32_t column, std::int32_t row) {
    std::uint32_t index;
    // Sparse: a tile without a buffer may hold the cell in the table.
    std::uint8_t* tile = find_tile(column, row, sparse_, index);
    if (tile == nullptr) {
      if (sparse_) return add_sparse(column, row);
      tile_failure(column, row);
      return 0;
    }
    extend_bounding_box(column, row);
    const std::uint32_t count = add_in_tile(tile, index);
    head_->state &= ~RasterTileNode::kClean;
    return count;
  }
  // Folds the point (or a mark, for null) into cell (column, row). When the tile cannot be
  // had: prints "ERROR: cannot get tile (%d/%d)\n" and returns false.
  bool set_cell(std::int32_t column, std::int32_t row, const LASpoint* point) {
    std::uint32_t index;
    std::uint8_t* tile = find_tile(column, row, sparse_, index);
    if (tile == nullptr) return sparse_ ? add_sparse(column, row) != 0 : tile_failure(column, row);
    extend_bounding_box(column, row);
    if (counter_bits_ != 0) {
      add_in_tile(tile, index);
    } else {
      add_(*this, tile, index, point);
    }
    head_->state &= ~RasterTileNode::kClean;
    return true;
  }
  // Stores `value` into a cell with the kind's `set`; false for kinds without one.
  bool set_value(std::int32_t column, std::int32_t row, std::uint32_t value);
  // Clears a cell with the kind's `clear` (occupancy: its bit; statistics: the "set" bit).
  bool clear_cell(std::int32_t column, std::int32_t row);
  // The cell's value; false when its tile does not exist or the kind says it is empty.
  bool get_cell(std::int32_t column, std::int32_t row, double& value, std::uint32_t argument = 0);
  bool get_point(const LASpoint& point, double& value, std::uint32_t argument = 0);

  // Fast read of the counter and occupancy kinds: the count (occupancy: 0 or 1), 0 for a
  // cell whose tile does not exist. Other kinds answer 0.
  std::uint32_t count_cell(std::int32_t column, std::int32_t row) {
    std::uint32_t index;
    const std::uint8_t* tile = find_tile(column, row, true, index);
    if (tile == nullptr) return sparse_tiles_.empty() ? 0 : sparse_count(column, row);
    switch (counter_bits_) {
      case 1:
        return (load<std::uint32_t>(tile, index >> 5) >> (index & 31)) & 1u;
      case 2:
        return (tile[index >> 2] >> (6 - 2 * (index & 3))) & 3u;
      case 4:
        return (tile[index >> 1] >> ((index & 1) ? 0 : 4)) & 15u;
      case 8:
        return tile[index];
      case 16:
        return load<std::uint16_t>(tile, index);
      case 32:
        return load<std::uint32_t>(tile, index);
      default:
        return 0;
    }
  }

  // How many cells of the tile of (column, row) hold a count, as far as the raster knows
  // without reading them: 0 when there is no such tile, the cells of a sparse tile, and
  // kCellsPerTile for a tile with a buffer. Lets a search skip the cells around a lone one.
  std::uint32_t tile_cell_count(std::int32_t column, std::int32_t row) {
    std::uint32_t index;
    if (find_tile(column, row, true, index) != nullptr || tile_unavailable_) return kCellsPerTile;
    const SparseTile* sparse = sparse_tiles_.find(static_cast<std::uint32_t>(column) / tile_size,
                                                  static_cast<std::uint32_t>(row) / tile_size);
    return sparse == nullptr ? 0 : sparse->cells;
  }
  // True when the eight cells around (column, row) lie in its tile.
  static bool neighbours_in_tile(std::int32_t column, std::int32_t row) {
    const std::uint32_t a = static_cast<std::uint32_t>(column);
    const std::uint32_t b = static_cast<std::uint32_t>(row);
    const std::uint32_t x = a % tile_size, y = b % tile_size;
    // Column and row 0xFFFFFFFF end the last, narrower tile: their next one is 0.
    return x >= 1 && x + 2 <= tile_size && y >= 1 && y + 2 <= tile_size && a != 0xFFFFFFFFu &&
           b != 0xFFFFFFFFu;
  }

  // Centre of the cell that holds coordinate x (y).
  double cell_center_x(double x) const;
  double cell_center_y(double y) const;

  // Every tile that has a buffer (in memory or in a temporary file), ordered by tile row
  // and then tile column as seen from the first tile.
  std::vector<TileExtent> tile_extents() const;
  // Calls visit(column, row, count) for every cell kept in the table of sparse tiles (in
  // no particular order); occupancy counts 1. The raster must not gain cells meanwhile.
  template <class Visit>
  void for_each_sparse_cell(Visit&& visit) const {
    sparse_tiles_.for_each(
        [&visit](std::uint32_t tile_x, std::uint32_t tile_y, const SparseTile& tile) {
          if (tile.first_index == SparseTile::kNoCell) return;
          visit(static_cast<std::int32_t>(tile_x * tile_size + tile.first_index % tile_size),
                static_cast<std::int32_t>(tile_y * tile_size + tile.first_index / tile_size),
                tile.first_count);
        });
    sparse_cells_.for_each([&visit](std::uint32_t column, std::uint32_t row, std::uint32_t count) {
      visit(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), count);
    });
  }

  // Values of the "index" kind and the bounding box of the touched cells (valid once
  // `has_cells`). Public like the record they come from.
  std::uint32_t point_index = 0;
  std::int32_t min_col = 0, min_row = 0, max_col = 0, max_row = 0;
  std::int32_t min_value = 2147483647;
  std::int32_t max_value = -2147483647 - 1;
  std::uint32_t overflow_count = 0;  // increments that hit a saturated counter
  bool track_range = false;          // keep min_value / max_value up to date in add

  bool has_cells() const { return tile_bytes_ != 0; }
  double step_x() const { return step_x_; }
  double step_y() const { return step_y_; }
  double step_z() const { return step_z_; }
  std::int64_t memory_limit() const { return memory_limit_; }
  std::uint32_t tile_bytes() const { return tile_bytes_; }
  std::uint32_t buffer_count() const { return buffer_count_; }
  std::uint32_t max_buffers() const { return max_buffers_; }
  std::uint32_t tiles_per_file() const { return tiles_per_file_; }
  std::uint32_t next_slot() const { return next_slot_; }
  // Tiles with a buffer, and the tiles and cells kept in the sparse table.
  std::size_t tile_count() const { return near_tiles_.size() + far_tiles_.size(); }
  std::size_t sparse_tile_count() const { return sparse_tiles_.size(); }
  std::size_t sparse_cell_count() const { return sparse_cell_count_; }
  bool sparse() const { return sparse_; }
  // Cells a sparse tile holds at most before it gets a buffer (0 before the first cell):
  // about where the table's share of a tile's cells costs as much as its buffer.
  std::uint32_t sparse_cell_limit() const { return sparse_cell_limit_; }
  std::size_t temp_file_count() const { return temp_files_.size(); }
  const std::string& temp_file_name(std::size_t number) const { return temp_files_[number].name(); }
  std::uint64_t tile_writes() const { return tile_writes_; }
  std::uint64_t tile_reads() const { return tile_reads_; }
  std::uint32_t process_id() const { return process_id_; }
  // Bytes held: tile buffers, sparse tables, tile records and the maps' share (an estimate
  // of the nodes).
  std::uint64_t memory_bytes() const;
  // Counter width of the counter kinds (1 for occupancy, 0 for the other kinds).
  std::uint32_t counter_bits() const { return counter_bits_; }
  // The record of the tile that holds (column, row), or null (no tile, or a sparse one); for
  // tests and diagnostics.
  const RasterTileNode* tile_of(std::int32_t column, std::int32_t row) const;

  // Plane k of a tile buffer; the kinds keep their values there.
  std::uint8_t* plane(std::uint8_t* tile, int k) const { return tile + plane_offset_[k]; }
  const std::uint8_t* plane(const std::uint8_t* tile, int k) const {
    return tile + plane_offset_[k];
  }
  template <class T>
  static T load(const std::uint8_t* plane, std::uint32_t i) {
    T value;
    std::memcpy(&value, plane + sizeof(T) * i, sizeof(T));
    return value;
  }
  template <class T>
  static void store(std::uint8_t* plane, std::uint32_t i, T value) {
    std::memcpy(plane + sizeof(T) * i, &value, sizeof(T));
  }
  std::uint32_t quotient_class() const { return quotient_class_; }
  // Values of a point as folded by the statistics kinds.
  std::uint64_t next_random() {
    random_state_ = random_state_ * 6364136223846793005ull + 1442695040888963407ull;
    return random_state_ >> 33;
  }

 private:
  // Finds the tile of (column, row) and the cell's index inside it; makes the tile unless
  // `lookup_only`. Null when the tile is absent (lookup only) or cannot be had.
  std::uint8_t* find_tile(std::int32_t column, std::int32_t row, bool lookup_only,
                          std::uint32_t& index) {
    const std::uint32_t a = static_cast<std::uint32_t>(column);
    const std::uint32_t b = static_cast<std::uint32_t>(row);
    const std::uint32_t tile_x = a / tile_size;
    const std::uint32_t tile_y = b / tile_size;
    index = (a - tile_x * tile_size) + (b - tile_y * tile_size) * tile_size;
    const std::int32_t dx = static_cast<std::int32_t>(tile_x - origin_tile_x_);
    const std::int32_t dy = static_cast<std::int32_t>(tile_y - origin_tile_y_);
    if (dx == last_tile_x_ && dy == last_tile_y_) {
      if (last_tile_valid_) return head_->buffer;
      // The one tile remembered as absent (mostly a sparse one, read point after point).
      if (lookup_only) {
        tile_unavailable_ = false;
        return nullptr;
      }
    }
    // Sparse tiles only (scattered points): no tile buffer to look for.
    if (lookup_only && near_tiles_.empty() && far_tiles_.empty()) {
      tile_unavailable_ = false;
      return nullptr;
    }
    return find_tile_slow(tile_x, tile_y, lookup_only);
  }
  std::uint8_t* find_tile_slow(std::uint32_t tile_x, std::uint32_t tile_y, bool lookup_only);
  // Sparse paths (las_raster_sparse.cpp). add_sparse counts or marks a cell whose tile has
  // no buffer and returns the count after it (occupancy: 1); 0 after the failure's line.
  std::uint32_t add_sparse(std::int32_t column, std::int32_t row);
  bool clear_sparse(std::int32_t column, std::int32_t row);
  bool get_sparse(std::int32_t column, std::int32_t row, double& value);
  // The count of a cell whose tile has no buffer: a lone point's cell is the first of its
  // tile, found with one lookup.
  std::uint32_t sparse_count(std::int32_t column, std::int32_t row) {
    const std::uint32_t* count = find_sparse(column, row);
    return count == nullptr ? 0 : *count;
  }
  // Where the count of a cell of a sparse tile is kept, or null. Consecutive points mostly
  // lie in one cell, and in one tile: each is looked up once (see cached_count_).
  std::uint32_t* find_sparse(std::int32_t column, std::int32_t row) {
    const std::uint32_t a = static_cast<std::uint32_t>(column);
    const std::uint32_t b = static_cast<std::uint32_t>(row);
    if (a == cached_column_ && b == cached_row_) return cached_count_;
    const std::uint32_t tile_x = a / tile_size, tile_y = b / tile_size;
    if (tile_x != cached_tile_x_ || tile_y != cached_tile_y_) {
      cached_tile_ = sparse_tiles_.find(tile_x, tile_y);
      cached_tile_x_ = tile_x;
      cached_tile_y_ = tile_y;
    }
    SparseTile* tile = cached_tile_;
    std::uint32_t* count = nullptr;
    if (tile != nullptr) {
      const std::uint32_t index = (a - tile_x * tile_size) + (b - tile_y * tile_size) * tile_size;
      if (tile->first_index == index) {
        count = &tile->first_count;
      } else if (tile->cells > (tile->first_index == SparseTile::kNoCell ? 0 : 1)) {
        count = sparse_cells_.find(a, b);
      }
    }
    cached_column_ = a;
    cached_row_ = b;
    cached_count_ = count;
    return count;
  }
  // Moves the sparse cells of a tile that just got its buffer into it.
  void absorb_sparse_cells(std::uint8_t* buffer, std::uint32_t tile_x, std::uint32_t tile_y);
  // Room for `bytes` more of sparse table: other rasters' buffers, then this one's, go to
  // their temporary files first. False after the "ERROR: " line of a failed write.
  bool make_sparse_room(std::uint64_t bytes);
  std::uint64_t buffer_bytes() const { return std::uint64_t{buffer_count_} * tile_bytes_; }
  bool initialise(std::uint32_t tile_x, std::uint32_t tile_y);
  RasterTileNode* make_tile(std::int32_t dx, std::int32_t dy);
  std::uint8_t* acquire_buffer(bool zeroed);
  bool evict(RasterTileNode& tile);
  bool read_back(RasterTileNode& tile);
  std::FILE* temp_file_for_slot(std::uint32_t slot, bool create);
  void unlink_tile(RasterTileNode& tile);
  void push_head(RasterTileNode& tile);
  bool tile_failure(std::int32_t column, std::int32_t row);
  void extend_bounding_box(std::int32_t column, std::int32_t row) {
    if (column < min_col) min_col = column;
    if (column > max_col) max_col = column;
    if (row < min_row) min_row = row;
    if (row > max_row) max_row = row;
  }

  // Counts or marks a cell of a tile buffer (counter and occupancy kinds); the count after
  // it, 1 for occupancy.
  std::uint32_t add_in_tile(std::uint8_t* tile, std::uint32_t index) {
    switch (counter_bits_) {
      case 1:
        add_occupancy(tile, index);
        return 1;
      case 2:
        return add_counter_2bit(tile, index);
      case 4:
        return add_counter_4bit(tile, index);
      case 8:
        return add_counter<std::uint8_t>(tile, index);
      case 16:
        return add_counter<std::uint16_t>(tile, index);
      default:
        return add_counter<std::uint32_t>(tile, index);
    }
  }
  void add_occupancy(std::uint8_t* tile, std::uint32_t index) {
    store<std::uint32_t>(tile, index >> 5,
                         load<std::uint32_t>(tile, index >> 5) | (1u << (index & 31)));
  }
  // The counters return the count after the increment.
  std::uint32_t add_counter_2bit(std::uint8_t* tile, std::uint32_t index) {
    const int shift = 6 - 2 * static_cast<int>(index & 3);
    const std::uint32_t count = (tile[index >> 2] >> shift) & 3u;
    if (count == 3) {
      overflow_count++;
      return count;
    }
    tile[index >> 2] = static_cast<std::uint8_t>(tile[index >> 2] + (1u << shift));
    if (track_range) raise_max(count + 1);
    return count + 1;
  }
  std::uint32_t add_counter_4bit(std::uint8_t* tile, std::uint32_t index) {
    const int shift = (index & 1) ? 0 : 4;
    const std::uint32_t count = (tile[index >> 1] >> shift) & 15u;
    if (count == 15) {
      overflow_count++;
      return count;
    }
    tile[index >> 1] = static_cast<std::uint8_t>(tile[index >> 1] + (1u << shift));
    if (track_range) raise_max(count + 1);
    return count + 1;
  }
  template <class T>
  std::uint32_t add_counter(std::uint8_t* tile, std::uint32_t index) {
    const T count = load<T>(tile, index);
    if (count == static_cast<T>(~T{0})) {
      overflow_count++;
      return count;
    }
    store<T>(tile, index, static_cast<T>(count + 1));
    if (track_range) raise_max(static_cast<std::uint64_t>(count) + 1);
    return static_cast<std::uint32_t>(count) + 1;
  }
  void raise_max(std::uint64_t count) {
    const std::int32_t value = count > 2147483647u ? 2147483647 : static_cast<std::int32_t>(count);
    if (value > max_value) max_value = value;
  }

  friend struct RasterKinds;

  // Cell kind.
  AddFunction add_;
  GetFunction get_;
  SetFunction set_ = nullptr;
  ClearFunction clear_;
  std::uint32_t counter_bits_ = 0;  // the inline paths above; 0 = through add_/get_
  // Sparse tiles by (tile x, tile y), each with its first cell, and their other cells by
  // (column, row) as unsigned words. The bytes of both tables are in the budget.
  struct SparseTile {
    static constexpr std::uint16_t kNoCell = 0xFFFF;
    std::uint16_t cells;        // that hold a count, the first one included
    std::uint16_t first_index;  // inside the tile, or kNoCell once cleared
    std::uint32_t first_count;
  };
  bool sparse_wanted_ = false;
  bool sparse_ = false;  // wanted, and a counter or occupancy kind
  std::uint32_t sparse_cell_limit_ = 0;
  CellTable<SparseTile> sparse_tiles_;
  CellTable<std::uint32_t> sparse_cells_;
  std::size_t sparse_cell_count_ = 0;
  // The cell and the tile that find_sparse looked up last: where the cell's count is kept,
  // and the tile's record in sparse_tiles_, or null when absent (kVacant: none; no tile has
  // that number, and that cell is never sparse). Forgotten whenever a table gains, loses or
  // moves a record, or a first cell is cleared; counting through the pointer keeps it.
  std::uint32_t cached_column_ = CellTable<SparseTile>::kVacant;
  std::uint32_t cached_row_ = CellTable<SparseTile>::kVacant;
  std::uint32_t* cached_count_ = nullptr;
  std::uint32_t cached_tile_x_ = CellTable<SparseTile>::kVacant;
  std::uint32_t cached_tile_y_ = CellTable<SparseTile>::kVacant;
  SparseTile* cached_tile_ = nullptr;
  void forget_cached_cells() {
    cached_column_ = cached_row_ = cached_tile_x_ = cached_tile_y_ = CellTable<SparseTile>::kVacant;
  }
  std::uint64_t sparse_bytes_ = 0;
  // Set by find_tile_slow when the tile exists but its buffer cannot be had: its cells must
  // not go to the sparse table.
  bool tile_unavailable_ = false;
  std::uint32_t quotient_class_ = 0;
  std::uint32_t plane_bits_[kMaxPlanes + 1] = {32, 1, 0};  // 0-terminated
  std::uint32_t plane_offset_[kMaxPlanes] = {};
  std::uint64_t random_state_ = 0x9E3779B97F4A7C15ull;

  // Budget and buffers.
  friend class TileBudget;
  TileBudget* budget_ = nullptr;
  LASraster* budget_older_ = nullptr;  // neighbours in the budget's order of use
  LASraster* budget_newer_ = nullptr;
  bool in_budget_ = false;
  std::uint8_t* fresh_buffer();
  bool spill_reported() const;
  std::int64_t memory_limit_ = 536870912;
  std::uint32_t buffer_count_ = 0;
  std::uint32_t buffer_capacity_ = 64;
  std::uint32_t max_buffers_ = 0;
  std::uint32_t tile_bytes_ = 0;  // 0 until the first tile: the raster is empty
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
  std::vector<std::uint8_t*> spare_buffers_;  // owned by buffers_, held by no tile

  // Tile addressing.
  double step_x_ = 1.0, step_y_ = 1.0, step_z_ = 1.0;
  std::uint32_t origin_tile_x_ = 0, origin_tile_y_ = 0;
  std::int32_t last_tile_x_ = -2147483647 - 1, last_tile_y_ = -2147483647 - 1;
  std::unordered_map<std::int32_t, RasterTileNode> near_tiles_;
  std::map<std::uint64_t, RasterTileNode> far_tiles_;
  bool last_tile_valid_ = false;
  RasterTileNode* head_ = nullptr;
  RasterTileNode* tail_ = nullptr;

  // Temporary files.
  std::uint32_t tiles_per_file_ = 0;
  std::uint32_t next_slot_ = 0;
  std::vector<TemporaryFile> temp_files_;
  std::string temp_name_base_;  // empty: "taemp"
  std::uint32_t process_id_;
  std::uint64_t tile_writes_ = 0, tile_reads_ = 0;
};
