#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

LASpoint point_of_type(int point_type, int record_length) {
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(nullptr, static_cast<std::uint8_t>(point_type),
                                        static_cast<std::uint16_t>(record_length), nullptr));
  return point;
}

// Random values for every item of the point. POINT14 goes through its on-disk form so that
// the legacy and extended fields agree as a reader leaves them.
void fill_randomly(LASpoint& point, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t i = 0; i < point.items.size(); i++) {
    if (point.items[i].type == LASitem::POINT14) {
      std::uint8_t bytes[kPoint14Size];
      for (auto& b : bytes)
        b = static_cast<std::uint8_t>(byte(rng));
      point.read_point14(bytes);
    } else {
      for (int k = 0; k < point.items[i].size; k++) {
        point.item_data[i][k] = static_cast<std::uint8_t>(byte(rng));
      }
    }
  }
}

// Item by item; POINT14 by its legacy bytes and its extended fields.
void expect_same_point(const LASpoint& expected, const LASpoint& actual) {
  ASSERT_EQ(expected.items, actual.items);
  for (std::size_t i = 0; i < expected.items.size(); i++) {
    const LASitem& item = expected.items[i];
    SCOPED_TRACE(LASitem::type_name(item.type));
    if (item.type == LASitem::POINT14) {
      EXPECT_EQ(0, std::memcmp(expected.item_data[i], actual.item_data[i], kPoint10Size));
      EXPECT_EQ(expected.extended_scan_angle, actual.extended_scan_angle);
      EXPECT_EQ(expected.extended_scanner_channel, actual.extended_scanner_channel);
      EXPECT_EQ(expected.extended_classification_flags, actual.extended_classification_flags);
      EXPECT_EQ(expected.extended_classification, actual.extended_classification);
      EXPECT_EQ(expected.extended_return_number, actual.extended_return_number);
      EXPECT_EQ(expected.extended_number_of_returns, actual.extended_number_of_returns);
      EXPECT_EQ(0, std::memcmp(&expected.gps_time, &actual.gps_time, 8));
    } else {
      EXPECT_EQ(0, std::memcmp(expected.item_data[i], actual.item_data[i], item.size));
    }
  }
}

struct RawBlock {
  std::vector<LASpoint> points;
  ByteStreamOutArray out;
};

std::unique_ptr<RawBlock> write_random_block(int point_type, int record_length, int count,
                                             unsigned seed) {
  auto block = std::make_unique<RawBlock>();
  std::mt19937 rng(seed);
  LASpoint point = point_of_type(point_type, record_length);
  LASwriteEngine writer;
  EXPECT_TRUE(writer.setup(point.num_items, point.items.data()));
  EXPECT_TRUE(writer.attach(&block->out));
  for (int i = 0; i < count; i++) {
    fill_randomly(point, rng);
    EXPECT_TRUE(writer.write(point.item_data.data()));
    block->points.push_back(point);
  }
  EXPECT_TRUE(writer.finish());
  return block;
}

TEST(RawEngine, EveryPointTypeRoundTripsWithAndWithoutExtraBytes) {
  for (int type = 0; type <= kMaxPointType; type++) {
    for (int extra : {0, 5}) {
      const int record_length = point_type_base_size(type) + extra;
      SCOPED_TRACE("type " + std::to_string(type) + " record " + std::to_string(record_length));
      const int count = 50;
      auto block = write_random_block(type, record_length, count, 17 + type);
      ASSERT_EQ(block->out.size(), count * record_length);

      LASpoint point = point_of_type(type, record_length);
      LASreadEngine reader;
      ASSERT_TRUE(reader.setup(point.num_items, point.items.data()));
      ByteStreamInArray in(block->out.data(), block->out.size());
      ASSERT_TRUE(reader.attach(&in));
      for (int i = 0; i < count; i++) {
        ASSERT_TRUE(reader.read(point.item_data.data()));
        expect_same_point(block->points[i], point);
      }
      EXPECT_FALSE(reader.read(point.item_data.data()));
      EXPECT_STREQ(reader.error_text(), "end-of-file");
      EXPECT_TRUE(reader.verify_end());
    }
  }
}

