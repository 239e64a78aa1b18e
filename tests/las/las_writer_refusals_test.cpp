// A disk that refuses one write, wherever it falls (a header field, a record, a point, the
// EVLRs, a patched count): the file fails with one "ERROR: " line and is never taken for
// complete. And the tally of the points a writer counts, against counts made here.

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

// Takes every write into memory and seeks like a file, but refuses the write call numbered
// `refused` (from 0; -1 refuses none). Every write reaches write_slow, so each is counted.
class OnceRefusingStream : public ByteStreamOut {
 public:
  explicit OnceRefusingStream(std::int64_t refused) : refused_(refused) {}
  bool can_seek() const override { return true; }
  std::int64_t position() const override { return position_; }
  bool seek_to(std::int64_t pos) override {
    if (pos < 0 || pos > static_cast<std::int64_t>(bytes.size())) return false;
    position_ = pos;
    return true;
  }
  bool seek_to_end() override {
    position_ = static_cast<std::int64_t>(bytes.size());
    return true;
  }
  std::int64_t calls() const { return calls_; }

  std::vector<std::uint8_t> bytes;

 protected:
  bool write_slow(const std::uint8_t* data, std::size_t n) override {
    if (calls_++ == refused_) return false;
    const std::size_t end = static_cast<std::size_t>(position_) + n;
    if (end > bytes.size()) bytes.resize(end);
    std::memcpy(bytes.data() + position_, data, n);
    position_ = static_cast<std::int64_t>(end);
    return true;
  }

 private:
  std::int64_t refused_;
  std::int64_t calls_ = 0;
  std::int64_t position_ = 0;
};

struct Scenario {
  const char* name;
  int point_type;
  int minor;
  std::uint16_t compressor;
  bool update_from_tally;
};

// A header with something in every part a writer writes: user data inside and after the
// header, a record with and one without payload, the suite's two records, extra bytes and,
// from LAS 1.4 on, EVLRs whose start the writer must patch.
LASheader rich_header(const Scenario& scenario) {
  LASheader header;
  header.version_minor = static_cast<std::uint8_t>(scenario.minor);
  header.user_data_in_header = {1, 2, 3};
  header.header_size = static_cast<std::uint16_t>(standard_header_size(header.version_minor) + 3);
  header.offset_to_point_data = header.header_size;
  header.point_data_format = static_cast<std::uint8_t>(scenario.point_type);
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.x_offset = 1000;
  LASattributeDescriptor height(3, "height", "");
  header.add_attribute(height);
  EXPECT_TRUE(header.refresh_extra_bytes_vlr());
  header.put_vlr("someone", 7, std::vector<std::uint8_t>(12, 0x5A));
  header.put_vlr("empty", 8, {});
  header.point_data_record_length =
      static_cast<std::uint16_t>(point_type_base_size(scenario.point_type) + 2);
  header.user_data_after_header = {9, 9};
  header.offset_to_point_data += 2;
  header.vlr_rivudover = LASvlrTiling{};
  header.vlr_rivudover->level = 3;
  header.vlr_lasoriginal = LASvlrOriginal{};
  header.vlr_lasoriginal->number_of_point_records = 77;
  header.number_of_point_records = scenario.point_type < 6 ? 3 : 0;  // fewer than written
  header.extended_number_of_point_records = 3;
  header.min_x = header.min_y = header.min_z = -5;
  header.max_x = header.max_y = header.max_z = 5;
  const LASvlrKeyEntry key = {3072, 0, 1, 32633};
  EXPECT_TRUE(header.store_geo_keys(1, &key));
  if (scenario.minor >= 4) {
    LASevlrEntry wkt;
    wkt.set_user_id("LASF_Projection");
    wkt.record_id = 2112;
    const std::string text = "PROJCS[\"WGS 84 / UTM zone 33N\"]";
    wkt.set_data(std::vector<std::uint8_t>(text.begin(), text.end()));
    header.evlrs.push_back(std::move(wkt));
    LASevlrEntry empty;
    empty.set_user_id("evlr owner");
    empty.record_id = 2;
    header.evlrs.push_back(std::move(empty));
    header.number_of_extended_variable_length_records = 2;
  }
  return header;
}

struct Outcome {
  bool opened = false;
  std::int64_t size = 0;
  bool failed = false;
  std::string messages;
};

