#include "tool/geo_projection.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "model/las_header.hpp"

namespace {

// GeoTIFF key ids the component reads and writes.
constexpr std::uint16_t kGTModelTypeGeoKey = 1024;
constexpr std::uint16_t kGTRasterTypeGeoKey = 1025;
constexpr std::uint16_t kGeographicTypeGeoKey = 2048;
constexpr std::uint16_t kProjectedCSTypeGeoKey = 3072;
constexpr std::uint16_t kProjLinearUnitsGeoKey = 3076;
constexpr std::uint16_t kVerticalUnitsGeoKey = 4099;
constexpr std::uint16_t kModelTypeProjected = 1;
constexpr std::uint16_t kModelTypeGeographic = 2;
constexpr std::uint16_t kRasterPixelIsArea = 1;

bool is_length_unit(int code) {
  return code == GeoProjection::kUnitMetre || code == GeoProjection::kUnitFoot ||
         code == GeoProjection::kUnitSurveyFoot;
}

struct UnitOption {
  const char* name;
  int code;
  bool horizontal;
  const char* help;
};

constexpr UnitOption kUnitOptions[] = {
    {"-meter", GeoProjection::kUnitMetre, true, "coordinates and elevations in metres"},
    {"-feet", GeoProjection::kUnitFoot, true, "coordinates and elevations in international feet"},
    {"-survey_feet", GeoProjection::kUnitSurveyFoot, true,
     "coordinates and elevations in US survey feet"},
    {"-elevation_meter", GeoProjection::kUnitMetre, false, "elevations in metres"},
    {"-elevation_feet", GeoProjection::kUnitFoot, false, "elevations in international feet"},
    {"-elevation_survey_feet", GeoProjection::kUnitSurveyFoot, false,
     "elevations in US survey feet"},
};

// A node of OGC WKT text: KEYWORD[child, child, ...]; quoted strings and numbers are
// leaves with an empty keyword and their text as value.
struct WktNode {
  std::string keyword;
  std::string value;
  std::vector<std::unique_ptr<WktNode>> children;
};

class WktParser {
 public:
  explicit WktParser(std::string_view text) : text_(text) {}

  std::unique_ptr<WktNode> parse() {
    skip_blanks();
    auto node = parse_node(0);
    return node;
  }

 private:
  static constexpr int kMaxDepth = 64;

  void skip_blanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
      pos_++;
  }

  std::unique_ptr<WktNode> parse_node(int depth) {
    if (depth > kMaxDepth || pos_ >= text_.size()) return nullptr;
    auto node = std::make_unique<WktNode>();
    if (text_[pos_] == '"') {
      pos_++;
      while (pos_ < text_.size()) {
        if (text_[pos_] == '"') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
            node->value += '"';
            pos_ += 2;
            continue;
          }
          pos_++;
          break;
        }
        node->value += text_[pos_++];
      }
      return node;
    }
    std::string word;
    while (pos_ < text_.size() && text_[pos_] != '[' && text_[pos_] != '(' && text_[pos_] != ',' &&
           text_[pos_] != ']' && text_[pos_] != ')' && text_[pos_] != '\0') {
      word += text_[pos_++];
    }
    while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back())))
      word.pop_back();
    skip_blanks();
    if (pos_ < text_.size() && (text_[pos_] == '[' || text_[pos_] == '(')) {
      node->keyword = word;
      std::transform(node->keyword.begin(), node->keyword.end(), node->keyword.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      pos_++;
      for (;;) {
        skip_blanks();
        if (pos_ >= text_.size()) break;
        if (text_[pos_] == ']' || text_[pos_] == ')') {
          pos_++;
          break;
        }
        if (text_[pos_] == ',') {
          pos_++;
          continue;
        }
        const std::size_t before = pos_;
        auto child = parse_node(depth + 1);
        if (!child || pos_ == before) break;
        node->children.push_back(std::move(child));
      }
    } else {
      node->value = word;
    }
    return node;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool keyword_is(const WktNode& node, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (node.keyword == name) return true;
  }
  return false;
}

const WktNode* find_first(const WktNode& node, std::initializer_list<const char*> names) {
  if (keyword_is(node, names)) return &node;
  for (const auto& child : node.children) {
    if (const WktNode* found = find_first(*child, names)) return found;
  }
  return nullptr;
}

// The unit code of a UNIT / LENGTHUNIT node: by its EPSG id when it has one, else by its
// size in metres, else by its name.
int unit_code_of(const WktNode& unit) {
  for (const auto& child : unit.children) {
    if (keyword_is(*child, {"AUTHORITY", "ID"}) && child->children.size() >= 2 &&
        child->children[0]->value == "EPSG") {
      const int code = std::atoi(child->children[1]->value.c_str());
      if (is_length_unit(code)) return code;
    }
  }
  if (unit.children.size() >= 2) {
    const int code =
        GeoProjection::unit_code_from_metres(std::atof(unit.children[1]->value.c_str()));
    if (code) return code;
  }
  if (!unit.children.empty()) {
    std::string name = unit.children[0]->value;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name == "metre" || name == "meter" || name == "m") return GeoProjection::kUnitMetre;
    if (name.find("us survey foot") != std::string::npos || name == "foot_us" || name == "us-ft") {
      return GeoProjection::kUnitSurveyFoot;
    }
    if (name == "foot" || name == "international foot" || name == "ft") {
      return GeoProjection::kUnitFoot;
    }
  }
  return 0;
}

