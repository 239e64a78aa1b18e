#include "index/las_quadtree.hpp"

#include <cstdio>
#include <cstring>

#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace {

// One little-endian field; a missing one prints "ERROR (LASquadtree): reading <what>".
template <typename T>
bool read_field(ByteStreamIn& stream, T& value, const char* what) {
  try {
    stream.read_bytes(&value, sizeof(T));
    return true;
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR (LASquadtree): reading %s\n", what);
    return false;
  }
}

// A four-character signature, zero-terminated for the messages.
bool read_signature(ByteStreamIn& stream, char (&signature)[kSignatureSize + 1], const char* what) {
  try {
    stream.read_bytes(signature, kSignatureSize);
    signature[kSignatureSize] = 0;
    return true;
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR (LASquadtree): reading %s\n", what);
    return false;
  }
}

template <typename T>
bool write_field(ByteStreamOut& stream, T value) {
  return stream.write_bytes(&value, sizeof(T));
}

}  // namespace

LASquadtree::LASquadtree() {
  // 32-bit numbers as the layout has them; entries beyond level 16 wrap and are never used.
  level_start[0] = 0;
  std::uint32_t cells_of_level = 1;
  for (std::uint32_t l = 0; l + 1 < kLevelStartCount; l++) {
    level_start[l + 1] = level_start[l] + cells_of_level;
    cells_of_level *= 4;
  }
}

bool LASquadtree::read(ByteStreamIn& stream) {
  char signature[kSignatureSize + 1] = {};
  if (!read_signature(stream, signature, "LASspatial signature")) return false;
  if (kSpatialSignature != std::string_view(signature, kSignatureSize)) {
    std::fprintf(stderr, "ERROR (LASquadtree): wrong LASspatial signature %4s instead of 'LASS'\n",
                 signature);
    return false;
  }
  std::uint32_t type = 0;
  if (!read_field(stream, type, "LASspatial type")) return false;
  if (type != kSpatialTypeQuadtree) {
    std::fprintf(stderr, "ERROR (LASquadtree): unknown LASspatial type %u\n", type);
    return false;
  }
  char quadtree_signature[kSignatureSize + 1] = {};
  if (!read_signature(stream, quadtree_signature, "signature")) return false;
  if (kQuadtreeSignature == std::string_view(quadtree_signature, kSignatureSize)) {
    std::uint32_t version = 0;
    if (!read_field(stream, version, "version")) return false;
    if (!read_field(stream, levels, "levels")) return false;
  } else {
    // The older layout: these four bytes are the levels.
    std::memcpy(&levels, quadtree_signature, sizeof(levels));
  }
  std::uint32_t level_index = 0;
  std::uint32_t implicit_levels = 0;
  if (!read_field(stream, level_index, "level_index")) return false;
  if (!read_field(stream, implicit_levels, "implicit_levels")) return false;
  if (!read_field(stream, min_x, "min_x")) return false;
  if (!read_field(stream, max_x, "max_x")) return false;
  if (!read_field(stream, min_y, "min_y")) return false;
  if (!read_field(stream, max_y, "max_y")) return false;
  if (levels > kMaxLevels) {
    // Cell numbers of deeper levels do not fit 32 bits.
    std::fprintf(stderr, "ERROR (LASquadtree): %u levels are more than the %u supported\n", levels,
                 kMaxLevels);
    return false;
  }
  return true;
}

bool LASquadtree::write(ByteStreamOut& stream) const {
  return stream.write_bytes(kSpatialSignature.data(), kSignatureSize) &&
         write_field(stream, kSpatialTypeQuadtree) &&
         stream.write_bytes(kQuadtreeSignature.data(), kSignatureSize) &&
         write_field(stream, kQuadtreeVersion) && write_field(stream, levels) &&
         write_field(stream, std::uint32_t{0}) && write_field(stream, std::uint32_t{0}) &&
         write_field(stream, min_x) && write_field(stream, max_x) && write_field(stream, min_y) &&
         write_field(stream, max_y);
}

std::uint32_t LASquadtree::level_of(std::uint32_t cell) const {
  std::uint32_t level = 0;
  while (level < kMaxLevels && level_start[level + 1] <= cell)
    level++;
  return level;
}

void LASquadtree::set_leaf(std::uint32_t cell) {
  has_cells_ = true;
  split_.erase(cell);
  std::uint32_t level = level_of(cell);
  std::uint32_t local = cell - level_start[level];
  while (level > 0) {
    local >>= 2;
    level--;
    // Ancestors above a subdivided cell are subdivided already.
    if (!split_.insert(level_start[level] + local).second) break;
  }
}

void LASquadtree::intersect_rectangle(double q_min_x, double q_min_y, double q_max_x,
                                      double q_max_y) {
  intersect(Query{q_min_x, q_min_y, q_max_x, q_max_y, false, 0, 0, 0});
}

void LASquadtree::intersect_tile(float ll_x, float ll_y, float size) {
  const float ur_x = ll_x + size;
  const float ur_y = ll_y + size;
  intersect(Query{ll_x, ll_y, ur_x, ur_y, false, 0, 0, 0});
}

void LASquadtree::intersect_circle(double center_x, double center_y, double radius) {
  intersect(Query{center_x - radius, center_y - radius, center_x + radius, center_y + radius, true,
                  center_x, center_y, radius});
}

