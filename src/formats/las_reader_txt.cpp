#include "formats/las_reader_txt.hpp"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "formats/text_format.hpp"
#include "formats/text_numbers.hpp"
#include "model/header_layout.hpp"

namespace {

constexpr char kSystemIdentifier[] = "Brindlex";

// Record sizes of the point types a text file can become.
std::uint16_t record_size_of(std::uint8_t point_type) {
  switch (point_type) {
    case 0:
      return 20;
    case 1:
      return 28;
    case 2:
      return 26;
    case 3:
      return 34;
    case 6:
      return 30;
    case 7:
      return 36;
    case 8:
      return 38;
    default:
      return 0;
  }
}

std::int32_t size_of_attribute_type(std::int32_t data_type) {
  switch (data_type) {
    case 1:
    case 2:
      return 1;
    case 3:
    case 4:
      return 2;
    case 5:
    case 6:
    case 9:
      return 4;
    case 7:
    case 8:
    case 10:
      return 8;
    default:
      return 0;
  }
}

// Day of year and year of a file's time: the days before its month plus its day, one more
// in years divisible by 4 after February.
void creation_day_and_year(const std::string& file_name, std::uint16_t& day, std::uint16_t& year) {
  day = 1;
  year = 2019;
  struct stat info {};
  if (file_name.empty() || ::stat(file_name.c_str(), &info) != 0) return;
  std::tm parts{};
  const std::time_t when = info.st_mtime;
  if (gmtime_r(&when, &parts) == nullptr) return;
  static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int full_year = parts.tm_year + 1900;
  int day_of_year = kDaysBefore[parts.tm_mon] + parts.tm_mday;
  if (full_year % 4 == 0 && parts.tm_mon > 1) day_of_year++;
  day = static_cast<std::uint16_t>(day_of_year);
  year = static_cast<std::uint16_t>(full_year);
}

double round_half_away(double value) {
  return value >= 0.0 ? std::floor(value + 0.5) : std::ceil(value - 0.5);
}

}  // namespace

LASreaderTXT::LASreaderTXT() = default;

LASreaderTXT::~LASreaderTXT() {
  close_reader(true);
}

void LASreaderTXT::set_scale_factor(const double* scale_factor) {
  requested_scale_ = scale_factor == nullptr
                         ? std::array<double, 3>{0.0, 0.0, 0.0}
                         : std::array<double, 3>{scale_factor[0], scale_factor[1], scale_factor[2]};
}

void LASreaderTXT::set_offset(const double* offset) {
  if (offset == nullptr) {
    requested_offset_.reset();
  } else {
    requested_offset_ = std::array<double, 3>{offset[0], offset[1], offset[2]};
  }
}

void LASreaderTXT::set_pts(bool pts) {
  pts_ = pts;
  if (!pts) return;
  ptx_ = false;
  translate_intensity_ = text_format::kIntensityTranslatePTS;
  scale_intensity_ = 1.0f;
}

void LASreaderTXT::set_ptx(bool ptx) {
  ptx_ = ptx;
  if (!ptx) return;
  pts_ = false;
  translate_intensity_ = 0.0f;
  scale_intensity_ = text_format::kIntensityScalePTX;
}

bool LASreaderTXT::add_attribute(std::int32_t data_type, const char* name, const char* description,
                                 double scale, double offset, double pre_scale, double pre_offset,
                                 double no_data) {
  if (attributes_.size() >= static_cast<std::size_t>(text_format::kMaxAttributes)) {
    std::fprintf(stderr, "ERROR: cannot add more than %d attributes\n",
                 text_format::kMaxAttributes);
    return false;
  }
  attributes_.push_back(Attribute{data_type, name ? name : "", description ? description : "",
                                  scale, offset, pre_scale, pre_offset, no_data});
  return true;
}

bool LASreaderTXT::open(const char* file_name, std::uint8_t point_type, const char* parse_string,
                        std::uint32_t skip_lines, bool populate_header) {
  close_reader(true);
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  if (!input_.open(file_name)) return false;
  file_name_ = file_name;
  descriptor_ = -1;
  return start(point_type, parse_string, skip_lines, populate_header);
}

