#include "formats/las_writer_qfit.hpp"

#include <cmath>
#include <cstring>

#include "formats/format_support.hpp"
#include "formats/qfit_layout.hpp"
#include "stream/bytestream_out_file.hpp"

using namespace qfit_layout;

namespace {

constexpr double kLongitudeLatitudeLimit = 361.0;
constexpr char kIdentification[] = "Brindlex point cloud suite";

}  // namespace

LASwriterQFIT::~LASwriterQFIT() {
  if (stream_ != nullptr) close_writer(true);
}

bool LASwriterQFIT::open_file(const char* file_name, const LASheader* header,
                              std::int32_t record_size, std::uint32_t io_buffer_size) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  if (stream_ != nullptr) close_writer(true);
  file_ = std::fopen(file_name, "wb");
  if (file_ == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return false;
  }
  if (std::setvbuf(file_, nullptr, _IOFBF, io_buffer_size) != 0) {
    std::fprintf(stderr, "WARNING: setvbuf() failed with buffer size %u\n", io_buffer_size);
  }
  file_name_ = file_name;
  owned_stream_ = std::make_unique<ByteStreamOutFileLE>(file_);
  return open_stream(owned_stream_.get(), header, record_size);
}

bool LASwriterQFIT::open_handle(std::FILE* file, const LASheader* header,
                                std::int32_t record_size) {
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  if (stream_ != nullptr) close_writer(true);
  file_name_.clear();
  owned_stream_ = std::make_unique<ByteStreamOutFileLE>(file);
  return open_stream(owned_stream_.get(), header, record_size);
}

bool LASwriterQFIT::open_stream(ByteStreamOut* stream, const LASheader* header,
                                std::int32_t record_size) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamOut pointer is zero\n");
    return false;
  }
  if (header == nullptr) {
    std::fprintf(stderr, "ERROR: LASheader pointer is zero\n");
    return false;
  }
  if (!(header->min_x > -kLongitudeLatitudeLimit && header->min_y > -kLongitudeLatitudeLimit &&
        header->max_x < kLongitudeLatitudeLimit && header->max_y < kLongitudeLatitudeLimit)) {
    std::fprintf(stderr, "ERROR: bounding box (%g %g / %g %g) exceeds longitude / latitude\n",
                 header->min_x, header->min_y, header->max_x, header->max_y);
    return false;
  }
  stream_ = stream;
  failed_ = false;
  header_start_ = stream->position();
  scaling = static_cast<const LASscaling&>(*header);
  attributes_ = header;
  convert_ = !(header->x_scale_factor == kXYScale && header->y_scale_factor == kXYScale &&
               header->z_scale_factor == kZScale && header->x_offset == 0.0 &&
               header->y_offset == 0.0 && header->z_offset == 0.0);
  scan_azimuth_ = header->find_attribute(kScanAzimuth);
  pitch_ = header->find_attribute(kPitch);
  roll_ = header->find_attribute(kRoll);
  pulse_width_ = header->find_attribute(kPulseWidth);
  if (record_size != 0) {
    record_size_ = record_size;
    if (!is_record_size(record_size_)) {
      std::fprintf(stderr, "WARNING: version %d of QFIT unknown ... using 48\n", record_size);
      record_size_ = kRecordSize12;
    }
  } else {
    record_size_ = pulse_width_ >= 0 ? kRecordSize12 : kRecordSize10;
  }

  std::uint8_t record[kRecordSize14] = {};
  if (!stream->write32_le(&record_size_)) {
    std::fprintf(stderr, "ERROR: while writing version of QFIT header\n");
    failed_ = true;
    return false;
  }
  std::snprintf(reinterpret_cast<char*>(record), sizeof(record), "via LASwriterQFIT (version %d)",
                format_support::kFormatsVersion);
  if (!stream->write_bytes(record, static_cast<std::size_t>(record_size_ - 4))) {
    std::fprintf(stderr, "ERROR: writing first header record of QFIT header\n");
    failed_ = true;
    return false;
  }
  const std::int32_t mark = kSecondRecordMark;
  if (!stream->write32_le(&mark)) {
    std::fprintf(stderr, "ERROR: while writing -9000000 into QFIT header\n");
    failed_ = true;
    return false;
  }
  const std::int32_t point_start = 2 * record_size_;
  if (!stream->write32_le(&point_start)) {
    std::fprintf(stderr, "ERROR: while writing offset into QFIT header\n");
    failed_ = true;
    return false;
  }
  std::memset(record, 0, sizeof(record));
  std::memcpy(record, kIdentification, sizeof(kIdentification));
  if (!stream->write_bytes(record, static_cast<std::size_t>(record_size_ - 8))) {
    std::fprintf(stderr, "ERROR: writing second header record of QFIT header\n");
    failed_ = true;
    return false;
  }
  points_total = static_cast<std::int64_t>(header->point_count());
  points_done = 0;
  inventory = LAStally();
  return true;
}