TEST(RawEngine, RecordBytesAreTheLasLayoutOfTheFields) {
  LASpoint point = point_of_type(3, 36);
  point.X = -2;
  point.Y = 0x01020304;
  point.Z = 7;
  point.intensity = 0xBEEF;
  point.return_number = 2;
  point.number_of_returns = 3;
  point.edge_of_flight_line = 1;
  point.classification = 9;
  point.withheld_flag = 1;
  point.scan_angle_rank = -12;
  point.user_data = 0x55;
  point.point_source_ID = 0x1234;
  point.gps_time = 1.5;
  point.rgb[0] = 0x0102;
  point.rgb[1] = 0x0304;
  point.rgb[2] = 0x0506;
  point.extra_bytes = {0xAA, 0xBB};

  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(point.num_items, point.items.data()));
  ByteStreamOutArray out;
  ASSERT_TRUE(writer.attach(&out));
  ASSERT_TRUE(writer.write(point.item_data.data()));
  ASSERT_EQ(out.size(), 36);
  const std::vector<std::uint8_t> bytes(out.data(), out.data() + out.size());
  using codec_test::value_at;
  EXPECT_EQ(value_at<std::int32_t>(bytes, 0), -2);
  EXPECT_EQ(value_at<std::int32_t>(bytes, 4), 0x01020304);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 12), 0xBEEF);
  EXPECT_EQ(bytes[14], 2 | (3 << 3) | 0x80);
  EXPECT_EQ(bytes[15], 9 | 0x80);
  EXPECT_EQ(static_cast<std::int8_t>(bytes[16]), -12);
  EXPECT_EQ(bytes[17], 0x55);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 18), 0x1234);
  EXPECT_EQ(value_at<double>(bytes, 20), 1.5);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 28), 0x0102);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 32), 0x0506);
  EXPECT_EQ(bytes[34], 0xAA);
  EXPECT_EQ(bytes[35], 0xBB);
}

