#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "options/command_options.hpp"

// The options of the noise tool, set once from the command line and read for every file.
// A step of 0 means: choose per file (4, or 12 when that axis is in feet).
struct NoiseSettings {
  enum class MarkingMode { kClassify, kFlagWithheld, kRemove };

  float step_xy = 0.0f;
  float step_z = 0.0f;
  std::int32_t isolated = 5;
  std::int32_t classify_as = 7;  // -1: do not reclassify
  bool flag_as_withheld = false;
  bool remove_empty_files = true;
  bool by_flightline = false;
  bool verbose = false;
  bool very_verbose = false;
  bool quiet = false;
  std::uint64_t memory_limit = 6291456000;  // bytes of tiles of the whole grid of a file
  // -whole_tiles: every grid tile that holds a point has its whole buffer (no sparse tiles),
  // so that all of the grid can go to the temporary files.
  bool whole_tiles = false;
  bool remain_buffered = false;
  bool ilay = false;
  bool olay = false;
  const char* ilaydir = nullptr;  // borrowed argument vector entries
  const char* olaydir = nullptr;
  const char* report_file = nullptr;  // -report: the run's JSON report goes there
  // -cores: threads of the run, between 1 and the machine's cores; 0 means all of them.
  std::uint32_t cores = 0;
  // -decoded_spill: the most MB that a compressed file's decoded points may take in the
  // temporary folder, for the second pass to read instead of decoding again; 0 never, -1
  // the default (an eighth of the machine's memory).
  std::int64_t decoded_spill = -1;

  // Later options override earlier ones, so the mode follows from the two fields as they
  // ended up: a class code classifies, else the withheld flag flags, else points go.
  MarkingMode marking_mode() const {
    if (classify_as != -1) return MarkingMode::kClassify;
    return flag_as_withheld ? MarkingMode::kFlagWithheld : MarkingMode::kRemove;
  }
  // t: a cell is isolated when it and its 26 neighbours hold at most t points.
  std::uint32_t threshold() const { return static_cast<std::uint32_t>(isolated) + 1; }
};

// What the option walk asks of the run.
enum class NoiseParseResult {
  kRun,      // go on
  kHelp,     // -h / -help: usage exit with code 0
  kVersion,  // -version: plain exit with code 0
  kFailed,   // an "ERROR: " line was printed: plain exit with code 1
};

// Walks entries 1 ... argc-1 that are not blank and applies the tool's option table to
// `settings`. An option's argument is the next entry. A bare name (no leading "-") is offered
// to `take_input_name`, which returns false when the reader factory already holds an input;
// the name is then not understood. Entries it consumed as input names are blanked.
// Prints the warnings of the accepted-but-ignored options and one "ERROR: " line on failure.
NoiseParseResult parse_noise_options(int argc, char* argv[], NoiseSettings& settings,
                                     const std::function<bool(const char*)>& take_input_name);

// The tool's own options by section, for the help and the manual page.
std::vector<command_options::OptionSection> noise_option_sections();

// "isocull (Brindlex) version 200509\n"
void print_version_line();
// The usage text, line by line.
void print_usage_text();
// Its lines, each with its line end.
const std::vector<const char*>& usage_lines();
