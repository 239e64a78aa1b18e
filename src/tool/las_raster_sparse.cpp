// The sparse tiles of LASraster: cells of thinly filled tiles of the counter and occupancy
// kinds kept in a table instead of a tile buffer (see LASraster::set_sparse).

#include <algorithm>
#include <cstdio>
#include <new>

#include "tool/las_raster.hpp"
#include "tool/tile_budget.hpp"

namespace {

// The one cell that the cell table cannot hold (its words mark a free slot).
constexpr std::uint32_t kVacantCell = CellTable<std::uint32_t>::kVacant;

// Writes a count into a zeroed cell of a tile buffer, at the bits of the kind.
void put_count(std::uint8_t* tile, std::uint32_t index, std::uint32_t bits, std::uint32_t count) {
  switch (bits) {
    case 1:
      LASraster::store<std::uint32_t>(
          tile, index >> 5,
          LASraster::load<std::uint32_t>(tile, index >> 5) | (1u << (index & 31)));
      break;
    case 2:
      tile[index >> 2] =
          static_cast<std::uint8_t>(tile[index >> 2] | (count << (6 - 2 * (index & 3))));
      break;
    case 4:
      tile[index >> 1] =
          static_cast<std::uint8_t>(tile[index >> 1] | (count << ((index & 1) ? 0 : 4)));
      break;
    case 8:
      tile[index] = static_cast<std::uint8_t>(count);
      break;
    case 16:
      LASraster::store<std::uint16_t>(tile, index, static_cast<std::uint16_t>(count));
      break;
    default:
      LASraster::store<std::uint32_t>(tile, index, count);
      break;
  }
}

}  // namespace

std::uint32_t LASraster::add_sparse(std::int32_t column, std::int32_t row) {
  // The tile has a buffer that cannot be had (its line printed): its cells never go to the
  // tables, which would hide them behind the tile.
  if (tile_unavailable_) {
    tile_failure(column, row);
    return 0;
  }
  const std::uint32_t a = static_cast<std::uint32_t>(column);
  const std::uint32_t b = static_cast<std::uint32_t>(row);
  const std::uint32_t tile_x = a / tile_size;
  const std::uint32_t tile_y = b / tile_size;
  const auto index =
      static_cast<std::uint16_t>((a - tile_x * tile_size) + (b - tile_y * tile_size) * tile_size);
  if (tile_bytes_ == 0 && !initialise(tile_x, tile_y)) {
    tile_failure(column, row);
    return 0;
  }

  // A cell that holds points already (mostly the one of the point before).
  if (std::uint32_t* count = find_sparse(column, row)) {
    extend_bounding_box(column, row);
    if (counter_bits_ == 1) return 1;  // a mark stays a mark
    const std::uint32_t maximum = counter_bits_ == 32 ? 0xFFFFFFFFu : (1u << counter_bits_) - 1;
    if (*count == maximum) {
      overflow_count++;
      return *count;
    }
    ++*count;
    if (track_range) raise_max(*count);
    return *count;
  }

  // A new cell (find_sparse looked its tile up). A tile at its limit gets its buffer, and
  // so does the tile of the one cell whose words mark a free slot of the cell table.
  SparseTile* tile = cached_tile_;
  if ((tile != nullptr && tile->cells >= sparse_cell_limit_) ||
      (a == kVacantCell && b == kVacantCell)) {
    std::uint32_t in_tile;
    std::uint8_t* buffer = find_tile(column, row, false, in_tile);
    if (buffer == nullptr) {
      tile_failure(column, row);
      return 0;
    }
    extend_bounding_box(column, row);
    const std::uint32_t added = add_in_tile(buffer, in_tile);
    head_->state &= ~RasterTileNode::kClean;
    return added;
  }

  // The first cell of a tile goes with the tile (so does a cell that comes after the first
  // one was cleared); the others to the cell table.
  if (tile != nullptr && tile->first_index == SparseTile::kNoCell) {
    *tile = SparseTile{static_cast<std::uint16_t>(tile->cells + 1), index, 1};
    cached_count_ = &tile->first_count;
    sparse_cell_count_++;
    extend_bounding_box(column, row);
    if (track_range && counter_bits_ != 1) raise_max(1);
    return 1;
  }
  const bool first = tile == nullptr;
  const std::uint64_t before = sparse_cells_.bytes() + sparse_tiles_.bytes();
  std::uint64_t after = before;
  if (first && sparse_tiles_.needs_growth()) {
    after += sparse_tiles_.grown_bytes() - sparse_tiles_.bytes();
  }
  if (!first && sparse_cells_.needs_growth()) {
    after += sparse_cells_.grown_bytes() - sparse_cells_.bytes();
  }
  if (after != before) {
    if (!make_sparse_room(after - before)) {
      tile_failure(column, row);
      return 0;
    }
    bool grown = true;
    try {
      if (first) {
        sparse_tiles_.grow();
      } else {
        sparse_cells_.grow();
      }
    } catch (const std::bad_alloc&) {
      grown = false;
    }
    forget_cached_cells();  // the records moved
    const std::uint64_t now = sparse_cells_.bytes() + sparse_tiles_.bytes();
    sparse_bytes_ += now - before;
    if (budget_ != nullptr) budget_->take(static_cast<std::int64_t>(now - before));
    if (!grown) {
      if (!spill_reported()) std::fprintf(stderr, "ERROR: cannot alloc tile\n");
      tile_failure(column, row);
      return 0;
    }
  }
  // No table grows now, and no record moves: the new cell is the one to remember.
  bool added;
  if (first) {
    SparseTile& made = sparse_tiles_.insert(tile_x, tile_y, added);
    made = SparseTile{1, index, 1};
    cached_tile_ = &made;
    cached_count_ = &made.first_count;
  } else {
    // `tile` is still good: only the cell table may have grown.
    std::uint32_t& count = sparse_cells_.insert(a, b, added);
    count = 1;
    tile->cells++;
    cached_tile_ = tile;
    cached_count_ = &count;
  }
  cached_column_ = a;
  cached_row_ = b;
  cached_tile_x_ = tile_x;
  cached_tile_y_ = tile_y;
  sparse_cell_count_++;
  extend_bounding_box(column, row);
  if (track_range && counter_bits_ != 1) raise_max(1);
  return 1;
}

