#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "filter/las_criterion.hpp"

// The criteria that compare one field of the point with one or two bounds, or test one
// property of it, written once as templates: each named criterion is an alias that fixes the
// name, the layers read, the field and the comparison. The comparison is a template
// argument, so the test compiles to the few comparisons it states.

// A criterion name as a template argument.
template <std::size_t N>
struct LAScriterionName {
  char text[N];
  constexpr LAScriterionName(const char (&name)[N]) {
    for (std::size_t i = 0; i < N; i++)
      text[i] = name[i];
  }
};

namespace las_criteria {

// When the point is dropped, for a field value v and bounds a (and b).
enum class Test {
  kDropBelow,      // v < a
  kDropAtOrBelow,  // v <= a
  kDropAbove,      // v > a
  kDropAtOrAbove,  // v >= a
  kDropEqual,      // v == a
  kDropUnequal,    // v != a
  kKeepHalfOpen,   // not a <= v < b
  kDropHalfOpen,   // a <= v < b
  kKeepClosed,     // v < a or v > b
  kDropClosed,     // a <= v <= b
};

constexpr bool takes_two_bounds(Test test) {
  return test == Test::kKeepHalfOpen || test == Test::kDropHalfOpen || test == Test::kKeepClosed ||
         test == Test::kDropClosed;
}

template <Test kTest, typename T>
constexpr bool drops(T v, T a, T b) {
  if constexpr (kTest == Test::kDropBelow) return v < a;
  if constexpr (kTest == Test::kDropAtOrBelow) return v <= a;
  if constexpr (kTest == Test::kDropAbove) return v > a;
  if constexpr (kTest == Test::kDropAtOrAbove) return v >= a;
  if constexpr (kTest == Test::kDropEqual) return v == a;
  if constexpr (kTest == Test::kDropUnequal) return v != a;
  if constexpr (kTest == Test::kKeepHalfOpen) return !(a <= v && v < b);
  if constexpr (kTest == Test::kDropHalfOpen) return a <= v && v < b;
  if constexpr (kTest == Test::kKeepClosed) return v < a || v > b;
  if constexpr (kTest == Test::kDropClosed) return a <= v && v <= b;
}

// Field readers.
inline double get_x(const LASpoint& p) {
  return p.get_x();
}
inline double get_y(const LASpoint& p) {
  return p.get_y();
}
inline double get_z(const LASpoint& p) {
  return p.get_z();
}
inline int get_X(const LASpoint& p) {
  return p.X;
}
inline int get_Y(const LASpoint& p) {
  return p.Y;
}
inline int get_Z(const LASpoint& p) {
  return p.Z;
}
inline int get_intensity(const LASpoint& p) {
  return p.intensity;
}
inline int get_user_data(const LASpoint& p) {
  return p.user_data;
}
inline int get_point_source(const LASpoint& p) {
  return p.point_source_ID;
}
inline int get_scan_angle(const LASpoint& p) {
  return p.scan_angle_rank;
}
inline int get_scan_direction(const LASpoint& p) {
  return p.scan_direction_flag;
}
inline int get_scanner_channel(const LASpoint& p) {
  return p.extended_scanner_channel;
}
inline int get_wavepacket(const LASpoint& p) {
  return p.wave_packet[0];
}
inline double get_gps_time(const LASpoint& p) {
  return p.gps_time;
}

// Properties of the return numbering (r of n) and the flags; true drops the point.
inline bool later_return(const LASpoint& p) {
  return p.return_number > 1;
}
inline bool not_last_return(const LASpoint& p) {
  return p.return_number < p.number_of_returns;
}
inline bool first_return(const LASpoint& p) {
  return p.return_number == 1;
}
inline bool last_return(const LASpoint& p) {
  return p.return_number >= p.number_of_returns;
}
inline bool second_last(const LASpoint& p) {
  return p.number_of_returns >= 2 && p.return_number == p.number_of_returns - 1;
}
inline bool not_second_last(const LASpoint& p) {
  return !second_last(p);
}
inline bool first_of_many(const LASpoint& p) {
  return p.number_of_returns >= 2 && p.return_number == 1;
}
inline bool not_first_of_many(const LASpoint& p) {
  return !first_of_many(p);
}
inline bool last_of_many(const LASpoint& p) {
  return p.number_of_returns > 1 && p.return_number >= p.number_of_returns;
}
inline bool not_last_of_many(const LASpoint& p) {
  return p.return_number == 1 || p.return_number < p.number_of_returns;
}
inline bool middle_return(const LASpoint& p) {
  return 1 < p.return_number && p.return_number < p.number_of_returns;
}
inline bool not_middle_return(const LASpoint& p) {
  return p.return_number == 1 || p.return_number >= p.number_of_returns;
}
inline bool not_edge(const LASpoint& p) {
  return p.edge_of_flight_line == 0;
}
inline bool synthetic(const LASpoint& p) {
  return p.synthetic_flag != 0;
}
inline bool not_synthetic(const LASpoint& p) {
  return p.synthetic_flag == 0;
}
inline bool keypoint(const LASpoint& p) {
  return p.keypoint_flag != 0;
}
inline bool not_keypoint(const LASpoint& p) {
  return p.keypoint_flag == 0;
}
inline bool withheld(const LASpoint& p) {
  return p.withheld_flag != 0;
}
inline bool not_withheld(const LASpoint& p) {
  return p.withheld_flag == 0;
}
inline bool overlap(const LASpoint& p) {
  return p.get_overlap_flag();
}
inline bool not_overlap(const LASpoint& p) {
  return !p.get_overlap_flag();
}

// Appends to an snprintf-style buffer: `used` counts what the whole text needs, the buffer
// receives what fits (always terminated when it has room for anything).
class CommandText {
 public:
  CommandText(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
    if (size_ > 0) buffer_[0] = '\0';
  }
  template <typename... Args>
  void add(const char* format, Args... args) {
    char* at = used_ < size_ ? buffer_ + used_ : nullptr;
    const std::size_t room = used_ < size_ ? size_ - used_ : 0;
    const int written = std::snprintf(at, room, format, args...);
    if (written > 0) used_ += static_cast<std::size_t>(written);
  }
  int used() const { return static_cast<int>(used_); }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// "-name " into the buffer.
int write_name(char* buffer, std::size_t size, const char* name);
int write_bounds(char* buffer, std::size_t size, const char* name, int count, const double* bounds);
int write_bounds(char* buffer, std::size_t size, const char* name, int count, const int* bounds);

}  // namespace las_criteria

// A criterion without arguments that drops the points `kDrops` is true for.
template <LAScriterionName kName, std::uint32_t kLayers, bool (*kDrops)(const LASpoint&)>
class LAScriterionProperty final : public LAScriterion {
 public:
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    return las_criteria::write_name(buffer, size, kName.text);
  }
  std::uint32_t get_selective_decoding() const override { return kLayers; }
  bool filter(const LASpoint& point) override { return kDrops(point); }
};

