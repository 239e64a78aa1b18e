// Terrasolid binary and QFIT: what the writers put into each byte (checked against the
// layouts by hand), round trips through LAS, and truncated, lying and refused files.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_writer_bin.hpp"
#include "formats/las_writer_qfit.hpp"
#include "formats/point_file_bytes.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "stream/bytestream_in_array.hpp"
#include "tool/temp_dir.hpp"

namespace {

using namespace formats_test;

struct Captured {
  bool ok;
  std::string err;
};

// ---------------------------------------------------------------------------------------
// Terrasolid binary

struct BinPoint {
  double x, y, z;
  std::uint8_t classification, return_number, returns;
  std::uint16_t intensity, line;
  double gps_time;
  std::uint16_t red, green, blue;
};

const std::vector<BinPoint> kBinPoints = {
    {630250.25, 4834500.75, 181.5, 2, 1, 1, 300, 7, 1000.0002, 0x1200, 0x3400, 0x5600},
    {630251.01, 4834499.5, -3.25, 7, 1, 2, 16383, 258, 1000.5, 0xFF00, 0, 0x0100},
    {630249.75, 4834501.25, 179.75, 31, 2, 3, 65535, 65535, 1001.25, 0xAB00, 0xCD00, 0xEF00},
    {630260.0, 4834510.0, 190.0, 1, 3, 3, 17000, 1, 2000.0, 0, 0, 0},
    {630260.0, 4834510.0, 190.0, 1, 2, 2, 1, 1, 2000.0, 0, 0, 0},
};

bool write_bin(const std::string& path, const char* version) {
  LASheader header;
  header.point_data_format = 3;
  header.point_data_record_length = 34;
  header.number_of_point_records = static_cast<std::uint32_t>(kBinPoints.size());
  LASpoint point;
  if (!point.init_for_point_type(&header, 3, 34, &header)) return false;
  LASwriterBIN writer;
  if (!writer.open_file(path.c_str(), &header, version)) return false;
  for (const BinPoint& p : kBinPoints) {
    point.set_x(p.x);
    point.set_y(p.y);
    point.set_z(p.z);
    point.set_classification(p.classification);
    point.return_number = p.return_number;
    point.number_of_returns = p.returns;
    point.intensity = p.intensity;
    point.point_source_ID = p.line;
    point.gps_time = p.gps_time;
    point.rgb[0] = p.red;
    point.rgb[1] = p.green;
    point.rgb[2] = p.blue;
    if (!writer.write_point(point)) return false;
  }
  return writer.close_writer(true) != 0;
}

std::uint8_t echo_of(const BinPoint& p) {
  if (p.returns <= 1) return 0;
  if (p.return_number == 1) return 1;
  return p.return_number < p.returns ? 2 : 3;
}

TEST(TerrasolidWriter, BothRecordLayoutsHoldWhatTheirBytesCan) {
  TempDir dir;
  for (const char* version : {"ts16", "ts8"}) {
    SCOPED_TRACE(version);
    const bool long_records = std::string(version) == "ts16";
    const std::string path = dir.path() + "/out.bin";
    ASSERT_TRUE(write_bin(path, version));
    const std::vector<std::uint8_t> bytes = file_bytes(path);
    const std::size_t record = (long_records ? 20 : 16) + 8;
    ASSERT_EQ(bytes.size(), 56 + record * kBinPoints.size());
    EXPECT_EQ(le32_at(bytes, 0), 56);
    EXPECT_EQ(le32_at(bytes, 4), long_records ? 20020715 : 20010712);
    EXPECT_EQ(le32_at(bytes, 8), 970401);
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "CXYZ");
    EXPECT_EQ(le32_at(bytes, 16), 5);
    EXPECT_EQ(le32_at(bytes, 20), 100);  // scale factors 0.01
    EXPECT_EQ(le32_at(bytes, 48), 1);
    EXPECT_EQ(le32_at(bytes, 52), 1);
    for (std::size_t i = 0; i < kBinPoints.size(); i++) {
      SCOPED_TRACE(i);
      const BinPoint& p = kBinPoints[i];
      const std::size_t at = 56 + i * record;
      const std::size_t xyz = long_records ? at : at + 4;
      EXPECT_EQ(le32_at(bytes, xyz), std::lround(p.x * 100));
      EXPECT_EQ(le32_at(bytes, xyz + 4), std::lround(p.y * 100));
      EXPECT_EQ(le32_at(bytes, xyz + 8), std::lround(p.z * 100));
      if (long_records) {
        EXPECT_EQ(bytes[at + 12], p.classification);
        EXPECT_EQ(bytes[at + 13], echo_of(p));
        EXPECT_EQ(le16_at(bytes, at + 16), p.line);
        EXPECT_EQ(le16_at(bytes, at + 18), p.intensity);
      } else {
        EXPECT_EQ(bytes[at], p.classification);
        EXPECT_EQ(bytes[at + 1], p.line & 0xFF);
        EXPECT_EQ(le16_at(bytes, at + 2), (echo_of(p) << 14) | (p.intensity & 0x3FFF));
      }
      const std::size_t words = at + record - 8;
      EXPECT_EQ(static_cast<std::uint32_t>(le32_at(bytes, words)),
                static_cast<std::uint32_t>(p.gps_time / 0.0002 + 0.5));
      EXPECT_EQ(bytes[words + 4], p.red >> 8);
      EXPECT_EQ(bytes[words + 5], p.green >> 8);
      EXPECT_EQ(bytes[words + 6], p.blue >> 8);
      EXPECT_EQ(bytes[words + 7], 0);
    }
  }
}

