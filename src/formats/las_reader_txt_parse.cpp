// The columns of a text line: the letters of the parse string, their checks and warnings,
// and the attributes they fill.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "formats/las_reader_txt.hpp"
#include "formats/text_format.hpp"
#include "formats/text_numbers.hpp"

namespace {

constexpr char kAttributeColumn = '#';  // compiled form of 0-9 and "(n)"

// The letters of a parse string, in the order the error message lists them.
struct LetterRow {
  char letter;
  const char* meaning;
};

constexpr LetterRow kLetters[] = {
    {'x', "the x coordinate"},
    {'y', "the y coordinate"},
    {'z', "the z coordinate"},
    {'t', "the gps time"},
    {'i', "the intensity"},
    {'a', "the scan angle"},
    {'r', "the return number"},
    {'n', "the number of returns of given pulse"},
    {'c', "the classification"},
    {'u', "the user data"},
    {'p', "the point source ID"},
    {'e', "the edge of flight line flag"},
    {'d', "the direction of scan flag"},
    {'h', "the withheld flag"},
    {'k', "the keypoint flag"},
    {'g', "the synthetic flag"},
    {'o', "the overlap flag"},
    {'l', "the scanner channel"},
    {'E', "the terrasolid echo encoding"},
    {'R', "the red channel of the RGB field"},
    {'G', "the green channel of the RGB field"},
    {'B', "the blue channel of the RGB field"},
    {'I', "the near infrared channel of the NIR field"},
    {'H', "a hexadecimal string encoding the RGB color"},
    {'J', "a hexadecimal string encoding the intensity"},
    {'s', "skip this number"},
    {'0', "the first extra bytes attribute (-iadd_extra) and so on up to '9'"},
    {'(', "'(10)' the eleventh extra bytes attribute and so on"},
};

bool is_letter(char c) {
  for (const LetterRow& row : kLetters) {
    if (row.letter == c && c != '0' && c != '(') return true;
  }
  return false;
}

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';';
}

const char* skip_separators(const char* p) {
  while (is_separator(*p))
    p++;
  return p;
}

// Hexadecimal columns may be quoted.
const char* skip_separators_and_quotes(const char* p) {
  while (is_separator(*p) || *p == '"')
    p++;
  return p;
}

const char* next_separator(const char* p) {
  while (*p != '\0' && !is_separator(*p))
    p++;
  return p;
}

bool has_any(const std::string& text, const char* letters) {
  return text.find_first_of(letters) != std::string::npos;
}

// A single-bit flag: set when not 0; anything but 0 and 1 (negatives too) warns.
bool flag_value(std::int32_t value, const char* warning, RepeatedWarnings& warnings) {
  if (static_cast<std::uint32_t>(value) > 1 && warnings.allow(warning)) {
    std::fprintf(stderr, warning, value);
  }
  return value != 0;
}

// `low`..`high` with "negative counts as above" for the warning.
std::int32_t clamp_warn(std::int32_t value, std::int32_t high, const char* warning,
                        RepeatedWarnings& warnings) {
  if (value < 0 || value > high) {
    if (warnings.allow(warning)) std::fprintf(stderr, warning, value);
    return value < 0 ? 0 : high;
  }
  return value;
}

// The part of a line a warning shows: control bytes escaped, up to
// text_format::kShownLineLimit bytes of text.
std::string shown_line(const char* line, std::size_t length) {
  return shown_text(std::string_view(line, length), text_format::kShownLineLimit);
}

std::uint16_t clamp_u16(std::int32_t value) {
  return static_cast<std::uint16_t>(value < 0 ? 0 : value > 65535 ? 65535 : value);
}

// Round half away from zero, held inside [low, high] (NaN gives 0): never a cast of a value
// the target cannot hold.
std::int64_t round_within(double value, double low, double high) {
  if (std::isnan(value)) return 0;
  const double rounded = value >= 0.0 ? std::floor(value + 0.5) : std::ceil(value - 0.5);
  if (rounded < low) return static_cast<std::int64_t>(low);
  if (rounded > high) return static_cast<std::int64_t>(high);
  return static_cast<std::int64_t>(rounded);
}

}  // namespace

