#include "tool/isolation_grid.hpp"

#include "stream/message_sink.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::string format_message(const char* format, long long value) {
  char text[160];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

bool usable_step(float step) {
  return step > 0.0f && std::isfinite(step);
}

// Rejected steps (checked in the constructor body) get no inverse.
double inverse_of(float step) {
  return usable_step(step) ? 1.0 / static_cast<double>(step) : 0.0;
}

// Neighbours of cell (c, r) in its own layer, in the order they are added up; the layers
// above and below add (0, 0) first and then the same eight.
constexpr int kNeighbours[8][2] = {{1, 0}, {-1, 0}, {0, 1},  {0, -1},
                                   {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Where a stored record keeps the fields of the first pass, and the cell indices of the
// thread that locates the points.
class RecordLocator {
 public:
  RecordLocator(const LASscaling& scaling, std::size_t record_size, std::size_t flightline_offset,
                const LastCellIndex& layer_index, const LastCellIndex& column_index,
                const LastCellIndex& row_index)
      : scaling_(scaling),
        record_size_(record_size),
        flightline_offset_(flightline_offset),
        layer_index_(layer_index),
        column_index_(column_index),
        row_index_(row_index) {}

  std::size_t record_size() const { return record_size_; }

  void locate_record(const std::uint8_t* record, LocatedPoint& located) {
    std::int32_t X, Y, Z;
    std::uint16_t flightline;
    std::memcpy(&X, record, 4);
    std::memcpy(&Y, record + 4, 4);
    std::memcpy(&Z, record + 8, 4);
    std::memcpy(&flightline, record + flightline_offset_, 2);
    locate(scaling_.get_x(X), scaling_.get_y(Y), scaling_.get_z(Z), flightline, located);
  }
  void locate_point(const LASpoint& point, LocatedPoint& located) {
    locate(point.get_x(), point.get_y(), point.get_z(), point.point_source_ID, located);
  }

 private:
  void locate(double x, double y, double z, std::uint16_t flightline, LocatedPoint& located) {
    located.flightline = flightline;
    located.in_grid = layer_index_.index_of(z, located.layer) &&
                      column_index_.index_of(x, located.column) &&
                      row_index_.index_of(y, located.row);
  }

  const LASscaling& scaling_;
  std::size_t record_size_;
  std::size_t flightline_offset_;
  LastCellIndex layer_index_;
  LastCellIndex column_index_;
  LastCellIndex row_index_;
};

// Fills a batch with the next points of the reader, located; false when the reader has
// no more points (the batch may still hold some).
bool locate_batch(LASreader& reader, RecordLocator& locator, LocatedPoint* batch,
                  std::size_t capacity, std::size_t& count) {
  count = 0;
  while (count < capacity) {
    const std::uint8_t* records = nullptr;
    const std::size_t taken = reader.take_raw_records(records, capacity - count);
    for (std::size_t i = 0; i < taken; i++)
      locator.locate_record(records + i * locator.record_size(), batch[count + i]);
    count += taken;
    if (taken != 0) continue;
    if (!reader.read_next()) return false;
    locator.locate_point(reader.point, batch[count++]);
  }
  return true;
}

// The thread that reads and locates the points of the first pass, a few batches ahead of
// the thread that counts them. The batches go round in a fixed ring, so the memory does
// not depend on the number of points. Ending it early (the counting threw) stops it at
// its next batch.
class LocatingThread {
 public:
  static constexpr std::size_t kBatchPoints = 16384;
  static constexpr std::size_t kBatches = 4;

  // Throws std::system_error when no thread can be started, std::bad_alloc when the
  // batches cannot be had.
  LocatingThread(LASreader& reader, const RecordLocator& locator)
      : reader_(reader),
        locator_(locator),
        points_(kBatches * kBatchPoints),
        messages_(MessageSink::current()) {
    // What the reader says goes where the file's other lines go.
    thread_ = std::thread([this] {
      const MessageSink::Scope scope(messages_);
      run();
    });
  }
  ~LocatingThread() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    freed_.notify_one();
    thread_.join();
  }
  LocatingThread(const LocatingThread&) = delete;
  LocatingThread& operator=(const LocatingThread&) = delete;

  // Waits for the next batch in reading order; `last` tells that no batch follows. The
  // batch stays valid until `release`. Throws what reading threw, which ends the pass.
  const LocatedPoint* next(std::size_t& count, bool& last) {
    std::unique_lock<std::mutex> lock(mutex_);
    filled_.wait(lock, [this] { return produced_ > consumed_; });
    const std::size_t slot = consumed_ % kBatches;
    if (last_[slot] && failure_) std::rethrow_exception(failure_);
    count = counts_[slot];
    last = last_[slot];
    return points_.data() + slot * kBatchPoints;
  }
  void release() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      consumed_++;
    }
    freed_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::size_t slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        freed_.wait(lock, [this] { return stopping_ || produced_ - consumed_ < kBatches; });
        if (stopping_) return;
        slot = produced_ % kBatches;
      }
      std::size_t count = 0;
      bool more = false;
      std::exception_ptr failure;
      try {
        more = locate_batch(reader_, locator_, points_.data() + slot * kBatchPoints, kBatchPoints,
                            count);
      } catch (...) {
        // Handed to the counting thread, which would have met it reading by itself.
        failure = std::current_exception();
        count = 0;
      }
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        failure_ = failure;
        counts_[slot] = count;
        last_[slot] = !more;
        produced_++;
      }
      filled_.notify_one();
      if (!more) return;
    }
  }

  LASreader& reader_;
  RecordLocator locator_;
  std::vector<LocatedPoint> points_;
  std::size_t counts_[kBatches] = {};
  bool last_[kBatches] = {};
  std::mutex mutex_;
  std::condition_variable filled_;  // to the counting thread: a batch is ready
  std::condition_variable freed_;   // to the locating thread: a batch is free, or stop
  std::uint64_t produced_ = 0;
  std::uint64_t consumed_ = 0;
  std::exception_ptr failure_;  // thrown while reading; comes instead of the last batch
  bool stopping_ = false;
  MessageSink* messages_;
  std::thread thread_;  // last: it starts once the members it uses are made
};

}  // namespace

