#include "formats/las_reader_bin.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

#include "formats/bin_layout.hpp"
#include "stream/bytestream_in_file.hpp"

using namespace bin_layout;

namespace {

std::int32_t int32_at(const std::uint8_t* bytes) {
  std::int32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}
std::uint16_t uint16_at(const std::uint8_t* bytes) {
  std::uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value;
}
double double_at(const std::uint8_t* bytes) {
  double value;
  std::memcpy(&value, bytes, 8);
  return value;
}

// Spread the samples over the file, but read no more than this many points at open.
constexpr std::int64_t kSampleDivisor = 10;

}  // namespace

LASreaderBIN::~LASreaderBIN() {
  close_reader(true);
}

bool LASreaderBIN::open_file(const char* file_name) {
  close_reader(true);
  file_ = format_support::open_input(file_name, kStdioBufferSize);
  if (file_ == nullptr) return false;
  owned_stream_ = std::make_unique<ByteStreamInFileLE>(file_);
  // open_stream keeps the date.
  format_support::set_creation_date(header, file_name);
  file_name_ = file_name;
  return open_stream(owned_stream_.get());
}

bool LASreaderBIN::open_stream(ByteStreamIn* stream) {
  if (stream != owned_stream_.get()) file_name_.clear();
  // A reader whose open failed delivers nothing.
  if (open_header(stream)) return true;
  close_reader(true);
  return false;
}

bool LASreaderBIN::open_header(ByteStreamIn* stream) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamIn* pointer is zero\n");
    return false;
  }
  if (stream != owned_stream_.get()) close_reader(true);
  stream_ = stream;
  read_failed_ = false;
  cut_reached_ = false;
  cut_warned_ = false;
  format_support::reset_header_keeping_date(header);

  std::uint8_t bytes[kHeaderSize];
  try {
    stream->read_bytes(bytes, kHeaderSize);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: reading terrasolid header\n");
    return false;
  }
  if (int32_at(bytes + kOffsetSizeField) != static_cast<std::int32_t>(kHeaderSize)) {
    std::fprintf(stderr, "ERROR: corrupt terrasolid header. size != 56.\n");
    return false;
  }
  if (int32_at(bytes + kOffsetRecognitionValue) != kRecognitionValue) {
    std::fprintf(stderr, "ERROR: corrupt terrasolid header. recog_val != 979401.\n");
    return false;
  }
  if (std::memcmp(bytes + kOffsetRecognitionText, kRecognitionText, 4) != 0) {
    std::fprintf(stderr, "ERROR: corrupt terrasolid header. recog_str != CXYZ.\n");
    return false;
  }
  version_ = int32_at(bytes + kOffsetVersion);
  const std::int32_t units = int32_at(bytes + kOffsetUnits);
  // The scale factors are 1 / units: zero or a negative number gives no usable coordinates.
  if (units <= 0) {
    std::fprintf(stderr, "ERROR: corrupt terrasolid header. units %d is not positive.\n", units);
    return false;
  }
  has_time_ = int32_at(bytes + kOffsetTimeFlag) != 0;
  has_color_ = int32_at(bytes + kOffsetColorFlag) != 0;
  record_size_ = record_size(version_, has_time_, has_color_);

  header.set_system_identifier(format_support::kSystemBanner);
  char software[32];
  std::snprintf(software, sizeof(software), "via LASreaderBIN (%d)",
                format_support::kFormatsVersion);
  header.set_generating_software(software);

  const std::uint8_t point_type =
      static_cast<std::uint8_t>((has_time_ ? 1 : 0) | (has_color_ ? 2 : 0));
  static constexpr std::uint16_t kRecordLengths[4] = {20, 28, 26, 34};
  header.point_data_format = point_type;
  header.point_data_record_length = kRecordLengths[point_type];

  // The count is what the file promises; a file that holds fewer records was cut, which
  // reading reports when it gets there. The writer stores the low 32 bits of its count.
  const std::int64_t count = static_cast<std::uint32_t>(int32_at(bytes + kOffsetPointCount));
  std::int64_t present = count;
  const std::int64_t size = format_support::stream_size(*stream);
  if (size >= 0) {
    present = std::min(count, (size - static_cast<std::int64_t>(kHeaderSize)) / record_size_);
  }
  header.number_of_point_records = static_cast<std::uint32_t>(count);
  points_total = count;
  points_done = 0;

  const double origin[3] = {double_at(bytes + kOffsetOriginX), double_at(bytes + kOffsetOriginY),
                            double_at(bytes + kOffsetOriginZ)};
  for (int axis = 0; axis < 3; axis++) {
    // Every coordinate is its integer moved by the origin: one that is not a number makes
    // them all none.
    if (!std::isfinite(origin[axis])) {
      std::fprintf(stderr, "ERROR: corrupt terrasolid header. origin %c is %g.\n", 'x' + axis,
                   origin[axis]);
      return false;
    }
  }
  const double scale = 1.0 / units;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = scale;
  header.x_offset = -origin[0] / units;
  header.y_offset = -origin[1] / units;
  header.z_offset = -origin[2] / units;
  file_scaling_ = static_cast<const LASscaling&>(header);

  if (!point.init_for_point_type(&header, point_type, header.point_data_record_length, &header)) {
    return false;
  }

  // The header has no bounding box: sample one from points spread over the records there
  // are.
  if (present > 0 && read_record()) {
    header.min_x = header.max_x = point.get_x();
    header.min_y = header.max_y = point.get_y();
    header.min_z = header.max_z = point.get_z();
    if (present > kSampleDivisor) {
      const std::int64_t step = present / kSampleDivisor;
      for (std::int64_t n = step; n < present; n += step) {
        if (!seek_point(n) || !read_record()) return false;
      }
    }
  } else if (read_failed_) {
    return false;
  }
  header.number_of_points_by_return[0] = 0;
  header.number_of_points_by_return[1] = 0;
  if (!seek_point(0) && count > 0) return false;
  points_done = 0;
  opened();
  choose_read_routines();
  return true;
}

