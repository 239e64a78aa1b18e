#include "formats/las_reader_merged.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// The formats as the reader factory tells them apart by name, in the order it tests them;
// the last takes every other name.
struct MergedFormat {
  const char* name;    // as the mixing message names it
  const char* reader;  // the reader class as messages name it
  const char* markers[4];
};

constexpr MergedFormat kFormats[] = {
    {"LAS", "lasreaderlas", {".las", ".pkz", ".LAS", ".PKZ"}},
    {"BIN", "lasreaderbin", {".bin", ".BIN"}},
    {"SHP", "lasreadershp", {".shp", ".SHP"}},
    {"ASC", "lasreaderasc", {".asc", ".ASC"}},
    {"BIL", "lasreaderbil", {".bil", ".BIL"}},
    {"DTM", "lasreaderdtm", {".dtm", ".DTM"}},
    {"PLY", "lasreaderply", {".ply", ".PLY"}},
    {"QFIT", "lasreaderqfit", {".qi", ".QI"}},
    {"TXT", "lasreadertxt", {}},
};
constexpr int kFormatCount = static_cast<int>(std::size(kFormats));

int format_of(std::string_view name) {
  for (int f = 0; f < kFormatCount - 1; f++) {
    for (const char* marker : kFormats[f].markers) {
      if (marker != nullptr && name.find(marker) != std::string_view::npos) return f;
    }
  }
  return kFormatCount - 1;
}

double round_half_away(double value) {
  return value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5);
}

bool overflows(double min, double max, double scale, double offset) {
  return (max - offset) / scale > 2147483647.0 || (min - offset) / scale < -2147483648.0;
}

}  // namespace

LASreaderMerged::LASreaderMerged(Opener opener, Prepare prepare)
    : opener_(std::move(opener)), prepare_(std::move(prepare)) {}

LASreaderMerged::~LASreaderMerged() {
  close_reader(true);
}

const char* LASreaderMerged::format_name() const {
  return format_ < 0 ? "" : kFormats[format_].name;
}

bool LASreaderMerged::add_file_name(const std::string& file_name,
                                    std::optional<std::uint32_t> file_ID) {
  std::FILE* probe = std::fopen(file_name.c_str(), "rb");
  if (probe == nullptr) {
    std::fprintf(stderr, "ERROR: file '%s' cannot be opened\n", file_name.c_str());
    refused_files_++;
    return false;
  }
  std::fclose(probe);
  const int format = format_of(file_name);
  if (format_ < 0) {
    format_ = format;
  } else if (format != format_) {
    std::fprintf(stderr, "ERROR: cannot mix %s with %s. skipping '%s' ...\n",
                 kFormats[format_].name, kFormats[format].name, file_name.c_str());
    refused_files_++;
    return false;
  }
  files_.push_back(File{file_name, file_ID});
  return true;
}

