#include "filter/las_criteria_state.hpp"

#include <cmath>
#include <cstdio>

namespace {

// Rows and bit words grow in steps, so that a point a little beyond the last one does not
// cost a reallocation each time.
constexpr std::size_t kRowStep = 1024;
constexpr std::size_t kWordStep = 256;

// floor(value / spacing) as a cell or bucket number; values beyond the 64-bit range (or not
// a number) land on its ends instead of being undefined.
std::int64_t cell_of(double value, double spacing) {
  const double cell = std::floor(value / spacing);
  if (!(cell > -9.2e18)) return INT64_MIN;
  if (cell > 9.2e18) return INT64_MAX;
  return static_cast<std::int64_t>(cell);
}

// high - low for high >= low, without the overflow of the signed difference.
std::uint64_t distance(std::int64_t high, std::int64_t low) {
  return static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
}

int write_spacing(char* buffer, std::size_t size, const char* name, double spacing) {
  return std::snprintf(buffer, size, "-%s %f ", name, spacing);
}

int write_pair(char* buffer, std::size_t size, const LAScriterion& one, const LAScriterion& two,
               const char* name) {
  las_criteria::CommandText text(buffer, size);
  const int first = one.write_command(nullptr, 0);
  const int second = two.write_command(nullptr, 0);
  std::vector<char> words(static_cast<std::size_t>(first + second) + 2);
  one.write_command(words.data(), words.size());
  two.write_command(words.data() + first, words.size() - static_cast<std::size_t>(first));
  text.add("%s-%s ", words.data(), name);
  return text.used();
}

}  // namespace

int LAScriterionKeepRandomFraction::write_command(char* buffer, std::size_t size) const {
  return std::snprintf(buffer, size, "-%s %f %u ", name(), static_cast<double>(fraction_),
                       initial_seed_);
}

int LAScriterionThinWithGrid::write_command(char* buffer, std::size_t size) const {
  return write_spacing(buffer, size, name(), spacing_);
}

bool LAScriterionThinWithGrid::mark(std::vector<std::uint32_t>& bits, std::uint64_t offset) {
  const std::uint64_t word = offset >> 5;
  if (word >= bits.size()) bits.resize((word / kWordStep + 1) * kWordStep, 0u);
  const std::uint32_t bit = 1u << (offset & 31);
  if (bits[word] & bit) return false;
  bits[word] |= bit;
  return true;
}

bool LAScriterionThinWithGrid::filter(const LASpoint& point) {
  const double spacing = spacing_;
  const std::int64_t column = cell_of(point.get_x(), spacing);
  const std::int64_t row_number = cell_of(point.get_y(), spacing);
  if (!started_) {
    started_ = true;
    base_row_ = row_number;
  }
  // Rows count from the first point's row: rows at or above it in one table, below in the
  // other, each indexed by its distance from that row.
  std::vector<Row>& table = row_number >= base_row_ ? rows_up_ : rows_down_;
  const std::uint64_t index = row_number >= base_row_ ? distance(row_number, base_row_)
                                                      : distance(base_row_, row_number) - 1;
  if (index >= table.size()) table.resize((index / kRowStep + 1) * kRowStep);
  Row& row = table[index];
  if (!row.used) {
    row.used = true;
    row.anchor = column;
  }
  const bool fresh = column >= row.anchor ? mark(row.right, distance(column, row.anchor))
                                          : mark(row.left, distance(row.anchor, column) - 1);
  return !fresh;
}

void LAScriterionThinWithGrid::reset() {
  started_ = false;
  base_row_ = 0;
  rows_up_ = {};
  rows_down_ = {};
}

int LAScriterionThinPointsWithTime::write_command(char* buffer, std::size_t size) const {
  return write_spacing(buffer, size, name(), spacing_);
}

bool LAScriterionThinPointsWithTime::filter(const LASpoint& point) {
  return !buckets_.insert(cell_of(point.gps_time, spacing_)).second;
}

int LAScriterionThinPulsesWithTime::write_command(char* buffer, std::size_t size) const {
  return write_spacing(buffer, size, name(), spacing_);
}

bool LAScriterionThinPulsesWithTime::filter(const LASpoint& point) {
  const auto [entry, fresh] =
      first_times_.emplace(cell_of(point.gps_time, spacing_), point.gps_time);
  return !fresh && entry->second != point.gps_time;
}

int LAScriterionAnd::write_command(char* buffer, std::size_t size) const {
  return write_pair(buffer, size, *one_, *two_, name());
}

int LAScriterionOr::write_command(char* buffer, std::size_t size) const {
  return write_pair(buffer, size, *one_, *two_, name());
}
