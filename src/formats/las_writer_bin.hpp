#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "las/las_writer.hpp"

#include "stream/bytestream_out.hpp"

// Writes a Terrasolid binary point file: the 56-byte header (units per metre from the finest
// scale factor, origins from the offsets, time and colour words by point type), then one
// record per point. A version text containing "ts16" asks for 20-byte records (version
// 20020715), anything else for 16-byte ones (20010712), which keep only the low byte of the
// point source ID and 14 bits of intensity. The format holds no withheld flag, no user
// data, no scan angle and nothing beyond return 2 of 3.
//
// The writer borrows the header it was opened with only during open. It owns the stream
// and FILE it opened itself (open_file); a FILE given to open_handle and a stream given to
// open_stream are borrowed. Failures print one "ERROR: " line and return false;
// close_writer then returns 0 and `failed()` is true.
class LASwriterBIN : public LASwriter {
 public:
  LASwriterBIN() = default;
  ~LASwriterBIN() override;

  bool open_file(const char* file_name, const LASheader* header, const char* version,
                 std::uint32_t io_buffer_size = 262144);
  bool open_handle(std::FILE* file, const LASheader* header, const char* version);
  bool open_stream(ByteStreamOut* stream, const LASheader* header, const char* version);

  bool write_point(const LASpoint& point) override;
  bool chunk() override { return true; }
  // Rewrites the point count (from the tally with `from_tally`, else the header's legacy
  // count); the format has no other summary fields.
  bool update_header(const LASheader* header, bool from_tally = false,
                     bool refresh_attributes = false) override;
  std::int64_t close_writer(bool fix_count = true) override;

 private:
  bool write_count(std::uint32_t count);
  void report_stream_failure();

  std::FILE* file_ = nullptr;  // opened by open_file, closed by close_writer
  std::string file_name_;
  std::unique_ptr<ByteStreamOut> owned_stream_;
  ByteStreamOut* stream_ = nullptr;
  std::int64_t header_start_ = 0;
  std::int32_t version_ = 0;
  bool has_time_ = false;
  bool has_color_ = false;
  double units_ = 1.0;
  double origin_[3] = {0, 0, 0};
};
