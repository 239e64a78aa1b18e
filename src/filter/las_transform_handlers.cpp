// The family handlers of the point transform's options.

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "filter/las_operations_attributes.hpp"
#include "filter/las_operations_colors.hpp"
#include "filter/las_operations_coordinates.hpp"
#include "filter/las_operations_values.hpp"
#include "filter/las_transform_option_row.hpp"

namespace transform_options {

std::string Call::argument_name(int k) const {
  std::string_view names = row.arguments;
  for (int i = 0; i < k; i++) {
    const std::size_t blank = names.find(' ');
    if (blank == std::string_view::npos) return std::string(names);
    names.remove_prefix(blank + 1);
  }
  return std::string(names.substr(0, names.find(' ')));
}

// "ERROR: '%s' needs N arguments: names" followed by the clause.
void Call::print_missing_then(const char* clause_format, ...) const {
  std::fprintf(stderr, "ERROR: '%s' %s %d argument%s: %s", option,
               row.wording == Wording::kNeed ? "need" : "needs", row.count,
               row.count == 1 ? "" : "s", row.arguments);
  va_list values;
  va_start(values, clause_format);
  std::vfprintf(stderr, clause_format, values);
  va_end(values);
}

bool Call::invalid(int k) const {
  const std::string word = row.invalid_word ? row.invalid_word : argument_name(k);
  print_missing_then(" but '%s' is no valid %s\n", arguments[k], word.c_str());
  return false;
}

// ---------------------------------------------------------------------------------------
// Family handlers

bool without_arguments(const Call& call) {
  call.add(call.row.make_none(), call.row.changed);
  return true;
}

bool translate_axis(const Call& call) {
  double offset = 0;
  if (!call.real(0, offset)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationTranslateX>(offset), kChangedX);
      break;
    case 1:
      call.add(std::make_unique<LASoperationTranslateY>(offset), kChangedY);
      break;
    default:
      call.add(std::make_unique<LASoperationTranslateZ>(offset), kChangedZ);
  }
  return true;
}

bool translate_xyz(const Call& call) {
  double offset[3];
  for (int k = 0; k < 3; k++)
    if (!call.real(k, offset[k])) return false;
  auto operation = std::make_unique<LASoperationTranslateXYZ>(offset[0], offset[1], offset[2]);
  const std::uint32_t changed = operation->changed();
  call.add(std::move(operation), changed);
  return true;
}

bool translate_then_scale_axis(const Call& call) {
  double offset = 0, scale = 0;
  if (!call.real(0, offset) || !call.real(1, scale)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationTranslateThenScaleX>(offset, scale), kChangedX);
      break;
    case 1:
      call.add(std::make_unique<LASoperationTranslateThenScaleY>(offset, scale), kChangedY);
      break;
    default:
      call.add(std::make_unique<LASoperationTranslateThenScaleZ>(offset, scale), kChangedZ);
  }
  return true;
}

bool scale_axis(const Call& call) {
  double scale = 0;
  if (!call.real(0, scale)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationScaleX>(scale), kChangedX);
      break;
    case 1:
      call.add(std::make_unique<LASoperationScaleY>(scale), kChangedY);
      break;
    default:
      call.add(std::make_unique<LASoperationScaleZ>(scale), kChangedZ);
  }
  return true;
}

bool scale_xyz(const Call& call) {
  double scale[3];
  for (int k = 0; k < 3; k++)
    if (!call.real(k, scale[k])) return false;
  auto operation = std::make_unique<LASoperationScaleXYZ>(scale[0], scale[1], scale[2]);
  const std::uint32_t changed = operation->changed();
  call.add(std::move(operation), changed);
  return true;
}

bool translate_raw_axis(const Call& call) {
  int offset = 0;
  if (!call.integer(0, offset)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationTranslateRawX>(offset), kChangedX);
      break;
    case 1:
      call.add(std::make_unique<LASoperationTranslateRawY>(offset), kChangedY);
      break;
    default:
      call.add(std::make_unique<LASoperationTranslateRawZ>(offset), kChangedZ);
  }
  return true;
}

