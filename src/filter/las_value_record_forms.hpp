#pragma once

// The record forms of the value operations (see LASoperation::has_record_form): mixins for
// kernels that map one field by a function of that field alone, and the class and flag
// bits of the two core record layouts as LASpoint reads and stores them.

#include <cstdint>

#include "filter/las_record_layout.hpp"
#include "model/las_point.hpp"

namespace value_kernels {

// Record forms of the kernels that map one field the records hold by a function of that
// field alone (`Derived::map(value, arguments...)`): the same function changes the filled
// point and the stored record, so both give the same value.
template <class Derived>
struct MapsIntensity {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static void apply(LASpoint& p, Values... values) {
    p.intensity = Derived::map(p.intensity, values...);
  }
  template <typename... Values>
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, Values... values) {
    std::uint8_t* at = r + LASrecordLayout::kIntensity;
    record_field::put(at, Derived::map(record_field::get<std::uint16_t>(at), values...));
  }
};
template <class Derived>
struct MapsUserData {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static void apply(LASpoint& p, Values... values) {
    p.user_data = Derived::map(p.user_data, values...);
  }
  template <typename... Values>
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, Values... values) {
    std::uint8_t& at = r[LASrecordLayout::kUserData];
    at = Derived::map(at, values...);
  }
};
template <class Derived>
struct MapsPointSource {
  static constexpr std::uint32_t kRecordWrites = record_writes::kPointSource;
  template <typename... Values>
  static void apply(LASpoint& p, Values... values) {
    p.point_source_ID = Derived::map(p.point_source_ID, values...);
  }
  template <typename... Values>
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, Values... values) {
    std::uint8_t* at = r + layout.point_source;
    record_field::put(at, Derived::map(record_field::get<std::uint16_t>(at), values...));
  }
};
// Records without a GPS time have no record form: the point keeps a time of its own that
// later operations would see.
template <class Derived>
struct MapsGpsTime {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static bool record_form(const LASrecordLayout& layout, Values...) {
    return layout.gps_time != 0;
  }
  template <typename... Values>
  static void apply(LASpoint& p, Values... values) {
    p.gps_time = Derived::map(p.gps_time, values...);
  }
  template <typename... Values>
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, Values... values) {
    std::uint8_t* at = r + layout.gps_time;
    record_field::put(at, Derived::map(record_field::get<double>(at), values...));
  }
};
// The 8-bit rank is stored only by the records of point types 0-5; types 6-10 store the
// extended angle, from which a point's rank is derived.
template <class Derived>
struct MapsScanAngleRank {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static bool record_form(const LASrecordLayout& layout, Values...) {
    return !layout.extended;
  }
  template <typename... Values>
  static void apply(LASpoint& p, Values... values) {
    p.scan_angle_rank = Derived::map(p.scan_angle_rank, values...);
  }
  template <typename... Values>
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, Values... values) {
    std::uint8_t* at = r + layout.scan_angle;
    record_field::put(at, Derived::map(record_field::get<std::int8_t>(at), values...));
  }
};

// The class a record holds as a point reads it: the 5-bit class of point types 0-5; for
// types 6-10 the class byte, of which a point's 5-bit class is the value when below 32.
inline std::uint8_t record_class(const std::uint8_t* r, const LASrecordLayout& layout) {
  return layout.extended ? r[layout.class_byte] : r[layout.class_byte] & 0x1F;
}
inline std::uint8_t record_class5(const std::uint8_t* r, const LASrecordLayout& layout) {
  const std::uint8_t value = record_class(r, layout);
  return value < 32 ? value : 0;
}
// LASpoint::set_classification as stored: the whole value in the class byte of types
// 6-10, the value when below 32 (else 0) in the 5 class bits of older types.
inline void set_record_class(std::uint8_t* r, const LASrecordLayout& layout, std::uint8_t value) {
  std::uint8_t& at = r[layout.class_byte];
  if (layout.extended) {
    at = value;
  } else {
    at = static_cast<std::uint8_t>((at & 0xE0) | (value < 32 ? value : 0));
  }
}
// The synthetic (0), keypoint (1) and withheld (2) flags: bits 5-7 of the class byte of
// point types 0-5, bits 0-2 of the flag byte of types 6-10.
inline void set_record_flag(std::uint8_t* r, const LASrecordLayout& layout, int flag, bool value) {
  const std::uint8_t bit = static_cast<std::uint8_t>(1u << (layout.extended ? flag : flag + 5));
  std::uint8_t& at = r[layout.extended ? LASrecordLayout::kFlagByte : layout.class_byte];
  at = static_cast<std::uint8_t>(value ? at | bit : at & ~bit);
}

// The return byte: 3-bit return number and number of returns, then the scan direction and
// edge of flight line bits, in point types 0-5; the 4-bit extended return number and number
// of returns in types 6-10, whose scan direction and edge bits are the top of the flag byte.
inline constexpr std::size_t kReturnByte = 14;
inline unsigned record_bits(std::uint8_t at, unsigned shift, unsigned mask) {
  return (at >> shift) & mask;
}
inline void set_record_bits(std::uint8_t& at, unsigned shift, unsigned mask, unsigned value) {
  at = static_cast<std::uint8_t>((at & ~(mask << shift)) | ((value & mask) << shift));
}
inline std::uint8_t& record_scan_byte(std::uint8_t* r, const LASrecordLayout& layout) {
  return r[layout.extended ? LASrecordLayout::kFlagByte : kReturnByte];
}
// The legacy return fields of a point of type 6-10 are derived from the extended ones and
// never stored, and types 0-5 store no extended ones: each has a record form on one side.
struct LegacyReturns {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static bool record_form(const LASrecordLayout& layout, Values...) {
    return !layout.extended;
  }
};
struct ExtendedReturns {
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  template <typename... Values>
  static bool record_form(const LASrecordLayout& layout, Values...) {
    return layout.extended;
  }
};

}  // namespace value_kernels
