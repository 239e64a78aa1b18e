#include "formats/las_writer_bin.hpp"

#include <cinttypes>
#include <cmath>
#include <cstring>

#include "formats/bin_layout.hpp"
#include "formats/format_support.hpp"
#include "stream/bytestream_out_file.hpp"

using namespace bin_layout;

namespace {

void put_int32(std::uint8_t* bytes, std::int32_t value) {
  std::memcpy(bytes, &value, 4);
}
void put_uint16(std::uint8_t* bytes, std::uint16_t value) {
  std::memcpy(bytes, &value, 2);
}
void put_double(std::uint8_t* bytes, double value) {
  std::memcpy(bytes, &value, 8);
}

// Every point type with a GPS time or RGB field keeps it: the legacy types and those of
// LAS 1.4 alike.
bool type_has_time(int type) {
  return type == 1 || type >= 3;
}
bool type_has_color(int type) {
  return type == 2 || type == 3 || type == 5 || type == 7 || type == 8 || type == 10;
}

}  // namespace

LASwriterBIN::~LASwriterBIN() {
  if (stream_ != nullptr) close_writer(true);
}

bool LASwriterBIN::open_file(const char* file_name, const LASheader* header, const char* version,
                             std::uint32_t io_buffer_size) {
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
  return open_stream(owned_stream_.get(), header, version);
}

bool LASwriterBIN::open_handle(std::FILE* file, const LASheader* header, const char* version) {
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  if (stream_ != nullptr) close_writer(true);
  file_name_.clear();
  owned_stream_ = std::make_unique<ByteStreamOutFileLE>(file);
  return open_stream(owned_stream_.get(), header, version);
}

bool LASwriterBIN::open_stream(ByteStreamOut* stream, const LASheader* header,
                               const char* version) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamOut pointer is zero\n");
    return false;
  }
  if (header == nullptr) {
    std::fprintf(stderr, "ERROR: LASheader pointer is zero\n");
    return false;
  }
  stream_ = stream;
  failed_ = false;
  header_start_ = stream->position();
  scaling = static_cast<const LASscaling&>(*header);
  version_ =
      version != nullptr && std::strstr(version, "ts16") != nullptr ? kVersion20 : kVersion16;
  const int type = header->point_data_format & 0x7F;
  has_time_ = type_has_time(type);
  has_color_ = type_has_color(type);
  const std::uint32_t count =
      header->number_of_point_records != 0
          ? header->number_of_point_records
          : static_cast<std::uint32_t>(header->extended_number_of_point_records & 0xFFFFFFFFu);
  double finest = header->x_scale_factor;
  if (header->y_scale_factor < finest) finest = header->y_scale_factor;
  if (header->z_scale_factor < finest) finest = header->z_scale_factor;
  // 1 / 0.0000001 comes out a hair below 10000000: truncating must not lose a unit.
  const double inverse = finest > 0 ? 1.0 / finest * (1.0 + 1e-12) : 1.0;
  units_ = inverse < 2147483647.0 ? std::trunc(inverse) : 2147483647.0;
  if (units_ < 1.0) units_ = 1.0;
  origin_[0] = -header->x_offset / finest;
  origin_[1] = -header->y_offset / finest;
  origin_[2] = -header->z_offset / finest;

  std::uint8_t bytes[kHeaderSize] = {};
  put_int32(bytes + kOffsetSizeField, static_cast<std::int32_t>(kHeaderSize));
  put_int32(bytes + kOffsetVersion, version_);
  put_int32(bytes + kOffsetRecognitionValue, kRecognitionValue);
  std::memcpy(bytes + kOffsetRecognitionText, kRecognitionText, 4);
  std::memcpy(bytes + kOffsetPointCount, &count, 4);
  put_int32(bytes + kOffsetUnits, static_cast<std::int32_t>(units_));
  put_double(bytes + kOffsetOriginX, origin_[0]);
  put_double(bytes + kOffsetOriginY, origin_[1]);
  put_double(bytes + kOffsetOriginZ, origin_[2]);
  put_int32(bytes + kOffsetTimeFlag, has_time_ ? 1 : 0);
  put_int32(bytes + kOffsetColorFlag, has_color_ ? 1 : 0);
  if (!stream->write_bytes(bytes, kHeaderSize)) {
    report_stream_failure();
    return false;
  }
  points_total = count;
  points_done = 0;
  inventory = LAStally();
  return true;
}

