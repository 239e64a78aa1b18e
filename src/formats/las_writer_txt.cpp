#include "formats/las_writer_txt.hpp"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstring>
#include <string_view>

#include "formats/text_format.hpp"
#include "formats/text_numbers.hpp"

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr char kAttributeColumn = '#';

struct SeparatorName {
  const char* name;
  char separator;
};

constexpr SeparatorName kSeparators[] = {
    {"comma", ','},     {"tab", '\t'},   {"dot", '.'},   {"period", '.'}, {"colon", ':'},
    {"semicolon", ';'}, {"hyphen", '-'}, {"minus", '-'}, {"space", ' '},
};

struct LetterRow {
  char letter;
  const char* meaning;
};

// The letters of an output parse string, in the order the error message lists them.
constexpr LetterRow kLetters[] = {
    {'x', "the x coordinate"},
    {'y', "the y coordinate"},
    {'z', "the z coordinate"},
    {'t', "the gps-time"},
    {'i', "the intensity"},
    {'a', "the scan angle"},
    {'r', "the return number"},
    {'n', "the number of returns"},
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
    {'R', "the red channel of the RGB field"},
    {'G', "the green channel of the RGB field"},
    {'B', "the blue channel of the RGB field"},
    {'M', "the index of the point (count starts at 1)"},
    {'m', "the index of the point (count starts at 0)"},
    {'w', "the wavepacket descriptor index"},
    {'W', "all wavepacket attributes"},
    {'s', "a skipped column"},
    {'X', "the unscaled and unoffset integer x coordinate"},
    {'Y', "the unscaled and unoffset integer y coordinate"},
    {'Z', "the unscaled and unoffset integer z coordinate"},
};

bool is_letter(char c) {
  for (const LetterRow& row : kLetters) {
    if (row.letter == c) return true;
  }
  return false;
}

const char* default_parse_string(int point_type) {
  switch (point_type) {
    case 1:
    case 4:
      return "xyzt";
    case 2:
      return "xyzRGB";
    case 3:
    case 5:
      return "xyztRGB";
    default:
      return "xyz";
  }
}

template <typename T>
T get_le(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

std::string parse_string_of(const std::vector<std::uint8_t>& payload) {
  const char* text =
      reinterpret_cast<const char*>(payload.data() + text_format::kOffsetParseString);
  std::size_t size = 0;
  while (size < text_format::kParseStringBytes && text[size] != '\0')
    size++;
  return std::string(text, size);
}

}  // namespace

LASwriterTXT::LASwriterTXT() = default;

LASwriterTXT::~LASwriterTXT() {
  if (file_ != nullptr) close_writer(false);
}

bool LASwriterTXT::open(const char* file_name, const LASheader* header, const char* parse_string,
                        const char* separator) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  std::FILE* file = std::fopen(file_name, "w");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return false;
  }
  if (!open_file(file, header, parse_string, separator)) {
    std::fclose(file);
    return false;
  }
  owns_file_ = true;
  return true;
}

bool LASwriterTXT::open_file(std::FILE* file, const LASheader* header, const char* parse_string,
                             const char* separator) {
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  if (header == nullptr) {
    std::fprintf(stderr, "ERROR: header pointer is zero\n");
    return false;
  }
  file_ = file;
  owns_file_ = false;
  header_ = header;
  scaling = *header;
  points_done = 0;
  bytes_written_ = 0;
  failed_ = false;
  buffer_.assign(kBufferSize, '\0');
  used_ = 0;
  if (!start(parse_string, separator)) {
    file_ = nullptr;
    return false;
  }
  return true;
}

