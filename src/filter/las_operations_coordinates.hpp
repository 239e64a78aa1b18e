#pragma once

// Operations on the coordinates: translations, scalings, rotations, the Helmert and affine
// transforms, clamps and switches of axes, on the real coordinates (stored back by the
// store rule) or on the stored integers.

#include <cmath>
#include <cstdint>

#include "filter/las_operation.hpp"
#include "filter/las_random.hpp"

namespace coordinate_axis {

// Axis 0 is x, 1 y, 2 z; `Point` is a LASpoint or the LASrecordCoordinates of a record.
template <int kAxis, class Point>
double get(const Point& point) {
  if constexpr (kAxis == 0) return point.get_x();
  if constexpr (kAxis == 1) return point.get_y();
  return point.get_z();
}
template <int kAxis, class Point>
std::int32_t& raw(Point& point) {
  if constexpr (kAxis == 0) return point.X;
  if constexpr (kAxis == 1) return point.Y;
  return point.Z;
}
template <int kAxis>
constexpr std::uint32_t layer() {
  return kAxis == 2 ? transform_layers::kZ : 0u;
}
template <int kAxis>
constexpr std::uint32_t changed() {
  return 1u << kAxis;
}
// Adds without the undefined behaviour of a signed overflow: the integer wraps.
inline std::int32_t wrap_add(std::int32_t value, std::int64_t offset) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) +
                                   static_cast<std::uint32_t>(offset));
}

// A translation by `offset` as a whole number of stored units, when the store rule
// provably gives X + units for every 32-bit X of an axis stored with `scale` and `origin`:
// the offset lies within 1e-6 units of a whole number, and no value in the rule's
// arithmetic reaches 2^40 units, so its rounding errors stay far below the half unit at
// which the rule could round otherwise. (With a negative scale the rule rounds the other
// way; that is left to the rule.) False otherwise.
inline bool whole_units(double offset, double scale, double origin, std::int64_t& units) {
  if (!(scale > 0.0) || !std::isfinite(scale) || !std::isfinite(origin) || !std::isfinite(offset)) {
    return false;
  }
  constexpr double kLargestUnits = 1099511627776.0;  // 2^40
  const double in_units = offset / scale;
  if (!(std::fabs(in_units) + std::fabs(origin) / scale + 2147483648.0 < kLargestUnits)) {
    return false;
  }
  const double whole = std::nearbyint(in_units);
  if (!(std::fabs(in_units - whole) <= 1e-6)) return false;
  units = static_cast<std::int64_t>(whole);
  return true;
}

inline double scale_of(const LASscaling& scaling, int axis) {
  return axis == 0   ? scaling.x_scale_factor
         : axis == 1 ? scaling.y_scale_factor
                     : scaling.z_scale_factor;
}
inline double origin_of(const LASscaling& scaling, int axis) {
  return axis == 0 ? scaling.x_offset : axis == 1 ? scaling.y_offset : scaling.z_offset;
}

}  // namespace coordinate_axis

// Base of the per-axis operations: stores a coordinate by the store rule.
class LASoperationCoordinate : public LASoperation {
 protected:
  template <int kAxis, class Point>
  void store(Point& point, double value) {
    if constexpr (kAxis == 0) store_x(point, value);
    if constexpr (kAxis == 1) store_y(point, value);
    if constexpr (kAxis == 2) store_z(point, value);
  }
};

// Base of the operations that read and write only X, Y and Z: `Derived::apply`, a template
// over the point type, is the one body for filled points and for stored records (whose
// coordinates lie at the same place in every core layout), so both give the same integers
// and count the same overflows.
template <class Derived>
class LASoperationOnCoordinates : public LASoperationCoordinate {
 public:
  void transform(LASpoint& point) final { static_cast<Derived*>(this)->apply(point); }
  bool has_record_form(const LASrecordLayout& layout) const final {
    (void)layout;
    return true;
  }
  void transform_records(std::uint8_t* records, std::size_t count,
                         const LASrecordLayout& layout) final {
    Derived& self = *static_cast<Derived*>(this);
    // Translations by whole stored units add integers, without a division per axis.
    std::int64_t units[3] = {0, 0, 0};
    if constexpr (requires { self.whole_unit_shift(*layout.scaling, units); }) {
      if (self.whole_unit_shift(*layout.scaling, units)) {
        shift_records(records, count, layout.size, units);
        return;
      }
    }
    for (std::size_t i = 0; i < count; i++) {
      std::uint8_t* record = records + i * layout.size;
      LASrecordCoordinates coordinates(record, layout.scaling);
      self.apply(coordinates);
      coordinates.store(record);
    }
  }
  std::uint32_t record_writes() const final {
    return record_writes::kX | record_writes::kY | record_writes::kZ;
  }

