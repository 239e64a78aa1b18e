#pragma once

// The passes of the noise tool over one file's points (noise_passes.cpp).

#include <cstdint>

#include "tool/noise_settings.hpp"

class ByteStreamIn;
class IsolationGrid;
class LASheader;
class LASreader;
class LAStally;
class LASwriter;
class ProgressLine;

struct SecondPassResult {
  std::uint64_t points = 0;   // delivered by the reader
  std::uint64_t ignored = 0;  // of those, left alone by the ignore set
  std::uint64_t noise_points = 0;
  bool write_failed = false;
};

// Reads every point of `reader` into the grid; returns the points the ignore set left out.
std::uint64_t first_pass(IsolationGrid& grid, LASreader& reader);

// Reads every point again, marks those in isolated cells by `mode` (classify as
// `classify_as`, flag as withheld, or set the deletion mark) and writes every point to
// `writer`, by the fastest path the reader and the writer allow (a layered copy, stored
// records, or point by point): each gives the same bytes. `first_pass_records`: the
// records the first pass decoded, when kept (see copy_layers).
SecondPassResult second_pass(NoiseSettings::MarkingMode mode, LASreader& reader,
                             IsolationGrid& grid, LASwriter& writer, std::uint8_t classify_as,
                             bool very_verbose, ProgressLine& progress,
                             ByteStreamIn* first_pass_records = nullptr);

// The points that the second pass will write, counted without writing them, for an output
// whose header cannot be rewritten afterwards. False when no counting writer can be made.
bool tally_second_pass(NoiseSettings::MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                       const LASheader& header, std::uint8_t classify_as, LAStally& tally);
