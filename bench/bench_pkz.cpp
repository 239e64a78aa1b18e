// Throughput of PKZ compression (compressor 2, codec version 2, chunks of 50000) for point
// types 1 and 3 on a generated airborne scene, single thread: encode and decode in points
// per second of processor time and the compressed size as a share of the uncompressed point
// records.
//
//   bench_pkz [points]   (default 20 million)
//
// Points are generated in batches (not timed) and streamed through the engines; the coded
// block goes to a temporary file, so memory stays at one batch whatever the point count.
// Decoded batches are checked against the generated ones by a checksum.

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "scene/scene_generator.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_file.hpp"

namespace {

// Process CPU time: the machines these run on are shared, and a wall clock would count the
// time other programs had the processor.
constexpr std::size_t kBatch = 1 << 18;

double seconds_since(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

std::uint64_t checksum(const std::uint8_t* bytes, std::size_t n, std::uint64_t hash) {
  for (std::size_t i = 0; i < n; i++)
    hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

// The next `count` scene points as records of the point's layout.
void generate(SceneGenerator& scene, LASpoint& point, const RawRecordLayout& layout,
              std::size_t count, std::uint8_t* records) {
  ScenePoint s;
  for (std::size_t i = 0; i < count; i++) {
    scene.next(s);
    point.X = static_cast<std::int32_t>(std::lround((s.x - scene.min_x()) * 100.0));
    point.Y = static_cast<std::int32_t>(std::lround((s.y - scene.min_y()) * 100.0));
    point.Z = static_cast<std::int32_t>(std::lround(s.z * 100.0));
    point.intensity = s.intensity;
    point.return_number = s.return_number & 7;
    point.number_of_returns = s.number_of_returns & 7;
    point.scan_direction_flag = s.scan_direction;
    point.edge_of_flight_line = s.edge_of_flight_line;
    point.classification = s.classification & 31;
    point.scan_angle_rank = s.scan_angle;
    point.point_source_ID = s.point_source_ID;
    point.gps_time = s.gps_time;
    point.rgb[0] = s.red;
    point.rgb[1] = s.green;
    point.rgb[2] = s.blue;
    layout.gather(point.item_data.data(), records + i * layout.record_size());
  }
}

bool bench_point_type(int point_type, std::uint64_t total) {
  const int record_length = point_type_base_size(point_type);
  std::vector<LASitem> items;
  Pakrel codec;
  if (!codec.setup(items, static_cast<std::uint8_t>(point_type),
                   static_cast<std::uint16_t>(record_length), Pakrel::COMPRESSOR_CHUNKED) ||
      !codec.setup(static_cast<std::uint16_t>(items.size()), items.data(),
                   Pakrel::COMPRESSOR_CHUNKED)) {
    std::fprintf(stderr, "cannot set up the descriptor\n");
    return false;
  }
  LASpoint point;
  RawRecordLayout layout;
  if (!point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr) ||
      !layout.init(codec.items)) {
    return false;
  }
  std::vector<std::uint8_t> batch(kBatch * layout.record_size());
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open a temporary file\n");
    return false;
  }

  // Encode.
  SceneOptions options;
  options.points = total;
  SceneGenerator scene(options);
  std::uint64_t written_sum = 0xCBF29CE484222325ull;
  double encode_s = 0;
  std::int64_t block_bytes = 0;
  {
    ByteStreamOutFile out(file);
    LASwriteEngine writer;
    if (!writer.setup(codec.num_items, codec.items.data(), &codec) || !writer.attach(&out)) {
      return false;
    }
    for (std::uint64_t done = 0; done < total;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBatch, total - done));
      generate(scene, point, layout, n, batch.data());
      written_sum = checksum(batch.data(), n * layout.record_size(), written_sum);
      const std::clock_t start = std::clock();
      for (std::size_t i = 0; i < n; i++) {
        layout.scatter(batch.data() + i * layout.record_size(), point.item_data.data());
        writer.write(point.item_data.data());
      }
      encode_s += seconds_since(start);
      done += n;
    }
    const std::clock_t start = std::clock();
    if (!writer.finish() || !out.flush()) {
      std::fprintf(stderr, "writing the temporary file failed\n");
      return false;
    }
    encode_s += seconds_since(start);
    block_bytes = out.position();
  }

  // Decode.
  std::rewind(file);
  std::uint64_t read_sum = 0xCBF29CE484222325ull;
  double decode_s = 0;
  bool ok = true;
  {
    ByteStreamInFile in(file);
    LASreadEngine reader;
    if (!reader.setup(codec.num_items, codec.items.data(), &codec) || !reader.attach(&in)) {
      return false;
    }
    for (std::uint64_t done = 0; done < total && ok;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBatch, total - done));
      const std::clock_t start = std::clock();
      for (std::size_t i = 0; i < n; i++) {
        if (!reader.read(point.item_data.data())) {
          std::fprintf(stderr, "decoding failed: %s\n", reader.error_text());
          ok = false;
          break;
        }
        layout.gather(point.item_data.data(), batch.data() + i * layout.record_size());
      }
      decode_s += seconds_since(start);
      read_sum = checksum(batch.data(), n * layout.record_size(), read_sum);
      done += n;
    }
    if (ok && !reader.verify_end()) ok = false;
  }
  std::fclose(file);

  const double raw_bytes = static_cast<double>(total) * record_length;
  std::printf(
      "point type %d (%d bytes): encode %5.2f M points/s  decode %5.2f M points/s  "
      "size %5.2f%% of the records%s\n",
      point_type, record_length, total / encode_s / 1e6, total / decode_s / 1e6,
      100.0 * static_cast<double>(block_bytes) / raw_bytes,
      ok && read_sum == written_sum ? "" : "  MISMATCH");
  return ok && read_sum == written_sum;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000000;
  std::printf("%" PRIu64 " points per point type\n", total);
  bool ok = true;
  for (int point_type : {1, 3})
    ok = bench_point_type(point_type, total) && ok;
  return ok ? 0 : 1;
}