// What a tool does: open, write and count the points, update the header, close.
Outcome write_file(ByteStreamOut& out, const Scenario& scenario) {
  LASheader header = rich_header(scenario);
  Outcome outcome;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  outcome.opened = writer.open_stream(&out, &header, scenario.compressor);
  if (outcome.opened) {
    LASpoint point;
    EXPECT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                          header.point_data_record_length, &header));
    for (int i = 0; i < 600; i++) {
      point.X = i * 7 - 2000;
      point.Y = -i;
      point.Z = i % 13;
      point.intensity = static_cast<std::uint16_t>(i);
      point.set_return_number(static_cast<std::uint8_t>(1 + i % 2));
      point.set_extended_return_number(static_cast<std::uint8_t>(1 + i % 2));
      point.gps_time = i * 0.5;
      point.extra_bytes[0] = static_cast<std::uint8_t>(i);
      writer.write_point(point);
      writer.count_point(point);
    }
    if (scenario.update_from_tally) {
      writer.update_header(&header, true);
    } else {
      header.number_of_point_records = scenario.point_type < 6 ? 600 : 0;
      header.extended_number_of_point_records = 600;
      header.descriptor(0).set_max(599);
      EXPECT_TRUE(header.refresh_extra_bytes_vlr(true));
      writer.update_header(&header, false, true);
    }
    outcome.size = writer.close_writer();
    outcome.failed = writer.failed();
  }
  outcome.messages = testing::internal::GetCapturedStderr();
  return outcome;
}

int error_lines(const std::string& messages) {
  int count = 0;
  for (std::size_t at = messages.find("ERROR: "); at != std::string::npos;
       at = messages.find("ERROR: ", at + 1)) {
    count++;
  }
  return count;
}

TEST(LasWriterRefusals, AWriteRefusedAnywhereFailsTheFileWithOneErrorLine) {
  const Scenario scenarios[] = {
      {"LAS 1.4, type 1, counts from the tally", 1, 4, Pakrel::COMPRESSOR_RAW, true},
      {"LAS 1.3, type 3, counts from the header", 3, 3, Pakrel::COMPRESSOR_RAW, false},
      {"LAS 1.4, type 6, layered chunks", 6, 4, Pakrel::COMPRESSOR_LAYERED, false},
      {"LAS 1.2, type 1, chunks", 1, 2, Pakrel::COMPRESSOR_CHUNKED, true},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    OnceRefusingStream whole(-1);
    const Outcome complete = write_file(whole, scenario);
    ASSERT_TRUE(complete.opened) << complete.messages;
    ASSERT_EQ(complete.size, static_cast<std::int64_t>(whole.bytes.size())) << complete.messages;
    EXPECT_FALSE(complete.failed);
    EXPECT_EQ(error_lines(complete.messages), 0) << complete.messages;

    // The complete file reads back whole: every point, the records and the EVLRs.
    ByteStreamInArrayLE in(whole.bytes.data(), static_cast<std::int64_t>(whole.bytes.size()));
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_stream(&in));
    EXPECT_EQ(reader.points_total, 600);
    EXPECT_EQ(reader.header.vlrs.size(), 4u);
    ASSERT_NE(reader.header.vlr_geo_keys(), nullptr);
    EXPECT_EQ(reader.header.geo_key_entries()[0].value_offset, 32633);
    EXPECT_EQ(reader.header.attribute_count(), 1);
    EXPECT_EQ(reader.header.user_data_in_header, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(reader.header.user_data_after_header, (std::vector<std::uint8_t>{9, 9}));
    ASSERT_TRUE(reader.header.vlr_rivudover);
    EXPECT_EQ(reader.header.vlr_rivudover->level, 3u);
    ASSERT_TRUE(reader.header.vlr_lasoriginal);
    EXPECT_EQ(reader.header.vlr_lasoriginal->number_of_point_records, 77u);
    EXPECT_EQ(reader.header.evlrs.size(), scenario.minor >= 4 ? 2u : 0u);
    if (scenario.minor >= 4) {
      ASSERT_NE(reader.header.geo_wkt(), nullptr);
      EXPECT_EQ(std::string(reader.header.geo_wkt(), reader.header.geo_wkt_size()),
                "PROJCS[\"WGS 84 / UTM zone 33N\"]");
    }
    std::int64_t read = 0;
    while (reader.read_next()) {
      EXPECT_EQ(reader.point.X, read * 7 - 2000);
      EXPECT_EQ(reader.point.extra_bytes[0], static_cast<std::uint8_t>(read));
      read++;
    }
    EXPECT_EQ(read, 600);

    for (std::int64_t refused = 0; refused < whole.calls(); refused++) {
      OnceRefusingStream out(refused);
      const Outcome outcome = write_file(out, scenario);
      SCOPED_TRACE("write " + std::to_string(refused) + " of " + std::to_string(whole.calls()) +
                   " refused: " + outcome.messages);
      EXPECT_EQ(outcome.size, 0);
      EXPECT_TRUE(!outcome.opened || outcome.failed);
      EXPECT_EQ(error_lines(outcome.messages), 1);
    }
  }
}