std::vector<std::uint8_t> point14_record(const LASpoint& point) {
  LASwriteEngine writer;
  EXPECT_TRUE(writer.setup(point.num_items, point.items.data()));
  ByteStreamOutArray out;
  EXPECT_TRUE(writer.attach(&out));
  EXPECT_TRUE(writer.write(point.item_data.data()));
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

TEST(RawEngine, Point14OfALegacyRecordCarriesTheLegacyFieldsAndNoChannelOrOverlap) {
  LASpoint point = point_of_type(6, 30);
  point.extended_layout = 0;  // values that came from a point type 0-5 record
  point.return_number = 3;
  point.number_of_returns = 5;
  point.extended_return_number = 9;  // not what the record says
  point.scan_angle_rank = 15;
  point.extended_scan_angle = 1;
  point.set_overlap_flag(true);
  point.set_extended_scanner_channel(2);
  point.set_synthetic_flag(true);
  point.classification = 6;
  const auto bytes = point14_record(point);
  ASSERT_EQ(bytes.size(), 30u);
  EXPECT_EQ(bytes[14], 3 | (5 << 4));
  EXPECT_EQ(bytes[15], 0x01);  // synthetic only: no overlap, channel 0
  EXPECT_EQ(bytes[16], 6);
  EXPECT_EQ(codec_test::value_at<std::int16_t>(bytes, 18), 2500);  // 15 degrees
}

TEST(RawEngine, Point14OfAnExtendedRecordCarriesTheExtendedFields) {
  LASpoint point = point_of_type(6, 30);
  point.set_extended_return_number(11);
  point.set_extended_number_of_returns(12);
  point.extended_scan_angle = -30000;
  point.set_overlap_flag(true);
  point.set_extended_scanner_channel(3);
  point.scan_direction_flag = 1;
  point.set_classification(40);
  point.gps_time = 123.25;
  const auto bytes = point14_record(point);
  EXPECT_EQ(bytes[14], 11 | (12 << 4));
  EXPECT_EQ(bytes[15], 0x08 | (3 << 4) | 0x40);
  EXPECT_EQ(bytes[16], 40);
  EXPECT_EQ(codec_test::value_at<std::int16_t>(bytes, 18), -30000);
  EXPECT_EQ(codec_test::value_at<double>(bytes, 22), 123.25);
}

TEST(RawEngine, Point14ReadingDerivesTheLegacyFields) {
  struct Case {
    int returns, number;
    int legacy_return, legacy_number;
  };
  const Case cases[] = {{9, 10, 6, 7}, {10, 10, 7, 7}, {3, 12, 3, 7}, {2, 4, 2, 4}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> record(30, 0);
    record[14] = static_cast<std::uint8_t>(c.returns | (c.number << 4));
    record[16] = 40;
    record[18] = 0x20;  // scan angle 20000: 120 degrees
    record[19] = 0x4E;
    LASpoint point = point_of_type(6, 30);
    LASreadEngine reader;
    ASSERT_TRUE(reader.setup(point.num_items, point.items.data()));
    ByteStreamInArray in(record.data(), record.size());
    ASSERT_TRUE(reader.attach(&in));
    ASSERT_TRUE(reader.read(point.item_data.data()));
    EXPECT_EQ(point.return_number, c.legacy_return);
    EXPECT_EQ(point.number_of_returns, c.legacy_number);
    EXPECT_EQ(point.extended_return_number, c.returns);
    EXPECT_EQ(point.extended_number_of_returns, c.number);
    EXPECT_EQ(point.classification, 0);
    EXPECT_EQ(point.extended_classification, 40);
    EXPECT_EQ(point.scan_angle_rank, 120);
    EXPECT_EQ(point.extended_layout, 1);
  }
}

TEST(RawEngine, SeekingToRandomPointsGivesWhatSequentialReadingGives) {
  const int count = 1000;
  auto block = write_random_block(1, 31, count, 5);
  // A file read in small blocks, so that records straddle the stream's buffer edges.
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::vector<std::uint8_t> prefix(100, 0x11);  // the point data need not start at 0
  std::fwrite(prefix.data(), 1, prefix.size(), file);
  std::fwrite(block->out.data(), 1, block->out.size(), file);
  std::fseek(file, 100, SEEK_SET);
  {
    ByteStreamInFileLE in(file, 64);
    LASpoint point = point_of_type(1, 31);
    LASreadEngine reader;
    ASSERT_TRUE(reader.setup(point.num_items, point.items.data()));
    ASSERT_TRUE(reader.attach(&in));
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> index(0, count - 1);
    std::int64_t next = 0;
    for (int k = 0; k < 300; k++) {
      const int target = k == 0 ? count - 1 : index(rng);
      ASSERT_TRUE(reader.seek(next, target));
      ASSERT_TRUE(reader.read(point.item_data.data()));
      expect_same_point(block->points[target], point);
      next = target + 1;
    }
  }
  std::fclose(file);
}

TEST(RawEngine, ATruncatedBlockEndsWithEndOfFileAfterTheWholePoints) {
  auto block = write_random_block(3, 34, 10, 9);
  ByteStreamInArray in(block->out.data(), 7 * 34 + 20);
  LASpoint point = point_of_type(3, 34);
  LASreadEngine reader;
  ASSERT_TRUE(reader.setup(point.num_items, point.items.data()));
  ASSERT_TRUE(reader.attach(&in));
  for (int i = 0; i < 7; i++)
    ASSERT_TRUE(reader.read(point.item_data.data()));
  EXPECT_FALSE(reader.read(point.item_data.data()));
  EXPECT_STREQ(reader.error_text(), "end-of-file");
  EXPECT_EQ(reader.warning_text(), nullptr);
  EXPECT_FALSE(reader.read(point.item_data.data()));
}

TEST(RawEngine, AFullDiskMakesTheWriteFail) {
  LASpoint point = point_of_type(1, 28);
  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(point.num_items, point.items.data()));
  codec_test::ByteStreamOutLimited out(28 * 3 + 5);
  ASSERT_TRUE(writer.attach(&out));
  for (int i = 0; i < 3; i++)
    EXPECT_TRUE(writer.write(point.item_data.data()));
  EXPECT_FALSE(writer.write(point.item_data.data()));
}

TEST(RawEngine, ADescriptorWithoutCompressionWritesRawRecordsAndNoChunkTable) {
  LASpoint point = point_of_type(7, 36);
  Pakrel codec;
  ASSERT_TRUE(codec.setup(point.num_items, point.items.data(), Pakrel::COMPRESSOR_RAW));
  ASSERT_TRUE(codec.choose_version(0));
  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamOutArray out;
  ASSERT_TRUE(writer.attach(&out));
  ASSERT_TRUE(writer.write(point.item_data.data()));
  EXPECT_FALSE(writer.close_chunk());
  ASSERT_TRUE(writer.finish());
  EXPECT_EQ(out.size(), 36);

  LASreadEngine reader;
  ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(out.data(), out.size());
  ASSERT_TRUE(reader.attach(&in));
  EXPECT_TRUE(reader.read(point.item_data.data()));
}

