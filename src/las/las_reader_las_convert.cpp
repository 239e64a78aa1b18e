// The LAS readers that convert coordinates to other scale factors and offsets.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "las/las_reader_las.hpp"

namespace {

const char* const kBoundNames[3][2] = {{"min_x", "max_x"}, {"min_y", "max_y"}, {"min_z", "max_z"}};

// Rounded half away from zero, as every quantization of the system.
std::int64_t round_away(double value) {
  // Far beyond 32 bits anyway; kept inside 64 bits so that the cast is defined.
  if (!(value > -9e18 && value < 9e18)) return value > 0 ? INT64_MAX : INT64_MIN;
  return value >= 0 ? static_cast<std::int64_t>(value + 0.5)
                    : static_cast<std::int64_t>(value - 0.5);
}

bool fits_int32(double value) {
  return value >= -2147483648.5 && value < 2147483647.5;
}

constexpr double kAutoOffsetUnits = 10000000.0;
constexpr double kAutoOffsetLimit = 2e307;

}  // namespace

LASreaderLASconverting::LASreaderLASconverting(Mode mode, const double scale[3],
                                               const double offset[3], bool auto_offset,
                                               bool guard_overflow)
    : mode_(mode), auto_offset_(auto_offset), guard_overflow_(guard_overflow) {
  for (int axis = 0; axis < 3; axis++) {
    if (scale != nullptr) requested_scale_[axis] = scale[axis];
    if (offset != nullptr) requested_offset_[axis] = offset[axis];
  }
}

LASreaderLASrescale::LASreaderLASrescale(double x_scale, double y_scale, double z_scale,
                                         bool guard_overflow)
    : LASreaderLASconverting(Mode::kRescale,
                             std::array<double, 3>{x_scale, y_scale, z_scale}.data(), nullptr,
                             false, guard_overflow) {}

LASreaderLASreoffset::LASreaderLASreoffset(double x_offset, double y_offset, double z_offset)
    : LASreaderLASconverting(Mode::kReoffset, nullptr,
                             std::array<double, 3>{x_offset, y_offset, z_offset}.data(), false,
                             false) {}

LASreaderLASreoffset::LASreaderLASreoffset()
    : LASreaderLASconverting(Mode::kReoffset, nullptr, nullptr, true, false) {}

LASreaderLASrescalereoffset::LASreaderLASrescalereoffset(double x_scale, double y_scale,
                                                         double z_scale, double x_offset,
                                                         double y_offset, double z_offset)
    : LASreaderLASconverting(Mode::kBoth, std::array<double, 3>{x_scale, y_scale, z_scale}.data(),
                             std::array<double, 3>{x_offset, y_offset, z_offset}.data(), false,
                             false) {}

LASreaderLASrescalereoffset::LASreaderLASrescalereoffset(double x_scale, double y_scale,
                                                         double z_scale)
    : LASreaderLASconverting(Mode::kBoth, std::array<double, 3>{x_scale, y_scale, z_scale}.data(),
                             nullptr, true, false) {}

bool LASreaderLASconverting::open_stream(ByteStreamIn* stream, bool header_only,
                                         std::uint32_t selective_decoding) {
  if (!LASreaderLAS::open_stream(stream, header_only, selective_decoding)) return false;
  double* scales[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  double* offsets[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  const double mins[3] = {header.min_x, header.min_y, header.min_z};
  const double maxs[3] = {header.max_x, header.max_y, header.max_z};
  for (int axis = 0; axis < 3; axis++) {
    file_scale_[axis] = *scales[axis];
    file_offset_[axis] = *offsets[axis];
    rescale_axis_[axis] = false;
    reoffset_axis_[axis] = false;
    if (mode_ != Mode::kReoffset && requested_scale_[axis] != 0.0 &&
        requested_scale_[axis] != file_scale_[axis]) {
      rescale_axis_[axis] = true;
      *scales[axis] = requested_scale_[axis];
    }
    new_scale_[axis] = *scales[axis];
    if (mode_ != Mode::kRescale) {
      double offset = requested_offset_[axis];
      if (auto_offset_) {
        offset = 0.0;
        if (mins[axis] > -kAutoOffsetLimit && mins[axis] < kAutoOffsetLimit &&
            maxs[axis] > -kAutoOffsetLimit && maxs[axis] < kAutoOffsetLimit) {
          const double centre_units = (mins[axis] + maxs[axis]) / 2.0 / new_scale_[axis];
          offset =
              std::trunc(centre_units / kAutoOffsetUnits) * kAutoOffsetUnits * new_scale_[axis];
        }
      }
      if (offset != file_offset_[axis]) {
        reoffset_axis_[axis] = true;
        *offsets[axis] = offset;
      }
    }
    new_offset_[axis] = *offsets[axis];
  }
  // Would the converted bounding box still fit the 32-bit record fields?
  for (int axis = 0; axis < 3; axis++) {
    if (!rescale_axis_[axis] && !reoffset_axis_[axis]) continue;
    const double bounds[2] = {mins[axis], maxs[axis]};
    for (int end = 0; end < 2; end++) {
      const std::int64_t stored =
          round_away((bounds[end] - file_offset_[axis]) / file_scale_[axis]);
      double converted;
      if (reoffset_axis_[axis]) {
        converted = (static_cast<double>(stored) * file_scale_[axis] + file_offset_[axis] -
                     new_offset_[axis]) /
                    new_scale_[axis];
      } else {
        converted = static_cast<double>(stored) * file_scale_[axis] / new_scale_[axis];
      }
      if (fits_int32(converted)) continue;
      const char* bound = kBoundNames[axis][end];
      if (mode_ == Mode::kRescale) {
        if (guard_overflow_) {
          std::fprintf(stderr,
                       "WARNING: rescaling from %g to %g causes LAS integer overflow for %s\n",
                       file_scale_[axis], new_scale_[axis], bound);
        }
      } else if (mode_ == Mode::kReoffset) {
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
  return true;
}

std::int32_t LASreaderLASconverting::convert(int axis, std::int32_t value) const {
  double converted;
  if (reoffset_axis_[axis]) {
    converted =
        (value * file_scale_[axis] + file_offset_[axis] - new_offset_[axis]) / new_scale_[axis];
  } else {
    converted = value * file_scale_[axis] / new_scale_[axis];
  }
  // Out of range only after the overflow warning; the value then wraps like any cast.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(round_away(converted)));
}

bool LASreaderLASconverting::read_raw_point() {
  if (!LASreaderLAS::read_raw_point()) return false;
  if (rescale_axis_[0] || reoffset_axis_[0]) point.X = convert(0, point.X);
  if (rescale_axis_[1] || reoffset_axis_[1]) point.Y = convert(1, point.Y);
  if (rescale_axis_[2] || reoffset_axis_[2]) point.Z = convert(2, point.Z);
  return true;
}