bool translate_raw_xyz(const Call& call) {
  int offset[3];
  for (int k = 0; k < 3; k++)
    if (!call.integer(k, offset[k])) return false;
  auto operation = std::make_unique<LASoperationTranslateRawXYZ>(offset[0], offset[1], offset[2]);
  const std::uint32_t changed = operation->changed();
  call.add(std::move(operation), changed);
  return true;
}

bool translate_raw_xy_at_random(const Call& call) {
  int max_x = 0, max_y = 0;
  if (!call.integer(0, max_x) || !call.integer(1, max_y)) return false;
  call.add(std::make_unique<LASoperationTranslateRawXYatRandom>(max_x, max_y),
           kChangedX | kChangedY);
  return true;
}

// Intensity, scan angle and user data factors and offsets (single precision). Variants:
// 0 translate intensity, 1 scale intensity, 2 translate scan angle, 3 scale scan angle,
// 4 scale user data. A factor of 0 is refused.
bool float_value(const Call& call) {
  float value = 0;
  if (!call.single(0, value)) return false;
  const int variant = call.row.variant;
  const bool factor = variant == 1 || variant == 3 || variant == 4;
  if (factor && value == 0.0f) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: scale but '%g' is no valid scale\n",
                 call.option, double{value});
    return false;
  }
  switch (variant) {
    case 0:
      call.add(std::make_unique<LASoperationTranslateIntensity>(value), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationScaleIntensity>(value), 0);
      break;
    case 2:
      call.add(std::make_unique<LASoperationTranslateScanAngle>(value), 0);
      break;
    case 3:
      call.add(std::make_unique<LASoperationScaleScanAngle>(value), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationScaleUserData>(value), 0);
  }
  return true;
}

// Variant 0 intensity, 1 scan angle.
bool translate_then_scale_float(const Call& call) {
  float offset = 0, scale = 0;
  if (!call.single(0, offset) || !call.single(1, scale)) return false;
  if (call.row.variant == 0) {
    call.add(std::make_unique<LASoperationTranslateThenScaleIntensity>(offset, scale), 0);
  } else {
    call.add(std::make_unique<LASoperationTranslateThenScaleScanAngle>(offset, scale), 0);
  }
  return true;
}

// Variant 0 translate the GPS time, 1 set it.
bool gps_time_value(const Call& call) {
  double value = 0;
  if (!call.real(0, value)) return false;
  if (call.row.variant == 0) {
    call.add(std::make_unique<LASoperationTranslateGpsTime>(value), 0);
  } else {
    call.add(std::make_unique<LASoperationSetGpsTime>(value), 0);
  }
  return true;
}

// index and number: 0 translate, 1 set, 2 scale (not by 0), 3 add scaled to z, 4 add
// scaled to user data.
bool attribute_with_number(const Call& call) {
  std::uint32_t index = 0;
  double number = 0;
  if (!call.natural(0, index) || !call.real(1, number)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationTranslateAttribute>(index, number), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationSetAttribute>(index, number), 0);
      break;
    case 2:
      if (number == 0.0) {
        std::fprintf(stderr,
                     "ERROR: '%s' needs 2 arguments: index scale but '%g' is no valid scale\n",
                     call.option, number);
        return false;
      }
      call.add(std::make_unique<LASoperationScaleAttribute>(index, number), 0);
      break;
    case 3:
      call.add(std::make_unique<LASoperationAddScaledAttributeToZ>(index, number), kChangedZ);
      break;
    default:
      call.add(std::make_unique<LASoperationAddScaledAttributeToUserData>(index, number), 0);
  }
  return true;
}

