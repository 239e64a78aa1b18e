// The options of the point transform as one table: each row names the option, its
// arguments (as the messages print them), the handler of its family and what the family
// needs to tell its rows apart.

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "filter/las_operations_attributes.hpp"
#include "filter/las_operations_colors.hpp"
#include "filter/las_operations_coordinates.hpp"
#include "filter/las_operations_values.hpp"
#include "filter/las_transform.hpp"
#include "filter/las_transform_option_row.hpp"
#include "options/command_options.hpp"

namespace {

using namespace transform_options;

// ---------------------------------------------------------------------------------------
// The table

Row flag_row(std::string_view name, MakeOne make, const char* message) {
  Row row{name, 1, "value", &set_unsigned};
  row.wording = Wording::kNeed;
  row.limit = 1;
  row.range_message = message;
  row.make_one = make;
  return row;
}

Row set_row(std::string_view name, const char* arguments, std::uint32_t limit, MakeOne make,
            const char* message, std::uint32_t changed = 0) {
  Row row{name, 1, arguments, &set_unsigned};
  row.limit = limit;
  row.range_message = message;
  row.make_one = make;
  row.changed = changed;
  return row;
}

Row change_row(std::string_view name, std::uint32_t limit, const char* field, MakeTwo make) {
  Row row{name, 2, "from_value to_value", &change_from_to};
  row.limit = limit;
  row.range_message = field;
  row.make_two = make;
  return row;
}

// Starts a section of the help (-h transform); parsing passes over it.
Row heading_row(const char* heading) {
  return Row{"", 0, heading, nullptr};
}

Row plain_row(std::string_view name, MakeNone make, std::uint32_t changed = 0) {
  Row row{name, 0, "", &without_arguments};
  row.make_none = make;
  row.changed = changed;
  return row;
}

Row number_row(std::string_view name, int count, const char* arguments, Handler handler,
               int variant = 0) {
  Row row{name, count, arguments, handler, variant};
  row.invalid_word = "number";
  return row;
}

Row family_row(std::string_view name, int count, const char* arguments, Handler handler,
               int variant = 0) {
  return Row{name, count, arguments, handler, variant};
}

Row divided_row(std::string_view name, int channel) {
  Row row{name, 1, "divisor ", &multiply_intensity_into_channel, channel};
  row.invalid_word = "divisor";
  return row;
}

const std::vector<Row>& option_rows() {
  static const std::vector<Row> rows = {
      heading_row("Translate (add an offset)"),
      number_row("-translate_x", 1, "offset", &translate_axis, 0),
      number_row("-translate_y", 1, "offset", &translate_axis, 1),
      number_row("-translate_z", 1, "offset", &translate_axis, 2),
      number_row("-translate_xyz", 3, "offset_x offset_y offset_z", &translate_xyz),
      number_row("-translate_then_scale_x", 2, "offset scale", &translate_then_scale_axis, 0),
      number_row("-translate_then_scale_y", 2, "offset scale", &translate_then_scale_axis, 1),
      number_row("-translate_then_scale_z", 2, "offset scale", &translate_then_scale_axis, 2),
      family_row("-translate_raw_x", 1, "raw_offset", &translate_raw_axis, 0),
      family_row("-translate_raw_y", 1, "raw_offset", &translate_raw_axis, 1),
      family_row("-translate_raw_z", 1, "raw_offset", &translate_raw_axis, 2),
      family_row("-translate_raw_xyz", 3, "raw_offset_x raw_offset_y raw_offset_z",
                 &translate_raw_xyz),
      family_row("-translate_raw_xy_at_random", 2, "max_raw_offset_x max_raw_offset_y",
                 &translate_raw_xy_at_random),
      family_row("-translate_intensity", 1, "offset", &float_value, 0),
      family_row("-translate_then_scale_intensity", 2, "offset scale", &translate_then_scale_float,
                 0),
      family_row("-translate_scan_angle", 1, "offset", &float_value, 2),
      family_row("-translate_then_scale_scan_angle", 2, "offset scale", &translate_then_scale_float,
                 1),
      family_row("-translate_gps_time", 1, "offset", &gps_time_value, 0),
      family_row("-translate_attribute", 2, "index offset", &attribute_with_number, 0),
      heading_row("Rotate and transform coordinates"),
      number_row("-rotate_xy", 3, "angle rot_center_x rot_center_y", &rotate, 0),
      number_row("-rotate_xz", 3, "angle rot_center_x rot_center_z", &rotate, 1),
      number_row("-rotate_yz", 3, "angle rot_center_y rot_center_z", &rotate, 2),
      family_row("-transform_helmert", 1, "3 or 7 comma separated parameters", &transform_helmert),
      family_row("-transform_affine", 1, "4 comma separated parameters", &transform_affine),
      heading_row("Clamp to a range"),
      family_row("-clamp_z", 2, "below above", &clamp_z, 0),
      family_row("-clamp_z_below", 1, "below", &clamp_z, 1),
      family_row("-clamp_z_above", 1, "above", &clamp_z, 2),
      family_row("-clamp_raw_z", 2, "below above", &clamp_raw_z),
      family_row("-clamp_intensity", 2, "below above", &clamp_intensity, 0),
      family_row("-clamp_intensity_below", 1, "below", &clamp_intensity, 1),
      family_row("-clamp_intensity_above", 1, "above", &clamp_intensity, 2),
      heading_row("Scale (multiply)"),
      number_row("-scale_x", 1, "scale", &scale_axis, 0),
      number_row("-scale_y", 1, "scale", &scale_axis, 1),
      number_row("-scale_z", 1, "scale", &scale_axis, 2),
      number_row("-scale_xyz", 3, "scale_x scale_y scale_z", &scale_xyz),
      family_row("-scale_intensity", 1, "scale", &float_value, 1),
      family_row("-scale_scan_angle", 1, "scale", &float_value, 3),
      family_row("-scale_user_data", 1, "scale", &float_value, 4),
      family_row("-scale_RGB", 3, "scale_R scale_G scale_B", &scale_rgb),
      family_row("-scale_rgb", 3, "scale_R scale_G scale_B", &scale_rgb),
      plain_row("-scale_RGB_down", &make_none<LASoperationScaleRGBdown>, kChangedRGB),
      plain_row("-scale_rgb_down", &make_none<LASoperationScaleRGBdown>, kChangedRGB),
      plain_row("-scale_RGB_up", &make_none<LASoperationScaleRGBup>, kChangedRGB),
      plain_row("-scale_rgb_up", &make_none<LASoperationScaleRGBup>, kChangedRGB),
      plain_row("-scale_RGB_to_8bit", &make_none<LASoperationScaleRGBto8bit>, kChangedRGB),
      plain_row("-scale_rgb_to_8bit", &make_none<LASoperationScaleRGBto8bit>, kChangedRGB),
      plain_row("-scale_RGB_to_16bit", &make_none<LASoperationScaleRGBto16bit>, kChangedRGB),
      plain_row("-scale_rgb_to_16bit", &make_none<LASoperationScaleRGBto16bit>, kChangedRGB),
      family_row("-scale_attribute", 2, "index scale", &attribute_with_number, 2),
      heading_row("Set a field to a value"),
      set_row("-set_classification", "classification", 255,
              &make_one<LASoperationSetClassification>,
              "ERROR: cannot set classification because classification of %u is larger than "
              "255\n"),
      set_row("-set_extended_classification", "classification", 255,
              &make_one<LASoperationSetClassification>,
              "ERROR: cannot set classification because classification of %u is larger than "
              "255\n"),
      set_row("-set_intensity", "value", 65535, &make_one<LASoperationSetIntensity>,
              "ERROR: cannot set intensity because value of %u is larger than %u\n"),
      flag_row("-set_withheld_flag", &make_one<LASoperationSetWithheldFlag>,
               "ERROR: cannot set withheld flag because value %u is larger than 1\n"),
      flag_row("-set_synthetic_flag", &make_one<LASoperationSetSyntheticFlag>,
               "ERROR: cannot set synthetic flag because value %u is larger than 1\n"),
      flag_row("-set_keypoint_flag", &make_one<LASoperationSetKeypointFlag>,
               "ERROR: cannot set keypoint flag because value %u is larger than 1\n"),
      flag_row("-set_overlap_flag", &make_one<LASoperationSetExtendedOverlapFlag>,
               "ERROR: cannot set overlap flag because value %u is larger than 1\n"),
      flag_row("-set_extended_overlap_flag", &make_one<LASoperationSetExtendedOverlapFlag>,
               "ERROR: cannot set overlap flag because value %u is larger than 1\n"),
      flag_row("-set_scan_direction_flag", &make_one<LASoperationSetScanDirectionFlag>,
               "ERROR: cannot set scan direction flag because value %u is larger than 1\n"),
      flag_row("-set_edge_of_flight_line", &make_one<LASoperationSetEdgeOfFlightLine>,
               "ERROR: cannot set edge of flight line because value %u is larger than 1\n"),
      set_row("-set_scanner_channel", "value", 3, &make_one<LASoperationSetExtendedScannerChannel>,
              "ERROR: cannot set scanner channel because value %u is larger than 3\n"),
      set_row("-set_extended_scanner_channel", "value", 3,
              &make_one<LASoperationSetExtendedScannerChannel>,
              "ERROR: cannot set scanner channel because value %u is larger than 3\n"),
      set_row("-set_user_data", "value", 255, &make_one<LASoperationSetUserData>,
              "ERROR: cannot set user data because value %u is larger than %d\n"),
      family_row("-set_scan_angle", 1, "value", &set_scan_angle),
      [] {
        Row row = set_row("-set_point_source", "psid", 65535, &make_one<LASoperationSetPointSource>,
                          "ERROR: cannot set point source ID because value %u is larger than %d\n");
        row.wording = Wording::kNeed;
        return row;
      }(),
      set_row("-set_return_number", "value", 7, &make_one<LASoperationSetReturnNumber>,
              "ERROR: cannot set return_number because %u is larger than 7\n"),
      set_row("-set_extended_return_number", "value", 15,
              &make_one<LASoperationSetExtendedReturnNumber>,
              "ERROR: cannot set extended_return_number because %u is larger than 15\n"),
      set_row("-set_number_of_returns", "value", 7, &make_one<LASoperationSetNumberOfReturns>,
              "ERROR: cannot set number_of_returns because %u is larger than 7\n"),
      set_row("-set_extended_number_of_returns", "value", 15,
              &make_one<LASoperationSetExtendedNumberOfReturns>,
              "ERROR: cannot set extended_number_of_returns because %u is larger than 15\n"),
      family_row("-set_gps_time", 1, "gps_time", &gps_time_value, 1),
      family_row("-set_attribute", 2, "index value", &attribute_with_number, 1),
      family_row("-set_RGB", 3, "R G B", &set_rgb),
      family_row("-set_RGB_of_class", 4, "classification R G B", &set_rgb_of_class),
      heading_row("Change one value of a field into another"),
      change_row("-change_classification_from_to", 255, "classification",
                 &make_two<LASoperationChangeClassificationFromTo>),
      change_row("-change_extended_classification_from_to", 255, "classification",
                 &make_two<LASoperationChangeClassificationFromTo>),
      change_row("-change_user_data_from_to", 255, "user_data",
                 &make_two<LASoperationChangeUserDataFromTo>),
      change_row("-change_point_source_from_to", 65535, "point_source",
                 &make_two<LASoperationChangePointSourceFromTo>),
      change_row("-change_return_number_from_to", 7, "return_number",
                 &make_two<LASoperationChangeReturnNumberFromTo>),
      change_row("-change_number_of_returns_from_to", 7, "number_of_returns",
                 &make_two<LASoperationChangeNumberOfReturnsFromTo>),
      change_row("-change_extended_return_number_from_to", 15, "extended_return_number",
                 &make_two<LASoperationChangeExtendedReturnNumberFromTo>),
      change_row("-change_extended_number_of_returns_from_to", 15, "extended_number_of_returns",
                 &make_two<LASoperationChangeExtendedNumberOfReturnsFromTo>),
      heading_row("Classify by a value"),
      family_row("-classify_z_below_as", 2, "z_value classification", &classify_z, 0),
      family_row("-classify_z_above_as", 2, "z_value classification", &classify_z, 1),
      family_row("-classify_z_between_as", 3, "z_min z_max classification", &classify_z, 2),
      family_row("-classify_intensity_below_as", 2, "value classification", &classify_intensity, 0),
      family_row("-classify_intensity_above_as", 2, "value classification", &classify_intensity, 1),
      family_row("-classify_intensity_between_as", 3, "min_value max_value classification",
                 &classify_intensity, 2),
      family_row("-classify_attribute_below_as", 3, "attribute_index value classification",
                 &classify_attribute, 0),
      family_row("-classify_attribute_above_as", 3, "attribute_index value classification",
                 &classify_attribute, 1),
      family_row("-classify_attribute_between_as", 4, "attribute_index min max classification",
                 &classify_attribute, 2),
      heading_row("Copy one field into another"),
      family_row("-copy_attribute_into_x", 1, "index", &attribute_index, 0),
      family_row("-copy_attribute_into_y", 1, "index", &attribute_index, 1),
      family_row("-copy_attribute_into_z", 1, "index", &attribute_index, 2),
      family_row("-copy_attribute_into_user_data", 1, "index", &attribute_index, 3),
      family_row("-copy_attribute_into_intensity", 1, "index", &attribute_index, 4),
      plain_row("-copy_user_data_into_point_source",
                &make_none<LASoperationCopyUserDataIntoPointSource>),
      plain_row("-copy_user_data_into_scanner_channel",
                &make_none<LASoperationCopyUserDataIntoScannerChannel>),
      plain_row("-copy_user_data_into_classification",
                &make_none<LASoperationCopyUserDataIntoClassification>),
      plain_row("-copy_user_data_into_z", &make_none<LASoperationCopyUserDataIntoZ>, kChangedZ),
      family_row("-copy_user_data_into_attribute", 1, "index", &attribute_index, 5),
      plain_row("-copy_scanner_channel_into_point_source",
                &make_none<LASoperationCopyScannerChannelIntoPointSource>),
      plain_row("-copy_scanner_channel_into_user_data",
                &make_none<LASoperationCopyScannerChannelIntoUserData>),
      plain_row("-copy_RGB_into_intensity", &make_none<LASoperationCopyRGBintoIntensity>),
      plain_row("-copy_R_into_intensity", &make_none<LASoperationCopyRintoIntensity>),
      plain_row("-copy_G_into_intensity", &make_none<LASoperationCopyGintoIntensity>),
      plain_row("-copy_B_into_intensity", &make_none<LASoperationCopyBintoIntensity>),
      plain_row("-copy_R_into_NIR", &make_none<LASoperationCopyRintoNIR>, kChangedNIR),
      plain_row("-copy_G_into_NIR", &make_none<LASoperationCopyGintoNIR>, kChangedNIR),
      plain_row("-copy_B_into_NIR", &make_none<LASoperationCopyBintoNIR>, kChangedNIR),
      plain_row("-copy_NIR_into_intensity", &make_none<LASoperationCopyNIRintoIntensity>),
      plain_row("-copy_intensity_into_z", &make_none<LASoperationCopyIntensityIntoZ>, kChangedZ),
      plain_row("-copy_intensity_into_NIR", &make_none<LASoperationCopyIntensityIntoNIR>,
                kChangedNIR),
      plain_row("-copy_intensity_into_classification",
                &make_none<LASoperationCopyIntensityIntoClassification>),
      plain_row("-copy_classification_into_user_data",
                &make_none<LASoperationCopyClassificationIntoUserData>),
      plain_row("-copy_classification_into_point_source",
                &make_none<LASoperationCopyClassificationIntoPointSource>),
      heading_row("Switch fields"),
      plain_row("-switch_x_y", &make_none<LASoperationSwitchXY>, kChangedX | kChangedY),
      plain_row("-switch_x_z", &make_none<LASoperationSwitchXZ>, kChangedX | kChangedZ),
      plain_row("-switch_y_z", &make_none<LASoperationSwitchYZ>, kChangedY | kChangedZ),
      plain_row("-switch_R_G", &make_none<LASoperationSwitchRG>, kChangedRGB),
      plain_row("-switch_R_B", &make_none<LASoperationSwitchRB>, kChangedRGB),
      plain_row("-switch_G_B", &make_none<LASoperationSwitchGB>, kChangedRGB),
      plain_row("-switch_RGBI_into_CIR", &make_none<LASoperationSwitchRGBItoCIR>, kChangedRGB),
      plain_row("-switch_RGB_intensity_into_CIR", &make_none<LASoperationSwitchRGBIntensitytoCIR>,
                kChangedRGB),
      heading_row("Bin values into a field"),
      family_row("-bin_Z_into_point_source", 1, "bin_size", &bin_z),
      family_row("-bin_abs_scan_angle_into_point_source", 1, "bin_size", &bin_scan_angle),
      family_row("-bin_gps_time_into_intensity", 1, "bin_size", &bin_gps_time, 0),
      family_row("-bin_gps_time_into_point_source", 1, "bin_size", &bin_gps_time, 1),
      heading_row("Map values from a file, load attributes from text"),
      family_row("-map_user_data", 1, "map_file_name.txt", &map_values,
                 static_cast<int>(LASmapField::kUserData)),
      family_row("-map_point_source", 1, "map_file_name.txt", &map_values,
                 static_cast<int>(LASmapField::kPointSource)),
      family_row("-map_intensity", 1, "map_file_name.txt", &map_values,
                 static_cast<int>(LASmapField::kIntensity)),
      family_row("-map_attribute_into_RGB", 2, "attribute_index map_file_name.txt",
                 &map_attribute_into_rgb),
      family_row("-load_attribute_from_text", 2, "attribute_index attribute_file_name.txt",
                 &load_attribute_from_text),
      heading_row("Add and multiply"),
      family_row("-add_attribute_to_z", 1, "index", &attribute_index, 6),
      family_row("-add_scaled_attribute_to_z", 2, "index scale", &attribute_with_number, 3),
      family_row("-add_scaled_attribute_to_user_data", 2, "index scale", &attribute_with_number, 4),
      family_row("-multiply_scaled_intensity_into_RGB_red", 1, "scale",
                 &multiply_intensity_into_channel, 0),
      family_row("-multiply_scaled_intensity_into_RGB_green", 1, "scale",
                 &multiply_intensity_into_channel, 1),
      family_row("-multiply_scaled_intensity_into_RGB_blue", 1, "scale",
                 &multiply_intensity_into_channel, 2),
      family_row("-multiply_scaled_intensity_into_RGB_nir", 1, "scale",
                 &multiply_intensity_into_channel, 3),
      divided_row("-multiply_divided_intensity_into_RGB_red", 0),
      divided_row("-multiply_divided_intensity_into_RGB_green", 1),
      divided_row("-multiply_divided_intensity_into_RGB_blue", 2),
      divided_row("-multiply_divided_intensity_into_RGB_nir", 3),
      heading_row("Other operations"),
      plain_row("-merge_scanner_channel_into_point_source",
                &make_none<LASoperationMergeScannerChannelIntoPointSource>),
      plain_row("-split_scanner_channel_from_point_source",
                &make_none<LASoperationSplitScannerChannelFromPointSource>),
      plain_row("-move_ancient_to_extended_classification",
                &make_none<LASoperationMoveAncientToExtendedClassification>),
      plain_row("-flip_waveform_direction", &make_none<LASoperationFlipWaveformDirection>),
      plain_row("-repair_zero_returns", &make_none<LASoperationRepairZeroReturns>),
      plain_row("-adjusted_to_week", &make_none<LASoperationConvertAdjustedGpsToWeek>),
      set_row("-week_to_adjusted", "week", UINT32_MAX,
              &make_one<LASoperationConvertWeekToAdjustedGps>, ""),
      [] {
        Row row = family_row("-filtered_transform", 0, "", &filtered_transform);
        row.help = "change only the points the filter options select (none is dropped)";
        return row;
      }(),
  };
  return rows;
}

const Row* find_row(std::string_view name) {
  for (const Row& row : option_rows()) {
    if (row.name == name && row.handler != nullptr) return &row;
  }
  return nullptr;
}

constexpr const char* kUsageLines[] = {
    "Transform coordinates.\n",
    "  -translate_x -2.5\n",
    "  -scale_z 0.3048\n",
    "  -rotate_xy 15.0 620000 4100000 (angle + origin)\n",
    "  -translate_xyz 0.5 0.5 0\n",
    "  -translate_then_scale_y -0.5 1.001\n",
    "  -transform_helmert -199.87,74.79,246.62\n",
    "  -transform_helmert 598.1,73.7,418.2,0.202,0.045,-2.455,6.7\n",
    "  -transform_affine 0.9999652,0.903571,171.67,736.26\n",
    "  -switch_x_y -switch_x_z -switch_y_z\n",
    "  -clamp_z_below 70.5\n",
    "  -clamp_z 70.5 72.5\n",
    "  -copy_attribute_into_z 0\n",
    "  -add_attribute_to_z 1\n",
    "  -add_scaled_attribute_to_z 1 -1.2\n",
    "  -copy_user_data_into_z\n",
    "  -copy_intensity_into_z\n",
    "Transform raw xyz integers.\n",
    "  -translate_raw_z 20\n",
    "  -translate_raw_xyz 1 1 0\n",
    "  -translate_raw_xy_at_random 2 2\n",
    "  -clamp_raw_z 500 800\n",
    "Transform intensity.\n",
    "  -set_intensity 0\n",
    "  -scale_intensity 2.5\n",
    "  -translate_intensity 50\n",
    "  -translate_then_scale_intensity 0.5 3.1\n",
    "  -clamp_intensity 0 255\n",
    "  -clamp_intensity_above 255\n",
    "  -map_intensity map_file.txt\n",
    "  -copy_RGB_into_intensity\n",
    "  -copy_NIR_into_intensity\n",
    "  -copy_attribute_into_intensity 0\n",
    "  -bin_gps_time_into_intensity 0.5\n",
    "Transform scan_angle.\n",
    "  -scale_scan_angle 1.944445\n",
    "  -translate_scan_angle -5\n",
    "  -translate_then_scale_scan_angle -0.5 2.1\n",
    "  -set_scan_angle 10.0\n",
    "Change the return number or return count of points.\n",
    "  -repair_zero_returns\n",
    "  -set_return_number 1\n",
    "  -set_extended_return_number 10\n",
    "  -change_return_number_from_to 2 1\n",
    "  -change_extended_return_number_from_to 2 8\n",
    "  -set_number_of_returns 2\n",
    "  -set_extended_number_of_returns 15\n",
    "  -change_number_of_returns_from_to 0 2\n",
    "  -change_extended_number_of_returns_from_to 8 10\n",
    "Modify the classification.\n",
    "  -set_classification 2\n",
    "  -set_extended_classification 41\n",
    "  -change_classification_from_to 2 4\n",
    "  -change_extended_classification_from_to 1 44\n",
    "  -classify_z_below_as -5.0 7\n",
    "  -classify_z_above_as 70.0 7\n",
    "  -classify_z_between_as 2.0 5.0 4\n",
    "  -classify_intensity_above_as 200 9\n",
    "  -classify_intensity_below_as 30 11\n",
    "  -classify_intensity_between_as 500 900 15\n",
    "  -classify_attribute_below_as 0 -5.0 7\n",
    "  -classify_attribute_above_as 1 70.0 7\n",
    "  -classify_attribute_between_as 1 2.0 5.0 4\n",
    "  -change_extended_classification_from_to 6 46\n",
    "  -move_ancient_to_extended_classification\n",
    "  -copy_user_data_into_classification\n",
    "  -copy_intensity_into_classification\n",
    "Change the flags.\n",
    "  -set_withheld_flag 0\n",
    "  -set_synthetic_flag 1\n",
    "  -set_keypoint_flag 0\n",
    "  -set_extended_overlap_flag 1\n",
    "  -set_scan_direction_flag 0\n",
    "  -set_edge_of_flight_line 1\n",
    "Modify the extended scanner channel.\n",
    "  -set_extended_scanner_channel 2\n",
    "  -copy_user_data_into_scanner_channel\n",
    "Modify the user data.\n",
    "  -set_user_data 0\n",
    "  -scale_user_data 1.5\n",
    "  -change_user_data_from_to 23 26\n",
    "  -map_user_data map_file.txt\n",
    "  -copy_scanner_channel_into_user_data\n",
    "  -copy_attribute_into_user_data 1\n",
    "  -add_scaled_attribute_to_user_data 0 10.0\n",
    "  -copy_classification_into_user_data\n",
    "Modify the point source ID.\n",
    "  -set_point_source 500\n",
    "  -change_point_source_from_to 1023 1024\n",
    "  -copy_user_data_into_point_source\n",
    "  -copy_scanner_channel_into_point_source\n",
    "  -merge_scanner_channel_into_point_source\n",
    "  -split_scanner_channel_from_point_source\n",
    "  -map_point_source map_file.txt\n",
    "  -bin_Z_into_point_source 200\n",
    "  -bin_abs_scan_angle_into_point_source 2\n",
    "  -bin_gps_time_into_point_source 5.0\n",
    "  -copy_classification_into_point_source\n",
    "Transform gps_time.\n",
    "  -set_gps_time 113556962.005715\n",
    "  -translate_gps_time 40.50\n",
    "  -adjusted_to_week\n",
    "  -week_to_adjusted 1671\n",
    "Transform RGB/NIR colors.\n",
    "  -set_RGB 255 0 127\n",
    "  -set_RGB_of_class 9 0 0 255\n",
    "  -scale_RGB 2 4 2\n",
    "  -scale_RGB_down (by 256)\n",
    "  -scale_RGB_up (by 256)\n",
    "  -scale_RGB_to_8bit (only scales down 16 bit values)\n",
    "  -scale_RGB_to_16bit (only scales up 8 bit values)\n",
    "  -switch_R_G -switch_R_B -switch_G_B\n",
    "  -copy_R_into_NIR -copy_R_into_intensity\n",
    "  -switch_RGBI_into_CIR\n",
    "  -switch_RGB_intensity_into_CIR\n",
    "  -copy_intensity_into_NIR\n",
    "  -multiply_scaled_intensity_into_RGB_red 0.5\n",
    "  -multiply_divided_intensity_into_RGB_blue 256\n",
    "  -map_attribute_into_RGB 0 map_height_to_RGB.txt\n",
    "Transform attributes in \"Extra Bytes\".\n",
    "  -set_attribute 0 10.5\n",
    "  -scale_attribute 0 1.5\n",
    "  -translate_attribute 1 0.2\n",
    "  -copy_user_data_into_attribute 0\n",
    "  -load_attribute_from_text 0 text_file_with_one_value_per_line.txt\n",
};

}  // namespace

