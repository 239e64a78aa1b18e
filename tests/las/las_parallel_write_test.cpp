// The LAS writer with a worker pool: compressed files of other producers, re-encoded, come
// out byte for byte as the writer without a pool makes them, also with the producers'
// variable chunk ends and to streams that cannot seek; a full disk is still reported.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/worker_pool.hpp"

using namespace las_test;

namespace {

// A stream that cannot seek (a pipe), into memory.
class ByteStreamOutPipe : public ByteStreamOutArray {
 public:
  bool can_seek() const override { return false; }
  bool seek_to(std::int64_t) override { return false; }
};

std::vector<std::string> compressed_real_files() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(real_dir())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".pkz" && name.rfind("bad-", 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Points before each chunk of a file with variable chunks, from its chunk table.
std::vector<std::uint64_t> chunk_totals(const std::string& path, const LASheader& header) {
  const std::vector<std::uint8_t> bytes = file_bytes(path);
  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_TRUE(in.seek_to(at<std::uint32_t>(bytes, kOffsetOffsetToPointData)));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error, warning;
  if (!read_chunk_index(in, decoder, true, header.point_data_record_length, index, error,
                        warning)) {
    ADD_FAILURE() << path << ": " << error;
  }
  return index.totals;
}

struct Output {
  const char* name;
  WorkerPool* pool;
  bool pipe;
  std::unique_ptr<ByteStreamOutArray> stream;
  LASwriterLAS writer;
};

TEST(LasParallelWrite, ReencodedRealFilesEqualTheSequentialWritersBytes) {
  SKIP_WITHOUT_REAL_DATA();
  WorkerPool two(2);
  WorkerPool one(1);
  for (const std::string& name : compressed_real_files()) {
    SCOPED_TRACE(name);
    testing::internal::CaptureStderr();
    LASreaderLAS reader;
    const bool opened = reader.open_file(real(name.c_str()).c_str());
    std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened) << printed;
    ASSERT_TRUE(reader.header.codec);
    const Pakrel& codec = *reader.header.codec;
    const bool chunked = codec.compressor != Pakrel::COMPRESSOR_PER_POINT;
    const bool variable =
        chunked && (codec.chunk_size == 0 || codec.chunk_size == kVariableChunkSize);
    const int chunk_size = !chunked ? -1 : variable ? 0 : static_cast<int>(codec.chunk_size);
    // Item versions 1 and 2 are chosen; the layered items' version follows from the kind.
    const int version = codec.items.front().version <= 2 ? codec.items.front().version : 0;
    std::vector<std::uint64_t> totals;
    if (variable) totals = chunk_totals(real(name.c_str()), reader.header);

    Output outputs[] = {{"sequential", nullptr, false, nullptr, {}},
                        {"2 workers", &two, false, nullptr, {}},
                        {"sequential, stream cannot seek", nullptr, true, nullptr, {}},
                        {"1 worker, stream cannot seek", &one, true, nullptr, {}}};
    // Streams that cannot seek for the smaller files only: the big ones cost the most time
    // under the sanitizers and add no other chunking.
    const std::size_t used = reader.header.point_count() <= 30000 ? 4 : 2;
    for (std::size_t o = 0; o < used; o++) {
      Output& output = outputs[o];
      output.stream = output.pipe ? std::make_unique<ByteStreamOutPipe>()
                                  : std::make_unique<ByteStreamOutArray>();
      output.writer.set_worker_pool(output.pool);
      ASSERT_TRUE(output.writer.open_stream(output.stream.get(), &reader.header, codec.compressor,
                                            version, chunk_size))
          << output.name;
    }
    std::size_t next_chunk = 1;
    std::int64_t count = 0;
    while (reader.read_next()) {
      if (next_chunk + 1 < totals.size() &&
          static_cast<std::uint64_t>(count) == totals[next_chunk]) {
        for (std::size_t o = 0; o < used; o++)
          ASSERT_TRUE(outputs[o].writer.chunk()) << outputs[o].name;
        next_chunk++;
      }
      for (std::size_t o = 0; o < used; o++)
        ASSERT_TRUE(outputs[o].writer.write_point(reader.point)) << outputs[o].name;
      count++;
    }
    // Without seeking, the EVLRs of LAS 1.4 cannot be announced where they land: such a close
    // fails, the same way with and without workers.
    testing::internal::CaptureStderr();
    std::int64_t closed[4] = {0, 0, 0, 0};
    for (std::size_t o = 0; o < used; o++)
      closed[o] = outputs[o].writer.close_writer();
    testing::internal::GetCapturedStderr();
    EXPECT_GT(closed[0], 0);
    EXPECT_EQ(closed[1], closed[0]);
    EXPECT_EQ(closed[3], closed[2]);
    EXPECT_GT(count, 0);
    if (variable) {
      EXPECT_EQ(next_chunk + 1, totals.size()) << "every chunk end of the producer taken over";
    }
    for (std::size_t seekable = 0; seekable < used; seekable += 2) {
      const ByteStreamOutArray& expected = *outputs[seekable].stream;
      const ByteStreamOutArray& parallel = *outputs[seekable + 1].stream;
      SCOPED_TRACE(outputs[seekable + 1].name);
      ASSERT_EQ(parallel.size(), expected.size());
      EXPECT_EQ(std::memcmp(parallel.data(), expected.data(), expected.size()), 0);
    }
  }
}

TEST(LasParallelWrite, AFullDiskIsReportedAndCloseFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  WorkerPool pool(2);
  for (int point_type : {1, 6}) {
    SCOPED_TRACE(point_type);
    LASheader header;
    header.version_minor = 4;
    header.header_size = kHeaderSize14;
    header.offset_to_point_data = kHeaderSize14;
    header.point_data_format = static_cast<std::uint8_t>(point_type);
    header.point_data_record_length = point_type == 1 ? 28 : 30;
    LASwriterLAS writer;
    writer.set_worker_pool(&pool);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open_file(
        "/dev/full", &header,
        point_type == 1 ? Pakrel::COMPRESSOR_CHUNKED : Pakrel::COMPRESSOR_LAYERED, 0, 100, 512));
    LASpoint point;
    ASSERT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                          header.point_data_record_length, &header));
    bool refused = false;
    for (int i = 0; i < 20000; i++) {
      point.X = i * 37;
      point.Y = (i * 7919) % 100000;
      point.Z = i % 311;
      point.gps_time = i * 0.25;
      const bool written = writer.write_point(point);
      EXPECT_FALSE(refused && written) << "point " << i << " taken after a refusal";
      refused = refused || !written;
    }
    EXPECT_EQ(writer.close_writer(), 0);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(writer.failed());
    EXPECT_NE(printed.find("ERROR: "), std::string::npos) << printed;
  }
}

}  // namespace
