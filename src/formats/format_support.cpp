#include "formats/format_support.hpp"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "model/las_header.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace format_support {

std::int32_t round_to_int32(double value) {
  if (!(value == value)) return 0;
  const double rounded = value >= 0 ? std::floor(value + 0.5) : std::ceil(value - 0.5);
  if (rounded >= 2147483647.0) return INT32_MAX;
  if (rounded <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(rounded);
}

std::int64_t stream_size(ByteStreamIn& stream) {
  if (!stream.can_seek()) return -1;
  const std::int64_t here = stream.position();
  if (!stream.seek_from_end(0)) return -1;
  const std::int64_t size = stream.position();
  if (!stream.seek_to(here)) return -1;
  return size;
}

void set_creation_date(LASheader& header, const char* file_name) {
  header.file_creation_day = 1;
  header.file_creation_year = 2019;
  struct stat info {};
  if (file_name == nullptr || ::stat(file_name, &info) != 0) return;
  const std::time_t stamp = info.st_mtime;
  std::tm parts{};
  if (gmtime_r(&stamp, &parts) == nullptr) return;
  header.file_creation_day = static_cast<std::uint16_t>(parts.tm_yday + 1);
  header.file_creation_year = static_cast<std::uint16_t>(parts.tm_year + 1900);
}

void reset_header_keeping_date(LASheader& header) {
  const std::uint16_t day = header.file_creation_day;
  const std::uint16_t year = header.file_creation_year;
  header.reset();
  header.file_creation_day = day;
  header.file_creation_year = year;
}

namespace {

constexpr double kOffsetUnits = 10000000.0;
constexpr double kOffsetLimit = 2e307;

double chosen_offset(double min, double max, double scale) {
  if (!(min > -kOffsetLimit && min < kOffsetLimit && max > -kOffsetLimit && max < kOffsetLimit)) {
    return 0.0;
  }
  return std::trunc((min + max) / scale / 2e7) * kOffsetUnits * scale;
}

void snap(double& bound, double scale, double offset, const char* name, char axis) {
  const double units = (bound - offset) / scale;
  const double rounded = units >= 0 ? std::floor(units + 0.5) : std::ceil(units - 0.5);
  const double snapped = rounded * scale + offset;
  if ((snapped < 0) != (bound < 0) && snapped != 0.0 && bound != 0.0) {
    std::fprintf(stderr, "WARNING: quantization sign flip for %s from %g to %g.\n", name, bound,
                 snapped);
    std::fprintf(stderr, "         set scale factor for %c coarser than %g with '-rescale'\n", axis,
                 scale);
    return;
  }
  bound = snapped;
}

}  // namespace

void choose_quantization(LASheader& header, const double* requested_scale,
                         const double* requested_offset) {
  const bool geographic =
      header.min_x > -360 && header.min_y > -360 && header.max_x < 360 && header.max_y < 360;
  const double chosen[3] = {geographic ? 0.0000001 : 0.01, geographic ? 0.0000001 : 0.01, 0.01};
  double* scales[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  double* offsets[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  double* mins[3] = {&header.min_x, &header.min_y, &header.min_z};
  double* maxs[3] = {&header.max_x, &header.max_y, &header.max_z};
  static const char* const kMinNames[3] = {"min_x", "min_y", "min_z"};
  static const char* const kMaxNames[3] = {"max_x", "max_y", "max_z"};
  for (int axis = 0; axis < 3; axis++) {
    const bool scale_given = requested_scale != nullptr && requested_scale[axis] != 0.0;
    *scales[axis] = scale_given ? requested_scale[axis] : chosen[axis];
    *offsets[axis] = requested_offset != nullptr
                         ? requested_offset[axis]
                         : chosen_offset(*mins[axis], *maxs[axis], *scales[axis]);
    const char axis_name = static_cast<char>('x' + axis);
    snap(*mins[axis], *scales[axis], *offsets[axis], kMinNames[axis], axis_name);
    snap(*maxs[axis], *scales[axis], *offsets[axis], kMaxNames[axis], axis_name);
  }
}

}  // namespace format_support

// ---------------------------------------------------------------------------------------

LAScoordinateConversion::LAScoordinateConversion(const double* scale, const double* offset) {
  for (int axis = 0; axis < 3; axis++) {
    if (scale != nullptr) requested_scale_[axis] = scale[axis];
    if (offset != nullptr) requested_offset_[axis] = offset[axis];
  }
  rescale_ = scale != nullptr;
  reoffset_ = offset != nullptr;
}

void LAScoordinateConversion::apply_to(LASheader& header) {
  double* scales[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  double* offsets[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  const double mins[3] = {header.min_x, header.min_y, header.min_z};
  const double maxs[3] = {header.max_x, header.max_y, header.max_z};
  static const char* const kBoundNames[3][2] = {
      {"min_x", "max_x"}, {"min_y", "max_y"}, {"min_z", "max_z"}};
  any_ = false;
  unfit_ = 0;
  for (int axis = 0; axis < 3; axis++) {
    file_scale_[axis] = *scales[axis];
    file_offset_[axis] = *offsets[axis];
    if (rescale_ && requested_scale_[axis] != 0.0) *scales[axis] = requested_scale_[axis];
    if (reoffset_) *offsets[axis] = requested_offset_[axis];
    new_scale_[axis] = *scales[axis];
    new_offset_[axis] = *offsets[axis];
    axis_converted_[axis] =
        new_scale_[axis] != file_scale_[axis] || new_offset_[axis] != file_offset_[axis];
    any_ = any_ || axis_converted_[axis];
    if (!axis_converted_[axis]) continue;
    const double bounds[2] = {mins[axis], maxs[axis]};
    for (int end = 0; end < 2; end++) {
      const double converted = (bounds[end] - new_offset_[axis]) / new_scale_[axis];
      if (converted >= -2147483648.5 && converted < 2147483647.5) continue;
      const char* bound = kBoundNames[axis][end];
      if (!reoffset_) {
        std::fprintf(stderr,
                     "WARNING: rescaling from %g to %g causes LAS integer overflow for %s\n",
                     file_scale_[axis], new_scale_[axis], bound);
      } else if (!rescale_) {
        std::fprintf(stderr,
                     "WARNING: reoffsetting from %g to %g causes LAS integer overflow for %s\n",
                     file_offset_[axis], new_offset_[axis], bound);
      } else {
        std::fprintf(stderr,
                     "WARNING: rescaling from %g to %g and reoffsetting from %g to %g causes LAS "
                     "integer overflow for %s\n",
                     file_scale_[axis], new_scale_[axis], file_offset_[axis], new_offset_[axis],
                     bound);
      }
    }
  }
}

double LAScoordinateConversion::convert_axis(int axis, std::int32_t value) const {
  return (value * file_scale_[axis] + file_offset_[axis] - new_offset_[axis]) / new_scale_[axis];
}

bool LAScoordinateConversion::convert(LASpoint& point) {
  if (!any_) return true;
  std::int32_t* stored[3] = {&point.X, &point.Y, &point.Z};
  double converted[3];
  bool fits = true;
  for (int axis = 0; axis < 3; axis++) {
    converted[axis] = axis_converted_[axis] ? convert_axis(axis, *stored[axis]) : *stored[axis];
    fits = fits && converted[axis] > -2147483648.5 && converted[axis] < 2147483647.5;
  }
  if (!fits) {
    if (unfit_++ == 0) {
      for (int axis = 0; axis < 3; axis++)
        unfit_example_[axis] = *stored[axis] * file_scale_[axis] + file_offset_[axis];
    }
    return false;
  }
  for (int axis = 0; axis < 3; axis++) {
    if (axis_converted_[axis]) *stored[axis] = format_support::round_to_int32(converted[axis]);
  }
  return true;
}

bool LAScoordinateConversion::report_unfit(const std::string& file_name) const {
  if (unfit_ == 0) return false;
  std::fprintf(stderr,
               "ERROR: %" PRId64
               " points of '%s' do not fit 32-bit integers at scale %g %g %g and offset %g %g "
               "%g; the first is %g %g %g. choose others with '-rescale' and '-reoffset'\n",
               unfit_, file_name.c_str(), new_scale_[0], new_scale_[1], new_scale_[2],
               new_offset_[0], new_offset_[1], new_offset_[2], unfit_example_[0], unfit_example_[1],
               unfit_example_[2]);
  return true;
}

namespace format_support {

std::FILE* open_input(const char* file_name, int buffer_size) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return nullptr;
  }
  std::FILE* file = std::fopen(file_name, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return nullptr;
  }
  if (std::setvbuf(file, nullptr, _IOFBF, static_cast<std::size_t>(buffer_size)) != 0) {
    std::fprintf(stderr, "WARNING: setvbuf() failed with buffer size %d\n", buffer_size);
  }
  return file;
}

void report_write_failure(const std::string& file_name) {
  std::fprintf(stderr, "ERROR: cannot write to '%s' (disk full or I/O error)\n",
               file_name.empty() ? "output stream" : file_name.c_str());
}

bool finish_output(ByteStreamOut& stream, std::FILE*& file, const std::string& file_name,
                   bool report) {
  bool ok = stream.flush();
  if (file != nullptr) {
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
  }
  if (!ok && report) report_write_failure(file_name);
  return ok;
}

}  // namespace format_support
