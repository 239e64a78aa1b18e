#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/item_coder.hpp"
#include "codec/las_item_raw.hpp"
#include "model/las_item.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

class EntropyDecoder;
class LASreadPipeline;
class WorkerPool;
class Pakrel;

// Selective-decoding flags: which parts the layered readers (point types 6-10 with the
// layered compressor) decode. X, Y and the return fields are always decoded; the flags
// change nothing for the other codecs or for raw records.
inline constexpr std::uint32_t kDecompressZ = 1u << 0;
inline constexpr std::uint32_t kDecompressClassification = 1u << 1;
inline constexpr std::uint32_t kDecompressFlags = 1u << 2;
inline constexpr std::uint32_t kDecompressIntensity = 1u << 3;
inline constexpr std::uint32_t kDecompressScanAngle = 1u << 4;
inline constexpr std::uint32_t kDecompressUserData = 1u << 5;
inline constexpr std::uint32_t kDecompressPointSource = 1u << 6;
inline constexpr std::uint32_t kDecompressGpsTime = 1u << 7;
inline constexpr std::uint32_t kDecompressRgb = 1u << 8;
inline constexpr std::uint32_t kDecompressNir = 1u << 9;
inline constexpr std::uint32_t kDecompressWavePacket = 1u << 10;
// Extra byte i (i < 16): kDecompressByte0 << i.
inline constexpr std::uint32_t kDecompressByte0 = 1u << 16;
inline constexpr std::uint32_t kDecompressAll = 0xFFFFFFFF;

// Turns the point data block of a LAS file back into point records, raw or compressed
// (the block written by LASwriteEngine).
//
// Life: construct -> setup -> attach -> (seek) read x n -> verify_end -> detach. The engine
// owns its item readers, decoder and chunk index; it borrows the stream, which must stay
// alive until `detach`. Nothing is printed: a failed operation returns false and leaves its
// reason in `error_text()`; a problem it read past is left in `warning_text()`. Both stay
// until replaced; the LAS reader prints them.
class LASreadEngine {
 public:
  explicit LASreadEngine(std::uint32_t decompress_selective = kDecompressAll);
  ~LASreadEngine();
  LASreadEngine(const LASreadEngine&) = delete;
  LASreadEngine& operator=(const LASreadEngine&) = delete;

  // Prepares the item readers for `items`, as LASwriteEngine::setup.
  bool setup(std::uint32_t num_items, const LASitem* items, const Pakrel* codec = nullptr,
             const LASitemCodecFactory& factory = kItemCodecTable);

  // Points the engine at the stream, at the first byte of the point data block.
  bool attach(ByteStreamIn* stream);

  // Reads the next point into its items (LASpoint::item_data). False at the end of the data
  // ("end-of-file", or "end-of-file during chunk with index %u") or for a corrupt chunk
  // ("chunk with index %u of %u is corrupt"); after a corrupt chunk whose successor the
  // chunk table knows, the next read continues with that successor.
  bool read(std::uint8_t* const* point_items) {
    // Raw records straight from the stream's buffer; a record that straddles two buffer
    // fills, the end of the data and compressed points take the way out of line.
    if (current_ == ReaderSet::RAW) {
      if (const std::uint8_t* record = instream_->take_bytes(point_size_)) {
        raw_layout_.scatter(record, point_items);
        return true;
      }
    }
    // Records that the workers decoded, handed out in file order.
    if (decoded_next_ != decoded_end_) {
      raw_layout_.scatter(decoded_next_, point_items);
      if (copy_) copy_records(decoded_next_, 1);
      decoded_next_ += point_size_;
      return true;
    }
    if (!read_other(point_items)) return false;
    if (copy_) copy_point(point_items);
    return true;
  }