bool LASreaderTXT::compile_columns(const std::string& text, std::vector<Column>& columns) const {
  columns.clear();
  const int described = static_cast<int>(attributes_.size());
  for (std::size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (is_letter(c)) {
      columns.push_back(Column{c, -1});
      continue;
    }
    if (c >= '0' && c <= '9') {
      const int index = c - '0';
      if (index >= described) {
        std::fprintf(stderr, "ERROR: extra bytes attribute '%d' was not described.\n", index);
        return false;
      }
      columns.push_back(Column{kAttributeColumn, static_cast<std::int16_t>(index)});
      continue;
    }
    if (c == '(') {
      std::size_t at = i + 1;
      int index = 0;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9' && index < 100000) {
        index = index * 10 + (text[at] - '0');
        at++;
      }
      if (at == i + 1) {
        std::fprintf(stderr, "ERROR: parse string opening bracket '(' misses extra bytes index.\n");
        return false;
      }
      if (index >= described) {
        std::fprintf(stderr, "ERROR: extra bytes attribute '%d' was not described.\n", index);
        return false;
      }
      if (at >= text.size() || text[at] != ')') {
        std::fprintf(stderr, "ERROR: extra bytes attribute '%d' misses closing bracket.\n", index);
        return false;
      }
      columns.push_back(Column{kAttributeColumn, static_cast<std::int16_t>(index)});
      i = at;
      continue;
    }
    std::fprintf(stderr, "ERROR: unknown symbol '%c' in parse string. valid are\n", c);
    for (const LetterRow& row : kLetters) {
      std::fprintf(stderr, "       '%c' : %s\n", row.letter, row.meaning);
    }
    return false;
  }
  // Without a coordinate column every point would lie at 0 on that axis.
  for (const char axis : {'x', 'y', 'z'}) {
    if (text.find(axis) == std::string::npos) {
      std::fprintf(stderr,
                   "ERROR: parse string '%s' has no '%c': the columns of a point need x, y and "
                   "z\n",
                   text.c_str(), axis);
      return false;
    }
  }
  return true;
}

std::uint8_t LASreaderTXT::point_type_for(const std::string& text) {
  const bool colour = has_any(text, "RGBH");
  const bool time = has_any(text, "t");
  if (!has_any(text, "olI")) {
    if (time && colour) return 3;
    if (time) return 1;
    if (colour) return 2;
    return 0;
  }
  if (has_any(text, "I")) return 8;
  if (colour) return 7;
  return 6;
}

void LASreaderTXT::warn_unparsable(const char* line, std::size_t length, const std::string& shown) {
  static constexpr char kWarning[] = "WARNING: cannot parse '%s' with '%s'. skipping ...\n";
  if (!warnings_.allow(kWarning)) return;
  std::fprintf(stderr, kWarning, shown_line(line, length).c_str(), shown.c_str());
}

void LASreaderTXT::warn_not_finite(const char* line, std::size_t length) {
  static constexpr char kWarning[] =
      "WARNING: coordinates or GPS time of '%s' are not finite numbers. skipping ...\n";
  if (!warnings_.allow(kWarning)) return;
  std::fprintf(stderr, kWarning, shown_line(line, length).c_str());
}