const char* counter_kind_for_threshold(std::uint32_t t) {
  if (t <= 2) return "counter_2bit";
  if (t <= 14) return "counter_4bit";
  if (t <= 254) return "counter";
  if (t <= 65534) return "counter_16bit";
  return "counter_32bit";
}

std::uint32_t FlightlineGroup::layer_count() const {
  if (max_layer < min_layer) return 0;
  return static_cast<std::uint32_t>(std::int64_t{max_layer} - min_layer + 1);
}

IsolationGrid::IsolationGrid(const IsolationGridSettings& settings, const LASignore* ignore)
    : step_xy_(settings.step_xy),
      step_z_(settings.step_z),
      inverse_xy_(inverse_of(settings.step_xy)),
      inverse_z_(inverse_of(settings.step_z)),
      layer_index_(step_z_, inverse_z_),
      column_index_(step_xy_, inverse_xy_),
      row_index_(step_xy_, inverse_xy_),
      threshold_(settings.threshold),
      by_flightline_(settings.by_flightline),
      memory_limit_(settings.memory_limit),
      sparse_tiles_(settings.sparse_tiles),
      budget_(std::make_unique<TileBudget>(settings.memory_limit, settings.temp_name_base)),
      temp_name_base_(settings.temp_name_base),
      counter_kind_(counter_kind_for_threshold(settings.threshold)),
      ignore_(ignore),
      current_group_(&single_) {
  const auto check = [](const char* name, float step) {
    if (usable_step(step)) return;
    char text[160];
    std::snprintf(text, sizeof(text), "ERROR: %s must be a positive finite number but is %g\n",
                  name, static_cast<double>(step));
    throw IsolationGridError(text);
  };
  check("step_xy", settings.step_xy);
  check("step_z", settings.step_z);
}

IsolationGrid::~IsolationGrid() = default;