  // Up to `count` whole records that lie in the stream's buffer (uncompressed) or that the
  // workers decoded (the rest of the chunk being handed out), consumed, or null when not
  // one does or the records are decoded on this thread; `count` becomes the number handed
  // out. A record that straddles two buffer fills, and the first record of each decoded
  // chunk, are left to `read`.
  const std::uint8_t* take_raw_records(std::size_t& count) {
    if (current_ == ReaderSet::PARALLEL) {
      const std::uint8_t* records = peek_decoded_records(count);
      if (copy_ && records != nullptr) copy_records(records, count);
      decoded_next_ += count * point_size_;
      return records;
    }
    if (current_ != ReaderSet::RAW || point_size_ == 0) return nullptr;
    const std::size_t whole = instream_->buffered() / point_size_;
    if (whole < count) count = whole;
    if (count == 0) return nullptr;
    return instream_->take_bytes(count * point_size_);
  }
  // Whether `take_raw_records` may hand out records: uncompressed ones, or chunks that the
  // workers decode (which start only at the first `read`).
  bool reads_raw_records() const {
    return current_ == ReaderSet::RAW || current_ == ReaderSet::PARALLEL ||
           may_decode_in_parallel();
  }
  // The same records without consuming them, for a caller that looks at each before it
  // decides how many to take: `skip_raw_records` then consumes m <= count of them, and
  // `scatter_raw_record` fills point items from one, as `read` would.
  const std::uint8_t* peek_raw_records(std::size_t& count) const {
    if (current_ == ReaderSet::PARALLEL) return peek_decoded_records(count);
    if (current_ != ReaderSet::RAW || point_size_ == 0) return nullptr;
    const std::size_t whole = instream_->buffered() / point_size_;
    if (whole < count) count = whole;
    if (count == 0) return nullptr;
    return instream_->peek_bytes(count * point_size_);
  }
  void skip_raw_records(std::size_t count) {
    if (current_ == ReaderSet::PARALLEL) {
      if (copy_ && count != 0) copy_records(decoded_next_, count);
      decoded_next_ += count * point_size_;
    } else {
      instream_->skip_buffered(count * point_size_);
    }
  }
  void scatter_raw_record(const std::uint8_t* record, std::uint8_t* const* point_items) const {
    raw_layout_.scatter(record, point_items);
  }
  std::size_t point_size() const { return point_size_; }

  // Moves so that the next `read` yields point `target`; `current` is the point the next
  // read would yield now. False for a stream that cannot seek or a failed read on the way.
  bool seek(std::int64_t current, std::int64_t target);

  // After the last point: checks that the last chunk ended where the table says the next
  // one starts.
  bool verify_end();

  bool detach();

  // Borrowed workers that decode whole chunks in parallel; null (the default) decodes on the
  // calling thread. Set before `attach`; the pool must outlive the engine. The workers take
  // the chunks that the chunk table locates in a stream that can seek; what they deliver,
  // and every message, is what the calling thread would have decoded. A pool without
  // threads decodes on the calling thread.
  void set_worker_pool(WorkerPool* pool) { pool_ = pool; }
  WorkerPool* worker_pool() const { return pool_; }

  // Whole chunks as stored, for a caller that rewrites chunks without decoding every field
  // (the noise tool's layer copy). `locate_stored_chunks` may only run before the first read
  // of an attached chunked engine: it reads the chunk table and gives the number of chunks
  // whose start and end the table gives; false when the stream cannot seek or the table
  // cannot be read. Reading stays where it was: the next `read` yields the first point.
  bool locate_stored_chunks(std::uint32_t& chunks);
  struct StoredChunk {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::uint32_t points = 0;  // by the table, or the fixed chunk size (the last one too)
  };
  // Chunk `chunk` (below what `locate_stored_chunks` gave); false for one the table lacks.
  bool stored_chunk(std::uint32_t chunk, StoredChunk& where) const;
  // The bytes of a chunk, read from the stream; false when they are not there.
  bool read_stored_chunk(const StoredChunk& where, std::uint8_t* bytes);
  // After the caller took chunks 0 to `chunk` - 1 itself: the next `read` yields the first
  // point of chunk `chunk`, read as if every point before it had been. False when the
  // stream cannot go there.
  bool continue_at_chunk(std::uint32_t chunk);

  // Every record of compressed points handed out from now on (by `read`, `take_raw_records`
  // or `skip_raw_records`) is also appended, as the raw record of the engine's items, to
  // `copy` (borrowed; null stops), so that a later pass can read the points without
  // decoding them. False for uncompressed records, which need no copy. A seek, a chunk
  // taken as stored or a refused write ends the copy as broken: `copy_is_whole` then stays
  // false, and so does it after a problem the engine read past (its warning).
  bool copy_records_to(ByteStreamOut* copy);
  bool copy_is_whole() const { return copy_whole_ && warning_.empty(); }

  const char* error_text() const { return error_.empty() ? nullptr : error_.c_str(); }
  const char* warning_text() const { return warning_.empty() ? nullptr : warning_.c_str(); }

 private:
  // PARALLEL: the records come from the pipeline's workers.
  enum class ReaderSet { NONE, RAW, COMPRESSED, PARALLEL };
  friend class LASreadPipeline;

  // Opens the chunk at the stream position (read step 2): reads the chunk table first if
  // it has not been read. Throws what the stream and the table reading throw.
  bool start_chunk();
  // The previous chunk is done: was it as long as the table says?
  bool end_chunk_and_check();
  bool read_other(std::uint8_t* const* point_items);
  bool read_compressed(std::uint8_t* const* point_items);
  // After the raw first point of a chunk: starts the decoder and the compressed readers.
  // Throws CodecCorruptData and what the stream throws.
  void start_coded_chunk(std::uint8_t* const* point_items, std::uint32_t& context);