// index only: 0-2 into x, y, z, 3 into user data, 4 into intensity, 5 user data into the
// attribute, 6 add to z.
bool attribute_index(const Call& call) {
  std::uint32_t index = 0;
  if (!call.natural(0, index)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationCopyAttributeIntoX>(index), kChangedX);
      break;
    case 1:
      call.add(std::make_unique<LASoperationCopyAttributeIntoY>(index), kChangedY);
      break;
    case 2:
      call.add(std::make_unique<LASoperationCopyAttributeIntoZ>(index), kChangedZ);
      break;
    case 3:
      call.add(std::make_unique<LASoperationCopyAttributeIntoUserData>(index), 0);
      break;
    case 4:
      call.add(std::make_unique<LASoperationCopyAttributeIntoIntensity>(index), 0);
      break;
    case 5:
      call.add(std::make_unique<LASoperationCopyUserDataIntoAttribute>(index), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationAddAttributeToZ>(index), kChangedZ);
  }
  return true;
}

// Variant 0 xy, 1 xz, 2 yz. An angle of 0 would change nothing and is refused.
bool rotate(const Call& call) {
  double values[3];
  for (int k = 0; k < 3; k++)
    if (!call.real(k, values[k])) return false;
  if (values[0] == 0.0) {
    call.print_missing_then(" but %g is no valid angle\n", values[0]);
    return false;
  }
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationRotateXY>(values[0], values[1], values[2]),
               kChangedX | kChangedY);
      break;
    case 1:
      call.add(std::make_unique<LASoperationRotateXZ>(values[0], values[1], values[2]),
               kChangedX | kChangedZ);
      break;
    default:
      call.add(std::make_unique<LASoperationRotateYZ>(values[0], values[1], values[2]),
               kChangedY | kChangedZ);
  }
  return true;
}

// Comma-separated numbers; false when one is no number or there are more than `max`.
static bool split_numbers(const char* text, std::vector<double>& numbers, std::size_t max) {
  std::string_view rest = text;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string part(rest.substr(0, comma));
    double value = 0;
    if (!command_options::parse_double(part.c_str(), value)) return false;
    numbers.push_back(value);
    if (numbers.size() > max) return false;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

bool transform_helmert(const Call& call) {
  std::vector<double> numbers;
  if (!split_numbers(call.arguments[0], numbers, 7) ||
      (numbers.size() != 3 && numbers.size() != 7)) {
    std::fprintf(stderr, "ERROR: '%s' needs 3 or 7 comma separated parameters as argument\n",
                 call.option);
    return false;
  }
  if (numbers.size() == 3) {
    // Three parameters are a plain shift.
    auto operation = std::make_unique<LASoperationTranslateXYZ>(numbers[0], numbers[1], numbers[2]);
    const std::uint32_t changed = operation->changed();
    call.add(std::move(operation), changed);
    return true;
  }
  double parameters[7];
  for (int k = 0; k < 7; k++)
    parameters[k] = numbers[static_cast<std::size_t>(k)];
  call.add(std::make_unique<LASoperationTransformHelmert>(parameters),
           kChangedX | kChangedY | kChangedZ);
  return true;
}

bool transform_affine(const Call& call) {
  std::vector<double> numbers;
  if (!split_numbers(call.arguments[0], numbers, 4) || numbers.size() != 4) {
    std::fprintf(stderr, "ERROR: '%s' needs 4 comma separated parameters as argument\n",
                 call.option);
    return false;
  }
  const double parameters[4] = {numbers[0], numbers[1], numbers[2], numbers[3]};
  call.add(std::make_unique<LASoperationTransformAffine>(parameters), kChangedX | kChangedY);
  return true;
}

// Variant 0 both sides, 1 below, 2 above.
bool clamp_z(const Call& call) {
  double values[2] = {0, 0};
  for (int k = 0; k < call.row.count; k++)
    if (!call.real(k, values[k])) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationClampZ>(values[0], values[1]), kChangedZ);
      break;
    case 1:
      call.add(std::make_unique<LASoperationClampZbelow>(values[0], 0.0), kChangedZ);
      break;
    default:
      call.add(std::make_unique<LASoperationClampZabove>(0.0, values[0]), kChangedZ);
  }
  return true;
}

