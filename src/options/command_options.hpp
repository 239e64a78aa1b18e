#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

// What the option parsers of the factories share: number conversions that read text the
// way the C conversions "%u", "%d", "%f" and "%lf" do (without their undefined behaviour on
// overflow), the blanking of consumed entries, and the table that maps an option name to
// its handler.
namespace command_options {

// "%u": leading blanks, an optional sign (a minus wraps around modulo 2^32), at least one
// decimal digit; stops at the first other byte. More than 32 bits read as 4294967295.
// False when no digit was found.
bool read_unsigned(const char* text, std::uint32_t& value);
// "%d" / "%I64d": as above, signed; values beyond the type's range are clamped.
bool read_int(const char* text, int& value);
bool read_int64(const char* text, std::int64_t& value, const char** end = nullptr);
// "%f" / "%lf": whatever strtof / strtod accept after leading blanks. False when no number.
bool read_float(const char* text, float& value);
bool read_double(const char* text, double& value, const char** end = nullptr);
// The C integer conversion without a check: 0 for text that is no number.
int to_int(const char* text);

// Strict conversions for option arguments: the whole entry must be the number (no trailing
// characters, no fraction or exponent for an integer, no "nan" or "inf" for a real) and the
// value must lie in [min, max]. False, with `value` untouched, otherwise; the caller prints
// the option's "needs ..." message naming the text.
bool parse_unsigned(const char* text, std::uint32_t& value, std::uint32_t min = 0,
                    std::uint32_t max = UINT32_MAX);
bool parse_int(const char* text, int& value, int min = INT_MIN, int max = INT_MAX);
bool parse_int64(const char* text, std::int64_t& value, std::int64_t min = INT64_MIN,
                 std::int64_t max = INT64_MAX);
bool parse_double(const char* text, double& value);
// Also false for a finite double beyond the range of float.
bool parse_float(const char* text, float& value);

// A consumed entry becomes the empty string, so that later parsers skip it.
inline void blank(char* entry) {
  if (entry != nullptr) entry[0] = '\0';
}
inline bool is_blank(const char* entry) {
  return entry == nullptr || entry[0] == '\0';
}
// An entry that can be the argument of an option taking a list of names: present, not
// blank and not another option.
inline bool is_list_argument(int index, int argc, char* argv[]) {
  return index < argc && !is_blank(argv[index]) && argv[index][0] != '-';
}

// One option as the help (-h family) and the manual page show it: its name, the names of its
// arguments (empty for none) and one line on what it does (empty when its section's heading
// says it all).
struct OptionHelp {
  std::string_view name;
  std::string_view arguments;
  std::string_view text;
};

// The options of one table under one heading, in the order the table lists them.
struct OptionSection {
  std::string_view heading;
  std::vector<OptionHelp> options;
};

// One row of a factory's option table. The handler is called with the option name (for its
// messages) and `index` at the option; it reads its arguments, advances `index` to the
// last entry it consumed and returns false after printing its own "ERROR: " line. Options
// that need a fixed number of following entries declare it in `arguments` with the message
// printed (formatted with the option name) when fewer follow; options with a variable
// argument list declare 0 and check for themselves. `usage` names the arguments and `help`
// says what the option does. A row without a name and handler is no option: it starts a
// section of the help, its `help` the heading.
template <typename Owner>
struct Option {
  using Handler = bool (Owner::*)(const char* option, int& index, int argc, char* argv[]);
  std::string_view name;
  int arguments;
  const char* missing;
  Handler handler;
  const char* usage = "";
  const char* help = "";
};

// A section heading row of an option table.
template <typename Owner>
constexpr Option<Owner> heading(const char* text) {
  return Option<Owner>{"", 0, nullptr, nullptr, "", text};
}

// The help of an option table: a section per heading row (rows before the first heading
// go into a section without heading).
template <typename Owner, std::size_t N>
std::vector<OptionSection> sections_of(const Option<Owner> (&table)[N]) {
  std::vector<OptionSection> sections;
  for (const Option<Owner>& option : table) {
    if (option.name.empty()) {
      sections.push_back({option.help, {}});
      continue;
    }
    if (sections.empty()) sections.push_back({});
    sections.back().options.push_back({option.name, option.usage, option.help});
  }
  return sections;
}

enum class Outcome { kNotMine, kDone, kFailed };

// Runs the table row whose name equals argv[index] exactly. On success every entry from the
// option to the last one its handler consumed is blanked.
template <typename Owner, std::size_t N>
Outcome run_option(Owner& owner, const Option<Owner> (&table)[N], int& index, int argc,
                   char* argv[]) {
  const std::string_view name = argv[index];
  for (const Option<Owner>& option : table) {
    if (option.name != name || option.handler == nullptr) continue;
    if (index + option.arguments >= argc) {
      std::fprintf(stderr, option.missing, argv[index]);
      return Outcome::kFailed;
    }
    const int first = index;
    if (!(owner.*option.handler)(argv[first], index, argc, argv)) return Outcome::kFailed;
    for (int k = first; k <= index && k < argc; k++)
      blank(argv[k]);
    return Outcome::kDone;
  }
  return Outcome::kNotMine;
}

// Prints "ERROR: cannot understand argument '%s'\n" for an entry that no parser takes, then
// the hint's line when a hint is installed (the tool names the nearest known option).
void report_not_understood(const char* entry);
// Only the hint's line (after another message about an unknown option).
void hint_not_understood(const char* entry);
using NotUnderstoodHint = void (*)(const char* entry);
// Installed once, before any parsing.
void set_not_understood_hint(NotUnderstoodHint hint);

// Prints lines to stderr (usages).
template <std::size_t N>
void print_lines(const char* const (&lines)[N]) {
  for (const char* line : lines)
    std::fputs(line, stderr);
}

}  // namespace command_options
