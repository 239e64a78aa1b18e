#include "formats/las_reader_qfit.hpp"

#include <cinttypes>
#include <cstring>
#include <vector>

#include "formats/qfit_layout.hpp"
#include "model/las_attribute.hpp"
#include "stream/bytestream_in_file.hpp"

using namespace qfit_layout;

namespace {

constexpr std::int64_t kSampleDivisor = 50;

std::int32_t word_in_order(const std::uint8_t* bytes, bool big_endian) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
  if (big_endian) word = byte_swapped(word);
  return static_cast<std::int32_t>(word);
}

void put_int32(std::uint8_t* bytes, std::int32_t value) {
  std::memcpy(bytes, &value, 4);
}

}  // namespace

LASreaderQFIT::~LASreaderQFIT() {
  close_reader(true);
}

bool LASreaderQFIT::open_file(const char* file_name) {
  close_reader(true);
  file_ = format_support::open_input(file_name, kStdioBufferSize);
  if (file_ == nullptr) return false;
  owned_stream_ = std::make_unique<ByteStreamInFileLE>(file_);
  format_support::set_creation_date(header, file_name);  // open_stream keeps the date
  file_name_ = file_name;
  return open_stream(owned_stream_.get());
}

bool LASreaderQFIT::add_attributes() {
  struct Attitude {
    const char* name;
    const char* description;
    double min;
    double max;
    int* offset;
  };
  const Attitude attitudes[3] = {
      {kScanAzimuth, "Scan Azimuth (degrees X 1,000)", 0, 360000, &scan_azimuth_at_},
      {kPitch, "Pitch (degrees X 1,000)", -90000, 90000, &pitch_at_},
      {kRoll, "Roll (degrees X 1,000)", -90000, 90000, &roll_at_},
  };
  static const char* const kFailures[3] = {"scan_azimuth", "pitch", "roll"};
  for (int i = 0; i < 3; i++) {
    LASattributeDescriptor descriptor(LASattributeDescriptor::I32 + 1, attitudes[i].name,
                                      attitudes[i].description);
    descriptor.set_scale(kAngleScale);
    descriptor.set_min(attitudes[i].min);
    descriptor.set_max(attitudes[i].max);
    const int index = header.add_attribute(descriptor);
    if (index < 0) {
      std::fprintf(stderr, "ERROR: initializing attribute %s\n", kFailures[i]);
      return false;
    }
    *attitudes[i].offset = header.attribute_offset(index);
  }
  pulse_width_at_ = -1;
  if (record_size_ == kRecordSize12) {
    LASattributeDescriptor descriptor(LASattributeDescriptor::U8 + 1, kPulseWidth,
                                      "Pulse Width (digitizer samples)");
    const int index = header.add_attribute(descriptor);
    if (index < 0) {
      std::fprintf(stderr, "ERROR: initializing attribute pulse width\n");
      return false;
    }
    pulse_width_at_ = header.attribute_offset(index);
  }
  return header.refresh_extra_bytes_vlr();
}

bool LASreaderQFIT::open_stream(ByteStreamIn* stream) {
  if (stream != owned_stream_.get()) file_name_.clear();
  // A reader whose open failed delivers nothing.
  if (open_header(stream)) return true;
  close_reader(true);
  return false;
}

bool LASreaderQFIT::open_header(ByteStreamIn* stream) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamIn* pointer is zero\n");
    return false;
  }
  if (stream != owned_stream_.get()) close_reader(true);
  stream_ = stream;
  read_failed_ = false;
  end_reached_ = false;
  cut_reached_ = false;
  cut_warned_ = false;
  format_support::reset_header_keeping_date(header);

  std::uint8_t first[4];
  try {
    stream->read_bytes(first, 4);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: reading QFIT header\n");
    return false;
  }
  big_endian_ = false;
  record_size_ = word_in_order(first, false);
  if (!is_record_size(record_size_)) {
    record_size_ = word_in_order(first, true);
    if (!is_record_size(record_size_)) {
      std::fprintf(stderr, "ERROR: corrupt QFIT header.\n");
      return false;
    }
    big_endian_ = true;
  }
  std::uint8_t rest[kRecordSize14];
  std::uint8_t offset_word[4];
  try {
    stream->read_bytes(rest, static_cast<std::size_t>(record_size_));
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: reading %d bytes until point start offset from QFIT header\n",
                 record_size_);
    return false;
  }
  try {
    stream->read_bytes(offset_word, 4);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: reading point start offset from QFIT header\n");
    return false;
  }
  point_start_ = word_in_order(offset_word, big_endian_);
  const std::int64_t size = format_support::stream_size(*stream);
  if (size < 0) {
    std::fprintf(stderr, "ERROR: QFIT input must be seekable to count its points\n");
    return false;
  }
  // The offset sizes every later seek: it must lie inside the file.
  if (point_start_ < 0 || point_start_ > size) {
    std::fprintf(stderr,
                 "ERROR: QFIT point start offset %" PRId64 " lies outside the file of %" PRId64
                 " bytes\n",
                 point_start_, size);
    return false;
  }
  // Bytes after the last whole record are the start of one the file was cut in.
  const std::int64_t whole = (size - point_start_) / record_size_;
  const std::int64_t count = whole + ((size - point_start_) % record_size_ != 0 ? 1 : 0);

  header.set_system_identifier(format_support::kSystemBanner);
  char software[32];
  std::snprintf(software, sizeof(software), "via LASreaderQFIT (%d)",
                format_support::kFormatsVersion);
  header.set_generating_software(software);
  header.number_of_point_records = count <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(count) : 0;
  header.number_of_points_by_return[0] = header.number_of_point_records;
  header.extended_number_of_point_records = static_cast<std::uint64_t>(count);
  header.extended_number_of_points_by_return[0] = static_cast<std::uint64_t>(count);
  header.x_scale_factor = kXYScale;
  header.y_scale_factor = kXYScale;
  header.z_scale_factor = kZScale;
  header.x_offset = header.y_offset = header.z_offset = 0.0;
  file_scaling_ = static_cast<const LASscaling&>(header);
  if (!add_attributes()) return false;
  header.point_data_format = 1;
  header.point_data_record_length = static_cast<std::uint16_t>(28 + header.attribute_bytes());
  if (!point.init_for_point_type(&header, 1, header.point_data_record_length, &header)) {
    return false;
  }
  points_total = count;
  points_done = 0;
  if (!stream->seek_to(point_start_)) return false;

  if (whole > 0 && read_record()) {
    header.min_x = header.max_x = point.get_x();
    header.min_y = header.max_y = point.get_y();
    header.min_z = header.max_z = point.get_z();
    if (whole > kSampleDivisor) {
      const std::int64_t step = whole / kSampleDivisor;
      for (std::int64_t n = step; n < whole; n += step) {
        if (!seek_point(n) || !read_record()) return false;
      }
    }
  } else if (read_failed_) {
    return false;
  }
  if (count > 0 && !seek_point(0)) return false;
  points_done = 0;
  opened();
  choose_read_routines();
  return true;
}

