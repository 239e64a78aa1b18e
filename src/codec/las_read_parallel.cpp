// Chunk-parallel decoding: the pipeline of slots, and the parts of LASreadEngine that hand
// chunks to it and take the records back.
//
// The rule that keeps every result equal to decoding on the calling thread: a worker decodes
// a chunk from a copy of exactly the chunk's bytes, so whatever it decodes without a fault
// is what the calling thread would decode from the stream. Anything else — a fault, a read
// past the chunk's end, a chunk whose end is not where the table says, a chunk the table
// does not locate — is left to the calling thread, which decodes that chunk again from the
// stream up to the same point and then goes on exactly as it always does (and prints
// exactly what it always prints). The workers take over again at the next chunk start.

#include "codec/las_read_parallel.hpp"

#include <algorithm>

#include "codec/entropy_decoder.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/pakrel.hpp"

namespace {

// Chunks larger than this, as stored or as raw records, stay with the calling thread: the
// slots keep their buffers, and a table or descriptor that lies must not make them huge.
constexpr std::int64_t kMaxWorkerChunkBytes = std::int64_t{32} << 20;
constexpr std::uint64_t kMaxWorkerRecordBytes = std::uint64_t{32} << 20;
// Records a slot makes room for before the chunk shows that it holds more: the count the
// table claims is believed only as far as points really decode.
constexpr std::size_t kFirstRecords = 4096;

}  // namespace

// ---------------------------------------------------------------------------------------
// The pipeline.

LASreadPipeline::LASreadPipeline(const LASreadEngine& owner, WorkerPool& pool)
    : owner_(owner), pool_(pool) {
  const std::size_t slots = 2 * static_cast<std::size_t>(pool.workers()) + 1;
  for (std::size_t i = 0; i < slots; i++)
    slots_.push_back(std::make_unique<Slot>());
}

LASreadPipeline::~LASreadPipeline() {
  drop();
  for (auto& slot : slots_)
    settle(*slot);
}

void LASreadPipeline::settle(Slot& slot) {
  if (!slot.ticket) return;
  pool_.wait(slot.ticket);  // the job lets nothing out
  slot.ticket.reset();
}

bool LASreadPipeline::begin(ByteStreamIn& stream, std::uint32_t first) {
  drop();
  next_chunk_ = first;
  filling_ = true;
  fill(stream);
  return queued_ > 0;
}

LASreadPipeline::Slot& LASreadPipeline::front() {
  Slot& slot = *slots_[front_];
  settle(slot);
  return slot;
}

void LASreadPipeline::pop_front(ByteStreamIn& stream) {
  front_ = (front_ + 1) % slots_.size();
  queued_--;
  fill(stream);
}

void LASreadPipeline::drop() {
  for (std::size_t i = 0; i < queued_; i++) {
    slots_[(front_ + i) % slots_.size()]->dropped.store(true, std::memory_order_relaxed);
  }
  queued_ = 0;
  filling_ = false;
}

void LASreadPipeline::fill(ByteStreamIn& stream) {
  while (filling_ && queued_ < slots_.size()) {
    Slot& slot = *slots_[(front_ + queued_) % slots_.size()];
    settle(slot);
    if (!queue(slot, stream)) {
      filling_ = false;
      break;
    }
    queued_++;
    next_chunk_++;
  }
}

bool LASreadPipeline::queue(Slot& slot, ByteStreamIn& stream) {
  LASreadEngine::ChunkSpan span;
  if (!owner_.chunk_for_workers(next_chunk_, span)) return false;
  if (!slot.engine) {
    slot.engine = owner_.make_worker_engine();
    if (!slot.engine) return false;
  }
  const auto length = static_cast<std::size_t>(span.length);
  if (slot.bytes.size() < length) slot.bytes.resize(length);
  try {
    if (stream.position() != span.start && !stream.seek_to(span.start)) return false;
    stream.read_bytes(slot.bytes.data(), length);
  } catch (const ByteStreamEndOfData&) {
    return false;
  }
  slot.chunk = next_chunk_;
  slot.length = span.length;
  slot.points = span.points;
  slot.dropped.store(false, std::memory_order_relaxed);
  Slot* job_slot = &slot;
  slot.ticket = pool_.submit([job_slot] {
    Slot& s = *job_slot;
    if (s.dropped.load(std::memory_order_relaxed)) return;
    s.stream.init(s.bytes.data(), s.length);
    s.decoded = 0;
    s.failed = false;
    try {
      s.engine->decode_chunk(s.stream, s.points, s.records, s.decoded, s.failed);
    } catch (...) {
      // Out of memory, most likely: the calling thread tries the chunk itself.
      s.failed = true;
    }
    s.end = s.stream.position();
  });
  return true;
}