std::unique_ptr<LASraster> IsolationGrid::make_raster(const char* kind) const {
  auto raster = std::make_unique<LASraster>();
  raster->set_step(step_xy_);
  raster->set_kind(kind);
  raster->set_memory_limit(memory_limit_);
  raster->set_sparse(sparse_tiles_);
  raster->set_budget(budget_.get());
  if (!temp_name_base_.empty()) raster->set_temp_name_base(temp_name_base_);
  return raster;
}

void IsolationGrid::switch_flightline_for_counting(std::uint16_t flightline) {
  auto found = flightlines_.find(flightline);
  if (found == flightlines_.end()) {
    try {
      found = flightlines_.try_emplace(flightline).first;
    } catch (const std::bad_alloc&) {
      throw IsolationGridError(
          format_message("ERROR: cannot alloc raster_hash_group for flightline %d.\n", flightline));
    }
  }
  current_group_ = &found->second;
  current_flightline_ = flightline;
}

void IsolationGrid::switch_flightline_for_testing(std::uint16_t flightline) {
  auto found = flightlines_.find(flightline);
  if (found == flightlines_.end()) {
    throw IsolationGridError(
        format_message("FATAL ERROR: cannot alloc raster_hash for flightline %d.\n", flightline));
  }
  current_group_ = &found->second;
  current_flightline_ = flightline;
  test_layer_ = FlightlineGroup::kNoLayer;
  test_raster_ = nullptr;
}

void IsolationGrid::switch_layer(FlightlineGroup& group, std::int32_t layer) {
  FlightlineGroup::CachedLayer& cached = group.counter_cache[FlightlineGroup::cache_slot(layer)];
  if (cached.layer != layer) {
    auto found = group.raster_hash.find(layer);
    if (found == group.raster_hash.end()) {
      found = group.raster_hash.emplace(layer, make_raster(counter_kind_)).first;
    }
    cached.layer = layer;
    cached.raster = found->second.get();
  }
  group.current_raster = cached.raster;
  group.current_layer = layer;
}

void IsolationGrid::switch_test_layer(std::int32_t layer) {
  FlightlineGroup& group = *current_group_;
  FlightlineGroup::CachedLayer& cached = group.noise_cache[FlightlineGroup::cache_slot(layer)];
  if (cached.layer != layer) {
    auto found = group.noise_rasters.find(layer);
    cached.layer = layer;
    cached.raster = found == group.noise_rasters.end() ? nullptr : found->second.get();
  }
  test_layer_ = layer;
  test_raster_ = cached.raster;
}