void LASquadtree::intersect(const Query& query) {
  result_.clear();
  // A tree without cells holds no points; descending all its levels would only list empty
  // cells (4^15 of them for a hostile depth).
  if (!has_cells_) return;
  if (query.max_x <= min_x || query.min_x > max_x || query.max_y <= min_y || query.min_y > max_y) {
    return;
  }
  descend(query, 0, 0, min_x, min_y, max_x, max_y);
}

void LASquadtree::descend(const Query& query, std::uint32_t level, std::uint32_t local,
                          float cell_min_x, float cell_min_y, float cell_max_x, float cell_max_y) {
  const std::uint32_t cell = level_start[level] + local;
  if (level >= levels || !is_split(cell)) {
    if (!query.circle || circle_reaches(query, cell_min_x, cell_min_y, cell_max_x, cell_max_y)) {
      result_.push_back(cell);
    }
    return;
  }
  const float mid_x = (cell_min_x + cell_max_x) * 0.5f;
  const float mid_y = (cell_min_y + cell_max_y) * 0.5f;
  const bool low_x = query.max_x <= mid_x || query.min_x < mid_x;
  const bool high_x = query.max_x > mid_x;
  const bool low_y = query.max_y <= mid_y || query.min_y < mid_y;
  const bool high_y = query.max_y > mid_y;
  const std::uint32_t child = 4 * local;
  if (low_x && low_y) descend(query, level + 1, child, cell_min_x, cell_min_y, mid_x, mid_y);
  if (high_x && low_y) descend(query, level + 1, child + 1, mid_x, cell_min_y, cell_max_x, mid_y);
  if (low_x && high_y) descend(query, level + 1, child + 2, cell_min_x, mid_y, mid_x, cell_max_y);
  if (high_x && high_y) descend(query, level + 1, child + 3, mid_x, mid_y, cell_max_x, cell_max_y);
}

bool LASquadtree::circle_reaches(const Query& query, float cell_min_x, float cell_min_y,
                                 float cell_max_x, float cell_max_y) {
  const double cx = query.center_x;
  const double cy = query.center_y;
  const double r = query.radius;
  double dx = 0, dy = 0;
  bool outside_x = true, outside_y = true;
  if (cx > cell_max_x) {
    dx = cx - cell_max_x;
  } else if (cx < cell_min_x) {
    dx = cell_min_x - cx;
  } else {
    outside_x = false;
  }
  if (cy > cell_max_y) {
    dy = cy - cell_max_y;
  } else if (cy < cell_min_y) {
    dy = cell_min_y - cy;
  } else {
    outside_y = false;
  }
  if (outside_x && outside_y) return r * r > dx * dx + dy * dy;
  if (outside_x) return r > dx;
  if (outside_y) return r > dy;
  return true;
}

namespace {

// One step down the tree: the quadrant (x, y) lies in (bit 0 east, bit 1 north, a point on a
// midline going east or north), which the cell's bounds become.
inline std::uint32_t quadrant(double x, double y, float& min_x, float& max_x, float& min_y,
                              float& max_y) {
  const float mid_x = (min_x + max_x) * 0.5f;
  const float mid_y = (min_y + max_y) * 0.5f;
  std::uint32_t k = 0;
  if (x >= mid_x) {
    k |= 1;
    min_x = mid_x;
  } else {
    max_x = mid_x;
  }
  if (y >= mid_y) {
    k |= 2;
    min_y = mid_y;
  } else {
    max_y = mid_y;
  }
  return k;
}

}  // namespace

std::uint32_t LASquadtree::local_cell_at(double x, double y, std::uint32_t level) const {
  float cell_min_x = min_x, cell_max_x = max_x, cell_min_y = min_y, cell_max_y = max_y;
  std::uint32_t local = 0;
  for (std::uint32_t l = 0; l < level; l++) {
    local = 4 * local + quadrant(x, y, cell_min_x, cell_max_x, cell_min_y, cell_max_y);
  }
  return local;
}

std::uint32_t LASquadtree::leaf_at(double x, double y) const {
  float cell_min_x = min_x, cell_max_x = max_x, cell_min_y = min_y, cell_max_y = max_y;
  std::uint32_t level = 0;
  std::uint32_t local = 0;
  while (level < levels && is_split(level_start[level] + local)) {
    local = 4 * local + quadrant(x, y, cell_min_x, cell_max_x, cell_min_y, cell_max_y);
    level++;
  }
  return level_start[level] + local;
}

void LASquadtree::cell_bounds(std::uint32_t cell, float& cell_min_x, float& cell_min_y,
                              float& cell_max_x, float& cell_max_y) const {
  cell_min_x = min_x;
  cell_max_x = max_x;
  cell_min_y = min_y;
  cell_max_y = max_y;
  const std::uint32_t level = level_of(cell);
  const std::uint32_t local = cell - level_start[level];
  // The quadrant of each level, from the root down: two bits per level, highest first.
  for (std::uint32_t l = level; l > 0; l--) {
    const std::uint32_t k = (local >> (2 * (l - 1))) & 3;
    const float mid_x = (cell_min_x + cell_max_x) * 0.5f;
    const float mid_y = (cell_min_y + cell_max_y) * 0.5f;
    if ((k & 1) != 0) {
      cell_min_x = mid_x;
    } else {
      cell_max_x = mid_x;
    }
    if ((k & 2) != 0) {
      cell_min_y = mid_y;
    } else {
      cell_max_y = mid_y;
    }
  }
}
