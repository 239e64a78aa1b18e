#include "formats/las_reader_shp.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
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
  file_name_ = file_name;
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
  file_name_ = file_name;
  file_size_ = format_support::stream_size(*stream_);
  rewind_counters();
  choose_read_routines();
  return true;
}

void LASreaderSHP::rewind_counters() {
  points_done = 0;
  record_number_ = 0;
  vertex_count_ = next_vertex_ = 0;
  ended_ = false;
  cut_in_record_ = 0;
  unstorable_ = 0;
  read_failed_ = false;
  ended_cut_ = false;
}

bool LASreaderSHP::open_stream(ByteStreamIn* stream) {
  if (stream != owned_stream_.get()) file_name_.clear();
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
  rewind_counters();
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
  announced_bytes_ = 2 * file_length_words;
  file_size_ = format_support::stream_size(*stream);

  std::int64_t count = 0;
  if (file_size_ >= 0) {
    // The records themselves say how many vertices there are and where they lie: a header
    // box that is wrong would otherwise choose a quantization that cannot hold them.
    if (!survey_records()) return false;
    count = points_total;
  } else {
    // A stream read once: the count is estimated from the length the header gives, and the
    // box is the header's.
    for (const PointEstimate& row : kEstimates) {
      if (row.type == shape_type_ && file_length_words > row.fixed_words) {
        count = (file_length_words - row.fixed_words) / row.words_per_point;
      }
    }
    points_total = count;
  }
  header.number_of_point_records =
      count <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(count) : 0xFFFFFFFFu;
  header.number_of_points_by_return[0] = header.number_of_point_records;
  points_done = 0;

  format_support::choose_quantization(header, requested_scale_ ? requested_scale_->data() : nullptr,
                                      requested_offset_ ? requested_offset_->data() : nullptr);
  if (file_size_ >= 0 && count > 0 && !box_fits()) return false;
  if (!point.init_for_point_type(&header, 0, 20, &header)) return false;
  choose_read_routines();
  return true;
}

bool LASreaderSHP::survey_records() {
  quiet_ = true;
  std::int64_t count = 0;
  double low[3] = {0, 0, 0};
  double high[3] = {0, 0, 0};
  while (read_shape_record()) {
    for (std::int64_t i = 0; i < vertex_count_; i++) {
      const double* c = coordinates_.data() + 3 * i;
      // A vertex that is not finite is never delivered: it has no place in the box.
      if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2])) continue;
      for (int k = 0; k < 3; k++) {
        if (count == 0 || c[k] < low[k]) low[k] = c[k];
        if (count == 0 || c[k] > high[k]) high[k] = c[k];
      }
      count++;
    }
  }
  quiet_ = false;
  // Without a vertex to deliver the box is empty at 0, whatever the header said.
  header.min_x = low[0], header.min_y = low[1], header.min_z = low[2];
  header.max_x = high[0], header.max_y = high[1], header.max_z = high[2];
  points_total = count;
  rewind_counters();
  vertex_count_ = 0;
  if (!stream_->seek_to(kHeaderSize)) {
    std::fprintf(stderr, "ERROR: cannot seek back to the first shapefile record\n");
    return false;
  }
  return true;
}

bool LASreaderSHP::box_fits() const {
  struct Axis {
    char name;
    double min, max, scale, offset;
  };
  const Axis axes[3] = {
      {'x', header.min_x, header.max_x, header.x_scale_factor, header.x_offset},
      {'y', header.min_y, header.max_y, header.y_scale_factor, header.y_offset},
      {'z', header.min_z, header.max_z, header.z_scale_factor, header.z_offset},
  };
  for (const Axis& axis : axes) {
    const double low = (axis.min - axis.offset) / axis.scale;
    const double high = (axis.max - axis.offset) / axis.scale;
    if (low > -2147483648.5 && low < 2147483647.5 && high > -2147483648.5 && high < 2147483647.5)
      continue;
    std::fprintf(stderr,
                 "ERROR: the %c coordinates of '%s' run from %.17g to %.17g: more than 32-bit "
                 "integers hold at scale %g and offset %.17g. choose them with '-rescale' and "
                 "'-reoffset'\n",
                 axis.name, file_name_.empty() ? "the shapefile" : file_name_.c_str(), axis.min,
                 axis.max, axis.scale, axis.offset);
    return false;
  }
  return true;
}

