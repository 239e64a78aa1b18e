#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "formats/format_support.hpp"
#include "las/las_reader.hpp"

#include "stream/bytestream_in.hpp"

// Reads a QFIT file (".qi") of 40-, 48- or 56-byte records in either byte order (told by the
// record size in the first word). Points become LAS point type 1 with the attributes "scan
// azimuth", "pitch", "roll" (and "pulse width" for 48-byte records) in their extra bytes;
// x and y are longitude and latitude at 0.000001 degrees (longitudes above 180 degrees
// become negative), z the elevation at 0.001. The point count follows from the file size;
// the bounding box is sampled at open and grows with the points of the first full pass.
// A file whose size leaves part of a record after the last whole one was cut: that record
// counts in `points_total` but is not delivered, and reaching it prints one "WARNING:
// end-of-file after ..." line (when `warn_when_cut`). A file cut at a record boundary
// cannot be told from a whole one.
//
// Ownership: the reader owns its header and point, and the stream and FILE it opened itself
// (open_file); a stream given to open_stream is borrowed and must be seekable. Every failed
// operation prints one "ERROR: " line and returns false.
class LASreaderQFIT : public LASreader {
 public:
  static constexpr int kFormatCode = 4;
  static constexpr int kStdioBufferSize = 524288;

  LASreaderQFIT() = default;
  ~LASreaderQFIT() override;

  bool open_file(const char* file_name);
  bool open_stream(ByteStreamIn* stream);

  int format_code() const override { return kFormatCode; }
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return stream_; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override { return read_record(); }
  // The name open_file was given; empty for a stream.
  const std::string& file_name() const { return file_name_; }

  bool big_endian() const { return big_endian_; }
  std::int32_t record_size() const { return record_size_; }

 protected:
  virtual void opened() {}

 private:
  bool open_header(ByteStreamIn* stream);
  bool read_record();
  bool reach_cut();
  bool add_attributes();

  std::FILE* file_ = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream_;
  ByteStreamIn* stream_ = nullptr;
  std::int32_t record_size_ = 0;
  bool big_endian_ = false;
  std::int64_t point_start_ = 0;
  bool end_reached_ = false;
  bool cut_reached_ = false;
  bool cut_warned_ = false;
  std::string file_name_;
  int scan_azimuth_at_ = -1;  // offsets of the attributes in the extra bytes
  int pitch_at_ = -1;
  int roll_at_ = -1;
  int pulse_width_at_ = -1;
  LASscaling file_scaling_;
};

class LASreaderQFITrescale : public LASreaderConverting<LASreaderQFIT> {
 public:
  LASreaderQFITrescale(double x_scale, double y_scale, double z_scale)
      : LASreaderConverting(std::array<double, 3>{x_scale, y_scale, z_scale}.data(), nullptr) {}
};

class LASreaderQFITreoffset : public LASreaderConverting<LASreaderQFIT> {
 public:
  LASreaderQFITreoffset(double x_offset, double y_offset, double z_offset)
      : LASreaderConverting(nullptr, std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};

class LASreaderQFITrescalereoffset : public LASreaderConverting<LASreaderQFIT> {
 public:
  LASreaderQFITrescalereoffset(double x_scale, double y_scale, double z_scale, double x_offset,
                               double y_offset, double z_offset)
      : LASreaderConverting(std::array<double, 3>{x_scale, y_scale, z_scale}.data(),
                            std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};