// The length unit of a coordinate system node: a direct UNIT child (old-style text), or the
// unit of its axes (new-style text), never the unit of the base geographic system.
int length_unit_of_system(const WktNode& system) {
  for (const auto& child : system.children) {
    if (keyword_is(*child, {"UNIT", "LENGTHUNIT"})) return unit_code_of(*child);
  }
  for (const auto& child : system.children) {
    if (keyword_is(*child, {"BASEGEOGCRS", "BASEGEODCRS", "GEOGCS", "CONVERSION", "PROJECTION",
                            "DATUM", "VDATUM", "VERTICAL_DATUM"})) {
      continue;
    }
    if (const WktNode* unit = find_first(*child, {"LENGTHUNIT", "UNIT"})) {
      return unit_code_of(*unit);
    }
  }
  return 0;
}

int epsg_id_of(const WktNode& system) {
  for (const auto& child : system.children) {
    if (keyword_is(*child, {"AUTHORITY", "ID"}) && child->children.size() >= 2 &&
        child->children[0]->value == "EPSG") {
      return std::atoi(child->children[1]->value.c_str());
    }
  }
  return 0;
}

}  // namespace

int GeoProjection::unit_code_from_metres(double metres) {
  if (!(metres > 0)) return 0;
  if (std::fabs(metres - 1.0) < 1e-9) return kUnitMetre;
  if (std::fabs(metres - 0.3048) < 1e-9) return kUnitFoot;
  if (std::fabs(metres - 1200.0 / 3937.0) < 1e-9) return kUnitSurveyFoot;
  return 0;
}

int GeoProjection::unit_code_of_projection(int code) {
  // UTM zones of WGS 84, NAD83, NAD27, ETRS89 and the like are in metres.
  if ((code >= 32601 && code <= 32660) || (code >= 32701 && code <= 32760)) return kUnitMetre;
  if (code >= 26901 && code <= 26923) return kUnitMetre;
  if (code >= 26701 && code <= 26722) return kUnitMetre;
  if (code >= 25828 && code <= 25838) return kUnitMetre;
  if (code >= 3034 && code <= 3035) return kUnitMetre;
  if (code == 2193 || code == 3857 || code == 28992 || code == 27700 || code == 2056) {
    return kUnitMetre;
  }
  return 0;
}

bool GeoProjection::parse(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    bool matched = false;
    for (const UnitOption& option : kUnitOptions) {
      if (std::strcmp(argv[i], option.name) == 0) {
        if (option.horizontal) horizontal_unit_ = option.code;
        vertical_unit_ = option.code;
        argv[i][0] = '\0';
        matched = true;
        break;
      }
    }
    if (matched) continue;
    if (std::strcmp(argv[i], "-epsg") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "ERROR: '%s' needs 1 argument: code\n", argv[i]);
        return false;
      }
      char* end = nullptr;
      const long code = std::strtol(argv[i + 1], &end, 10);
      if (end == argv[i + 1] || *end != '\0' || code <= 0 || code > 65535) {
        std::fprintf(stderr,
                     "ERROR: '%s' needs 1 argument: code but '%s' is not a valid EPSG code\n",
                     argv[i], argv[i + 1]);
        return false;
      }
      epsg_code_ = static_cast<int>(code);
      argv[i][0] = '\0';
      argv[i + 1][0] = '\0';
      i++;
    }
  }
  return true;
}

std::vector<command_options::OptionSection> GeoProjection::option_sections() {
  command_options::OptionSection section{
      "Without them each file's GeoTIFF keys or WKT decide; in feet the default step is 12", {}};
  for (const UnitOption& option : kUnitOptions)
    section.options.push_back({option.name, "", option.help});
  section.options.push_back({"-epsg", "code", "the projection, written into the outputs"});
  return {section};
}

void GeoProjection::usage() const {
  std::fprintf(stderr, "Supported Units and Projections\n");
  std::fprintf(stderr, "  -meter -feet -survey_feet (horizontal and vertical unit)\n");
  std::fprintf(stderr, "  -elevation_meter -elevation_feet -elevation_survey_feet\n");
  std::fprintf(stderr, "  -epsg 32633 (projection written into the output)\n");
}

