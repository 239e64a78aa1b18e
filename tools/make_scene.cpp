// Writes the synthetic airborne scene as a LAS file, with the injected noise points listed
// in a truth file, for the demo, the benchmarks and the end-to-end tests.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scene/scene_las.hpp"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: make_scene -o out.las [-points N] [-seed S] [-type 0-10] [-feet]\n"
               "                  [-density D] [-noise F] [-truth noise.txt]\n"
               "  -points   number of points (default 500000)\n"
               "  -seed     random seed (default 1)\n"
               "  -type     LAS point type 0 to 10 (default 1)\n"
               "  -feet     coordinates in US survey feet instead of metres\n"
               "  -density  pulses per square metre and flight line (default 6)\n"
               "  -noise    share of injected noise points (default 0.001)\n"
               "  -truth    file receiving the indexes of the injected noise points\n");
}

}  // namespace

int main(int argc, char** argv) {
  SceneFileOptions options;
  std::string output;
  for (int i = 1; i < argc; i++) {
    const char* option = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ERROR: '%s' needs 1 argument\n", option);
        usage();
        std::exit(1);
      }
      return argv[++i];
    };
    if (std::strcmp(option, "-o") == 0) {
      output = value();
    } else if (std::strcmp(option, "-points") == 0) {
      options.scene.points = std::strtoull(value(), nullptr, 10);
    } else if (std::strcmp(option, "-seed") == 0) {
      options.scene.seed = static_cast<std::uint32_t>(std::strtoul(value(), nullptr, 10));
    } else if (std::strcmp(option, "-type") == 0) {
      options.point_type = std::atoi(value());
    } else if (std::strcmp(option, "-feet") == 0) {
      options.scene.feet = true;
    } else if (std::strcmp(option, "-density") == 0) {
      options.scene.density = std::atof(value());
    } else if (std::strcmp(option, "-noise") == 0) {
      options.scene.noise_fraction = std::atof(value());
    } else if (std::strcmp(option, "-truth") == 0) {
      options.truth_path = value();
    } else if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "-help") == 0) {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "ERROR: cannot understand argument '%s'\n", option);
      usage();
      return 1;
    }
  }
  if (output.empty()) {
    std::fprintf(stderr, "ERROR: no output file given ('-o')\n");
    usage();
    return 1;
  }
  return write_scene_las(output.c_str(), options) ? 0 : 1;
}
