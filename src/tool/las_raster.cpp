#include "tool/las_raster.hpp"

#include "tool/tile_budget.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "model/las_point.hpp"

#if defined(_WIN32)
#include <process.h>
static std::uint32_t current_process_id() {
  return static_cast<std::uint32_t>(_getpid());
}
#else
#include <unistd.h>
static std::uint32_t current_process_id() {
  return static_cast<std::uint32_t>(getpid());
}
#endif

namespace {

// Temporary files are numbered from 0 per raster; when another raster of this process
// (or a left-over of an earlier process with the same identifier) already holds a name,
// the next free number is taken, so that two rasters never share a file.
constexpr int kMaxNameAttempts = 1 << 20;

// A sparse cell costs its 12-byte slot in the cell table, held about half full, and a share
// of its tile's 16-byte slot in the tile table: a tile keeps its cells in the tables up to
// about where they cost as much as its buffer (156 cells of a 4-bit counter tile).
constexpr std::uint32_t kSparseBytesPerCell = 32;

}  // namespace

LASraster::LASraster() : process_id_(current_process_id()) {
  set_kind("counter");
}

LASraster::~LASraster() {
  if (budget_ != nullptr) {
    budget_->give(static_cast<std::int64_t>(buffer_bytes() + sparse_bytes_));
    budget_->forget(*this);
  }
  // The temporary files close and go with temp_files_.
}

bool LASraster::set_step(double step) {
  if (!(step > 0.0) || !std::isfinite(step)) return false;
  step_x_ = step_y_ = step_z_ = step;
  return true;
}

bool LASraster::add_point(const LASpoint& point) {
  std::int32_t column, row;
  if (!cell_index_of(point.get_x(), step_x_, column)) return false;
  if (!cell_index_of(point.get_y(), step_y_, row)) return false;
  return set_cell(column, row, &point);
}

bool LASraster::set_value(std::int32_t column, std::int32_t row, std::uint32_t value) {
  if (set_ == nullptr) return false;
  std::uint32_t index;
  std::uint8_t* tile = find_tile(column, row, false, index);
  if (tile == nullptr) return tile_failure(column, row);
  extend_bounding_box(column, row);
  set_(*this, tile, index, value);
  head_->state &= ~RasterTileNode::kClean;
  return true;
}

bool LASraster::clear_cell(std::int32_t column, std::int32_t row) {
  std::uint32_t index;
  std::uint8_t* tile = find_tile(column, row, true, index);
  if (tile == nullptr) return sparse_ && !tile_unavailable_ && clear_sparse(column, row);
  clear_(*this, tile, index);
  head_->state &= ~RasterTileNode::kClean;
  return true;
}

bool LASraster::get_cell(std::int32_t column, std::int32_t row, double& value,
                         std::uint32_t argument) {
  std::uint32_t index;
  const std::uint8_t* tile = find_tile(column, row, true, index);
  if (tile == nullptr) return sparse_ && get_sparse(column, row, value);
  return get_(*this, tile, index, value, argument);
}

bool LASraster::get_point(const LASpoint& point, double& value, std::uint32_t argument) {
  std::int32_t column, row;
  if (!cell_index_of(point.get_x(), step_x_, column)) return false;
  if (!cell_index_of(point.get_y(), step_y_, row)) return false;
  return get_cell(column, row, value, argument);
}

double LASraster::cell_center_x(double x) const {
  return (std::floor(x / step_x_) + 0.5) * step_x_;
}

double LASraster::cell_center_y(double y) const {
  return (std::floor(y / step_y_) + 0.5) * step_y_;
}

// After a failed spill the one "ERROR: " line of its cause has been printed; the tiles that
// cannot be had because of it are not reported one by one.
bool LASraster::spill_reported() const {
  return budget_ != nullptr && budget_->spill_failed();
}

bool LASraster::tile_failure(std::int32_t column, std::int32_t row) {
  if (!spill_reported()) std::fprintf(stderr, "ERROR: cannot get tile (%d/%d)\n", column, row);
  return false;
}