// A criterion comparing the field `kGet` (of type T: double or int) with its bounds.
// `kNeedsGpsTime`: a point without GPS time is never dropped.
template <LAScriterionName kName, std::uint32_t kLayers, typename T, T (*kGet)(const LASpoint&),
          las_criteria::Test kTest, bool kNeedsGpsTime = false>
class LAScriterionField final : public LAScriterion {
 public:
  explicit LAScriterionField(T a, T b = T{}) : a_(a), b_(b) {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    const T bounds[2] = {a_, b_};
    return las_criteria::write_bounds(buffer, size, kName.text,
                                      las_criteria::takes_two_bounds(kTest) ? 2 : 1, bounds);
  }
  std::uint32_t get_selective_decoding() const override { return kLayers; }
  bool filter(const LASpoint& point) override {
    if constexpr (kNeedsGpsTime) {
      if (!point.has_gps_time) return false;
    }
    return las_criteria::drops<kTest>(kGet(point), a_, b_);
  }

 private:
  T a_;
  T b_;
};

// Coordinates.

// The square [llx, llx + size) x [lly, lly + size), bounds held as floats.
class LAScriterionKeepTile final : public LAScriterion {
 public:
  LAScriterionKeepTile(float ll_x, float ll_y, float size)
      : ll_x_(ll_x), ll_y_(ll_y), size_(size), ur_x_(ll_x + size), ur_y_(ll_y + size) {}
  const char* name() const override { return "keep_tile"; }
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint& point) override {
    const double x = point.get_x();
    const double y = point.get_y();
    return !(ll_x_ <= x && x < ur_x_ && ll_y_ <= y && y < ur_y_);
  }

 private:
  float ll_x_, ll_y_, size_, ur_x_, ur_y_;
};

