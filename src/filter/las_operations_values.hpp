#pragma once

// Operations on the point's values other than coordinates and colours: intensity, scan
// angle, classification and flags, returns, scanner channel, user data, point source ID and
// GPS time. Each is a kernel (see las_operation_kinds.hpp); the class names are aliases.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "filter/las_operation_kinds.hpp"
#include "filter/las_value_record_forms.hpp"

namespace value_kernels {

namespace layer = transform_layers;
using operation_values::clamp_intensity;
using operation_values::clamp_scan_angle_rank;
using operation_values::clamp_user_data;

// Half away from zero, for the GPS time bins.
inline std::int64_t round_half_away(double value) {
  return value >= 0.0 ? static_cast<std::int64_t>(value + 0.5)
                      : static_cast<std::int64_t>(value - 0.5);
}

// ---- intensity ----
struct TranslateIntensity : MapsIntensity<TranslateIntensity> {
  using Value = float;
  static constexpr const char* kName = "translate_intensity";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, float offset) {
    return clamp_intensity(static_cast<float>(intensity) + offset);
  }
};
struct ScaleIntensity : MapsIntensity<ScaleIntensity> {
  using Value = float;
  static constexpr const char* kName = "scale_intensity";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, float scale) {
    return clamp_intensity(static_cast<float>(intensity) * scale);
  }
};
struct TranslateThenScaleIntensity : MapsIntensity<TranslateThenScaleIntensity> {
  using Value = float;
  static constexpr const char* kName = "translate_then_scale_intensity";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, float offset, float scale) {
    return clamp_intensity((static_cast<float>(intensity) + offset) * scale);
  }
};
struct ClampIntensity : MapsIntensity<ClampIntensity> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "clamp_intensity";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, std::uint32_t below, std::uint32_t above) {
    if (intensity < below) return static_cast<std::uint16_t>(below);
    if (intensity > above) return static_cast<std::uint16_t>(above);
    return intensity;
  }
};
struct ClampIntensityBelow : MapsIntensity<ClampIntensityBelow> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "clamp_intensity_below";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, std::uint32_t below) {
    return intensity < below ? static_cast<std::uint16_t>(below) : intensity;
  }
};
struct ClampIntensityAbove : MapsIntensity<ClampIntensityAbove> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "clamp_intensity_above";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static std::uint16_t map(std::uint16_t intensity, std::uint32_t above) {
    return intensity > above ? static_cast<std::uint16_t>(above) : intensity;
  }
};
struct SetIntensity : MapsIntensity<SetIntensity> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_intensity";
  static constexpr std::uint32_t kLayers = 0;
  static std::uint16_t map(std::uint16_t, std::uint32_t value) {
    return static_cast<std::uint16_t>(value);
  }
};
struct BinGpsTimeIntoIntensity {
  using Value = double;
  static constexpr const char* kName = "bin_gps_time_into_intensity";
  static constexpr std::uint32_t kLayers = layer::kGpsTime;
  static void apply(LASpoint& p, double bin) {
    p.intensity = static_cast<std::uint16_t>(round_half_away(p.gps_time / bin) & 0xFFFF);
  }
};

// ---- scan angle ----
struct TranslateScanAngle : MapsScanAngleRank<TranslateScanAngle> {
  using Value = float;
  static constexpr const char* kName = "translate_scan_angle";
  static constexpr std::uint32_t kLayers = layer::kScanAngle;
  static std::int8_t map(std::int8_t rank, float offset) {
    return clamp_scan_angle_rank(static_cast<float>(rank) + offset);
  }
};
struct ScaleScanAngle : MapsScanAngleRank<ScaleScanAngle> {
  using Value = float;
  static constexpr const char* kName = "scale_scan_angle";
  static constexpr std::uint32_t kLayers = layer::kScanAngle;
  static std::int8_t map(std::int8_t rank, float scale) {
    return clamp_scan_angle_rank(static_cast<float>(rank) * scale);
  }
};
struct TranslateThenScaleScanAngle : MapsScanAngleRank<TranslateThenScaleScanAngle> {
  using Value = float;
  static constexpr const char* kName = "translate_then_scale_scan_angle";
  static constexpr std::uint32_t kLayers = layer::kScanAngle;
  static std::int8_t map(std::int8_t rank, float offset, float scale) {
    return clamp_scan_angle_rank((static_cast<float>(rank) + offset) * scale);
  }
};
struct SetScanAngle {
  using Value = float;
  static constexpr const char* kName = "set_scan_angle";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, float degrees) { p.set_scan_angle(degrees); }
};