bool LASwriterBIN::write_point(const LASpoint& point) {
  if (stream_ == nullptr) return false;
  const bool extended = point.extended_layout != 0;
  const unsigned returns = extended ? point.extended_number_of_returns : point.number_of_returns;
  const unsigned number = extended ? point.extended_return_number : point.return_number;
  std::uint8_t echo = kEchoOnly;
  if (returns > 1) {
    if (number == 1) {
      echo = kEchoFirst;
    } else if (number < returns) {
      echo = kEchoIntermediate;
    } else {
      echo = kEchoLast;
    }
  }
  const std::int32_t x = format_support::round_to_int32(point.get_x() * units_ + origin_[0]);
  const std::int32_t y = format_support::round_to_int32(point.get_y() * units_ + origin_[1]);
  const std::int32_t z = format_support::round_to_int32(point.get_z() * units_ + origin_[2]);
  const std::uint8_t classification = static_cast<std::uint8_t>(point.get_classification() & 31u);

  std::uint8_t record[kRecordSize20 + kTimeWordSize + kColorWordSize] = {};
  int size;
  if (version_ == kVersion20) {
    put_int32(record + k20X, x);
    put_int32(record + k20Y, y);
    put_int32(record + k20Z, z);
    record[k20Class] = classification;
    record[k20Echo] = echo;
    record[k20Flag] = 0;
    record[k20Mark] = 0;
    put_uint16(record + k20Line, point.point_source_ID);
    put_uint16(record + k20Intensity, point.intensity);
    size = kRecordSize20;
  } else {
    record[k16Class] = classification;
    record[k16Line] = static_cast<std::uint8_t>(point.point_source_ID & 0xFF);
    put_uint16(
        record + k16EchoIntensity,
        static_cast<std::uint16_t>((echo << k16EchoShift) | (point.intensity & k16IntensityMask)));
    put_int32(record + k16X, x);
    put_int32(record + k16Y, y);
    put_int32(record + k16Z, z);
    size = kRecordSize16;
  }
  if (has_time_) {
    const double units = point.gps_time / kTimeUnit + 0.5;
    // Negative or huge times have no word: they are stored as 0 or the largest word.
    const std::uint32_t word = !(units > 0)            ? 0u
                               : units >= 4294967295.0 ? 0xFFFFFFFFu
                                                       : static_cast<std::uint32_t>(units);
    std::memcpy(record + size, &word, 4);
    size += kTimeWordSize;
  }
  if (has_color_) {
    record[size] = static_cast<std::uint8_t>(point.rgb[0] >> 8);
    record[size + 1] = static_cast<std::uint8_t>(point.rgb[1] >> 8);
    record[size + 2] = static_cast<std::uint8_t>(point.rgb[2] >> 8);
    record[size + 3] = 0;
    size += kColorWordSize;
  }
  points_done++;
  if (!stream_->write_bytes(record, static_cast<std::size_t>(size))) {
    report_stream_failure();
    return false;
  }
  return true;
}

bool LASwriterBIN::write_count(std::uint32_t count) {
  ByteStreamOut& out = *stream_;
  if (!out.can_seek()) {
    std::fprintf(stderr,
                 "ERROR: stream not seekable. cannot update header from %" PRId64 " to %" PRId64
                 " points.\n",
                 points_total, points_done);
    return false;
  }
  if (!out.seek_to(header_start_ + kOffsetPointCount) || !out.write32_le(&count) ||
      !out.seek_to_end()) {
    report_stream_failure();
    return false;
  }
  return true;
}

bool LASwriterBIN::update_header(const LASheader* header, bool from_tally, bool) {
  if (stream_ == nullptr || failed_) return false;
  std::uint32_t count;
  if (from_tally) {
    count = static_cast<std::uint32_t>(inventory.number_of_point_records & 0xFFFFFFFF);
  } else if (header != nullptr) {
    count = header->number_of_point_records;
  } else {
    return false;
  }
  if (!write_count(count)) return false;
  points_total = count;
  return true;
}

std::int64_t LASwriterBIN::close_writer(bool fix_count) {
  if (stream_ == nullptr) return 0;
  bool ok = !failed_;
  if (ok && fix_count && points_done != points_total) {
    ok = write_count(static_cast<std::uint32_t>(points_done & 0xFFFFFFFF));
  }
  const std::int64_t bytes = stream_->position() - header_start_;
  ok = format_support::finish_output(*stream_, file_, file_name_, ok) && ok;
  stream_ = nullptr;
  owned_stream_.reset();
  points_total = points_done;
  points_done = 0;
  if (!ok) {
    failed_ = true;
    return 0;
  }
  return bytes;
}

void LASwriterBIN::report_stream_failure() {
  failed_ = true;
  format_support::report_write_failure(file_name_);
}
