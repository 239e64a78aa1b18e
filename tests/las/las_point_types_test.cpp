// Points of every LAS point type written and read back field by field, with extra bytes,
// and the legacy/extended field rules of point types 6-10 as they land in the file.

#include <cmath>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

constexpr int kExtraBytes = 3;
constexpr int kPoints = 6;

LASheader header_for(int point_type) {
  LASheader header;
  if (point_type >= 6) {
    header.version_minor = 4;
    header.header_size = kHeaderSize14;
    header.offset_to_point_data = kHeaderSize14;
  }
  header.point_data_format = static_cast<std::uint8_t>(point_type);
  header.point_data_record_length =
      static_cast<std::uint16_t>(point_type_base_size(point_type) + kExtraBytes);
  header.x_offset = 1000;
  header.min_x = 1000;
  header.max_x = 2000;
  return header;
}

// Point i of a type: every field it carries set to something of its own.
void fill(LASpoint& point, int point_type, int i) {
  point.X = 100000 + 7 * i;
  point.Y = -5000 - i;
  point.Z = 123 * i;
  point.intensity = static_cast<std::uint16_t>(1000 + i);
  point.scan_direction_flag = i & 1;
  point.edge_of_flight_line = (i >> 1) & 1;
  point.set_synthetic_flag(i == 1);
  point.set_keypoint_flag(i == 2);
  point.set_withheld_flag(i == 3);
  point.user_data = static_cast<std::uint8_t>(200 + i);
  point.point_source_ID = static_cast<std::uint16_t>(4000 + i);
  point.gps_time = point.has_gps_time ? 123456.25 + i : 0.0;
  for (int c = 0; c < 3; c++)
    point.rgb[c] = point.has_rgb ? static_cast<std::uint16_t>(256 * c + i) : 0;
  point.rgb[3] = point.has_nir ? static_cast<std::uint16_t>(60000 + i) : 0;
  if (point.has_wave_packet) {
    for (int b = 0; b < 29; b++)
      point.wave_packet[b] = static_cast<std::uint8_t>(b * 3 + i);
  }
  for (int b = 0; b < point.extra_bytes_size; b++)
    point.extra_bytes[b] = static_cast<std::uint8_t>(0xA0 + b + i);
  if (point_type < 6) {
    point.return_number = static_cast<std::uint8_t>(1 + i % 5);
    point.number_of_returns = 5;
    point.classification = static_cast<std::uint8_t>(i + 1);
    point.scan_angle_rank = static_cast<std::int8_t>(-10 * i);
  } else {
    // Beyond what the legacy fields can hold: returns 9 and 10 of 10, classes above 31.
    point.set_extended_return_number(static_cast<std::uint8_t>(5 + i));
    point.set_extended_number_of_returns(10);
    point.set_return_number(static_cast<std::uint8_t>(5 + i));
    point.set_number_of_returns(10);
    point.set_classification(static_cast<std::uint8_t>(i < 3 ? i + 1 : 40 + i));
    point.set_overlap_flag(i == 4);
    point.set_extended_scanner_channel(static_cast<std::uint8_t>(i & 3));
    point.extended_scan_angle = static_cast<std::int16_t>(-3000 + 1000 * i);
  }
}

}  // namespace