void LAStransform::usage() {
  command_options::print_lines(kUsageLines);
}

std::vector<command_options::OptionSection> LAStransform::option_sections() {
  std::vector<command_options::OptionSection> sections;
  for (const Row& row : option_rows()) {
    if (row.handler == nullptr) {
      sections.push_back({row.arguments, {}});
      continue;
    }
    if (sections.empty()) sections.push_back({});
    std::string_view arguments = row.arguments;
    while (arguments.ends_with(' '))
      arguments.remove_suffix(1);
    sections.back().options.push_back({row.name, arguments, row.help});
  }
  return sections;
}

bool LAStransform::parse(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (command_options::is_blank(argv[i])) continue;
    const std::string_view name = argv[i];
    if (name == "-h" || name == "-help") {
      usage();
      return true;
    }
    const Row* row = find_row(name);
    if (row == nullptr) continue;
    if (i + row->count >= argc) {
      std::fprintf(stderr, "ERROR: '%s' %s %d argument%s: %s\n", argv[i],
                   row->wording == Wording::kNeed ? "need" : "needs", row->count,
                   row->count == 1 ? "" : "s", row->arguments);
      return false;
    }
    const Call call{*row, argv[i], argv + i + 1, *this};
    if (!row->handler(call)) return false;
    for (int k = 0; k <= row->count; k++)
      command_options::blank(argv[i + k]);
    i += row->count;
  }
  return true;
}

bool LAStransform::parse(const char* text) {
  constexpr int kMaxWords = 63;
  std::vector<std::string> words;
  std::string_view rest = text == nullptr ? std::string_view() : std::string_view(text);
  while (!rest.empty()) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::size_t end = rest.find(' ');
    words.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  if (words.size() > kMaxWords) {
    std::fprintf(stderr, "ERROR: a transform text holds at most %d words, not %d\n", kMaxWords,
                 static_cast<int>(words.size()));
    return false;
  }
  std::vector<char*> argv;
  char program[] = "";
  argv.push_back(program);
  for (std::string& word : words)
    argv.push_back(word.data());
  return parse(static_cast<int>(argv.size()), argv.data());
}