 private:
  // The store rule's result for a shift by whole units: the low 32 bits of X + units, and
  // one overflow for each axis whose sum does not fit.
  void shift_records(std::uint8_t* records, std::size_t count, std::size_t size,
                     const std::int64_t (&units)[3]) {
    for (int axis = 0; axis < 3; axis++) {
      if (units[axis] == 0) continue;
      for (std::size_t i = 0; i < count; i++) {
        std::uint8_t* at = records + i * size + 4 * axis;
        const std::int64_t value = std::int64_t{record_field::get<std::int32_t>(at)} + units[axis];
        record_field::put(at, static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
        if (!LASscaling::fits_int32(value)) this->overflow++;
      }
    }
  }
};

template <int kAxis>
class LASoperationTranslateAxis final
    : public LASoperationOnCoordinates<LASoperationTranslateAxis<kAxis>> {
 public:
  explicit LASoperationTranslateAxis(double offset) : offset_(offset) {}
  const char* name() const override {
    return kAxis == 0 ? "translate_x" : kAxis == 1 ? "translate_y" : "translate_z";
  }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf ", name(), offset_);
  }
  std::uint32_t get_selective_decoding() const override { return coordinate_axis::layer<kAxis>(); }
  template <class Point>
  void apply(Point& point) {
    this->template store<kAxis>(point, coordinate_axis::get<kAxis>(point) + offset_);
  }
  bool whole_unit_shift(const LASscaling& scaling, std::int64_t (&units)[3]) const {
    return coordinate_axis::whole_units(offset_, coordinate_axis::scale_of(scaling, kAxis),
                                        coordinate_axis::origin_of(scaling, kAxis), units[kAxis]);
  }

 private:
  double offset_;
};
using LASoperationTranslateX = LASoperationTranslateAxis<0>;
using LASoperationTranslateY = LASoperationTranslateAxis<1>;
using LASoperationTranslateZ = LASoperationTranslateAxis<2>;

class LASoperationTranslateXYZ final : public LASoperationOnCoordinates<LASoperationTranslateXYZ> {
 public:
  LASoperationTranslateXYZ(double x, double y, double z) : offset_{x, y, z} {}
  const char* name() const override { return "translate_xyz"; }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf %lf %lf ", name(), offset_[0], offset_[1],
                       offset_[2]);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  // An axis shifted by 0 keeps its integer (the store rule gives it back), so it is skipped.
  template <class Point>
  void apply(Point& point) {
    if (offset_[0] != 0) store<0>(point, point.get_x() + offset_[0]);
    if (offset_[1] != 0) store<1>(point, point.get_y() + offset_[1]);
    if (offset_[2] != 0) store<2>(point, point.get_z() + offset_[2]);
  }
  bool whole_unit_shift(const LASscaling& scaling, std::int64_t (&units)[3]) const {
    for (int axis = 0; axis < 3; axis++) {
      units[axis] = 0;
      if (offset_[axis] != 0 &&
          !coordinate_axis::whole_units(offset_[axis], coordinate_axis::scale_of(scaling, axis),
                                        coordinate_axis::origin_of(scaling, axis), units[axis])) {
        return false;
      }
    }
    return true;
  }
  std::uint32_t changed() const {
    return (offset_[0] != 0 ? kChangedX : 0) | (offset_[1] != 0 ? kChangedY : 0) |
           (offset_[2] != 0 ? kChangedZ : 0);
  }

 private:
  double offset_[3];
};