bool LASreaderTXT::open_descriptor(int descriptor, const char* file_name, std::uint8_t point_type,
                                   const char* parse_string, std::uint32_t skip_lines,
                                   bool populate_header) {
  close_reader(true);
  if (!input_.open_descriptor(descriptor)) return false;
  file_name_ = file_name ? file_name : "";
  descriptor_ = descriptor;
  return start(point_type, parse_string, skip_lines, populate_header);
}

bool LASreaderTXT::prepare_point(std::uint8_t requested_type) {
  std::uint8_t point_type = requested_type;
  if (point_type == 0) {
    point_type = point_type_for(parse_string_);
  } else if (record_size_of(point_type) == 0) {
    std::fprintf(stderr, "ERROR: point type %d is not supported for text input\n", point_type);
    return false;
  }
  header = LASheader();
  header.set_system_identifier(kSystemIdentifier);
  char software[32];
  std::snprintf(software, sizeof(software), "via LASreaderTXT (%d)", text_format::kReaderVersion);
  header.set_generating_software(software);
  creation_day_and_year(file_name_, header.file_creation_day, header.file_creation_year);
  const bool extended = point_type >= 6;
  header.version_minor = extended ? 4 : 2;
  header.header_size = extended ? kHeaderSize14 : kHeaderSize10;
  header.offset_to_point_data = header.header_size;
  header.point_data_format = point_type;
  std::int32_t record_length = record_size_of(point_type);
  for (Attribute& attribute : attributes_) {
    LASattributeDescriptor descriptor(static_cast<std::uint8_t>(attribute.data_type),
                                      attribute.name, attribute.description);
    if (attribute.scale != 1.0) descriptor.set_scale(attribute.scale);
    if (attribute.offset != 0.0) descriptor.set_offset(attribute.offset);
    if (attribute.no_data != 2e+307) descriptor.set_no_data(attribute.no_data);
    attribute.start = record_length - record_size_of(point_type);
    const std::int32_t size = size_of_attribute_type(attribute.data_type);
    if (size == 0 || header.add_attribute(descriptor) < 0) {
      std::fprintf(stderr, "ERROR: attribute '%s' has the unknown data type %d\n",
                   attribute.name.c_str(), attribute.data_type);
      return false;
    }
    record_length += size;
  }
  header.point_data_record_length = static_cast<std::uint16_t>(record_length);
  point.reset();
  return point.init_for_point_type(&header, point_type, header.point_data_record_length, &header);
}

bool LASreaderTXT::start(std::uint8_t point_type, const char* parse_string,
                         std::uint32_t skip_lines, bool populate_header) {
  read_failed_ = false;
  populated_ = false;
  holding_first_ = false;
  end_reported_ = false;
  header_count_ = -1;
  counted_ = 0;
  unfit_ = 0;
  not_finite_ = 0;
  skipped_ = 0;
  warnings_.reset();
  no_points_ = false;
  ptx_lines_left_ = kNoScans;
  ptx_scans_counted_ = 0;
  points_done = 0;
  points_total = 0;
  box_started_ = false;
  std::memset(by_return_, 0, sizeof(by_return_));
  for (Attribute& attribute : attributes_)
    attribute.seen = false;
  parse_string_ = parse_string != nullptr ? parse_string : "xyz";
  skip_lines_ = skip_lines;
  if (!compile_columns(parse_string_, columns_)) return false;
  if (!prepare_point(point_type)) return false;

  if (populate_header && !file_name_.empty()) {
    if (!populate_pass()) return false;
  } else if (!read_header_lines(true, true)) {
    return false;
  }
  if (populated_ && !read_header_lines(true, false)) return false;
  if (!attributes_.empty()) header.refresh_extra_bytes_vlr();
  if (!first_point()) {
    // PTX scans that hold no points at all make a valid file of none.
    const bool no_points = ptx_ && ptx_lines_left_ != kNoScans && skipped_ == 0;
    no_points_ = no_points;
    if (read_failed_ || !no_points) {
      warnings_.finish();
      if (!read_failed_) {
        std::fprintf(stderr, "ERROR: could not parse any lines with '%s'\n", parse_string_.c_str());
      }
      return false;
    }
  }
  points_total = header_count_ > 0 ? header_count_ : 0;
  choose_read_routines();
  return true;
}