TEST(LasTally, CountsReturnsAndBoundsAsCountedHereAndCopiesThemIntoTheHeader) {
  std::mt19937 random(7);
  LAStally tally;
  std::int64_t by_return[16] = {};
  std::int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
  std::int32_t hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
  for (int i = 0; i < 5000; i++) {
    // Values spread to both sides of the first point, so that every bound moves both ways.
    const std::int32_t v[3] = {static_cast<std::int32_t>(random() % 20001) - 10000,
                               static_cast<std::int32_t>(random() % 2001) - 1000,
                               static_cast<std::int32_t>(random() % 201) - 100};
    const unsigned r = random() % 16;
    tally.add(v[0], v[1], v[2], r);
    by_return[r]++;
    for (int axis = 0; axis < 3; axis++) {
      lo[axis] = std::min(lo[axis], v[axis]);
      hi[axis] = std::max(hi[axis], v[axis]);
    }
  }
  EXPECT_EQ(tally.number_of_point_records, 5000);
  for (int r = 0; r < 16; r++)
    EXPECT_EQ(tally.number_of_points_by_return[r], by_return[r]) << r;
  EXPECT_EQ(tally.min_X, lo[0]);
  EXPECT_EQ(tally.max_X, hi[0]);
  EXPECT_EQ(tally.min_Y, lo[1]);
  EXPECT_EQ(tally.max_Y, hi[1]);
  EXPECT_EQ(tally.min_Z, lo[2]);
  EXPECT_EQ(tally.max_Z, hi[2]);

  // A point of types 6-10 counts under its extended return number, a legacy one under its own.
  LAStally points;
  LASpoint legacy;
  legacy.return_number = 3;
  legacy.extended_return_number = 9;
  points.add(legacy);
  LASpoint extended = legacy;
  extended.extended_layout = 1;
  points.add(extended);
  EXPECT_EQ(points.number_of_points_by_return[3], 1);
  EXPECT_EQ(points.number_of_points_by_return[9], 1);

  for (const int point_type : {1, 6}) {
    for (const int minor : {2, 4}) {
      SCOPED_TRACE("point type " + std::to_string(point_type) + ", LAS 1." + std::to_string(minor));
      LASheader header;
      header.version_minor = static_cast<std::uint8_t>(minor);
      header.point_data_format = static_cast<std::uint8_t>(point_type);
      header.x_scale_factor = 0.5;
      header.y_offset = 100;
      header.z_scale_factor = 0.001;
      ASSERT_TRUE(tally.copy_to(header));
      const bool legacy_counts = point_type < 6;
      EXPECT_EQ(header.number_of_point_records, legacy_counts ? 5000u : 0u);
      for (int i = 0; i < 5; i++) {
        EXPECT_EQ(header.number_of_points_by_return[i],
                  legacy_counts ? static_cast<std::uint32_t>(by_return[i + 1]) : 0u);
      }
      EXPECT_EQ(header.extended_number_of_point_records, 5000u);
      for (int i = 0; i < 15; i++) {
        EXPECT_EQ(header.extended_number_of_points_by_return[i],
                  static_cast<std::uint64_t>(by_return[i + 1]));
      }
      EXPECT_EQ(header.min_x, lo[0] * 0.5);
      EXPECT_EQ(header.max_x, hi[0] * 0.5);
      EXPECT_EQ(header.min_y, lo[1] * 0.01 + 100);
      EXPECT_EQ(header.max_y, hi[1] * 0.01 + 100);
      EXPECT_EQ(header.min_z, lo[2] * 0.001);
      EXPECT_EQ(header.max_z, hi[2] * 0.001);
    }
  }

  // Counts of 2^32 fit a LAS 1.4 header only; below 1.4 nothing is changed.
  for (const int over : {0, 1, 5}) {
    LAStally big = tally;
    if (over == 0) {
      big.number_of_point_records = std::int64_t{1} << 32;
    } else {
      big.number_of_points_by_return[over] = std::int64_t{1} << 32;
    }
    LASheader old;
    old.point_data_format = 1;
    old.number_of_point_records = 12;
    EXPECT_FALSE(big.copy_to(old)) << over;
    EXPECT_EQ(old.number_of_point_records, 12u);
    old.version_minor = 4;
    EXPECT_TRUE(big.copy_to(old)) << over;
    EXPECT_EQ(old.extended_number_of_point_records,
              static_cast<std::uint64_t>(big.number_of_point_records));
  }
  LAStally sixth = tally;
  sixth.number_of_points_by_return[6] = std::int64_t{1} << 32;  // no legacy field holds it
  LASheader old;
  EXPECT_TRUE(sixth.copy_to(old));
}

