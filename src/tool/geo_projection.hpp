#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/las_vlr.hpp"
#include "options/command_options.hpp"

class LASheader;

// The least a noise tool needs of coordinate reference systems: the horizontal and vertical
// length units of a file (from its GeoTIFF keys or its OGC WKT text) or of the command line,
// and a projection given by EPSG code that can be written into an output header as GeoTIFF
// keys.
//
// Unit codes are EPSG unit numbers: 9001 metre, 9002 international foot, 9003 US survey
// foot, 9000 for geographic coordinates in degrees; 0 means unknown. Codes that are no
// length unit (garbage in a file) are ignored rather than taken for feet.
//
// Command-line options (parse consumes them):
//   -meter, -feet, -survey_feet                    horizontal and vertical unit
//   -elevation_meter, -elevation_feet, -elevation_survey_feet   vertical unit only
//   -epsg <code>                                   projected coordinate system
class GeoProjection {
 public:
  static constexpr int kUnitDegree = 9000;
  static constexpr int kUnitMetre = 9001;
  static constexpr int kUnitFoot = 9002;
  static constexpr int kUnitSurveyFoot = 9003;

  // Consumes its options (blanks their entries). False after one "ERROR: " line.
  bool parse(int argc, char* argv[]);
  void usage() const;
  // The options, for the help of -h units and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  bool has_horizontal_unit() const { return horizontal_unit_ != 0; }
  bool has_vertical_unit() const { return vertical_unit_ != 0; }
  int horizontal_unit() const { return horizontal_unit_; }
  int vertical_unit() const { return vertical_unit_; }
  // "m", "ft" (international foot), "sft" (any other foot), "units" (none).
  const char* horizontal_unit_short_name() const;
  // "m", "ft" (any foot), "units" (none).
  const char* vertical_unit_short_name() const;

  bool has_projection() const { return epsg_code_ != 0; }
  int epsg_code() const { return epsg_code_; }
  // The GeoTIFF keys of the projection (sorted by key id); false without a projection.
  bool get_geo_keys(std::vector<LASvlrKeyEntry>& keys, std::vector<double>& double_params) const;

  // Take units (and the projection, when it names an EPSG code) from a file's records.
  // Units already set are replaced only where the records name one. True when anything
  // was learnt.
  bool set_projection_from_ogc_wkt(std::string_view wkt);
  bool set_projection_from_geo_keys(std::size_t number_of_keys, const LASvlrKeyEntry* keys,
                                    const char* ascii_params, std::size_t ascii_size,
                                    const double* double_params, std::size_t double_count);

  void set_horizontal_unit(int code) { horizontal_unit_ = code; }
  void set_vertical_unit(int code) { vertical_unit_ = code; }
  void forget_horizontal_unit() { horizontal_unit_ = 0; }
  void forget_vertical_unit() { vertical_unit_ = 0; }
  void forget_projection() { epsg_code_ = 0; }

  // The unit code of a length unit given by its size in metres, 0 when it is none we know.
  static int unit_code_from_metres(double metres);
  // The linear unit of well-known projected EPSG codes (UTM zones and the like), else 0.
  static int unit_code_of_projection(int epsg_code);

 private:
  int horizontal_unit_ = 0;
  int vertical_unit_ = 0;
  int epsg_code_ = 0;
};

// Learns the units (and the projection, when they name an EPSG code) that a file's header
// records: its OGC WKT text first, else its GeoTIFF keys.
void take_units_from_header(GeoProjection& projection, const LASheader& header);

// The default cell size of an axis: 4 units, or 12 when the axis is in feet (a code above
// metre).
inline constexpr float kDefaultStep = 4.0f;
inline constexpr float kDefaultStepFeet = 12.0f;
inline float default_step(int unit_code) {
  return unit_code > GeoProjection::kUnitMetre ? kDefaultStepFeet : kDefaultStep;
}