bool LASreaderTXT::store_attribute(int index, double value) {
  Attribute& attribute = attributes_[static_cast<std::size_t>(index)];
  if (attribute.offset != 0.0) value -= attribute.offset;
  if (attribute.scale != 1.0) value /= attribute.scale;
  std::uint8_t* at = point.extra_bytes.data() + attribute.start;
  auto clamp_and_store = [&](const char* type, double low, double high, auto stored) {
    std::int64_t rounded = round_within(value, -9.0e18, 9.0e18);
    if (rounded < low || rounded > high) {
      warnings_.warn("WARNING: attribute %d of type %s is %d. clamped to [%d %d] range.\n", index,
                     type,
                     static_cast<int>(round_within(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max())),
                     static_cast<int>(low), static_cast<int>(high));
      rounded = rounded < low ? static_cast<std::int64_t>(low) : static_cast<std::int64_t>(high);
    }
    stored = static_cast<decltype(stored)>(rounded);
    std::memcpy(at, &stored, sizeof(stored));
  };
  switch (attribute.data_type) {
    case 1:
      clamp_and_store("U8", 0, 255, std::uint8_t{});
      break;
    case 2:
      clamp_and_store("I8", -128, 127, std::int8_t{});
      break;
    case 3:
      clamp_and_store("U16", 0, 65535, std::uint16_t{});
      break;
    case 4:
      clamp_and_store("I16", -32768, 32767, std::int16_t{});
      break;
    case 5: {
      // Without clamping, but a value beyond 32 bits cannot be stored: it is held there.
      const auto stored =
          static_cast<std::uint32_t>(value < 0.0 ? 0 : round_within(value, 0.0, 4294967295.0));
      std::memcpy(at, &stored, 4);
      break;
    }
    case 6: {
      const auto stored =
          static_cast<std::int32_t>(round_within(value, -2147483648.0, 2147483647.0));
      std::memcpy(at, &stored, 4);
      break;
    }
    case 9: {
      const double limit = std::numeric_limits<float>::max();
      const float stored = std::isnan(value) ? std::numeric_limits<float>::quiet_NaN()
                           : value > limit   ? std::numeric_limits<float>::infinity()
                           : value < -limit  ? -std::numeric_limits<float>::infinity()
                                             : static_cast<float>(value);
      std::memcpy(at, &stored, 4);
      break;
    }
    case 10:
      std::memcpy(at, &value, 8);
      break;
    default:
      warnings_.warn("WARNING: attribute %d not (yet) implemented.\n", index);
      return false;
  }
  if (track_attribute_range_) {
    if (!attribute.seen || value < attribute.min) attribute.min = value;
    if (!attribute.seen || value > attribute.max) attribute.max = value;
    attribute.seen = true;
  }
  return true;
}

LASreaderTXT::LineResult LASreaderTXT::take_line(char* line, std::size_t length,
                                                 const std::vector<Column>& columns) {
  const LineResult result = parse_line(line, length, columns);
  if (result != LineResult::kPoint || !ptx_moves_) return result;
  move_into_first_scan();
  for (const double coordinate : coordinates_) {
    if (!std::isfinite(coordinate)) return LineResult::kNotFinite;
  }
  return result;
}

