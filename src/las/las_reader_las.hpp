#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "codec/las_read_engine.hpp"
#include "las/las_reader.hpp"

class ByteStreamIn;

// Reads points from one LAS 1.0-1.4 file, plain or compressed.
//
// Opening parses and checks the header and its records (the codec, tiling and
// source-counters records are absorbed into the header's typed members and taken out of the
// record lists), binds `point` to the file's item layout and hands the point data to a
// LASreadEngine, which reads raw records or decodes compressed ones.
//
// Ownership: the reader owns its header, point and engine. It owns the stream and FILE it
// opened itself (open_file, open_handle) or was given as a unique_ptr; a stream given as a
// plain pointer is borrowed and must outlive the reader or `close_reader`. `open_handle`
// borrows the FILE.
//
// Every failed operation prints one "ERROR: " line (warnings print and go on) and returns
// false; the reader may then only be closed, opened again or destroyed. A reader left after
// a failed open holds a partly filled header.
class LASreaderLAS : public LASreader {
 public:
  static constexpr int kDefaultBufferSize = 262144;

  LASreaderLAS();
  ~LASreaderLAS() override;

  bool open_file(const char* file_name, int stream_buffer_size = kDefaultBufferSize,
                 bool header_only = false, std::uint32_t selective_decoding = kDecompressAll);
  bool open_handle(std::FILE* file, bool header_only = false,
                   std::uint32_t selective_decoding = kDecompressAll);
  // Reads from `stream`, borrowed, positioned at the first byte of the file. Opening drops
  // the index of an earlier file; a compressed file may bring its own (see below).
  virtual bool open_stream(ByteStreamIn* stream, bool header_only = false,
                           std::uint32_t selective_decoding = kDecompressAll);
  // Reads from `stream`, owned from now on.
  bool open_stream(std::unique_ptr<ByteStreamIn> stream, bool header_only = false,
                   std::uint32_t selective_decoding = kDecompressAll);

  int format_code() const override;
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return stream_; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;
  bool delivers_raw_records() const override {
    return engine_ && (reads_plain() || reads_filtered_plain()) && engine_->reads_raw_records() &&
           engine_->point_size() == static_cast<std::size_t>(point.record_size);
  }
  std::size_t take_raw_records(const std::uint8_t*& records, std::size_t max) override {
    if (!delivers_raw_records()) return 0;
    if (reads_plain()) {
      if (points_done >= points_total) return 0;
      const std::uint64_t left = static_cast<std::uint64_t>(points_total - points_done);
      std::size_t count = left < max ? static_cast<std::size_t>(left) : max;
      records = engine_->take_raw_records(count);
      if (records == nullptr) return 0;
      points_done += static_cast<std::int64_t>(count);
      return count;
    }
    return take_filtered_records(records, max);
  }

  // Whole compressed chunks as stored, for a caller that rewrites chunks without decoding
  // every field (the noise tool's layer copy). `locate_stored_chunks` gives the number of
  // chunks the chunk table locates; false (0 chunks) unless nothing was read since the
  // open, the stored points are the delivered ones (no filter, transform, area or
  // conversion) and the file is chunked, compressed and seekable with a readable table.
  virtual bool locate_stored_chunks(std::uint32_t& chunks);
  bool stored_chunk(std::uint32_t chunk, LASreadEngine::StoredChunk& where) const {
    return engine_ && engine_->stored_chunk(chunk, where);
  }
  // Reads the chunk's bytes and counts its `points` as delivered. False, saying nothing,
  // when they cannot be read: reading the chunk the ordinary way says what is wrong.
  bool take_stored_chunk(const LASreadEngine::StoredChunk& where, std::uint32_t points,
                         std::uint8_t* bytes);
  // After the caller took chunks 0 to `chunk` - 1: the next read delivers the first point
  // of chunk `chunk`, point `first_point` of the file. False when the stream cannot go there.
  bool continue_at_chunk(std::uint32_t chunk, std::int64_t first_point) {
    if (!engine_ || !engine_->continue_at_chunk(chunk)) return false;
    points_done = first_point;
    return true;
  }

  // Decodes with other selective-decoding flags (see LASreadEngine) from the first point:
  // only before the first read.
  bool set_selective_decoding(std::uint32_t selective_decoding);
  // A copy of the decoded records of a compressed file for a later pass (see
  // LASreadEngine::copy_records_to): only before the first point is read.
  bool copy_records_to(ByteStreamOut* copy) {
    return engine_ && compressed_ && points_done == 0 && engine_->copy_records_to(copy);
  }
  bool copy_is_whole() const { return engine_ && engine_->copy_is_whole(); }
  // Reads the points from `records` (borrowed until the close), raw records of this file's
  // items as such a copy holds them, instead of decoding them again. Only right after an
  // open, before the first read; false otherwise, or when the items cannot be read raw.
  bool read_records_from(ByteStreamIn* records);

