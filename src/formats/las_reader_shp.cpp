#include "formats/las_reader_shp.hpp"

#include <cinttypes>
#include <cstring>

#include "formats/format_support.hpp"
#include "formats/shp_layout.hpp"
#include "stream/bytestream_in_file.hpp"

using namespace shp_layout;

namespace {

std::int32_t int32_le(const std::uint8_t* bytes) {
  std::int32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}
std::int32_t int32_be(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[0]) << 24) |
                                   (static_cast<std::uint32_t>(bytes[1]) << 16) |
                                   (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3]);
}
double double_le(const std::uint8_t* bytes) {
  double value;
  std::memcpy(&value, bytes, 8);
  return value;
}

}  // namespace

LASreaderSHP::LASreaderSHP(const double* scale, const double* offset) {
  if (scale != nullptr) requested_scale_ = std::array<double, 3>{scale[0], scale[1], scale[2]};
  if (offset != nullptr) {
    requested_offset_ = std::array<double, 3>{offset[0], offset[1], offset[2]};
  }
}

LASreaderSHP::~LASreaderSHP() {
  close_reader(true);
}

bool LASreaderSHP::open_named(const char* file_name) {
  close_reader(true);
  file_ = std::fopen(file_name, "rb");
  if (file_ == nullptr) return false;
  owned_stream_ = std::make_unique<ByteStreamInFileLE>(file_);
  return true;
}

bool LASreaderSHP::open_file(const char* file_name) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  if (!open_named(file_name)) {
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return false;
  }
  format_support::set_creation_date(header, file_name);  // open_stream keeps the date
  return open_stream(owned_stream_.get());
}

bool LASreaderSHP::reopen_file(const char* file_name) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  if (!open_named(file_name) || !owned_stream_->seek_to(kHeaderSize)) {
    std::fprintf(stderr, "ERROR: cannot reopen file '%s'\n", file_name);
    return false;
  }
  stream_ = owned_stream_.get();
  file_size_ = format_support::stream_size(*stream_);
  points_done = 0;
  record_number_ = 0;
  vertex_count_ = next_vertex_ = 0;
  ended_ = false;
  read_failed_ = false;
  choose_read_routines();
  return true;
}

bool LASreaderSHP::open_stream(ByteStreamIn* stream) {
  // A reader whose open failed delivers nothing.
  if (open_header(stream)) return true;
  close_reader(true);
  return false;
}

bool LASreaderSHP::open_header(ByteStreamIn* stream) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamIn* pointer is zero\n");
    return false;
  }
  if (stream != owned_stream_.get()) close_reader(true);
  stream_ = stream;
  read_failed_ = false;
  format_support::reset_header_keeping_date(header);
  header.set_system_identifier(format_support::kSystemBanner);
  char software[32];
  std::snprintf(software, sizeof(software), "via LASreaderSHP (%d)",
                format_support::kFormatsVersion);
  header.set_generating_software(software);
  header.point_data_format = 0;
  header.point_data_record_length = 20;

  std::uint8_t bytes[kHeaderSize];
  try {
    stream->read_bytes(bytes, kHeaderSize);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: shapefile header cut short: it has 100 bytes\n");
    return false;
  }
  const std::int32_t code = int32_be(bytes + kOffsetFileCode);
  if (code != kFileCode) {
    std::fprintf(stderr, "ERROR: wrong shapefile code %d != 9994\n", code);
    return false;
  }
  const std::int64_t file_length_words = int32_be(bytes + kOffsetFileLength);
  const std::int32_t version = int32_le(bytes + kOffsetVersion);
  if (version != kVersion) {
    std::fprintf(stderr, "ERROR: wrong shapefile version %d != 1000\n", version);
    return false;
  }
  shape_type_ = int32_le(bytes + kOffsetShapeType);
  if (!is_point_type(shape_type_)) {
    std::fprintf(stderr, "ERROR: wrong shape type %d != 1,11,21,8,18,28\n", shape_type_);
    std::fprintf(stderr,
                 "       shapes of type %s are no points: only Point, MultiPoint and their Z "
                 "and M forms are read\n",
                 shape_type_name(shape_type_));
    return false;
  }
  header.min_x = double_le(bytes + kOffsetMinX);
  header.min_y = double_le(bytes + kOffsetMinY);
  header.max_x = double_le(bytes + kOffsetMaxX);
  header.max_y = double_le(bytes + kOffsetMaxY);
  header.min_z = double_le(bytes + kOffsetMinZ);
  header.max_z = double_le(bytes + kOffsetMaxZ);

  // The estimate comes from the file length the header claims, but never beyond the bytes
  // the file holds.
  file_size_ = format_support::stream_size(*stream);
  std::int64_t words = file_length_words;
  if (file_size_ >= 0 && (words < 0 || words * 2 > file_size_)) {
    std::fprintf(
        stderr, "WARNING: shapefile header claims %" PRId64 " bytes but the file has %" PRId64 "\n",
        words * 2, file_size_);
    words = file_size_ / 2;
  }
  std::int64_t estimate = 0;
  for (const PointEstimate& row : kEstimates) {
    if (row.type == shape_type_ && words > row.fixed_words) {
      estimate = (words - row.fixed_words) / row.words_per_point;
    }
  }
  header.number_of_point_records =
      estimate <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(estimate) : 0xFFFFFFFFu;
  header.number_of_points_by_return[0] = header.number_of_point_records;
  points_total = estimate;
  points_done = 0;

  format_support::choose_quantization(header, requested_scale_ ? requested_scale_->data() : nullptr,
                                      requested_offset_ ? requested_offset_->data() : nullptr);
  if (!point.init_for_point_type(&header, 0, 20, &header)) return false;
  record_number_ = 0;
  vertex_count_ = next_vertex_ = 0;
  ended_ = false;
  choose_read_routines();
  return true;
}