std::int32_t LASwriterQFIT::attribute_word(const LASpoint& point, int index) const {
  const LASattributeDescriptor& descriptor = attributes_->descriptor(index);
  const std::int32_t at = attributes_->attribute_offset(index);
  // The attitude attributes the reader makes are 32-bit integers: copy them as they are.
  if (descriptor.data_type == LASattributeDescriptor::I32 + 1 && at >= 0 &&
      at + 4 <= point.extra_bytes_size) {
    std::int32_t word;
    std::memcpy(&word, point.extra_bytes.data() + at, 4);
    return word;
  }
  double value = attributes_->get_value(point.extra_bytes.data(), point.extra_bytes_size, index);
  if (descriptor.has_offset()) value -= descriptor.offset[0];
  if (descriptor.has_scale() && descriptor.scale[0] != 0.0) value /= descriptor.scale[0];
  return format_support::round_to_int32(value);
}

bool LASwriterQFIT::write_point(const LASpoint& point) {
  if (stream_ == nullptr) return false;
  std::int32_t words[kMaxWords] = {};
  words[kWordTime] = format_support::round_to_int32(std::fabs(point.gps_time / kTimeScale));
  std::int32_t longitude, latitude, elevation;
  if (convert_) {
    longitude = format_support::round_to_int32(point.get_x() / kXYScale);
    latitude = format_support::round_to_int32(point.get_y() / kXYScale);
    elevation = format_support::round_to_int32(point.get_z() / kZScale);
  } else {
    longitude = point.X;
    latitude = point.Y;
    elevation = point.Z;
  }
  if (longitude < 0) longitude += kFullCircle;
  words[kWordLongitude] = longitude;
  words[kWordLatitude] = latitude;
  words[kWordElevation] = elevation;
  words[kWordReflected] = point.intensity;
  words[kWordScanAzimuth] =
      scan_azimuth_ >= 0 ? attribute_word(point, scan_azimuth_)
                         : format_support::round_to_int32(point.scan_angle_rank / kAngleScale);
  if (pitch_ >= 0) words[kWordPitch] = attribute_word(point, pitch_);
  if (roll_ >= 0) words[kWordRoll] = attribute_word(point, roll_);
  if (pulse_width_ >= 0 && record_size_ > kRecordSize10) {
    words[kWordPulseWidth] = attribute_word(point, pulse_width_);
  }
  points_done++;
  if (!stream_->write_bytes(words, static_cast<std::size_t>(record_size_))) {
    report_stream_failure();
    return false;
  }
  return true;
}

std::int64_t LASwriterQFIT::close_writer(bool) {
  if (stream_ == nullptr) return 0;
  bool ok = !failed_;
  const std::int64_t bytes = stream_->position() - header_start_;
  ok = format_support::finish_output(*stream_, file_, file_name_, ok) && ok;
  stream_ = nullptr;
  owned_stream_.reset();
  attributes_ = nullptr;
  points_total = points_done;
  points_done = 0;
  if (!ok) {
    failed_ = true;
    return 0;
  }
  return bytes;
}

void LASwriterQFIT::report_stream_failure() {
  failed_ = true;
  format_support::report_write_failure(file_name_);
}
