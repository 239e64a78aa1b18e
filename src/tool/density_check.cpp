#include "tool/density_check.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "tool/isolation_grid.hpp"

namespace {

constexpr std::size_t kFewestSamples = 200;
// More noise than this (the share the tool warns about) and the settings are what is wrong.
constexpr double kLeastGenuineShare = 0.9;
constexpr double kSparseShare = 0.005;  // one point in 200
constexpr std::uint64_t kBoundPerIsolated = 3;
constexpr std::uint64_t kTargetPerBound = 2;
constexpr std::int32_t kWidestReach = 4;  // cubes of up to 9 cells a side: the step times 3
// The wider cubes are counted for this many points at most (each costs up to 729 cells).
constexpr std::size_t kWideSamples = 4096;

std::uint64_t sparse_end(std::vector<std::uint64_t> counts) {
  const std::size_t rank =
      static_cast<std::size_t>(kSparseShare * static_cast<double>(counts.size()));
  std::nth_element(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(rank),
                   counts.end());
  return counts[rank];
}

// The step factor of a cube of 2 reach + 1 cells a side: its count is that of the 27 cells
// at this factor times the step.
double factor_of(std::int32_t reach) {
  return (2.0 * reach + 1.0) / 3.0;
}

}  // namespace

DensityFinding check_density(IsolationGrid& grid, std::uint32_t isolated) {
  DensityFinding finding;
  const std::uint64_t threshold = static_cast<std::uint64_t>(isolated) + 1;
  finding.bound = kBoundPerIsolated * threshold;
  finding.target = kTargetPerBound * finding.bound;
  // The points that are not noise by the settings: the noise of a file says nothing about
  // how dense its genuine points are. When more than one in ten are noise, the settings do
  // not fit the file at all, and the warning about that share (after the second pass) says
  // so instead.
  const std::size_t samples = grid.neighbourhood_sample_count();
  if (samples < kFewestSamples) return finding;
  std::vector<std::size_t> kept;
  std::vector<std::uint64_t> counts;
  for (std::size_t i = 0; i < samples; i++) {
    const std::uint64_t count = grid.sample_neighbourhood(i, 1);
    if (count <= threshold) continue;
    kept.push_back(i);
    counts.push_back(count);
  }
  if (static_cast<double>(kept.size()) < kLeastGenuineShare * static_cast<double>(samples))
    return finding;
  finding.sparse_count = sparse_end(std::move(counts));
  finding.sparse = finding.sparse_count < finding.bound;
  if (!finding.sparse) return finding;

  // The same points, evenly thinned, in ever wider cubes until the target is reached.
  const std::size_t stride = (kept.size() + kWideSamples - 1) / kWideSamples;
  std::vector<std::size_t> wide;
  for (std::size_t k = 0; k < kept.size(); k += stride)
    wide.push_back(kept[k]);
  const auto sparse_count_at = [&](std::int32_t reach) {
    std::vector<std::uint64_t> cube(wide.size());
    for (std::size_t k = 0; k < wide.size(); k++)
      cube[k] = grid.sample_neighbourhood(wide[k], reach);
    return std::max<std::uint64_t>(sparse_end(std::move(cube)), 1);
  };
  double lower_factor = 1.0;
  double lower_count = static_cast<double>(sparse_count_at(1));
  double upper_factor = lower_factor;
  double upper_count = lower_count;
  for (std::int32_t reach = 2; reach <= kWidestReach; reach++) {
    lower_factor = upper_factor;
    lower_count = upper_count;
    upper_factor = factor_of(reach);
    upper_count = static_cast<double>(sparse_count_at(reach));
    if (upper_count >= static_cast<double>(finding.target)) break;
  }
  // count ~ factor^power between the two cubes (beyond the widest, extrapolated alike).
  const double power = upper_count > lower_count ? std::log(upper_count / lower_count) /
                                                       std::log(upper_factor / lower_factor)
                                                 : 0.0;
  finding.scale =
      power > 0.0
          ? lower_factor * std::pow(static_cast<double>(finding.target) / lower_count, 1.0 / power)
          : factor_of(kWidestReach);
  finding.scale = std::max(finding.scale, 1.0);
  return finding;
}

double rounded_up_step(double step, double scale) {
  const double wanted = step * scale;
  if (!(wanted > 0.0) || !std::isfinite(wanted)) return step;
  const double unit = std::pow(10.0, std::floor(std::log10(wanted)) - 1.0);
  // A value that is a multiple already (up to rounding) stays.
  return std::ceil(wanted / unit - 1e-9) * unit;
}
