#include "index/las_index.hpp"

#include <cstdio>

#include "las/las_reader.hpp"
#include "las/las_reader_las.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out.hpp"

namespace {

std::unique_ptr<LASindexHook> load_embedded_index(ByteStreamIn& stream, std::int64_t points_total) {
  auto index = std::make_unique<LASindex>(points_total);
  if (!index->load(stream)) return nullptr;
  return index;
}

}  // namespace

void install_embedded_index_loader() {
  LASreaderLAS::set_embedded_index_loader(&load_embedded_index);
}

LASindex::LASindex(std::int64_t points_total) : points_total_(points_total) {}

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
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  bool loaded = false;
  {
    ByteStreamInFileLE stream(file);
    loaded = load(stream);
  }
  std::fclose(file);
  if (!loaded) std::fprintf(stderr, "ERROR (LASindex): cannot read '%s'\n", name.c_str());
  return loaded;
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
  if (!interval_.read(stream, points_total_, quadtree_.cell_limit())) {
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