template <int kAxis>
class LASoperationTranslateThenScaleAxis final
    : public LASoperationOnCoordinates<LASoperationTranslateThenScaleAxis<kAxis>> {
 public:
  LASoperationTranslateThenScaleAxis(double offset, double scale)
      : offset_(offset), scale_(scale) {}
  const char* name() const override {
    return kAxis == 0   ? "translate_then_scale_x"
           : kAxis == 1 ? "translate_then_scale_y"
                        : "translate_then_scale_z";
  }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf %lf ", name(), offset_, scale_);
  }
  std::uint32_t get_selective_decoding() const override { return coordinate_axis::layer<kAxis>(); }
  template <class Point>
  void apply(Point& point) {
    this->template store<kAxis>(point, (coordinate_axis::get<kAxis>(point) + offset_) * scale_);
  }

 private:
  double offset_, scale_;
};
using LASoperationTranslateThenScaleX = LASoperationTranslateThenScaleAxis<0>;
using LASoperationTranslateThenScaleY = LASoperationTranslateThenScaleAxis<1>;
using LASoperationTranslateThenScaleZ = LASoperationTranslateThenScaleAxis<2>;

template <int kAxis>
class LASoperationScaleAxis final : public LASoperationOnCoordinates<LASoperationScaleAxis<kAxis>> {
 public:
  explicit LASoperationScaleAxis(double scale) : scale_(scale) {}
  const char* name() const override {
    return kAxis == 0 ? "scale_x" : kAxis == 1 ? "scale_y" : "scale_z";
  }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf ", name(), scale_);
  }
  std::uint32_t get_selective_decoding() const override { return coordinate_axis::layer<kAxis>(); }
  template <class Point>
  void apply(Point& point) {
    this->template store<kAxis>(point, coordinate_axis::get<kAxis>(point) * scale_);
  }

 private:
  double scale_;
};
using LASoperationScaleX = LASoperationScaleAxis<0>;
using LASoperationScaleY = LASoperationScaleAxis<1>;
using LASoperationScaleZ = LASoperationScaleAxis<2>;

class LASoperationScaleXYZ final : public LASoperationOnCoordinates<LASoperationScaleXYZ> {
 public:
  LASoperationScaleXYZ(double x, double y, double z) : scale_{x, y, z} {}
  const char* name() const override { return "scale_xyz"; }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf %lf %lf ", name(), scale_[0], scale_[1], scale_[2]);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  template <class Point>
  void apply(Point& point) {
    store<0>(point, point.get_x() * scale_[0]);
    store<1>(point, point.get_y() * scale_[1]);
    store<2>(point, point.get_z() * scale_[2]);
  }
  std::uint32_t changed() const {
    return (scale_[0] != 1 ? kChangedX : 0) | (scale_[1] != 1 ? kChangedY : 0) |
           (scale_[2] != 1 ? kChangedZ : 0);
  }

 private:
  double scale_[3];
};

// Raw translations add to the stored integer directly; no overflow is counted.
template <int kAxis>
class LASoperationTranslateRawAxis final
    : public LASoperationOnCoordinates<LASoperationTranslateRawAxis<kAxis>> {
 public:
  explicit LASoperationTranslateRawAxis(int offset) : offset_(offset) {}
  const char* name() const override {
    return kAxis == 0 ? "translate_raw_x" : kAxis == 1 ? "translate_raw_y" : "translate_raw_z";
  }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %d ", name(), offset_);
  }
  std::uint32_t get_selective_decoding() const override { return coordinate_axis::layer<kAxis>(); }
  template <class Point>
  void apply(Point& point) {
    std::int32_t& value = coordinate_axis::raw<kAxis>(point);
    value = coordinate_axis::wrap_add(value, offset_);
  }

 private:
  int offset_;
};
using LASoperationTranslateRawX = LASoperationTranslateRawAxis<0>;
using LASoperationTranslateRawY = LASoperationTranslateRawAxis<1>;
using LASoperationTranslateRawZ = LASoperationTranslateRawAxis<2>;

class LASoperationTranslateRawXYZ final
    : public LASoperationOnCoordinates<LASoperationTranslateRawXYZ> {
 public:
  LASoperationTranslateRawXYZ(int x, int y, int z) : offset_{x, y, z} {}
  const char* name() const override { return "translate_raw_xyz"; }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %d %d %d ", name(), offset_[0], offset_[1], offset_[2]);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  template <class Point>
  void apply(Point& point) {
    point.X = coordinate_axis::wrap_add(point.X, offset_[0]);
    point.Y = coordinate_axis::wrap_add(point.Y, offset_[1]);
    point.Z = coordinate_axis::wrap_add(point.Z, offset_[2]);
  }
  std::uint32_t changed() const {
    return (offset_[0] != 0 ? kChangedX : 0) | (offset_[1] != 0 ? kChangedY : 0) |
           (offset_[2] != 0 ? kChangedZ : 0);
  }

 private:
  int offset_[3];
};