// LAS -> BIN -> LAS: the LAS file written from the binary one holds every field the binary
// record had room for.
TEST(TerrasolidRoundTrip, LasThroughBinaryBackToLasKeepsWhatTheRecordsHold) {
  TempDir dir;
  const std::string bin = dir.path() + "/trip.bin";
  const std::string las = dir.path() + "/trip.las";
  ASSERT_TRUE(write_bin(bin, "ts16"));
  {
    LASreaderBIN reader;
    ASSERT_TRUE(reader.open_file(bin.c_str()));
    LASheader header = reader.header;
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_file(las.c_str(), &header));
    while (reader.read_next()) {
      ASSERT_TRUE(writer.write_point(reader.point));
      writer.count_point(reader.point);
    }
    writer.update_header(&header, true);
    ASSERT_NE(writer.close_writer(true), 0);
  }
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(las.c_str()));
  EXPECT_EQ(reader.header.point_data_format, 3);
  EXPECT_DOUBLE_EQ(reader.header.min_z, -3.25);
  EXPECT_DOUBLE_EQ(reader.header.max_x, 630260.0);
  for (const BinPoint& p : kBinPoints) {
    ASSERT_TRUE(reader.read_next());
    const LASpoint& q = reader.point;
    EXPECT_NEAR(q.get_x(), p.x, 0.005);
    EXPECT_NEAR(q.get_y(), p.y, 0.005);
    EXPECT_NEAR(q.get_z(), p.z, 0.005);
    EXPECT_EQ(q.classification, p.classification);
    EXPECT_EQ(q.intensity, p.intensity);
    EXPECT_EQ(q.point_source_ID, p.line);
    EXPECT_NEAR(q.gps_time, p.gps_time, 0.0001);
    EXPECT_EQ(q.rgb[0], p.red);
    EXPECT_EQ(q.rgb[2], p.blue);
    // Echo 0..3 keep single, first, intermediate and last of many.
    const std::uint8_t echo = echo_of(p);
    EXPECT_EQ(q.return_number, echo <= 1 ? 1 : 2);
    EXPECT_EQ(q.number_of_returns, echo == 0 ? 1 : echo == 2 ? 3 : 2);
  }
  EXPECT_FALSE(reader.read_next());
}

