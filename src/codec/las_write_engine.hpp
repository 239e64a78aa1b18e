#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/item_coder.hpp"
#include "codec/las_item_raw.hpp"
#include "model/las_item.hpp"
#include "stream/bytestream_out.hpp"

class EntropyEncoder;
class WorkerPool;
class Pakrel;

// Turns point records into the point data block of a LAS file: raw, item after item, or
// compressed in chunks (the first point of each chunk raw, the rest coded) followed by the
// chunk table (layout in codec/chunk_table.hpp).
//
// Life: setup -> attach -> write x n (close_chunk where the caller wants a chunk to end when
// chunks are variable) -> finish. The engine owns its item writers and its encoder; it
// borrows the stream, which must stay alive until `finish` has returned. Nothing is printed:
// the LAS writer reports failures.
//
// With a worker pool that has threads, chunked compressed data (compressor kinds 2 and 3)
// is coded a chunk at a time on the workers: `write` gathers raw records into the buffer of
// the chunk being filled; a full chunk (or `close_chunk`) hands it to a worker, which codes
// it into memory with its own item codecs; the calling thread writes the coded chunks to the
// stream in order. The bytes are those of the sequential path. At most 2 x workers + 1
// chunks are in flight, each buffer bounded by `set_chunk_buffer_limit`: a chunk that grows
// beyond it is coded on the calling thread straight into the stream, once the chunks before
// it are written. Because coded chunks reach the stream later than their points came, a
// refused write shows at a later `write` (where a chunk is handed over or written),
// `close_chunk` or `finish`, not at the point whose bytes were refused; every call after it
// returns false.
class LASwriteEngine {
 public:
  LASwriteEngine();
  ~LASwriteEngine();
  LASwriteEngine(const LASwriteEngine&) = delete;
  LASwriteEngine& operator=(const LASwriteEngine&) = delete;

  // Prepares the item writers for `items`. Without `codec` (or with compressor kind 0) the
  // records are written raw; with it, `items` must equal the descriptor's own. False for a
  // coder other than the entropy coder, an item without a raw form, or an item type and
  // version without a compressed codec.
  // The compressed codecs come from `factory`.
  bool setup(std::uint32_t num_items, const LASitem* items, const Pakrel* codec = nullptr,
             const LASitemCodecFactory& factory = kItemCodecTable);

  // Points the engine at the stream, at the first byte of the point data block. The first
  // call of a chunked engine writes the chunk table pointer placeholder (its own position,
  // or -1 when the stream cannot seek). False for no stream or a refused write.
  bool attach(ByteStreamOut* stream);

  // Writes one point given as the addresses of its items (LASpoint::item_data), after
  // `attach`. False when the stream refused bytes.
  bool write(const std::uint8_t* const* point_items) {
    // Raw records straight into the stream's buffer while it has room; the rest out of
    // line.
    if (current_ == WriterSet::RAW) {
      if (std::uint8_t* record = outstream_->claim_bytes(record_.size())) {
        raw_layout_.gather(point_items, record);
        return true;
      }
    }
    return write_other(point_items);
  }

  // Stores one record as it is: uncompressed, or gathered for the workers that compress
  // chunks in parallel (which code it as `write` codes the same point). False when the
  // stream refused bytes or the records are compressed on this thread.
  bool write_raw(const std::uint8_t* record) {
    if (current_ == WriterSet::GATHER) return gather_record(record);
    if (current_ != WriterSet::RAW) return false;
    if (std::uint8_t* room = outstream_->claim_bytes(record_.size())) {
      std::memcpy(room, record, record_.size());
      return true;
    }
    return outstream_->write_bytes(record, record_.size());
  }
  bool writes_raw_records() const {
    return current_ == WriterSet::RAW || current_ == WriterSet::GATHER;
  }
  std::size_t raw_record_size() const { return record_.size(); }

  // Appends a whole chunk of `points` points that the caller coded (or copied) itself, as
  // this engine would have written it, and tables it. Only between chunks: false when a
  // chunk holds points that are not ended yet (a fixed-size chunk that is full is ended
  // first), for an engine without chunks, or when the stream refused bytes. Chunks coded by
  // the workers before it are written first.
  bool write_stored_chunk(const std::uint8_t* bytes, std::size_t length, std::uint32_t points);

