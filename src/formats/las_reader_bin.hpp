#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "formats/format_support.hpp"
#include "las/las_reader.hpp"

#include "stream/bytestream_in.hpp"

// Reads a Terrasolid binary point file (".bin"): the 56-byte header becomes a LAS header of
// point type 0-3 (time and colour words decide), the scale factors 1 / units per metre and
// the offsets -origin / units; the bounding box is sampled from up to eleven points at open
// and grows with every point read while no area is set.
//
// The header's count is what the file promises (`points_total`). A file that ends before
// it is cut: the whole records it holds are delivered, then one "WARNING: end-of-file after
// ..." line (when `warn_when_cut`) and the reading ends with `points_done < points_total`.
// A header whose origin is not finite is refused.
//
// Ownership: the reader owns its header and point, and the stream and FILE it opened itself
// (open_file); a stream given to open_stream is borrowed. Every failed operation prints one
// "ERROR: " line and returns false; the reader may then only be closed, opened again or
// destroyed.
class LASreaderBIN : public LASreader {
 public:
  static constexpr int kFormatCode = 3;
  static constexpr int kStdioBufferSize = 524288;

  LASreaderBIN() = default;
  ~LASreaderBIN() override;

  bool open_file(const char* file_name);
  bool open_stream(ByteStreamIn* stream);

  int format_code() const override { return kFormatCode; }
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return stream_; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override { return read_record(); }
  // The name open_file was given; empty for a stream.
  const std::string& file_name() const { return file_name_; }

 protected:
  // Called after every successful open; the converting forms take over the header here.
  virtual void opened() {}

 private:
  bool open_header(ByteStreamIn* stream);
  bool read_record();
  bool reach_cut();

  std::FILE* file_ = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream_;
  ByteStreamIn* stream_ = nullptr;
  std::int32_t version_ = 0;
  bool has_time_ = false;
  bool has_color_ = false;
  int record_size_ = 0;
  std::string file_name_;  // for messages; empty for a stream
  bool cut_reached_ = false;
  bool cut_warned_ = false;
  // The file's own quantization, for the box (the converting forms change the header's).
  LASscaling file_scaling_;
};

class LASreaderBINrescale : public LASreaderConverting<LASreaderBIN> {
 public:
  LASreaderBINrescale(double x_scale, double y_scale, double z_scale)
      : LASreaderConverting(std::array<double, 3>{x_scale, y_scale, z_scale}.data(), nullptr) {}
};

class LASreaderBINreoffset : public LASreaderConverting<LASreaderBIN> {
 public:
  LASreaderBINreoffset(double x_offset, double y_offset, double z_offset)
      : LASreaderConverting(nullptr, std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};

class LASreaderBINrescalereoffset : public LASreaderConverting<LASreaderBIN> {
 public:
  LASreaderBINrescalereoffset(double x_scale, double y_scale, double z_scale, double x_offset,
                              double y_offset, double z_offset)
      : LASreaderConverting(std::array<double, 3>{x_scale, y_scale, z_scale}.data(),
                            std::array<double, 3>{x_offset, y_offset, z_offset}.data()) {}
};
