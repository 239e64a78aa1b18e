#pragma once

#include <cstdint>

class IsolationGrid;

// Whether a file's points are dense enough for the settings, from the counts of the first
// pass. A point is noise when its cell and the 26 around it hold at most `isolated` + 1
// points (the point itself among them); where genuine points lie sparsely (tree tops,
// water, the edge of a scan) that count comes near the threshold, and genuine points are
// marked too. So the check looks at the sparse end of the points that are not noise by the
// settings (none when more than one in ten are noise: the settings do not fit at all, and
// the warning about that share speaks): the neighbourhood count
// that one point in 200 of them has at most (the "sparse count"). Below three times
// `isolated` + 1, genuine points start to be marked: on generated scenes this is where more
// than one marked point in 20 is a genuine one.
//
// The step that would give enough is computed from the same counts: the count in a cube of
// 5, 7 or 9 cells a side around a point is the count of its 27 cells at a step 5/3, 7/3 or
// 9/3 as large; between two of those the step that gives twice the bound (a margin) is
// interpolated on a log-log scale, and rounded up to two significant digits.
struct DensityFinding {
  bool sparse = false;
  std::uint64_t sparse_count = 0;  // the neighbourhood count of one point in 200
  std::uint64_t bound = 0;         // three times `isolated` + 1
  double scale = 1.0;              // the steps times this would give about `target`
  std::uint64_t target = 0;        // twice the bound
};

// Needs the grid between its first pass and its search (the counter rasters whole). Files
// of fewer than 200 sampled points are not judged.
DensityFinding check_density(IsolationGrid& grid, std::uint32_t isolated);

// `step` times `scale`, rounded up to two significant digits (6.47 gives 6.5, 19.3 gives 20).
double rounded_up_step(double step, double scale);