std::uint8_t* LASraster::find_tile_slow(std::uint32_t tile_x, std::uint32_t tile_y,
                                        bool lookup_only) {
  tile_unavailable_ = false;
  if (budget_ != nullptr && in_budget_) budget_->touch(*this);
  std::int32_t dx = static_cast<std::int32_t>(tile_x - origin_tile_x_);
  std::int32_t dy = static_cast<std::int32_t>(tile_y - origin_tile_y_);
  if (lookup_only) {
    // The one tile remembered as absent.
    if (!last_tile_valid_ && dx == last_tile_x_ && dy == last_tile_y_) return nullptr;
  } else if (tile_bytes_ == 0) {
    if (!initialise(tile_x, tile_y)) return nullptr;
    dx = dy = 0;
  }
  last_tile_x_ = dx;
  last_tile_y_ = dy;
  last_tile_valid_ = false;

  RasterTileNode* tile = nullptr;
  if (dx >= -32768 && dx <= 32767 && dy >= -32768 && dy <= 32767) {
    const std::int32_t key = static_cast<std::int32_t>((static_cast<std::uint32_t>(dx) << 16) |
                                                       (static_cast<std::uint32_t>(dy) & 0xFFFFu));
    auto found = near_tiles_.find(key);
    if (found != near_tiles_.end()) tile = &found->second;
  } else {
    const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(dx)) << 32) |
                              static_cast<std::uint32_t>(dy);
    auto found = far_tiles_.find(key);
    if (found != far_tiles_.end()) tile = &found->second;
  }

  if (tile == nullptr) {
    if (lookup_only) return nullptr;
    tile = make_tile(dx, dy);
    if (tile == nullptr) return nullptr;
    push_head(*tile);
    if (!sparse_tiles_.empty()) absorb_sparse_cells(tile->buffer, tile_x, tile_y);
  } else if (tile != head_) {
    if (tile->buffer != nullptr) {
      unlink_tile(*tile);
    } else {
      tile->buffer = acquire_buffer(false);
      if (tile->buffer == nullptr) {
        tile_unavailable_ = true;
        return nullptr;
      }
      if (!read_back(*tile)) {
        tile_unavailable_ = true;
        spare_buffers_.push_back(tile->buffer);
        tile->buffer = nullptr;
        // The tile exists; only reading it failed. Do not remember it as absent.
        last_tile_x_ = last_tile_y_ = -2147483647 - 1;
        return nullptr;
      }
    }
    push_head(*tile);
  }
  // Evicting the old head on the way may have reset the remembered coordinates.
  last_tile_x_ = dx;
  last_tile_y_ = dy;
  last_tile_valid_ = true;
  return tile->buffer;
}

bool LASraster::initialise(std::uint32_t tile_x, std::uint32_t tile_y) {
  std::uint32_t offset = 0;
  for (int k = 0; k < kMaxPlanes && plane_bits_[k] != 0; k++) {
    plane_offset_[k] = offset;
    offset += 4 * ((kCellsPerTile * plane_bits_[k] + 31) / 32);
  }
  // A budget below two tiles cannot evict one tile while reading another.
  const std::int64_t budget_tiles = memory_limit_ / static_cast<std::int64_t>(offset);
  max_buffers_ = static_cast<std::uint32_t>(std::clamp<std::int64_t>(budget_tiles, 2, 0xFFFFFFFF));
  buffer_count_ = 0;
  buffer_capacity_ = 64;
  try {
    buffers_.reserve(buffer_capacity_);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ERROR: cannot alloc pointer array 'data' to size %u\n", buffer_capacity_);
    return false;
  }
  next_slot_ = 0;
  tiles_per_file_ = 2147483647u / offset;
  origin_tile_x_ = tile_x;
  origin_tile_y_ = tile_y;
  min_col = min_row = 2147483647;
  max_col = max_row = -2147483647 - 1;
  tile_bytes_ = offset;
  sparse_cell_limit_ = std::max<std::uint32_t>(1, offset / kSparseBytesPerCell);
  return true;
}

RasterTileNode* LASraster::make_tile(std::int32_t dx, std::int32_t dy) {
  std::uint8_t* buffer = acquire_buffer(true);
  if (buffer == nullptr) {
    if (!spill_reported()) std::fprintf(stderr, "ERROR: cannot alloc tile\n");
    return nullptr;
  }
  try {
    RasterTileNode* tile;
    if (dx >= -32768 && dx <= 32767 && dy >= -32768 && dy <= 32767) {
      const std::int32_t key = static_cast<std::int32_t>(
          (static_cast<std::uint32_t>(dx) << 16) | (static_cast<std::uint32_t>(dy) & 0xFFFFu));
      tile = &near_tiles_[key];
    } else {
      const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(dx)) << 32) |
                                static_cast<std::uint32_t>(dy);
      tile = &far_tiles_[key];
    }
    tile->buffer = buffer;
    return tile;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ERROR: cannot alloc LASrasterTile\n");
    spare_buffers_.push_back(buffer);
    return nullptr;
  }
}

