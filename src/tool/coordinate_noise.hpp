#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Coordinates held by the caller and read where they lie (an array of another program, such
// as a numpy array, is never copied): `count` rows of x, y and z, each a double or (with
// `single_precision`) a float in the machine's byte order. Row i starts `row_stride` bytes
// after row i - 1, and y and z lie `column_stride` and 2 * `column_stride` bytes after x;
// strides may be negative. The memory is borrowed and must stay unchanged during the call.
struct CoordinateRows {
  const std::byte* data = nullptr;
  std::uint64_t count = 0;
  std::ptrdiff_t row_stride = 0;
  std::ptrdiff_t column_stride = 0;
  bool single_precision = false;
};

struct CoordinateNoiseSettings {
  float step_xy = 4.0f;  // positive and finite, single precision as the tool's options are
  float step_z = 4.0f;
  std::uint32_t isolated = 5;                // the threshold is isolated + 1
  std::int64_t memory_limit = 6291456000;    // bytes of grid tiles held in memory, all threads
  unsigned threads = 0;                      // at most; 0: one per core
  std::uint64_t rows_per_thread = 1u << 18;  // fewer rows than this a thread are not split
};

struct CoordinateNoiseResult {
  enum class Outcome {
    kDone,       // every row has its verdict
    kNotFinite,  // a NaN or infinite coordinate in row `first_not_finite`; no verdicts
    kStopped,    // `keep_going` said no; no verdicts
    kFailed,     // the grid could not be built (`error` says why); no verdicts
  };
  Outcome outcome = Outcome::kDone;
  std::uint64_t first_not_finite = 0;
  std::uint64_t noise_points = 0;
  // Rows whose cell index lies out of the grid's range (coordinates far out for the step):
  // as in the tool, they are counted nowhere and never noise.
  std::uint64_t out_of_grid = 0;
  std::uint64_t spilled_tiles = 0;  // tiles written to the temporary files
  std::string error;
};

// The noise verdict of every row, exactly as the tool decides it for points with these
// coordinates (one flightline, nothing ignored): its isolation grid with the same cells,
// counter kind, counting and threshold, its tiles spilled under `memory_limit` into a
// private temporary folder as the tool's are. Writes `noise[i]` for every row when the
// outcome is kDone; checks every row for NaN and infinities before counting it.
//
// Large inputs are split by x into parts of at least `rows_per_thread` rows, each with a grid
// and a thread of its own (the calling thread takes the first): a part's grid holds its own
// columns and the one on either side, so the verdicts are those of one grid for all points.
// `keep_going`, when given, is asked on the calling thread now and then (every 65536 rows,
// or 50 ms while it waits for the other threads) whether to go on. Failures of the temporary folder
// or the spill print their "ERROR: " line as in the tool. Throws std::bad_alloc when memory runs
// out.
CoordinateNoiseResult decide_coordinate_noise(const CoordinateRows& rows,
                                              const CoordinateNoiseSettings& settings, bool* noise,
                                              const std::function<bool()>& keep_going = {});
