#include "scene/scene_las.hpp"

#include <cmath>
#include <cstdio>
#include <memory>

#include "las/las_writer_las.hpp"
#include "model/point_layout.hpp"

namespace {

// GeoTIFF keys of the scene: a projected system, its linear and vertical unit.
constexpr std::uint16_t kModelTypeKey = 1024;      // GTModelTypeGeoKey, 1 = projected
constexpr std::uint16_t kRasterTypeKey = 1025;     // GTRasterTypeGeoKey, 1 = pixel is area
constexpr std::uint16_t kProjectedCsKey = 3072;    // ProjectedCSTypeGeoKey
constexpr std::uint16_t kLinearUnitsKey = 3076;    // ProjLinearUnitsGeoKey
constexpr std::uint16_t kVerticalUnitsKey = 4099;  // VerticalUnitsGeoKey
constexpr std::uint16_t kUnitMetre = 9001;
constexpr std::uint16_t kUnitSurveyFoot = 9003;
constexpr std::uint16_t kUtm33North = 32633;     // WGS 84 / UTM zone 33N, metres
constexpr std::uint16_t kStatePlaneFeet = 2264;  // NAD83 / North Carolina (ftUS)

}  // namespace

void fill_scene_point(LASpoint& point, const ScenePoint& scene, int point_type) {
  point.set_x(scene.x);
  point.set_y(scene.y);
  point.set_z(scene.z);
  point.intensity = scene.intensity;
  point.set_return_number(scene.return_number);
  point.set_number_of_returns(scene.number_of_returns);
  point.set_extended_return_number(scene.return_number);
  point.set_extended_number_of_returns(scene.number_of_returns);
  point.set_classification(scene.classification);
  point.scan_direction_flag = scene.scan_direction ? 1 : 0;
  point.edge_of_flight_line = scene.edge_of_flight_line ? 1 : 0;
  point.set_scan_angle(scene.scan_angle);
  point.point_source_ID = scene.point_source_ID;
  if (point_type >= 6) point.set_extended_scanner_channel((scene.point_source_ID - 1) & 3);
  point.gps_time = point.has_gps_time ? scene.gps_time : 0.0;
  if (point.has_rgb) {
    point.rgb[0] = scene.red;
    point.rgb[1] = scene.green;
    point.rgb[2] = scene.blue;
  }
  if (point.has_nir) point.rgb[3] = scene.nir;
}

bool write_scene_las(const char* file_name, const SceneFileOptions& options) {
  if (options.point_type < 0 || options.point_type > kMaxPointType) {
    std::fprintf(stderr, "ERROR: point type %d is not one of 0 to 10\n", options.point_type);
    return false;
  }
  SceneGenerator generator(options.scene);

  auto header = std::make_unique<LASheader>();
  const bool extended = options.point_type >= 6;
  header->version_minor = extended ? 4 : 2;
  header->header_size = extended ? kHeaderSize14 : kHeaderSize10;
  header->offset_to_point_data = header->header_size;
  header->point_data_format = static_cast<std::uint8_t>(options.point_type);
  header->point_data_record_length =
      static_cast<std::uint16_t>(point_type_base_size(options.point_type));
  header->set_system_identifier("isocull synthetic scene");
  header->set_generating_software("make_scene");
  header->x_scale_factor = header->y_scale_factor = header->z_scale_factor = 0.01;
  header->x_offset = std::floor(generator.min_x() / 1000.0) * 1000.0;
  header->y_offset = std::floor(generator.min_y() / 1000.0) * 1000.0;
  header->z_offset = 0.0;
  const std::uint16_t unit = options.scene.feet ? kUnitSurveyFoot : kUnitMetre;
  const LASvlrKeyEntry keys[] = {
      {kModelTypeKey, 0, 1, 1},
      {kRasterTypeKey, 0, 1, 1},
      {kProjectedCsKey, 0, 1, options.scene.feet ? kStatePlaneFeet : kUtm33North},
      {kLinearUnitsKey, 0, 1, unit},
      {kVerticalUnitsKey, 0, 1, unit},
  };
  header->store_geo_keys(static_cast<std::uint32_t>(std::size(keys)), keys);

  std::FILE* truth = nullptr;
  if (!options.truth_path.empty()) {
    truth = std::fopen(options.truth_path.c_str(), "w");
    if (truth == nullptr) {
      std::fprintf(stderr, "ERROR: cannot open file '%s' for write\n", options.truth_path.c_str());
      return false;
    }
  }

  LASwriterLAS writer;
  bool ok = writer.open_file(file_name, header.get());
  LASpoint point;
  ok = ok && point.init_for_point_type(header.get(), header->point_data_format,
                                       header->point_data_record_length, header.get());
  ScenePoint scene;
  std::uint64_t index = 0;
  while (ok && generator.next(scene)) {
    fill_scene_point(point, scene, options.point_type);
    if (!writer.write_point(point)) ok = false;
    writer.count_point(point);
    if (scene.injected_noise && truth != nullptr) {
      std::fprintf(truth, "%llu\n", static_cast<unsigned long long>(index));
    }
    index++;
  }
  if (ok) ok = writer.update_header(header.get(), true);
  if (writer.close_writer(true) == 0) ok = false;
  if (truth != nullptr && std::fclose(truth) != 0) {
    std::fprintf(stderr, "ERROR: cannot write file '%s'\n", options.truth_path.c_str());
    ok = false;
  }
  return ok;
}