  // The parallel decoding (las_read_parallel.cpp).
  bool may_decode_in_parallel() const;
  const std::uint8_t* peek_decoded_records(std::size_t& count) const {
    const std::size_t whole =
        point_size_ == 0 ? 0 : static_cast<std::size_t>(decoded_end_ - decoded_next_) / point_size_;
    if (whole < count) count = whole;
    return count == 0 ? nullptr : decoded_next_;
  }
  using ChunkSpan = StoredChunk;
  // Whether chunk `chunk` can go to a worker, and where it lies.
  bool chunk_for_workers(std::uint32_t chunk, ChunkSpan& span) const;
  std::unique_ptr<LASreadEngine> make_worker_engine() const;
  // Worker side: decodes up to `count` points of the chunk at the stream's position into
  // raw records (`decoded` of them); `failed` when a read failed before `count`.
  void decode_chunk(ByteStreamIn& stream, std::uint32_t count, std::vector<std::uint8_t>& records,
                    std::uint32_t& decoded, bool& failed);
  // Calling-thread side.
  bool start_parallel();
  bool take_decoded_chunk(std::uint8_t* const* point_items);
  bool read_next_decoded_chunk(std::uint8_t* const* point_items);
  void leave_parallel();
  // Back to decoding on this thread, at point `point` of the pipeline's front chunk (decoded
  // again up to there), or where the front chunk decoded whole ended.
  bool resume_in_chunk(std::uint32_t point);
  bool resume_after_chunk(std::uint8_t* const* point_items);
  // Records handed out of the front chunk (points_in_chunk_ of sequential reading).
  std::uint32_t decoded_points_taken() const;
  // True when it could decide, with the outcome in `result`; false once it has handed the
  // check to this thread's decoder, brought to where reading stopped.
  bool verify_end_parallel(bool& result);
  void fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void copy_records(const std::uint8_t* records, std::size_t count) {
    if (!copy_->write_bytes(records, count * point_size_)) break_copy();
  }
  void copy_point(std::uint8_t* const* point_items) {
    raw_layout_.gather(point_items, record_.data());
    copy_records(record_.data(), 1);
  }
  void break_copy() {
    copy_ = nullptr;
    copy_whole_ = false;
  }

  ByteStreamIn* instream_ = nullptr;
  std::uint32_t num_items_ = 0;
  ReaderSet current_ = ReaderSet::NONE;
  std::vector<std::unique_ptr<LASreadItemRaw>> raw_readers_;
  std::vector<std::unique_ptr<LASreadItemCompressed>> compressed_readers_;
  std::unique_ptr<EntropyDecoder> decoder_;
  bool layered_ = false;
  bool chunked_ = false;  // compressor kinds 2 and 3
  bool variable_chunks_ = false;
  bool table_read_ = false;
  bool table_failed_ = false;
  std::uint32_t chunk_size_ = kVariableChunkSize;
  std::uint32_t points_in_chunk_ = 0;
  std::uint32_t current_chunk_ = 0;
  ChunkIndex chunks_;
  std::uint32_t point_size_ = 0;
  std::uint32_t decompress_selective_;
  std::int64_t point_start_ = 0;  // where the current chunk (or the raw records) began
  bool chunk_open_ = false;
  // A read failed inside the coded stream of a chunk that cannot be left for the next one
  // (end of the data, or a corrupt last chunk): the decoder stopped mid-operation and its
  // state means nothing, so reads fail until a seek starts a chunk.
  bool decoder_stopped_ = false;
  LASpoint skip_point_;  // decoded into and dropped when seeking
  WorkerPool* pool_ = nullptr;
  // What `setup` was given, for the engines of the workers.
  std::vector<LASitem> items_;
  std::unique_ptr<Pakrel> codec_;
  LASitemCodecFactory factory_ = kItemCodecTable;
  // Chunks whose first and last byte the chunk table gives: only those go to workers.
  std::uint32_t table_spans_ = 0;
  std::unique_ptr<LASreadPipeline> pipeline_;
  const std::uint8_t* decoded_next_ = nullptr;
  const std::uint8_t* decoded_end_ = nullptr;
  std::string error_;
  std::string warning_;

  RawRecordLayout raw_layout_;
  std::vector<std::uint8_t> record_;
  ByteStreamOut* copy_ = nullptr;
  bool copy_whole_ = false;
};