// Jitters X and Y by up to the given number of units. The generator is seeded with the
// last value drawn (0 after reset), so every pass over a file jitters its points alike.
class LASoperationTranslateRawXYatRandom final
    : public LASoperationOnCoordinates<LASoperationTranslateRawXYatRandom> {
 public:
  LASoperationTranslateRawXYatRandom(int max_x, int max_y) : max_x_(max_x), max_y_(max_y) {}
  const char* name() const override { return "translate_raw_xy_at_random"; }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %d %d ", name(), max_x_, max_y_);
  }
  template <class Point>
  void apply(Point& point) {
    LASrandom random(state_);
    const std::uint32_t value = random.next();
    state_ = value;
    const std::uint32_t max_x = static_cast<std::uint32_t>(max_x_);
    const std::uint32_t max_y = static_cast<std::uint32_t>(max_y_);
    // 2 max + 1 is odd, so never 0, whatever the maximum.
    const std::uint32_t dx = (value / 8u) % (2u * max_x + 1u) - max_x;
    const std::uint32_t dy = (value / 64u) % (2u * max_y + 1u) - max_y;
    point.X = static_cast<std::int32_t>(static_cast<std::uint32_t>(point.X) + dx);
    point.Y = static_cast<std::int32_t>(static_cast<std::uint32_t>(point.Y) + dy);
  }
  void reset() override {
    LASoperation::reset();
    state_ = 0;
  }

 private:
  int max_x_, max_y_;
  std::uint32_t state_ = 0;
};

inline constexpr double kDegreesToRadians = 0.017453292519943295;
inline constexpr double kArcSecondsToRadians = 4.84813681109536e-6;

// Rotation in the plane of axes A and B about (center_a, center_b).
template <int kA, int kB>
class LASoperationRotate final : public LASoperationOnCoordinates<LASoperationRotate<kA, kB>> {
 public:
  LASoperationRotate(double angle, double center_a, double center_b)
      : angle_(angle),
        center_a_(center_a),
        center_b_(center_b),
        cos_(std::cos(angle * kDegreesToRadians)),
        sin_(std::sin(angle * kDegreesToRadians)) {}
  const char* name() const override {
    return kB == 1 ? "rotate_xy" : kA == 0 ? "rotate_xz" : "rotate_yz";
  }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %lf %lf %lf ", name(), angle_, center_a_, center_b_);
  }
  std::uint32_t get_selective_decoding() const override {
    return kB == 2 ? transform_layers::kZ : 0u;
  }
  template <class Point>
  void apply(Point& point) {
    const double da = coordinate_axis::get<kA>(point) - center_a_;
    const double db = coordinate_axis::get<kB>(point) - center_b_;
    this->template store<kA>(point, da * cos_ - db * sin_ + center_a_);
    this->template store<kB>(point, db * cos_ + da * sin_ + center_b_);
  }

 private:
  double angle_, center_a_, center_b_, cos_, sin_;
};
using LASoperationRotateXY = LASoperationRotate<0, 1>;
using LASoperationRotateXZ = LASoperationRotate<0, 2>;
using LASoperationRotateYZ = LASoperationRotate<1, 2>;