bool clamp_raw_z(const Call& call) {
  int below = 0, above = 0;
  if (!call.integer(0, below) || !call.integer(1, above)) return false;
  call.add(std::make_unique<LASoperationClampRawZ>(below, above), kChangedZ);
  return true;
}

// Variant 0 both sides, 1 below, 2 above; values up to 65535.
bool clamp_intensity(const Call& call) {
  std::uint32_t values[2] = {0, 0};
  for (int k = 0; k < call.row.count; k++)
    if (!call.natural(k, values[k])) return false;
  const int variant = call.row.variant;
  const bool has_below = variant != 2;
  const std::uint32_t below = has_below ? values[0] : 0;
  const std::uint32_t above = variant == 0 ? values[1] : variant == 2 ? values[0] : 0;
  if (has_below && below > 65535) {
    std::fprintf(stderr,
                 "ERROR: cannot clamp intensity because below value of %u is larger than %u\n",
                 below, 65535u);
    return false;
  }
  if (variant != 1 && above > 65535) {
    std::fprintf(stderr,
                 "ERROR: cannot clamp intensity because above value of %u is larger than %u\n",
                 above, 65535u);
    return false;
  }
  switch (variant) {
    case 0:
      call.add(std::make_unique<LASoperationClampIntensity>(below, above), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationClampIntensityBelow>(below), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationClampIntensityAbove>(above), 0);
  }
  return true;
}

bool scale_rgb(const Call& call) {
  float scale[3];
  for (int k = 0; k < 3; k++)
    if (!call.single(k, scale[k])) return false;
  call.add(std::make_unique<LASoperationScaleRGB>(scale[0], scale[1], scale[2]), kChangedRGB);
  return true;
}

// One unsigned value up to the row's limit.
bool set_unsigned(const Call& call) {
  std::uint32_t value = 0;
  if (!call.natural(0, value)) return false;
  if (value > call.row.limit) {
    std::fprintf(stderr, call.row.range_message, value, call.row.limit);
    return false;
  }
  call.add(call.row.make_one(value), call.row.changed);
  return true;
}

// from_value to_value, each up to the row's limit; the message names the row's field.
bool change_from_to(const Call& call) {
  std::uint32_t from = 0, to = 0;
  if (!call.natural(0, from) || !call.natural(1, to)) return false;
  const char* field = call.row.range_message;
  if (from > call.row.limit) {
    std::fprintf(stderr, "ERROR: cannot change %s because from_value %u is larger than %u\n", field,
                 from, call.row.limit);
    return false;
  }
  if (to > call.row.limit) {
    std::fprintf(stderr, "ERROR: cannot change %s because to_value %u is larger than %u\n", field,
                 to, call.row.limit);
    return false;
  }
  call.add(call.row.make_two(from, to), 0);
  return true;
}

bool set_scan_angle(const Call& call) {
  float angle = 0;
  if (!call.single(0, angle)) return false;
  if (angle > 180.0f) {
    std::fprintf(stderr, "ERROR: cannot set scan angle rank because value %g is larger than 180\n",
                 double{angle});
    return false;
  }
  if (angle < -180.0f) {
    std::fprintf(stderr, "ERROR: cannot set scan angle because value %g is smaller than -180\n",
                 double{angle});
    return false;
  }
  call.add(std::make_unique<LASoperationSetScanAngle>(angle), 0);
  return true;
}

static bool rgb_values(const Call& call, int first, std::uint16_t (&rgb)[3]) {
  static constexpr const char* kChannels[3] = {"R", "G", "B"};
  for (int c = 0; c < 3; c++) {
    std::uint32_t value = 0;
    if (!call.natural(first + c, value)) return false;
    if (value > 65535) {
      std::fprintf(stderr, "ERROR: cannot set RGB because %s is %u, which is larger than %u\n",
                   kChannels[c], value, 65535u);
      return false;
    }
    rgb[c] = static_cast<std::uint16_t>(value);
  }
  return true;
}

