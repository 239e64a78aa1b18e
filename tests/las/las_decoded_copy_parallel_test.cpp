// The copy of the decoded records that a compressed file's reader appends to a stream as it
// hands the points out (for a later pass that reads them instead of decoding again): the
// point block of the file's uncompressed twin byte for byte, with and without workers,
// point by point and in runs of records; broken by a seek or a warning; and read back as
// the points of the file.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "scene/scene_las.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/worker_pool.hpp"

using namespace las_test;

namespace {

// A compressed file and the records it must decode to, cut from the point block of an
// uncompressed file (which no decoder of ours had a hand in).
struct Twin {
  std::string pkz;
  std::vector<std::uint8_t> records;
};

std::vector<std::uint8_t> point_block(const std::string& las) {
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return {};
  const std::vector<std::uint8_t> bytes = file_bytes(las);
  const std::size_t begin = reader.header.offset_to_point_data;
  const std::size_t size = reader.header.point_count() * reader.header.point_data_record_length;
  if (begin + size > bytes.size()) return {};
  return {bytes.begin() + static_cast<std::ptrdiff_t>(begin),
          bytes.begin() + static_cast<std::ptrdiff_t>(begin + size)};
}

// A generated scene of `type`, as LAS and compressed in chunks of 1000 points (the last
// one short).
Twin generated_twin(int type) {
  const std::string las = scratch("type" + std::to_string(type) + ".las").string();
  const std::string pkz = scratch("type" + std::to_string(type) + ".pkz").string();
  SceneFileOptions options;
  options.scene.points = 4321;
  options.scene.seed = 11 + static_cast<std::uint32_t>(type);
  options.point_type = type;
  EXPECT_TRUE(write_scene_las(las.c_str(), options));
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open_file(las.c_str()));
  LASheader header = reader.header;
  LASwriterLAS writer;
  const std::uint16_t compressor =
      type >= 6 ? Pakrel::COMPRESSOR_LAYERED : Pakrel::COMPRESSOR_CHUNKED;
  EXPECT_TRUE(writer.open_file(pkz.c_str(), &header, compressor, 0, 1000));
  while (reader.read_next())
    EXPECT_TRUE(writer.write_point(reader.point));
  EXPECT_GT(writer.close_writer(true), 0);
  return {pkz, point_block(las)};
}

std::vector<Twin> twins() {
  std::vector<Twin> list;
  for (const int type : {1, 5, 8})
    list.push_back(generated_twin(type));
  if (std::filesystem::is_directory(real_dir())) {
    for (const char* name : {"simple", "extrabytes", "1_4_w_evlr"}) {
      list.push_back({real((std::string(name) + ".pkz").c_str()),
                      point_block(real((std::string(name) + ".las").c_str()))});
    }
    // Compressor kind 1: one coded stream, no chunks.
    list.push_back({real("simple-v1.pkz"), point_block(real("simple.las"))});
  }
  return list;
}

// Reads every point of the open reader, in runs of records where the reader hands them
// out (as the noise tool's first pass does) or point by point.
void read_all(LASreaderLAS& reader, bool runs) {
  for (;;) {
    const std::uint8_t* records = nullptr;
    if (runs && reader.take_raw_records(records, 700) != 0) continue;
    if (!reader.read_next()) return;
  }
}

// Takes `room` bytes and refuses every write after them, as a full disk does.
class FullStream : public ByteStreamOut {
 public:
  explicit FullStream(std::int64_t room) : room_(room) {}
  bool can_seek() const override { return false; }
  std::int64_t position() const override { return taken_; }
  bool seek_to(std::int64_t) override { return false; }
  bool seek_to_end() override { return false; }

 protected:
  bool write_slow(const std::uint8_t*, std::size_t n) override {
    if (taken_ + static_cast<std::int64_t>(n) > room_) return false;
    taken_ += static_cast<std::int64_t>(n);
    return true;
  }

 private:
  std::int64_t room_;
  std::int64_t taken_ = 0;
};

std::vector<std::uint8_t> copied(const ByteStreamOutArray& copy) {
  return {copy.data(), copy.data() + copy.size()};
}

// The raw records of the points that the reader delivers from where it stands to the end.
std::vector<std::uint8_t> records_read(LASreaderLAS& reader) {
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(reader.point.items));
  std::vector<std::uint8_t> points;
  std::vector<std::uint8_t> record(layout.record_size());
  while (reader.read_next()) {
    layout.gather(reader.point.item_data.data(), record.data());
    points.insert(points.end(), record.begin(), record.end());
  }
  return points;
}

