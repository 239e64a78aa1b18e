// Compressed files of other producers through the LAS reader and writer with the real item
// codecs: a compressed file reads as the points of its uncompressed twin (in sequence and
// after seeks), and the twin written compressed with the writer's defaults gives the
// producer's point data block.

#include <random>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

struct Twin {
  const char* compressed;
  const char* plain;
};
constexpr Twin kTwins[] = {{"simple.pkz", "simple.las"},
                           {"simple-v1.pkz", "simple.las"},
                           {"extrabytes.pkz", "extrabytes.las"}};

// Item by item, the bytes each item has in a record.
void expect_same_point(const LASpoint& expected, const LASpoint& actual, std::int64_t index) {
  ASSERT_EQ(expected.items.size(), actual.items.size());
  for (std::size_t i = 0; i < expected.items.size(); i++) {
    ASSERT_EQ(0, std::memcmp(expected.item_data[i], actual.item_data[i], expected.items[i].size))
        << "point " << index << ", item " << LASitem::type_name(expected.items[i].type);
  }
}

TEST(LasPkzTwins, CompressedFilesReadAsTheirTwinsPoints) {
  SKIP_WITHOUT_REAL_DATA();
  for (const Twin& twin : kTwins) {
    SCOPED_TRACE(twin.compressed);
    LASreaderLAS compressed, plain;
    ASSERT_TRUE(compressed.open_file(real(twin.compressed).c_str()));
    ASSERT_TRUE(plain.open_file(real(twin.plain).c_str()));
    EXPECT_EQ(compressed.format_code(), 2);
    ASSERT_EQ(compressed.points_total, plain.points_total);
    for (std::int64_t i = 0; i < plain.points_total; i++) {
      ASSERT_TRUE(compressed.read_raw_point()) << i;
      ASSERT_TRUE(plain.read_raw_point()) << i;
      expect_same_point(plain.point, compressed.point, i);
    }
    EXPECT_FALSE(compressed.read_raw_point());
  }
}

TEST(LasPkzTwins, SeekingInACompressedFileFindsTheTwinsPoints) {
  SKIP_WITHOUT_REAL_DATA();
  for (const Twin& twin : kTwins) {
    SCOPED_TRACE(twin.compressed);
    LASreaderLAS compressed, plain;
    ASSERT_TRUE(compressed.open_file(real(twin.compressed).c_str()));
    ASSERT_TRUE(plain.open_file(real(twin.plain).c_str()));
    std::mt19937 rng(5);
    for (int k = 0; k < 40; k++) {
      const std::int64_t index = static_cast<std::int64_t>(rng() % plain.points_total);
      ASSERT_TRUE(compressed.seek_point(index));
      ASSERT_TRUE(plain.seek_point(index));
      ASSERT_TRUE(compressed.read_raw_point());
      ASSERT_TRUE(plain.read_raw_point());
      expect_same_point(plain.point, compressed.point, index);
    }
  }
}

// The point data block of a whole file: from the first point to the end of the chunk table
// (or of the coded stream), with the chunk table pointer made relative to the block.
std::vector<std::uint8_t> point_block(const std::vector<std::uint8_t>& file, bool has_pointer) {
  const std::size_t begin = at<std::uint32_t>(file, kOffsetOffsetToPointData);
  std::size_t end = file.size();
  if (file[kOffsetVersionMinor] >= 4 && at<std::uint32_t>(file, kOffsetNumberOfEvlrs) > 0) {
    end = static_cast<std::size_t>(at<std::uint64_t>(file, kOffsetStartOfFirstEvlr));
  }
  std::vector<std::uint8_t> block(file.begin() + begin, file.begin() + end);
  if (has_pointer) put<std::int64_t>(block, 0, at<std::int64_t>(block, 0) - begin);
  return block;
}

TEST(LasPkzTwins, TheWritersDefaultsGiveTheProducersPointBlock) {
  SKIP_WITHOUT_REAL_DATA();
  struct Case {
    Twin twin;
    std::uint16_t compressor;
    int version;
  };
  for (const Case& c : {Case{kTwins[0], 2, 0}, Case{kTwins[1], 1, 1}, Case{kTwins[2], 2, 0}}) {
    SCOPED_TRACE(c.twin.compressed);
    LASreaderLAS plain;
    ASSERT_TRUE(plain.open_file(real(c.twin.plain).c_str()));
    ByteStreamOutArray out;
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_stream(&out, &plain.header, c.compressor, c.version));
    while (plain.read_raw_point())
      ASSERT_TRUE(writer.write_point(plain.point));
    ASSERT_GT(writer.close_writer(), 0);
    const std::vector<std::uint8_t> ours(out.data(), out.data() + out.size());
    const std::vector<std::uint8_t> theirs = file_bytes(real(c.twin.compressed));
    EXPECT_EQ(point_block(ours, c.compressor == 2), point_block(theirs, c.compressor == 2));
  }
}

}  // namespace