std::uint8_t* LASraster::acquire_buffer(bool zeroed) {
  std::uint8_t* buffer = nullptr;
  if (budget_ != nullptr) {
    budget_->touch(*this);
    // Beyond the shared budget a buffer comes from the raster used longest ago, so that
    // the budget holds for all rasters together. Without another raster to give one, the
    // raster reuses its own (below), keeping at least two.
    if (spare_buffers_.empty() && !budget_->fits(tile_bytes_)) {
      while (!budget_->fits(tile_bytes_)) {
        LASraster* giver = budget_->least_recent_other(*this);
        if (giver == nullptr) break;
        if (!giver->release_one_buffer()) return nullptr;
      }
    }
    if (spare_buffers_.empty() && (budget_->fits(tile_bytes_) || buffer_count_ < 2)) {
      buffer = fresh_buffer();
      if (buffer != nullptr) budget_->take(tile_bytes_);
      return buffer;
    }
  }
  if (!spare_buffers_.empty()) {
    buffer = spare_buffers_.back();
    spare_buffers_.pop_back();
  } else if (budget_ == nullptr && buffer_count_ < max_buffers_ &&
             (buffer_count_ < 2 || static_cast<std::int64_t>(buffer_bytes() + tile_bytes_ +
                                                             sparse_bytes_) <= memory_limit_)) {
    // The sparse tables share the raster's own limit too.
    return fresh_buffer();
  } else {
    // Take the buffer of the least recently used tile, after saving its cells.
    RasterTileNode* victim = tail_;
    if (victim == nullptr || !evict(*victim)) return nullptr;
    unlink_tile(*victim);
    buffer = victim->buffer;
    victim->buffer = nullptr;
  }
  if (zeroed) std::memset(buffer, 0, tile_bytes_);
  return buffer;
}

bool LASraster::release_one_buffer() {
  std::uint8_t* buffer = nullptr;
  if (!spare_buffers_.empty()) {
    buffer = spare_buffers_.back();
    spare_buffers_.pop_back();
  } else {
    RasterTileNode* victim = tail_;
    if (victim == nullptr || !evict(*victim)) return false;
    unlink_tile(*victim);
    buffer = victim->buffer;
    victim->buffer = nullptr;
  }
  // The buffers given last are searched first: a giver is mostly a small, old raster.
  for (std::size_t i = buffers_.size(); i-- > 0;) {
    if (buffers_[i].get() != buffer) continue;
    std::swap(buffers_[i], buffers_.back());
    buffers_.pop_back();
    break;
  }
  buffer_count_--;
  if (budget_ != nullptr) {
    budget_->give(tile_bytes_);
    if (buffer_count_ == 0) budget_->forget(*this);
  }
  return true;
}

// A new zeroed buffer, owned by `buffers_`; null after its "ERROR: " line.
std::uint8_t* LASraster::fresh_buffer() {
  {
    if (buffers_.size() == buffers_.capacity()) {
      const std::uint32_t capacity = static_cast<std::uint32_t>(std::max<std::uint64_t>(
          buffers_.size() + 1, std::min<std::uint64_t>(2ull * buffer_capacity_, max_buffers_)));
      try {
        buffers_.reserve(capacity);
      } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "ERROR: cannot realloc pointer array 'data' to size %u\n", capacity);
        return nullptr;
      }
      buffer_capacity_ = capacity;
    }
    std::unique_ptr<std::uint8_t[]> fresh(new (std::nothrow) std::uint8_t[tile_bytes_]());
    if (!fresh) {
      std::fprintf(stderr, "ERROR: cannot alloc data[%u] with size %u\n", buffer_count_,
                   tile_bytes_);
      return nullptr;
    }
    buffers_.push_back(std::move(fresh));
    buffer_count_++;
    return buffers_.back().get();  // already zero
  }
}

