#include "codec/las_write_engine.hpp"

#include <algorithm>
#include <cstring>

#include "codec/chunk_encoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/pakrel.hpp"
#include "stream/bytestream_out.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/worker_pool.hpp"

namespace {
constexpr std::size_t kFirstTableAllocation = 1024;
// Records a chunk buffer holds at first; it grows by doubling up to the chunk size or the
// buffer limit, and keeps its size for the chunks after.
constexpr std::size_t kFirstSlotRecords = 4096;
}  // namespace

// One chunk in flight: its raw records, gathered by the calling thread; then, while its
// job runs, owned by a worker that codes them into `coded` with the slot's own encoder.
struct LASwriteEngine::ChunkSlot {
  std::vector<std::uint8_t> records;
  std::uint32_t count = 0;
  LASchunkEncoder encoder;
  bool encoder_ready = false;
  ByteStreamOutArray coded;
  WorkerPool::TicketPtr ticket;
  bool coded_ok = false;
};

LASwriteEngine::LASwriteEngine() = default;
LASwriteEngine::~LASwriteEngine() {
  // The jobs in flight use the slots.
  drain();
}

bool LASwriteEngine::setup(std::uint32_t num_items, const LASitem* items, const Pakrel* codec,
                           const LASitemCodecFactory& factory) {
  // A second setup starts from nothing.
  drain();
  slots_.clear();
  oldest_slot_ = 0;
  slots_in_flight_ = 0;
  gathering_slot_ = 0;
  in_stream_ = false;
  parallel_failed_ = false;
  items_.clear();
  factory_ = factory;
  outstream_ = nullptr;
  current_ = WriterSet::NONE;
  raw_writers_.clear();
  compressed_writers_.clear();
  encoder_.reset();
  layered_ = false;
  chunked_ = false;
  chunk_size_ = kVariableChunkSize;
  points_in_chunk_ = 0;
  chunks_written_ = 0;
  chunk_point_counts_.clear();
  chunk_byte_lengths_.clear();
  chunk_begin_ = 0;
  table_pointer_pos_ = kChunkTablePointerAtEnd;
  table_pointer_written_ = false;
  num_items_ = 0;

  if (num_items == 0 || items == nullptr) return false;
  const std::span<const LASitem> item_list(items, num_items);
  if (codec != nullptr) {
    if (codec->items.size() != num_items ||
        !std::equal(item_list.begin(), item_list.end(), codec->items.begin())) {
      return false;
    }
  }
  const bool compressing = codec != nullptr && codec->compressor != Pakrel::COMPRESSOR_RAW;
  if (compressing && codec->coder != Pakrel::CODER_ENTROPY) return false;

  if (!raw_layout_.init(item_list)) return false;
  record_.assign(raw_layout_.record_size(), 0);
  for (const LASitem& item : item_list) {
    raw_writers_.push_back(create_raw_item_writer(item));
  }

  if (compressing) {
    encoder_ = std::make_unique<EntropyEncoder>();
    layered_ = codec->compressor == Pakrel::COMPRESSOR_LAYERED;
    for (const LASitem& item : item_list) {
      auto writer = factory.make_writer(item, *encoder_);
      if (!writer) return false;
      compressed_writers_.push_back(std::move(writer));
    }
    if (codec->compressor != Pakrel::COMPRESSOR_PER_POINT) {
      chunked_ = true;
      if (codec->chunk_size != 0) chunk_size_ = codec->chunk_size;
      points_in_chunk_ = 0;
    }
  }
  items_.assign(item_list.begin(), item_list.end());
  num_items_ = num_items;
  return true;
}

bool LASwriteEngine::attach(ByteStreamOut* stream) {
  if (stream == nullptr || num_items_ == 0) return false;
  outstream_ = stream;
  if (chunked_ && !table_pointer_written_) {
    chunks_written_ = 0;
    table_pointer_pos_ = stream->can_seek() ? stream->position() : kChunkTablePointerAtEnd;
    if (!stream->write64_le(&table_pointer_pos_)) return false;
    table_pointer_written_ = true;
    chunk_begin_ = stream->position();
    if (pool_ != nullptr && pool_->workers() > 0 && !start_parallel()) return false;
  }
  for (auto& writer : raw_writers_)
    writer->init(stream);
  if (!slots_.empty()) {
    current_ = WriterSet::GATHER;
  } else {
    current_ = encoder_ ? WriterSet::NONE : WriterSet::RAW;
  }
  return true;
}