// ---- classification and flags ----
struct SetClassification {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_classification";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_classification(static_cast<std::uint8_t>(value));
  }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_class(r, layout, static_cast<std::uint8_t>(value));
  }
};
// A from value below 32 is the 5-bit class, a larger one the extended classification.
struct ChangeClassificationFromTo {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_classification_from_to";
  static constexpr std::uint32_t kLayers = layer::kClassification;
  static void apply(LASpoint& p, std::uint32_t from, std::uint32_t to) {
    const std::uint32_t current = from < 32 ? p.classification : p.extended_classification;
    if (current == from) p.set_classification(static_cast<std::uint8_t>(to));
  }
  // Records of point types 0-5 hold no extended classification.
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static bool record_form(const LASrecordLayout& layout, std::uint32_t from, std::uint32_t) {
    return layout.extended || from < 32;
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t from,
                           std::uint32_t to) {
    const std::uint32_t current = from < 32 ? record_class5(r, layout) : record_class(r, layout);
    if (current == from) set_record_class(r, layout, static_cast<std::uint8_t>(to));
  }
};
struct MoveAncientToExtendedClassification {
  static constexpr const char* kName = "move_ancient_to_extended_classification";
  static constexpr std::uint32_t kLayers = layer::kClassification | layer::kFlags;
  static void apply(LASpoint& p) {
    if (!(p.synthetic_flag || p.keypoint_flag || p.withheld_flag)) return;
    const std::uint8_t whole =
        static_cast<std::uint8_t>(p.classification | (p.synthetic_flag << 5) |
                                  (p.keypoint_flag << 6) | (p.withheld_flag << 7));
    p.extended_classification = whole;
    p.classification = whole < 32 ? whole : 0;
    p.synthetic_flag = 0;
    p.keypoint_flag = 0;
    p.withheld_flag = 0;
    p.extended_classification_flags &= 0x8;  // the overlap bit stays
  }
};
// Flags 0 or 1, kept in the legacy and the extended flag bits alike.
struct SetWithheldFlag {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_withheld_flag";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.set_withheld_flag(value != 0); }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_flag(r, layout, 2, value != 0);
  }
};
struct SetSyntheticFlag {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_synthetic_flag";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.set_synthetic_flag(value != 0); }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_flag(r, layout, 0, value != 0);
  }
};
struct SetKeypointFlag {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_keypoint_flag";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.set_keypoint_flag(value != 0); }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_flag(r, layout, 1, value != 0);
  }
};
struct SetExtendedOverlapFlag {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_extended_overlap_flag";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.set_overlap_flag(value != 0); }
};
struct SetScanDirectionFlag {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_scan_direction_flag";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.scan_direction_flag = value & 1; }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_bits(record_scan_byte(r, layout), 6, 1, value);
  }
};
struct SetEdgeOfFlightLine {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_edge_of_flight_line";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) { p.edge_of_flight_line = value & 1; }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout, std::uint32_t value) {
    set_record_bits(record_scan_byte(r, layout), 7, 1, value);
  }
};
struct SetExtendedScannerChannel {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_extended_scanner_channel";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_extended_scanner_channel(static_cast<std::uint8_t>(value));
  }
};

