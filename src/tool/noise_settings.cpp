#include "tool/noise_settings.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "select/command_options.hpp"
#include "stream/worker_pool.hpp"
#include "tool/noise_tool.hpp"

namespace {

// Handlers get the option as typed and its argument (null for options without one) and
// return false after printing their "ERROR: " line.
using Handler = bool (*)(NoiseSettings& settings, const char* option, const char* argument);

struct NoiseOption {
  const char* name;
  bool takes_argument;
  // Printed with the option name when the argument is missing.
  const char* missing_message;
  // Null for a row that only describes an option the walk below handles itself (-ilay,
  // -olay, -h, -version); a row without a name and handler starts a section of the help,
  // its `help` the heading.
  Handler handle;
  const char* usage;           // its arguments, for the help
  const char* help;            // what it does, with its default in brackets
  bool skips_next = false;     // passes over the next entry (when there is one) unread
  bool blanks_itself = false;  // leaves its entry blank for later walks
};

// A step must be a positive finite size: an infinite or NaN step has no cells at all.
bool usable_step(double step) {
  return step > 0.0 && std::isfinite(step);
}

// Text that is not wholly a number of the option's type is refused naming it; a number
// outside the option's range gets the option's plain message.
bool positive_step(float& step, const char* option, const char* argument) {
  float value = 0.0f;
  if (!command_options::parse_float(argument, value)) {
    std::fprintf(stderr, "ERROR: '%s' needs positive number as argument but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  if (!usable_step(value)) {
    std::fprintf(stderr, "ERROR: '%s' needs positive number as argument\n", option);
    return false;
  }
  step = value;
  return true;
}

bool handle_verbose(NoiseSettings& s, const char*, const char*) {
  s.verbose = true;
  return true;
}
bool handle_very_verbose(NoiseSettings& s, const char*, const char*) {
  s.verbose = true;
  s.very_verbose = true;
  return true;
}
bool handle_quiet(NoiseSettings& s, const char*, const char*) {
  s.quiet = true;
  return true;
}
bool handle_gui(NoiseSettings&, const char*, const char*) {
  std::fprintf(stderr, "WARNING: not compiled with GUI support. ignoring '-gui' ...\n");
  return true;
}
bool handle_cores(NoiseSettings& s, const char* option, const char* argument) {
  std::uint32_t cores = 0;
  if (!command_options::parse_unsigned(argument, cores)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number of cores but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  const unsigned machine = WorkerPool::machine_cores();
  if (cores == 0 || cores > machine) {
    const std::uint32_t used = cores == 0 ? 1 : machine;
    std::fprintf(stderr, "WARNING: '%s %u' not possible: this machine has %u cores. using %u.\n",
                 option, cores, machine, used);
    cores = used;
  }
  s.cores = cores;
  return true;
}
bool handle_cpu64(NoiseSettings&, const char*, const char*) {
  std::fprintf(stderr, "WARNING: not compiled with 64 bit support. ignoring '-cpu64' ...\n");
  return true;
}

bool handle_mem(NoiseSettings& s, const char* option, const char* argument) {
  std::uint32_t megabytes = 0;
  if (!command_options::parse_unsigned(argument, megabytes)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: maximal memory in MB but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  if (megabytes < 200) {
    std::fprintf(stderr,
                 "WARNING: requesting less than 200 MB of memory not possible. using 500.\n");
    megabytes = 500;
  }
  s.memory_limit = static_cast<std::uint64_t>(megabytes) * 1048576u;
  return true;
}

bool handle_decoded_spill(NoiseSettings& s, const char* option, const char* argument) {
  std::uint32_t megabytes = 0;
  if (!command_options::parse_unsigned(argument, megabytes)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: maximal disk space in MB but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  s.decoded_spill = megabytes;
  return true;
}

bool handle_step(NoiseSettings& s, const char* option, const char* argument) {
  float step = 0.0f;
  if (!command_options::parse_float(argument, step)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: <step size> but '%s' in not a valid step\n",
                 option, argument);
    return false;
  }
  if (!usable_step(step)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: <step size> but %g in not a valid value\n",
                 option, static_cast<double>(step));
    return false;
  }
  s.step_xy = step;
  s.step_z = step;
  return true;
}

bool handle_step_xy(NoiseSettings& s, const char* option, const char* argument) {
  return positive_step(s.step_xy, option, argument);
}
bool handle_step_z(NoiseSettings& s, const char* option, const char* argument) {
  return positive_step(s.step_z, option, argument);
}

bool handle_isolated(NoiseSettings& s, const char* option, const char* argument) {
  int isolated = 0;
  if (!command_options::parse_int(argument, isolated)) {
    std::fprintf(stderr, "ERROR: '%s' needs positive number as argument but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  if (isolated <= 0) {
    std::fprintf(stderr, "ERROR: '%s' needs positive number as argument\n", option);
    return false;
  }
  s.isolated = isolated;
  return true;
}

bool handle_classify_as(NoiseSettings& s, const char* option, const char* argument) {
  int code = 0;
  if (!command_options::parse_int(argument, code)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs a code between 1 and 31 as argument but '%s' is not valid\n",
                 option, argument);
    return false;
  }
  if (code < 1 || code > 31) {
    std::fprintf(stderr, "ERROR: '%s' needs a code between 1 and 31 as argument\n", option);
    return false;
  }
  s.classify_as = code;
  return true;
}

bool handle_remove_noise(NoiseSettings& s, const char*, const char*) {
  s.classify_as = -1;
  s.flag_as_withheld = false;
  return true;
}
bool handle_flag_as_withheld(NoiseSettings& s, const char*, const char*) {
  s.classify_as = -1;
  s.flag_as_withheld = true;
  return true;
}
bool handle_dont_remove_empty_files(NoiseSettings& s, const char*, const char*) {
  s.remove_empty_files = false;
  return true;
}
bool handle_by_flightline(NoiseSettings& s, const char*, const char*) {
  s.by_flightline = true;
  return true;
}
bool handle_whole_tiles(NoiseSettings& s, const char*, const char*) {
  s.whole_tiles = true;
  return true;
}
bool handle_remain_buffered(NoiseSettings& s, const char*, const char*) {
  s.remain_buffered = true;
  return true;
}
bool handle_ilaydir(NoiseSettings& s, const char*, const char* argument) {
  s.ilay = true;
  s.ilaydir = argument;
  return true;
}
bool handle_report(NoiseSettings& s, const char*, const char* argument) {
  s.report_file = argument;
  return true;
}
bool handle_olaydir(NoiseSettings& s, const char*, const char* argument) {
  s.olay = true;
  s.olaydir = argument;
  return true;
}

constexpr NoiseOption heading(const char* text) {
  return NoiseOption{"", false, nullptr, nullptr, "", text};
}

// Grouped for the help (-h tool): the walk only looks for the name.
constexpr NoiseOption kOptions[] = {
    heading("The grid (a point is noise when few points lie in its cell and the 26 around)"),
    {"-step", true, "ERROR: '%s' needs 1 argument: <step size>\n", handle_step, "size",
     "cell size in x, y and z [4, 12 when the coordinates are feet]"},
    {"-step_xy", true, "ERROR: '%s' needs 1 argument: xy step size\n", handle_step_xy, "size",
     "cell size in x and y [4, 12 in feet]"},
    {"-step_z", true, "ERROR: '%s' needs 1 argument: step size\n", handle_step_z, "size",
     "cell height [4, 12 when the elevations are feet]"},
    {"-isolated", true, "ERROR: '%s' needs 1 argument: threshold\n", handle_isolated, "n",
     "noise: at most n other points in the cell and its 26 neighbours [5]"},
    {"-by_flightline", false, nullptr, handle_by_flightline, "",
     "one grid per point source ID [off]"},
    heading("Marking the noise points"),
    {"-classify_as", true, "ERROR: '%s' needs 1 argument: classification code\n",
     handle_classify_as, "c", "class code 1-31 given to noise points [7]"},
    {"-flag_as_withheld", false, nullptr, handle_flag_as_withheld, "",
     "set the withheld flag of noise points instead [off]"},
    {"-remove_noise", false, nullptr, handle_remove_noise, "",
     "leave noise points out of the output [off]"},
    {"-dont_remove_empty_files", false, nullptr, handle_dont_remove_empty_files, "",
     "keep an output without points [removed]"},
    heading("Layer files (a small file of the changes instead of a copy)"),
    {"-olay", false, nullptr, nullptr, "",
     "write the changes into a layer file beside the input (tile.las: tile.lay)"},
    {"-olaydir", true, "ERROR: '%s' needs 1 argument: directory name\n", handle_olaydir, "folder",
     "as -olay, the layer files in that folder"},
    {"-ilay", false, nullptr, nullptr, "",
     "read each input through its layer file, as the changes left it"},
    {"-ilaydir", true, "ERROR: '%s' needs 1 argument: directory name\n", handle_ilaydir, "folder",
     "as -ilay, the layer files read from that folder"},
    heading("The run"),
    {"-report", true, "ERROR: '%s' needs 1 argument: file name\n", handle_report, "run.json",
     "write a JSON report of the run [none]"},
    {"-v", false, nullptr, handle_verbose, "", "say what happens, with timings [off]"},
    {"-verbose", false, nullptr, handle_verbose, "", "the same as -v"},
    {"-vv", false, nullptr, handle_very_verbose, "", "also list every noise point [off]"},
    {"-quiet", false, nullptr, handle_quiet, "", "print only warnings and errors [off]"},
    {"-cores", true, "ERROR: '%s' needs 1 argument: number of cores\n", handle_cores, "n",
     "threads: compressed chunks coded in parallel, up to n files at once; 1: one thread "
     "[all cores]"},
    {"-mem", true, "ERROR: '%s' needs 1 argument: maximal memory in MB\n", handle_mem, "MB",
     "memory for all grid tiles of a file together; more go to temporary files [6000]"},
    {"-whole_tiles", false, nullptr, handle_whole_tiles, "",
     "no grid tile keeps its few cells in a table: each takes its whole memory and can go to "
     "the temporary files [off]"},
    {"-decoded_spill", true, "ERROR: '%s' needs 1 argument: maximal disk space in MB\n",
     handle_decoded_spill, "MB",
     "most temporary disk for a compressed file's decoded points, read back instead of "
     "decoding twice; 0: never [an eighth of the memory]"},
    {"-remain_buffered", false, nullptr, handle_remain_buffered, "",
     "keep the neighbours' points of -buffered in memory for the whole file [off]"},
    {"-h", false, nullptr, nullptr, "[family]",
     "this help on standard output; with a family (tool, input, output, ignore, filter, "
     "transform, units) every option of that family"},
    {"-help", false, nullptr, nullptr, "[family]", "the same as -h"},
    {"-version", false, nullptr, nullptr, "", "the version line"},
    {"-gui", false, nullptr, handle_gui, "", "accepted and ignored, with a warning"},
    {"-cpu64", false, nullptr, handle_cpu64, "", "accepted and ignored, with a warning", false,
     true},
};

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

NoiseParseResult parse_noise_options(int argc, char* argv[], NoiseSettings& settings,
                                     const std::function<bool(const char*)>& take_input_name) {
  for (int i = 1; i < argc; i++) {
    const char* entry = argv[i];
    if (entry[0] == '\0') continue;  // consumed by another parser
    if (std::strcmp(entry, "-h") == 0 || std::strcmp(entry, "-help") == 0) {
      return NoiseParseResult::kHelp;
    }
    if (std::strcmp(entry, "-version") == 0) return NoiseParseResult::kVersion;

    const NoiseOption* option = nullptr;
    for (const NoiseOption& candidate : kOptions) {
      if (candidate.handle != nullptr && std::strcmp(entry, candidate.name) == 0) {
        option = &candidate;
        break;
      }
    }
    if (option != nullptr) {
      const char* argument = nullptr;
      if (option->takes_argument) {
        if (i + 1 >= argc) {
          std::fprintf(stderr, option->missing_message, entry);
          return NoiseParseResult::kFailed;
        }
        argument = argv[++i];
      }
      if (!option->handle(settings, entry, argument)) return NoiseParseResult::kFailed;
      if (option->blanks_itself) argv[i][0] = '\0';
      if (option->skips_next && i + 1 < argc) i++;
      continue;
    }
    if (starts_with(entry, "-ilay")) {
      settings.ilay = true;
      // Only a bare "-ilay" takes a number after it (the count of layers to apply).
      if (std::strcmp(entry, "-ilay") == 0 && i + 1 < argc) {
        const char* next = argv[i + 1];
        if (is_digit(next[0]) || (next[0] == '-' && is_digit(next[1]))) i++;
      }
      continue;
    }
    if (starts_with(entry, "-olay")) {
      settings.olay = true;
      continue;
    }
    if (entry[0] != '-' && take_input_name && take_input_name(entry)) {
      argv[i][0] = '\0';
      continue;
    }
    command_options::report_not_understood(entry);
    return NoiseParseResult::kFailed;
  }
  return NoiseParseResult::kRun;
}

std::vector<command_options::OptionSection> noise_option_sections() {
  std::vector<command_options::OptionSection> sections;
  for (const NoiseOption& option : kOptions) {
    if (option.name[0] == '\0') {
      sections.push_back({option.help, {}});
      continue;
    }
    sections.back().options.push_back({option.name, option.usage, option.help});
  }
  return sections;
}

void print_version_line() {
  std::fprintf(stderr, "isocull (Brindlex) version %s\n", isocull_version());
}

const std::vector<const char*>& usage_lines() {
  static const std::vector<const char*> kLines = {
      "usage:\n",
      "isocull -i in.pkz -o out.pkz\n",
      "isocull -i raw\\*.pkz -step 2 -isolated 3 -odir D:\\denoised -opkz\n",
      "isocull -i raw\\*.pkz -step_xy 1 -step_z 0.25 -isolated 10 -classify_as 7 -odix _denoised "
      "-opkz\n",
      "isocull -i *.pkz -step 4 -isolated 5 -opkz -remove_noise\n",
      "isocull -i *.pkz -step_xy 2 -step_z 0.5 -isolated 10 -flag_as_withheld -odix _denoised "
      "-opkz\n",
      "isocull -i tiles\\*.pkz -step 3 -isolated 3 -classify_as 31 -odir denoised -opkz\n",
      "isocull -h\n",
  };
  return kLines;
}

void print_usage_text() {
  for (const char* line : usage_lines())
    std::fputs(line, stderr);
}