bool IsolationGrid::count_raw_records(LASreader& reader) {
  const LASpoint& point = reader.point;
  if (point.scaling == nullptr || point.items.empty()) return false;
  // Both core items begin with X, Y, Z as 32-bit integers; the point source ID follows
  // the scan angle byte of POINT10 and the 16-bit scan angle of POINT14.
  constexpr std::size_t kPoint10FlightlineOffset = 18;
  constexpr std::size_t kPoint14FlightlineOffset = 20;
  std::size_t flightline_offset = 0;
  if (point.items[0].type == LASitem::POINT10) {
    flightline_offset = kPoint10FlightlineOffset;
  } else if (point.items[0].type == LASitem::POINT14) {
    flightline_offset = kPoint14FlightlineOffset;
  } else {
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(point.record_size);
  if (size < flightline_offset + 2) return false;
  RecordLocator locator(*point.scaling, size, flightline_offset, layer_index_, column_index_,
                        row_index_);

  // After a point that could not be counted the rest is read but not counted (see
  // first_pass).
  std::uint64_t counted = 0;
  std::unique_ptr<LocatingThread> locating;
  try {
    locating = std::make_unique<LocatingThread>(reader, locator);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  if (locating) {
    for (;;) {
      std::size_t count = 0;
      bool last = false;
      const LocatedPoint* batch = locating->next(count, last);
      counted += count;
      if (uncounted_count_ == 0) {
        for (std::size_t i = 0; i < count; i++)
          add_located(batch[i]);
        if (progress_) progress_(counted);
      }
      locating->release();
      if (last) return true;
    }
  }
  // Without a second thread: locate and count batch by batch.
  std::vector<LocatedPoint> batch(LocatingThread::kBatchPoints);
  for (;;) {
    std::size_t count = 0;
    const bool more = locate_batch(reader, locator, batch.data(), batch.size(), count);
    counted += count;
    if (uncounted_count_ == 0) {
      for (std::size_t i = 0; i < count; i++)
        add_located(batch[i]);
      if (progress_) progress_(counted);
    }
    if (!more) return true;
  }
}

bool IsolationGrid::spill_failed() const {
  return budget_->spill_failed();
}

void IsolationGrid::take_sample(std::int32_t layer, std::int32_t column, std::int32_t row) {
  sample_countdown_ = sample_stride_;
  // Kept evenly spread however many points come: when the samples fill up, every other one
  // goes and the stride doubles.
  if (samples_.size() == 2 * kNeighbourhoodSamples) {
    for (std::size_t i = 0; i < kNeighbourhoodSamples; i++)
      samples_[i] = samples_[2 * i + 1];
    samples_.resize(kNeighbourhoodSamples);
    sample_stride_ *= 2;
    sample_countdown_ = sample_stride_;
    return;
  }
  samples_.push_back({by_flightline_ ? current_flightline_ : -1, layer, column, row});
}

std::uint64_t IsolationGrid::sample_neighbourhood(std::size_t sample, std::int32_t reach) {
  const CellSample& cell = samples_.at(sample);
  FlightlineGroup* group = &single_;
  if (cell.flightline >= 0) {
    auto found = flightlines_.find(static_cast<std::uint16_t>(cell.flightline));
    if (found == flightlines_.end()) return 0;
    group = &found->second;
  }
  // Cells beyond the usable range hold nothing; the sums stay inside 64 bits.
  const auto shifted = [](std::int32_t index, std::int64_t by) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(index + by, kMinCellIndex - 1LL, kMaxCellIndex + 1LL));
  };
  std::uint64_t points = 0;
  for (std::int64_t dz = -reach; dz <= reach; dz++) {
    const auto raster = group->raster_hash.find(shifted(cell.layer, dz));
    if (raster == group->raster_hash.end()) continue;
    for (std::int64_t dy = -reach; dy <= reach; dy++) {
      for (std::int64_t dx = -reach; dx <= reach; dx++)
        points += raster->second->count_cell(shifted(cell.column, dx), shifted(cell.row, dy));
    }
  }
  return points;
}

void IsolationGrid::finish_first_pass() {
  peak_memory_bytes_ = std::max(peak_memory_bytes_, memory_bytes());
  // The second pass starts over with its own flightline and layer caches.
  if (by_flightline_) {
    current_flightline_ = -1;
  }
  test_layer_ = FlightlineGroup::kNoLayer;
  test_raster_ = nullptr;
}

std::uint32_t IsolationGrid::created_layers() const {
  return current_group_->layer_count();
}

std::uint32_t IsolationGrid::group_count() const {
  return by_flightline_ ? static_cast<std::uint32_t>(flightlines_.size()) : 1u;
}

std::uint64_t IsolationGrid::search(
    const std::function<void(const GroupSearchResult&)>& after_group) {
  std::uint64_t total = 0;
  if (!by_flightline_) {
    const std::uint32_t cells = search_group(single_);
    total = cells;
    if (after_group) after_group({-1, cells});
    return total;
  }
  for (auto& [flightline, group] : flightlines_) {
    const std::uint32_t cells = search_group(group);
    total += cells;
    if (after_group) after_group({flightline, cells});
  }
  return total;
}