// Drops points on or outside the circle's rim.
class LAScriterionKeepCircle final : public LAScriterion {
 public:
  LAScriterionKeepCircle(double center_x, double center_y, double radius)
      : center_x_(center_x),
        center_y_(center_y),
        radius_(radius),
        radius_squared_(radius * radius) {}
  const char* name() const override { return "keep_circle"; }
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint& point) override {
    const double dx = point.get_x() - center_x_;
    const double dy = point.get_y() - center_y_;
    return dx * dx + dy * dy >= radius_squared_;
  }

 private:
  double center_x_, center_y_, radius_, radius_squared_;
};

// Half-open boxes in x and y (and z); `kKeep` drops outside, otherwise inside.
template <LAScriterionName kName, bool kKeep>
class LAScriterionBoxXY final : public LAScriterion {
 public:
  LAScriterionBoxXY(double min_x, double min_y, double max_x, double max_y)
      : bounds_{min_x, min_y, max_x, max_y} {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    return las_criteria::write_bounds(buffer, size, kName.text, 4, bounds_);
  }
  bool filter(const LASpoint& point) override {
    const double x = point.get_x();
    const double y = point.get_y();
    const bool inside = bounds_[0] <= x && x < bounds_[2] && bounds_[1] <= y && y < bounds_[3];
    return kKeep ? !inside : inside;
  }

 private:
  double bounds_[4];
};

template <LAScriterionName kName, bool kKeep>
class LAScriterionBoxXYZ final : public LAScriterion {
 public:
  LAScriterionBoxXYZ(double min_x, double min_y, double min_z, double max_x, double max_y,
                     double max_z)
      : bounds_{min_x, min_y, min_z, max_x, max_y, max_z} {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    return las_criteria::write_bounds(buffer, size, kName.text, 6, bounds_);
  }
  std::uint32_t get_selective_decoding() const override { return kLayerZ; }
  bool filter(const LASpoint& point) override {
    const double x = point.get_x();
    const double y = point.get_y();
    const double z = point.get_z();
    const bool inside = bounds_[0] <= x && x < bounds_[3] && bounds_[1] <= y && y < bounds_[4] &&
                        bounds_[2] <= z && z < bounds_[5];
    return kKeep ? !inside : inside;
  }

 private:
  double bounds_[6];
};

// The stored integers X and Y in their half-open ranges.
class LAScriterionKeepXY final : public LAScriterion {
 public:
  LAScriterionKeepXY(int min_X, int min_Y, int max_X, int max_Y)
      : bounds_{min_X, min_Y, max_X, max_Y} {}
  const char* name() const override { return "keep_XY"; }
  int write_command(char* buffer, std::size_t size) const override {
    return las_criteria::write_bounds(buffer, size, "keep_XY", 4, bounds_);
  }
  bool filter(const LASpoint& point) override {
    return !(bounds_[0] <= point.X && point.X < bounds_[2] && bounds_[1] <= point.Y &&
             point.Y < bounds_[3]);
  }

 private:
  int bounds_[4];
};

using las_criteria::Test;

using LAScriterionKeepxy = LAScriterionBoxXY<"keep_xy", true>;
using LAScriterionDropxy = LAScriterionBoxXY<"drop_xy", false>;
using LAScriterionKeepxyz = LAScriterionBoxXYZ<"keep_xyz", true>;
using LAScriterionDropxyz = LAScriterionBoxXYZ<"drop_xyz", false>;

using LAScriterionKeepx =
    LAScriterionField<"keep_x", 0, double, las_criteria::get_x, Test::kKeepHalfOpen>;
using LAScriterionDropx =
    LAScriterionField<"drop_x", 0, double, las_criteria::get_x, Test::kDropHalfOpen>;