bool LASreaderTXT::skip_lines(std::uint32_t count) {
  char* line = nullptr;
  std::size_t length = 0;
  for (std::uint32_t i = 0; i < count; i++) {
    if (!input_.next_line(line, length)) return true;
  }
  return true;
}

// The header lines of the file: the lines to skip or, without those, the lines of the PTS
// or PTX dialect. `store_records` keeps the dialect's record in the header; `take_counts`
// lets its point count stand for the header's.
bool LASreaderTXT::read_header_lines(bool store_records, bool take_counts) {
  ptx_lines_left_ = kNoScans;
  if (skip_lines_ > 0) return skip_lines(skip_lines_);
  if (pts_) return read_pts_header(store_records, take_counts, false);
  if (ptx_) return read_ptx_header(store_records, take_counts, false);
  return true;
}

void LASreaderTXT::set_header_counts(std::uint64_t count, const std::int64_t* by_return,
                                     bool extended) {
  if (!extended) {
    header.number_of_point_records = count <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(count) : 0;
    for (int r = 0; r < kLegacyReturnCount; r++) {
      header.number_of_points_by_return[r] =
          by_return ? static_cast<std::uint32_t>(by_return[r + 1]) : 0;
    }
    header.extended_number_of_point_records = count;
    return;
  }
  header.number_of_point_records = 0;
  for (std::uint32_t& n : header.number_of_points_by_return)
    n = 0;
  header.extended_number_of_point_records = count;
  for (int r = 0; r < kExtendedReturnCount; r++) {
    header.extended_number_of_points_by_return[r] =
        by_return ? static_cast<std::uint64_t>(by_return[r + 1]) : 0;
  }
}

// The first pass: counts, bounding box, return histogram and attribute ranges from every
// line, read with only the columns that decide them.
bool LASreaderTXT::populate_pass() {
  std::vector<Column> counting;
  for (const Column& column : columns_) {
    const bool kept = column.letter == 'x' || column.letter == 'y' || column.letter == 'z' ||
                      column.letter == 'r' || (column.letter == '#' && column.attribute == 0);
    counting.push_back(kept ? column : Column{'s', -1});
  }
  while (!counting.empty() && counting.back().letter == 's')
    counting.pop_back();
  std::string shown;
  for (const Column& column : counting) {
    shown.push_back(column.letter == '#' ? '0' : column.letter);
  }
  ptx_lines_left_ = kNoScans;
  if (!skip_lines(skip_lines_)) return false;
  if (pts_ && !read_pts_header(false, false, true)) return false;
  if (ptx_ && !read_ptx_header(false, false, true)) return false;

  const bool extended = header.point_data_format >= 6;
  std::int64_t count = 0;
  std::int64_t by_return[16] = {};
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  track_attribute_range_ = true;
  // The reading pass that follows warns about the lines, with every column: this one only
  // keeps the first line that gives no point, for a file that gives none at all.
  warnings_.mute(true);
  std::string first_skipped;
  std::int64_t skipped = 0;
  char* line = nullptr;
  std::size_t length = 0;
  while (next_point_line(line, length)) {
    if (take_line(line, length, counting) != LineResult::kPoint) {
      if (skipped++ == 0) {
        first_skipped = shown_text(std::string_view(line, length), text_format::kShownLineLimit);
      }
      continue;
    }
    for (int k = 0; k < 3; k++) {
      if (count == 0 || coordinates_[k] < min[k]) min[k] = coordinates_[k];
      if (count == 0 || coordinates_[k] > max[k]) max[k] = coordinates_[k];
    }
    by_return[extended ? point.extended_return_number : point.return_number]++;
    count++;
  }
  track_attribute_range_ = false;
  warnings_.mute(false);
  if (input_.failed()) read_failed_ = true;
  if (read_failed_) return false;
  std::fprintf(stderr, "counted %" PRId64 " points in populate pass.\n", count);
  // PTX scans that hold no points at all make a valid file of none.
  if (count == 0 && !(ptx_ && ptx_lines_left_ != kNoScans && skipped == 0)) {
    if (skipped > 0) {
      std::fprintf(stderr, "WARNING: cannot parse '%s' with '%s'. skipping ...\n",
                   first_skipped.c_str(), shown.c_str());
    }
    std::fprintf(stderr, "ERROR: could not parse any lines with '%s'\n", parse_string_.c_str());
    return false;
  }
  bool high_returns = false;
  for (int r = 6; r < 16; r++)
    high_returns = high_returns || by_return[r] != 0;
  const bool legacy = !extended && count <= 0xFFFFFFFF && !high_returns;
  header.version_minor = legacy ? 2 : 4;
  if (!legacy && header.header_size < kHeaderSize14) {
    const std::uint32_t grown = kHeaderSize14 - header.header_size;
    header.header_size = kHeaderSize14;
    header.offset_to_point_data += grown;
  }
  set_header_counts(static_cast<std::uint64_t>(count), by_return, !legacy);
  header_count_ = count;
  header.min_x = min[0], header.min_y = min[1], header.min_z = min[2];
  header.max_x = max[0], header.max_y = max[1], header.max_z = max[2];
  choose_scale_and_offset(min[0], min[1], min[2], max[0], max[1], max[2]);
  snap_bounding_box();
  for (std::size_t i = 0; i < attributes_.size(); i++) {
    const Attribute& attribute = attributes_[i];
    if (!attribute.seen) continue;
    header.descriptor(static_cast<int>(i)).set_min(attribute.min);
    header.descriptor(static_cast<int>(i)).set_max(attribute.max);
  }

  input_.close();
  if (!input_.open(file_name_.c_str())) {
    std::fprintf(stderr, "ERROR: could not open '%s' for second pass\n", file_name_.c_str());
    return false;
  }
  populated_ = true;
  return true;
}