void LASreaderSHP::reach_end() {
  if (ended_) return;
  ended_ = true;
  const char* name = file_name_.empty() ? "the shapefile" : file_name_.c_str();
  // A file that stops before the length its header gives, or inside a record, lost what
  // followed.
  const bool short_of_header = file_size_ >= 0 && announced_bytes_ > file_size_;
  if (cut_in_record_ != 0 || short_of_header) {
    ended_cut_ = true;
    if (warn_when_cut) {
      if (cut_in_record_ != 0) {
        std::fprintf(stderr,
                     "WARNING: '%s' ends inside shapefile record %u: end-of-file after %" PRId64
                     " points\n",
                     name, cut_in_record_, points_done);
      } else {
        std::fprintf(stderr,
                     "WARNING: '%s' ends after %" PRId64 " of the %" PRId64
                     " bytes its header announces: end-of-file after %" PRId64 " points\n",
                     name, file_size_, announced_bytes_, points_done);
      }
    }
  }
  if (unstorable_ > 0) {
    std::fprintf(stderr,
                 "ERROR: %" PRId64
                 " points of '%s' have coordinates that cannot be stored (not finite, or beyond "
                 "32-bit integers at scale %g %g %g and offset %g %g %g); the first, in record "
                 "%u, is %g %g %g\n",
                 unstorable_, name, header.x_scale_factor, header.y_scale_factor,
                 header.z_scale_factor, header.x_offset, header.y_offset, header.z_offset,
                 unstorable_record_, unstorable_example_[0], unstorable_example_[1],
                 unstorable_example_[2]);
    read_failed_ = true;
  }
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
  vertex_count_ = next_vertex_ = 0;
  try {
    in.read_bytes(head, 1);
    started = true;
    in.read_bytes(head + 1, sizeof(head) - 1);
  } catch (const ByteStreamEndOfData&) {
    if (started) cut_in_record_ = record_number_ + 1;
    return false;
  }
  record_number_++;
  const std::int64_t content_bytes = 2 * static_cast<std::int64_t>(int32_be(head + 4));
  std::int32_t type = int32_le(head + kRecordHeaderSize);
  const std::int64_t record_end = record_start + kRecordHeaderSize + content_bytes;
  const bool runs_past_end = file_size_ >= 0 && record_end > file_size_;
  const bool end_known = content_bytes >= 4 && !runs_past_end;
  // A null shape holds nothing but its type.
  if (type == kNullShape) return !end_known || in.seek_to(record_end);
  if (type != shape_type_) {
    if (!quiet_) {
      std::fprintf(stderr, "WARNING: wrong shape type %d != %d in record\n", type, shape_type_);
    }
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
        // A record whose own length holds its count was cut with the file; one whose count
        // is beyond its length lies.
        const std::int64_t layout_bytes = 4 + kBoxSize + 4 + 16 * count;
        if (count >= 0 && runs_past_end && layout_bytes <= content_bytes) {
          cut_in_record_ = record_number_;
          return false;
        }
        if (!quiet_) {
          std::fprintf(stderr,
                       "ERROR: shapefile record %u claims %" PRId64
                       " points but the file has only %" PRId64 " bytes left\n",
                       record_number_, count, left);
        }
        read_failed_ = true;
        return false;
      }
    }
    for (std::int64_t i = 0; i < count; i++) {
      std::uint8_t pair[16];
      in.read_bytes(pair, 16);
      // The buffer grows with the vertices read, never by the count alone: a stream that
      // cannot be measured could claim any.
      const std::size_t at = 3 * static_cast<std::size_t>(i);
      if (coordinates_.size() < at + 3) {
        coordinates_.resize(std::max(at + 3, 2 * coordinates_.size()));
      }
      coordinates_[3 * i] = double_le(pair);
      coordinates_[3 * i + 1] = double_le(pair + 8);
      coordinates_[3 * i + 2] = 0.0;
    }
    if (has_z(type)) {
      if (is_multi(type)) in.skip(kRangeSize);
      for (std::int64_t i = 0; i < count; i++) {
        std::uint8_t z[8];
        in.read_bytes(z, 8);
        coordinates_[3 * i + 2] = double_le(z);
      }
    }
    vertex_count_ = count;
    // The m values (optional in Z records) are passed over: to the end the record claims
    // when that is plausible, else by the layout. A file that ends among them has lost no
    // vertex of this record, but is cut all the same.
    if (end_known && record_end >= in.position()) {
      if (!in.seek_to(record_end)) return true;
    } else if (has_m(type)) {
      const std::int64_t m_bytes = is_multi(type) ? kRangeSize + 8 * count : 8;
      if (file_size_ >= 0 && in.position() + m_bytes > file_size_) {
        cut_in_record_ = record_number_;
      }
      in.skip(m_bytes);
    }
  } catch (const ByteStreamEndOfData&) {
    cut_in_record_ = record_number_;
    vertex_count_ = 0;
    return false;
  }
  return true;
}

bool LASreaderSHP::read_raw_point() {
  if (stream_ == nullptr || ended_) return false;
  for (;;) {
    while (next_vertex_ >= vertex_count_) {
      // Nothing after a record the file ends in is another record, whatever a stream that
      // cannot skip past its end would read there.
      if (cut_in_record_ != 0 || !read_shape_record()) {
        reach_end();
        return false;
      }
    }
    const double* c = coordinates_.data() + 3 * next_vertex_;
    next_vertex_++;
    const double x = (c[0] - header.x_offset) / header.x_scale_factor;
    const double y = (c[1] - header.y_offset) / header.y_scale_factor;
    const double z = (c[2] - header.z_offset) / header.z_scale_factor;
    // Also false for NaN.
    const bool storable = x > -2147483648.5 && x < 2147483647.5 && y > -2147483648.5 &&
                          y < 2147483647.5 && z > -2147483648.5 && z < 2147483647.5;
    if (!storable) {
      if (unstorable_++ == 0) {
        unstorable_record_ = record_number_;
        unstorable_example_ = {c[0], c[1], c[2]};
      }
      continue;
    }
    // The format has no class or flags: a mark set on the previous point must not stay.
    point.classification = 0;
    point.synthetic_flag = 0;
    point.keypoint_flag = 0;
    point.withheld_flag = 0;
    point.X = format_support::round_to_int32(x);
    point.Y = format_support::round_to_int32(y);
    point.Z = format_support::round_to_int32(z);
    points_done++;
    return true;
  }
}

bool LASreaderSHP::seek_point(std::int64_t index) {
  if (stream_ == nullptr || index != 0 || !stream_->seek_to(kHeaderSize)) return false;
  rewind_counters();
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