// One line into `point` (and the coordinates into `coordinates_`). Anything but kPoint is
// no point; the caller warns.
LASreaderTXT::LineResult LASreaderTXT::parse_line(char* line, std::size_t length,
                                                  const std::vector<Column>& columns) {
  const char* const end = line + std::strlen(line);  // a zero byte ends the line
  (void)length;
  bool finite = true;
  // Every field the columns do not set starts from the empty point: a reader's caller may
  // change the point it was handed (the noise tool marks it), and that must not carry over.
  point.clear_values();
  const char* p = line;
  const bool extended = point.extended_layout != 0;
  for (const Column& column : columns) {
    const char letter = column.letter;
    p = (letter == 'H' || letter == 'J') ? skip_separators_and_quotes(p) : skip_separators(p);
    if (*p == '\0') return LineResult::kUnparsable;
    const char* next = nullptr;
    std::int32_t value = 0;
    // The integer letters share their reading.
    switch (letter) {
      case 'r':
      case 'n':
      case 'c':
      case 'u':
      case 'p':
      case 'e':
      case 'd':
      case 'h':
      case 'k':
      case 'g':
      case 'o':
      case 'l':
      case 'E':
      case 'R':
      case 'G':
      case 'B':
      case 'I':
        next = text_numbers::read_int(p, value);
        if (next == nullptr) return LineResult::kUnparsable;
        break;
      default:
        break;
    }
    switch (letter) {
      case 'x':
      case 'y':
      case 'z': {
        double& coordinate = coordinates_[letter - 'x'];
        next = text_numbers::read_double(p, end, coordinate);
        if (next == nullptr) return LineResult::kUnparsable;
        // A coordinate that is not finite has no quantized value.
        finite = finite && std::isfinite(coordinate);
        break;
      }
      case 't':
        next = text_numbers::read_double(p, end, point.gps_time);
        if (next == nullptr) return LineResult::kUnparsable;
        // Nor is a GPS time that is not finite a moment of the survey.
        finite = finite && std::isfinite(point.gps_time);
        break;
      case 'i': {
        float intensity = 0.0f;
        next = text_numbers::read_float(p, end, intensity);
        if (next == nullptr) return LineResult::kUnparsable;
        if (translate_intensity_ != 0.0f) intensity += translate_intensity_;
        if (scale_intensity_ != 1.0f) intensity *= scale_intensity_;
        if (!(intensity >= 0.0f && intensity < 65535.5f)) {
          warnings_.warn("WARNING: intensity %g is out of range of unsigned short\n",
                         static_cast<double>(intensity));
        }
        point.intensity = intensity >= 65535.5f ? 65535
                          : intensity >= 0.0f   ? static_cast<std::uint16_t>(intensity + 0.5f)
                                                : 0;
        break;
      }
      case 'a': {
        float angle = 0.0f;
        next = text_numbers::read_float(p, end, angle);
        if (next == nullptr) return LineResult::kUnparsable;
        if (translate_scan_angle_ != 0.0f) angle += translate_scan_angle_;
        if (scale_scan_angle_ != 1.0f) angle *= scale_scan_angle_;
        if (!(angle >= -128.0f && angle <= 127.0f)) {
          warnings_.warn("WARNING: scan angle %g is out of range of char\n",
                         static_cast<double>(angle));
        }
        // Held to what the point's field holds (the extended one counts 0.006 degrees).
        const float limit = extended ? 196.6f : 127.0f;
        if (std::isnan(angle)) angle = 0.0f;
        if (angle > limit) angle = limit;
        if (angle < (extended ? -limit : -128.0f)) angle = extended ? -limit : -128.0f;
        point.set_scan_angle(angle);
        break;
      }
      case 'r':
      case 'n': {
        const std::uint32_t bits = extended ? 15u : 7u;
        if (static_cast<std::uint32_t>(value) > bits) {
          if (letter == 'r') {
            warnings_.warn(extended ? "WARNING: return number %d is out of range of four bits\n"
                                    : "WARNING: return number %d is out of range of three bits\n",
                           value);
          } else {
            warnings_.warn(
                extended
                    ? "WARNING: number of returns of given pulse %d is out of range of four bits\n"
                    : "WARNING: number of returns of given pulse %d is out of range of three "
                      "bits\n",
                value);
          }
        }
        const auto stored = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & bits);
        // The legacy fields hold what fits three bits; the extended ones all four.
        if (letter == 'r') {
          point.return_number = stored & 7u;
          if (extended) {
            point.set_extended_return_number(stored);
            point.set_return_number(stored);
          }
        } else {
          point.number_of_returns = stored & 7u;
          if (extended) {
            point.set_extended_number_of_returns(stored);
            point.set_number_of_returns(stored);
          }
        }
        break;
      }
      case 'c':
        if (value < 0) {
          warnings_.warn("WARNING: classification %d is negative. zeroing ...\n", value);
          value = 0;
        }
        if (extended) {
          if (value > 255) {
            warnings_.warn("WARNING: extended classification %d is larger than 255. clamping ...\n",
                           value);
            point.extended_classification = 255;
            point.classification = 0;
          } else {
            point.set_classification(static_cast<std::uint8_t>(value));
          }
        } else {
          if (value > 31) {
            warnings_.warn("WARNING: classification %d is larger than 31. clamping ...\n", value);
            value = 31;
          }
          point.set_classification(static_cast<std::uint8_t>(value));
        }
        break;
      case 'u':
        point.user_data = static_cast<std::uint8_t>(clamp_warn(
            value, 255, "WARNING: user data %d is out of range of unsigned char\n", warnings_));
        break;
      case 'p':
        point.point_source_ID = static_cast<std::uint16_t>(clamp_warn(
            value, 65535, "WARNING: point source ID %d is out of range of unsigned short\n",
            warnings_));
        break;
      case 'e':
        point.edge_of_flight_line = flag_value(
            value, "WARNING: edge of flight line flag %d is out of range of boolean flag\n",
            warnings_);
        break;
      case 'd':
        point.scan_direction_flag = flag_value(
            value, "WARNING: direction of scan flag %d is out of range of boolean flag\n",
            warnings_);
        break;
      case 'h':
        point.set_withheld_flag(flag_value(
            value, "WARNING: withheld flag %d is out of range of single bit\n", warnings_));
        break;
      case 'k':
        point.set_keypoint_flag(flag_value(
            value, "WARNING: keypoint flag %d is out of range of single bit\n", warnings_));
        break;
      case 'g':
        point.set_synthetic_flag(flag_value(
            value, "WARNING: synthetic flag %d is out of range of single bit\n", warnings_));
        break;
      case 'o':
        point.set_overlap_flag(flag_value(
            value, "WARNING: overlap flag %d is out of range of single bit\n", warnings_));
        break;
      case 'l':
        if (static_cast<std::uint32_t>(value) >= 4) {
          warnings_.warn("WARNING: scanner channel %d is out of range of two bits\n", value);
        }
        point.set_extended_scanner_channel(static_cast<std::uint8_t>(value & 3));
        break;
      case 'E': {
        if (static_cast<std::uint32_t>(value) > 3) {
          warnings_.warn("WARNING: terrasolid echo encoding %d is out of range of 0 to 3\n", value);
        }
        const std::uint8_t number = value == 0 ? 1 : value == 1 ? 1 : 2;
        const std::uint8_t returns = value == 0 ? 1 : value == 1 || value == 3 ? 2 : 3;
        point.set_return_number(number);
        point.set_number_of_returns(returns);
        point.set_extended_return_number(number);
        point.set_extended_number_of_returns(returns);
        break;
      }
      case 'R':
      case 'G':
      case 'B':
        point.rgb[letter == 'R' ? 0 : letter == 'G' ? 1 : 2] = clamp_u16(value);
        break;
      case 'I':
        point.rgb[3] = clamp_u16(value);
        break;
      case 'H': {
        std::uint32_t channel[3] = {0, 0, 0};
        next = p;
        for (std::uint32_t& c : channel) {
          next = text_numbers::read_hex(next, c, 2);
          if (next == nullptr) return LineResult::kUnparsable;
        }
        for (int k = 0; k < 3; k++)
          point.rgb[k] = static_cast<std::uint16_t>(channel[k]);
        break;
      }
      case 'J': {
        std::uint32_t hex = 0;
        if (text_numbers::read_hex(p, hex) == nullptr) return LineResult::kUnparsable;
        const double scaled = static_cast<double>(hex) / 16777215.0 * 255.0;
        point.intensity =
            static_cast<std::uint16_t>(scaled > 255.0 ? 255 : static_cast<int>(scaled));
        // The encoding is six characters wide.
        next = p;
        for (int k = 0; k < 6 && *next != '\0'; k++)
          next++;
        p = next;
        continue;
      }
      case 's':
        next = p;
        break;
      case kAttributeColumn: {
        double number = 0.0;
        next = text_numbers::read_double(p, end, number);
        if (next == nullptr) return LineResult::kUnparsable;
        const Attribute& attribute = attributes_[static_cast<std::size_t>(column.attribute)];
        if (attribute.pre_scale != 1.0) number *= attribute.pre_scale;
        if (attribute.pre_offset != 0.0) number -= attribute.pre_offset;
        if (!store_attribute(column.attribute, number)) return LineResult::kUnparsable;
        break;
      }
      default:
        std::fprintf(stderr, "ERROR: unknown symbol '%c' in parse string\n", letter);
        continue;
    }
    p = next_separator(next);
  }
  return finite ? LineResult::kPoint : LineResult::kNotFinite;
}