bool LASraster::evict(RasterTileNode& tile) {
  if (tile.state & RasterTileNode::kClean) return true;
  if (budget_ != nullptr) {
    if ((tile.state & RasterTileNode::kSlotAssigned) == 0) {
      std::uint32_t slot = 0;
      if (!budget_->new_slot(tile_bytes_, slot)) return false;
      tile.state = (tile.state & RasterTileNode::kClean) | RasterTileNode::kSlotAssigned | slot;
    }
    if (!budget_->write_slot(tile.state & RasterTileNode::kSlotMask, tile.buffer, tile_bytes_)) {
      return false;
    }
    tile.writes++;
    tile_writes_++;
    return true;
  }
  if ((tile.state & RasterTileNode::kSlotAssigned) == 0) {
    if (next_slot_ > RasterTileNode::kSlotMask) {
      std::fprintf(stderr, "ERROR: out of tile slots in temporary files\n");
      return false;
    }
    tile.state = (tile.state & RasterTileNode::kClean) | RasterTileNode::kSlotAssigned | next_slot_;
    next_slot_++;
  }
  const std::uint32_t slot = tile.state & RasterTileNode::kSlotMask;
  std::FILE* file = temp_file_for_slot(slot, true);
  if (file == nullptr) return false;
  const long offset = static_cast<long>(slot % tiles_per_file_) * static_cast<long>(tile_bytes_);
  if (std::fseek(file, offset, SEEK_SET) != 0 ||
      std::fwrite(tile.buffer, 1, tile_bytes_, file) != tile_bytes_) {
    if (!spill_reported()) {
      std::fprintf(stderr, "ERROR: cannot write tile to temporary file '%s': %s\n",
                   temp_files_[slot / tiles_per_file_].name().c_str(), std::strerror(errno));
    }
    if (budget_ != nullptr) budget_->note_spill_failure();
    return false;
  }
  tile.writes++;
  tile_writes_++;
  return true;
}

bool LASraster::read_back(RasterTileNode& tile) {
  const std::uint32_t slot = tile.state & RasterTileNode::kSlotMask;
  if (budget_ != nullptr) {
    if ((tile.state & RasterTileNode::kSlotAssigned) == 0 ||
        !budget_->read_slot(slot, tile.buffer, tile_bytes_)) {
      return false;
    }
    tile.state |= RasterTileNode::kClean;
    tile.reads++;
    tile_reads_++;
    return true;
  }
  std::FILE* file =
      (tile.state & RasterTileNode::kSlotAssigned) ? temp_file_for_slot(slot, false) : nullptr;
  const long offset = static_cast<long>(slot % tiles_per_file_) * static_cast<long>(tile_bytes_);
  if (file == nullptr || std::fseek(file, offset, SEEK_SET) != 0 ||
      std::fread(tile.buffer, 1, tile_bytes_, file) != tile_bytes_) {
    if (!spill_reported())
      std::fprintf(stderr, "ERROR: cannot read LASrasterTile from temporary file\n");
    if (budget_ != nullptr) budget_->note_spill_failure();
    return false;
  }
  tile.state |= RasterTileNode::kClean;
  tile.reads++;
  tile_reads_++;
  return true;
}

std::FILE* LASraster::temp_file_for_slot(std::uint32_t slot, bool create) {
  const std::uint32_t number = slot / tiles_per_file_;
  if (number < temp_files_.size()) return temp_files_[number].file();
  // Slots are handed out in order, so a new file always begins with its first slot.
  if (!create || number != temp_files_.size()) return nullptr;
  char name[4096];
  for (int attempt = 0; attempt < kMaxNameAttempts; attempt++) {
    const unsigned file_number = number + static_cast<unsigned>(attempt);
    if (temp_name_base_.empty()) {
      std::snprintf(name, sizeof(name), "taemp%d.%d.tmp", static_cast<int>(process_id_),
                    static_cast<int>(file_number));
    } else {
      std::snprintf(name, sizeof(name), "%s%d.%d.tmp", temp_name_base_.c_str(),
                    static_cast<int>(process_id_), static_cast<int>(file_number));
    }
    errno = 0;
    TemporaryFile file;
    if (file.create(name)) {
      // Whole tiles go in and out: a stdio buffer would only add a copy, and would hold
      // written tiles back from the file.
      std::setvbuf(file.file(), nullptr, _IONBF, 0);
      temp_files_.push_back(std::move(file));
      return temp_files_.back().file();
    }
    if (errno != EEXIST) break;
  }
  if (!spill_reported()) std::fprintf(stderr, "ERROR: cannot create temporary file '%s'\n", name);
  if (budget_ != nullptr) budget_->note_spill_failure();
  return nullptr;
}