Captured open_bin(const std::vector<std::uint8_t>& bytes, std::int64_t* points = nullptr) {
  ByteStreamInArrayLE stream(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  LASreaderBIN reader;
  testing::internal::CaptureStderr();
  const bool ok = reader.open_stream(&stream);
  std::int64_t read = 0;
  while (ok && reader.read_next())
    read++;
  if (points != nullptr) *points = read;
  return {ok, testing::internal::GetCapturedStderr()};
}

TEST(TerrasolidReader, BrokenHeadersAreRefusedWithTheirMessages) {
  TempDir dir;
  const std::string path = dir.path() + "/good.bin";
  ASSERT_TRUE(write_bin(path, "ts16"));
  const std::vector<std::uint8_t> good = file_bytes(path);
  struct Case {
    std::size_t at;
    std::int32_t value;
    const char* message;
  };
  const Case cases[] = {
      {0, 57, "ERROR: corrupt terrasolid header. size != 56.\n"},
      {8, 979401, "ERROR: corrupt terrasolid header. recog_val != 979401.\n"},
      {12, 0x57595843, "ERROR: corrupt terrasolid header. recog_str != CXYZ.\n"},
      {20, 0, "ERROR: corrupt terrasolid header. units 0 is not positive.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::uint8_t> bytes = good;
    std::memcpy(bytes.data() + c.at, &c.value, 4);
    const Captured got = open_bin(bytes);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.err, c.message);
  }
  const Captured cut = open_bin(std::vector<std::uint8_t>(good.begin(), good.begin() + 40));
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.err, "ERROR: reading terrasolid header\n");
}

TEST(TerrasolidReader, ACountBeyondTheRecordsReadsTheRecordsThereAreAsACutFile) {
  TempDir dir;
  const std::string path = dir.path() + "/good.bin";
  ASSERT_TRUE(write_bin(path, "ts8"));
  const std::vector<std::uint8_t> good = file_bytes(path);
  // The count is unsigned: the writer stores the low 32 bits of its own.
  const std::pair<std::int32_t, const char*> claims[] = {
      {2000000000, "WARNING: end-of-file after 5 of 2000000000 points for ''\n"},
      {-5, "WARNING: end-of-file after 5 of 4294967291 points for ''\n"},
      {6, "WARNING: end-of-file after 5 of 6 points for ''\n"}};
  for (const auto& [claimed, message] : claims) {
    SCOPED_TRACE(claimed);
    std::vector<std::uint8_t> bytes = good;
    std::memcpy(bytes.data() + 16, &claimed, 4);
    std::int64_t points = 0;
    const Captured got = open_bin(bytes, &points);
    ASSERT_TRUE(got.ok) << got.err;
    EXPECT_EQ(points, 5);
    EXPECT_EQ(got.err, message);
  }
  // A cut last record is not read.
  std::int64_t points = 0;
  const Captured got = open_bin(std::vector<std::uint8_t>(good.begin(), good.end() - 3), &points);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(points, 4);
  EXPECT_EQ(got.err, "WARNING: end-of-file after 4 of 5 points for ''\n");
}