bool LASreaderMerged::open() {
  if (files_.empty()) {
    std::fprintf(stderr, "ERROR: no valid file names\n");
    return false;
  }
  // The merged points would lack a file's points while looking complete; its refusal
  // said why.
  if (refused_files_ != 0) return false;
  header.reset();
  rescale_ = reoffset_ = false;
  bool warned_type = false, warned_size = false, warned_count = false, warned_attribute = false;
  bool first_with_points = true;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files_.size(); i++) {
    File& file = files_[i];
    std::unique_ptr<LASreader> reader = opener_(file.name, i > 0, nullptr, nullptr);
    if (!reader) {
      std::fprintf(stderr, "ERROR: could not open %s for file '%s'\n", kFormats[format_].reader,
                   file.name.c_str());
      return false;
    }
    const LASheader& h = reader->header;
    if (h.point_count() > 0) {
      file.min_x = h.min_x;
      file.min_y = h.min_y;
      file.max_x = h.max_x;
      file.max_y = h.max_y;
    }
    if (i == 0) {
      if (h.vlr_rivudover && h.vlr_rivudover->buffer) {
        std::fprintf(stderr,
                     "WARNING: first file is a buffered tile. maybe remove buffers first?\n");
      }
      inner_format_code_ = reader->format_code();
      header = h;
      header.vlr_rivudover.reset();
      total = h.point_count();
      if (total > 0) first_with_points = false;
    } else {
      if (h.point_data_format != header.point_data_format && !warned_type) {
        std::fprintf(stderr, "WARNING: files have different point types: %d vs %d\n",
                     header.point_data_format & 0x7F, h.point_data_format & 0x7F);
        warned_type = true;
      }
      if (h.point_data_record_length != header.point_data_record_length && !warned_size) {
        std::fprintf(stderr, "WARNING: files have different point sizes: %d vs %d\n",
                     header.point_data_record_length, h.point_data_record_length);
        warned_size = true;
      }
      if (h.attribute_count() != header.attribute_count() && !warned_count) {
        std::fprintf(stderr, "WARNING: files have different number of attributes: %d vs %d\n",
                     header.attribute_count(), h.attribute_count());
        warned_count = true;
      } else if (!warned_attribute) {
        for (int a = 0; a < h.attribute_count(); a++) {
          if (std::memcmp(&h.descriptor(a), &header.descriptor(a),
                          sizeof(LASattributeDescriptor)) != 0) {
            std::fprintf(stderr, "WARNING: files have different attribute %d\n", a);
            warned_attribute = true;
            break;
          }
        }
      }
      if (h.point_count() > 0) {
        total += h.point_count();
        merge_header(*reader, first_with_points, first_with_points);
      }
    }
    reader->close_reader(true);
  }
  if (header.version_major == 1 && header.version_minor < 4) {
    if (total > 0xFFFFFFFFu) {
      std::fprintf(stderr,
                   "WARNING: on-the-fly merged LAS 1.%d files contain too many points (%" PRIu64
                   ") for single LAS 1.%d file.\n",
                   header.version_minor, total, header.version_minor);
    }
    header.number_of_point_records = total > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(total);
  } else {
    header.extended_number_of_point_records = total;
    header.number_of_point_records = (total > 0xFFFFFFFFu || (header.point_data_format & 0x7F) >= 6)
                                         ? 0
                                         : static_cast<std::uint32_t>(total);
  }
  if (requested_scale_) {
    double* scale[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
    for (int k = 0; k < 3; k++) {
      const double wanted = (*requested_scale_)[k];
      if (wanted != 0.0 && wanted != *scale[k]) {
        *scale[k] = wanted;
        rescale_ = true;
      }
    }
  }
  if (requested_offset_) {
    double* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
    for (int k = 0; k < 3; k++) {
      if ((*requested_offset_)[k] != *offset[k]) {
        *offset[k] = (*requested_offset_)[k];
        reoffset_ = true;
      }
    }
  }
  widen_scaling();
  point = LASpoint();
  if (!point.init_for_point_type(&header, header.point_data_format & 0x7F,
                                 header.point_data_record_length, &header)) {
    return false;
  }
  points_total = static_cast<std::int64_t>(total);
  points_done = 0;
  next_file_ = 0;
  inner_.reset();
  read_failed_ = false;
  ended_cut_ = false;
  choose_read_routines();
  return true;
}

// A later file with points: its counts add up and its box joins the union; the first file
// with points sets them.
bool LASreaderMerged::merge_header(const LASreader& file, bool first, bool& first_with_points) {
  const LASheader& h = file.header;
  if (h.x_scale_factor != header.x_scale_factor || h.y_scale_factor != header.y_scale_factor ||
      h.z_scale_factor != header.z_scale_factor) {
    rescale_ = true;
  }
  if (h.x_offset != header.x_offset || h.y_offset != header.y_offset ||
      h.z_offset != header.z_offset) {
    reoffset_ = true;
  }
  if (first) {
    std::memcpy(header.number_of_points_by_return, h.number_of_points_by_return,
                sizeof(header.number_of_points_by_return));
    std::memcpy(header.extended_number_of_points_by_return, h.extended_number_of_points_by_return,
                sizeof(header.extended_number_of_points_by_return));
    header.min_x = h.min_x;
    header.max_x = h.max_x;
    header.min_y = h.min_y;
    header.max_y = h.max_y;
    header.min_z = h.min_z;
    header.max_z = h.max_z;
    static_cast<LASscaling&>(header) = static_cast<const LASscaling&>(h);
    rescale_ = reoffset_ = false;
    first_with_points = false;
    return true;
  }
  for (std::size_t r = 0; r < std::size(header.number_of_points_by_return); r++) {
    header.number_of_points_by_return[r] += h.number_of_points_by_return[r];
  }
  if (header.version_major == 1 && header.version_minor >= 4) {
    for (std::size_t r = 0; r < std::size(header.extended_number_of_points_by_return); r++) {
      header.extended_number_of_points_by_return[r] += h.extended_number_of_points_by_return[r];
    }
  }
  header.min_x = std::min(header.min_x, h.min_x);
  header.max_x = std::max(header.max_x, h.max_x);
  header.min_y = std::min(header.min_y, h.min_y);
  header.max_y = std::max(header.max_y, h.max_y);
  header.min_z = std::min(header.min_z, h.min_z);
  header.max_z = std::max(header.max_z, h.max_z);
  return true;
}