bool LASwriteEngine::write_other(const std::uint8_t* const* point_items) {
  if (current_ == WriterSet::GATHER) return gather_point(point_items);
  if (current_ == WriterSet::RAW) {
    raw_layout_.gather(point_items, record_.data());
    return outstream_->write_bytes(record_.data(), record_.size());
  }
  bool ok = true;
  if (chunked_ && points_in_chunk_ == chunk_size_) {
    ok = end_chunk();
    points_in_chunk_ = 0;
  }
  points_in_chunk_++;
  std::uint32_t context = 0;
  if (current_ == WriterSet::NONE) {
    // The first point of a chunk is stored raw and seeds the codecs.
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!raw_writers_[i]->write(point_items[i], context)) ok = false;
      if (!compressed_writers_[i]->init(point_items[i], context)) ok = false;
    }
    current_ = WriterSet::COMPRESSED;
    if (!encoder_->init(outstream_)) ok = false;
  } else {
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!compressed_writers_[i]->write(point_items[i], context)) ok = false;
    }
  }
  return ok;
}

bool LASwriteEngine::end_chunk() {
  bool ok = true;
  if (layered_) {
    if (!outstream_->write32_le(&points_in_chunk_)) ok = false;
    for (auto& writer : compressed_writers_) {
      if (!writer->write_layer_sizes(*outstream_)) ok = false;
    }
    for (auto& writer : compressed_writers_) {
      if (!writer->write_layers(*outstream_)) ok = false;
    }
  } else {
    if (!encoder_->done()) ok = false;
  }
  add_chunk_to_table();
  if (!attach(outstream_)) ok = false;
  return ok;
}

void LASwriteEngine::add_chunk_to_table() {
  if (chunk_byte_lengths_.capacity() == 0) {
    chunk_byte_lengths_.reserve(kFirstTableAllocation);
    if (chunk_size_ == kVariableChunkSize) chunk_point_counts_.reserve(kFirstTableAllocation);
  }
  const std::int64_t position = outstream_->position();
  if (chunk_size_ == kVariableChunkSize) chunk_point_counts_.push_back(points_in_chunk_);
  chunk_byte_lengths_.push_back(static_cast<std::uint32_t>(position - chunk_begin_));
  chunk_begin_ = position;
  chunks_written_++;
}

bool LASwriteEngine::close_chunk() {
  if (!chunked_ || chunk_size_ != kVariableChunkSize || !table_pointer_written_) return false;
  if (current_ == WriterSet::GATHER) {
    if (parallel_failed_) return false;
    if (in_stream_) return end_chunk_in_stream();
    if (slots_[gathering_slot_]->count == 0) return true;
    return dispatch_chunk();
  }
  // Ending a chunk that holds no point would end an encoder that never started.
  if (current_ != WriterSet::COMPRESSED) return true;
  const bool ok = end_chunk();
  points_in_chunk_ = 0;
  return ok;
}

bool LASwriteEngine::write_stored_chunk(const std::uint8_t* bytes, std::size_t length,
                                        std::uint32_t points) {
  if (!chunked_ || !table_pointer_written_ || outstream_ == nullptr || points == 0) return false;
  if (current_ == WriterSet::GATHER) {
    if (parallel_failed_ || in_stream_ || slots_[gathering_slot_]->count != 0) return false;
    while (slots_in_flight_ > 0) {
      if (!retire_oldest_chunk()) return false;
    }
  } else if (current_ == WriterSet::COMPRESSED) {
    if (points_in_chunk_ != chunk_size_ || !end_chunk()) return false;
  } else if (current_ != WriterSet::NONE) {
    return false;
  }
  if (!outstream_->write_bytes(bytes, length)) return false;
  points_in_chunk_ = points;
  add_chunk_to_table();
  points_in_chunk_ = 0;
  return true;
}