// ---------------------------------------------------------------------------------------
// The engine's side.

bool LASreadEngine::chunk_for_workers(std::uint32_t chunk, ChunkSpan& span) const {
  return stored_chunk(chunk, span) && span.length <= kMaxWorkerChunkBytes &&
         std::uint64_t{span.points} * point_size_ <= kMaxWorkerRecordBytes;
}

std::unique_ptr<LASreadEngine> LASreadEngine::make_worker_engine() const {
  auto engine = std::make_unique<LASreadEngine>(decompress_selective_);
  if (!engine->setup(num_items_, items_.data(), codec_.get(), factory_)) return nullptr;
  return engine;
}

void LASreadEngine::decode_chunk(ByteStreamIn& stream, std::uint32_t count,
                                 std::vector<std::uint8_t>& records, std::uint32_t& decoded,
                                 bool& failed) {
  instream_ = &stream;
  for (auto& reader : raw_readers_)
    reader->init(&stream);
  std::uint8_t* const* items = skip_point_.item_data.data();
  const std::size_t all_bytes = std::size_t{count} * point_size_;
  decoded = 0;
  failed = false;
  try {
    // As read_compressed: the raw first point, then the coded ones.
    std::uint32_t context = 0;
    for (std::uint32_t i = 0; i < num_items_; i++) {
      raw_readers_[i]->read(items[i], context);
    }
    start_coded_chunk(items, context);
    // A first item that decodes straight into the record skips a point on the way.
    const bool direct = compressed_readers_[0]->reads_raw();
    const auto make_room = [&](std::size_t at) {
      if (at + point_size_ > records.size()) {
        records.resize(std::min(
            all_bytes, std::max(2 * records.size(), kFirstRecords * std::size_t{point_size_})));
      }
    };
    make_room(0);
    raw_layout_.gather(items, records.data());
    for (decoded = 1; decoded < count; decoded++) {
      const std::size_t at = std::size_t{decoded} * point_size_;
      make_room(at);
      std::uint8_t* record = records.data() + at;
      context = 0;
      if (direct) {
        compressed_readers_[0]->read_raw(record, context);
        for (std::uint32_t i = 1; i < num_items_; i++) {
          compressed_readers_[i]->read(items[i], context);
        }
        raw_layout_.gather_after_first(items, record);
      } else {
        for (std::uint32_t i = 0; i < num_items_; i++) {
          compressed_readers_[i]->read(items[i], context);
        }
        raw_layout_.gather(items, record);
      }
    }
    decoder_->done();
  } catch (const ByteStreamEndOfData&) {
    failed = true;
  } catch (const CodecCorruptData&) {
    failed = true;
  }
  instream_ = nullptr;
}

bool LASreadEngine::may_decode_in_parallel() const {
  return chunked_ && pool_ != nullptr && pool_->workers() > 0 && instream_ != nullptr &&
         instream_->can_seek();
}

bool LASreadEngine::start_parallel() {
  ChunkSpan span;
  if (pool_->workers() == 0 || !instream_->can_seek() || !chunk_for_workers(current_chunk_, span) ||
      instream_->position() != span.start) {
    return false;
  }
  if (!pipeline_) pipeline_ = std::make_unique<LASreadPipeline>(*this, *pool_);
  if (!pipeline_->begin(*instream_, current_chunk_)) {
    // This thread decodes the chunk, from its start.
    instream_->seek_to(span.start);
    return false;
  }
  current_ = ReaderSet::PARALLEL;
  return true;
}