bool LASreaderBIN::read_record() {
  if (points_done >= points_total || stream_ == nullptr || cut_reached_) return false;
  std::uint8_t record[kRecordSize20 + kTimeWordSize + kColorWordSize];
  const int base_size = version_ == kVersion20 ? kRecordSize20 : kRecordSize16;
  try {
    // The whole record with its words is read before any field is taken: a record the file
    // ends in is not delivered.
    stream_->read_bytes(record, static_cast<std::size_t>(record_size_));
  } catch (const ByteStreamEndOfData&) {
    return reach_cut();
  }
  // The format has no flags: whatever a consumer set on the previous point must not stay.
  point.synthetic_flag = 0;
  point.keypoint_flag = 0;
  point.withheld_flag = 0;
  std::uint8_t echo;
  if (version_ == kVersion20) {
    point.X = int32_at(record + k20X);
    point.Y = int32_at(record + k20Y);
    point.Z = int32_at(record + k20Z);
    point.classification = record[k20Class] & 31u;
    echo = record[k20Echo];
    point.point_source_ID = uint16_at(record + k20Line);
    point.intensity = uint16_at(record + k20Intensity);
  } else {
    point.classification = record[k16Class] & 31u;
    point.point_source_ID = record[k16Line];
    const std::uint16_t echo_intensity = uint16_at(record + k16EchoIntensity);
    echo = static_cast<std::uint8_t>(echo_intensity >> k16EchoShift);
    point.intensity = echo_intensity & k16IntensityMask;
    point.X = int32_at(record + k16X);
    point.Y = int32_at(record + k16Y);
    point.Z = int32_at(record + k16Z);
  }
  if (inside() == kAreaNone) {
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
  if (echo == kEchoOnly || echo == kEchoFirst) {
    point.return_number = 1;
    point.number_of_returns = echo == kEchoOnly ? 1 : 2;
    header.number_of_points_by_return[0]++;
  } else {
    point.return_number = 2;
    point.number_of_returns = echo == kEchoLast ? 2 : 3;
    header.number_of_points_by_return[1]++;
  }
  const std::uint8_t* words = record + base_size;
  if (has_time_) {
    std::uint32_t word;
    std::memcpy(&word, words, 4);
    point.gps_time = word * kTimeUnit;
    words += kTimeWordSize;
  }
  if (has_color_) {
    point.rgb[0] = static_cast<std::uint16_t>(words[0] << 8);
    point.rgb[1] = static_cast<std::uint16_t>(words[1] << 8);
    point.rgb[2] = static_cast<std::uint16_t>(words[2] << 8);
  }
  points_done++;
  return true;
}

// The file ends before the count its header gives: the points before were delivered, and
// the run is told once.
bool LASreaderBIN::reach_cut() {
  cut_reached_ = true;
  // Reading by area seeks past the cut again and again: once is enough.
  if (cut_warned_) return false;
  cut_warned_ = true;
  if (warn_when_cut) {
    std::fprintf(stderr, "WARNING: end-of-file after %" PRId64 " of %" PRId64 " points for '%s'\n",
                 points_done, points_total, file_name_.c_str());
  }
  return false;
}

bool LASreaderBIN::seek_point(std::int64_t index) {
  if (stream_ == nullptr || index < 0 || index >= points_total) return false;
  const std::int64_t position = static_cast<std::int64_t>(kHeaderSize) + index * record_size_;
  if (!stream_->seek_to(position)) return false;
  points_done = index;
  cut_reached_ = false;
  return true;
}

void LASreaderBIN::close_reader(bool close_stream) {
  if (!close_stream) return;
  stream_ = nullptr;
  owned_stream_.reset();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