// ---- returns ----
struct SetReturnNumber : LegacyReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_return_number";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_return_number(static_cast<std::uint8_t>(value));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t value) {
    set_record_bits(r[kReturnByte], 0, 7, value < 8 ? value : 7);
  }
};
struct SetNumberOfReturns : LegacyReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_number_of_returns";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_number_of_returns(static_cast<std::uint8_t>(value));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t value) {
    set_record_bits(r[kReturnByte], 3, 7, value < 8 ? value : 7);
  }
};
struct SetExtendedReturnNumber : ExtendedReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_extended_return_number";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_extended_return_number(static_cast<std::uint8_t>(value));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t value) {
    set_record_bits(r[kReturnByte], 0, 15, value);
  }
};
struct SetExtendedNumberOfReturns : ExtendedReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_extended_number_of_returns";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t value) {
    p.set_extended_number_of_returns(static_cast<std::uint8_t>(value));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t value) {
    set_record_bits(r[kReturnByte], 4, 15, value);
  }
};
struct ChangeReturnNumberFromTo : LegacyReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_return_number_from_to";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t from, std::uint32_t to) {
    if (p.return_number == from) p.set_return_number(static_cast<std::uint8_t>(to));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t from,
                           std::uint32_t to) {
    if (record_bits(r[kReturnByte], 0, 7) == from) {
      set_record_bits(r[kReturnByte], 0, 7, to < 8 ? to : 7);
    }
  }
};
struct ChangeNumberOfReturnsFromTo : LegacyReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_number_of_returns_from_to";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t from, std::uint32_t to) {
    if (p.number_of_returns == from) p.set_number_of_returns(static_cast<std::uint8_t>(to));
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t from,
                           std::uint32_t to) {
    if (record_bits(r[kReturnByte], 3, 7) == from) {
      set_record_bits(r[kReturnByte], 3, 7, to < 8 ? to : 7);
    }
  }
};
struct ChangeExtendedReturnNumberFromTo : ExtendedReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_extended_return_number_from_to";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t from, std::uint32_t to) {
    if (p.extended_return_number == from) {
      p.set_extended_return_number(static_cast<std::uint8_t>(to));
    }
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t from,
                           std::uint32_t to) {
    if (record_bits(r[kReturnByte], 0, 15) == from) set_record_bits(r[kReturnByte], 0, 15, to);
  }
};
struct ChangeExtendedNumberOfReturnsFromTo : ExtendedReturns {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_extended_number_of_returns_from_to";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p, std::uint32_t from, std::uint32_t to) {
    if (p.extended_number_of_returns == from) {
      p.set_extended_number_of_returns(static_cast<std::uint8_t>(to));
    }
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&, std::uint32_t from,
                           std::uint32_t to) {
    if (record_bits(r[kReturnByte], 4, 15) == from) set_record_bits(r[kReturnByte], 4, 15, to);
  }
};
struct RepairZeroReturns : LegacyReturns {
  static constexpr const char* kName = "repair_zero_returns";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p) {
    if (p.number_of_returns == 0) p.number_of_returns = 1;
    if (p.return_number == 0) p.return_number = 1;
  }
  static void apply_record(std::uint8_t* r, const LASrecordLayout&) {
    if (record_bits(r[kReturnByte], 3, 7) == 0) set_record_bits(r[kReturnByte], 3, 7, 1);
    if (record_bits(r[kReturnByte], 0, 7) == 0) set_record_bits(r[kReturnByte], 0, 7, 1);
  }
};