using LAScriterionDropxBelow =
    LAScriterionField<"drop_x_below", 0, double, las_criteria::get_x, Test::kDropBelow>;
using LAScriterionDropxAbove =
    LAScriterionField<"drop_x_above", 0, double, las_criteria::get_x, Test::kDropAtOrAbove>;
using LAScriterionKeepy =
    LAScriterionField<"keep_y", 0, double, las_criteria::get_y, Test::kKeepHalfOpen>;
using LAScriterionDropy =
    LAScriterionField<"drop_y", 0, double, las_criteria::get_y, Test::kDropHalfOpen>;
using LAScriterionDropyBelow =
    LAScriterionField<"drop_y_below", 0, double, las_criteria::get_y, Test::kDropBelow>;
using LAScriterionDropyAbove =
    LAScriterionField<"drop_y_above", 0, double, las_criteria::get_y, Test::kDropAtOrAbove>;
using LAScriterionKeepz =
    LAScriterionField<"keep_z", kLayerZ, double, las_criteria::get_z, Test::kKeepHalfOpen>;
using LAScriterionDropz =
    LAScriterionField<"drop_z", kLayerZ, double, las_criteria::get_z, Test::kDropHalfOpen>;
using LAScriterionDropzBelow =
    LAScriterionField<"drop_z_below", kLayerZ, double, las_criteria::get_z, Test::kDropBelow>;
using LAScriterionDropzAbove =
    LAScriterionField<"drop_z_above", kLayerZ, double, las_criteria::get_z, Test::kDropAtOrAbove>;

using LAScriterionKeepX =
    LAScriterionField<"keep_X", 0, int, las_criteria::get_X, Test::kKeepHalfOpen>;
using LAScriterionKeepY =
    LAScriterionField<"keep_Y", 0, int, las_criteria::get_Y, Test::kKeepHalfOpen>;
using LAScriterionKeepZ =
    LAScriterionField<"keep_Z", kLayerZ, int, las_criteria::get_Z, Test::kKeepHalfOpen>;
using LAScriterionDropX =
    LAScriterionField<"drop_X", 0, int, las_criteria::get_X, Test::kDropHalfOpen>;
using LAScriterionDropXBelow =
    LAScriterionField<"drop_X_below", 0, int, las_criteria::get_X, Test::kDropBelow>;
using LAScriterionDropXAbove =
    LAScriterionField<"drop_X_above", 0, int, las_criteria::get_X, Test::kDropAtOrAbove>;
using LAScriterionDropY =
    LAScriterionField<"drop_Y", 0, int, las_criteria::get_Y, Test::kDropHalfOpen>;
using LAScriterionDropYBelow =
    LAScriterionField<"drop_Y_below", 0, int, las_criteria::get_Y, Test::kDropBelow>;
using LAScriterionDropYAbove =
    LAScriterionField<"drop_Y_above", 0, int, las_criteria::get_Y, Test::kDropAtOrAbove>;
using LAScriterionDropZ =
    LAScriterionField<"drop_Z", kLayerZ, int, las_criteria::get_Z, Test::kDropHalfOpen>;
using LAScriterionDropZBelow =
    LAScriterionField<"drop_Z_below", kLayerZ, int, las_criteria::get_Z, Test::kDropBelow>;
using LAScriterionDropZAbove =
    LAScriterionField<"drop_Z_above", kLayerZ, int, las_criteria::get_Z, Test::kDropAtOrAbove>;

// Return numbering.
using LAScriterionKeepFirstReturn =
    LAScriterionProperty<"keep_first", 0, las_criteria::later_return>;
using LAScriterionKeepLastReturn =
    LAScriterionProperty<"keep_last", 0, las_criteria::not_last_return>;
using LAScriterionDropFirstReturn =
    LAScriterionProperty<"drop_first", 0, las_criteria::first_return>;
using LAScriterionDropLastReturn = LAScriterionProperty<"drop_last", 0, las_criteria::last_return>;
using LAScriterionKeepSecondLast =
    LAScriterionProperty<"keep_second_last", 0, las_criteria::not_second_last>;
using LAScriterionDropSecondLast =
    LAScriterionProperty<"drop_second_last", 0, las_criteria::second_last>;
