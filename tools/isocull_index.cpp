// Writes the spatial index of LAS and PKZ files, so that area queries (-inside,
// -inside_tile, -inside_circle) read only the points near the area: "tile.las" gets
// "tile.lax" beside it; with -append a compressed file carries the index inside.

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "index/las_index_writer.hpp"
#include "select/command_options.hpp"
#include "tool/output_claims.hpp"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: isocull_index -i tile.las [tile2.pkz ...] [-append] [-leaf_points N]\n"
               "                     [-levels L] [-v]\n"
               "  -i            point files (LAS or PKZ) to index\n"
               "  -append       store the index inside each compressed file instead of beside it\n"
               "  -leaf_points  split a cell while it holds more points (default 4000)\n"
               "  -levels       depth of the deepest cells, 0 to %u (default 10)\n"
               "  -v            report the cells and runs of each index\n",
               kMaxBuildLevels);
}

struct Settings {
  std::vector<std::string> inputs;
  LASindexBuildOptions build;
  bool append = false;
  bool verbose = false;
};

// The number after option `i`, within [min, max]; false after its message.
bool number_argument(int& i, int argc, char** argv, std::uint32_t& value, std::uint32_t min,
                     std::uint32_t max) {
  if (i + 1 >= argc || !command_options::parse_unsigned(argv[i + 1], value, min, max)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: a number from %u to %u\n", argv[i], min,
                 max);
    return false;
  }
  i++;
  return true;
}

bool parse(int argc, char** argv, Settings& settings) {
  for (int i = 1; i < argc; i++) {
    const std::string_view option = argv[i];
    if (option == "-i") {
      if (i + 1 >= argc || argv[i + 1][0] == '-') {
        std::fprintf(stderr, "ERROR: '-i' needs at least 1 argument: file_name\n");
        return false;
      }
      while (i + 1 < argc && argv[i + 1][0] != '-')
        settings.inputs.emplace_back(argv[++i]);
    } else if (option == "-leaf_points") {
      if (!number_argument(i, argc, argv, settings.build.leaf_points, 1, UINT32_MAX)) return false;
    } else if (option == "-levels") {
      if (!number_argument(i, argc, argv, settings.build.max_levels, 0, kMaxBuildLevels)) {
        return false;
      }
    } else if (option == "-append") {
      settings.append = true;
    } else if (option == "-v") {
      settings.verbose = true;
    } else {
      std::fprintf(stderr, "ERROR: cannot understand argument '%s'\n", argv[i]);
      return false;
    }
  }
  if (settings.inputs.empty()) {
    std::fprintf(stderr, "ERROR: no input specified\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "-help") == 0)) {
    usage();
    return 0;
  }
  Settings settings;
  if (!parse(argc, argv, settings)) {
    usage();
    return 1;
  }
  // An index file is never written over a file the run reads (an input named like the index
  // of another, "-i a.las a.lax") nor twice in one run.
  OutputClaims claims;
  for (const std::string& input : settings.inputs)
    claims.add_read(input, OutputClaims::ReadKind::kInput, input);
  int failed = 0;
  for (const std::string& input : settings.inputs) {
    if (!settings.append) {
      const std::string refused =
          claims.claim(LASindex::file_name_for(input), OutputClaims::WriteKind::kIndex, input);
      if (!refused.empty()) {
        std::fputs(refused.c_str(), stderr);
        failed++;
        continue;
      }
    }
    const std::unique_ptr<LASindex> index = build_index(input.c_str(), settings.build);
    const bool ok = index && (settings.append ? append_index_record(*index, input.c_str())
                                              : write_index_file(*index, input.c_str()));
    if (!ok) {
      if (!settings.append) claims.release(LASindex::file_name_for(input));
      failed++;
      continue;
    }
    if (!settings.append) claims.confirm(LASindex::file_name_for(input));
    if (settings.verbose) {
      std::size_t runs = 0;
      for (const auto& entry : index->interval().cells())
        runs += entry.second.runs.size();
      std::fprintf(stderr, "%s: %zu cells in %u levels, %zu runs%s\n", input.c_str(),
                   index->interval().cells().size(), index->quadtree().levels, runs,
                   settings.append ? " (stored inside)" : "");
    }
  }
  return failed == 0 ? 0 : 1;
}