// ---- user data ----
struct SetUserData : MapsUserData<SetUserData> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_user_data";
  static constexpr std::uint32_t kLayers = 0;
  static std::uint8_t map(std::uint8_t, std::uint32_t value) {
    return static_cast<std::uint8_t>(value);
  }
};
struct ScaleUserData : MapsUserData<ScaleUserData> {
  using Value = float;
  static constexpr const char* kName = "scale_user_data";
  static constexpr std::uint32_t kLayers = layer::kUserData;
  static std::uint8_t map(std::uint8_t user_data, float scale) {
    return clamp_user_data(static_cast<float>(user_data) * scale);
  }
};
struct ChangeUserDataFromTo : MapsUserData<ChangeUserDataFromTo> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_user_data_from_to";
  static constexpr std::uint32_t kLayers = layer::kUserData;
  static std::uint8_t map(std::uint8_t user_data, std::uint32_t from, std::uint32_t to) {
    return user_data == from ? static_cast<std::uint8_t>(to) : user_data;
  }
};
struct CopyUserDataIntoPointSource {
  static constexpr const char* kName = "copy_user_data_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kUserData;
  static void apply(LASpoint& p) { p.point_source_ID = p.user_data; }
  static constexpr std::uint32_t kRecordWrites = record_writes::kPointSource;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout) {
    record_field::put<std::uint16_t>(r + layout.point_source, r[LASrecordLayout::kUserData]);
  }
};
struct CopyUserDataIntoScannerChannel {
  static constexpr const char* kName = "copy_user_data_into_scanner_channel";
  static constexpr std::uint32_t kLayers = layer::kUserData;
  static void apply(LASpoint& p) { p.set_extended_scanner_channel(p.user_data); }
};
// Point types 6-10 take any class; older ones only the 5-bit classes.
struct CopyUserDataIntoClassification {
  static constexpr const char* kName = "copy_user_data_into_classification";
  static constexpr std::uint32_t kLayers = layer::kUserData;
  static void apply(LASpoint& p) {
    if (p.extended_layout) {
      p.set_classification(p.user_data);
    } else if (p.user_data < 32) {
      p.set_classification(p.user_data);
    }
  }
};

// ---- scanner channel ----
struct CopyScannerChannelIntoPointSource {
  static constexpr const char* kName = "copy_scanner_channel_into_point_source";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p) { p.point_source_ID = p.extended_scanner_channel; }
};
struct CopyScannerChannelIntoUserData {
  static constexpr const char* kName = "copy_scanner_channel_into_user_data";
  static constexpr std::uint32_t kLayers = 0;
  static void apply(LASpoint& p) { p.user_data = p.extended_scanner_channel; }
};
struct MergeScannerChannelIntoPointSource {
  static constexpr const char* kName = "merge_scanner_channel_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kPointSource;
  static void apply(LASpoint& p) {
    p.point_source_ID =
        static_cast<std::uint16_t>(p.point_source_ID * 4u + p.extended_scanner_channel);
  }
};
struct SplitScannerChannelFromPointSource {
  static constexpr const char* kName = "split_scanner_channel_from_point_source";
  static constexpr std::uint32_t kLayers = layer::kPointSource;
  static void apply(LASpoint& p) {
    p.set_extended_scanner_channel(static_cast<std::uint8_t>(p.point_source_ID % 4u));
    p.point_source_ID = static_cast<std::uint16_t>(p.point_source_ID / 4u);
  }
};

