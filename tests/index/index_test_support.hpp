#pragma once

// Helpers of the spatial index tests: generated scenes as LAS and PKZ files in a scratch
// folder, areas of the three kinds, and the points a reader delivers for an area, read with
// or without an index.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "index/las_index.hpp"
#include "index/las_index_writer.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "scene/scene_las.hpp"

namespace index_test {

inline std::filesystem::path scratch_dir() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "isocull_index_tests" /
                              (std::string(info->test_suite_name()) + "_" + info->name());
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string real(const char* name) {
  return (std::filesystem::path(ISOCULL_REAL_DATA_DIR) / name).string();
}

#define SKIP_WITHOUT_REAL_DATA()                             \
  if (!std::filesystem::is_directory(ISOCULL_REAL_DATA_DIR)) \
  GTEST_SKIP() << "real point files not found at " ISOCULL_REAL_DATA_DIR

inline bool make_scene(const std::string& path, std::uint64_t points, int point_type,
                       std::uint32_t seed = 3) {
  SceneFileOptions options;
  options.scene.points = points;
  options.scene.seed = seed;
  options.point_type = point_type;
  return write_scene_las(path.c_str(), options);
}

// The points a file holds, by its header.
inline std::int64_t points_total_of(const std::string& path) {
  LASreaderLAS reader;
  return reader.open_file(path.c_str()) ? reader.points_total : -1;
}

// The LAS file's points written compressed, in chunks of `chunk_size`.
inline bool compress(const std::string& las_path, const std::string& pkz_path, int chunk_size) {
  LASreaderLAS reader;
  if (!reader.open_file(las_path.c_str())) return false;
  LASheader header = reader.header;
  const std::uint16_t compressor = header.point_data_format >= 6 ? 3 : 2;
  LASwriterLAS writer;
  if (!writer.open_file(pkz_path.c_str(), &header, compressor, 0, chunk_size)) return false;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return false;
  }
  return writer.close_writer(true) > 0;
}

struct Area {
  enum Kind { kRectangle, kTile, kCircle } kind;
  double a, b, c, d;  // min_x min_y max_x max_y | ll_x ll_y size | center_x center_y radius
};

inline std::string describe(const Area& area) {
  const char* names[] = {"rectangle", "tile", "circle"};
  return std::string(names[area.kind]) + " " + std::to_string(area.a) + " " +
         std::to_string(area.b) + " " + std::to_string(area.c) + " " + std::to_string(area.d);
}

// One delivered point: its number in the file and its stored coordinates.
struct Delivered {
  std::int64_t number;
  std::int32_t X, Y, Z;
  bool operator==(const Delivered&) const = default;
};

inline void apply(LASreader& reader, const Area& area) {
  switch (area.kind) {
    case Area::kRectangle:
      reader.inside_rectangle(area.a, area.b, area.c, area.d);
      break;
    case Area::kTile:
      reader.inside_tile(static_cast<float>(area.a), static_cast<float>(area.b),
                         static_cast<float>(area.c));
      break;
    case Area::kCircle:
      reader.inside_circle(area.a, area.b, area.c);
      break;
  }
}

// The points the reader of `path` delivers inside `area`, through `index` when given
// (attached before the area is set, as the factory does). `read` receives the points the
// index let the reader read.
inline std::vector<Delivered> read_area(const std::string& path, const Area& area,
                                        std::unique_ptr<LASindex> index,
                                        std::uint64_t* read = nullptr) {
  std::vector<Delivered> points;
  LASreaderLAS reader;
  if (!reader.open_file(path.c_str())) {
    ADD_FAILURE() << "cannot open " << path;
    return points;
  }
  LASindex* used = index.get();
  // Without an index given, none is used (not even one stored inside the file).
  reader.attach_index(std::move(index));
  apply(reader, area);
  while (reader.read_next())
    points.push_back({reader.points_done - 1, reader.point.X, reader.point.Y, reader.point.Z});
  if (read != nullptr) *read = used != nullptr ? used->points_in_runs() : reader.points_total;
  return points;
}

}  // namespace index_test
