#pragma once

#include <cstdint>

// Scale factors and offsets that turn the 32-bit integer coordinates of a point record
// into real-world coordinates: coordinate = integer * scale + offset. Base of LASheader;
// every writer keeps a copy of the one it was opened with.
class LASscaling {
 public:
  double x_scale_factor = 0.01;
  double y_scale_factor = 0.01;
  double z_scale_factor = 0.01;
  double x_offset = 0.0;
  double y_offset = 0.0;
  double z_offset = 0.0;

  // integer * scale + offset.
  static double dequantize(std::int32_t value, double scale, double offset) {
    return value * scale + offset;
  }
  // (value - offset) / scale rounded half away from zero, in 64 bits so that the caller can
  // tell whether the result fits a 32-bit record field (see fits_int32).
  static std::int64_t quantize(double value, double scale, double offset) {
    const double q = (value - offset) / scale;
    return value >= offset ? static_cast<std::int64_t>(q + 0.5)
                           : static_cast<std::int64_t>(q - 0.5);
  }
  static bool fits_int32(std::int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

  double get_x(std::int32_t X) const { return dequantize(X, x_scale_factor, x_offset); }
  double get_y(std::int32_t Y) const { return dequantize(Y, y_scale_factor, y_offset); }
  double get_z(std::int32_t Z) const { return dequantize(Z, z_scale_factor, z_offset); }
  std::int64_t get_X(double x) const { return quantize(x, x_scale_factor, x_offset); }
  std::int64_t get_Y(double y) const { return quantize(y, y_scale_factor, y_offset); }
  std::int64_t get_Z(double z) const { return quantize(z, z_scale_factor, z_offset); }
};