// ---- point source ID ----
struct SetPointSource : MapsPointSource<SetPointSource> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "set_point_source";
  static constexpr std::uint32_t kLayers = 0;
  static std::uint16_t map(std::uint16_t, std::uint32_t value) {
    return static_cast<std::uint16_t>(value);
  }
};
struct ChangePointSourceFromTo : MapsPointSource<ChangePointSourceFromTo> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "change_point_source_from_to";
  static constexpr std::uint32_t kLayers = layer::kPointSource;
  static std::uint16_t map(std::uint16_t id, std::uint32_t from, std::uint32_t to) {
    return id == from ? static_cast<std::uint16_t>(to) : id;
  }
};
struct BinZintoPointSource {
  using Value = std::uint32_t;
  static constexpr const char* kName = "bin_Z_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kZ;
  static void apply(LASpoint& p, std::uint32_t bin) {
    const std::int64_t id = static_cast<std::int64_t>(p.Z) / static_cast<std::int64_t>(bin);
    p.point_source_ID = id <= 0 ? 0 : id > 65534 ? 65535 : static_cast<std::uint16_t>(id);
  }
};
struct BinAbsScanAngleIntoPointSource {
  using Value = float;
  static constexpr const char* kName = "bin_abs_scan_angle_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kScanAngle;
  static void apply(LASpoint& p, float bin) {
    const float angle = p.extended_layout ? std::fabs(p.extended_scan_angle * 0.006f)
                                          : std::fabs(static_cast<float>(p.scan_angle_rank));
    const float id = angle / bin;
    p.point_source_ID = !(id > 0.0f) ? 0 : id >= 65535.f ? 65535 : static_cast<std::uint16_t>(id);
  }
};
struct BinGpsTimeIntoPointSource {
  using Value = double;
  static constexpr const char* kName = "bin_gps_time_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kGpsTime;
  static void apply(LASpoint& p, double bin) {
    p.point_source_ID = static_cast<std::uint16_t>(round_half_away(p.gps_time / bin) & 0xFFFF);
  }
};
// The 5-bit class, or the extended classification when the class is 0.
struct CopyClassificationIntoUserData {
  static constexpr const char* kName = "copy_classification_into_user_data";
  static constexpr std::uint32_t kLayers = layer::kClassification;
  static void apply(LASpoint& p) {
    p.user_data = p.classification ? p.classification : p.extended_classification;
  }
};
struct CopyClassificationIntoPointSource {
  static constexpr const char* kName = "copy_classification_into_point_source";
  static constexpr std::uint32_t kLayers = layer::kClassification;
  static void apply(LASpoint& p) {
    p.point_source_ID = p.classification ? p.classification : p.extended_classification;
  }
};
struct CopyIntensityIntoClassification {
  static constexpr const char* kName = "copy_intensity_into_classification";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static void apply(LASpoint& p) {
    if (p.intensity < 32) p.set_classification(static_cast<std::uint8_t>(p.intensity));
  }
  static constexpr std::uint32_t kRecordWrites = record_writes::kOther;
  static void apply_record(std::uint8_t* r, const LASrecordLayout& layout) {
    const std::uint16_t intensity =
        record_field::get<std::uint16_t>(r + LASrecordLayout::kIntensity);
    if (intensity < 32) set_record_class(r, layout, static_cast<std::uint8_t>(intensity));
  }
};

// ---- GPS time ----
struct SetGpsTime : MapsGpsTime<SetGpsTime> {
  using Value = double;
  static constexpr const char* kName = "set_gps_time";
  static constexpr std::uint32_t kLayers = 0;
  static double map(double, double value) { return value; }
};
struct TranslateGpsTime : MapsGpsTime<TranslateGpsTime> {
  using Value = double;
  static constexpr const char* kName = "translate_gps_time";
  static constexpr std::uint32_t kLayers = layer::kGpsTime;
  static double map(double time, double offset) { return time + offset; }
};
inline constexpr double kSecondsPerWeek = 604800.0;
inline constexpr double kAdjustedOffset = 1000000000.0;
// Adjusted standard GPS time (GPS seconds minus 10^9) to seconds of its GPS week.
struct ConvertAdjustedGpsToWeek : MapsGpsTime<ConvertAdjustedGpsToWeek> {
  static constexpr const char* kName = "adjusted_to_week";
  static constexpr std::uint32_t kLayers = layer::kGpsTime;
  static double map(double time) {
    const double week = std::trunc(time / kSecondsPerWeek + 1653.4391534391534);
    return time - (week * kSecondsPerWeek - kAdjustedOffset);
  }
};
struct ConvertWeekToAdjustedGps : MapsGpsTime<ConvertWeekToAdjustedGps> {
  using Value = std::uint32_t;
  static constexpr const char* kName = "week_to_adjusted";
  static constexpr std::uint32_t kLayers = layer::kGpsTime;
  static double map(double time, std::uint32_t week) {
    return time + (static_cast<double>(week) * kSecondsPerWeek - kAdjustedOffset);
  }
};

