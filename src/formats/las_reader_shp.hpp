#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "las/las_reader.hpp"

#include "stream/bytestream_in.hpp"

// Reads the vertices of a point shapefile (".shp": Point, MultiPoint and their Z and M
// variants) as points of LAS point type 0 with x, y and (Z types) z; every other field keeps
// its reset value and m values are skipped. Files of other shape types are refused at open.
//
// The box in the file header is a hint only: a seekable file is looked through at open, and
// the header gets the real number of vertices and the box of their finite coordinates; the
// quantization is chosen from that box unless scale factors or offsets were requested. When
// the box cannot be held in 32-bit integers at that quantization, the open fails with one
// "ERROR: " line naming the axis. A vertex whose coordinates cannot be stored (not finite,
// or beyond 32 bits on a stream that could not be looked through) is skipped and counted;
// the end of the points then reports them with one "ERROR: " line and `read_failed()`, so
// that no output that lost them looks complete.
//
// A file that ends inside a record or before the length its header announces is cut: the
// whole records it holds are delivered, one "WARNING: " line says so (when `warn_when_cut`)
// and `ended_cut()` is set.
//
// Ownership: the reader owns its header, point and vertex buffer, and the stream and FILE it
// opened itself; a stream given to open_stream is borrowed. Every failed operation prints
// one "ERROR: " line and returns false. Nothing read from the file sizes the vertex buffer
// before it was held against the bytes the file has left.
class LASreaderSHP : public LASreader {
 public:
  static constexpr int kFormatCode = 5;

  LASreaderSHP() = default;
  // Requested scale factors (a 0 component keeps the chosen one) and offsets, or null.
  LASreaderSHP(const double* scale, const double* offset);
  ~LASreaderSHP() override;

  bool open_file(const char* file_name);
  bool open_stream(ByteStreamIn* stream);
  // Reads the same file again from its first record, keeping the header.
  bool reopen_file(const char* file_name);

  int format_code() const override { return kFormatCode; }
  // The records have no fixed size: only the start can be sought.
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return stream_; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

  std::int32_t shape_type() const { return shape_type_; }

 private:
  bool open_header(ByteStreamIn* stream);
  bool open_named(const char* file_name);
  // Reads every record once: the count and the box of the vertices that will be delivered.
  // Silent; the stream is back at the first record afterwards.
  bool survey_records();
  // Whether the box fits 32-bit integers at the header's quantization; else its message.
  bool box_fits() const;
  void rewind_counters();
  // The next record's vertices into `coordinates_`; false at the end of the records.
  bool read_shape_record();
  // Messages and counts once the records are used up.
  void reach_end();

  std::optional<std::array<double, 3>> requested_scale_;
  std::optional<std::array<double, 3>> requested_offset_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream_;
  ByteStreamIn* stream_ = nullptr;
  std::string file_name_;  // for messages; empty for a stream
  std::int64_t file_size_ = -1;
  std::int64_t announced_bytes_ = 0;  // the file length the header gives
  std::int32_t shape_type_ = 0;
  std::uint32_t record_number_ = 0;  // records read, for messages
  std::vector<double> coordinates_;  // x, y, z of each vertex of the current record
  std::int64_t vertex_count_ = 0;
  std::int64_t next_vertex_ = 0;
  bool ended_ = false;
  bool quiet_ = false;                   // while surveying
  std::uint32_t cut_in_record_ = 0;      // the record the file ends in, 0 when none
  std::int64_t unstorable_ = 0;          // vertices skipped for their coordinates
  std::uint32_t unstorable_record_ = 0;  // the first of them, for the message
  std::array<double, 3> unstorable_example_{};
};

class LASreaderSHPrescale : public LASreaderSHP {
 public:
  LASreaderSHPrescale(double x_scale, double y_scale, double z_scale)
      : LASreaderSHP(std::array<double, 3>{x_scale, y_scale, z_scale}.data(), nullptr) {}
};

class LASreaderSHPreoffset : public LASreaderSHP {
 public:
  LASreaderSHPreoffset(double x_offset, double y_offset, double z_offset)
      : LASreaderSHP(nullptr, std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};

class LASreaderSHPrescalereoffset : public LASreaderSHP {
 public:
  LASreaderSHPrescalereoffset(double x_scale, double y_scale, double z_scale, double x_offset,
                              double y_offset, double z_offset)
      : LASreaderSHP(std::array<double, 3>{x_scale, y_scale, z_scale}.data(),
                     std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};