using LAScriterionKeepFirstOfManyReturn =
    LAScriterionProperty<"keep_first_of_many", 0, las_criteria::not_first_of_many>;
using LAScriterionKeepLastOfManyReturn =
    LAScriterionProperty<"keep_last_of_many", 0, las_criteria::not_last_of_many>;
using LAScriterionDropFirstOfManyReturn =
    LAScriterionProperty<"drop_first_of_many", 0, las_criteria::first_of_many>;
using LAScriterionDropLastOfManyReturn =
    LAScriterionProperty<"drop_last_of_many", 0, las_criteria::last_of_many>;
using LAScriterionKeepMiddleReturn =
    LAScriterionProperty<"keep_middle", 0, las_criteria::not_middle_return>;
using LAScriterionDropMiddleReturn =
    LAScriterionProperty<"drop_middle", 0, las_criteria::middle_return>;

// Scanline flags.
using LAScriterionDropScanDirection =
    LAScriterionField<"drop_scan_direction", kLayerFlags, int, las_criteria::get_scan_direction,
                      Test::kDropEqual>;
using LAScriterionKeepEdgeOfFlightLine =
    LAScriterionProperty<"keep_edge_of_flight_line", kLayerFlags, las_criteria::not_edge>;

// Intensity.
using LAScriterionKeepIntensity = LAScriterionField<"keep_intensity", kLayerIntensity, int,
                                                    las_criteria::get_intensity, Test::kKeepClosed>;
using LAScriterionKeepIntensityAbove =
    LAScriterionField<"keep_intensity_above", kLayerIntensity, int, las_criteria::get_intensity,
                      Test::kDropAtOrBelow>;
using LAScriterionKeepIntensityBelow =
    LAScriterionField<"keep_intensity_below", kLayerIntensity, int, las_criteria::get_intensity,
                      Test::kDropAtOrAbove>;
using LAScriterionDropIntensityAbove =
    LAScriterionField<"drop_intensity_above", kLayerIntensity, int, las_criteria::get_intensity,
                      Test::kDropAbove>;
using LAScriterionDropIntensityBelow =
    LAScriterionField<"drop_intensity_below", kLayerIntensity, int, las_criteria::get_intensity,
                      Test::kDropBelow>;
using LAScriterionDropIntensityBetween =
    LAScriterionField<"drop_intensity_between", kLayerIntensity, int, las_criteria::get_intensity,
                      Test::kDropClosed>;

// Flags.
using LAScriterionKeepSynthetic =
    LAScriterionProperty<"keep_synthetic", kLayerFlags, las_criteria::not_synthetic>;
using LAScriterionDropSynthetic =
    LAScriterionProperty<"drop_synthetic", kLayerFlags, las_criteria::synthetic>;
using LAScriterionKeepKeypoint =
    LAScriterionProperty<"keep_keypoint", kLayerFlags, las_criteria::not_keypoint>;
using LAScriterionDropKeypoint =
    LAScriterionProperty<"drop_keypoint", kLayerFlags, las_criteria::keypoint>;
using LAScriterionKeepWithheld =
    LAScriterionProperty<"keep_withheld", kLayerFlags, las_criteria::not_withheld>;
using LAScriterionDropWithheld =
    LAScriterionProperty<"drop_withheld", kLayerFlags, las_criteria::withheld>;
using LAScriterionKeepOverlap =
    LAScriterionProperty<"keep_overlap", kLayerFlags, las_criteria::not_overlap>;
using LAScriterionDropOverlap =
    LAScriterionProperty<"drop_overlap", kLayerFlags, las_criteria::overlap>;
using LAScriterionKeepScannerChannel =
    LAScriterionField<"keep_scanner_channel", 0, int, las_criteria::get_scanner_channel,
                      Test::kDropUnequal>;
using LAScriterionDropScannerChannel =
    LAScriterionField<"drop_scanner_channel", 0, int, las_criteria::get_scanner_channel,
                      Test::kDropEqual>;

// User data.
using LAScriterionKeepUserData = LAScriterionField<"keep_user_data", kLayerUserData, int,
                                                   las_criteria::get_user_data, Test::kDropUnequal>;
using LAScriterionKeepUserDataBelow =
    LAScriterionField<"keep_user_data_below", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kDropAtOrAbove>;