const char* GeoProjection::horizontal_unit_short_name() const {
  switch (horizontal_unit_) {
    case kUnitMetre:
      return "m";
    case kUnitFoot:
      return "ft";
    case 0:
      return "units";
    default:
      return horizontal_unit_ > kUnitFoot ? "sft" : "units";
  }
}

const char* GeoProjection::vertical_unit_short_name() const {
  if (vertical_unit_ == kUnitMetre) return "m";
  if (vertical_unit_ > kUnitMetre) return "ft";
  return "units";
}

bool GeoProjection::get_geo_keys(std::vector<LASvlrKeyEntry>& keys,
                                 std::vector<double>& double_params) const {
  keys.clear();
  double_params.clear();
  if (!has_projection()) return false;
  auto add = [&](std::uint16_t id, int value) {
    keys.push_back(LASvlrKeyEntry{id, 0, 1, static_cast<std::uint16_t>(value)});
  };
  add(kGTModelTypeGeoKey, kModelTypeProjected);
  add(kGTRasterTypeGeoKey, kRasterPixelIsArea);
  add(kProjectedCSTypeGeoKey, epsg_code_);
  const int linear = horizontal_unit_ ? horizontal_unit_ : unit_code_of_projection(epsg_code_);
  if (is_length_unit(linear)) add(kProjLinearUnitsGeoKey, linear);
  if (is_length_unit(vertical_unit_)) add(kVerticalUnitsGeoKey, vertical_unit_);
  return true;
}

bool GeoProjection::set_projection_from_ogc_wkt(std::string_view wkt) {
  // Text payloads may carry a terminating zero, or not.
  const std::size_t end = wkt.find('\0');
  if (end != std::string_view::npos) wkt = wkt.substr(0, end);
  WktParser parser(wkt);
  const std::unique_ptr<WktNode> root = parser.parse();
  if (!root) return false;
  bool learnt = false;
  if (const WktNode* projected = find_first(*root, {"PROJCS", "PROJCRS", "PROJECTEDCRS"})) {
    const int unit = length_unit_of_system(*projected);
    if (unit) {
      horizontal_unit_ = unit;
      learnt = true;
    }
    const int code = epsg_id_of(*projected);
    if (code > 0 && code <= 65535) {
      epsg_code_ = code;
      learnt = true;
    }
  } else if (find_first(*root, {"GEOGCS", "GEOGCRS", "GEOGRAPHICCRS", "GEODCRS"})) {
    horizontal_unit_ = kUnitDegree;
    learnt = true;
  }
  if (const WktNode* vertical = find_first(*root, {"VERT_CS", "VERTCRS", "VERTICALCRS"})) {
    const int unit = length_unit_of_system(*vertical);
    if (unit) {
      vertical_unit_ = unit;
      learnt = true;
    }
  }
  return learnt;
}

bool GeoProjection::set_projection_from_geo_keys(std::size_t number_of_keys,
                                                 const LASvlrKeyEntry* keys, const char*,
                                                 std::size_t, const double*, std::size_t) {
  if (!keys) return false;
  bool learnt = false;
  int model_type = 0;
  int projected = 0;
  int linear = 0;
  for (std::size_t i = 0; i < number_of_keys; i++) {
    const LASvlrKeyEntry& key = keys[i];
    // Only keys stored directly in the entry (location 0) carry their value there.
    if (key.tiff_tag_location != 0) continue;
    switch (key.key_id) {
      case kGTModelTypeGeoKey:
        model_type = key.value_offset;
        break;
      case kProjectedCSTypeGeoKey:
        projected = key.value_offset;
        break;
      case kProjLinearUnitsGeoKey:
        linear = key.value_offset;
        break;
      case kVerticalUnitsGeoKey:
        if (is_length_unit(key.value_offset)) {
          vertical_unit_ = key.value_offset;
          learnt = true;
        }
        break;
      case kGeographicTypeGeoKey:
        if (model_type == 0) model_type = kModelTypeGeographic;
        break;
      default:
        break;
    }
  }
  if (!is_length_unit(linear)) linear = unit_code_of_projection(projected);
  if (is_length_unit(linear)) {
    horizontal_unit_ = linear;
    learnt = true;
  } else if (model_type == kModelTypeGeographic) {
    horizontal_unit_ = kUnitDegree;
    learnt = true;
  }
  if (projected > 0 && projected != 32767) {
    epsg_code_ = projected;
    learnt = true;
  }
  return learnt;
}

void take_units_from_header(GeoProjection& projection, const LASheader& header) {
  if (header.geo_wkt() != nullptr) {
    projection.set_projection_from_ogc_wkt(
        std::string_view(header.geo_wkt(), header.geo_wkt_size()));
  }
  if (!projection.has_projection() && header.vlr_geo_keys() != nullptr) {
    projection.set_projection_from_geo_keys(
        header.geo_key_count(), header.geo_key_entries(), header.geo_ascii_params(),
        header.geo_ascii_params_size(), header.geo_double_params(),
        header.geo_double_params_count());
  }
}