bool LASwriteEngine::finish() {
  // Nothing attached, or finished already: nothing more to write.
  if (outstream_ == nullptr) return true;
  const bool ok = finish_block();
  outstream_ = nullptr;
  return ok;
}

bool LASwriteEngine::finish_block() {
  if (current_ == WriterSet::GATHER) return finish_parallel();
  if (current_ == WriterSet::COMPRESSED) {
    bool ok = true;
    if (layered_) {
      if (!outstream_->write32_le(&points_in_chunk_)) ok = false;
      for (auto& writer : compressed_writers_) {
        if (!writer->write_layer_sizes(*outstream_)) ok = false;
      }
      for (auto& writer : compressed_writers_) {
        if (!writer->write_layers(*outstream_)) ok = false;
      }
    } else {
      if (!encoder_->done()) ok = false;
    }
    current_ = WriterSet::NONE;
    if (!table_pointer_written_) return ok;
    if (points_in_chunk_ > 0) add_chunk_to_table();
    points_in_chunk_ = 0;
    return write_chunk_table() && ok;
  }
  if (current_ == WriterSet::NONE && encoder_ && table_pointer_written_) {
    return write_chunk_table();
  }
  return true;
}

bool LASwriteEngine::write_chunk_table() {
  const std::int64_t table_position = outstream_->position();
  if (table_pointer_pos_ != kChunkTablePointerAtEnd) {
    if (!outstream_->seek_to(table_pointer_pos_)) return false;
    if (!outstream_->write64_le(&table_position)) return false;
    if (!outstream_->seek_to(table_position)) return false;
  }
  if (!write_chunk_table_entries(*outstream_, *encoder_, chunk_size_ == kVariableChunkSize,
                                 chunk_point_counts_, chunk_byte_lengths_)) {
    return false;
  }
  if (table_pointer_pos_ == kChunkTablePointerAtEnd) {
    if (!outstream_->write64_le(&table_position)) return false;
  }
  return true;
}

bool LASwriteEngine::start_parallel() {
  const std::size_t count = 2 * std::size_t{pool_->workers()} + 1;
  const std::size_t record_size = record_.size();
  std::size_t first_records = kFirstSlotRecords;
  if (chunk_size_ != kVariableChunkSize)
    first_records = std::min<std::size_t>(first_records, chunk_size_);
  first_records =
      std::max<std::size_t>(1, std::min(first_records, chunk_buffer_limit_ / record_size));
  slots_.clear();
  for (std::size_t i = 0; i < count; i++) {
    auto slot = std::make_unique<ChunkSlot>();
    slot->records.resize(first_records * record_size);
    slots_.push_back(std::move(slot));
  }
  oldest_slot_ = 0;
  slots_in_flight_ = 0;
  gathering_slot_ = 0;
  in_stream_ = false;
  parallel_failed_ = false;
  return true;
}

bool LASwriteEngine::gather_point(const std::uint8_t* const* point_items) {
  return gather([this, point_items](std::uint8_t* to) { raw_layout_.gather(point_items, to); });
}

bool LASwriteEngine::gather_record(const std::uint8_t* record) {
  return gather([this, record](std::uint8_t* to) { std::memcpy(to, record, record_.size()); });
}

template <class Fill>
bool LASwriteEngine::gather(const Fill& fill) {
  if (parallel_failed_) return false;
  ChunkSlot& slot = *slots_[gathering_slot_];
  const std::size_t record_size = record_.size();
  if (in_stream_) {
    fill(slot.records.data());
    slot.count++;
    if (!slot.encoder.add(slot.records.data())) parallel_failed_ = true;
    if (slot.count == chunk_size_) return end_chunk_in_stream() && !parallel_failed_;
    return !parallel_failed_;
  }
  const std::size_t at = std::size_t{slot.count} * record_size;
  if (at + record_size > slot.records.size()) {
    if (at + record_size > chunk_buffer_limit_) {
      // The chunk outgrew what a slot may hold: it is coded here, into the stream.
      if (!code_in_stream(slot)) return false;
      return gather(fill);
    }
    std::size_t grown = std::max(slot.records.size() * 2, at + record_size);
    grown =
        std::min(grown, std::max(chunk_buffer_limit_ / record_size, std::size_t{1}) * record_size);
    if (chunk_size_ != kVariableChunkSize) {
      grown = std::min(grown, std::size_t{chunk_size_} * record_size);
    }
    slot.records.resize(grown);
  }
  fill(slot.records.data() + at);
  slot.count++;
  if (slot.count == chunk_size_) return dispatch_chunk();
  return true;
}

