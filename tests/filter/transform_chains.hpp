#pragma once

// Chains of transform operations, by family, that have a record form on the point types
// named: the filter's tests and the tool's run them through the record form and the point
// form and compare the bytes.

namespace transform_chains {

// Which point types a chain of operations has a record form for.
enum class Types { kAll, kWithGpsTime, kLegacy, kExtended };

struct Chain {
  const char* family;
  const char* operations;  // blank-separated
  Types types;
};

inline constexpr Chain kChains[] = {
    {"translations and scalings",
     "-translate_xyz 0.5 -0.005 0.005 -translate_x 0.005 -translate_then_scale_y -0.25 1.5 "
     "-scale_z 0.5 -scale_xyz 1 2 1 -translate_raw_xyz 3 -7 11 -translate_z -0.005",
     Types::kAll},
    // Whole stored units: added as integers, overflows counted alike.
    {"translations by whole units",
     "-translate_xyz 0.5 0.5 0 -translate_y -3 -translate_z 2.25 -translate_x 1e-9", Types::kAll},
    {"rotations, clamps and switches, then classes set",
     "-rotate_xy 30 100 200 -transform_helmert 1,2,3,0.5,-0.5,1,20 -transform_affine "
     "1.0001,2,5,-5 -translate_raw_xy_at_random 3 5 -clamp_z -5 40 -clamp_raw_z -300 3000 "
     "-switch_x_y -set_intensity 5 -set_classification 40 -set_point_source 17 "
     "-set_withheld_flag 0 -change_classification_from_to 0 4",
     Types::kAll},
    // A class of 32 or more set on types 0-5 leaves class 0, which the next change matches.
    {"intensity, user data, classes, flags and point sources",
     "-scale_intensity 2 -translate_intensity -50 -clamp_intensity 10 60000 "
     "-translate_then_scale_intensity 0.5 1.5 -clamp_intensity_below 3 -clamp_intensity_above "
     "65000 -set_user_data 7 -scale_user_data 1.7 -change_user_data_from_to 11 200 "
     "-change_classification_from_to 0 7 -change_classification_from_to 3 45 "
     "-change_classification_from_to 0 9 -set_withheld_flag 1 -set_synthetic_flag 0 "
     "-set_keypoint_flag 1 -change_point_source_from_to 3 9",
     Types::kAll},
    {"GPS time", "-translate_gps_time 1000.5 -adjusted_to_week -week_to_adjusted 1800",
     Types::kWithGpsTime},
    {"scan angle rank, returns set (types 0-5)",
     "-translate_scan_angle 10 -scale_scan_angle 1.5 -translate_then_scale_scan_angle -3.5 0.7 "
     "-set_number_of_returns 6 -set_return_number 2",
     Types::kLegacy},
    {"returns, scan flags and copies (types 0-5)",
     "-repair_zero_returns -change_number_of_returns_from_to 2 3 -change_return_number_from_to 1 "
     "5 -set_scan_direction_flag 1 -set_edge_of_flight_line 0 -scale_intensity 0.0005 "
     "-copy_intensity_into_classification -copy_user_data_into_point_source",
     Types::kLegacy},
    {"returns, scan flags and copies (types 6-10)",
     "-change_extended_return_number_from_to 1 9 -change_extended_number_of_returns_from_to 0 "
     "15 -set_scan_direction_flag 0 -set_edge_of_flight_line 1 -scale_intensity 0.0005 "
     "-copy_intensity_into_classification -copy_user_data_into_point_source",
     Types::kExtended},
    {"returns set (types 6-10)", "-set_extended_number_of_returns 12 -set_extended_return_number 3",
     Types::kExtended},
};

}  // namespace transform_chains
