#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tool/noise_settings.hpp"

class ByteStreamIn;
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
// channel, returns), Z, the rewritten layer and, by flightline, the point source (or, given
// the first pass's records of the chunk's points, only the rewritten layer); the
// calling thread decides the verdicts in file order (the grid is not thread-safe and
// answers in order); a worker codes the
// layer and assembles the chunk; the calling thread writes the chunks in order. The copy
// writes exactly the points the input's header counts, with their returns and coordinates,
// so the output keeps the input's counts and box and no tally is kept. A bounded
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

// What the copy needs of a point from the first pass, taken from its raw POINT14 record:
// X, Y, Z (bytes 0-11), returns and flags (14-15), point source (20-21), in 16 bytes.
inline constexpr std::size_t kLayerCopyPointSize = 16;
inline void condense_for_layer_copy(const std::uint8_t* record, std::uint8_t* point) {
  std::memcpy(point, record, 12);
  std::memcpy(point + 12, record + 14, 2);
  std::memcpy(point + 14, record + 20, 2);
}

// False, having touched nothing, when the copy does not apply: remove mode, a per-point
// report, an ignore set, a reader other than a plain LAS reader at its first point (a filter,
// transform, area, conversion, merged, buffered, piped or layer-file input), an output
// that is not such a PKZ file, or a chunk table that does not locate every point.
// `first_pass_points`, when given, holds every point of the file as the first pass decoded
// it (condense_for_layer_copy; at least X, Y, Z, returns, channel and, by flightline, point
// source), from the first; the copy then reads those instead of decoding layer 0 and Z.
bool copy_layers(NoiseSettings::MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                 LASwriter& writer, std::uint8_t classify_as, bool very_verbose,
                 ProgressLine& progress, LayerCopyResult& result,
                 ByteStreamIn* first_pass_points = nullptr);