// Walks the layers that hold points from the top down. Each layer's cells are compared
// with their 26 neighbours in the layers above and below; a counter raster is freed as
// soon as the layer below it has been examined, so at most three of them are in use.
// Only tiles that exist are visited, and of sparse tiles only their cells: the verdict of a
// cell does not depend on the order of the visit, and a far outlier must not make the
// search walk the empty box between, nor a lone point the rest of its tile.
std::uint32_t IsolationGrid::search_group(FlightlineGroup& group) {
  std::vector<std::int32_t> layers;
  layers.reserve(group.raster_hash.size());
  for (const auto& entry : group.raster_hash)
    layers.push_back(entry.first);
  std::sort(layers.begin(), layers.end(), std::greater<>());

  std::uint64_t counter_memory = memory_bytes();
  const std::uint32_t t = threshold_;
  std::uint32_t isolated = 0;
  group.current_raster = nullptr;
  group.current_layer = FlightlineGroup::kNoLayer;
  group.counter_cache.fill({});  // the counter rasters go away layer by layer
  group.noise_cache.fill({});

  const auto raster_at = [&group](std::int32_t layer) -> LASraster* {
    auto found = group.raster_hash.find(layer);
    return found == group.raster_hash.end() ? nullptr : found->second.get();
  };
  const auto release_layer = [&](std::int32_t layer) {
    auto found = group.raster_hash.find(layer);
    if (found == group.raster_hash.end()) return;
    const std::uint64_t bytes = found->second->memory_bytes();
    counter_memory = counter_memory > bytes ? counter_memory - bytes : 0;
    note_spill(*found->second);
    group.raster_hash.erase(found);
  };

  for (const std::int32_t layer : layers) {
    LASraster& current = *raster_at(layer);
    // Usable layers stop one short of the int32 range, so layer +- 1 cannot overflow.
    LASraster* above = raster_at(layer + 1);
    LASraster* below = raster_at(layer - 1);
    LASraster* marks = nullptr;
    std::uint64_t marks_bytes_before = 0;
    {
      auto found = group.noise_rasters.find(layer);
      if (found != group.noise_rasters.end()) {
        marks = found->second.get();
        marks_bytes_before = marks->memory_bytes();
      }
    }

    // Cell (c, r) holding k points: marked when it and its 26 neighbours hold at most t.
    // Around a cell of a sparse tile, a tile that holds no other cell spares the lookups of
    // the neighbours inside it.
    const auto examine = [&](std::int32_t c, std::int32_t r, std::uint32_t k, bool sparse) {
      if (k == 0 || k > t) return;
      // Cells with a count lie in the usable range, so c +- 1 and r +- 1 do too.
      const std::uint64_t budget = t - k;
      std::uint64_t sum = 0;
      const bool in_tile = sparse && LASraster::neighbours_in_tile(c, r);
      if (!in_tile || current.tile_cell_count(c, r) != 1) {
        for (const auto& step : kNeighbours) {
          sum += current.count_cell(c + step[0], r + step[1]);
          if (sum > budget) return;
        }
      }
      for (LASraster* next_to : {above, below}) {
        if (next_to == nullptr || (in_tile && next_to->tile_cell_count(c, r) == 0)) continue;
        sum += next_to->count_cell(c, r);
        for (const auto& step : kNeighbours) {
          if (sum > budget) return;
          sum += next_to->count_cell(c + step[0], r + step[1]);
        }
        if (sum > budget) return;
      }
      if (marks == nullptr) marks = add_noise_raster(group, layer);
      if (marks->set_cell(c, r, nullptr)) isolated++;
    };
    for (const LASraster::TileExtent& tile : current.tile_extents()) {
      for (std::uint32_t y = 0; y < tile.rows; y++) {
        const std::int32_t r =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(tile.first_row) + y);
        for (std::uint32_t x = 0; x < tile.columns; x++) {
          const std::int32_t c =
              static_cast<std::int32_t>(static_cast<std::uint32_t>(tile.first_column) + x);
          examine(c, r, current.count_cell(c, r), false);
        }
      }
    }
    // The marks go to another raster: the table of the current one stays as it is.
    current.for_each_sparse_cell(
        [&](std::int32_t c, std::int32_t r, std::uint32_t k) { examine(c, r, k, true); });

    const std::uint64_t marks_bytes = marks ? marks->memory_bytes() - marks_bytes_before : 0;
    counter_memory += marks_bytes;
    peak_memory_bytes_ = std::max(peak_memory_bytes_, counter_memory);
    // The layer above has served as the upper neighbour of this one; this layer is done
    // too when nothing lies below it.
    release_layer(layer + 1);
    if (below == nullptr) release_layer(layer);
  }
  group.raster_hash.clear();
  group.isolated_cells = isolated;
  return isolated;
}