// ---- wave packet ----
// The direction vector is the last three floats of the 29-byte wave packet.
inline constexpr std::size_t kWaveDirectionOffset = 17;
struct FlipWaveformDirection {
  static constexpr const char* kName = "flip_waveform_direction";
  static constexpr std::uint32_t kLayers = layer::kWavePacket;
  static void apply(LASpoint& p) {
    for (int k = 0; k < 3; k++) {
      float component;
      std::uint8_t* at = p.wave_packet + kWaveDirectionOffset + 4 * k;
      std::memcpy(&component, at, 4);
      component = -component;
      std::memcpy(at, &component, 4);
    }
  }
};

}  // namespace value_kernels

using LASoperationTranslateIntensity = LASoperationOneArgument<value_kernels::TranslateIntensity>;
using LASoperationScaleIntensity = LASoperationOneArgument<value_kernels::ScaleIntensity>;
using LASoperationTranslateThenScaleIntensity =
    LASoperationTwoArguments<value_kernels::TranslateThenScaleIntensity>;
using LASoperationClampIntensity = LASoperationTwoArguments<value_kernels::ClampIntensity>;
using LASoperationClampIntensityBelow = LASoperationOneArgument<value_kernels::ClampIntensityBelow>;
using LASoperationClampIntensityAbove = LASoperationOneArgument<value_kernels::ClampIntensityAbove>;
using LASoperationSetIntensity = LASoperationOneArgument<value_kernels::SetIntensity>;
using LASoperationBinGpsTimeIntoIntensity =
    LASoperationOneArgument<value_kernels::BinGpsTimeIntoIntensity>;
using LASoperationTranslateScanAngle = LASoperationOneArgument<value_kernels::TranslateScanAngle>;
using LASoperationScaleScanAngle = LASoperationOneArgument<value_kernels::ScaleScanAngle>;
using LASoperationTranslateThenScaleScanAngle =
    LASoperationTwoArguments<value_kernels::TranslateThenScaleScanAngle>;
using LASoperationSetScanAngle = LASoperationOneArgument<value_kernels::SetScanAngle>;
using LASoperationSetClassification = LASoperationOneArgument<value_kernels::SetClassification>;
using LASoperationChangeClassificationFromTo =
    LASoperationTwoArguments<value_kernels::ChangeClassificationFromTo>;
using LASoperationMoveAncientToExtendedClassification =
    LASoperationNoArgument<value_kernels::MoveAncientToExtendedClassification>;
using LASoperationSetWithheldFlag = LASoperationOneArgument<value_kernels::SetWithheldFlag>;
using LASoperationSetSyntheticFlag = LASoperationOneArgument<value_kernels::SetSyntheticFlag>;
using LASoperationSetKeypointFlag = LASoperationOneArgument<value_kernels::SetKeypointFlag>;
using LASoperationSetExtendedOverlapFlag =
    LASoperationOneArgument<value_kernels::SetExtendedOverlapFlag>;
using LASoperationSetScanDirectionFlag =
    LASoperationOneArgument<value_kernels::SetScanDirectionFlag>;
using LASoperationSetEdgeOfFlightLine = LASoperationOneArgument<value_kernels::SetEdgeOfFlightLine>;
using LASoperationSetExtendedScannerChannel =
    LASoperationOneArgument<value_kernels::SetExtendedScannerChannel>;
using LASoperationSetReturnNumber = LASoperationOneArgument<value_kernels::SetReturnNumber>;
using LASoperationSetNumberOfReturns = LASoperationOneArgument<value_kernels::SetNumberOfReturns>;
using LASoperationSetExtendedReturnNumber =
    LASoperationOneArgument<value_kernels::SetExtendedReturnNumber>;