bool set_rgb(const Call& call) {
  std::uint16_t rgb[3];
  if (!rgb_values(call, 0, rgb)) return false;
  call.add(std::make_unique<LASoperationSetRGB>(rgb[0], rgb[1], rgb[2]), kChangedRGB);
  return true;
}

bool set_rgb_of_class(const Call& call) {
  std::uint32_t classification = 0;
  if (!call.natural(0, classification)) return false;
  if (classification > 255) {
    std::fprintf(stderr,
                 "ERROR: cannot set RGB because classification is %u, which is larger than %u\n",
                 classification, 255u);
    return false;
  }
  std::uint16_t rgb[3];
  if (!rgb_values(call, 1, rgb)) return false;
  const auto code = static_cast<std::uint8_t>(classification);
  if (classification < 32) {
    call.add(std::make_unique<LASoperationSetRGBofClass>(code, rgb[0], rgb[1], rgb[2]),
             kChangedRGB);
  } else {
    call.add(std::make_unique<LASoperationSetRGBofExtendedClass>(code, rgb[0], rgb[1], rgb[2]),
             kChangedRGB);
  }
  return true;
}

static bool classification_argument(const Call& call, int k, const char* what, std::uint8_t& code) {
  std::uint32_t value = 0;
  if (!call.natural(k, value)) return false;
  if (value > 255) {
    std::fprintf(stderr,
                 "ERROR: cannot classify %s because classification of %u is larger than 255\n",
                 what, value);
    return false;
  }
  code = static_cast<std::uint8_t>(value);
  return true;
}

// Variant 0 below, 1 above, 2 between.
bool classify_z(const Call& call) {
  double low = 0, high = 0;
  const bool between = call.row.variant == 2;
  if (!call.real(0, low) || (between && !call.real(1, high))) return false;
  std::uint8_t code = 0;
  if (!classification_argument(call, between ? 2 : 1, "z_value", code)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationClassifyZbelowAs>(0, low, 0.0, code), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationClassifyZaboveAs>(0, low, 0.0, code), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationClassifyZbetweenAs>(0, low, high, code), 0);
  }
  return true;
}

bool classify_intensity(const Call& call) {
  const bool between = call.row.variant == 2;
  std::uint32_t low = 0, high = 0;
  if (!call.natural(0, low) || (between && !call.natural(1, high))) return false;
  if (low > 65535) {
    std::fprintf(stderr, "ERROR: cannot classify intensity because %s of %u is larger than %u\n",
                 between ? "min_value" : "value", low, 65535u);
    return false;
  }
  if (between && high > 65535) {
    std::fprintf(stderr,
                 "ERROR: cannot classify intensity because max_value of %u is larger than %u\n",
                 high, 65535u);
    return false;
  }
  std::uint8_t code = 0;
  if (!classification_argument(call, between ? 2 : 1, "intensity", code)) return false;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationClassifyIntensityBelowAs>(0, low, 0.0, code), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationClassifyIntensityAboveAs>(0, low, 0.0, code), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationClassifyIntensityBetweenAs>(0, low, high, code), 0);
  }
  return true;
}

bool classify_attribute(const Call& call) {
  static constexpr const char* kWhat[3] = {"attribute below", "attribute above",
                                           "attribute between"};
  const int variant = call.row.variant;
  const bool between = variant == 2;
  std::uint32_t index = 0;
  double low = 0, high = 0;
  if (!call.natural(0, index) || !call.real(1, low) || (between && !call.real(2, high))) {
    return false;
  }
  std::uint8_t code = 0;
  if (!classification_argument(call, between ? 3 : 2, kWhat[variant], code)) return false;
  switch (variant) {
    case 0:
      call.add(std::make_unique<LASoperationClassifyAttributeBelowAs>(index, low, 0.0, code), 0);
      break;
    case 1:
      call.add(std::make_unique<LASoperationClassifyAttributeAboveAs>(index, low, 0.0, code), 0);
      break;
    default:
      call.add(std::make_unique<LASoperationClassifyAttributeBetweenAs>(index, low, high, code), 0);
  }
  return true;
}