bool LASreadEngine::take_decoded_chunk(std::uint8_t* const* point_items) {
  const LASreadPipeline::Slot& slot = pipeline_->front();
  current_chunk_ = slot.chunk;
  if (variable_chunks_) chunk_size_ = slot.points;
  if (slot.decoded == 0) return resume_in_chunk(0) && read_compressed(point_items);
  decoded_next_ = slot.records.data();
  decoded_end_ = decoded_next_ + std::size_t{slot.decoded} * point_size_;
  raw_layout_.scatter(decoded_next_, point_items);
  decoded_next_ += point_size_;
  return true;
}

bool LASreadEngine::read_next_decoded_chunk(std::uint8_t* const* point_items) {
  const LASreadPipeline::Slot& slot = pipeline_->front();
  if (slot.failed) return resume_in_chunk(slot.decoded) && read_compressed(point_items);
  // The chunk decoded whole. Where the table says the next one begins, this thread checks
  // that the chunk ended there, and reports it when not.
  const bool checked = slot.chunk + 1 < chunks_.tabled;
  if ((checked && slot.end != slot.length) || !pipeline_->has_successor()) {
    return resume_after_chunk(point_items);
  }
  pipeline_->pop_front(*instream_);
  return take_decoded_chunk(point_items);
}

void LASreadEngine::leave_parallel() {
  if (current_ == ReaderSet::PARALLEL) current_ = ReaderSet::NONE;
  if (pipeline_) pipeline_->drop();
  decoded_next_ = decoded_end_ = nullptr;
}

std::uint32_t LASreadEngine::decoded_points_taken() const {
  if (current_ != ReaderSet::PARALLEL) return points_in_chunk_;
  const LASreadPipeline::Slot& slot = pipeline_->front();
  return static_cast<std::uint32_t>(static_cast<std::size_t>(decoded_next_ - slot.records.data()) /
                                    point_size_);
}

bool LASreadEngine::resume_in_chunk(std::uint32_t point) {
  const std::uint32_t chunk = pipeline_->front().chunk;
  leave_parallel();
  current_chunk_ = chunk;
  try {
    if (!instream_->seek_to(chunks_.starts[chunk]) || !start_chunk()) {
      fail("end-of-file during chunk with index %u", chunk);
      return false;
    }
  } catch (const CodecCorruptData&) {
    fail("chunk with index %u of %u is corrupt", chunk, chunks_.tabled);
    return false;
  }
  // The points the workers handed out, decoded again to bring the decoder to the next one.
  std::uint8_t* const* skip_items = skip_point_.item_data.data();
  for (std::uint32_t i = 0; i < point; i++) {
    if (!read_compressed(skip_items)) return false;
  }
  return true;
}

bool LASreadEngine::resume_after_chunk(std::uint8_t* const* point_items) {
  const LASreadPipeline::Slot& slot = pipeline_->front();
  const std::uint32_t chunk = slot.chunk;
  const std::int64_t end = chunks_.starts[chunk] + slot.end;
  leave_parallel();
  // The state this thread would be in after decoding the chunk itself.
  current_chunk_ = chunk;
  point_start_ = chunks_.starts[chunk];
  chunk_open_ = true;
  decoder_stopped_ = false;
  points_in_chunk_ = chunk_size_;
  current_ = ReaderSet::COMPRESSED;
  if (!instream_->seek_to(end)) {
    fail("end-of-file during chunk with index %u", chunk);
    return false;
  }
  return read_compressed(point_items);
}

bool LASreadEngine::verify_end_parallel(bool& result) {
  const LASreadPipeline::Slot& slot = pipeline_->front();
  const std::uint32_t chunk = slot.chunk;
  const std::uint32_t taken = decoded_points_taken();
  if (!slot.failed && taken == slot.decoded) {
    // The whole chunk was handed out: the check of end_chunk_and_check.
    current_chunk_ = chunk + 1;
    result = true;
    if (current_chunk_ < chunks_.tabled && slot.end != slot.length) {
      current_chunk_ = chunk;
      fail("chunk with index %u of %u is corrupt", current_chunk_, chunks_.tabled);
      result = false;
    }
    return true;
  }
  if (chunk + 1 >= chunks_.tabled) {
    // Nothing to check against.
    current_chunk_ = chunk + 1;
    result = true;
    return true;
  }
  // Stopped inside a chunk that has a successor: only a decoder standing where this one
  // stopped knows whether it ends where the successor begins.
  if (!resume_in_chunk(taken)) {
    result = false;
    return true;
  }
  return false;
}