TEST(LasPointTypes, EveryTypeWithExtraBytesReadsBackFieldByField) {
  for (int point_type = 0; point_type <= 10; point_type++) {
    SCOPED_TRACE("point type " + std::to_string(point_type));
    LASheader header = header_for(point_type);
    ByteStreamOutArrayLE out;
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_stream(&out, &header));
    LASpoint point;
    ASSERT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                          header.point_data_record_length, &header));
    ASSERT_EQ(point.extra_bytes_size, kExtraBytes);
    std::vector<LASpoint> written;
    for (int i = 0; i < kPoints; i++) {
      fill(point, point_type, i);
      ASSERT_TRUE(writer.write_point(point));
      written.push_back(point);
    }
    const std::int64_t bytes = writer.close_writer(true);
    EXPECT_EQ(bytes, header.offset_to_point_data + kPoints * header.point_data_record_length);
    EXPECT_EQ(out.data()[kOffsetPointDataFormat], point_type);
    // The count was patched from 0 to the points written.
    if (point_type < 6) {
      EXPECT_EQ(at<std::uint32_t>(std::vector<std::uint8_t>(out.data(), out.data() + bytes),
                                  kOffsetNumberOfPointRecords),
                static_cast<std::uint32_t>(kPoints));
    }

    LASreaderLAS reader;
    ByteStreamInArrayLE in(out.data(), out.size());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open_stream(&in));
    EXPECT_EQ(reader.points_total, kPoints);
    for (int i = 0; i < kPoints; i++) {
      SCOPED_TRACE("point " + std::to_string(i));
      ASSERT_TRUE(reader.read_next());
      const LASpoint& got = reader.point;
      const LASpoint& want = written[static_cast<std::size_t>(i)];
      EXPECT_EQ(got.X, want.X);
      EXPECT_EQ(got.Y, want.Y);
      EXPECT_EQ(got.Z, want.Z);
      EXPECT_EQ(got.intensity, want.intensity);
      EXPECT_EQ(got.scan_direction_flag, want.scan_direction_flag);
      EXPECT_EQ(got.edge_of_flight_line, want.edge_of_flight_line);
      EXPECT_EQ(got.synthetic_flag, want.synthetic_flag);
      EXPECT_EQ(got.keypoint_flag, want.keypoint_flag);
      EXPECT_EQ(got.withheld_flag, want.withheld_flag);
      EXPECT_EQ(got.user_data, want.user_data);
      EXPECT_EQ(got.point_source_ID, want.point_source_ID);
      EXPECT_EQ(got.gps_time, want.gps_time);
      EXPECT_EQ(std::vector<std::uint16_t>(got.rgb, got.rgb + 4),
                std::vector<std::uint16_t>(want.rgb, want.rgb + 4));
      EXPECT_EQ(std::memcmp(got.wave_packet, want.wave_packet, 29), 0);
      EXPECT_EQ(got.extra_bytes, want.extra_bytes);
      if (point_type < 6) {
        EXPECT_EQ(got.return_number, want.return_number);
        EXPECT_EQ(got.number_of_returns, want.number_of_returns);
        EXPECT_EQ(got.classification, want.classification);
        EXPECT_EQ(got.scan_angle_rank, want.scan_angle_rank);
        continue;
      }
      EXPECT_EQ(got.extended_return_number, want.extended_return_number);
      EXPECT_EQ(got.extended_number_of_returns, 10);
      EXPECT_EQ(got.extended_classification, want.extended_classification);
      EXPECT_EQ(got.extended_classification_flags, want.extended_classification_flags);
      EXPECT_EQ(got.extended_scanner_channel, want.extended_scanner_channel);
      EXPECT_EQ(got.extended_scan_angle, want.extended_scan_angle);
      // The legacy fields follow the extended ones: return 9 of 10 is 6 of 7, 10 of 10 is
      // 7 of 7; classes above 31 have no legacy code; the angle rank is the rounded degrees.
      const int extended_return = 5 + i;
      EXPECT_EQ(got.number_of_returns, 7);
      EXPECT_EQ(got.return_number,
                extended_return <= 6 ? extended_return : (extended_return < 10 ? 6 : 7));
      EXPECT_EQ(got.classification, i < 3 ? i + 1 : 0);
      EXPECT_EQ(got.scan_angle_rank, static_cast<int>(std::lround(0.006 * (-3000 + 1000 * i))));
    }
    EXPECT_FALSE(reader.read_next());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

TEST(LasPointTypes, ExtendedRecordBytesCarryTheExtendedFields) {
  LASheader header = header_for(6);
  header.point_data_record_length = 30;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 6, 30, &header));
  point.set_extended_return_number(9);
  point.set_extended_number_of_returns(10);
  point.set_classification(40);
  point.set_withheld_flag(true);
  point.set_overlap_flag(true);
  point.set_extended_scanner_channel(2);
  point.extended_scan_angle = -2500;
  ASSERT_TRUE(writer.write_point(point));
  ASSERT_GT(writer.close_writer(), 0);
  const std::uint8_t* record = out.data() + kHeaderSize14;
  EXPECT_EQ(record[14], 9 | (10 << 4));
  EXPECT_EQ(record[15], 0x4 | 0x8 | (2 << 4));
  EXPECT_EQ(record[16], 40);
  std::int16_t angle;
  std::memcpy(&angle, record + 18, 2);
  EXPECT_EQ(angle, -2500);
  // A point type 6-10 file names its count only in the LAS 1.4 fields.
  const std::vector<std::uint8_t> file(out.data(), out.data() + out.size());
  EXPECT_EQ(at<std::uint32_t>(file, kOffsetNumberOfPointRecords), 0u);
  EXPECT_EQ(at<std::uint64_t>(file, kOffsetExtendedNumberOfPointRecords), 1u);
}