LASraster* IsolationGrid::add_noise_raster(FlightlineGroup& group, std::int32_t layer) {
  try {
    return group.noise_rasters.emplace(layer, make_raster("occupancy")).first->second.get();
  } catch (const std::bad_alloc&) {
    throw IsolationGridError(
        format_message("ERROR: cannot alloc noise_raster_array for %d rasters.\n",
                       static_cast<std::int32_t>(group.layer_count())));
  }
}

void IsolationGrid::note_spill(const LASraster& raster) {
  spill_writes_ += raster.tile_writes();
  spill_reads_ += raster.tile_reads();
}

std::uint64_t IsolationGrid::memory_bytes() const {
  std::uint64_t bytes = 0;
  const auto add_group = [&bytes](const FlightlineGroup& group) {
    for (const auto& entry : group.raster_hash)
      bytes += entry.second->memory_bytes();
    for (const auto& entry : group.noise_rasters)
      bytes += entry.second->memory_bytes();
  };
  add_group(single_);
  for (const auto& entry : flightlines_)
    add_group(entry.second);
  return bytes;
}

std::uint64_t IsolationGrid::spill_writes() const {
  std::uint64_t writes = spill_writes_;
  const auto add_group = [&writes](const FlightlineGroup& group) {
    for (const auto& entry : group.raster_hash)
      writes += entry.second->tile_writes();
    for (const auto& entry : group.noise_rasters)
      writes += entry.second->tile_writes();
  };
  add_group(single_);
  for (const auto& entry : flightlines_)
    add_group(entry.second);
  return writes;
}

std::uint64_t IsolationGrid::spill_reads() const {
  std::uint64_t reads = spill_reads_;
  const auto add_group = [&reads](const FlightlineGroup& group) {
    for (const auto& entry : group.raster_hash)
      reads += entry.second->tile_reads();
    for (const auto& entry : group.noise_rasters)
      reads += entry.second->tile_reads();
  };
  add_group(single_);
  for (const auto& entry : flightlines_)
    add_group(entry.second);
  return reads;
}

void IsolationGrid::release() {
  const auto release_group = [this](FlightlineGroup& group) {
    for (const auto& entry : group.raster_hash)
      note_spill(*entry.second);
    for (const auto& entry : group.noise_rasters)
      note_spill(*entry.second);
    group = FlightlineGroup{};
  };
  release_group(single_);
  for (auto& entry : flightlines_)
    release_group(entry.second);
  flightlines_.clear();
  candidates_ = {};
  remembered_points_ = 0;
  tested_points_ = 0;
  current_group_ = &single_;
  current_flightline_ = -1;
  test_layer_ = FlightlineGroup::kNoLayer;
  test_raster_ = nullptr;
}

void print_ignored_points(std::uint64_t count) {
  if (count != 0) {
    std::fprintf(stderr, "ignored %" PRId64 " points (that will also survive).\n",
                 static_cast<std::int64_t>(count));
  }
}

void print_first_pass_done(double seconds, std::uint32_t layers) {
  std::fprintf(stderr, "took %g sec. created %u grid layers. finding isolated cells ...\n", seconds,
               layers);
}

void print_flightline_search_done(double seconds, const GroupSearchResult& result) {
  std::fprintf(stderr, "took %g sec. found %d isolated cells for flightline %d.\n", seconds,
               static_cast<int>(result.isolated_cells), result.flightline);
}

void print_search_done(double seconds, std::uint64_t isolated_cells) {
  std::fprintf(stderr, "took %g sec. found %d isolated cells. now outputting ...\n", seconds,
               static_cast<int>(isolated_cells));
}

void print_now_outputting() {
  std::fprintf(stderr, "now outputting ...\n");
}
