#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "las/las_writer.hpp"

#include "stream/bytestream_out.hpp"
class LASattributeSet;

// Writes a little-endian QFIT file: two header records, then one record of 40, 48 or 56
// bytes per point with time, latitude, longitude, elevation, intensity and, when the points
// carry them as attributes, scan azimuth, pitch, roll and pulse width. The input must be in
// geographic coordinates: a header box beyond +-361 degrees is refused at open. The format
// holds no classification, no flags and no returns.
//
// The writer borrows the header it was opened with until close_writer (its attribute set
// locates the attitude values of each point). It owns the stream and FILE it opened itself
// (open_file); a FILE given to open_handle and a stream given to open_stream are borrowed.
// Failures print one "ERROR: " line and return false; close_writer then returns 0.
class LASwriterQFIT : public LASwriter {
 public:
  LASwriterQFIT() = default;
  ~LASwriterQFIT() override;

  // `record_size` 0: 48 when the points have a "pulse width" attribute, else 40; a size that
  // is none of 40, 48 and 56 warns and writes 48.
  bool open_file(const char* file_name, const LASheader* header, std::int32_t record_size = 0,
                 std::uint32_t io_buffer_size = 65536);
  bool open_handle(std::FILE* file, const LASheader* header, std::int32_t record_size = 0);
  bool open_stream(ByteStreamOut* stream, const LASheader* header, std::int32_t record_size = 0);

  bool write_point(const LASpoint& point) override;
  bool chunk() override { return true; }
  // The format has no counts or bounds to rewrite.
  bool update_header(const LASheader*, bool = false, bool = false) override { return !failed_; }
  std::int64_t close_writer(bool fix_count = true) override;

  std::int32_t record_size() const { return record_size_; }

 private:
  void report_stream_failure();
  // The stored value of attribute `index` (its integer, without scale), 0 when absent.
  std::int32_t attribute_word(const LASpoint& point, int index) const;

  std::FILE* file_ = nullptr;
  std::string file_name_;
  std::unique_ptr<ByteStreamOut> owned_stream_;
  ByteStreamOut* stream_ = nullptr;
  const LASattributeSet* attributes_ = nullptr;
  std::int64_t header_start_ = 0;
  std::int32_t record_size_ = 40;
  bool convert_ = false;
  int scan_azimuth_ = -1;  // attribute indexes
  int pitch_ = -1;
  int roll_ = -1;
  int pulse_width_ = -1;
};
