#pragma once

#include <cstdint>
#include <vector>

#include "options/command_options.hpp"

class LASpoint;

// The points a tool leaves alone: given classifications, given return types and given
// flags. The reader factory builds the set from the "-ignore_" options, owns it and lends
// it to every reader it opens; tools ask `ignore` for each point and neither count nor
// change an ignored point.
//
// `flags` bits 0-7 tell which words of `classes` hold a class; bits 8-15 select return
// types and flags (the kIgnore* constants). The set travels with a layer record as a list
// of doubles (`export_values` / `import_values`).
class LASignore {
 public:
  static constexpr std::uint32_t kClassWords = 0x00FF;
  static constexpr std::uint32_t kFirstOfMany = 0x0100;
  static constexpr std::uint32_t kLastOfMany = 0x0200;
  static constexpr std::uint32_t kIntermediate = 0x0400;
  static constexpr std::uint32_t kSingle = 0x0800;
  static constexpr std::uint32_t kReturnTypes = 0x0F00;
  static constexpr std::uint32_t kSynthetic = 0x1000;
  static constexpr std::uint32_t kKeypoint = 0x2000;
  static constexpr std::uint32_t kWithheld = 0x4000;
  static constexpr std::uint32_t kOverlap = 0x8000;
  static constexpr std::uint32_t kPointFlags = 0xF000;

  // Most doubles one `export_values` call appends: the flags and eight class words.
  static constexpr std::uint32_t kMaxExportedValues = 9;

  std::uint32_t flags = 0;
  std::uint32_t classes[8] = {0, 0, 0, 0, 0, 0, 0, 0};

  // Parses the option at argv[index], whose name begins with "-ignore_", and its arguments.
  // Consumed entries are blanked (their first byte set to 0) so that later parsers skip
  // them; `index` is left at the last consumed entry. Returns false after printing one
  // "ERROR: " line; the set may then hold part of the option and should be discarded.
  // Numbers are read like "%u": blanks, an optional sign (a minus wraps around modulo
  // 2^32) and decimal digits; values beyond 32 bits read as 4294967295.
  bool parse(int& index, int argc, char* argv[]);

  // True when the point is to be left alone. The class test uses the point's full
  // classification (the 8-bit extended class for point types 6-10) against all 256 codes
  // of the set, so "-ignore_extended_class 40" matches class 40 and "-ignore_class 0" does
  // not match points of classes 32-255.
  bool ignore(const LASpoint& point) const {
    if (flags == 0) return false;
    return ignore_slow(point);
  }

  // Appends the set at values[count] and advances count: nothing for an empty set, else
  // `flags` and then word k of `classes` for each k whose flags bit k is set. `values` must
  // have room for kMaxExportedValues more entries.
  void export_values(std::uint32_t& count, double* values) const;

  // Reads a set that `export_values` wrote, from values[index] of an array of `count`
  // doubles. index == count: true, set unchanged. False (set unchanged) when index > count,
  // when a value is no whole number in 0 ... 4294967295, or when the class words run out.
  bool import_values(std::uint32_t index, std::uint32_t count, const double* values);

  // Prints the usage lines of the options to stderr.
  static void usage();
  // Every option of the table, for the help of -h ignore and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  friend bool operator==(const LASignore&, const LASignore&) = default;

 private:
  bool ignore_slow(const LASpoint& point) const;
  void add_class(std::uint32_t code) {
    classes[code >> 5] |= 1u << (code & 31);
    flags |= 1u << (code >> 5);
  }

  struct Option;
  static const Option kOptions[];
  bool parse_class_list(const char* option, int& index, int argc, char* argv[]);
  bool parse_class_mask(const char* option, int& index, int argc, char* argv[]);
};
