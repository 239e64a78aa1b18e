#include "index/las_index_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/pakrel_record.hpp"
#include "las/las_reader_las.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

// A float at or below `value`.
float float_below(double value) {
  float f = static_cast<float>(value);
  if (static_cast<double>(f) > value) f = std::nextafter(f, -std::numeric_limits<float>::max());
  return f;
}

// A float at or above `value`.
float float_above(double value) {
  float f = static_cast<float>(value);
  if (static_cast<double>(f) < value) f = std::nextafter(f, std::numeric_limits<float>::max());
  return f;
}

bool open_points(LASreaderLAS& reader, const char* file_name) {
  if (!reader.open_file(file_name)) {
    std::fprintf(stderr, "ERROR: cannot open '%s'\n", file_name);
    return false;
  }
  return true;
}

// Reads every point, calling `visit(number, x, y)`. False after a message when the points
// do not read whole.
template <typename Visit>
bool each_point(const char* file_name, Visit visit) {
  LASreaderLAS reader;
  if (!open_points(reader, file_name)) return false;
  while (reader.read_raw_point())
    visit(static_cast<std::uint32_t>(reader.points_done - 1), reader.point.get_x(),
          reader.point.get_y());
  if (reader.read_failed() || reader.points_done != reader.points_total) {
    std::fprintf(stderr, "ERROR: cannot index '%s': only %" PRId64 " of %" PRId64 " points read\n",
                 file_name, reader.points_done, reader.points_total);
    return false;
  }
  return true;
}

// Splits the cells that hold more than `leaf_points`, from the root down to `levels`, and
// gives every leaf an ordinal; `leaf_of_fine` maps each cell of the finest level to the
// ordinal of the leaf above it, `leaf_cells` each ordinal to the leaf's cell number.
struct LeafPlan {
  std::vector<std::uint32_t> leaf_of_fine;
  std::vector<std::uint32_t> leaf_cells;
  std::uint32_t deepest = 0;
};

void plan_leaves(const std::vector<std::vector<std::uint32_t>>& counts, const LASquadtree& tree,
                 std::uint32_t leaf_points, std::uint32_t level, std::uint32_t local,
                 LeafPlan& plan) {
  const std::uint32_t fine_level = static_cast<std::uint32_t>(counts.size() - 1);
  if (level < fine_level && counts[level][local] > leaf_points) {
    for (std::uint32_t k = 0; k < 4; k++)
      plan_leaves(counts, tree, leaf_points, level + 1, 4 * local + k, plan);
    return;
  }
  const std::uint32_t ordinal = static_cast<std::uint32_t>(plan.leaf_cells.size());
  plan.leaf_cells.push_back(tree.level_start[level] + local);
  if (counts[level][local] > 0 && level > plan.deepest) plan.deepest = level;
  // The fine cells below local cell i of level l are i << 2(L - l) and the following ones.
  const std::uint32_t shift = 2 * (fine_level - level);
  const std::size_t first = static_cast<std::size_t>(local) << shift;
  const std::size_t count = std::size_t{1} << shift;
  for (std::size_t i = 0; i < count; i++)
    plan.leaf_of_fine[first + i] = ordinal;
}

}  // namespace