TEST(LasReaderCut, AFileCutAnywhereBeforeItsLastEvlrFailsToOpenWithOneErrorLine) {
  const Scenario scenario = {"LAS 1.4, type 1", 1, 4, Pakrel::COMPRESSOR_RAW, true};
  OnceRefusingStream whole(-1);
  ASSERT_GT(write_file(whole, scenario).size, 0);
  const std::vector<std::uint8_t>& bytes = whole.bytes;
  const auto points_start = at<std::uint32_t>(bytes, kOffsetOffsetToPointData);
  const auto evlrs_start = at<std::uint64_t>(bytes, kOffsetStartOfFirstEvlr);
  ASSERT_LT(points_start, evlrs_start);
  for (std::size_t length = 0; length < bytes.size();
       length += length < points_start || length + 200 > evlrs_start ? 1 : 97) {
    ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(length));
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    const bool opened = reader.open_stream(&in);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened) << "cut at " << length;
    EXPECT_EQ(error_lines(messages), 1) << "cut at " << length << ": " << messages;
  }

  // The line names the field that the cut falls into; the header is 375 bytes and 3 of user
  // data, the first VLR follows.
  const std::pair<std::size_t, const char*> fields[] = {
      {0, "header.file_signature"},
      {30, "header.system_identifier"},
      {96, "header.offset_to_point_data"},
      {111, "header.number_of_points_by_return 0"},
      {127, "header.number_of_points_by_return 4"},
      {131, "header.x_scale_factor"},
      {155, "header.x_offset"},
      {170, "header.y_offset"},
      {171, "header.z_offset"},
      {179, "header.max_x"},
      {226, "header.min_z"},
      {227, "header.start_of_waveform_data_packet_record"},
      {235, "header.start_of_first_extended_variable_length_record"},
      {243, "header.number_of_extended_variable_length_records"},
      {247, "header.extended_number_of_point_records"},
      {255, "header.extended_number_of_points_by_return[0]"},
      {374, "header.extended_number_of_points_by_return[14]"},
      {376, "3 bytes of data into header.user_data_in_header"},
      {378, "header.vlrs[0].reserved"},
      {380, "header.vlrs[0].user_id"},
      {396, "header.vlrs[0].record_id"},
      {399, "header.vlrs[0].record_length_after_header"},
      {400, "header.vlrs[0].description"},
      {431, "header.vlrs[0].description"},
      {432, "192 bytes of data into header.vlrs[0].data"},
  };
  for (const auto& [length, field] : fields) {
    ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(length));
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.open_stream(&in));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: reading " + std::string(field) + "\n");
  }
}

TEST(LasWriterRecords, AnItemListOfNoPointTypeIsWrittenRawWithItsCodecRecordAndReadsBack) {
  LASheader header;
  auto codec = std::make_shared<Pakrel>();
  const LASitem items[] = {
      {LASitem::POINT10, 20, 0}, {LASitem::RGB12, 6, 0}, {LASitem::GPSTIME11, 8, 0}};
  ASSERT_TRUE(codec->setup(3, items, Pakrel::COMPRESSOR_RAW));
  header.codec = codec;
  header.point_data_record_length = 34;
  header.number_of_point_records = 4;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.open_stream(&out, &header));
  EXPECT_EQ(writer.written_point_data_format(), 127);
  LASpoint point;
  ASSERT_TRUE(point.init_layout(&header, 3, items, &header));
  for (int i = 0; i < 4; i++) {
    point.X = i;
    point.rgb[1] = static_cast<std::uint16_t>(1000 + i);
    point.gps_time = 0.5 * i;
    ASSERT_TRUE(writer.write_point(point));
  }
  ASSERT_GT(writer.close_writer(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const std::vector<std::uint8_t> bytes(out.data(), out.data() + out.size());
  // The records are the items one after the other, uncompressed: colour before time.
  const std::size_t first = at<std::uint32_t>(bytes, kOffsetOffsetToPointData);
  EXPECT_EQ(bytes.size(), first + 4 * 34);
  EXPECT_EQ(at<std::uint16_t>(bytes, first + 34 + 22), 1001);
  EXPECT_EQ(at<double>(bytes, first + 34 + 26), 0.5);

  ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_stream(&in));
  ASSERT_TRUE(reader.header.codec);
  EXPECT_EQ(reader.header.codec->compressor, Pakrel::COMPRESSOR_RAW);
  for (int i = 0; i < 4; i++) {
    ASSERT_TRUE(reader.read_next());
    EXPECT_EQ(reader.point.X, i);
    EXPECT_EQ(reader.point.rgb[1], 1000 + i);
    EXPECT_EQ(reader.point.gps_time, 0.5 * i);
  }
  EXPECT_FALSE(reader.read_next());
}

}  // namespace