  // Where the engine of the next open takes its compressed item codecs from: the codec
  // table unless a test hands in stand-ins (which must outlive the reader).
  void set_item_codecs(const LASitemCodecFactory& codecs) { item_codecs_ = &codecs; }
  // Workers for the engine of the next open (see LASreadEngine::set_worker_pool).
  void set_worker_pool(WorkerPool* pool) { worker_pool_ = pool; }
  WorkerPool* worker_pool() const { return worker_pool_; }

  // The name given to open_file; empty for handles and streams.
  const std::string& file_name() const { return file_name_; }

  // A compressed file may carry its spatial index inside, as a special extended record of
  // the suite (record 30). The index library installs a loader here; without one (the
  // default) the record is skipped. The loader reads from a stream positioned at the index
  // bytes and returns null when they do not read; `file_name` (empty for a stream) names
  // the file in its messages. Whether the index fits the points is checked when an area
  // first reads through it.
  using EmbeddedIndexLoader = std::unique_ptr<LASindexHook> (*)(ByteStreamIn& stream,
                                                                const std::string& file_name);
  static void set_embedded_index_loader(EmbeddedIndexLoader loader);

 private:
  bool read_header_fields();
  bool read_vlrs();
  bool read_evlrs();
  void read_special_evlrs();
  bool open_point_engine(std::uint32_t selective_decoding);
  // take_raw_records through the filter: the leading run of kept records, with the
  // dropped ones before it and the one that ended it consumed.
  std::size_t take_filtered_records(const std::uint8_t*& records, std::size_t max);
  void release_stream();
  // The ends of read_raw_point: a read that failed (prints why) and the end of the points
  // (checks the end of the encoding once). Both return false.
  bool report_read_failure();
  bool finish_reading();

  std::FILE* file_ = nullptr;  // opened by open_file, closed by close_reader
  std::string file_name_;
  ByteStreamIn* stream_ = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream_;
  std::unique_ptr<LASreadEngine> engine_;
  WorkerPool* worker_pool_ = nullptr;
  bool end_tested_ = false;
  bool compressed_ = false;
  const LASitemCodecFactory* item_codecs_ = &kItemCodecTable;
};

// The LAS readers that convert coordinates to other scale factors and/or offsets while
// reading. After the plain open the header holds the new scale factors and offsets, and
// every point's X, Y, Z are converted to them (rounded half away from zero to 32 bits). Axes
// whose request equals the file's value are left alone. Conversions that push the header's
// bounding box beyond 32-bit integers are reported after opening with one "WARNING: " line
// per bound. This class holds the conversion; the three below choose what it converts.
class LASreaderLASconverting : public LASreaderLAS {
 public:
  using LASreaderLAS::open_stream;
  bool open_stream(ByteStreamIn* stream, bool header_only = false,
                   std::uint32_t selective_decoding = kDecompressAll) override;
  bool read_raw_point() override;
  // The stored coordinates are not the delivered ones.
  bool delivers_raw_records() const override { return false; }
  bool locate_stored_chunks(std::uint32_t& chunks) override {
    chunks = 0;
    return false;
  }

  // Which axes (0 x, 1 y, 2 z) are converted.
  bool rescaled(int axis) const { return rescale_axis_[axis]; }
  bool reoffset(int axis) const { return reoffset_axis_[axis]; }

 protected:
  enum class Mode { kRescale, kReoffset, kBoth };
  // `scale` (kRescale, kBoth): 0 keeps the file's factor. `offset` (kReoffset, kBoth):
  // ignored with `auto_offset`.
  LASreaderLASconverting(Mode mode, const double scale[3], const double offset[3], bool auto_offset,
                         bool guard_overflow);

 private:
  std::int32_t convert(int axis, std::int32_t value) const;

  Mode mode_;
  double requested_scale_[3] = {0, 0, 0};
  double requested_offset_[3] = {0, 0, 0};
  bool auto_offset_;
  bool guard_overflow_;
  double file_scale_[3] = {1, 1, 1};
  double file_offset_[3] = {0, 0, 0};
  double new_scale_[3] = {1, 1, 1};
  double new_offset_[3] = {0, 0, 0};
  bool rescale_axis_[3] = {false, false, false};
  bool reoffset_axis_[3] = {false, false, false};
};

// New scale factors (0 keeps the file's); overflow warnings only with `guard_overflow`.
class LASreaderLASrescale : public LASreaderLASconverting {
 public:
  LASreaderLASrescale(double x_scale, double y_scale, double z_scale, bool guard_overflow = true);
};

// New offsets, or automatic ones: per axis the box centre in scaled units, truncated to a
// multiple of 10,000,000 units.
class LASreaderLASreoffset : public LASreaderLASconverting {
 public:
  LASreaderLASreoffset(double x_offset, double y_offset, double z_offset);
  LASreaderLASreoffset();
};

// New scale factors, then new (or automatic) offsets applied with the new factors.
class LASreaderLASrescalereoffset : public LASreaderLASconverting {
 public:
  LASreaderLASrescalereoffset(double x_scale, double y_scale, double z_scale, double x_offset,
                              double y_offset, double z_offset);
  LASreaderLASrescalereoffset(double x_scale, double y_scale, double z_scale);
};