using LASoperationSetExtendedNumberOfReturns =
    LASoperationOneArgument<value_kernels::SetExtendedNumberOfReturns>;
using LASoperationChangeReturnNumberFromTo =
    LASoperationTwoArguments<value_kernels::ChangeReturnNumberFromTo>;
using LASoperationChangeNumberOfReturnsFromTo =
    LASoperationTwoArguments<value_kernels::ChangeNumberOfReturnsFromTo>;
using LASoperationChangeExtendedReturnNumberFromTo =
    LASoperationTwoArguments<value_kernels::ChangeExtendedReturnNumberFromTo>;
using LASoperationChangeExtendedNumberOfReturnsFromTo =
    LASoperationTwoArguments<value_kernels::ChangeExtendedNumberOfReturnsFromTo>;
using LASoperationRepairZeroReturns = LASoperationNoArgument<value_kernels::RepairZeroReturns>;
using LASoperationSetUserData = LASoperationOneArgument<value_kernels::SetUserData>;
using LASoperationScaleUserData = LASoperationOneArgument<value_kernels::ScaleUserData>;
using LASoperationChangeUserDataFromTo =
    LASoperationTwoArguments<value_kernels::ChangeUserDataFromTo>;
using LASoperationCopyUserDataIntoPointSource =
    LASoperationNoArgument<value_kernels::CopyUserDataIntoPointSource>;
using LASoperationCopyUserDataIntoScannerChannel =
    LASoperationNoArgument<value_kernels::CopyUserDataIntoScannerChannel>;
using LASoperationCopyUserDataIntoClassification =
    LASoperationNoArgument<value_kernels::CopyUserDataIntoClassification>;
using LASoperationCopyScannerChannelIntoPointSource =
    LASoperationNoArgument<value_kernels::CopyScannerChannelIntoPointSource>;
using LASoperationCopyScannerChannelIntoUserData =
    LASoperationNoArgument<value_kernels::CopyScannerChannelIntoUserData>;
using LASoperationMergeScannerChannelIntoPointSource =
    LASoperationNoArgument<value_kernels::MergeScannerChannelIntoPointSource>;
using LASoperationSplitScannerChannelFromPointSource =
    LASoperationNoArgument<value_kernels::SplitScannerChannelFromPointSource>;
using LASoperationSetPointSource = LASoperationOneArgument<value_kernels::SetPointSource>;
using LASoperationChangePointSourceFromTo =
    LASoperationTwoArguments<value_kernels::ChangePointSourceFromTo>;
using LASoperationBinZintoPointSource = LASoperationOneArgument<value_kernels::BinZintoPointSource>;
using LASoperationBinAbsScanAngleIntoPointSource =
    LASoperationOneArgument<value_kernels::BinAbsScanAngleIntoPointSource>;
using LASoperationBinGpsTimeIntoPointSource =
    LASoperationOneArgument<value_kernels::BinGpsTimeIntoPointSource>;
using LASoperationCopyClassificationIntoUserData =
    LASoperationNoArgument<value_kernels::CopyClassificationIntoUserData>;
using LASoperationCopyClassificationIntoPointSource =
    LASoperationNoArgument<value_kernels::CopyClassificationIntoPointSource>;
using LASoperationCopyIntensityIntoClassification =
    LASoperationNoArgument<value_kernels::CopyIntensityIntoClassification>;
using LASoperationSetGpsTime = LASoperationOneArgument<value_kernels::SetGpsTime>;
using LASoperationTranslateGpsTime = LASoperationOneArgument<value_kernels::TranslateGpsTime>;
using LASoperationConvertAdjustedGpsToWeek =
    LASoperationNoArgument<value_kernels::ConvertAdjustedGpsToWeek>;
using LASoperationConvertWeekToAdjustedGps =
    LASoperationOneArgument<value_kernels::ConvertWeekToAdjustedGps>;
using LASoperationFlipWaveformDirection =
    LASoperationNoArgument<value_kernels::FlipWaveformDirection>;