bool bin_z(const Call& call) {
  std::uint32_t bin = 0;
  if (!call.natural(0, bin)) return false;
  if (bin == 0) {
    std::fprintf(stderr, "ERROR: %u is no valid bin_size for '%s'\n", bin, call.option);
    return false;
  }
  call.add(std::make_unique<LASoperationBinZintoPointSource>(bin), 0);
  return true;
}

bool bin_scan_angle(const Call& call) {
  float bin = 0;
  if (!call.single(0, bin)) return false;
  if (!(bin > 0.0f)) {
    std::fprintf(stderr, "ERROR: %f is no valid bin_size for '%s'\n", double{bin}, call.option);
    return false;
  }
  call.add(std::make_unique<LASoperationBinAbsScanAngleIntoPointSource>(bin), 0);
  return true;
}

// Variant 0 into intensity, 1 into point source.
bool bin_gps_time(const Call& call) {
  double bin = 0;
  if (!call.real(0, bin)) return false;
  if (!(bin > 0.0)) {
    std::fprintf(stderr, "ERROR: %g is no valid bin_size for '%s'\n", bin, call.option);
    return false;
  }
  if (call.row.variant == 0) {
    call.add(std::make_unique<LASoperationBinGpsTimeIntoIntensity>(bin), 0);
  } else {
    call.add(std::make_unique<LASoperationBinGpsTimeIntoPointSource>(bin), 0);
  }
  return true;
}

// Variant: the channel (0 red ... 3 nir); rows of the divided form have changed bit set by
// `invalid_word` "divisor".
bool multiply_intensity_into_channel(const Call& call) {
  float value = 0;
  if (!call.single(0, value)) return false;
  const bool divided = call.row.invalid_word != nullptr;
  if (value == 0.0f) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: scale but '%g' is no valid %s\n",
                 call.option, double{value}, divided ? "divisor" : "scale");
    return false;
  }
  const float scale = divided ? 1.0f / value : value;
  switch (call.row.variant) {
    case 0:
      call.add(std::make_unique<LASoperationMultiplyScaledIntensityIntoRGB<0>>(scale), kChangedRGB);
      break;
    case 1:
      call.add(std::make_unique<LASoperationMultiplyScaledIntensityIntoRGB<1>>(scale), kChangedRGB);
      break;
    case 2:
      call.add(std::make_unique<LASoperationMultiplyScaledIntensityIntoRGB<2>>(scale), kChangedRGB);
      break;
    default:
      call.add(std::make_unique<LASoperationMultiplyScaledIntensityIntoRGB<3>>(scale), kChangedNIR);
  }
  return true;
}

// Variant: the LASmapField.
bool map_values(const Call& call) {
  auto map = LASoperationMap::load(static_cast<LASmapField>(call.row.variant), call.option,
                                   call.arguments[0]);
  if (!map) return false;
  call.add(std::move(map), 0);
  return true;
}

bool map_attribute_into_rgb(const Call& call) {
  std::uint32_t index = 0;
  if (!call.natural(0, index)) return false;
  auto map = LASoperationMapAttributeIntoRGB::load(index, call.option, call.arguments[1]);
  if (!map) return false;
  call.add(std::move(map), kChangedRGB);
  return true;
}

bool load_attribute_from_text(const Call& call) {
  std::uint32_t index = 0;
  if (!call.natural(0, index)) return false;
  auto load = LASoperationLoadAttributeFromText::load(index, call.option, call.arguments[1]);
  if (!load) return false;
  call.add(std::move(load), 0);
  return true;
}

bool filtered_transform(const Call& call) {
  call.transform.set_filtered(true);
  return true;
}

}  // namespace transform_options