bool LASwriterTXT::start(const char* parse_string, const char* separator) {
  warnings_.reset();
  separator_ = ' ';
  separator_name_ = "space";
  if (separator != nullptr) {
    bool known = false;
    for (const SeparatorName& row : kSeparators) {
      if (std::strcmp(row.name, separator) == 0) {
        separator_ = row.separator;
        known = true;
      }
    }
    if (!known) {
      std::fprintf(stderr, "ERROR: unknown seperator '%s'\n", separator);
      return false;
    }
    separator_name_ = separator;
  }
  std::string text = parse_string != nullptr ? parse_string : "";
  if ((pts_ || ptx_) && !write_dialect_header(text)) return false;
  if (text.empty() || text == "original")
    text = default_parse_string(header_->point_data_format & 0x3F);
  if (!compile(text)) return false;
  parse_string_ = text;
  points_total = static_cast<std::int64_t>(header_->point_count());

  const double scales[3] = {header_->x_scale_factor, header_->y_scale_factor,
                            header_->z_scale_factor};
  static constexpr double kDecimalScales[9] = {0.1,      0.01,      0.001,      0.0001,     0.00001,
                                               0.000001, 0.0000001, 0.00000001, 0.000000001};
  for (int k = 0; k < 3; k++) {
    decimals_[k] = 15;
    trimmed_[k] = true;
    for (int d = 0; d < 9; d++) {
      if (scales[k] == kDecimalScales[d]) {
        decimals_[k] = d + 1;
        trimmed_[k] = false;
      }
    }
  }
  return !failed_;
}

bool LASwriterTXT::write_dialect_header(std::string& parse_string) {
  using namespace text_format;
  const LASheader& header = *header_;
  const bool take_parse = parse_string.empty() || parse_string == "original";
  char line[1024];
  bool write_pts = pts_;
  const char* dialect = pts_ ? "PTS" : "PTX";
  if (ptx_) {
    const int found = header.find_vlr(kUserId, kRecordIdPTX);
    if (found >= 0 && header.vlrs[found].data.size() == kPayloadSizePTX) {
      const std::vector<std::uint8_t>& payload = header.vlrs[found].data;
      if (take_parse) parse_string = parse_string_of(payload);
      int n = std::snprintf(line, sizeof(line), "%u     \n%u     \n",
                            static_cast<unsigned>(get_le<std::int64_t>(payload, kOffsetColumns)),
                            static_cast<unsigned>(get_le<std::int64_t>(payload, kOffsetRows)));
      if (!put(line, static_cast<std::size_t>(n))) return false;
      // Translation and rotation rows of three, transformation rows of four.
      std::size_t at = kOffsetTranslation;
      for (int row = 0; row < 8; row++) {
        const int numbers = row < 4 ? 3 : 4;
        char* out = line;
        for (int i = 0; i < numbers; i++) {
          if (i > 0) *out++ = ' ';
          out = text_numbers::write_general(out, get_le<double>(payload, at));
          at += 8;
        }
        *out++ = '\n';
        if (!put(line, static_cast<std::size_t>(out - line))) return false;
      }
    } else {
      if (found >= 0) {
        std::fprintf(stderr, "WARNING: found VLR for PTX with wrong payload size of %d.\n",
                     static_cast<int>(header.vlrs[found].data.size()));
      } else {
        std::fprintf(stderr, "WARNING: found no VLR with PTX info.\n");
      }
      std::fprintf(stderr, "         outputting PTS instead ...\n");
      write_pts = true;
    }
  } else {
    int found = header.find_vlr(kUserId, kRecordIdPTS);
    std::uint16_t record_id = kRecordIdPTS;
    if (found < 0) {
      found = header.find_vlr(kUserId, kRecordIdPTX);
      record_id = kRecordIdPTX;
    }
    if (found < 0) {
      std::fprintf(stderr, "WARNING: found no VLR with PTS or PTX info.\n");
    } else if (take_parse) {
      const std::vector<std::uint8_t>& payload = header.vlrs[found].data;
      if (payload.size() >= kPayloadSizePTS) {
        parse_string = parse_string_of(payload);
      } else {
        std::fprintf(stderr, "WARNING: found VLR for %s with wrong payload size of %d.\n",
                     record_id == kRecordIdPTS ? "PTS" : "PTX", static_cast<int>(payload.size()));
      }
    }
  }
  if (write_pts) {
    int n;
    if (header.version_minor < 4) {
      n = std::snprintf(line, sizeof(line), "%u       \n", header.number_of_point_records);
    } else {
      n = std::snprintf(line, sizeof(line), "%" PRId64 "       \n",
                        static_cast<std::int64_t>(header.extended_number_of_point_records));
    }
    if (!put(line, static_cast<std::size_t>(n))) return false;
  }
  const std::string_view text = parse_string;
  if (!text.empty() && text != "original" && text != "xyz" && text != "xyzi" && text != "xyziRGB" &&
      text != "xyzRGB") {
    std::fprintf(
        stderr,
        "WARNING: the parse string for %s should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n",
        dialect);
  }
  if (separator_ != ' ') {
    std::fprintf(stderr, "WARNING: the separator for %s should be 'space' not '%s'\n", dialect,
                 separator_name_.c_str());
  }
  return true;
}