TEST(Engines, SetupRejectsItemsTheyCannotHandle) {
  auto item = [](int type, int size, int version) {
    LASitem it;
    it.type = static_cast<LASitem::Type>(type);
    it.size = static_cast<std::uint16_t>(size);
    it.version = static_cast<std::uint16_t>(version);
    return it;
  };
  const std::vector<std::vector<LASitem>> refused = {
      {item(3, 20, 0)},                 // no item type
      {item(LASitem::POINT10, 24, 0)},  // would copy past the field
      {item(LASitem::POINT14, 30, 0), item(LASitem::RGB14, 8, 0)},
  };
  for (const auto& items : refused) {
    LASwriteEngine writer;
    LASreadEngine reader;
    EXPECT_FALSE(writer.setup(static_cast<std::uint32_t>(items.size()), items.data()));
    EXPECT_FALSE(reader.setup(static_cast<std::uint32_t>(items.size()), items.data()));
    ByteStreamOutArray out;
    EXPECT_FALSE(writer.attach(&out));
  }
  LASwriteEngine writer;
  LASreadEngine reader;
  EXPECT_FALSE(writer.setup(0, nullptr));
  EXPECT_FALSE(reader.attach(nullptr));

  std::vector<LASitem> type1;
  ASSERT_TRUE(build_point_type_items(1, 28, false, type1));
  Pakrel codec;
  ASSERT_TRUE(codec.setup(2, type1.data(), Pakrel::COMPRESSOR_CHUNKED));
  // Items that are not the descriptor's own.
  std::vector<LASitem> other = type1;
  other[1].version = 1;
  EXPECT_FALSE(writer.setup(2, other.data(), &codec));
  EXPECT_FALSE(reader.setup(2, other.data(), &codec));
  // Version 0 items are never coded: no codec takes them.
  EXPECT_FALSE(writer.setup(2, codec.items.data(), &codec));
  EXPECT_FALSE(reader.setup(2, codec.items.data(), &codec));
  // Only the entropy coder exists.
  ASSERT_TRUE(codec.choose_version(2));
  codec.coder = 1;
  EXPECT_FALSE(writer.setup(2, codec.items.data(), &codec));
  EXPECT_FALSE(reader.setup(2, codec.items.data(), &codec));
}

// The point blocks of real files read record by record and written back are the same bytes.
TEST(RawEngine, RealFilesPointBlocksCopyByteForByte) {
  const char* files[] = {"simple1_1.las",
                         "simple1_3.las",
                         "simple1_4.las",
                         "test1_4.las",
                         "unregistered_extra_bytes.las",
                         "100-points.las",
                         "gps-time-nan.las",
                         "hextest.las",
                         "perm_1.0_0.las",
                         "perm_1.2_2.las",
                         "perm_1.2_3.las",
                         "extrabytes.las",
                         "1_4_w_evlr.las",
                         "simple.las"};
  for (const char* name : files) {
    const auto file = codec_test::read_whole_file(codec_test::real_data_path(name));
    if (!file) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
    SCOPED_TRACE(name);
    const auto facts = codec_test::las_file_facts(*file);
    const std::size_t block_size = facts.number_of_points * facts.point_data_record_length;
    ASSERT_LE(facts.offset_to_point_data + block_size, file->size());

    LASpoint point = point_of_type(facts.point_data_format, facts.point_data_record_length);
    LASreadEngine reader;
    LASwriteEngine writer;
    ASSERT_TRUE(reader.setup(point.num_items, point.items.data()));
    ASSERT_TRUE(writer.setup(point.num_items, point.items.data()));
    ByteStreamInArray in(file->data() + facts.offset_to_point_data,
                         static_cast<std::int64_t>(block_size));
    ByteStreamOutArray out;
    ASSERT_TRUE(reader.attach(&in));
    ASSERT_TRUE(writer.attach(&out));
    for (std::uint64_t i = 0; i < facts.number_of_points; i++) {
      ASSERT_TRUE(reader.read(point.item_data.data()));
      ASSERT_TRUE(writer.write(point.item_data.data()));
    }
    ASSERT_TRUE(writer.finish());
    ASSERT_EQ(out.size(), static_cast<std::int64_t>(block_size));
    EXPECT_EQ(0, std::memcmp(out.data(), file->data() + facts.offset_to_point_data, block_size));
  }
}

}  // namespace
