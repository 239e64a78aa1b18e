// Points per second of the raw read and write engines over a file in the page cache.
// Usage: raw_engine_bench [point_type] [millions_of_points]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_file.hpp"

int main(int argc, char** argv) {
  const int point_type = argc > 1 ? std::atoi(argv[1]) : 1;
  const long count = (argc > 2 ? std::atol(argv[2]) : 20) * 1000000L;
  const int record_length = point_type_base_size(point_type);
  if (record_length < 0) return 1;

  LASpoint point;
  if (!point.init_for_point_type(nullptr, static_cast<std::uint8_t>(point_type),
                                 static_cast<std::uint16_t>(record_length), nullptr)) {
    return 1;
  }
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return 1;
  using clock = std::chrono::steady_clock;

  auto start = clock::now();
  {
    ByteStreamOutFileLE out(file);
    LASwriteEngine writer;
    if (!writer.setup(point.num_items, point.items.data()) || !writer.attach(&out)) return 1;
    for (long i = 0; i < count; i++) {
      point.X = static_cast<std::int32_t>(i);
      point.gps_time = static_cast<double>(i);
      if (!writer.write(point.item_data.data())) return 1;
    }
    if (!writer.finish() || !out.flush()) return 1;
  }
  const double write_seconds = std::chrono::duration<double>(clock::now() - start).count();

  // Twice: the first pass brings the file into the page cache.
  double read_seconds = 0;
  long long checksum = 0;
  for (int pass = 0; pass < 2; pass++) {
    std::rewind(file);
    start = clock::now();
    ByteStreamInFileLE in(file);
    LASreadEngine reader;
    if (!reader.setup(point.num_items, point.items.data()) || !reader.attach(&in)) return 1;
    checksum = 0;
    for (long i = 0; i < count; i++) {
      if (!reader.read(point.item_data.data())) return 1;
      checksum += point.X;
    }
    read_seconds = std::chrono::duration<double>(clock::now() - start).count();
  }
  std::fclose(file);
  std::printf("point type %d, %ld points of %d bytes (checksum %lld)\n", point_type, count,
              record_length, checksum);
  std::printf("raw write: %.1f million points/s\n", count / write_seconds / 1e6);
  std::printf("raw read:  %.1f million points/s\n", count / read_seconds / 1e6);
  return 0;
}
