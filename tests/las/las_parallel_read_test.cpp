// The LAS reader with a worker pool against the same reader without one, on the compressed
// files of other producers: the same points byte for byte, the same messages at the same
// points, the same seeks, and reopening or stopping early leave nothing behind.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"
#include "sanitizer_build.hpp"
#include "stream/worker_pool.hpp"

using namespace las_test;

namespace {

constexpr std::int64_t kLargeFilePoints = sanitizer_build::kAny ? 60000 : INT64_MAX;

const char* const kCompressedFiles[] = {
    "simple.pkz",
    "simple-v1.pkz",
    "extrabytes.pkz",
    "1_4_w_evlr.pkz",
    "fullwave.pkz",
    "simple-varchunk.pkz",
    "autzen-clip-varchunk.pkz",
    "lone-star-split-1.pkz",
    "lone-star-split-2.pkz",
    "bad-header.pkz",
};

// What reading a file shows: the stored records delivered, what was printed, how it ended.
struct Reading {
  bool opened = false;
  std::vector<std::uint8_t> records;
  std::string printed;
  bool failed = false;
};

void take_record(LASreaderLAS& reader, Reading& reading) {
  RawRecordLayout layout;
  ASSERT_TRUE(layout.init(reader.point.items));
  std::vector<std::uint8_t> record(layout.record_size());
  layout.gather(reader.point.item_data.data(), record.data());
  reading.records.insert(reading.records.end(), record.begin(), record.end());
}

// Opens `path` (with `pool`, null for none) and reads every point (up to `most`); with
// `seeks`, seeks to each target and reads a few points after it instead.
Reading read_file(const std::string& path, WorkerPool* pool, std::uint32_t selective,
                  const std::vector<std::int64_t>& seeks = {}, std::int64_t most = INT64_MAX) {
  Reading reading;
  LASreaderLAS reader;
  reader.set_worker_pool(pool);
  testing::internal::CaptureStderr();
  reading.opened =
      reader.open_file(path.c_str(), LASreaderLAS::kDefaultBufferSize, false, selective);
  if (reading.opened && seeks.empty()) {
    for (std::int64_t i = 0; i < most && reader.read_next(); i++)
      take_record(reader, reading);
  }
  for (const std::int64_t target : seeks) {
    reading.printed += reader.seek_point(target) ? "[seek ok]" : "[seek failed]";
    for (int i = 0; i < 40 && reader.read_next(); i++)
      take_record(reader, reading);
  }
  reading.failed = reader.read_failed();
  reader.close_reader();
  reading.printed += testing::internal::GetCapturedStderr();
  return reading;
}

struct Pools {
  WorkerPool one{1};
  WorkerPool two{2};
  std::unique_ptr<WorkerPool> refused;
  Pools() {
    WorkerPool::limit_threads_for_testing(0);
    refused = std::make_unique<WorkerPool>(2);
    WorkerPool::limit_threads_for_testing(-1);
  }
  std::vector<std::pair<const char*, WorkerPool*>> all() {
    return {{"1 worker", &one}, {"2 workers", &two}, {"threads refused", refused.get()}};
  }
};

Pools& pools() {
  static Pools instance;
  return instance;
}

// With every pool, or with the pool of two workers only.
void expect_same_reading(const std::string& path, std::uint32_t selective,
                         const std::vector<std::int64_t>& seeks = {}, bool every_pool = true,
                         std::int64_t most = INT64_MAX) {
  const Reading alone = read_file(path, nullptr, selective, seeks, most);
  for (const auto& [name, pool] : pools().all()) {
    if (!every_pool && pool != &pools().two) continue;
    const Reading shared = read_file(path, pool, selective, seeks, most);
    EXPECT_EQ(shared.opened, alone.opened) << path << ", " << name;
    EXPECT_EQ(shared.printed, alone.printed) << path << ", " << name;
    EXPECT_EQ(shared.failed, alone.failed) << path << ", " << name;
    EXPECT_TRUE(shared.records == alone.records)
        << path << ", " << name << ": " << shared.records.size() << " record bytes against "
        << alone.records.size();
  }
}

TEST(LasParallelRead, EveryCompressedFileReadsAsWithoutWorkers) {
  SKIP_WITHOUT_REAL_DATA();
  for (const char* name : kCompressedFiles) {
    // The large ones with one pool, and under the sanitizers (slow) only their first two
    // chunks.
    const bool large = std::string(name).rfind("lone-star", 0) == 0;
    expect_same_reading(real(name), kDecompressAll, {}, !large,
                        large ? kLargeFilePoints : INT64_MAX);
  }
  // Selective decoding of the layered files: what is not decoded is what it was without.
  for (const char* name : {"fullwave.pkz", "1_4_w_evlr.pkz", "simple-varchunk.pkz"}) {
    expect_same_reading(real(name), 0);
    expect_same_reading(real(name), kDecompressZ | kDecompressGpsTime | kDecompressWavePacket);
  }
}

// A real file compressed again into many small chunks (made once per run).
const std::string& small_chunked_file() {
  static const std::string path = [] {
    const std::string made = (std::filesystem::temp_directory_path() / "isocull_las_tests" /
                              "parallel_read_simple1_4_chunks_of_1500.pkz")
                                 .string();
    std::filesystem::create_directories(std::filesystem::path(made).parent_path());
    LASreaderLAS reader;
    EXPECT_TRUE(reader.open_file(real("simple1_4.las").c_str()));
    LASheader header = reader.header;
    LASwriterLAS writer;
    EXPECT_TRUE(writer.open_file(made.c_str(), &header, Pakrel::COMPRESSOR_LAYERED, 0, 1500));
    while (reader.read_next())
      EXPECT_TRUE(writer.write_point(reader.point));
    EXPECT_GT(writer.close_writer(true), 0);
    return made;
  }();
  return path;
}

TEST(LasParallelRead, SeeksDeliverWhatTheyDeliverWithoutWorkers) {
  SKIP_WITHOUT_REAL_DATA();
  std::mt19937 rng(7);
  std::vector<std::int64_t> seeks = {0, 1490, 1505, 3, 22599, 15000, 14999, 22600};
  for (int i = 0; i < 8; i++)
    seeks.push_back(std::uniform_int_distribution<std::int64_t>(0, 22599)(rng));
  expect_same_reading(small_chunked_file(), kDecompressAll, seeks);
  expect_same_reading(real("fullwave.pkz"), kDecompressAll, {10749, 5000, 4999, 0, 7777});
}

TEST(LasParallelRead, CutAndDamagedFilesFailAtTheSamePointWithTheSameMessages) {
  SKIP_WITHOUT_REAL_DATA();
  const std::vector<std::uint8_t> file = file_bytes(small_chunked_file());
  const std::size_t points_begin = at<std::uint32_t>(file, 96);
  const auto table = static_cast<std::size_t>(at<std::int64_t>(file, points_begin));
  struct Damage {
    const char* what;
    std::size_t cut;     // the file ends here
    std::size_t garble;  // 16 bytes garbled from here (0: none)
  };
  const Damage damages[] = {
      {"cut in the second chunk", points_begin + (table - points_begin) / 2, 0},
      {"cut in the table", table + 4, 0},
      {"cut before the table", table, 0},
      {"garbled first chunk", file.size(), points_begin + (table - points_begin) / 5},
      {"garbled second chunk", file.size(), points_begin + (table - points_begin) / 2},
  };
  for (const Damage& damage : damages) {
    std::vector<std::uint8_t> copy(file.begin(), file.begin() + damage.cut);
    // The extended records after the points go with a cut, and the header says so.
    if (damage.cut < file.size()) put<std::uint32_t>(copy, kOffsetNumberOfEvlrs, 0);
    for (std::size_t i = damage.garble; damage.garble && i < damage.garble + 16; i++)
      copy[i] ^= 0xA5;
    const std::filesystem::path path = scratch("damaged.pkz");
    write_bytes(path, copy);
    SCOPED_TRACE(damage.what);
    expect_same_reading(path.string(), kDecompressAll, {}, false);
  }
}

TEST(LasParallelRead, AReaderOpenedAgainOrHeaderOnlyOrStoppedEarlyStartsAfresh) {
  SKIP_WITHOUT_REAL_DATA();
  const std::string& path = small_chunked_file();
  const Reading alone = read_file(path, nullptr, kDecompressAll);
  LASreaderLAS reader;
  reader.set_worker_pool(&pools().two);
  // Stopped early, with chunks still on their way: opening again drops them.
  ASSERT_TRUE(reader.open_file(path.c_str()));
  for (int i = 0; i < 1000; i++)
    ASSERT_TRUE(reader.read_next());
  ASSERT_TRUE(reader.open_file(path.c_str(), LASreaderLAS::kDefaultBufferSize, true));
  EXPECT_EQ(reader.points_total, 22600);
  ASSERT_TRUE(reader.open_file(path.c_str()));
  Reading again;
  testing::internal::CaptureStderr();
  while (reader.read_next())
    take_record(reader, again);
  again.printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(again.printed, alone.printed);
  EXPECT_TRUE(again.records == alone.records);
  // And one that is destroyed in the middle of reading waits for its workers.
  {
    LASreaderLAS early;
    early.set_worker_pool(&pools().two);
    ASSERT_TRUE(early.open_file(path.c_str()));
    ASSERT_TRUE(early.read_next());
  }
}

}  // namespace
