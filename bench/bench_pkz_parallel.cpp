// Encoding speed of PKZ point data with chunks coded on worker threads against the calling
// thread alone: point types 1 (compressor 2) and 6 (layered), chunks of 50000, a generated
// airborne scene held in memory. Wall-clock time (the point of the workers is to finish
// sooner) and process time (what all threads spent), in million points per second; the
// coded blocks of every pool are checked to equal the sequential one. The calling thread's
// own processor time shows what the workers took off it.
//
//   bench_pkz_parallel [points] [workers...]   (default 2 million; workers 1 2)

#include <time.h>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "scene/scene_generator.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/worker_pool.hpp"

namespace {

// Scene points as records of the point's layout; extended fields too for point type 6.
std::vector<std::uint8_t> generate(LASpoint& point, const RawRecordLayout& layout,
                                   std::uint64_t count) {
  std::vector<std::uint8_t> records(count * layout.record_size());
  SceneOptions options;
  options.points = count;
  SceneGenerator scene(options);
  ScenePoint s;
  for (std::uint64_t i = 0; i < count; i++) {
    scene.next(s);
    point.X = static_cast<std::int32_t>(std::lround((s.x - scene.min_x()) * 100.0));
    point.Y = static_cast<std::int32_t>(std::lround((s.y - scene.min_y()) * 100.0));
    point.Z = static_cast<std::int32_t>(std::lround(s.z * 100.0));
    point.intensity = s.intensity;
    point.set_return_number(s.return_number);
    point.set_number_of_returns(s.number_of_returns);
    point.set_extended_return_number(s.return_number);
    point.set_extended_number_of_returns(s.number_of_returns);
    point.scan_direction_flag = s.scan_direction;
    point.edge_of_flight_line = s.edge_of_flight_line;
    point.set_classification(s.classification);
    point.scan_angle_rank = s.scan_angle;
    point.extended_scan_angle = static_cast<std::int16_t>(std::lround(s.scan_angle / 0.006));
    point.point_source_ID = s.point_source_ID;
    point.gps_time = s.gps_time;
    layout.gather(point.item_data.data(), records.data() + i * layout.record_size());
  }
  return records;
}

// Processor time of the calling thread alone: with the workers on cores of their own, it
// bounds how fast points can be handed over, whatever the machine's other load.
double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Run {
  double wall_s = 0;
  double cpu_s = 0;
  double caller_s = 0;
  std::vector<std::uint8_t> block;
};

bool encode(const Pakrel& codec, LASpoint& point, const RawRecordLayout& layout,
            const std::vector<std::uint8_t>& records, WorkerPool* pool, Run& run) {
  ByteStreamOutArray out(records.size() / 4);
  LASwriteEngine writer;
  writer.set_worker_pool(pool);
  if (!writer.setup(codec.num_items, codec.items.data(), &codec) || !writer.attach(&out)) {
    return false;
  }
  const std::size_t size = layout.record_size();
  const std::size_t count = records.size() / size;
  const auto wall_start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  const double caller_start = thread_seconds();
  bool ok = true;
  for (std::size_t i = 0; i < count; i++) {
    layout.scatter(records.data() + i * size, point.item_data.data());
    if (!writer.write(point.item_data.data())) ok = false;
  }
  if (!writer.finish()) ok = false;
  run.caller_s = thread_seconds() - caller_start;
  run.cpu_s = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  run.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  run.block.assign(out.data(), out.data() + out.size());
  return ok;
}

bool bench_point_type(int point_type, std::uint64_t total, const std::vector<unsigned>& workers) {
  const std::uint16_t compressor =
      point_type >= 6 ? Pakrel::COMPRESSOR_LAYERED : Pakrel::COMPRESSOR_CHUNKED;
  std::vector<LASitem> items;
  Pakrel codec;
  const auto record_length = static_cast<std::uint16_t>(point_type_base_size(point_type));
  if (!codec.setup(items, static_cast<std::uint8_t>(point_type), record_length, compressor) ||
      !codec.setup(static_cast<std::uint16_t>(items.size()), items.data(), compressor)) {
    std::fprintf(stderr, "cannot set up the descriptor\n");
    return false;
  }
  LASpoint point;
  RawRecordLayout layout;
  if (!point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr) ||
      !layout.init(codec.items)) {
    return false;
  }
  const std::vector<std::uint8_t> records = generate(point, layout, total);

  Run sequential;
  if (!encode(codec, point, layout, records, nullptr, sequential)) return false;
  const double points = static_cast<double>(total);
  std::printf(
      "point type %d  sequential  wall %6.3f s  %6.2f M points/s  cpu %6.3f s  caller %6.3f s\n",
      point_type, sequential.wall_s, points / sequential.wall_s / 1e6, sequential.cpu_s,
      sequential.caller_s);
  bool ok = true;
  for (unsigned n : workers) {
    WorkerPool pool(n);
    Run parallel;
    if (!encode(codec, point, layout, records, &pool, parallel)) return false;
    const bool same = parallel.block == sequential.block;
    ok = ok && same;
    std::printf(
        "point type %d  %u worker%s   wall %6.3f s  %6.2f M points/s  cpu %6.3f s  caller %6.3f s  "
        "x%.2f%s\n",
        point_type, pool.workers(), pool.workers() == 1 ? " " : "s", parallel.wall_s,
        points / parallel.wall_s / 1e6, parallel.cpu_s, parallel.caller_s,
        sequential.wall_s / parallel.wall_s, same ? "" : "  BYTES DIFFER");
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2000000;
  std::vector<unsigned> workers;
  for (int i = 2; i < argc; i++)
    workers.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
  if (workers.empty()) workers = {1, 2};
  std::printf("%" PRIu64 " points per point type, %u cores\n", total, WorkerPool::machine_cores());
  bool ok = true;
  for (int point_type : {1, 6})
    ok = bench_point_type(point_type, total, workers) && ok;
  return ok ? 0 : 1;
}
