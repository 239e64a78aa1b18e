#include "tool/layer_copy_pass.hpp"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/layered_chunk_recoder.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "select/las_ignore.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/worker_pool.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/progress_line.hpp"

namespace {

using MarkingMode = NoiseSettings::MarkingMode;
using Recoder = LASlayeredChunkRecoder;

constexpr std::uint8_t kWithheldBit = 0x04;  // of the stored flag byte

// The points of a chunk from the first pass's records (the inverse of
// condense_for_layer_copy), on the worker that decodes the chunk: the thread that reads and
// decides in order has enough to do.
void unpack_first_pass(const std::vector<std::uint8_t>& records, std::uint32_t count,
                       std::vector<Recoder::Point>& points) {
  points.resize(count);
  const std::uint8_t* record = records.data();
  for (Recoder::Point& point : points) {
    std::memcpy(&point.X, record, 4);
    std::memcpy(&point.Y, record + 4, 4);
    std::memcpy(&point.Z, record + 8, 4);
    point.returns = record[12];
    point.flags = record[13];
    std::memcpy(&point.point_source_ID, record + 14, 2);
    record += kLayerCopyPointSize;
  }
}

// One chunk on its way through the pass, with what its jobs need; kept for later chunks.
struct ChunkSlot {
  Recoder recoder;
  std::vector<std::uint8_t> bytes;
  std::vector<Recoder::Point> points;
  std::vector<std::uint8_t> first_pass;  // the first pass's records of the points, if given
  ByteStreamOutArray coded;
  std::uint32_t count = 0;
  bool decoded = false;   // written by the decoding job
  bool coded_ok = false;  // written by the coding job
  WorkerPool::TicketPtr ticket;
};

class LayerCopy {
 public:
  LayerCopy(LASreaderLAS& reader, LASwriterLAS& writer, IsolationGrid& grid, MarkingMode mode,
            std::uint8_t classify_as, ProgressLine& progress, ByteStreamIn* records)
      : records_(records),
        reader_(reader),
        writer_(writer),
        grid_(grid),
        mode_(mode),
        classify_as_(classify_as),
        progress_(progress) {
    WorkerPool* pool = reader.worker_pool();
    if (pool != nullptr && pool->workers() > 0) pool_ = pool;
  }
  ~LayerCopy() { settle_all(); }
  LayerCopy(const LayerCopy&) = delete;
  LayerCopy& operator=(const LayerCopy&) = delete;

  bool setup(std::uint32_t chunks);
  void run(LayerCopyResult& result);

 private:
  // Runs `job` on a worker, or here without one.
  template <class Job>
  void start(ChunkSlot& slot, Job job) {
    if (pool_ == nullptr) {
      job();
      return;
    }
    slot.ticket = pool_->submit(job);
  }
  // Waits for the slot's job; false when it let an exception out.
  bool settle(ChunkSlot& slot) { return !slot.ticket || pool_->settle(slot.ticket); }
  void settle_all() {
    for (auto& slot : slots_)
      settle(*slot);
  }
  ChunkSlot& slot_of(std::uint32_t chunk) { return *slots_[chunk % slots_.size()]; }
  std::uint32_t points_of(std::uint32_t chunk) const;
  // Reads chunk `chunk` and starts its decoding; false when its bytes are not there.
  bool queue(std::uint32_t chunk);
  void decide(ChunkSlot& slot, LayerCopyResult& result);
  bool write(std::uint32_t chunk);
  // The first pass's records of the chunk's points; false when they are not there.
  bool take_first_pass_records(ChunkSlot& slot);