TEST(TerrasolidReader, OriginAndUnitsPlaceEveryRecord) {
  TempDir dir;
  // Coordinate = (stored integer - origin) / units per metre.
  BinHeader h;
  h.units = 100;
  h.origin = {1000, 2000, 30};
  const std::vector<BinRecord> records = {
      {123456, -654321, 4567}, {0, 0, 0}, {1000, 2000, 30}, {-2147483647, 2147483647, -1}};
  for (bool long_records : {true, false}) {
    SCOPED_TRACE(long_records ? "20-byte records" : "16-byte records");
    h.long_records = long_records;
    const std::string path = dir.path() + "/origin.bin";
    ASSERT_TRUE(write_file(path, terrasolid_file(h, records)));
    LASreaderBIN reader;
    ASSERT_TRUE(reader.open_file(path.c_str()));
    EXPECT_DOUBLE_EQ(reader.header.x_scale_factor, 0.01);
    EXPECT_DOUBLE_EQ(reader.header.x_offset, -10.0);
    EXPECT_DOUBLE_EQ(reader.header.y_offset, -20.0);
    EXPECT_DOUBLE_EQ(reader.header.z_offset, -0.3);
    for (const BinRecord& r : records) {
      ASSERT_TRUE(reader.read_next());
      EXPECT_EQ(reader.point.X, r.x);
      EXPECT_NEAR(reader.point.get_x(), (r.x - 1000.0) / 100, 1e-6);
      EXPECT_NEAR(reader.point.get_y(), (r.y - 2000.0) / 100, 1e-6);
      EXPECT_NEAR(reader.point.get_z(), (r.z - 30.0) / 100, 1e-6);
    }
    EXPECT_FALSE(reader.read_next());
    EXPECT_NEAR(reader.header.min_x, (-2147483647 - 1000.0) / 100, 1e-6);
    EXPECT_NEAR(reader.header.max_y, (2147483647 - 2000.0) / 100, 1e-6);
  }
  // An origin that is no number would make every coordinate none.
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()};
  for (int axis = 0; axis < 3; axis++) {
    for (double value : bad) {
      BinHeader broken = h;
      broken.origin[static_cast<std::size_t>(axis)] = value;
      const Captured got = open_bin(terrasolid_file(broken, records));
      EXPECT_FALSE(got.ok);
      EXPECT_EQ(got.err, std::string("ERROR: corrupt terrasolid header. origin ") +
                             static_cast<char>('x' + axis) + " is " +
                             (value != value ? "nan" : "inf") + ".\n");
    }
  }
}

TEST(TerrasolidWriter, AFullDiskIsReportedAndTheWriteFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LASheader header;
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 0, 20, &header));
  LASwriterBIN writer;
  testing::internal::CaptureStderr();
  bool ok = writer.open_file("/dev/full", &header, "ts16");
  for (int i = 0; ok && i < 100000; i++)
    ok = writer.write_point(point);
  const std::int64_t bytes = writer.close_writer(true);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(bytes, 0);
  EXPECT_TRUE(writer.failed());
  EXPECT_NE(err.find("ERROR: cannot write to '/dev/full'"), std::string::npos) << err;
}

// ---------------------------------------------------------------------------------------
// QFIT

const std::vector<Words> kQfitRecords = {
    // time ms, lat, lon (359.5 degrees), elevation mm, start, reflected, azimuth, pitch, roll,
    // -, pulse width
    {43200123, 69123456, 359500000, 1234567, 11, 70000, 90000, -1500, 2500, 0, 0x1234, 0, 0, 0},
    {43200124, 69123460, 10000000, -2500, 12, 40, 360000, 89999, -90000, 0, 17, 0, 0, 0},
    {43200125, -12345678, 180000000, 0, 13, 0, 180000, 0, 1, 0, 255, 0, 0, 0},
};

TEST(QfitReader, EitherByteOrderAndEveryRecordSizeReadTheSameWords) {
  TempDir dir;
  for (int size : {40, 48, 56}) {
    for (bool big_endian : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (big_endian ? " big-endian" : " little-endian"));
      const std::string path = dir.path() + "/atm.qi";
      ASSERT_TRUE(write_file(path, qfit_file(size, big_endian, kQfitRecords)));
      LASreaderQFIT reader;
      ASSERT_TRUE(reader.open_file(path.c_str()));
      EXPECT_EQ(reader.big_endian(), big_endian);
      EXPECT_EQ(reader.header.number_of_point_records, 3u);
      const int pulse = reader.header.find_attribute("pulse width");
      EXPECT_EQ(pulse >= 0, size == 48);
      const LASheader& h = reader.header;
      for (const Words& w : kQfitRecords) {
        ASSERT_TRUE(reader.read_next());
        const LASpoint& p = reader.point;
        EXPECT_EQ(p.X, w[2] > 180000000 ? w[2] - 360000000 : w[2]);
        EXPECT_EQ(p.Y, w[1]);
        EXPECT_EQ(p.Z, w[3]);
        EXPECT_DOUBLE_EQ(p.gps_time, w[0] * 0.001);
        EXPECT_EQ(p.intensity, w[5] & 0xFFFF);
        const std::uint8_t* extra = p.extra_bytes.data();
        EXPECT_DOUBLE_EQ(h.get_value(extra, p.extra_bytes_size, h.find_attribute("pitch")),
                         w[7] * 0.001);
        if (pulse >= 0) {
          EXPECT_EQ(h.get_value(extra, p.extra_bytes_size, pulse), w[10] & 0xFF);
        }
      }
      EXPECT_FALSE(reader.read_next());
    }
  }
}