bool LASwriteEngine::prepare_encoder(ChunkSlot& slot) {
  // Made at the slot's first chunk: a file of few chunks pays for few encoders.
  if (!slot.encoder_ready) {
    slot.encoder_ready = slot.encoder.setup(items_, layered_, factory_);
    if (!slot.encoder_ready) parallel_failed_ = true;
  }
  return slot.encoder_ready;
}

bool LASwriteEngine::dispatch_chunk() {
  ChunkSlot& slot = *slots_[gathering_slot_];
  if (!prepare_encoder(slot)) return false;
  slot.coded.clear();
  slot.coded_ok = false;
  ChunkSlot* job_slot = &slot;
  slot.ticket = pool_->submit([job_slot] {
    try {
      job_slot->coded_ok =
          job_slot->encoder.encode(job_slot->records.data(), job_slot->count, job_slot->coded);
    } catch (...) {
      job_slot->coded_ok = false;
    }
  });
  slots_in_flight_++;
  gathering_slot_ = (gathering_slot_ + 1) % slots_.size();
  // Every slot in flight: the oldest is written to free one for the next points.
  if (slots_in_flight_ == slots_.size()) return retire_oldest_chunk();
  return true;
}

bool LASwriteEngine::retire_oldest_chunk() {
  ChunkSlot& slot = *slots_[oldest_slot_];
  const bool ok = pool_->settle(slot.ticket);
  oldest_slot_ = (oldest_slot_ + 1) % slots_.size();
  slots_in_flight_--;
  const std::uint32_t count = slot.count;
  slot.count = 0;
  if (!ok || !slot.coded_ok || parallel_failed_ ||
      !outstream_->write_bytes(slot.coded.data(), static_cast<std::size_t>(slot.coded.size()))) {
    parallel_failed_ = true;
    return false;
  }
  points_in_chunk_ = count;
  add_chunk_to_table();
  return true;
}

bool LASwriteEngine::code_in_stream(ChunkSlot& slot) {
  while (slots_in_flight_ > 0) {
    if (!retire_oldest_chunk()) return false;
  }
  if (!prepare_encoder(slot)) return false;
  const std::size_t record_size = record_.size();
  bool ok = slot.encoder.begin(slot.records.data(), *outstream_);
  for (std::uint32_t p = 1; p < slot.count; p++) {
    if (!slot.encoder.add(slot.records.data() + p * record_size)) ok = false;
  }
  in_stream_ = true;
  if (!ok) parallel_failed_ = true;
  return ok;
}

bool LASwriteEngine::end_chunk_in_stream() {
  ChunkSlot& slot = *slots_[gathering_slot_];
  const bool ok = slot.encoder.end(slot.count);
  points_in_chunk_ = slot.count;
  add_chunk_to_table();
  slot.count = 0;
  in_stream_ = false;
  if (!ok) parallel_failed_ = true;
  return ok;
}

bool LASwriteEngine::finish_parallel() {
  bool ok = !parallel_failed_;
  if (in_stream_) {
    if (!end_chunk_in_stream()) ok = false;
  } else if (slots_[gathering_slot_]->count > 0 && ok) {
    if (!dispatch_chunk()) ok = false;
  }
  while (slots_in_flight_ > 0) {
    if (!retire_oldest_chunk()) ok = false;
  }
  current_ = WriterSet::NONE;
  points_in_chunk_ = 0;
  return ok && write_chunk_table();
}

void LASwriteEngine::drain() {
  while (slots_in_flight_ > 0) {
    ChunkSlot& slot = *slots_[oldest_slot_];
    pool_->settle(slot.ticket);
    slot.count = 0;
    oldest_slot_ = (oldest_slot_ + 1) % slots_.size();
    slots_in_flight_--;
  }
}
