// The LAS reader on headers and point blocks made to lie, in memory: what the fuzzers
// found, pinned where a reader of the library would meet it.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "model/header_layout.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

// A small file of `count` points of `point_type`, written by the project's writer.
std::vector<std::uint8_t> small_file(int point_type, int count, std::uint16_t compressor = 0,
                                     int chunk_size = -1) {
  LASheader header;
  header.version_minor = point_type >= 6 ? 4 : 2;
  header.header_size = point_type >= 6 ? kHeaderSize14 : kHeaderSize10;
  header.offset_to_point_data = header.header_size;
  header.point_data_format = static_cast<std::uint8_t>(point_type);
  header.point_data_record_length = static_cast<std::uint16_t>(point_type_base_size(point_type));
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  LASpoint point;
  EXPECT_TRUE(writer.open_stream(&out, &header, compressor, 0, chunk_size));
  EXPECT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                        header.point_data_record_length, &header));
  for (int i = 0; i < count; i++) {
    point.X = i * 100;
    point.Y = i * 37 % 1000;
    point.Z = i % 13;
    point.intensity = static_cast<std::uint16_t>(i);
    EXPECT_TRUE(writer.write_point(point));
    writer.count_point(point);
  }
  EXPECT_TRUE(writer.update_header(&header, true));
  EXPECT_NE(writer.close_writer(true), 0);
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

}  // namespace

TEST(LasReaderHostile, APointCountBeyondSixtyThreeBitsReadsThePointsThereAndWarns) {
  std::vector<std::uint8_t> file = small_file(6, 25);
  put<std::uint32_t>(file, kOffsetNumberOfPointRecords, 0);
  put<std::uint64_t>(file, kOffsetExtendedNumberOfPointRecords, 0xD400000000000000ull);
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&stream));
  EXPECT_EQ(reader.points_total, std::numeric_limits<std::int64_t>::max());
  int points = 0;
  while (reader.read_next())
    points++;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: end-of-file after 25 of 9223372036854775807 points for ''\n");
  EXPECT_EQ(points, 25);
}

TEST(LasReaderHostile, SeekingARawFileFarBeyondItsEndFailsAndReadingGoesOn) {
  std::vector<std::uint8_t> file = small_file(6, 10);
  put<std::uint32_t>(file, kOffsetNumberOfPointRecords, 0);
  put<std::uint64_t>(file, kOffsetExtendedNumberOfPointRecords, std::uint64_t{1} << 62);
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_stream(&stream));
  EXPECT_FALSE(reader.seek_point(std::int64_t{1} << 61));  // 30 x 2^61 bytes: beyond 64 bits
  EXPECT_FALSE(reader.seek_point(100));
  ASSERT_TRUE(reader.seek_point(7));
  ASSERT_TRUE(reader.read_next());
  EXPECT_EQ(reader.point.X, 700);
}

TEST(LasReaderHostile, SeekingVariableChunksWhoseTableIsEmptyFails) {
  // Variable chunks know their sizes from the table only; this one lists no chunk while the
  // header announces five points.
  std::vector<std::uint8_t> file = small_file(6, 0, 3, 0);
  put<std::uint32_t>(file, kOffsetNumberOfPointRecords, 5);
  put<std::uint64_t>(file, kOffsetExtendedNumberOfPointRecords, 5);
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&stream));
  EXPECT_FALSE(reader.seek_point(2));
  EXPECT_FALSE(reader.read_next());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(reader.points_done, 0);
}

TEST(LasWriterHostile, AStrayHighBitInTheFormatByteDoesNotHideTheCountOfALegacyType) {
  // A compressed point type 3 file whose format byte also has bit 6 set, as some producers
  // write it: copied with fewer points than announced, the copy must still count them.
  std::vector<std::uint8_t> file = small_file(3, 30, 2);
  file[kOffsetPointDataFormat] |= 0x40;
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_stream(&stream));
  LASheader header = reader.header;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header, 2));
  for (int i = 0; i < 20 && reader.read_next(); i++)
    ASSERT_TRUE(writer.write_point(reader.point));
  testing::internal::CaptureStderr();
  EXPECT_NE(writer.close_writer(true), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  ByteStreamInArrayLE copy(out.data(), out.size());
  LASreaderLAS again;
  ASSERT_TRUE(again.open_stream(&copy));
  EXPECT_EQ(again.points_total, 20);
  EXPECT_EQ(again.header.point_data_format, 3);
}