void LASraster::unlink_tile(RasterTileNode& tile) {
  if (&tile == head_) {
    // The remembered tile is no longer the head, nor known to be absent.
    last_tile_valid_ = false;
    last_tile_x_ = last_tile_y_ = -2147483647 - 1;
    head_ = tile.next;
  }
  if (&tile == tail_) tail_ = tile.prev;
  if (tile.prev != nullptr) tile.prev->next = tile.next;
  if (tile.next != nullptr) tile.next->prev = tile.prev;
  tile.prev = tile.next = nullptr;
}

void LASraster::push_head(RasterTileNode& tile) {
  tile.prev = nullptr;
  tile.next = head_;
  if (head_ != nullptr) head_->prev = &tile;
  head_ = &tile;
  if (tail_ == nullptr) tail_ = &tile;
}

std::vector<LASraster::TileExtent> LASraster::tile_extents() const {
  struct Found {
    std::int32_t dy, dx;
  };
  std::vector<Found> found;
  found.reserve(tile_count());
  for (const auto& [key, tile] : near_tiles_) {
    const std::uint32_t bits = static_cast<std::uint32_t>(key);
    found.push_back(
        {static_cast<std::int16_t>(bits & 0xFFFFu), static_cast<std::int32_t>(bits) >> 16});
  }
  for (const auto& [key, tile] : far_tiles_) {
    found.push_back({static_cast<std::int32_t>(static_cast<std::uint32_t>(key)),
                     static_cast<std::int32_t>(static_cast<std::uint32_t>(key >> 32))});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.dy != b.dy ? a.dy < b.dy : a.dx < b.dx;
  });
  std::vector<TileExtent> extents;
  extents.reserve(found.size());
  for (const Found& f : found) {
    const std::uint32_t tile_x = origin_tile_x_ + static_cast<std::uint32_t>(f.dx);
    const std::uint32_t tile_y = origin_tile_y_ + static_cast<std::uint32_t>(f.dy);
    const std::uint64_t first_a = std::uint64_t{tile_x} * tile_size;
    const std::uint64_t first_b = std::uint64_t{tile_y} * tile_size;
    // The last tile of the unsigned range holds only 96 cells per side.
    const auto extent = [](std::uint64_t first) {
      return static_cast<std::uint32_t>(std::min<std::uint64_t>(tile_size, 0x100000000ull - first));
    };
    extents.push_back({static_cast<std::int32_t>(static_cast<std::uint32_t>(first_a)),
                       static_cast<std::int32_t>(static_cast<std::uint32_t>(first_b)),
                       extent(first_a), extent(first_b)});
  }
  return extents;
}

const RasterTileNode* LASraster::tile_of(std::int32_t column, std::int32_t row) const {
  if (tile_bytes_ == 0) return nullptr;
  const std::uint32_t tile_x = static_cast<std::uint32_t>(column) / tile_size;
  const std::uint32_t tile_y = static_cast<std::uint32_t>(row) / tile_size;
  const std::int32_t dx = static_cast<std::int32_t>(tile_x - origin_tile_x_);
  const std::int32_t dy = static_cast<std::int32_t>(tile_y - origin_tile_y_);
  if (dx >= -32768 && dx <= 32767 && dy >= -32768 && dy <= 32767) {
    const std::int32_t key = static_cast<std::int32_t>((static_cast<std::uint32_t>(dx) << 16) |
                                                       (static_cast<std::uint32_t>(dy) & 0xFFFFu));
    auto found = near_tiles_.find(key);
    return found == near_tiles_.end() ? nullptr : &found->second;
  }
  const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(dx)) << 32) |
                            static_cast<std::uint32_t>(dy);
  auto found = far_tiles_.find(key);
  return found == far_tiles_.end() ? nullptr : &found->second;
}

std::uint64_t LASraster::memory_bytes() const {
  // Hash and tree nodes carry their key, the record and about four pointers of their own.
  constexpr std::uint64_t kNodeOverhead = 4 * sizeof(void*) + sizeof(std::uint64_t);
  const std::uint64_t tiles = tile_count();
  return buffer_bytes() + sparse_cells_.bytes() + sparse_tiles_.bytes() +
         tiles * (sizeof(RasterTileNode) + kNodeOverhead) +
         near_tiles_.bucket_count() * sizeof(void*) +
         buffers_.capacity() * sizeof(std::unique_ptr<std::uint8_t[]>) + sizeof(LASraster);
}

