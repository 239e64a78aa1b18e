#pragma once

#include <cstdint>

#include "las/las_reader_hooks.hpp"
#include "model/las_point.hpp"

// Gives every point the point source ID of its file: the flightline number with
// "-files_are_flightlines", the header's file source ID with "-apply_file_source_ID". It is
// the one operation of the point transform that the factory itself needs; the full
// transform takes it over once it exists.
class LASpointSourceStamp : public LAStransformHook {
 public:
  void set_point_source(std::uint16_t value) { value_ = value; }
  std::uint16_t point_source() const { return value_; }
  void transform(LASpoint& point) override { point.point_source_ID = value_; }

 private:
  std::uint16_t value_ = 0;
};