void LASreaderSHP::reach_end() {
  ended_ = true;
  points_total = points_done;
  const std::uint32_t count =
      points_done <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(points_done) : 0xFFFFFFFFu;
  header.number_of_point_records = count;
  header.number_of_points_by_return[0] = count;
}

bool LASreaderSHP::read_shape_record() {
  ByteStreamIn& in = *stream_;
  const std::int64_t record_start = in.position();
  std::uint8_t head[kRecordHeaderSize + 4];
  bool started = false;
  try {
    in.read_bytes(head, 1);
    started = true;
    in.read_bytes(head + 1, sizeof(head) - 1);
  } catch (const ByteStreamEndOfData&) {
    if (started) {
      std::fprintf(stderr, "WARNING: shapefile record %u cut short. ending there.\n",
                   record_number_ + 1);
    }
    return false;
  }
  record_number_++;
  const std::int64_t content_bytes = 2 * static_cast<std::int64_t>(int32_be(head + 4));
  std::int32_t type = int32_le(head + kRecordHeaderSize);
  const std::int64_t record_end = record_start + kRecordHeaderSize + content_bytes;
  const bool end_known = content_bytes >= 4 && (file_size_ < 0 || record_end <= file_size_);
  vertex_count_ = next_vertex_ = 0;
  // A null shape holds nothing but its type.
  if (type == kNullShape) return !end_known || in.seek_to(record_end);
  if (type != shape_type_) {
    std::fprintf(stderr, "WARNING: wrong shape type %d != %d in record\n", type, shape_type_);
    // Another point shape is read by its own layout; anything else is passed over when the
    // record says where it ends, else read as the file's type.
    if (!is_point_type(type)) {
      if (end_known) return in.seek_to(record_end);
      type = shape_type_;
    }
  }
  try {
    std::int64_t count = 1;
    if (is_multi(type)) {
      std::uint8_t box_and_count[kBoxSize + 4];
      in.read_bytes(box_and_count, sizeof(box_and_count));
      count = int32_le(box_and_count + kBoxSize);
      // 16 bytes of x and y per point must still be in the file.
      const std::int64_t left = file_size_ >= 0 ? file_size_ - in.position() : INT64_MAX;
      if (count < 0 || count > left / 16) {
        std::fprintf(stderr,
                     "ERROR: shapefile record %u claims %" PRId64
                     " points but the file has only %" PRId64 " bytes left\n",
                     record_number_, count, left);
        read_failed_ = true;
        return false;
      }
    }
    const std::size_t needed = static_cast<std::size_t>(count) * 3;
    if (vertices_.size() < needed) vertices_.resize(needed);
    for (std::int64_t i = 0; i < count; i++) {
      std::uint8_t pair[16];
      in.read_bytes(pair, 16);
      vertices_[3 * i] = format_support::round_to_int32((double_le(pair) - header.x_offset) /
                                                        header.x_scale_factor);
      vertices_[3 * i + 1] = format_support::round_to_int32(
          (double_le(pair + 8) - header.y_offset) / header.y_scale_factor);
      vertices_[3 * i + 2] = 0;
    }
    if (has_z(type)) {
      if (is_multi(type)) in.skip(kRangeSize);
      for (std::int64_t i = 0; i < count; i++) {
        std::uint8_t z[8];
        in.read_bytes(z, 8);
        vertices_[3 * i + 2] = format_support::round_to_int32((double_le(z) - header.z_offset) /
                                                              header.z_scale_factor);
      }
    }
    vertex_count_ = count;
    // The m values (optional in Z records) are passed over: to the end the record claims
    // when that is plausible, else by the layout.
    if (end_known && record_end >= in.position()) {
      if (!in.seek_to(record_end)) return true;
    } else if (has_m(type)) {
      in.skip(is_multi(type) ? kRangeSize + 8 * count : 8);
    }
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "WARNING: shapefile record %u cut short. ending there.\n", record_number_);
    vertex_count_ = 0;
    return false;
  }
  return true;
}

bool LASreaderSHP::read_raw_point() {
  if (stream_ == nullptr || ended_) return false;
  while (next_vertex_ >= vertex_count_) {
    if (!read_shape_record()) {
      reach_end();
      return false;
    }
  }
  const std::int32_t* vertex = vertices_.data() + 3 * next_vertex_;
  // The format has no class or flags: a mark set on the previous point must not stay.
  point.classification = 0;
  point.synthetic_flag = 0;
  point.keypoint_flag = 0;
  point.withheld_flag = 0;
  point.X = vertex[0];
  point.Y = vertex[1];
  point.Z = vertex[2];
  next_vertex_++;
  points_done++;
  return true;
}

bool LASreaderSHP::seek_point(std::int64_t index) {
  if (stream_ == nullptr || index != 0 || !stream_->seek_to(kHeaderSize)) return false;
  points_done = 0;
  record_number_ = 0;
  vertex_count_ = next_vertex_ = 0;
  ended_ = false;
  return true;
}

void LASreaderSHP::close_reader(bool close_stream) {
  if (!close_stream) return;
  stream_ = nullptr;
  owned_stream_.reset();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
