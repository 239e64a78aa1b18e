#pragma once

#include <cstdint>

#include "tool/noise_settings.hpp"

class IsolationGrid;
class LASreader;
class LASwriter;
class ProgressLine;

// The second pass of the noise tool over a layered PKZ file (point types 6-10) into a PKZ
// file of the same items, versions and fixed chunk size, in classify or flag mode: each
// chunk's classification layer (or flags layer) is coded anew and every other layer copied
// as it lies, instead of decoding and coding every field of every point.
//
// Per chunk: the calling thread reads the chunk's bytes; a worker decodes layer 0 (X, Y,
// channel, returns), Z, the rewritten layer and, by flightline, the point source; the
// calling thread decides the verdicts in file order (the grid is not thread-safe and
// answers in order) and counts the points into the writer's inventory; a worker codes the
// layer and assembles the chunk; the calling thread writes the chunks in order. A bounded
// ring of chunks is in flight; without a pool (or one without threads) the same steps run
// on the calling thread, and the bytes are the same either way: those the full path writes
// from the same input when the input was coded as this system codes (see
// codec/layered_chunk_recoder.hpp).
struct LayerCopyResult {
  std::uint64_t points = 0;
  std::uint64_t noise_points = 0;
  bool write_failed = false;  // the writer said why
  // Every point was handled; otherwise (and when the write did not fail) reading goes on at
  // the first point not handled, the ordinary way: a chunk the copy could not take (one
  // that does not decode cleanly, or whose bytes are not there) is read as the full path
  // reads it, with its messages.
  bool finished = false;
};

// False, having touched nothing, when the copy does not apply: remove mode, a per-point
// report, an ignore set, a reader other than a plain LAS reader at its first point (a filter,
// transform, area, conversion, merged, buffered, piped or layer-file input), an output
// that is not such a PKZ file, or a chunk table that does not locate every point.
bool copy_layers(NoiseSettings::MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                 LASwriter& writer, std::uint8_t classify_as, bool very_verbose,
                 ProgressLine& progress, LayerCopyResult& result);
