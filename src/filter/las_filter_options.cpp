#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "filter/las_filter.hpp"
#include "filter/las_filter_makers.hpp"
#include "options/command_options.hpp"

// The filter options as one table: name, argument kinds, argument names (for the messages
// and the usage), the usage heading, and the function that makes the criterion. Parsing
// walks the table; the usage is printed from it.

namespace {

using namespace las_filter_makers;

using Make = bool (*)(LASfilterParse&, const Call&);

enum Group {
  kCoordinates,
  kReturns,
  kScanline,
  kIntensity,
  kClassifications,
  kUserData,
  kPointSource,
  kScanAngle,
  kGpsTime,
  kColour,
  kWavepacket,
  kAttributes,
  kThinning,
  kBoolean,
  kGroups
};

const char* const kHeadings[kGroups] = {
    "Filter points based on their coordinates.\n",
    "Filter points based on their return numbering.\n",
    "Filter points based on the scanline flags.\n",
    "Filter points based on their intensity.\n",
    "Filter points based on classifications or flags.\n",
    "Filter points based on their user data.\n",
    "Filter points based on their point source ID.\n",
    "Filter points based on their scan angle.\n",
    "Filter points based on their gps time.\n",
    "Filter points based on their RGB/CIR/NIR channels.\n",
    "Filter points based on their wavepacket.\n",
    "Filter points based on extra attributes.\n",
    "Filter points with simple thinning.\n",
    "Boolean combination of filters.\n",
};

struct FilterOption {
  std::string_view name;
  Group group;
  // One kind letter per fixed argument; "*" for an option that reads a list itself.
  const char* kinds;
  const char* arguments;  // their names, blank-separated
  Make make;
  // When not null: the missing-argument message (option) and the not-a-number message
  // (option, text, argument name) in place of the ones built from `arguments`.
  const char* missing = nullptr;
  const char* bad = nullptr;
  const char* note = nullptr;  // added to the usage line
};

constexpr const char* kAttributeBad =
    "ERROR: '%s' needs 2 arguments: index value '%s' is no valid value\n";
constexpr const char* kChannelBad =
    "ERROR: '%s' needs 1 argument channel but '%s' is no valid value\n";

template <typename C, int kBounds>
bool add_attribute(LASfilterParse& parse, const Call& call) {
  const int index = call.values[0].whole();
  if constexpr (kBounds == 1) {
    parse.add(std::make_unique<C>(index, call.values[1].real));
  } else {
    parse.add(std::make_unique<C>(index, call.values[1].real, call.values[2].real));
  }
  return true;
}

const FilterOption kFilterOptions[] = {
    // Coordinates.
    {"-keep_tile", kCoordinates, "fff", "llx lly size",
     &add_values<LAScriterionKeepTile, float, 3>},
    {"-keep_circle", kCoordinates, "ddd", "center_x center_y radius",
     &add_values<LAScriterionKeepCircle, double, 3>},
    {"-keep_xy", kCoordinates, "dddd", "min_x min_y max_x max_y",
     &add_values<LAScriterionKeepxy, double, 4>},
    {"-drop_xy", kCoordinates, "dddd", "min_x min_y max_x max_y",
     &add_values<LAScriterionDropxy, double, 4>},
    {"-keep_xyz", kCoordinates, "dddddd", "min_x min_y min_z max_x max_y max_z",
     &add_values<LAScriterionKeepxyz, double, 6>},
    {"-drop_xyz", kCoordinates, "dddddd", "min_x min_y min_z max_x max_y max_z",
     &add_values<LAScriterionDropxyz, double, 6>},
    {"-keep_x", kCoordinates, "dd", "min_x max_x", &add_values<LAScriterionKeepx, double, 2>},
    {"-drop_x", kCoordinates, "dd", "min_x max_x", &add_values<LAScriterionDropx, double, 2>},
    {"-drop_x_below", kCoordinates, "d", "min_x", &add_values<LAScriterionDropxBelow, double, 1>},
    {"-drop_x_above", kCoordinates, "d", "max_x", &add_values<LAScriterionDropxAbove, double, 1>},
    {"-keep_y", kCoordinates, "dd", "min_y max_y", &add_values<LAScriterionKeepy, double, 2>},
    {"-drop_y", kCoordinates, "dd", "min_y max_y", &add_values<LAScriterionDropy, double, 2>},
    {"-drop_y_below", kCoordinates, "d", "min_y", &add_values<LAScriterionDropyBelow, double, 1>},
    {"-drop_y_above", kCoordinates, "d", "max_y", &add_values<LAScriterionDropyAbove, double, 1>},
    {"-keep_z", kCoordinates, "dd", "min_z max_z", &add_values<LAScriterionKeepz, double, 2>},
    {"-drop_z", kCoordinates, "dd", "min_z max_z", &add_values<LAScriterionDropz, double, 2>},
    {"-drop_z_below", kCoordinates, "d", "min_z", &add_values<LAScriterionDropzBelow, double, 1>},
    {"-drop_z_above", kCoordinates, "d", "max_z", &add_values<LAScriterionDropzAbove, double, 1>},
    {"-keep_z_above", kCoordinates, "d", "min_z", &add_values<LAScriterionDropzBelow, double, 1>},
    {"-keep_z_below", kCoordinates, "d", "max_z", &add_values<LAScriterionDropzAbove, double, 1>},
    {"-keep_X", kCoordinates, "ii", "min_X max_X", &add_values<LAScriterionKeepX, int, 2>},
    {"-keep_Y", kCoordinates, "ii", "min_Y max_Y", &add_values<LAScriterionKeepY, int, 2>},
    {"-keep_Z", kCoordinates, "ii", "min_Z max_Z", &add_values<LAScriterionKeepZ, int, 2>},
    {"-keep_XY", kCoordinates, "iiii", "min_X min_Y max_X max_Y",
     &add_values<LAScriterionKeepXY, int, 4>},
    {"-drop_X", kCoordinates, "ii", "min_X max_X", &add_values<LAScriterionDropX, int, 2>},
    {"-drop_X_below", kCoordinates, "i", "min_X", &add_values<LAScriterionDropXBelow, int, 1>},
    {"-drop_X_above", kCoordinates, "i", "max_X", &add_values<LAScriterionDropXAbove, int, 1>},
    {"-drop_Y", kCoordinates, "ii", "min_Y max_Y", &add_values<LAScriterionDropY, int, 2>},
    {"-drop_Y_below", kCoordinates, "i", "min_Y", &add_values<LAScriterionDropYBelow, int, 1>},
    {"-drop_Y_above", kCoordinates, "i", "max_Y", &add_values<LAScriterionDropYAbove, int, 1>},
    {"-drop_Z", kCoordinates, "ii", "min_Z max_Z", &add_values<LAScriterionDropZ, int, 2>},
    {"-drop_Z_below", kCoordinates, "i", "min_Z", &add_values<LAScriterionDropZBelow, int, 1>},
    {"-drop_Z_above", kCoordinates, "i", "max_Z", &add_values<LAScriterionDropZAbove, int, 1>},
    {"-keep_Z_above", kCoordinates, "i", "min_Z", &add_values<LAScriterionDropZBelow, int, 1>},
    {"-keep_Z_below", kCoordinates, "i", "max_Z", &add_values<LAScriterionDropZAbove, int, 1>},
    // Return numbering.
    {"-keep_first", kReturns, "", "", &add_plain<LAScriterionKeepFirstReturn>},
    {"-first_only", kReturns, "", "", &add_plain<LAScriterionKeepFirstReturn>},
    {"-keep_last", kReturns, "", "", &add_plain<LAScriterionKeepLastReturn>},
    {"-last_only", kReturns, "", "", &add_plain<LAScriterionKeepLastReturn>},
    {"-drop_first", kReturns, "", "", &add_plain<LAScriterionDropFirstReturn>},
    {"-drop_last", kReturns, "", "", &add_plain<LAScriterionDropLastReturn>},
    {"-keep_second_last", kReturns, "", "", &add_plain<LAScriterionKeepSecondLast>},
    {"-drop_second_last", kReturns, "", "", &add_plain<LAScriterionDropSecondLast>},
    {"-keep_first_of_many", kReturns, "", "", &add_plain<LAScriterionKeepFirstOfManyReturn>},
    {"-keep_last_of_many", kReturns, "", "", &add_plain<LAScriterionKeepLastOfManyReturn>},
    {"-drop_first_of_many", kReturns, "", "", &add_plain<LAScriterionDropFirstOfManyReturn>},
    {"-drop_last_of_many", kReturns, "", "", &add_plain<LAScriterionDropLastOfManyReturn>},
    {"-keep_middle", kReturns, "", "", &add_plain<LAScriterionKeepMiddleReturn>},
    {"-drop_middle", kReturns, "", "", &add_plain<LAScriterionDropMiddleReturn>},
    {"-keep_return", kReturns, "*", "return_number ...",
     &add_returns<LAScriterionKeepReturns, true>},
    {"-drop_return", kReturns, "*", "return_number ...",
     &add_returns<LAScriterionDropReturns, false>},
    {"-keep_return_mask", kReturns, "u", "return_mask", &add_return_mask<LAScriterionKeepReturns>},
    {"-drop_return_mask", kReturns, "u", "return_mask", &add_return_mask<LAScriterionDropReturns>},
    {"-keep_single", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 1>},
    {"-keep_double", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 2>},
    {"-keep_triple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 3>},
    {"-keep_quadruple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 4>},
    {"-keep_quintuple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 5>},
    {"-drop_single", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 1>},
    {"-drop_double", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 2>},
    {"-drop_triple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 3>},
    {"-drop_quadruple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 4>},
    {"-drop_quintuple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 5>},
    {"-keep_number_of_returns", kReturns, "u", "number of returns",
     &add_number_of_returns_given<LAScriterionKeepSpecificNumberOfReturns>},
    {"-drop_number_of_returns", kReturns, "u", "number of returns",
     &add_number_of_returns_given<LAScriterionDropSpecificNumberOfReturns>},
    // Scanline flags.
    {"-drop_scan_direction", kScanline, "u", "scan direction", &add_drop_scan_direction, nullptr,
     nullptr, "0 or 1"},
    {"-keep_scan_direction_change", kScanline, "", "",
     &add_plain<LAScriterionKeepScanDirectionChange>},
    {"-keep_edge_of_flight_line", kScanline, "", "", &add_plain<LAScriterionKeepEdgeOfFlightLine>},
    // Intensity.
    {"-keep_intensity", kIntensity, "uu", "min max", &add_keep_intensity},
    {"-keep_intensity_above", kIntensity, "u", "max", &add_keep_intensity_above},
    {"-keep_intensity_below", kIntensity, "u", "min", &add_keep_intensity_below},
    {"-drop_intensity_above", kIntensity, "i", "value",
     &add_values<LAScriterionDropIntensityAbove, int, 1>},
    {"-drop_intensity_below", kIntensity, "i", "value",
     &add_values<LAScriterionDropIntensityBelow, int, 1>},
    {"-drop_intensity_between", kIntensity, "ii", "min max",
     &add_values<LAScriterionDropIntensityBetween, int, 2>},
    // Classifications and flags.
    {"-keep_class", kClassifications, "*", "classification ...", &add_keep_class},
    {"-keep_classification", kClassifications, "*", "classification ...", &add_keep_class},
    {"-drop_class", kClassifications, "*", "classification ...", &add_drop_class},
    {"-drop_classification", kClassifications, "*", "classification ...", &add_drop_class},
    {"-keep_classification_mask", kClassifications, "u", "mask", &add_keep_class_mask},
    {"-drop_classification_mask", kClassifications, "u", "mask", &add_drop_class_mask},
    {"-keep_extended_class", kClassifications, "*", "classification ...",
     &add_extended_class<true>},
    {"-keep_extended_classification", kClassifications, "*", "classification ...",
     &add_extended_class<true>},
    {"-drop_extended_class", kClassifications, "*", "classification ...",
     &add_extended_class<false>},
    {"-drop_extended_classification", kClassifications, "*", "classification ...",
     &add_extended_class<false>},
    {"-drop_extended_classification_mask", kClassifications, "uuuuuuuu",
     "mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0", &add_extended_class_mask, nullptr,
     "ERROR: '%s' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\nbut '%s' is "
     "a bad argument for %s\n"},
    {"-keep_synthetic", kClassifications, "", "", &add_plain<LAScriterionKeepSynthetic>},
    {"-drop_synthetic", kClassifications, "", "", &add_plain<LAScriterionDropSynthetic>},
    {"-keep_keypoint", kClassifications, "", "", &add_plain<LAScriterionKeepKeypoint>},
    {"-drop_keypoint", kClassifications, "", "", &add_plain<LAScriterionDropKeypoint>},
    {"-keep_withheld", kClassifications, "", "", &add_plain<LAScriterionKeepWithheld>},
    {"-drop_withheld", kClassifications, "", "", &add_plain<LAScriterionDropWithheld>},
    {"-keep_overlap", kClassifications, "", "", &add_plain<LAScriterionKeepOverlap>},
    {"-drop_overlap", kClassifications, "", "", &add_plain<LAScriterionDropOverlap>},
    {"-keep_scanner_channel", kClassifications, "u", "channel", &add_keep_scanner_channel, nullptr,
     kChannelBad, "0 to 3"},
    {"-drop_scanner_channel", kClassifications, "u", "channel", &add_drop_scanner_channel, nullptr,
     kChannelBad, "0 to 3"},
    // User data.
    {"-keep_user_data", kUserData, "i", "value", &add_values<LAScriterionKeepUserData, int, 1>},
    {"-keep_user_data_below", kUserData, "i", "value",
     &add_values<LAScriterionKeepUserDataBelow, int, 1>},
    {"-keep_user_data_above", kUserData, "i", "value",
     &add_values<LAScriterionKeepUserDataAbove, int, 1>},
    {"-keep_user_data_between", kUserData, "ii", "min max",
     &add_values<LAScriterionKeepUserDataBetween, int, 2>},
    {"-drop_user_data", kUserData, "*", "value ...", &add_drop_user_data},
    {"-drop_user_data_below", kUserData, "u", "below", &add_drop_user_data_below},
    {"-drop_user_data_above", kUserData, "u", "above", &add_drop_user_data_above},
    {"-drop_user_data_between", kUserData, "uu", "min max", &add_drop_user_data_between},
    // Point source ID.
    {"-keep_point_source", kPointSource, "*", "ID ...", &add_keep_point_source},
    {"-keep_point_source_between", kPointSource, "uu", "min_ID max_ID",
     &add_keep_point_source_between},
    {"-drop_point_source", kPointSource, "*", "ID ...", &add_drop_point_source},
    {"-drop_point_source_below", kPointSource, "u", "min_ID", &add_drop_point_source_below, nullptr,
     "ERROR: '%s' needs 1 argument: min_ID max_ID but '%s' is no valid min_ID\n"},
    {"-drop_point_source_above", kPointSource, "u", "max_ID", &add_drop_point_source_above},
    {"-drop_point_source_between", kPointSource, "uu", "min_ID max_ID",
     &add_drop_point_source_between},
    // Scan angle.
    {"-keep_scan_angle", kScanAngle, "ii", "min max", &add_ordered<LAScriterionKeepScanAngle>},
    {"-keep_scan_angle_between", kScanAngle, "ii", "min max",
     &add_ordered<LAScriterionKeepScanAngle>},
    {"-drop_abs_scan_angle_above", kScanAngle, "i", "max", &add_drop_abs_scan_angle_above},
    {"-drop_abs_scan_angle_below", kScanAngle, "i", "min", &add_drop_abs_scan_angle_below},
    {"-drop_scan_angle_above", kScanAngle, "i", "max",
     &add_values<LAScriterionDropScanAngleAbove, int, 1>},
    {"-drop_scan_angle_below", kScanAngle, "i", "min",
     &add_values<LAScriterionDropScanAngleBelow, int, 1>},
    {"-drop_scan_angle_between", kScanAngle, "ii", "min max",
     &add_ordered<LAScriterionDropScanAngleBetween>},
    // GPS time.
    {"-keep_gps_time", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gpstime", kGpsTime, "dd", "start end", &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gps_time_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gpstime_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gps_time_above", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-keep_gpstime_above", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-keep_gps_time_below", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-keep_gpstime_below", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gps_time_above", kGpsTime, "d", "max_gps_time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gpstime_above", kGpsTime, "d", "max_gps_time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gps_time_below", kGpsTime, "d", "min_gps_time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-drop_gpstime_below", kGpsTime, "d", "min_gps_time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-drop_gps_time_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionDropGpsTimeBetween, double, 2>},
    {"-drop_gpstime_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionDropGpsTimeBetween, double, 2>},
    // Colour channels.
    {"-keep_RGB_red", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 0>},
    {"-keep_RGB_green", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 1>},
    {"-keep_RGB_blue", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 2>},
    {"-keep_RGB_nir", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 3>},
    {"-drop_RGB_red", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 0>},
    {"-drop_RGB_green", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 1>},
    {"-drop_RGB_blue", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 2>},
    {"-drop_RGB_nir", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 3>},
    {"-keep_RGB_greenness", kColour, "ii", "min max", &add_ordered<LAScriterionKeepRGBgreenness>},
    {"-keep_NDVI", kColour, "ff", "min max", &add_ndvi<3>},
    {"-keep_NDVI_green_is_NIR", kColour, "ff", "min max", &add_ndvi<1>},
    {"-keep_NDVI_blue_is_NIR", kColour, "ff", "min max", &add_ndvi<2>},
    {"-keep_NDVI_from_CIR", kColour, "ff", "min max",
     &add_values<LAScriterionKeepNDVIfromCIR, float, 2>},
    {"-keep_NDVI_intensity_is_NIR", kColour, "ff", "min max",
     &add_values<LAScriterionKeepNDVIintensityIsNIR, float, 2>},
    // Wave packets.
    {"-keep_wavepacket", kWavepacket, "u", "index",
     &add_values<LAScriterionKeepWavepacket, int, 1>},
    {"-drop_wavepacket", kWavepacket, "u", "index",
     &add_values<LAScriterionDropWavepacket, int, 1>},
    // Extra-byte attributes.
    {"-keep_attribute_above", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionKeepAttributeAbove, 1>, nullptr, kAttributeBad},
    {"-keep_attribute_below", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionKeepAttributeBelow, 1>, nullptr, kAttributeBad},
    {"-keep_attribute_between", kAttributes, "udd", "index min max",
     &add_attribute<LAScriterionKeepAttributeBetween, 2>},
    {"-drop_attribute_above", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionDropAttributeAbove, 1>, nullptr, kAttributeBad},
    {"-drop_attribute_below", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionDropAttributeBelow, 1>, nullptr, kAttributeBad},
    {"-drop_attribute_between", kAttributes, "udd", "index min max",
     &add_attribute<LAScriterionDropAttributeBetween, 2>},
    // Thinning.
    {"-keep_every_nth", kThinning, "u", "nth", &add_every_nth<LAScriterionKeepEveryNth>, nullptr,
     "ERROR: '%s' needs 1 argument nth but '%s' is no valid nth\n"},
    {"-drop_every_nth", kThinning, "u", "nth", &add_every_nth<LAScriterionDropEveryNth>, nullptr,
     "ERROR: '%s' needs 1 argument nth but '%s' is no valid nth\n"},
    {"-keep_random_fraction", kThinning, "*", "fraction [seed]", &add_random_fraction, nullptr,
     nullptr,
     "seed 0 unless given; the project's 15-bit generator, the same on every platform and equal "
     "to the Windows C runtime's rand"},
    {"-thin_with_grid", kThinning, "f", "grid spacing", &add_thin_with_grid},
    {"-thin_pulses_with_time", kThinning, "f", "time spacing", &add_thin_pulses},
    {"-thin_with_time", kThinning, "f", "time spacing", &add_thin_pulses},
    {"-thin_points_with_time", kThinning, "f", "time spacing", &add_thin_points},
    // Boolean combinations.
    {"-filter_and", kBoolean, "", "", &add_combination<LAScriterionAnd>, nullptr, nullptr,
     "keeps what both preceding filters keep"},
    {"-filter_or", kBoolean, "", "", &add_combination<LAScriterionOr>, nullptr, nullptr,
     "keeps what either preceding filter keeps"},
};

}  // namespace

bool LASfilterParse::finish() {
  const bool keep_any = keep_extended != std::array<std::uint32_t, 8>{};
  const bool drop_any = drop_extended != std::array<std::uint32_t, 8>{};
  if (keep_any) {
    if (drop_any) {
      std::fprintf(stderr,
                   "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' "
                   "simultaneously\n");
      return false;
    }
    for (int word = 0; word < 8; word++)
      drop_extended[word] = ~keep_extended[word];
  }
  if (drop_extended != std::array<std::uint32_t, 8>{}) {
    add(std::make_unique<LAScriterionDropExtendedClassifications>(drop_extended));
  }
  return true;
}

void LASfilter::usage() {
  for (int group = 0; group < kGroups; group++) {
    std::fputs(kHeadings[group], stderr);
    for (const FilterOption& option : kFilterOptions) {
      if (option.group != group) continue;
      std::fprintf(stderr, "  %.*s", static_cast<int>(option.name.size()), option.name.data());
      if (option.arguments[0] != '\0') std::fprintf(stderr, " %s", option.arguments);
      if (option.note != nullptr) std::fprintf(stderr, " (%s)", option.note);
      std::fputc('\n', stderr);
    }
  }
}

std::vector<command_options::OptionSection> LASfilter::option_sections() {
  std::vector<command_options::OptionSection> sections;
  for (int group = 0; group < kGroups; group++) {
    std::string_view heading = kHeadings[group];
    heading.remove_suffix(1);  // its line end
    command_options::OptionSection section{heading, {}};
    for (const FilterOption& option : kFilterOptions) {
      if (option.group != group) continue;
      section.options.push_back(
          {option.name, option.arguments, option.note != nullptr ? option.note : ""});
    }
    sections.push_back(std::move(section));
  }
  return sections;
}

namespace {

// The name of argument `k` in the blank-separated `names`.
std::string_view argument_name(const char* names, int k) {
  std::string_view rest = names;
  for (int i = 0; i < k; i++) {
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return rest;
    rest.remove_prefix(blank + 1);
  }
  return rest.substr(0, rest.find(' '));
}

void print_needs(const FilterOption& option, const char* typed, int count) {
  std::fprintf(stderr, "ERROR: '%s' needs %d argument%s: %s", typed, count, count == 1 ? "" : "s",
               option.arguments);
}

bool parse_number(char kind, const char* text, Value& value) {
  switch (kind) {
    case 'd':
      return command_options::parse_double(text, value.real);
    case 'f':
      return command_options::parse_float(text, value.single);
    case 'i': {
      int number = 0;
      if (!command_options::parse_int(text, number)) return false;
      value.integer = number;
      return true;
    }
    case 'u': {
      std::uint32_t number = 0;
      if (!command_options::parse_unsigned(text, number)) return false;
      value.integer = number;
      return true;
    }
  }
  return false;
}

enum class Outcome { kNotMine, kDone, kFailed };

Outcome run_filter_option(LASfilterParse& parse, int& index, int argc, char* argv[]) {
  const std::string_view name = argv[index];
  for (const FilterOption& option : kFilterOptions) {
    if (option.name != name) continue;
    const char* typed = argv[index];
    const int first = index;
    Value values[8];
    const bool list = option.kinds[0] == '*';
    const int count = list ? 0 : static_cast<int>(std::strlen(option.kinds));
    if (index + count >= argc) {
      if (option.missing != nullptr) {
        std::fprintf(stderr, option.missing, typed);
      } else {
        print_needs(option, typed, count);
        std::fputc('\n', stderr);
      }
      return Outcome::kFailed;
    }
    for (int k = 0; k < count; k++) {
      const char* text = argv[index + 1 + k];
      if (!parse_number(option.kinds[k], text, values[k])) {
        const std::string argument(argument_name(option.arguments, k));
        if (option.bad != nullptr) {
          std::fprintf(stderr, option.bad, typed, text, argument.c_str());
        } else {
          print_needs(option, typed, count);
          std::fprintf(stderr, " but '%s' is no valid %s\n", text, argument.c_str());
        }
        return Outcome::kFailed;
      }
    }
    if (!list) index += count;
    int cursor = first;
    const Call call{typed, values, argv + first + 1, cursor, argc, argv};
    if (!option.make(parse, call)) return Outcome::kFailed;
    if (list) index = cursor;
    for (int k = first; k <= index && k < argc; k++)
      command_options::blank(argv[k]);
    return Outcome::kDone;
  }
  return Outcome::kNotMine;
}

bool is_filter_option(std::string_view name) {
  return name.starts_with("-keep_") || name.starts_with("-drop_") || name.starts_with("-thin_") ||
         name.starts_with("-filter_") || name == "-first_only" || name == "-last_only";
}

}  // namespace

bool LASfilter::parse(int argc, char* argv[]) {
  LASfilterParse run(*this);
  for (int i = 1; i < argc; i++) {
    if (command_options::is_blank(argv[i])) continue;
    const std::string_view name = argv[i];
    if (name == "-h" || name == "-help") {
      usage();
      return true;
    }
    if (name.starts_with("-clip_")) {
      std::fprintf(stderr,
                   "ERROR: '%s' is no longer recognized. check documentation with '-h'.\n"
                   "  rename '-clip' to '-keep_xy'.\n"
                   "  rename '-clip_box' to '-keep_xyz'.\n"
                   "  rename '-clip_tile' to '-keep_tile'.\n"
                   "  rename '-clip_z_below' to '-drop_z_below'.\n"
                   "  rename '-clip_z_above' to '-drop_z_above'.\n"
                   "  rename '-clip_z_between' to '-drop_z'.\n"
                   "  etc ...\n",
                   argv[i]);
      return false;
    }
    if (!is_filter_option(name)) continue;
    if (run_filter_option(run, i, argc, argv) == Outcome::kFailed) return false;
  }
  return run.finish();
}