std::unique_ptr<LASindex> build_index(const char* file_name, const LASindexBuildOptions& options) {
  if (options.max_levels > kMaxBuildLevels) {
    std::fprintf(stderr, "ERROR: cannot build an index deeper than %u levels\n", kMaxBuildLevels);
    return nullptr;
  }
  std::int64_t points_total = 0;
  double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
  double max_x = -min_x, max_y = -min_x;
  LASheader header;
  {
    LASreaderLAS probe;
    if (!open_points(probe, file_name)) return nullptr;
    points_total = probe.points_total;
    header = probe.header;
  }
  if (points_total > static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max())) {
    std::fprintf(stderr,
                 "ERROR: cannot index '%s': %" PRId64 " points are more than 32 bits count\n",
                 file_name, points_total);
    return nullptr;
  }
  if (!each_point(file_name, [&](std::uint32_t, double x, double y) {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
      })) {
    return nullptr;
  }
  auto index = std::make_unique<LASindex>();
  LASquadtree& tree = index->quadtree();
  if (points_total == 0) return index;
  if (!std::isfinite(min_x) || !std::isfinite(max_x) || !std::isfinite(min_y) ||
      !std::isfinite(max_y)) {
    std::fprintf(stderr, "ERROR: cannot index '%s': coordinates are not finite\n", file_name);
    return nullptr;
  }
  // Readers take an index only when it covers the header's bounding box, which may be wider
  // than the points (rounded outwards); a box beyond any coordinate is left out.
  const auto plausible = [](double value) { return std::fabs(value) < 1e30; };
  if (plausible(header.min_x) && plausible(header.max_x) && plausible(header.min_y) &&
      plausible(header.max_y) && header.min_x <= header.max_x && header.min_y <= header.max_y) {
    min_x = std::min(min_x, header.min_x);
    max_x = std::max(max_x, header.max_x);
    min_y = std::min(min_y, header.min_y);
    max_y = std::max(max_y, header.max_y);
  }
  // A square root cell: its cells stay square, which suits tiles and circles.
  const double side = std::max({max_x - min_x, max_y - min_y, 1e-3});
  tree.min_x = float_below(min_x);
  tree.min_y = float_below(min_y);
  tree.max_x = float_above(std::max(max_x, min_x + side));
  tree.max_y = float_above(std::max(max_y, min_y + side));

  const std::uint32_t fine_level = options.max_levels;
  std::vector<std::vector<std::uint32_t>> counts(fine_level + 1);
  for (std::uint32_t l = 0; l <= fine_level; l++)
    counts[l].assign(std::size_t{1} << (2 * l), 0);
  if (!each_point(file_name, [&](std::uint32_t, double x, double y) {
        counts[fine_level][tree.local_cell_at(x, y, fine_level)]++;
      })) {
    return nullptr;
  }
  for (std::uint32_t l = fine_level; l > 0; l--) {
    for (std::size_t i = 0; i < counts[l].size(); i++)
      counts[l - 1][i >> 2] += counts[l][i];
  }
  LeafPlan plan;
  plan.leaf_of_fine.assign(counts[fine_level].size(), 0);
  plan_leaves(counts, tree, options.leaf_points, 0, 0, plan);
  counts.clear();
  tree.levels = plan.deepest;

  std::vector<LASintervalCell> leaves(plan.leaf_cells.size());
  if (!each_point(file_name, [&](std::uint32_t number, double x, double y) {
        LASintervalCell& leaf = leaves[plan.leaf_of_fine[tree.local_cell_at(x, y, fine_level)]];
        leaf.points_in_cells++;
        leaf.points_in_runs++;
        if (!leaf.runs.empty() && leaf.runs.back().end + 1 == number) {
          leaf.runs.back().end = number;
        } else {
          leaf.runs.push_back(LASintervalRun{number, number});
        }
      })) {
    return nullptr;
  }
  for (std::size_t i = 0; i < leaves.size(); i++) {
    if (leaves[i].points_in_cells == 0) continue;
    const std::uint32_t cell = plan.leaf_cells[i];
    index->interval().set_cell(static_cast<std::int32_t>(cell), std::move(leaves[i]));
    tree.set_leaf(cell);
  }
  return index;
}

bool write_index_file(const LASindex& index, const char* point_file_name) {
  const std::string name = LASindex::file_name_for(point_file_name);
  ByteStreamOutArrayLE bytes;
  if (!index.write(bytes)) {
    std::fprintf(stderr, "ERROR: cannot lay out the index for '%s'\n", name.c_str());
    return false;
  }
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for write\n", name.c_str());
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(bytes.size());
  bool ok = std::fwrite(bytes.data(), 1, size, file) == size;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) {
    std::remove(name.c_str());
    std::fprintf(stderr, "ERROR: cannot write '%s'\n", name.c_str());
  }
  return ok;
}

namespace {

template <typename T>
bool read_at(std::FILE* file, std::int64_t position, T& value) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 &&
         std::fread(&value, sizeof(T), 1, file) == 1;
}

bool write_at(std::FILE* file, std::int64_t position, const void* bytes, std::size_t size) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 &&
         std::fwrite(bytes, 1, size, file) == size;
}

// Where the codec record's payload starts, or -1.
std::int64_t codec_payload_position(std::FILE* file) {
  std::uint16_t header_size = 0;
  std::uint32_t offset_to_points = 0, number_of_vlrs = 0;
  if (!read_at(file, kOffsetHeaderSize, header_size) ||
      !read_at(file, kOffsetOffsetToPointData, offset_to_points) ||
      !read_at(file, kOffsetNumberOfVlrs, number_of_vlrs)) {
    return -1;
  }
  std::int64_t head = header_size;
  for (std::uint32_t i = 0; i < number_of_vlrs && head + kVlrHeadSize <= offset_to_points; i++) {
    char user_id[kUserIdSize];
    std::uint16_t length = 0;
    if (!read_at(file, head + kVlrOffsetUserId, user_id) ||
        !read_at(file, head + kVlrOffsetRecordLength, length)) {
      return -1;
    }
    if (LASevlrEntry::fixed_text(user_id, kUserIdSize) == kUserIdCodec) return head + kVlrHeadSize;
    head += kVlrHeadSize + length;
  }
  return -1;
}

}  // namespace