bool LASreaderQFIT::read_record() {
  if (stream_ == nullptr || cut_reached_) return false;
  if (points_done >= points_total) {
    end_reached_ = true;
    return false;
  }
  std::uint8_t record[kRecordSize14];
  try {
    stream_->read_bytes(record, static_cast<std::size_t>(record_size_));
  } catch (const ByteStreamEndOfData&) {
    return reach_cut();
  }
  std::int32_t words[kMaxWords] = {};
  for (int i = 0; i < record_size_ / 4; i++)
    words[i] = word_in_order(record + 4 * i, big_endian_);

  // The format has no class or flags: a mark set on the previous point must not stay.
  point.classification = 0;
  point.synthetic_flag = 0;
  point.keypoint_flag = 0;
  point.withheld_flag = 0;
  point.gps_time = words[kWordTime] * kTimeScale;
  std::int32_t longitude = words[kWordLongitude];
  if (longitude > kHalfCircle) longitude -= kFullCircle;
  point.X = longitude;
  point.Y = words[kWordLatitude];
  point.Z = words[kWordElevation];
  point.intensity = static_cast<std::uint16_t>(words[kWordReflected] & 0xFFFF);
  double rank = words[kWordScanAzimuth] * kAngleScale - 180.0;
  rank = rank >= 0 ? rank + 0.5 : rank - 0.5;
  if (rank > 127.0) rank = 127.0;
  if (rank < -128.0) rank = -128.0;
  point.scan_angle_rank = static_cast<std::int8_t>(rank);
  std::uint8_t* extra = point.extra_bytes.data();
  put_int32(extra + scan_azimuth_at_, words[kWordScanAzimuth]);
  put_int32(extra + pitch_at_, words[kWordPitch]);
  put_int32(extra + roll_at_, words[kWordRoll]);
  if (pulse_width_at_ >= 0)
    extra[pulse_width_at_] = static_cast<std::uint8_t>(words[kWordPulseWidth] & 0xFF);
  if (!end_reached_ && inside() == kAreaNone) {
    const double x = file_scaling_.get_x(point.X);
    const double y = file_scaling_.get_y(point.Y);
    const double z = file_scaling_.get_z(point.Z);
    if (x < header.min_x) header.min_x = x;
    if (x > header.max_x) header.max_x = x;
    if (y < header.min_y) header.min_y = y;
    if (y > header.max_y) header.max_y = y;
    if (z < header.min_z) header.min_z = z;
    if (z > header.max_z) header.max_z = z;
  }
  points_done++;
  return true;
}

// The file ends inside a record: the points before were delivered, and the run is told
// once.
bool LASreaderQFIT::reach_cut() {
  cut_reached_ = true;
  // Reading by area seeks past the cut again and again: once is enough.
  if (cut_warned_) return false;
  cut_warned_ = true;
  end_reached_ = true;
  if (warn_when_cut) {
    std::fprintf(stderr, "WARNING: end-of-file after %" PRId64 " of %" PRId64 " points for '%s'\n",
                 points_done, points_total, file_name_.c_str());
  }
  return false;
}

bool LASreaderQFIT::seek_point(std::int64_t index) {
  if (stream_ == nullptr || index < 0 || index >= points_total) return false;
  if (!stream_->seek_to(point_start_ + index * record_size_)) return false;
  points_done = index;
  cut_reached_ = false;
  return true;
}

void LASreaderQFIT::close_reader(bool close_stream) {
  if (!close_stream) return;
  stream_ = nullptr;
  owned_stream_.reset();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