// Seven-parameter similarity transform (small rotations in arc seconds, scale in parts per
// million).
class LASoperationTransformHelmert final
    : public LASoperationOnCoordinates<LASoperationTransformHelmert> {
 public:
  explicit LASoperationTransformHelmert(const double (&parameters)[7]) {
    for (int k = 0; k < 7; k++)
      parameters_[k] = parameters[k];
    rx_ = parameters[3] * kArcSecondsToRadians;
    ry_ = parameters[4] * kArcSecondsToRadians;
    rz_ = parameters[5] * kArcSecondsToRadians;
    k_ = 1.0 + parameters[6] * 1e-6;
  }
  const char* name() const override { return "transform_helmert"; }
  int write_command(char* buffer, std::size_t size) const override {
    const double* p = parameters_;
    return this->print(buffer, size, "-%s %lf,%lf,%lf,%lf,%lf,%lf,%lf ", name(), p[0], p[1], p[2],
                       p[3], p[4], p[5], p[6]);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  template <class Point>
  void apply(Point& point) {
    const double x = point.get_x(), y = point.get_y(), z = point.get_z();
    store<0>(point, (x - rz_ * y + ry_ * z) * k_ + parameters_[0]);
    store<1>(point, (rz_ * x + y - rx_ * z) * k_ + parameters_[1]);
    store<2>(point, (-ry_ * x + rx_ * y + z) * k_ + parameters_[2]);
  }

 private:
  double parameters_[7];
  double rx_, ry_, rz_, k_;
};

// Plane similarity transform: scale k, rotation r in arc seconds, shift tx ty.
class LASoperationTransformAffine final
    : public LASoperationOnCoordinates<LASoperationTransformAffine> {
 public:
  explicit LASoperationTransformAffine(const double (&parameters)[4]) {
    for (int k = 0; k < 4; k++)
      parameters_[k] = parameters[k];
    cos_ = std::cos(parameters[1] * kArcSecondsToRadians);
    sin_ = std::sin(parameters[1] * kArcSecondsToRadians);
  }
  const char* name() const override { return "transform_affine"; }
  int write_command(char* buffer, std::size_t size) const override {
    const double* p = parameters_;
    return this->print(buffer, size, "-%s %lf,%lf,%lf,%lf ", name(), p[0], p[1], p[2], p[3]);
  }
  template <class Point>
  void apply(Point& point) {
    const double x = point.get_x(), y = point.get_y();
    const double k = parameters_[0];
    store<0>(point, (x * cos_ + y * sin_) * k + parameters_[2]);
    store<1>(point, (y * cos_ - x * sin_) * k + parameters_[3]);
  }

 private:
  double parameters_[4];
  double cos_, sin_;
};

// Clamps of z; `kBelow` / `kAbove` say which side is bounded.
template <bool kBelow, bool kAbove>
class LASoperationClampZof final
    : public LASoperationOnCoordinates<LASoperationClampZof<kBelow, kAbove>> {
 public:
  LASoperationClampZof(double below, double above) : below_(below), above_(above) {}
  const char* name() const override {
    return kBelow && kAbove ? "clamp_z" : kBelow ? "clamp_z_below" : "clamp_z_above";
  }
  int write_command(char* buffer, std::size_t size) const override {
    if (kBelow && kAbove) return this->print(buffer, size, "-%s %lf %lf ", name(), below_, above_);
    return this->print(buffer, size, "-%s %lf ", name(), kBelow ? below_ : above_);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  template <class Point>
  void apply(Point& point) {
    const double z = point.get_z();
    if (kBelow && z < below_) {
      this->template store<2>(point, below_);
    } else if (kAbove && z > above_) {
      this->template store<2>(point, above_);
    }
  }

 private:
  double below_, above_;
};
using LASoperationClampZ = LASoperationClampZof<true, true>;
using LASoperationClampZbelow = LASoperationClampZof<true, false>;
using LASoperationClampZabove = LASoperationClampZof<false, true>;

class LASoperationClampRawZ final : public LASoperationOnCoordinates<LASoperationClampRawZ> {
 public:
  LASoperationClampRawZ(int below, int above) : below_(below), above_(above) {}
  const char* name() const override { return "clamp_raw_z"; }
  int write_command(char* buffer, std::size_t size) const override {
    return this->print(buffer, size, "-%s %d %d ", name(), below_, above_);
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kZ; }
  template <class Point>
  void apply(Point& point) {
    if (point.Z < below_) {
      point.Z = below_;
    } else if (point.Z > above_) {
      point.Z = above_;
    }
  }

 private:
  int below_, above_;
};

// Swaps two stored integers.
template <int kA, int kB>
class LASoperationSwitchAxes final
    : public LASoperationOnCoordinates<LASoperationSwitchAxes<kA, kB>> {
 public:
  const char* name() const override {
    return kB == 1 ? "switch_x_y" : kA == 0 ? "switch_x_z" : "switch_y_z";
  }
  std::uint32_t get_selective_decoding() const override {
    return kB == 2 ? transform_layers::kZ : 0u;
  }
  template <class Point>
  void apply(Point& point) {
    std::int32_t& a = coordinate_axis::raw<kA>(point);
    std::int32_t& b = coordinate_axis::raw<kB>(point);
    const std::int32_t kept = a;
    a = b;
    b = kept;
  }
};
using LASoperationSwitchXY = LASoperationSwitchAxes<0, 1>;
using LASoperationSwitchXZ = LASoperationSwitchAxes<0, 2>;
using LASoperationSwitchYZ = LASoperationSwitchAxes<1, 2>;