  ByteStreamIn* records_;
  LASreaderLAS& reader_;
  LASwriterLAS& writer_;
  IsolationGrid& grid_;
  MarkingMode mode_;
  std::uint8_t classify_as_;
  ProgressLine& progress_;
  WorkerPool* pool_ = nullptr;
  std::uint32_t chunks_ = 0;
  std::uint32_t chunk_size_ = 0;
  std::uint32_t lag_ = 0;  // chunks between the start of their coding and their writing
  std::vector<std::unique_ptr<ChunkSlot>> slots_;
};

std::uint32_t LayerCopy::points_of(std::uint32_t chunk) const {
  const std::uint64_t first = std::uint64_t{chunk} * chunk_size_;
  const std::uint64_t left = static_cast<std::uint64_t>(reader_.points_total) - first;
  return static_cast<std::uint32_t>(left < chunk_size_ ? left : chunk_size_);
}

bool LayerCopy::setup(std::uint32_t chunks) {
  const Pakrel& codec = *reader_.header.codec;
  chunks_ = chunks;
  chunk_size_ = codec.chunk_size;
  // Fixed chunks that hold exactly the file's points: the last one may be short.
  const std::uint64_t total = static_cast<std::uint64_t>(reader_.points_total);
  if (chunks == 0 || total == 0 || std::uint64_t{chunks} * chunk_size_ < total ||
      std::uint64_t{chunks - 1} * chunk_size_ >= total) {
    return false;
  }
  // Two chunks decoding per worker and one per worker being coded keep every thread busy
  // while the verdicts of the next chunk are made here.
  const std::uint32_t workers = pool_ != nullptr ? pool_->workers() : 0;
  lag_ = workers;
  const std::size_t slots = pool_ != nullptr ? 3 * std::size_t{workers} + 1 : 1;
  const Recoder::Layer layer =
      mode_ == MarkingMode::kClassify ? Recoder::Layer::kClassification : Recoder::Layer::kFlags;
  for (std::size_t i = 0; i < slots; i++) {
    auto slot = std::make_unique<ChunkSlot>();
    if (!slot->recoder.setup(codec.items, layer, grid_.by_flightline())) return false;
    slots_.push_back(std::move(slot));
  }
  for (std::uint32_t k = 0; k < chunks_; k++) {
    LASreadEngine::StoredChunk where;
    if (!reader_.stored_chunk(k, where)) return false;
  }
  return true;
}

bool LayerCopy::queue(std::uint32_t chunk) {
  ChunkSlot& slot = slot_of(chunk);
  LASreadEngine::StoredChunk where;
  if (!reader_.stored_chunk(chunk, where)) return false;
  slot.count = points_of(chunk);
  slot.decoded = false;
  const auto length = static_cast<std::size_t>(where.length);
  try {
    if (slot.bytes.size() < length) slot.bytes.resize(length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (records_ != nullptr && !take_first_pass_records(slot)) return false;
  if (!reader_.take_stored_chunk(where, slot.count, slot.bytes.data())) return false;
  ChunkSlot* job_slot = &slot;
  const bool given = records_ != nullptr;
  start(slot, [job_slot, length, given] {
    try {
      Recoder& recoder = job_slot->recoder;
      const std::uint8_t* bytes = job_slot->bytes.data();
      if (given) unpack_first_pass(job_slot->first_pass, job_slot->count, job_slot->points);
      job_slot->decoded =
          given ? recoder.decode_layer(bytes, length, job_slot->count, job_slot->points)
                : recoder.decode(bytes, length, job_slot->count, job_slot->points);
    } catch (...) {
      job_slot->decoded = false;  // out of memory: the ordinary reader tries the chunk
    }
  });
  return true;
}

bool LayerCopy::take_first_pass_records(ChunkSlot& slot) {
  try {
    slot.first_pass.resize(kLayerCopyPointSize * slot.count);
    records_->read_bytes(slot.first_pass.data(), slot.first_pass.size());
  } catch (...) {
    records_ = nullptr;  // short or out of memory: the ordinary reader takes over
    return false;
  }
  return true;
}

// The verdicts in file order, as the full path gives them.
void LayerCopy::decide(ChunkSlot& slot, LayerCopyResult& result) {
  const LASscaling& scaling = *reader_.point.scaling;
  const bool classify = mode_ == MarkingMode::kClassify;
  for (Recoder::Point& point : slot.points) {
    if (grid_.may_be_noise_in_order() &&
        grid_.is_noise_at(scaling.get_x(point.X), scaling.get_y(point.Y), scaling.get_z(point.Z),
                          point.point_source_ID)) {
      result.noise_points++;
      if (classify) {
        point.classification = classify_as_;
      } else {
        point.flags |= kWithheldBit;
      }
    }
  }
  result.points += slot.count;
  progress_.update(result.points);
  ChunkSlot* job_slot = &slot;
  start(slot, [job_slot] {
    try {
      job_slot->coded.clear();
      job_slot->coded_ok = job_slot->recoder.encode(job_slot->points, job_slot->coded);
    } catch (...) {
      job_slot->coded_ok = false;
    }
  });
}

bool LayerCopy::write(std::uint32_t chunk) {
  ChunkSlot& slot = slot_of(chunk);
  if (!settle(slot) || !slot.coded_ok) {
    std::fprintf(stderr, "ERROR: out of memory while coding chunk %u\n", chunk);
    return false;
  }
  return writer_.write_stored_chunk(slot.coded.data(), static_cast<std::size_t>(slot.coded.size()),
                                    slot.count);
}

void LayerCopy::run(LayerCopyResult& result) {
  // Chunk k is decided after its decoding, written `lag_` chunks later; its slot then takes
  // the chunk `slots - lag_` ahead of k.
  const std::uint32_t slots = static_cast<std::uint32_t>(slots_.size());
  const std::uint32_t ahead = slots - lag_;
  std::uint32_t queued = 0;
  bool reading = true;
  for (; queued < chunks_ && queued < ahead; queued++) {
    if (!queue(queued)) {
      reading = false;
      break;
    }
  }
  std::uint32_t decided = 0;
  std::uint32_t written = 0;
  for (; decided < chunks_; decided++) {
    if (decided >= queued) break;  // its bytes could not be read
    ChunkSlot& slot = slot_of(decided);
    if (!settle(slot) || !slot.decoded) break;
    decide(slot, result);
    if (decided + 1 > lag_) {
      if (!write(written)) {
        result.write_failed = true;
        return;
      }
      written++;
    }
    if (reading && queued < chunks_ && queued - written < slots) {
      if (queue(queued)) {
        queued++;
      } else {
        reading = false;
      }
    }
  }
  for (; written < decided; written++) {
    if (!write(written)) {
      result.write_failed = true;
      return;
    }
  }
  settle_all();
  if (decided == chunks_) {
    result.finished = true;
    return;
  }
  // The chunk that could not be taken is read the ordinary way, from its first point.
  const std::int64_t first = static_cast<std::int64_t>(decided) * chunk_size_;
  if (!reader_.continue_at_chunk(decided, first)) {
    std::fprintf(stderr, "ERROR: cannot go on reading at chunk %u\n", decided);
    result.write_failed = true;
  }
}

}  // namespace

bool copy_layers(MarkingMode mode, LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                 std::uint8_t classify_as, bool very_verbose, ProgressLine& progress,
                 LayerCopyResult& result, ByteStreamIn* first_pass_points) {
  result = LayerCopyResult{};
  if (mode == MarkingMode::kRemove || very_verbose) return false;
  const LASignore* ignore = reader.get_ignore();
  if (ignore != nullptr && ignore->flags != 0) return false;
  auto* las_reader = dynamic_cast<LASreaderLAS*>(&reader);
  auto* las_writer = dynamic_cast<LASwriterLAS*>(&writer);
  if (las_reader == nullptr || las_writer == nullptr || !reader.header.codec ||
      reader.point.scaling == nullptr || !las_writer->takes_stored_chunks(*reader.header.codec)) {
    return false;
  }
  std::uint32_t chunks = 0;
  if (!las_reader->locate_stored_chunks(chunks)) return false;
  LayerCopy copy(*las_reader, *las_writer, grid, mode, classify_as, progress, first_pass_points);
  if (!copy.setup(chunks)) return false;
  copy.run(result);
  return true;
}
