#pragma once

// Generated points for the filter's tests: every field walks through its range, including
// the bounds the tables test, in a fixed pseudo-random order, with an extra-bytes attribute
// (a 16-bit signed value at scale 0.5) and the colour, near infrared and wave packet index.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "model/las_attribute.hpp"
#include "model/las_point.hpp"
#include "model/las_scaling.hpp"

namespace filter_points {

// Exact binary scale, so that bounds such as 10.0 are met exactly.
inline LASscaling quarter_scaling() {
  LASscaling scaling;
  scaling.x_scale_factor = scaling.y_scale_factor = scaling.z_scale_factor = 0.25;
  return scaling;
}

// Attribute 0: I16 at scale 0.5 in the first two extra bytes.
inline std::unique_ptr<LASattributeSet> one_attribute() {
  auto attributes = std::make_unique<LASattributeSet>();
  LASattributeDescriptor height(4, "height", "halves");
  height.set_scale(0.5);
  attributes->add_attribute(height);
  return attributes;
}

// `point_type` 0 (no GPS time, no colour) or 3, each with two extra bytes.
inline std::vector<LASpoint> make_points(const LASscaling& scaling,
                                         const LASattributeSet* attributes, int point_type,
                                         int count = 3000) {
  std::vector<LASpoint> points;
  std::uint32_t state = 12345;
  auto next = [&](std::uint32_t range) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % range;
  };
  const std::uint16_t length = point_type == 0 ? 22 : 36;
  for (int i = 0; i < count; i++) {
    LASpoint point;
    point.init_for_point_type(&scaling, static_cast<std::uint8_t>(point_type), length, attributes);
    point.X = static_cast<std::int32_t>(next(81)) - 40;  // x in [-10, 10]
    point.Y = static_cast<std::int32_t>(next(81)) - 40;
    point.Z = static_cast<std::int32_t>(next(161)) - 40;  // z in [-10, 30]
    point.intensity = static_cast<std::uint16_t>(next(4) == 0 ? 100 : next(300));
    const int n = 1 + static_cast<int>(next(7));
    point.set_number_of_returns(static_cast<std::uint8_t>(n));
    point.set_return_number(static_cast<std::uint8_t>(1 + next(n)));
    point.scan_direction_flag = next(2);
    point.edge_of_flight_line = next(5) == 0;
    point.set_classification(static_cast<std::uint8_t>(next(10)));
    point.set_synthetic_flag(next(7) == 0);
    point.set_keypoint_flag(next(7) == 0);
    point.set_withheld_flag(next(5) == 0);
    point.set_overlap_flag(next(6) == 0);
    point.set_extended_scanner_channel(static_cast<std::uint8_t>(next(4)));
    point.scan_angle_rank = static_cast<std::int8_t>(static_cast<int>(next(61)) - 30);
    point.user_data = static_cast<std::uint8_t>(next(8));
    point.point_source_ID = static_cast<std::uint16_t>(next(6));
    point.gps_time = 1000.0 + static_cast<double>(next(400)) * 0.5;
    for (int c = 0; c < 4; c++)
      point.rgb[c] = static_cast<std::uint16_t>(next(4) * 100);
    point.wave_packet[0] = static_cast<std::uint8_t>(next(4));
    const std::int16_t halves = static_cast<std::int16_t>(static_cast<int>(next(13)) - 6);
    point.extra_bytes[0] = static_cast<std::uint8_t>(halves & 0xFF);
    point.extra_bytes[1] = static_cast<std::uint8_t>((halves >> 8) & 0xFF);
    points.push_back(point);
  }
  return points;
}

// A row of a filter table: the command, and whether it drops a point as worked out here.
struct Row {
  const char* command;
  std::function<bool(const LASpoint&)> dropped;
};

// Coordinates at the quarter scale, return number and number of returns.
inline double x(const LASpoint& p) {
  return p.X * 0.25;
}
inline double y(const LASpoint& p) {
  return p.Y * 0.25;
}
inline double z(const LASpoint& p) {
  return p.Z * 0.25;
}
inline int r(const LASpoint& p) {
  return p.return_number;
}
inline int n(const LASpoint& p) {
  return p.number_of_returns;
}

// The attribute's value as the generator stored it: halves of -6 to 6.
inline double attribute_of(const LASpoint& p) {
  const auto stored = static_cast<std::int16_t>(p.extra_bytes[0] | p.extra_bytes[1] << 8);
  return stored * 0.5;
}

}  // namespace filter_points
