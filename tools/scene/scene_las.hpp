#pragma once

#include <cstdint>
#include <string>

#include "scene/scene_generator.hpp"

// Writes the synthetic scene as a LAS file through the project's own LAS writer, so that the
// demo, the benchmarks and the end-to-end tests start from a file of known content.
struct SceneFileOptions {
  SceneOptions scene;
  int point_type = 1;      // 0-10; GPS time, colour and near infrared as the type carries
  std::string truth_path;  // when set: the indexes of the injected noise points, one a line
};

// The file: LAS 1.2 for point types 0-5, LAS 1.4 for 6-10; scale 0.01 in the scene's unit,
// offsets at whole kilometres (thousands of feet) below the tile origin; GeoTIFF keys naming
// a projected system in metres or US survey feet; counts and bounds from the writer's tally.
// False after an "ERROR: " line.
bool write_scene_las(const char* file_name, const SceneFileOptions& options);
