// Conformance: the Terrasolid binary, QFIT and shapefile files of other producers read with
// every field as their bytes hold it; the expectation is decoded here by hand from the bytes.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_reader_shp.hpp"
#include "formats_test_support.hpp"

namespace {

using namespace formats_test;

std::string real(const char* name) {
  return kRealData + "/" + name;
}

#define SKIP_WITHOUT(path) \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real data not present: " << (path)

// What one 28-byte record of time-color.bin (version 20020715, time and colour) says.
struct BinRecord {
  std::int32_t x, y, z;
  std::uint8_t classification, echo;
  std::uint16_t line, intensity;
  std::uint32_t time;
  std::uint8_t red, green, blue;
};

BinRecord bin_record(const std::vector<std::uint8_t>& bytes, std::size_t index) {
  const std::size_t at = 56 + index * 28;
  BinRecord r;
  r.x = le32_at(bytes, at);
  r.y = le32_at(bytes, at + 4);
  r.z = le32_at(bytes, at + 8);
  r.classification = bytes[at + 12];
  r.echo = bytes[at + 13];
  r.line = le16_at(bytes, at + 16);
  r.intensity = le16_at(bytes, at + 18);
  r.time = static_cast<std::uint32_t>(le32_at(bytes, at + 20));
  r.red = bytes[at + 24];
  r.green = bytes[at + 25];
  r.blue = bytes[at + 26];
  return r;
}

void expect_bin_point(const LASpoint& point, const BinRecord& r) {
  EXPECT_EQ(point.X, r.x);
  EXPECT_EQ(point.Y, r.y);
  EXPECT_EQ(point.Z, r.z);
  EXPECT_EQ(point.classification, r.classification & 31);
  EXPECT_EQ(point.point_source_ID, r.line);
  EXPECT_EQ(point.intensity, r.intensity);
  EXPECT_DOUBLE_EQ(point.gps_time, r.time * 0.0002);
  EXPECT_EQ(point.rgb[0], r.red * 256);
  EXPECT_EQ(point.rgb[1], r.green * 256);
  EXPECT_EQ(point.rgb[2], r.blue * 256);
  const int return_number = r.echo <= 1 ? 1 : 2;
  const int returns = r.echo == 0 ? 1 : r.echo == 1 ? 2 : r.echo == 3 ? 2 : 3;
  EXPECT_EQ(point.return_number, return_number);
  EXPECT_EQ(point.number_of_returns, returns);
}

TEST(TerrasolidRealFile, TimeColorReadsEveryFieldAsTheBytesHoldIt) {
  const std::string path = real("time-color.bin");
  SKIP_WITHOUT(path);
  const std::vector<std::uint8_t> bytes = file_bytes(path);
  ASSERT_EQ(le32_at(bytes, 4), 20020715);
  const std::int32_t count = le32_at(bytes, 16);
  const std::int32_t units = le32_at(bytes, 20);
  ASSERT_EQ(count, 1000);
  ASSERT_EQ(bytes.size(), 56u + 28u * count);

  LASreaderBIN reader;
  ASSERT_TRUE(reader.open_file(path.c_str()));
  EXPECT_EQ(reader.header.point_data_format, 3);
  EXPECT_EQ(reader.header.point_data_record_length, 34);
  EXPECT_EQ(reader.header.number_of_point_records, 1000u);
  EXPECT_DOUBLE_EQ(reader.header.x_scale_factor, 1.0 / units);
  EXPECT_DOUBLE_EQ(reader.header.x_offset, -f64_at(bytes, 24) / units);
  EXPECT_DOUBLE_EQ(reader.header.y_offset, -f64_at(bytes, 32) / units);
  EXPECT_DOUBLE_EQ(reader.header.z_offset, -f64_at(bytes, 40) / units);

  std::int64_t read = 0;
  std::int32_t min_x = INT32_MAX, max_x = INT32_MIN;
  while (reader.read_next()) {
    SCOPED_TRACE(read);
    if (read == 0) expect_bin_point(reader.point, bin_record(bytes, 0));
    if (read == count - 1) expect_bin_point(reader.point, bin_record(bytes, count - 1));
    min_x = std::min(min_x, reader.point.X);
    max_x = std::max(max_x, reader.point.X);
    read++;
  }
  EXPECT_EQ(read, count);
  EXPECT_FALSE(reader.read_failed());
  // A full pass widens the sampled box to every point.
  EXPECT_DOUBLE_EQ(reader.header.min_x, reader.header.get_x(min_x));
  EXPECT_DOUBLE_EQ(reader.header.max_x, reader.header.get_x(max_x));

  // Seeking lands on the record by number.
  ASSERT_TRUE(reader.seek_point(count - 1));
  ASSERT_TRUE(reader.read_next());
  expect_bin_point(reader.point, bin_record(bytes, count - 1));
}

void expect_qfit_point(const LASreaderQFIT& reader, const std::vector<std::uint8_t>& bytes,
                       std::size_t at) {
  std::int32_t w[10];
  for (int i = 0; i < 10; i++)
    w[i] = be32_at(bytes, at + 4 * i);
  const LASpoint& point = reader.point;
  EXPECT_DOUBLE_EQ(point.gps_time, w[0] * 0.001);
  EXPECT_EQ(point.Y, w[1]);
  EXPECT_EQ(point.X, w[2] > 180000000 ? w[2] - 360000000 : w[2]);
  EXPECT_EQ(point.Z, w[3]);
  EXPECT_EQ(point.intensity, w[5] & 0xFFFF);
  const double rank = std::clamp(std::round(w[6] * 0.001 - 180.0), -128.0, 127.0);
  EXPECT_EQ(point.scan_angle_rank, static_cast<int>(rank));
  const LASheader& h = reader.header;
  const std::uint8_t* extra = point.extra_bytes.data();
  EXPECT_DOUBLE_EQ(h.get_value(extra, point.extra_bytes_size, h.find_attribute("scan azimuth")),
                   w[6] * 0.001);
  EXPECT_DOUBLE_EQ(h.get_value(extra, point.extra_bytes_size, h.find_attribute("pitch")),
                   w[7] * 0.001);
  EXPECT_DOUBLE_EQ(h.get_value(extra, point.extra_bytes_size, h.find_attribute("roll")),
                   w[8] * 0.001);
}

TEST(QfitRealFile, TenWordRecordsReadInTheirByteOrderWithEveryField) {
  const std::string path = real("10-word.qi");
  SKIP_WITHOUT(path);
  const std::vector<std::uint8_t> bytes = file_bytes(path);
  // The first word says 40 with its bytes in big-endian order.
  ASSERT_EQ(be32_at(bytes, 0), 40);
  const std::size_t start = static_cast<std::size_t>(be32_at(bytes, 44));
  const std::size_t count = (bytes.size() - start) / 40;
  ASSERT_GT(count, 1u);

  LASreaderQFIT reader;
  ASSERT_TRUE(reader.open_file(path.c_str()));
  EXPECT_TRUE(reader.big_endian());
  EXPECT_EQ(reader.record_size(), 40);
  EXPECT_EQ(reader.header.point_data_format, 1);
  EXPECT_EQ(reader.header.point_data_record_length, 28 + 12);
  EXPECT_EQ(reader.header.number_of_point_records, count);
  EXPECT_EQ(reader.header.attribute_count(), 3);
  EXPECT_EQ(reader.header.find_attribute("pulse width"), -1);
  EXPECT_DOUBLE_EQ(reader.header.x_scale_factor, 0.000001);
  EXPECT_DOUBLE_EQ(reader.header.z_scale_factor, 0.001);

  std::size_t read = 0;
  while (reader.read_next()) {
    SCOPED_TRACE(read);
    if (read == 0) expect_qfit_point(reader, bytes, start);
    if (read == count - 1) expect_qfit_point(reader, bytes, start + 40 * (count - 1));
    read++;
  }
  EXPECT_EQ(read, count);
  EXPECT_FALSE(reader.read_failed());
}

TEST(ShapefileRealFile, PolygonsAreRefusedNamingTheShapeType) {
  const std::string path = real("polygons.shp");
  SKIP_WITHOUT(path);
  LASreaderSHP reader;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.open_file(path.c_str()));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: wrong shape type 5 != 1,11,21,8,18,28\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Polygon"), std::string::npos) << err;
  EXPECT_FALSE(reader.read_next());
}

}  // namespace