// ---------------------------------------------------------------------------------------
// Shared budget

void TileBudget::touch(LASraster& raster) {
  if (raster.in_budget_) {
    if (newest_ == &raster) return;
    forget(raster);
  }
  raster.budget_older_ = newest_;
  raster.budget_newer_ = nullptr;
  if (newest_ != nullptr) newest_->budget_newer_ = &raster;
  newest_ = &raster;
  if (oldest_ == nullptr) oldest_ = &raster;
  raster.in_budget_ = true;
}

void TileBudget::forget(LASraster& raster) {
  if (!raster.in_budget_) return;
  if (raster.budget_older_ != nullptr) {
    raster.budget_older_->budget_newer_ = raster.budget_newer_;
  } else {
    oldest_ = raster.budget_newer_;
  }
  if (raster.budget_newer_ != nullptr) {
    raster.budget_newer_->budget_older_ = raster.budget_older_;
  } else {
    newest_ = raster.budget_older_;
  }
  raster.budget_older_ = raster.budget_newer_ = nullptr;
  raster.in_budget_ = false;
}

LASraster* TileBudget::least_recent_other(const LASraster& self) const {
  for (LASraster* raster = oldest_; raster != nullptr; raster = raster->budget_newer_) {
    if (raster != &self && raster->buffer_count_ > 0) return raster;
  }
  return nullptr;
}

void TileBudget::note_overrun(std::int64_t bytes) {
  if (overrun_reported_) return;
  overrun_reported_ = true;
  std::fprintf(stderr,
               "WARNING: the grid's scattered cells need %lld MB, more than the memory limit of "
               "%lld MB. they stay in memory.\n",
               static_cast<long long>((used_ + bytes + 1048575) / 1048576),
               static_cast<long long>(limit_ / 1048576));
}

bool TileBudget::open_file() {
  if (file_.is_open()) return true;
  char name[4096];
  const int process = static_cast<int>(current_process_id());
  for (int attempt = 0; attempt < kMaxNameAttempts; attempt++) {
    if (temp_name_base_.empty()) {
      std::snprintf(name, sizeof(name), "taemp%d.%d.tmp", process, attempt);
    } else {
      std::snprintf(name, sizeof(name), "%s%d.%d.tmp", temp_name_base_.c_str(), process, attempt);
    }
    errno = 0;
    if (file_.create(name)) {
      std::setvbuf(file_.file(), nullptr, _IONBF, 0);  // whole tiles go in and out
      return true;
    }
    if (errno != EEXIST) break;
  }
  if (!spill_failed_) {
    std::fprintf(stderr, "ERROR: cannot create temporary file '%s': %s\n", name,
                 std::strerror(errno));
  }
  spill_failed_ = true;
  return false;
}

bool TileBudget::new_slot(std::uint32_t bytes, std::uint32_t& slot) {
  if (slot_offsets_.size() > RasterTileNode::kSlotMask) {
    if (!spill_failed_) std::fprintf(stderr, "ERROR: out of tile slots in temporary files\n");
    spill_failed_ = true;
    return false;
  }
  slot = static_cast<std::uint32_t>(slot_offsets_.size());
  slot_offsets_.push_back(file_end_);
  file_end_ += bytes;
  return true;
}

bool TileBudget::write_slot(std::uint32_t slot, const std::uint8_t* data, std::uint32_t bytes) {
  if (!open_file()) return false;
  if (fseeko(file_.file(), static_cast<off_t>(slot_offsets_[slot]), SEEK_SET) != 0 ||
      std::fwrite(data, 1, bytes, file_.file()) != bytes) {
    if (!spill_failed_) {
      std::fprintf(stderr, "ERROR: cannot write tile to temporary file '%s': %s\n",
                   file_.name().c_str(), std::strerror(errno));
    }
    spill_failed_ = true;
    return false;
  }
  return true;
}

bool TileBudget::read_slot(std::uint32_t slot, std::uint8_t* data, std::uint32_t bytes) {
  if (!file_.is_open() || slot >= slot_offsets_.size() ||
      fseeko(file_.file(), static_cast<off_t>(slot_offsets_[slot]), SEEK_SET) != 0 ||
      std::fread(data, 1, bytes, file_.file()) != bytes) {
    if (!spill_failed_) {
      std::fprintf(stderr, "ERROR: cannot read LASrasterTile from temporary file\n");
    }
    spill_failed_ = true;
    return false;
  }
  return true;
}