using LAScriterionKeepUserDataAbove =
    LAScriterionField<"keep_user_data_above", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kDropAtOrBelow>;
using LAScriterionKeepUserDataBetween =
    LAScriterionField<"keep_user_data_between", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kKeepClosed>;
using LAScriterionDropUserData = LAScriterionField<"drop_user_data", kLayerUserData, int,
                                                   las_criteria::get_user_data, Test::kDropEqual>;
using LAScriterionDropUserDataBelow =
    LAScriterionField<"drop_user_data_below", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kDropBelow>;
using LAScriterionDropUserDataAbove =
    LAScriterionField<"drop_user_data_above", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kDropAbove>;
using LAScriterionDropUserDataBetween =
    LAScriterionField<"drop_user_data_between", kLayerUserData, int, las_criteria::get_user_data,
                      Test::kDropClosed>;

// Point source ID.
using LAScriterionKeepPointSource =
    LAScriterionField<"keep_point_source", kLayerPointSource, int, las_criteria::get_point_source,
                      Test::kDropUnequal>;
using LAScriterionKeepPointSourceBetween =
    LAScriterionField<"keep_point_source_between", kLayerPointSource, int,
                      las_criteria::get_point_source, Test::kKeepClosed>;
using LAScriterionDropPointSource =
    LAScriterionField<"drop_point_source", kLayerPointSource, int, las_criteria::get_point_source,
                      Test::kDropEqual>;
using LAScriterionDropPointSourceBelow =
    LAScriterionField<"drop_point_source_below", kLayerPointSource, int,
                      las_criteria::get_point_source, Test::kDropBelow>;
using LAScriterionDropPointSourceAbove =
    LAScriterionField<"drop_point_source_above", kLayerPointSource, int,
                      las_criteria::get_point_source, Test::kDropAbove>;
using LAScriterionDropPointSourceBetween =
    LAScriterionField<"drop_point_source_between", kLayerPointSource, int,
                      las_criteria::get_point_source, Test::kDropClosed>;

// Scan angle rank.
using LAScriterionKeepScanAngle =
    LAScriterionField<"keep_scan_angle", kLayerScanAngle, int, las_criteria::get_scan_angle,
                      Test::kKeepClosed>;
using LAScriterionDropScanAngleBelow =
    LAScriterionField<"drop_scan_angle_below", kLayerScanAngle, int, las_criteria::get_scan_angle,
                      Test::kDropBelow>;
using LAScriterionDropScanAngleAbove =
    LAScriterionField<"drop_scan_angle_above", kLayerScanAngle, int, las_criteria::get_scan_angle,
                      Test::kDropAbove>;
using LAScriterionDropScanAngleBetween =
    LAScriterionField<"drop_scan_angle_between", kLayerScanAngle, int, las_criteria::get_scan_angle,
                      Test::kDropClosed>;

// GPS time: points of a type without it are never dropped.
using LAScriterionKeepGpsTime =
    LAScriterionField<"keep_gps_time", kLayerGpsTime, double, las_criteria::get_gps_time,
                      Test::kKeepClosed, true>;
using LAScriterionDropGpsTimeBelow =
    LAScriterionField<"drop_gps_time_below", kLayerGpsTime, double, las_criteria::get_gps_time,
                      Test::kDropBelow, true>;
using LAScriterionDropGpsTimeAbove =
    LAScriterionField<"drop_gps_time_above", kLayerGpsTime, double, las_criteria::get_gps_time,
                      Test::kDropAbove, true>;
using LAScriterionDropGpsTimeBetween =
    LAScriterionField<"drop_gps_time_between", kLayerGpsTime, double, las_criteria::get_gps_time,
                      Test::kDropClosed, true>;

// Wave packet descriptor index.
using LAScriterionKeepWavepacket =
    LAScriterionField<"keep_wavepacket", kLayerWavepacket, int, las_criteria::get_wavepacket,
                      Test::kDropUnequal>;
using LAScriterionDropWavepacket =
    LAScriterionField<"drop_wavepacket", kLayerWavepacket, int, las_criteria::get_wavepacket,
                      Test::kDropEqual>;
