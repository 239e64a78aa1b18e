#pragma once

#include <cstdint>
#include <string>

#include "model/las_point.hpp"
#include "scene/scene_generator.hpp"

// Writes the synthetic scene as a LAS file through the project's own LAS writer, so that the
// demo, the benchmarks and the end-to-end tests start from a file of known content.
struct SceneFileOptions {
  SceneOptions scene;
  int point_type = 1;      // 0-10; GPS time, colour and near infrared as the type carries
  std::string truth_path;  // when set: the indexes of the injected noise points, one a line
};

// Sets the point's fields from a scene point: return numbers both legacy and extended, the
// scanner channel from the flightline for point types 6-10, GPS time, colour and near
// infrared as the point carries them. Wave packets and extra bytes are left as they are.
void fill_scene_point(LASpoint& point, const ScenePoint& scene, int point_type);

// The file: LAS 1.2 for point types 0-5, LAS 1.4 for 6-10; scale 0.01 in the scene's unit,
// offsets at whole kilometres (thousands of feet) below the tile origin; GeoTIFF keys naming
// a projected system in metres or US survey feet; counts and bounds from the writer's tally.
// False after an "ERROR: " line.
bool write_scene_las(const char* file_name, const SceneFileOptions& options);
