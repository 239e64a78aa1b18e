#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "options/command_options.hpp"

// Every option of the tool by family, as `isocull -h <family>` prints them and the manual
// page lists them. Each family's sections come from the option table that parses those
// options (the tool's own, the reader factory's, the writer factory's, the ignore set's,
// the filter's, the transform's and the projection's), so help and parsing cannot drift
// apart.
struct OptionFamily {
  std::string_view name;                 // the word after -h: "tool", "input", ...
  std::string_view title;                // what the family is for, in a few words
  std::vector<std::string_view> common;  // the most used options, for the overview of -h
  std::vector<command_options::OptionSection> sections;
};

// The families in the order -h lists them: tool, input, output, ignore, filter, transform,
// units.
const std::vector<OptionFamily>& option_families();
// The family of that name, or null.
const OptionFamily* find_option_family(std::string_view name);

// The lines that -h adds after the usages: a heading, then one line per family with its
// most used options.
void print_option_overview(std::FILE* out);
// Every option of one family by section: its name, its arguments and what it does.
void print_option_family(const OptionFamily& family, std::FILE* out);

// The name of the option of any family nearest to `typed` when it is within two edits (an
// inserted, deleted or changed character, or two neighbours swapped, each count one);
// empty when none is, or for an entry that is no option (no leading '-'). Of several at
// the same distance the first in the order of the families wins.
std::string nearest_option(std::string_view typed);
// Prints "did you mean '%s'?\n" with the nearest option, when there is one; the hint the
// tool installs for entries that no parser takes.
void suggest_nearest_option(const char* entry);
