// Throughput and size of the layered PKZ codecs for point types 6 and 8 on a generated
// airborne scene: encode to memory, then decode back, single thread. Type 8 runs twice: with
// the scene's colours (fresh random shades for every point, the worst case for the colour
// codec) and with colours taken from a simulated orthophoto.
//
//   bench_pkz14 [millions_of_points]   (default 20)
//
// The scene is generated in batches that are timed apart from the coding, so the figures
// are the codec's own; no batch holds more than a fraction of the points. Times are the
// thread's processor time.

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "scene/scene_generator.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

// Processor time of this thread: the machines we measure on are shared, and wall time there
// says more about the neighbours than about the codec.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
};

double seconds_since(double start) {
  return Clock::now() - start;
}

constexpr std::size_t kBatch = 1 << 18;
constexpr double kScale = 0.01;

// Colour as a survey takes it from an orthophoto: 8-bit pixels of half a metre, stretched
// to 16 bits, so that neighbouring points share a pixel. The scene's own colours are drawn
// afresh for every point, which no photograph does.
void colour_from_photo(double x, double y, LASpointFields& f) {
  const double px = std::floor(x / 0.5);
  const double py = std::floor(y / 0.5);
  const double shade = 0.5 + 0.25 * std::sin(px / 9.0) + 0.25 * std::cos(py / 13.0);
  const auto level = [&](double weight) {
    return static_cast<std::uint16_t>(256 * std::lround(40 + 180 * weight * shade));
  };
  f.rgb[0] = level(0.9);
  f.rgb[1] = level(1.0);
  f.rgb[2] = level(0.7);
  f.rgb[3] = level(0.5);
}

// The scene point as a reader of a type 6-10 file would hold it.
void to_fields(const ScenePoint& scene, double origin_x, double origin_y, bool photo_colours,
               LASpointFields& f) {
  f = LASpointFields{};
  f.X = static_cast<std::int32_t>(std::lround((scene.x - origin_x) / kScale));
  f.Y = static_cast<std::int32_t>(std::lround((scene.y - origin_y) / kScale));
  f.Z = static_cast<std::int32_t>(std::lround(scene.z / kScale));
  f.intensity = scene.intensity;
  f.return_number = scene.return_number & 7;
  f.number_of_returns = scene.number_of_returns & 7;
  f.extended_return_number = scene.return_number;
  f.extended_number_of_returns = scene.number_of_returns;
  f.scan_direction_flag = scene.scan_direction;
  f.edge_of_flight_line = scene.edge_of_flight_line;
  f.classification = scene.classification;
  f.extended_classification = scene.classification;
  f.extended_layout = 1;
  f.scan_angle_rank = scene.scan_angle;
  f.extended_scan_angle = static_cast<std::int16_t>(std::lround(scene.scan_angle / 0.006));
  f.point_source_ID = scene.point_source_ID;
  f.gps_time = scene.gps_time;
  f.rgb[0] = scene.red;
  f.rgb[1] = scene.green;
  f.rgb[2] = scene.blue;
  f.rgb[3] = scene.nir;
  if (photo_colours) colour_from_photo(scene.x, scene.y, f);
}

std::uint64_t checksum_of(const LASpoint& point) {
  std::uint64_t time_bits;
  std::memcpy(&time_bits, &point.gps_time, 8);
  return static_cast<std::uint32_t>(point.X) * 3u + static_cast<std::uint32_t>(point.Y) * 5u +
         static_cast<std::uint32_t>(point.Z) * 7u + point.intensity + point.extended_return_number +
         point.extended_classification + time_bits +
         static_cast<std::uint16_t>(point.extended_scan_angle) +
         (point.has_rgb ? point.rgb[0] + point.rgb[2] * 3u : 0u) +
         (point.has_nir ? point.rgb[3] * 5u : 0u);
}

bool run(int point_type, bool photo_colours, std::uint64_t count) {
  const int record_length = point_type_base_size(point_type);
  Pakrel codec;
  std::vector<LASitem> items;
  if (!codec.setup(items, static_cast<std::uint8_t>(point_type),
                   static_cast<std::uint16_t>(record_length), Pakrel::COMPRESSOR_LAYERED) ||
      !codec.setup(static_cast<std::uint16_t>(items.size()), items.data(),
                   Pakrel::COMPRESSOR_LAYERED)) {
    return false;
  }
  LASpoint point;
  if (!point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr)) return false;

  SceneOptions options;
  options.points = count;
  SceneGenerator scene(options);
  std::vector<LASpointFields> batch(kBatch);
  ByteStreamOutArray block(count * record_length / 4);
  LASwriteEngine writer;
  if (!writer.setup(codec.num_items, codec.items.data(), &codec) || !writer.attach(&block)) {
    return false;
  }
  double encode_seconds = 0;
  std::uint64_t written = 0;
  std::uint64_t sent_checksum = 0;
  ScenePoint scene_point;
  while (written < count) {
    std::size_t filled = 0;
    while (filled < kBatch && scene.next(scene_point)) {
      to_fields(scene_point, scene.min_x(), scene.min_y(), photo_colours, batch[filled++]);
    }
    if (filled == 0) break;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < filled; i++) {
      static_cast<LASpointFields&>(point) = batch[i];
      if (!writer.write(point.item_data.data())) return false;
    }
    encode_seconds += seconds_since(start);
    for (std::size_t i = 0; i < filled; i++) {
      static_cast<LASpointFields&>(point) = batch[i];
      sent_checksum += checksum_of(point);
    }
    written += filled;
  }
  auto start = Clock::now();
  if (!writer.finish()) return false;
  encode_seconds += seconds_since(start);

  LASreadEngine reader;
  ByteStreamInArray in(block.data(), block.size());
  if (!reader.setup(codec.num_items, codec.items.data(), &codec) || !reader.attach(&in)) {
    return false;
  }
  std::uint64_t read_checksum = 0;
  start = Clock::now();
  for (std::uint64_t i = 0; i < written; i++) {
    if (!reader.read(point.item_data.data())) return false;
    read_checksum += checksum_of(point);
  }
  if (!reader.verify_end()) return false;
  const double decode_seconds = seconds_since(start);

  const double uncompressed = static_cast<double>(written) * record_length;
  std::printf("point type %d%s: %" PRIu64 " points of %d bytes\n", point_type,
              point_type < 7  ? ""
              : photo_colours ? ", colours from a photo"
                              : ", the scene's colours",
              written, record_length);
  std::printf("  encode %6.2f million points/s\n", written / encode_seconds / 1e6);
  std::printf("  decode %6.2f million points/s%s\n", written / decode_seconds / 1e6,
              read_checksum == sent_checksum ? "" : "  MISMATCH");
  std::printf("  size   %6.2f%% of the LAS point records (%" PRId64 " of %.0f bytes)\n",
              100.0 * block.size() / uncompressed, block.size(), uncompressed);
  return read_checksum == sent_checksum;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t millions = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20;
  bool ok = true;
  const struct {
    int point_type;
    bool photo_colours;
  } runs[] = {{6, false}, {8, false}, {8, true}};
  for (const auto& each : runs) {
    if (!run(each.point_type, each.photo_colours, millions * 1000000)) {
      std::printf("point type %d: FAILED\n", each.point_type);
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