bool LASwriterTXT::compile(const std::string& text) {
  columns_.clear();
  const int attributes = header_->attribute_count();
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      if (c - '0' >= attributes) {
        std::fprintf(stderr, "ERROR: extra bytes attribute '%d' does not exist.\n", c - '0');
        return false;
      }
      columns_.push_back(Column{kAttributeColumn, static_cast<std::int16_t>(c - '0')});
      continue;
    }
    if (!is_letter(c)) {
      std::fprintf(stderr, "ERROR: unknown symbol '%c' in parse string. valid are\n", c);
      for (const LetterRow& row : kLetters) {
        std::fprintf(stderr, "       '%c' : %s\n", row.letter, row.meaning);
      }
      return false;
    }
    columns_.push_back(Column{c, -1});
  }
  return true;
}

bool LASwriterTXT::put(const char* text, std::size_t size) {
  if (used_ + size > buffer_.size() && !flush()) return false;
  if (size > buffer_.size()) {
    if (std::fwrite(text, 1, size, file_) != size) {
      failed_ = true;
      std::fprintf(stderr, "ERROR: writing text output failed: %s\n", std::strerror(errno));
      return false;
    }
    bytes_written_ += static_cast<std::int64_t>(size);
    return true;
  }
  std::memcpy(buffer_.data() + used_, text, size);
  used_ += size;
  return true;
}

bool LASwriterTXT::flush() {
  if (used_ == 0) return !failed_;
  if (failed_) return false;
  if (std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
    failed_ = true;
    std::fprintf(stderr, "ERROR: writing text output failed: %s\n", std::strerror(errno));
    used_ = 0;
    return false;
  }
  bytes_written_ += static_cast<std::int64_t>(used_);
  used_ = 0;
  return true;
}

char* LASwriterTXT::write_coordinate(char* out, double value, int axis) const {
  return trimmed_[axis] ? text_numbers::write_fixed_trimmed(out, value, 15)
                        : text_numbers::write_fixed(out, value, decimals_[axis]);
}

