#include "tool/output_marking.hpp"

#include <cstdio>

#include "select/las_writer_factory.hpp"

bool output_can_mark(std::uint32_t output_format, NoiseSettings::MarkingMode mode) {
  using Mode = NoiseSettings::MarkingMode;
  if (output_format == LASwriterFactory::kFormatBIN && mode == Mode::kFlagWithheld) {
    std::fprintf(stderr,
                 "ERROR: Terrasolid binary output has no withheld flag. mark the noise points "
                 "with '-classify_as' or leave them out with '-remove_noise'\n");
    return false;
  }
  if (output_format == LASwriterFactory::kFormatQFIT && mode != Mode::kRemove) {
    std::fprintf(stderr,
                 "ERROR: QFIT output has no %s. leave the noise points out with "
                 "'-remove_noise'\n",
                 mode == Mode::kClassify ? "classification" : "withheld flag");
    return false;
  }
  return true;
}