TEST(QfitReader, LongitudesWrapAndScanAzimuthGivesAClampedScanAngle) {
  TempDir dir;
  const std::string path = dir.path() + "/atm.qi";
  ASSERT_TRUE(write_file(path, qfit_file(40, false, kQfitRecords)));
  LASreaderQFIT reader;
  ASSERT_TRUE(reader.open_file(path.c_str()));
  ASSERT_TRUE(reader.read_next());
  EXPECT_NEAR(reader.point.get_x(), -0.5, 1e-9);
  EXPECT_EQ(reader.point.scan_angle_rank, -90);
  ASSERT_TRUE(reader.read_next());
  EXPECT_EQ(reader.point.scan_angle_rank, 127);
  ASSERT_TRUE(reader.read_next());
  EXPECT_NEAR(reader.point.get_x(), 180.0, 1e-9);  // only above 180 degrees wraps
  EXPECT_EQ(reader.point.scan_angle_rank, 0);
}

Captured open_qfit(const std::vector<std::uint8_t>& bytes, std::int64_t* points = nullptr) {
  ByteStreamInArrayLE stream(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  LASreaderQFIT reader;
  testing::internal::CaptureStderr();
  const bool ok = reader.open_stream(&stream);
  std::int64_t read = 0;
  while (ok && reader.read_next())
    read++;
  if (points != nullptr) *points = read;
  return {ok, testing::internal::GetCapturedStderr()};
}

TEST(QfitReader, CutLyingAndUnknownFilesGiveTheirMessages) {
  const std::vector<std::uint8_t> good = qfit_file(40, true, kQfitRecords);
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* message;
  };
  std::vector<std::uint8_t> unknown_size = good;
  unknown_size[3] = 44;
  std::vector<std::uint8_t> offset_beyond = good;
  offset_beyond[44] = 0x7F;
  std::vector<std::uint8_t> offset_negative = good;
  offset_negative[44] = 0xFF;
  const Case cases[] = {
      {{0, 0}, "ERROR: reading QFIT header\n"},
      {unknown_size, "ERROR: corrupt QFIT header.\n"},
      {std::vector<std::uint8_t>(good.begin(), good.begin() + 30),
       "ERROR: reading 40 bytes until point start offset from QFIT header\n"},
      {std::vector<std::uint8_t>(good.begin(), good.begin() + 46),
       "ERROR: reading point start offset from QFIT header\n"},
      {offset_beyond, "ERROR: QFIT point start offset 2130706512 lies outside the file"},
      {offset_negative, "ERROR: QFIT point start offset -16777136 lies outside the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Captured got = open_qfit(c.bytes);
    EXPECT_FALSE(got.ok);
    EXPECT_NE(got.err.find(c.message), std::string::npos) << got.err;
  }
  // 1000 40-byte records whose points start at 80 hold 998 points; a cut record is none.
  std::vector<Words> many(998, kQfitRecords[0]);
  std::int64_t points = 0;
  std::vector<std::uint8_t> thousand = qfit_file(40, false, many);
  ASSERT_EQ(thousand.size(), 40000u);
  EXPECT_TRUE(open_qfit(thousand, &points).ok);
  EXPECT_EQ(points, 998);
  thousand.resize(thousand.size() - 1);
  EXPECT_TRUE(open_qfit(thousand, &points).ok);
  EXPECT_EQ(points, 997);
}

// QFIT -> LAS -> QFIT, through the project's readers and writers; the QFIT written at the
// end is checked word by word against the words of the first file.
void qfit_round_trip(const std::string& source, const TempDir& dir) {
  const std::string las = dir.path() + "/trip.las";
  const std::string back = dir.path() + "/trip.qi";
  int record_size = 0;
  bool big_endian = false;
  {
    LASreaderQFIT reader;
    ASSERT_TRUE(reader.open_file(source.c_str()));
    record_size = reader.record_size();
    big_endian = reader.big_endian();
    LASheader header = reader.header;
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_file(las.c_str(), &header));
    while (reader.read_next()) {
      ASSERT_TRUE(writer.write_point(reader.point));
      writer.count_point(reader.point);
    }
    writer.update_header(&header, true);
    ASSERT_NE(writer.close_writer(true), 0);
  }
  {
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(las.c_str()));
    LASwriterQFIT writer;
    ASSERT_TRUE(writer.open_file(back.c_str(), &reader.header, 0));
    EXPECT_EQ(writer.record_size(), record_size == 48 ? 48 : 40);
    while (reader.read_next())
      ASSERT_TRUE(writer.write_point(reader.point));
    ASSERT_NE(writer.close_writer(true), 0);
  }
  const std::vector<std::uint8_t> original = file_bytes(source);
  const std::vector<std::uint8_t> written = file_bytes(back);
  const int size = record_size == 48 ? 48 : 40;
  ASSERT_GE(written.size(), static_cast<std::size_t>(2 * size));
  EXPECT_EQ(le32_at(written, 0), size);
  EXPECT_EQ(le32_at(written, size), -9000000);
  EXPECT_EQ(le32_at(written, size + 4), 2 * size);
  auto word = [](const std::vector<std::uint8_t>& bytes, std::size_t at, bool big) {
    return big ? be32_at(bytes, at) : le32_at(bytes, at);
  };
  const std::size_t start = static_cast<std::size_t>(
      word(original, 4 + static_cast<std::size_t>(record_size), big_endian));
  const std::size_t count = (original.size() - start) / static_cast<std::size_t>(record_size);
  ASSERT_EQ(written.size(), 2u * size + count * size);
  // Words 4 (start pulse) and 9 are not kept; 11-13 have no field.
  const int kept[] = {0, 1, 2, 3, 5, 6, 7, 8, 10};
  for (std::size_t i = 0; i < count; i++) {
    for (int w : kept) {
      if (w * 4 >= size) continue;
      const std::size_t from = start + i * static_cast<std::size_t>(record_size) + 4 * w;
      const std::size_t to = 2u * size + i * size + 4 * w;
      std::int32_t expected = word(original, from, big_endian);
      if (w == 5) expected &= 0xFFFF;
      if (w == 10) expected &= 0xFF;
      if (w == 0) expected = std::abs(expected);
      ASSERT_EQ(le32_at(written, to), expected) << "record " << i << " word " << w;
    }
  }
}