bool LASwriterTXT::write_point(const LASpoint& point) {
  if (file_ == nullptr || failed_) return false;
  points_done++;
  // One line of columns; the largest column ("W": seven numbers) fits kMaxNumberChars each.
  if (buffer_.size() - used_ < (columns_.size() * 8 + 1) * text_numbers::kMaxNumberChars &&
      !flush()) {
    return false;
  }
  char* const begin = buffer_.data() + used_;
  char* out = begin;
  bool first = true;
  for (const Column& column : columns_) {
    if (!first) *out++ = separator_;
    first = false;
    switch (column.letter) {
      case 'x':
        out = write_coordinate(out, scaling.get_x(point.X), 0);
        break;
      case 'y':
        out = write_coordinate(out, scaling.get_y(point.Y), 1);
        break;
      case 'z':
        out = write_coordinate(out, scaling.get_z(point.Z), 2);
        break;
      case 'X':
        out = text_numbers::write_int(out, point.X);
        break;
      case 'Y':
        out = text_numbers::write_int(out, point.Y);
        break;
      case 'Z':
        out = text_numbers::write_int(out, point.Z);
        break;
      case 't':
        out = text_numbers::write_fixed(out, point.gps_time, 6);
        break;
      case 'i':
        if (pts_) {
          out = text_numbers::write_int(out, static_cast<std::int64_t>(point.intensity) - 2048);
        } else if (ptx_) {
          const float fraction = text_format::kIntensityFractionPTX * point.intensity;
          out = text_numbers::write_fixed_trimmed(out, fraction, 3);
        } else {
          out = text_numbers::write_int(out, point.intensity);
        }
        break;
      case 'a':
        out = text_numbers::write_int(out, point.scan_angle_rank);
        break;
      case 'r':
        out = text_numbers::write_int(out, point.return_number);
        break;
      case 'n':
        out = text_numbers::write_int(out, point.number_of_returns);
        break;
      case 'c':
        out = text_numbers::write_int(out, point.classification);
        break;
      case 'u':
        out = text_numbers::write_int(out, point.user_data);
        break;
      case 'p':
        out = text_numbers::write_int(out, point.point_source_ID);
        break;
      case 'e':
        out = text_numbers::write_int(out, point.edge_of_flight_line);
        break;
      case 'd':
        out = text_numbers::write_int(out, point.scan_direction_flag);
        break;
      case 'h':
        out = text_numbers::write_int(out, point.withheld_flag);
        break;
      case 'k':
        out = text_numbers::write_int(out, point.keypoint_flag);
        break;
      case 'g':
        out = text_numbers::write_int(out, point.synthetic_flag);
        break;
      case 'o':
        out = text_numbers::write_int(out, point.get_overlap_flag() ? 1 : 0);
        break;
      case 'l':
        out = text_numbers::write_int(out, point.extended_scanner_channel);
        break;
      case 'R':
      case 'G':
      case 'B': {
        const std::uint16_t channel = point.rgb[column.letter == 'R'   ? 0
                                                : column.letter == 'G' ? 1
                                                                       : 2];
        if (scale_rgb_ != 1.0f) {
          out = text_numbers::write_fixed(out, static_cast<float>(channel) * scale_rgb_, 2);
        } else {
          out = text_numbers::write_int(out, channel);
        }
        break;
      }
      case 'M':
        out = text_numbers::write_int(out, points_done);
        break;
      case 'm':
        out = text_numbers::write_int(out, points_done - 1);
        break;
      case 'w':
        out = text_numbers::write_int(out, point.wave_packet[0]);
        break;
      case 'W': {
        std::uint64_t offset;
        std::uint32_t size;
        float location, dx, dy, dz;
        std::memcpy(&offset, point.wave_packet + 1, 8);
        std::memcpy(&size, point.wave_packet + 9, 4);
        std::memcpy(&location, point.wave_packet + 13, 4);
        std::memcpy(&dx, point.wave_packet + 17, 4);
        std::memcpy(&dy, point.wave_packet + 21, 4);
        std::memcpy(&dz, point.wave_packet + 25, 4);
        out = text_numbers::write_int(out, point.wave_packet[0]);
        *out++ = separator_;
        out = std::to_chars(out, out + text_numbers::kMaxNumberChars, offset).ptr;
        *out++ = separator_;
        out = text_numbers::write_int(out, static_cast<std::int32_t>(size));
        *out++ = separator_;
        out = text_numbers::write_general(out, location);
        for (const float d : {dx, dy, dz}) {
          *out++ = separator_;
          out = text_numbers::write_general(out, d, 15);
        }
        break;
      }
      case 's':
        break;
      case kAttributeColumn: {
        const LASattributeDescriptor& descriptor = header_->descriptor(column.attribute);
        const int type = descriptor.data_type;
        if (type < 1 || type > 10) {
          warnings_.warn("WARNING: attribute %d not (yet) implemented.\n", column.attribute);
          break;
        }
        const double value =
            header_->get_value(point.extra_bytes.data(), point.extra_bytes_size, column.attribute);
        const bool integer = type <= 8;
        if (integer && !descriptor.has_scale() && !descriptor.has_offset()) {
          out = text_numbers::write_int(out, static_cast<std::int64_t>(value));
        } else {
          out = text_numbers::write_general(out, value);
        }
        break;
      }
      default:
        break;
    }
  }
  *out++ = '\n';
  used_ += static_cast<std::size_t>(out - begin);
  return true;
}

std::int64_t LASwriterTXT::close_writer(bool /*fix_count*/) {
  if (file_ == nullptr) return 0;
  warnings_.finish();
  flush();
  if (std::fflush(file_) != 0 && !failed_) {
    failed_ = true;
    std::fprintf(stderr, "ERROR: writing text output failed: %s\n", std::strerror(errno));
  }
  if (owns_file_ && std::fclose(file_) != 0 && !failed_) {
    failed_ = true;
    std::fprintf(stderr, "ERROR: closing text output failed: %s\n", std::strerror(errno));
  }
  file_ = nullptr;
  owns_file_ = false;
  const std::int64_t bytes = bytes_written_;
  // What was written is what the output holds (the point counter starts again).
  points_total = points_done;
  points_done = 0;
  return failed_ ? 0 : bytes;
}