void LASreaderTXT::choose_scale_and_offset(double min_x, double min_y, double min_z, double max_x,
                                           double max_y, double max_z) {
  const bool geographic =
      min_x > -text_format::kGeographicLimit && min_y > -text_format::kGeographicLimit &&
      max_x < text_format::kGeographicLimit && max_y < text_format::kGeographicLimit;
  const double chosen[3] = {
      geographic ? text_format::kGeographicScale : text_format::kProjectedScale,
      geographic ? text_format::kGeographicScale : text_format::kProjectedScale,
      text_format::kHeightScale};
  double* scale[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  double* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  const double min[3] = {min_x, min_y, min_z};
  const double max[3] = {max_x, max_y, max_z};
  for (int k = 0; k < 3; k++) {
    *scale[k] = requested_scale_[k] != 0.0 ? requested_scale_[k] : chosen[k];
    if (requested_offset_) {
      *offset[k] = (*requested_offset_)[k];
      continue;
    }
    const double limit = text_format::kOffsetLimit;
    double value = 0.0;
    if (min[k] > -limit && min[k] < limit && max[k] > -limit && max[k] < limit) {
      const double units = text_format::kOffsetUnits;
      value = std::trunc((min[k] + max[k]) / *scale[k] / (2.0 * units)) * units * *scale[k];
      if (!std::isfinite(value)) value = 0.0;
    }
    *offset[k] = value;
  }
}

void LASreaderTXT::snap_bounding_box() {
  struct Bound {
    double* value;
    const char* name;
    char axis;
    double scale, offset;
  };
  const Bound bounds[] = {
      {&header.min_x, "min_x", 'x', header.x_scale_factor, header.x_offset},
      {&header.max_x, "max_x", 'x', header.x_scale_factor, header.x_offset},
      {&header.min_y, "min_y", 'y', header.y_scale_factor, header.y_offset},
      {&header.max_y, "max_y", 'y', header.y_scale_factor, header.y_offset},
      {&header.min_z, "min_z", 'z', header.z_scale_factor, header.z_offset},
      {&header.max_z, "max_z", 'z', header.z_scale_factor, header.z_offset},
  };
  for (const Bound& bound : bounds) {
    const double v = *bound.value;
    const double snapped =
        round_half_away((v - bound.offset) / bound.scale) * bound.scale + bound.offset;
    if ((v > 0.0 && snapped < 0.0) || (v < 0.0 && snapped > 0.0)) {
      std::fprintf(stderr, "WARNING: quantization sign flip for %s from %g to %g.\n", bound.name, v,
                   snapped);
      std::fprintf(stderr, "         set scale factor for %c coarser than %g with '-rescale'\n",
                   bound.axis, bound.scale);
      continue;
    }
    *bound.value = snapped;
  }
}

bool LASreaderTXT::quantize_point() {
  const double scale[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
  const double offset[3] = {header.x_offset, header.y_offset, header.z_offset};
  std::int32_t* stored[3] = {&point.X, &point.Y, &point.Z};
  for (int k = 0; k < 3; k++) {
    const double q = (coordinates_[k] - offset[k]) / scale[k];
    if (!(q > -2147483648.5 && q < 2147483647.5)) return false;
    *stored[k] = static_cast<std::int32_t>(coordinates_[k] >= offset[k]
                                               ? static_cast<std::int64_t>(q + 0.5)
                                               : static_cast<std::int64_t>(q - 0.5));
  }
  return true;
}

bool LASreaderTXT::next_parsed_line(bool quantize) {
  char* line = nullptr;
  std::size_t length = 0;
  while (next_point_line(line, length)) {
    const LineResult result = take_line(line, length, columns_);
    if (result == LineResult::kUnparsable) {
      warn_unparsable(line, length, parse_string_);
      skipped_++;
      continue;
    }
    if (result == LineResult::kNotFinite) {
      warn_not_finite(line, length);
      not_finite_++;
      skipped_++;
      continue;
    }
    if (quantize && !quantize_point()) {
      warnings_.warn(
          "WARNING: coordinates %g %g %g do not fit 32-bit integers at scale %g %g %g "
          "and offset %g %g %g. skipping ...\n",
          coordinates_[0], coordinates_[1], coordinates_[2], header.x_scale_factor,
          header.y_scale_factor, header.z_scale_factor, header.x_offset, header.y_offset,
          header.z_offset);
      unfit_++;
      skipped_++;
      continue;
    }
    return true;
  }
  if (input_.failed()) read_failed_ = true;
  return false;
}

// Parses the first point and holds it for the first read. Without a populate pass the box
// starts at it and the quantization is chosen from it.
bool LASreaderTXT::first_point() {
  track_attribute_range_ = !populated_;
  if (!populated_) {
    if (!next_parsed_line(false)) return false;
    choose_scale_and_offset(coordinates_[0], coordinates_[1], coordinates_[2], coordinates_[0],
                            coordinates_[1], coordinates_[2]);
    if (!quantize_point() && !next_parsed_line(true)) return false;
  } else if (!next_parsed_line(true)) {
    return false;
  }
  holding_first_ = true;
  return true;
}

void LASreaderTXT::count_point_into_header() {
  const double* c = coordinates_;
  if (!box_started_) {
    header.min_x = header.max_x = c[0];
    header.min_y = header.max_y = c[1];
    header.min_z = header.max_z = c[2];
    box_started_ = true;
  } else {
    if (c[0] < header.min_x) header.min_x = c[0];
    if (c[0] > header.max_x) header.max_x = c[0];
    if (c[1] < header.min_y) header.min_y = c[1];
    if (c[1] > header.max_y) header.max_y = c[1];
    if (c[2] < header.min_z) header.min_z = c[2];
    if (c[2] > header.max_z) header.max_z = c[2];
  }
  by_return_[point.extended_layout ? point.extended_return_number : point.return_number]++;
  counted_++;
}

void LASreaderTXT::finish_header_at_end() {
  if (populated_) return;
  set_header_counts(static_cast<std::uint64_t>(points_done), by_return_, header.version_minor >= 4);
  snap_bounding_box();
  for (std::size_t i = 0; i < attributes_.size(); i++) {
    const Attribute& attribute = attributes_[i];
    if (!attribute.seen) continue;
    header.descriptor(static_cast<int>(i)).set_min(attribute.min);
    header.descriptor(static_cast<int>(i)).set_max(attribute.max);
  }
  if (!attributes_.empty()) header.refresh_extra_bytes_vlr();
}

bool LASreaderTXT::read_raw_point() {
  if (holding_first_) {
    holding_first_ = false;
  } else if (!input_.is_open() || !next_parsed_line(true)) {
    if (!end_reported_) {
      end_reported_ = true;
      report_end_of_points();
    }
    return false;
  }
  points_done++;
  if (!populated_ && points_done > counted_) count_point_into_header();
  return true;
}

// What the first pass over the points says at their end (the warnings' summary, a count
// that does not match) and what every pass says: the points that could not be stored.
void LASreaderTXT::report_end_of_points() {
  const bool first_pass = !warnings_.muted();
  warnings_.finish();
  if (first_pass && warn_when_cut && header_count_ >= 0 && header_count_ != points_done) {
    std::fprintf(stderr, "WARNING: end-of-file after %" PRId64 " of %" PRId64 " points\n",
                 points_done, header_count_);
  }
  if (counted_ == points_done) finish_header_at_end();
  const char* name = file_name_.empty() ? "stdin" : file_name_.c_str();
  if (not_finite_ > 0) {
    std::fprintf(stderr,
                 "ERROR: %" PRId64
                 " points of '%s' have coordinates or a GPS time that are not finite numbers\n",
                 not_finite_, name);
    read_failed_ = true;
  }
  if (unfit_ > 0) {
    std::fprintf(stderr,
                 "ERROR: %" PRId64
                 " points of '%s' do not fit 32-bit integers at the scale "
                 "and offset in use. read it with '-populate' or choose them with "
                 "'-rescale' and '-reoffset'\n",
                 unfit_, name);
    read_failed_ = true;
  }
}

bool LASreaderTXT::seek_point(std::int64_t index) {
  if (index < 0) return false;
  if (index < points_done || (index == points_done && !holding_first_ && points_done == 0)) {
    // Backwards: from the first line again.
    if (!input_.rewind()) return false;
    if (!read_header_lines(false, false)) return false;
    points_done = 0;
    end_reported_ = false;
    unfit_ = 0;
    not_finite_ = 0;
    skipped_ = 0;
    const bool tracking = track_attribute_range_;
    if (!next_parsed_line(true)) return false;
    track_attribute_range_ = tracking;
    holding_first_ = true;
  }
  while (points_done < index) {
    if (!read_raw_point()) return false;
  }
  return true;
}

bool LASreaderTXT::reopen(const char* file_name) {
  input_.close();
  if (file_name == nullptr || !input_.open(file_name)) {
    std::fprintf(stderr, "ERROR: cannot reopen file '%s'\n", file_name ? file_name : "");
    return false;
  }
  file_name_ = file_name;
  read_failed_ = false;
  end_reported_ = false;
  unfit_ = 0;
  not_finite_ = 0;
  skipped_ = 0;
  points_done = 0;
  holding_first_ = false;
  if (!read_header_lines(false, false)) {
    std::fprintf(stderr, "ERROR: cannot reopen file '%s'\n", file_name);
    return false;
  }
  holding_first_ = next_parsed_line(true);
  if (!holding_first_ && (read_failed_ || !no_points_)) {
    std::fprintf(stderr, "ERROR: cannot reopen file '%s'\n", file_name);
    return false;
  }
  choose_read_routines();
  return true;
}

void LASreaderTXT::close_reader(bool /*close_stream*/) {
  input_.close();
  holding_first_ = false;
}

LASreaderTXTrescale::LASreaderTXTrescale(double x_scale, double y_scale, double z_scale) {
  requested_scale_ = {x_scale, y_scale, z_scale};
}

LASreaderTXTreoffset::LASreaderTXTreoffset(double x_offset, double y_offset, double z_offset) {
  requested_offset_ = std::array<double, 3>{x_offset, y_offset, z_offset};
}

LASreaderTXTrescalereoffset::LASreaderTXTrescalereoffset(double x_scale, double y_scale,
                                                         double z_scale, double x_offset,
                                                         double y_offset, double z_offset) {
  requested_scale_ = {x_scale, y_scale, z_scale};
  requested_offset_ = std::array<double, 3>{x_offset, y_offset, z_offset};
}