bool append_index_record(const LASindex& index, const char* file_name) {
  ByteStreamOutArrayLE payload;
  if (!index.write(payload)) {
    std::fprintf(stderr, "ERROR: cannot lay out the index for '%s'\n", file_name);
    return false;
  }
  std::FILE* file = std::fopen(file_name, "r+b");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for update\n", file_name);
    return false;
  }
  const auto fail = [&](const char* why) {
    std::fclose(file);
    std::fprintf(stderr, "ERROR: cannot store the index inside '%s': %s\n", file_name, why);
    return false;
  };
  const std::int64_t codec = codec_payload_position(file);
  if (codec < 0) return fail("it has no codec record (put a .lax file beside it instead)");
  std::uint16_t compressor = 0;
  if (!read_at(file, codec + kPakrelOffsetCompressor, compressor) || compressor == 0) {
    return fail("its points are not compressed (put a .lax file beside it instead)");
  }
  std::int64_t special_count = 0, special_start = 0;
  std::uint32_t offset_to_points = 0;
  std::int64_t table_pointer = 0;
  if (!read_at(file, codec + kPakrelOffsetSpecialEvlrCount, special_count) ||
      !read_at(file, codec + kPakrelOffsetSpecialEvlrStart, special_start) ||
      !read_at(file, kOffsetOffsetToPointData, offset_to_points) ||
      !read_at(file, offset_to_points, table_pointer) || fseeko(file, 0, SEEK_END) != 0) {
    return fail("its header does not read");
  }
  std::int64_t position = ftello(file);
  // A chunk table found through the file's last 8 bytes must stay findable.
  std::int64_t table_at_end = -1;
  if (table_pointer == kChunkTablePointerAtEnd &&
      !read_at(file, position - kChunkTablePointerSize, table_at_end)) {
    return fail("its chunk table pointer does not read");
  }
  if (special_count > 0 && special_start >= static_cast<std::int64_t>(offset_to_points)) {
    // Only an earlier index may be there; it is written over.
    std::int64_t head = special_start;
    for (std::int64_t i = 0; i < special_count; i++) {
      char user_id[kUserIdSize];
      std::uint16_t record_id = 0;
      std::uint64_t length = 0;
      if (!read_at(file, head + kEvlrOffsetUserId, user_id) ||
          !read_at(file, head + kEvlrOffsetRecordId, record_id) ||
          !read_at(file, head + kEvlrOffsetRecordLength, length) || length > INT64_MAX / 2) {
        return fail("its internal records do not read");
      }
      if (LASevlrEntry::fixed_text(user_id, kUserIdSize) != kUserIdSuite ||
          record_id != kRecordSpatialIndex) {
        return fail("it holds other internal records");
      }
      head += kEvlrHeadSize + static_cast<std::int64_t>(length);
    }
    const std::int64_t trailer =
        table_pointer == kChunkTablePointerAtEnd ? kChunkTablePointerSize : 0;
    if (head + trailer != position) return fail("other data follows its internal records");
    position = special_start;
  }
  std::vector<std::uint8_t> record(kEvlrHeadSize, 0);
  std::memcpy(record.data() + kEvlrOffsetUserId, kUserIdSuite.data(), kUserIdSuite.size());
  std::memcpy(record.data() + kEvlrOffsetRecordId, &kRecordSpatialIndex, 2);
  const std::uint64_t length = static_cast<std::uint64_t>(payload.size());
  std::memcpy(record.data() + kEvlrOffsetRecordLength, &length, 8);
  std::memcpy(record.data() + kEvlrOffsetDescription, kIndexRecordDescription.data(),
              kIndexRecordDescription.size());
  record.insert(record.end(), payload.data(), payload.data() + payload.size());
  if (table_pointer == kChunkTablePointerAtEnd) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&table_at_end);
    record.insert(record.end(), bytes, bytes + kChunkTablePointerSize);
  }
  const std::int64_t one = 1;
  bool ok = write_at(file, position, record.data(), record.size()) && std::fflush(file) == 0 &&
            ftruncate(fileno(file), static_cast<off_t>(position + record.size())) == 0;
  // The codec record points at the index only once the index is there.
  ok = ok && write_at(file, codec + kPakrelOffsetSpecialEvlrCount, &one, 8) &&
       write_at(file, codec + kPakrelOffsetSpecialEvlrStart, &position, 8);
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::fprintf(stderr, "ERROR: cannot write the index into '%s'\n", file_name);
  return ok;
}
