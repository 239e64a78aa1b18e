#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/las_write_engine.hpp"
#include "las/las_writer.hpp"

class ByteStreamOut;
class Pakrel;

// Writes a LAS 1.0-1.4 file, plain or compressed: the header and its VLRs, the records the
// system owns (the codec, tiling and source-counters records, added back as VLRs), the
// points through a LASwriteEngine, and the LAS 1.4 EVLRs after the points. At the end it
// patches the point count when fewer or more points came than announced.
//
// The writer borrows the header it was opened with (its EVLRs are written at close): the
// header must outlive the writer or `close_writer`. It owns the stream and FILE it opened
// itself (open_file, open_handle, open_nil) or was given as a unique_ptr; a stream given as
// a plain pointer is borrowed. `open_handle` borrows the FILE.
//
// Failures print one "ERROR: " line and return false; `close_writer` then returns 0 and
// `failed()` is true. A refused write (full disk, I/O error) is reported at the point where
// the file system refuses it and again at close, never taken for success. With a worker
// pool, chunked compressed points reach the stream a chunk at a time, later than they were
// written: a refusal then shows at a later point (where a chunk is handed on), at `chunk()`
// or at close.
class LASwriterLAS : public LASwriter {
 public:
  static constexpr int kDefaultBufferSize = 262144;

  LASwriterLAS();
  ~LASwriterLAS() override;

  // `compressor`: Pakrel compressor kind (0 none; 3 for point types 6-10). `requested_version`
  // 0 chooses the codec's default. `chunk_size` below 0 keeps the codec's default, 0 asks
  // for chunks that the caller ends with `chunk()`.
  bool open_file(const char* file_name, const LASheader* header, std::uint16_t compressor = 0,
                 int requested_version = 0, int chunk_size = -1,
                 int stream_buffer_size = kDefaultBufferSize);
  bool open_handle(std::FILE* file, const LASheader* header, std::uint16_t compressor = 0,
                   int requested_version = 0, int chunk_size = -1);
  // Writes nothing and counts the bytes: `close_writer` returns the size the file would have.
  bool open_nil(const LASheader* header, std::uint16_t compressor = 0, int requested_version = 0,
                int chunk_size = -1);
  // Writes to `stream`, borrowed, from its current position on.
  bool open_stream(ByteStreamOut* stream, const LASheader* header, std::uint16_t compressor = 0,
                   int requested_version = 0, int chunk_size = -1);
  // Writes to `stream`, owned from now on.
  bool open_stream(std::unique_ptr<ByteStreamOut> stream, const LASheader* header,
                   std::uint16_t compressor = 0, int requested_version = 0, int chunk_size = -1);

  // The point must be bound to the item layout of the header given at open.
  bool write_point(const LASpoint& point) override {
    points_done++;
    if (engine_ && engine_->write(point.item_data.data())) return true;
    report_write_failure();
    return false;
  }
  bool takes_raw_records(const LASpoint& point) const override;
  bool write_raw_record(const std::uint8_t* record) override {
    points_done++;
    if (engine_ && engine_->write_raw(record)) return true;
    report_write_failure();
    return false;
  }
  // For a caller that rewrites the chunks of a compressed file itself (the noise tool's
  // layer copy): true when chunks of a file coded by `codec` can go to write_stored_chunk
  // unchanged in layout, because this writer codes the same items in the same versions
  // with the layered compressor, in chunks of the same fixed size, and has written no point
  // yet. The caller then counts the points itself (`inventory.add`).
  bool takes_stored_chunks(const Pakrel& codec) const;
  // Writes one whole chunk of `points` points as it is (see LASwriteEngine); false as
  // write_point.
  bool write_stored_chunk(const std::uint8_t* bytes, std::size_t length, std::uint32_t points);
  bool chunk() override;
  bool update_header(const LASheader* header, bool from_tally = false,
                     bool refresh_attributes = false) override;
  std::int64_t close_writer(bool fix_count = true) override;

  // Where the engine of the next open takes its compressed item codecs from: the codec
  // table unless a test hands in stand-ins (which must outlive the writer).
  void set_item_codecs(const LASitemCodecFactory& codecs) { item_codecs_ = &codecs; }
  // Workers for the engine of the next open (see LASwriteEngine::set_worker_pool).
  void set_worker_pool(WorkerPool* pool) { worker_pool_ = pool; }

  // The point data format byte written (bit 7 set when compressing) and the stream in use.
  std::uint8_t written_point_data_format() const { return written_point_data_format_; }
  ByteStreamOut* stream_of() const { return stream_; }

 private:
  // Point counts that the 32-bit legacy fields can hold, and what they hold beyond.
  static constexpr std::uint64_t kLegacyLimit = 4294967296;  // 2^32
  static constexpr std::uint32_t kLegacyCountMax = 4294967295;

  bool write_header(const LASheader& header, const Pakrel* descriptor);
  bool write_suite_records(const LASheader& header);
  bool write_evlrs();
  void report_write_failure();
  void report_stream_failure();
  bool finish_stream(bool ok);

  std::FILE* file_ = nullptr;  // opened by open_file, closed by close_writer
  std::string file_name_;
  ByteStreamOut* stream_ = nullptr;
  std::unique_ptr<ByteStreamOut> owned_stream_;
  std::unique_ptr<LASwriteEngine> engine_;
  WorkerPool* worker_pool_ = nullptr;
  std::vector<LASitem> record_items_;   // the items of the records written, versions aside
  std::unique_ptr<Pakrel> descriptor_;  // of the compressed records written, or null
  std::int64_t header_start_ = 0;
  bool emit_1_4_header_ = false;
  bool emit_extended_types_ = false;
  std::uint8_t written_minor_ = 2;
  std::uint8_t written_point_data_format_ = 0;
  std::int64_t start_of_first_evlr_ = 0;
  std::uint32_t number_of_evlrs_ = 0;
  const std::vector<LASevlrEntry>* evlrs_ = nullptr;  // the header's, borrowed
  bool failure_reported_ = false;
  const LASitemCodecFactory* item_codecs_ = &kItemCodecTable;
};