// When the union box does not fit 32-bit integers, the scale factor grows by tens around a
// centred offset, so that every merged point is held exactly as its file held it or, where
// that cannot be, as closely as the wider scale allows.
void LASreaderMerged::widen_scaling() {
  struct Axis {
    const char* scale_name;
    const char* offset_name;
    double min, max;
    double* scale;
    double* offset;
  } axes[3] = {
      {"x_scale_factor", "x_offset", header.min_x, header.max_x, &header.x_scale_factor,
       &header.x_offset},
      {"y_scale_factor", "y_offset", header.min_y, header.max_y, &header.y_scale_factor,
       &header.y_offset},
      {" z_scale_factor", "z_offset", header.min_z, header.max_z, &header.z_scale_factor,
       &header.z_offset},
  };
  for (Axis& axis : axes) {
    if (!overflows(axis.min, axis.max, *axis.scale, *axis.offset)) continue;
    const double centre = round_half_away((axis.min + axis.max) / 2);
    const double old_scale = *axis.scale;
    double scale = old_scale;
    for (int tries = 0; tries < 64 && overflows(axis.min, axis.max, scale, centre); tries++) {
      scale *= 10;
    }
    if (scale != old_scale) {
      std::fprintf(stderr,
                   "WARNING: i changed %s from %g to %g to accommodate enlarged bounding box\n",
                   axis.scale_name, old_scale, scale);
      *axis.scale = scale;
      rescale_ = true;
    }
    if (overflows(axis.min, axis.max, scale, *axis.offset)) {
      std::fprintf(stderr,
                   "WARNING: i changed %s from %g to %g to accommodate enlarged bounding box\n",
                   axis.offset_name, *axis.offset, centre);
      *axis.offset = centre;
      reoffset_ = true;
    }
  }
}

bool LASreaderMerged::open_next_file() {
  if (inner_) {
    inner_->close_reader(true);
    inner_.reset();
  }
  while (next_file_ < files_.size()) {
    const File& file = files_[next_file_];
    const std::array<double, 3> scale{header.x_scale_factor, header.y_scale_factor,
                                      header.z_scale_factor};
    const std::array<double, 3> offset{header.x_offset, header.y_offset, header.z_offset};
    inner_ = opener_(file.name, false, rescale_ ? &scale : nullptr, reoffset_ ? &offset : nullptr);
    if (!inner_) {
      std::fprintf(stderr, "ERROR: could not open %s for file '%s'\n", kFormats[format_].reader,
                   file.name.c_str());
      read_failed_ = true;
      return false;
    }
    // A cut file is said once per run, like a single input.
    inner_->warn_when_cut = warn_when_cut;
    if (prepare_) prepare_(*inner_, next_file_, file.ID);
    next_file_++;
    return true;
  }
  return false;
}

bool LASreaderMerged::read_raw_point() {
  for (;;) {
    if (!inner_ && !open_next_file()) {
      point.clear_values();
      return false;
    }
    if (inner_->read_next()) {
      point.copy_values_from(inner_->point);
      points_done++;
      return true;
    }
    if (inner_->read_failed()) {
      read_failed_ = true;
      inner_->close_reader(true);
      inner_.reset();
      return false;
    }
    if (inner_->ended_cut()) ended_cut_ = true;
    inner_->close_reader(true);
    inner_.reset();
  }
}

bool LASreaderMerged::reopen() {
  close_reader(true);
  next_file_ = 0;
  points_done = 0;
  read_failed_ = false;
  ended_cut_ = false;
  return !files_.empty();
}

int LASreaderMerged::format_code() const {
  return inner_format_code_;
}

// Seeking into a merged source would need every file's count; it is not offered.
bool LASreaderMerged::seek_point(std::int64_t /*index*/) {
  return false;
}

ByteStreamIn* LASreaderMerged::stream_of() const {
  return inner_ ? inner_->stream_of() : nullptr;
}

void LASreaderMerged::close_reader(bool close_stream) {
  if (inner_) inner_->close_reader(close_stream);
  inner_.reset();
}
