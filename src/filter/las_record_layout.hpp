#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/las_point.hpp"

// Where the fields of a stored point record lie, for operations that change records in
// place instead of filled points (LASoperation::transform_records). Only the two core
// layouts have one: POINT10 (point types 0-5, its 20 bytes first) and POINT14 (types 6-10).
struct LASrecordLayout {
  const LASscaling* scaling = nullptr;
  std::size_t size = 0;   // bytes of one record
  bool extended = false;  // POINT14
  std::size_t class_byte = 15;
  std::size_t scan_angle = 16;  // the 8-bit rank of POINT10
  std::size_t point_source = 18;
  std::size_t gps_time = 0;  // 0: the records hold no GPS time

  static constexpr std::size_t kIntensity = 12;
  static constexpr std::size_t kFlagByte = 15;
  static constexpr std::size_t kUserData = 17;

  // The layout of the records `point` is read from; false for any other item list, a point
  // without scaling, or a record too short for its core item.
  static bool of(const LASpoint& point, LASrecordLayout& layout) {
    if (point.scaling == nullptr || point.items.empty()) return false;
    layout = LASrecordLayout();
    layout.scaling = point.scaling;
    layout.size = static_cast<std::size_t>(point.record_size);
    if (point.items[0].type == LASitem::POINT10 && point.extended_layout == 0) {
      if (layout.size < static_cast<std::size_t>(kPoint10Size)) return false;
      if (point.items.size() > 1 && point.items[1].type == LASitem::GPSTIME11) {
        layout.gps_time = kPoint10Size;
      }
      return layout.gps_time == 0 || layout.size >= layout.gps_time + 8;
    }
    if (point.items[0].type == LASitem::POINT14 && point.extended_layout != 0) {
      layout.extended = true;
      layout.class_byte = 16;
      layout.scan_angle = 18;
      layout.point_source = 20;
      layout.gps_time = 22;
      return layout.size >= static_cast<std::size_t>(kPoint14Size);
    }
    return false;
  }
};

// Unaligned little-endian access to record fields (the platforms we build on are
// little-endian, as the records are).
namespace record_field {

template <typename T>
T get(const std::uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}
template <typename T>
void put(std::uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof(T));
}

}  // namespace record_field

// The stored coordinates of one record with the store rule of LASpoint (set_x and its
// kin), so that coordinate operations run one body on points and on records alike.
struct LASrecordCoordinates {
  std::int32_t X, Y, Z;
  const LASscaling* scaling;

  LASrecordCoordinates(const std::uint8_t* record, const LASscaling* record_scaling)
      : X(record_field::get<std::int32_t>(record)),
        Y(record_field::get<std::int32_t>(record + 4)),
        Z(record_field::get<std::int32_t>(record + 8)),
        scaling(record_scaling) {}
  void store(std::uint8_t* record) const {
    record_field::put(record, X);
    record_field::put(record + 4, Y);
    record_field::put(record + 8, Z);
  }

  double get_x() const { return scaling->get_x(X); }
  double get_y() const { return scaling->get_y(Y); }
  double get_z() const { return scaling->get_z(Z); }
  bool set_x(double x) { return keep(scaling->get_X(x), X); }
  bool set_y(double y) { return keep(scaling->get_Y(y), Y); }
  bool set_z(double z) { return keep(scaling->get_Z(z), Z); }

 private:
  // The low 32 bits, as LASpoint keeps them; false when the value did not fit.
  static bool keep(std::int64_t value, std::int32_t& field) {
    field = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return LASscaling::fits_int32(value);
  }
};

// Fields of a record that operations write (LASoperation::record_writes), as far as a
// reader of the records cares: the coordinates and the point source ID locate a point in
// the noise grid, the rest does not.
namespace record_writes {
inline constexpr std::uint32_t kX = 1;
inline constexpr std::uint32_t kY = 2;
inline constexpr std::uint32_t kZ = 4;
inline constexpr std::uint32_t kPointSource = 8;
inline constexpr std::uint32_t kOther = 16;
inline constexpr std::uint32_t kAll = 31;
}  // namespace record_writes
