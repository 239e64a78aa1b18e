#include "index/las_index.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <unordered_map>

#include "codec/chunk_table.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader.hpp"
#include "las/las_reader_las.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out.hpp"

namespace {

std::unique_ptr<LASindexHook> load_embedded_index(ByteStreamIn& stream,
                                                  const std::string& file_name) {
  auto index = std::make_unique<LASindex>();
  if (!index->load(stream)) return nullptr;
  index->set_description(file_name.empty() ? "the spatial index inside the file"
                                           : "the spatial index inside '" + file_name + "'");
  return index;
}

bool earlier(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Entries of LASindex::Memory kept at most, of each kind.
constexpr std::size_t kRememberedEntries = 1024;

template <typename... Values>
std::string format(const char* text, Values... values) {
  char line[256];
  std::snprintf(line, sizeof(line), text, values...);
  return line;
}

}  // namespace

void install_embedded_index_loader() {
  LASreaderLAS::set_embedded_index_loader(&load_embedded_index);
}

std::string LASindex::file_name_for(std::string_view point_file_name) {
  std::string name(point_file_name);
  const auto contains = [&name](const char* text) { return name.find(text) != std::string::npos; };
  if (name.size() < 3) return name + ".lax";
  if (contains(".las") || contains(".pkz")) {
    name.back() = 'x';
  } else if (contains(".LAS") || contains(".PKZ")) {
    name.back() = 'X';
  } else {
    name.replace(name.size() - 3, 3, "lax");
  }
  return name;
}

bool LASindex::load(const char* point_file_name) {
  if (point_file_name == nullptr) return false;
  const std::string name = file_name_for(point_file_name);
  struct stat index_info {};
  if (stat(name.c_str(), &index_info) != 0) return false;
  file_name_ = name;
  description_ = "spatial index '" + name + "'";
  // A FIFO would block the open, a device would never end.
  if (!S_ISREG(index_info.st_mode)) {
    std::fprintf(stderr, "WARNING: ignoring %s: it is not a regular file\n", description_.c_str());
    refuse();
    return false;
  }
  // Written before the point file last changed, the index describes points that may have
  // moved since.
  struct stat point_info {};
  if (stat(point_file_name, &point_info) == 0 && earlier(index_info.st_mtim, point_info.st_mtim)) {
    std::fprintf(stderr, "WARNING: ignoring %s: it is older than '%s'\n", description_.c_str(),
                 point_file_name);
    refuse();
    return false;
  }
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  bool loaded = false;
  {
    ByteStreamInFileLE stream(file);
    loaded = load(stream);
  }
  std::fclose(file);
  if (!loaded) {
    std::fprintf(stderr, "ERROR (LASindex): cannot read '%s'\n", name.c_str());
    refuse();
  }
  return loaded;
}

void LASindex::refuse() {
  if (memory_ == nullptr || file_name_.empty()) return;
  if (memory_->refused.size() >= kRememberedEntries) memory_->refused.clear();
  memory_->refused.insert(file_name_);
}

std::string LASindex::query_key() const {
  if (file_name_.empty()) return {};
  std::string key = file_name_;
  for (std::int32_t cell : interval_.merged_cells())
    key += ' ' + std::to_string(cell);
  return key;
}

bool LASindex::load(ByteStreamIn& stream) {
  quadtree_ = LASquadtree();
  interval_ = LASinterval();
  cells_ = 0;
  in_run_ = false;
  char signature[kSignatureSize + 1] = {};
  try {
    stream.read_bytes(signature, kSignatureSize);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR (LASindex): reading signature\n");
    return false;
  }
  if (kIndexSignature != std::string_view(signature, kSignatureSize)) {
    std::fprintf(stderr, "ERROR (LASindex): wrong signature %4s instead of 'LASX'\n", signature);
    return false;
  }
  try {
    std::uint32_t version = 0;
    stream.read32_le(&version);
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR (LASindex): reading version\n");
    return false;
  }
  if (!quadtree_.read(stream)) {
    std::fprintf(stderr, "ERROR (LASindex): cannot read LASspatial (LASquadtree)\n");
    return false;
  }
  if (!interval_.read(stream, quadtree_.cell_limit())) {
    std::fprintf(stderr, "ERROR (LASindex): reading LASinterval\n");
    return false;
  }
  for (const auto& entry : interval_.cells())
    quadtree_.set_leaf(static_cast<std::uint32_t>(entry.first));
  return true;
}

bool LASindex::write(ByteStreamOut& stream) const {
  return stream.write_bytes(kIndexSignature.data(), kSignatureSize) &&
         stream.write_le<std::uint32_t>(kIndexVersion) && quadtree_.write(stream) &&
         interval_.write(stream);
}

bool LASindex::query_rectangle(double min_x, double min_y, double max_x, double max_y) {
  quadtree_.intersect_rectangle(min_x, min_y, max_x, max_y);
  return merge_result();
}

bool LASindex::query_tile(float ll_x, float ll_y, float size) {
  quadtree_.intersect_tile(ll_x, ll_y, size);
  return merge_result();
}

bool LASindex::query_circle(double center_x, double center_y, double radius) {
  quadtree_.intersect_circle(center_x, center_y, radius);
  return merge_result();
}

bool LASindex::merge_result() {
  const std::vector<std::uint32_t>& result = quadtree_.result();
  cells_ = static_cast<std::uint32_t>(result.size());
  interval_.clear_merge();
  for (std::uint32_t cell : result)
    interval_.add_to_merge(static_cast<std::int32_t>(cell));
  in_run_ = false;
  return interval_.merge();
}

bool LASindex::advance(LASreader& reader) {
  while (!in_run_) {
    LASintervalRun run;
    if (!interval_.next_run(run)) return false;
    run_start_ = run.start;
    run_end_ = run.end;
    if (reader.seek_point(run_start_)) {
      in_run_ = true;
      break;
    }
    // A reader that cannot seek there (a chunk table it does not trust) reads forward, as
    // it would without the index; a run already passed is left out.
    if (reader.points_done > static_cast<std::int64_t>(run_end_)) continue;
    while (reader.points_done < static_cast<std::int64_t>(run_start_)) {
      if (!reader.read_raw_point()) return false;
    }
    in_run_ = true;
  }
  // The point about to be read is the run's last.
  if (reader.points_done >= static_cast<std::int64_t>(run_end_)) in_run_ = false;
  return true;
}

LASindexHook::Check LASindex::check(LASreader& reader, double file_min_x, double file_min_y,
                                    double file_max_x, double file_max_y) {
  std::string why = disagreement(reader, file_min_x, file_min_y, file_max_x, file_max_y);
  if (!why.empty()) return stale(why);
  // Reading the points of the runs needs a reader at its first point that can go back to it.
  const ByteStreamIn* stream = reader.stream_of();
  if (stream == nullptr || !stream->can_seek() || reader.points_done != 0) return Check::kUnusable;
  // Runs that cost more than half the points to read save nothing: checking them, then
  // reading them again, costs more than reading every point once.
  if (2 * points_to_decode(reader) > static_cast<std::uint64_t>(reader.points_total)) {
    return Check::kUnusable;
  }
  // The same cells read and found sound before in this run (the first pass of a tool that
  // reads a file twice): their points are read only once more, to be delivered.
  const std::string key = memory_ != nullptr ? query_key() : std::string();
  if (!key.empty() && memory_->sound_reads.count(key) != 0) return Check::kSound;
  bool unreadable = false;
  why = contradiction(reader, unreadable);
  if (reader.points_done != 0 && !reader.seek_point(0)) {
    std::fprintf(stderr, "ERROR: cannot go back to the first point after checking %s\n",
                 description_.c_str());
    return Check::kLost;
  }
  if (!why.empty()) return stale(why);
  // Points that do not read: reading every point meets them too, and says so.
  if (unreadable) return Check::kUnusable;
  if (!key.empty()) {
    // A run over many files needs only the last few: the memory stays small.
    if (memory_->sound_reads.size() >= kRememberedEntries) memory_->sound_reads.clear();
    memory_->sound_reads.insert(key);
  }
  return Check::kSound;
}

std::uint64_t LASindex::points_to_decode(const LASreader& reader) const {
  // A compressed file decodes from the start of a run's chunk, unless reading already
  // stands in that chunk before the run; raw records are read where they lie.
  std::uint64_t chunk = 1;
  if (const Pakrel* codec = reader.header.codec.get()) {
    if (codec->compressor == Pakrel::COMPRESSOR_PER_POINT) {
      chunk = static_cast<std::uint64_t>(std::max<std::int64_t>(reader.points_total, 1));
    } else if (codec->compressor != Pakrel::COMPRESSOR_RAW) {
      // Variable chunks: their sizes are in the table, not at hand; take the usual one.
      const bool variable = codec->chunk_size == 0 || codec->chunk_size == kVariableChunkSize;
      chunk = variable ? Pakrel::kDefaultChunkSize : codec->chunk_size;
    }
  }
  std::uint64_t decoded = 0;
  std::uint64_t at = 0;  // the point reading stands before
  for (const LASintervalRun& run : interval_.merged_runs()) {
    const std::uint64_t chunk_start = run.start / chunk * chunk;
    decoded += at <= run.start && at >= chunk_start ? run.start - at : run.start - chunk_start;
    decoded += std::uint64_t{run.end} - run.start + 1;
    at = std::uint64_t{run.end} + 1;
  }
  return decoded;
}

LASindexHook::Check LASindex::stale(const std::string& why) {
  std::fprintf(stderr, "WARNING: ignoring %s: %s\n", description_.c_str(), why.c_str());
  refuse();
  return Check::kStale;
}

std::string LASindex::disagreement(const LASreader& reader, double file_min_x, double file_min_y,
                                   double file_max_x, double file_max_y) const {
  // Every point lies in exactly one leaf: the cells together hold the file's points.
  std::uint64_t held = 0;
  std::uint64_t end = 0;
  bool any_run = false;
  for (const auto& entry : interval_.cells()) {
    const LASintervalCell& cell = entry.second;
    held += cell.points_in_cells;
    if (!cell.runs.empty()) {
      end = std::max<std::uint64_t>(end, cell.runs.back().end);
      any_run = true;
    }
  }
  const std::int64_t total = reader.points_total;
  if (total < 0 || held != static_cast<std::uint64_t>(total)) {
    return format("its cells hold %" PRIu64 " points, the file %" PRId64, held, total);
  }
  if (any_run && end >= static_cast<std::uint64_t>(total)) {
    return format("its runs reach point %" PRIu64 ", the file holds %" PRId64 " points", end,
                  total);
  }
  // A point outside the root cell is found by no query that misses the root.
  const LASquadtree& tree = quadtree_;
  if (!(tree.min_x <= file_min_x && file_max_x <= tree.max_x && tree.min_y <= file_min_y &&
        file_max_y <= tree.max_y)) {
    return format("its extent %.3f %.3f %.3f %.3f does not cover the file's %.3f %.3f %.3f %.3f",
                  tree.min_x, tree.min_y, tree.max_x, tree.max_y, file_min_x, file_min_y,
                  file_max_x, file_max_y);
  }
  // The cells that hold points lie where the points are: each meets the file's bounding box,
  // and together they reach each of its sides. An extent that was changed moves them off.
  float reach_min_x = tree.max_x, reach_min_y = tree.max_y;
  float reach_max_x = tree.min_x, reach_max_y = tree.min_y;
  for (const auto& [number, cell] : interval_.cells()) {
    if (cell.points_in_cells == 0) continue;
    float cell_min_x, cell_min_y, cell_max_x, cell_max_y;
    tree.cell_bounds(static_cast<std::uint32_t>(number), cell_min_x, cell_min_y, cell_max_x,
                     cell_max_y);
    if (cell_min_x > file_max_x || cell_max_x < file_min_x || cell_min_y > file_max_y ||
        cell_max_y < file_min_y) {
      return format("its cell %d lies off the file's bounding box", number);
    }
    reach_min_x = std::min(reach_min_x, cell_min_x);
    reach_min_y = std::min(reach_min_y, cell_min_y);
    reach_max_x = std::max(reach_max_x, cell_max_x);
    reach_max_y = std::max(reach_max_y, cell_max_y);
  }
  if (held > 0 && (reach_min_x > file_min_x || reach_max_x < file_max_x ||
                   reach_min_y > file_min_y || reach_max_y < file_max_y)) {
    return format("its cells reach %.3f %.3f %.3f %.3f, not the file's bounding box", reach_min_x,
                  reach_min_y, reach_max_x, reach_max_y);
  }
  return {};
}

std::string LASindex::contradiction(LASreader& reader, bool& unreadable) {
  // What the cells of the query say they hold, and what their runs turn out to hold.
  std::unordered_map<std::int32_t, std::uint64_t> found;
  found.reserve(interval_.merged_cells().size());
  for (std::int32_t cell : interval_.merged_cells())
    found.emplace(cell, 0);
  const LASquadtree& tree = quadtree_;
  // The leaf the last point lay in: the next one mostly lies there too and costs a few
  // comparisons rather than a descent and lookups. Its high edges hold points only where
  // they are the root's.
  struct LeafInHand {
    std::uint32_t leaf = 0;
    float min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    bool top_x = false, top_y = false;
    const LASintervalCell* cell = nullptr;
    std::size_t run = 0;             // the first run that does not end before the last point
    std::uint64_t* found = nullptr;  // its count, when the query reached it
  } hand;
  bool in_hand = false;
  std::string why;
  reader.trial_reads = true;
  interval_.rewind();
  LASintervalRun merged;
  while (why.empty() && !unreadable && interval_.next_run(merged)) {
    if (!reader.seek_point(merged.start)) {
      unreadable = true;
      break;
    }
    for (std::uint64_t number = merged.start; number <= merged.end; number++) {
      if (!reader.read_raw_point()) {
        unreadable = true;
        break;
      }
      const double x = reader.point.get_x();
      const double y = reader.point.get_y();
      if (!(tree.min_x <= x && x <= tree.max_x && tree.min_y <= y && y <= tree.max_y)) {
        why = format("point %" PRIu64 " lies outside its extent", number);
        break;
      }
      // A run of a cell may pass over points of other cells, but every point lies in the runs
      // of the cell it lies in.
      const bool same_leaf = in_hand && hand.min_x <= x && (x < hand.max_x || hand.top_x) &&
                             hand.min_y <= y && (y < hand.max_y || hand.top_y);
      if (!same_leaf) {
        hand.leaf = tree.leaf_at(x, y);
        tree.cell_bounds(hand.leaf, hand.min_x, hand.min_y, hand.max_x, hand.max_y);
        hand.top_x = hand.max_x == tree.max_x;
        hand.top_y = hand.max_y == tree.max_y;
        hand.cell = interval_.find(static_cast<std::int32_t>(hand.leaf));
        const auto counted = found.find(static_cast<std::int32_t>(hand.leaf));
        hand.found = counted != found.end() ? &counted->second : nullptr;
        if (hand.cell != nullptr) {
          const auto& runs = hand.cell->runs;
          hand.run =
              static_cast<std::size_t>(std::partition_point(runs.begin(), runs.end(),
                                                            [number](const LASintervalRun& run) {
                                                              return run.end < number;
                                                            }) -
                                       runs.begin());
        }
        in_hand = true;
      }
      const LASintervalCell* cell = hand.cell;
      if (cell != nullptr) {
        // Points come in ascending order: the run that holds this one is not before the last.
        while (hand.run < cell->runs.size() && cell->runs[hand.run].end < number)
          hand.run++;
      }
      if (cell == nullptr || hand.run == cell->runs.size() || cell->runs[hand.run].start > number) {
        why = format("point %" PRIu64 " lies in cell %u, whose runs do not hold it", number,
                     hand.leaf);
        break;
      }
      if (hand.found != nullptr) ++*hand.found;
    }
  }
  reader.trial_reads = false;
  interval_.rewind();
  in_run_ = false;
  if (!why.empty() || unreadable) return why;
  // Every point of a cell lies in its runs, which were all read: a cell holding more or
  // fewer than it says was indexed from other points.
  for (std::int32_t cell : interval_.merged_cells()) {
    const std::uint32_t said = interval_.find(cell)->points_in_cells;
    if (found[cell] != said) {
      return format("cell %d says it holds %u points, its runs hold %" PRIu64, cell, said,
                    found[cell]);
    }
  }
  return {};
}