TEST(LasDecodedCopy, IsTheUncompressedTwinsPointBlockWithAndWithoutWorkers) {
  WorkerPool two(2);
  for (const Twin& twin : twins()) {
    ASSERT_FALSE(twin.records.empty()) << twin.pkz;
    for (WorkerPool* pool : {static_cast<WorkerPool*>(nullptr), &two}) {
      for (const bool runs : {false, true}) {
        SCOPED_TRACE(twin.pkz + (pool ? " with workers" : " alone") + (runs ? ", runs" : ""));
        LASreaderLAS reader;
        reader.set_worker_pool(pool);
        ASSERT_TRUE(reader.open_file(twin.pkz.c_str()));
        ByteStreamOutArray copy;
        ASSERT_TRUE(reader.copy_records_to(&copy));
        read_all(reader, runs);
        EXPECT_FALSE(reader.read_failed());
        EXPECT_EQ(reader.points_done, reader.points_total);
        EXPECT_TRUE(reader.copy_is_whole());
        EXPECT_TRUE(copied(copy) == twin.records)
            << copy.size() << " bytes copied of " << twin.records.size();
        reader.copy_records_to(nullptr);
      }
    }
  }
}

TEST(LasDecodedCopy, ReadBackTheRecordsAreThePointsOfTheFile) {
  WorkerPool two(2);
  for (const Twin& twin : twins()) {
    SCOPED_TRACE(twin.pkz);
    LASreaderLAS reader;
    reader.set_worker_pool(&two);
    ASSERT_TRUE(reader.open_file(twin.pkz.c_str()));
    ByteStreamInArray kept(twin.records.data(), static_cast<std::int64_t>(twin.records.size()));
    ASSERT_TRUE(reader.read_records_from(&kept));
    const std::vector<std::uint8_t> points = records_read(reader);
    EXPECT_FALSE(reader.read_failed());
    EXPECT_EQ(reader.points_done, reader.points_total);
    EXPECT_TRUE(points == twin.records);
    // Only right after an open.
    EXPECT_FALSE(reader.read_records_from(&kept));
  }
}

TEST(LasDecodedCopy, IsBrokenByASeekARefusedWriteAWarningAndRefusedForUncompressedRecords) {
  const Twin twin = generated_twin(8);
  for (const bool workers : {false, true}) {
    SCOPED_TRACE(workers ? "with workers" : "alone");
    WorkerPool two(2);
    {
      LASreaderLAS reader;
      if (workers) reader.set_worker_pool(&two);
      ASSERT_TRUE(reader.open_file(twin.pkz.c_str()));
      ByteStreamOutArray copy;
      ASSERT_TRUE(reader.copy_records_to(&copy));
      for (int i = 0; i < 10; i++)
        ASSERT_TRUE(reader.read_next());
      ASSERT_TRUE(reader.seek_point(2500));
      read_all(reader, true);
      EXPECT_EQ(reader.points_done, reader.points_total);
      EXPECT_FALSE(reader.copy_is_whole());
    }
    // A copy that cannot be written leaves the points to read as ever.
    LASreaderLAS reader;
    if (workers) reader.set_worker_pool(&two);
    ASSERT_TRUE(reader.open_file(twin.pkz.c_str()));
    FullStream full(1000);
    ASSERT_TRUE(reader.copy_records_to(&full));
    const std::vector<std::uint8_t> points = records_read(reader);
    EXPECT_TRUE(points == twin.records);
    EXPECT_FALSE(reader.copy_is_whole());
  }
  {
    // A table pointer past the end of the file: the chunks are read one after the other,
    // with a warning.
    std::vector<std::uint8_t> bytes = file_bytes(twin.pkz);
    const std::size_t point_data = at<std::uint32_t>(bytes, 96);
    put<std::int64_t>(bytes, point_data, static_cast<std::int64_t>(bytes.size()) + 1000);
    const std::string untabled = scratch("untabled.pkz").string();
    write_bytes(untabled, bytes);
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open_file(untabled.c_str()));
    ByteStreamOutArray copy;
    ASSERT_TRUE(reader.copy_records_to(&copy));
    read_all(reader, true);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(reader.points_done, reader.points_total);
    EXPECT_TRUE(copied(copy) == twin.records) << "the points are the file's all the same";
    EXPECT_FALSE(reader.copy_is_whole());
  }
  if (!std::filesystem::is_directory(real_dir())) return;
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  ByteStreamOutArray copy;
  EXPECT_FALSE(reader.copy_records_to(&copy));
  ByteStreamInArray records(nullptr, 0);
  EXPECT_FALSE(reader.read_records_from(&records));
}

}  // namespace
