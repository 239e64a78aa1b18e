#include "select/las_ignore.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/las_point.hpp"
#include "select/command_options.hpp"

namespace {

using command_options::blank;
using command_options::parse_unsigned;

bool is_whole_u32(double value) {
  return value >= 0.0 && value <= 4294967295.0 && std::floor(value) == value;
}

constexpr const char* kUsageLines[] = {
    "Ignore points based on classifications.\n",
    "  -ignore_class 7\n",
    "  -ignore_class 0 1 7 33\n",
    "Ignore points based on return type.\n",
    "  -ignore_first -ignore_first_of_many\n",
    "  -ignore_last -ignore_last_of_many\n",
    "  -ignore_intermediate\n",
    "  -ignore_single\n",
    "Ignore points based on flags.\n",
    "  -ignore_synthetic -ignore_keypoint\n",
    "  -ignore_withheld -ignore_overlap\n",
};

}  // namespace

// An option either sets flag bits or has a handler that reads its arguments; `usage` and
// `help` are what -h ignore shows of it.
struct LASignore::Option {
  std::string_view name;
  std::uint32_t flag_bits;
  bool (LASignore::*handler)(const char* option, int& index, int argc, char* argv[]);
  const char* usage;
  const char* help;
};

const LASignore::Option LASignore::kOptions[] = {
    {"-ignore_class", 0, &LASignore::parse_class_list, "c [c ...]",
     "points of these classes (0-255)"},
    {"-ignore_extended_class", 0, &LASignore::parse_class_list, "c [c ...]",
     "the same as -ignore_class"},
    {"-ignore_class_mask", 0, &LASignore::parse_class_mask, "mask",
     "points of the classes 0-31 whose bits are set in the mask"},
    {"-ignore_first_of_many", kFirstOfMany, nullptr, "", "first returns of several"},
    {"-ignore_last_of_many", kLastOfMany, nullptr, "", "last returns of several"},
    {"-ignore_intermediate", kIntermediate, nullptr, "", "returns between the first and the last"},
    {"-ignore_single", kSingle, nullptr, "", "single returns"},
    {"-ignore_first", kSingle | kFirstOfMany, nullptr, "", "first returns (single ones too)"},
    {"-ignore_last", kSingle | kLastOfMany, nullptr, "", "last returns (single ones too)"},
    {"-ignore_synthetic", kSynthetic, nullptr, "", "points flagged synthetic"},
    {"-ignore_keypoint", kKeypoint, nullptr, "", "points flagged keypoint"},
    {"-ignore_withheld", kWithheld, nullptr, "", "points flagged withheld"},
    {"-ignore_overlap", kOverlap, nullptr, "", "points flagged overlap"},
};

std::vector<command_options::OptionSection> LASignore::option_sections() {
  command_options::OptionSection section{"Points of a class, a return type or a flag", {}};
  for (const Option& option : kOptions)
    section.options.push_back({option.name, option.usage, option.help});
  return {section};
}

bool LASignore::parse(int& index, int argc, char* argv[]) {
  if (index < 0 || index >= argc || argv[index] == nullptr) return false;
  const std::string_view name = argv[index];
  for (const Option& option : kOptions) {
    if (option.name != name) continue;
    if (option.handler == nullptr) {
      flags |= option.flag_bits;
      blank(argv[index]);
      return true;
    }
    // The messages name the option as typed, and the entry is blanked before its
    // arguments are read.
    const std::string typed(name);
    return (this->*option.handler)(typed.c_str(), index, argc, argv);
  }
  command_options::report_not_understood(argv[index]);
  return false;
}

bool LASignore::parse_class_list(const char* option, int& index, int argc, char* argv[]) {
  if (index + 1 >= argc) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 at least argument: classification\n", option);
    return false;
  }
  blank(argv[index]);
  std::uint32_t code = 0;
  // The first code must be there; further ones follow while entries begin with a digit,
  // so that the next option ("-i" and the like) is left for the other parsers. Each must be
  // a whole number.
  do {
    index++;
    if (!parse_unsigned(argv[index], code)) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs arguments between 0 and 255 but '%s' is no valid code\n",
                   option, argv[index]);
      return false;
    }
    if (code > 255) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs arguments between 0 and 255 but '%u' is out of range\n",
                   option, code);
      return false;
    }
    add_class(code);
    blank(argv[index]);
  } while (index + 1 < argc && argv[index + 1] != nullptr &&
           std::isdigit(static_cast<unsigned char>(argv[index + 1][0])));
  return true;
}

bool LASignore::parse_class_mask(const char* option, int& index, int argc, char* argv[]) {
  if (index + 1 >= argc) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: mask\n", option);
    return false;
  }
  std::uint32_t mask = 0;
  if (!parse_unsigned(argv[index + 1], mask)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs argument between 0x00000000 and 0xFFFFFFFF but '%s' is no "
                 "valid mask\n",
                 option, argv[index + 1]);
    return false;
  }
  if (mask == 0 || mask == 0xFFFFFFFFu) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs argument between 0x00000000 and 0xFFFFFFFF but %u makes no "
                 "sense\n",
                 option, mask);
    return false;
  }
  classes[0] = mask;
  flags |= 1u;
  blank(argv[index]);
  blank(argv[index + 1]);
  index++;
  return true;
}

bool LASignore::ignore_slow(const LASpoint& point) const {
  if (flags & kClassWords) {
    const std::uint32_t code = point.get_classification();
    if (classes[code >> 5] & (1u << (code & 31))) return true;
  }
  if (flags & kReturnTypes) {
    const int r = point.return_number;
    const int n = point.number_of_returns;
    if ((flags & kSingle) && n <= 1) return true;
    if ((flags & kFirstOfMany) && n > 1 && r <= 1) return true;
    if ((flags & kLastOfMany) && n > 1 && r >= n) return true;
    if ((flags & kIntermediate) && r > 1 && r < n) return true;
  }
  if (flags & kPointFlags) {
    if ((flags & kSynthetic) && point.synthetic_flag) return true;
    if ((flags & kKeypoint) && point.keypoint_flag) return true;
    if ((flags & kWithheld) && point.withheld_flag) return true;
    if ((flags & kOverlap) && point.get_overlap_flag()) return true;
  }
  return false;
}

void LASignore::export_values(std::uint32_t& count, double* values) const {
  if (flags == 0) return;
  values[count++] = flags;
  for (int k = 0; k < 8; k++) {
    if (flags & (1u << k)) values[count++] = classes[k];
  }
}

bool LASignore::import_values(std::uint32_t index, std::uint32_t count, const double* values) {
  if (index == count) return true;
  if (count < index) return false;
  if (!is_whole_u32(values[index])) return false;
  LASignore imported;
  imported.flags = static_cast<std::uint32_t>(values[index++]);
  for (int k = 0; k < 8; k++) {
    if ((imported.flags & (1u << k)) == 0) continue;
    if (index >= count || !is_whole_u32(values[index])) return false;
    imported.classes[k] = static_cast<std::uint32_t>(values[index++]);
  }
  *this = imported;
  return true;
}

void LASignore::usage() {
  for (const char* line : kUsageLines)
    std::fputs(line, stderr);
}