bool LASraster::get_sparse(std::int32_t column, std::int32_t row, double& value) {
  const std::uint32_t count = sparse_count(column, row);
  if (count == 0) return false;
  value = count;
  return true;
}

bool LASraster::clear_sparse(std::int32_t column, std::int32_t row) {
  const std::uint32_t a = static_cast<std::uint32_t>(column);
  const std::uint32_t b = static_cast<std::uint32_t>(row);
  const std::uint32_t tile_x = a / tile_size;
  const std::uint32_t tile_y = b / tile_size;
  SparseTile* tile = sparse_tiles_.find(tile_x, tile_y);
  if (tile == nullptr) return false;  // no such tile, as for a tile without a buffer
  forget_cached_cells();
  const std::uint32_t index = (a - tile_x * tile_size) + (b - tile_y * tile_size) * tile_size;
  if (tile->first_index == index) {
    tile->first_index = SparseTile::kNoCell;
  } else if (!sparse_cells_.erase(a, b)) {
    return true;  // an empty cell of the tile
  }
  sparse_cell_count_--;
  if (--tile->cells == 0) sparse_tiles_.erase(tile_x, tile_y);
  return true;
}

void LASraster::absorb_sparse_cells(std::uint8_t* buffer, std::uint32_t tile_x,
                                    std::uint32_t tile_y) {
  const SparseTile* tile = sparse_tiles_.find(tile_x, tile_y);
  if (tile == nullptr) return;
  std::uint32_t remaining = tile->cells;
  sparse_cell_count_ -= remaining;
  if (tile->first_index != SparseTile::kNoCell) {
    put_count(buffer, tile->first_index, counter_bits_, tile->first_count);
    remaining--;
  }
  sparse_tiles_.erase(tile_x, tile_y);
  forget_cached_cells();
  if (remaining == 0) return;
  const std::uint32_t first_a = tile_x * tile_size;
  const std::uint32_t first_b = tile_y * tile_size;
  const auto move = [&](std::uint32_t a, std::uint32_t b, std::uint32_t count) {
    put_count(buffer, (a - first_a) + (b - first_b) * tile_size, counter_bits_, count);
    remaining--;
  };
  // Whichever is shorter: a walk over the table, or a lookup of every cell of the tile.
  if (sparse_cells_.capacity() <= kCellsPerTile) {
    sparse_cells_.take_if([&](std::uint32_t a, std::uint32_t b, std::uint32_t count) {
      if (a / tile_size != tile_x || b / tile_size != tile_y) return false;
      move(a, b, count);
      return true;
    });
    return;
  }
  // The last tile of the unsigned range holds only 96 cells per side.
  const std::uint32_t columns = std::min<std::uint64_t>(tile_size, 0x100000000ull - first_a);
  const std::uint32_t rows = std::min<std::uint64_t>(tile_size, 0x100000000ull - first_b);
  for (std::uint32_t y = 0; y < rows && remaining != 0; y++) {
    for (std::uint32_t x = 0; x < columns && remaining != 0; x++) {
      const std::uint32_t* count = sparse_cells_.find(first_a + x, first_b + y);
      if (count == nullptr) continue;
      move(first_a + x, first_b + y, *count);
      sparse_cells_.erase(first_a + x, first_b + y);
    }
  }
}

bool LASraster::make_sparse_room(std::uint64_t bytes) {
  if (budget_ == nullptr) {
    while (buffer_count_ > 0 &&
           static_cast<std::int64_t>(buffer_bytes() + sparse_bytes_ + bytes) > memory_limit_) {
      if (!release_one_buffer()) return false;
    }
    return true;
  }
  budget_->touch(*this);
  const auto more = static_cast<std::int64_t>(bytes);
  while (!budget_->fits(more)) {
    LASraster* giver = budget_->least_recent_other(*this);
    if (giver == nullptr) break;
    if (!giver->release_one_buffer()) return false;
  }
  while (!budget_->fits(more) && buffer_count_ > 0) {
    if (!release_one_buffer()) return false;
  }
  if (!budget_->fits(more)) budget_->note_overrun(more);
  return true;
}