  // Ends the current chunk now. False unless chunks are variable and the chunk table
  // pointer was written; an empty chunk is not ended (true, nothing written).
  bool close_chunk();

  // Ends the last chunk and writes the chunk table, then lets go of the stream (a second
  // call does nothing). False when a write failed.
  bool finish();

  std::uint32_t chunks_written() const { return chunks_written_; }

  // Borrowed workers that code whole chunks in parallel; null (the default) or a pool
  // without threads codes on the calling thread. Set before `attach`; the pool must outlive
  // the engine.
  void set_worker_pool(WorkerPool* pool) { pool_ = pool; }
  WorkerPool* worker_pool() const { return pool_; }
  // Whether the chunks go to the workers (decided at the first `attach`).
  bool codes_in_parallel() const { return !slots_.empty(); }
  // Bytes of raw records one chunk in flight may gather (default kChunkBufferLimit). Set
  // before `attach`.
  void set_chunk_buffer_limit(std::size_t bytes) { chunk_buffer_limit_ = bytes; }
  static constexpr std::size_t kChunkBufferLimit = std::size_t{16} << 20;

 private:
  // GATHER: the parallel path, points gathered into the chunk buffers.
  enum class WriterSet { NONE, RAW, COMPRESSED, GATHER };
  struct ChunkSlot;

  bool write_other(const std::uint8_t* const* point_items);
  bool start_parallel();
  bool gather_point(const std::uint8_t* const* point_items);
  bool gather_record(const std::uint8_t* record);
  // Puts the next record into the gathering chunk: `fill` writes it at the address given.
  template <class Fill>
  bool gather(const Fill& fill);
  bool prepare_encoder(ChunkSlot& slot);
  bool dispatch_chunk();
  bool retire_oldest_chunk();
  bool code_in_stream(ChunkSlot& slot);
  bool end_chunk_in_stream();
  bool finish_parallel();
  void drain();
  bool end_chunk();
  bool finish_block();
  void add_chunk_to_table();
  bool write_chunk_table();

  ByteStreamOut* outstream_ = nullptr;
  std::uint32_t num_items_ = 0;
  WriterSet current_ = WriterSet::NONE;
  std::vector<std::unique_ptr<LASwriteItemRaw>> raw_writers_;
  std::vector<std::unique_ptr<LASwriteItemCompressed>> compressed_writers_;
  std::unique_ptr<EntropyEncoder> encoder_;
  bool layered_ = false;
  bool chunked_ = false;  // compressor kinds 2 and 3
  std::uint32_t chunk_size_ = kVariableChunkSize;
  std::uint32_t points_in_chunk_ = 0;
  std::uint32_t chunks_written_ = 0;
  std::vector<std::uint32_t> chunk_point_counts_;  // variable chunks only
  std::vector<std::uint32_t> chunk_byte_lengths_;
  std::int64_t chunk_begin_ = 0;
  WorkerPool* pool_ = nullptr;
  std::int64_t table_pointer_pos_ = kChunkTablePointerAtEnd;
  bool table_pointer_written_ = false;

  // The raw path: one record buffer, filled item by item, one stream write.
  RawRecordLayout raw_layout_;
  std::vector<std::uint8_t> record_;

  // The parallel path: a ring of slots; the ones in flight run from `oldest_slot_`, the one
  // after them gathers points. `in_stream_` while the gathering slot's chunk outgrew its
  // buffer and is coded straight into the stream.
  std::vector<LASitem> items_;
  LASitemCodecFactory factory_ = kItemCodecTable;  // for the slot encoders
  std::size_t chunk_buffer_limit_ = kChunkBufferLimit;
  std::vector<std::unique_ptr<ChunkSlot>> slots_;
  std::size_t oldest_slot_ = 0;
  std::size_t slots_in_flight_ = 0;
  std::size_t gathering_slot_ = 0;
  bool in_stream_ = false;
  bool parallel_failed_ = false;
};