TEST(QfitRoundTrip, ThroughLasBackToQfitKeepsEveryWordItHasAFieldFor) {
  TempDir dir;
  const std::string real = kRealData + "/10-word.qi";
  if (std::filesystem::exists(real)) {
    SCOPED_TRACE(real);
    qfit_round_trip(real, dir);
  }
  const std::string made = dir.path() + "/made.qi";
  ASSERT_TRUE(write_file(made, qfit_file(48, false, kQfitRecords)));
  qfit_round_trip(made, dir);
}

TEST(QfitWriter, RefusesProjectedCoordinatesAndUnknownRecordSizes) {
  TempDir dir;
  LASheader header;
  header.min_x = 630000;
  header.max_x = 631000;
  header.min_y = 4834000;
  header.max_y = 4835000;
  LASwriterQFIT writer;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open_file((dir.path() + "/x.qi").c_str(), &header, 40));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: bounding box (630000 4.834e+06 / 631000 4.835e+06) exceeds longitude / "
            "latitude\n");

  header.min_x = -10;
  header.max_x = 10;
  header.min_y = 60;
  header.max_y = 70;
  const std::string path = dir.path() + "/y.qi";
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.open_file(path.c_str(), &header, 52));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: version 52 of QFIT unknown ... using 48\n");
  EXPECT_EQ(writer.record_size(), 48);
  EXPECT_NE(writer.close_writer(true), 0);
  EXPECT_EQ(file_bytes(path).size(), 96u);
}

}  // namespace
