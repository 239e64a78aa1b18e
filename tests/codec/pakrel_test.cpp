#include "codec/pakrel.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/pakrel_record.hpp"
#include "codec_test_support.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::ByteStreamOutLimited;

LASitem item(LASitem::Type type, int size, int version = 0) {
  LASitem it;
  it.type = type;
  it.size = static_cast<std::uint16_t>(size);
  it.version = static_cast<std::uint16_t>(version);
  return it;
}

std::string with_suffix(const std::string& message) {
  return message + " (Pakrel v3.4r3)";
}

std::vector<LASitem> items_of_type(int point_type, int point_size) {
  std::vector<LASitem> items;
  EXPECT_TRUE(build_point_type_items(point_type, point_size, false, items));
  return items;
}

Pakrel set_up(const std::vector<LASitem>& items, std::uint16_t compressor) {
  Pakrel codec;
  EXPECT_TRUE(codec.setup(static_cast<std::uint16_t>(items.size()), items.data(), compressor))
      << (codec.error_text() ? codec.error_text() : "");
  return codec;
}

TEST(Pakrel, NewDescriptorHoldsTheDefaults) {
  Pakrel codec;
  EXPECT_EQ(codec.compressor, Pakrel::COMPRESSOR_CHUNKED);
  EXPECT_EQ(codec.coder, Pakrel::CODER_ENTROPY);
  EXPECT_EQ(codec.version_major, 3);
  EXPECT_EQ(codec.version_minor, 4);
  EXPECT_EQ(codec.version_revision, 3);
  EXPECT_EQ(codec.options, 0u);
  EXPECT_EQ(codec.chunk_size, 50000u);
  EXPECT_EQ(codec.number_of_special_evlrs, -1);
  EXPECT_EQ(codec.offset_to_special_evlrs, -1);
  EXPECT_EQ(codec.num_items, 0);
  EXPECT_EQ(codec.error_text(), nullptr);
}

TEST(Pakrel, PointTypeThreeGivesExtraBytesOnlyBeyondItsBaseSize) {
  Pakrel codec;
  std::vector<LASitem> items;
  ASSERT_TRUE(codec.setup(items, 3, 34, 0));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], item(LASitem::POINT10, 20));
  EXPECT_EQ(items[1], item(LASitem::GPSTIME11, 8));
  EXPECT_EQ(items[2], item(LASitem::RGB12, 6));

  ASSERT_TRUE(codec.setup(items, 3, 40, 0));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[3], item(LASitem::BYTE, 6));

  testing::internal::CaptureStderr();
  ASSERT_TRUE(codec.setup(items, 3, 30, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: point size 30 too small by 4 bytes for point type 3. assuming point_size "
            "of 34\n");
  EXPECT_EQ(items.size(), 3u);
}

TEST(Pakrel, OptionBitZeroDescribesTypeEightWithLegacyItems) {
  Pakrel codec;
  codec.options = Pakrel::kOptionLegacyItems;
  std::vector<LASitem> items;
  ASSERT_TRUE(codec.setup(items, 8, 38, 0));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0], item(LASitem::POINT10, 20));
  EXPECT_EQ(items[1], item(LASitem::GPSTIME11, 8));
  EXPECT_EQ(items[2], item(LASitem::RGB12, 6));
  EXPECT_EQ(items[3], item(LASitem::BYTE, 7));
}

TEST(Pakrel, PointTypeSetupVersionsTheItemsWhenCompressingAndRejectsUnknownTypes) {
  Pakrel codec;
  std::vector<LASitem> items;
  ASSERT_TRUE(codec.setup(items, 5, 63, Pakrel::COMPRESSOR_CHUNKED));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].version, 2);
  EXPECT_EQ(items[3].version, 1);
  ASSERT_TRUE(codec.setup(items, 7, 36, Pakrel::COMPRESSOR_LAYERED));
  EXPECT_EQ(items[0].version, 3);
  EXPECT_EQ(items[1].version, 3);
  // The descriptor's own list is not touched by the point type setup.
  EXPECT_EQ(codec.num_items, 0);

  EXPECT_FALSE(codec.setup(items, 11, 40, 0));
  EXPECT_STREQ(codec.error_text(), with_suffix("point type 11 unknown").c_str());
}

TEST(Pakrel, ChooseVersionGivesLayeredItemsVersionThreeAndWavePacketVersionOne) {
  Pakrel ten = set_up(items_of_type(10, 67), Pakrel::COMPRESSOR_LAYERED);
  ASSERT_TRUE(ten.choose_version(2));
  ASSERT_EQ(ten.items.size(), 3u);
  for (const LASitem& it : ten.items)
    EXPECT_EQ(it.version, 3);

  Pakrel five = set_up(items_of_type(5, 63), Pakrel::COMPRESSOR_CHUNKED);
  ASSERT_TRUE(five.choose_version(2));
  ASSERT_EQ(five.items.size(), 4u);
  EXPECT_EQ(five.items[0].version, 2);
  EXPECT_EQ(five.items[1].version, 2);
  EXPECT_EQ(five.items[2].version, 2);
  EXPECT_EQ(five.items[3].version, 1);
  ASSERT_TRUE(five.choose_version(1));
  EXPECT_EQ(five.items[0].version, 1);
}

TEST(Pakrel, ChooseVersionRejectsVersionsThatDoNotFitTheCompressor) {
  Pakrel empty;
  EXPECT_FALSE(empty.choose_version(2));
  EXPECT_STREQ(empty.error_text(), with_suffix("call setup() before requesting version").c_str());

  Pakrel raw = set_up(items_of_type(1, 28), Pakrel::COMPRESSOR_RAW);
  EXPECT_FALSE(raw.choose_version(1));
  EXPECT_STREQ(raw.error_text(), with_suffix("without compression version is always 0").c_str());
  EXPECT_TRUE(raw.choose_version(0));

  Pakrel chunked = set_up(items_of_type(1, 28), Pakrel::COMPRESSOR_CHUNKED);
  EXPECT_FALSE(chunked.choose_version(0));
  EXPECT_STREQ(chunked.error_text(), with_suffix("with compression version is at least 1").c_str());
  EXPECT_FALSE(chunked.choose_version(3));
  EXPECT_STREQ(chunked.error_text(), with_suffix("version larger than 2 not supported").c_str());
}

TEST(Pakrel, SetupStoresTheCompressorTheItemListAllows) {
  const auto type1 = items_of_type(1, 28);
  const auto type6 = items_of_type(6, 30);
  EXPECT_EQ(set_up(type1, Pakrel::COMPRESSOR_LAYERED).compressor, Pakrel::COMPRESSOR_CHUNKED);
  EXPECT_EQ(set_up(type1, Pakrel::COMPRESSOR_PER_POINT).compressor, Pakrel::COMPRESSOR_PER_POINT);
  EXPECT_EQ(set_up(type1, Pakrel::COMPRESSOR_RAW).compressor, Pakrel::COMPRESSOR_RAW);
  EXPECT_EQ(set_up(type6, Pakrel::COMPRESSOR_LAYERED).compressor, Pakrel::COMPRESSOR_LAYERED);

  Pakrel codec;
  EXPECT_FALSE(codec.setup(1, type6.data(), Pakrel::COMPRESSOR_CHUNKED));
  EXPECT_EQ(codec.error_text(), nullptr);
  EXPECT_EQ(codec.num_items, 0);

  EXPECT_FALSE(codec.setup(2, type1.data(), 4));
  EXPECT_STREQ(codec.error_text(), with_suffix("compressor 4 not supported").c_str());
  EXPECT_FALSE(codec.setup(0, type1.data(), 2));
  EXPECT_STREQ(codec.error_text(), with_suffix("number of items cannot be zero").c_str());
  EXPECT_FALSE(codec.setup(2, nullptr, 2));
  EXPECT_STREQ(codec.error_text(), with_suffix("items pointer cannot be NULL").c_str());
}

TEST(Pakrel, SetupRestoresTheDefaultChunkSizeExceptForThePerPointCompressor) {
  const auto type1 = items_of_type(1, 28);
  Pakrel chunked;
  chunked.chunk_size = 0;
  ASSERT_TRUE(chunked.setup(2, type1.data(), Pakrel::COMPRESSOR_CHUNKED));
  EXPECT_EQ(chunked.chunk_size, 50000u);

  Pakrel per_point;
  per_point.chunk_size = 0;
  ASSERT_TRUE(per_point.setup(2, type1.data(), Pakrel::COMPRESSOR_PER_POINT));
  EXPECT_EQ(per_point.chunk_size, 0u);
}

TEST(Pakrel, ChangeChunkSizeNeedsSetupAndAChunkedCompressor) {
  Pakrel empty;
  EXPECT_FALSE(empty.change_chunk_size(1000));
  EXPECT_STREQ(empty.error_text(), with_suffix("call setup() before setting chunk size").c_str());

  Pakrel chunked = set_up(items_of_type(6, 30), Pakrel::COMPRESSOR_LAYERED);
  EXPECT_TRUE(chunked.change_chunk_size(0));
  EXPECT_EQ(chunked.chunk_size, 0u);
  EXPECT_TRUE(chunked.change_chunk_size(1000));
  EXPECT_EQ(chunked.chunk_size, 1000u);

  Pakrel per_point = set_up(items_of_type(1, 28), Pakrel::COMPRESSOR_PER_POINT);
  EXPECT_FALSE(per_point.change_chunk_size(1000));
  EXPECT_EQ(per_point.error_text(), nullptr);
  EXPECT_EQ(per_point.chunk_size, 50000u);
}

TEST(Pakrel, ValidateItemNamesTheSizeFaultBeforeTheVersionFault) {
  struct Case {
    LASitem item;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {item(LASitem::BYTE, 0, 3), "BYTE has size < 1"},
      {item(LASitem::BYTE, 1, 3), "BYTE has version > 2"},
      {item(LASitem::POINT10, 21, 0), "POINT10 has size != 20"},
      {item(LASitem::POINT10, 20, 3), "POINT10 has version > 2"},
      {item(LASitem::POINT10, 20, 0), nullptr},
      {item(LASitem::GPSTIME11, 4, 0), "GPSTIME11 has size != 8"},
      {item(LASitem::GPSTIME11, 8, 5), "GPSTIME11 has version > 2"},
      {item(LASitem::RGB12, 8, 0), "RGB12 has size != 6"},
      {item(LASitem::RGB12, 6, 3), "RGB12 has version > 2"},
      {item(LASitem::WAVEPACKET13, 28, 0), "WAVEPACKET13 has size != 29"},
      {item(LASitem::WAVEPACKET13, 29, 2), "WAVEPACKET13 has version > 1"},
      {item(LASitem::POINT14, 20, 1), "POINT14 has size != 30"},
      {item(LASitem::POINT14, 30, 1), "POINT14 has version != 0 and != 2 and != 3 and != 4"},
      {item(LASitem::POINT14, 30, 2), nullptr},
      {item(LASitem::POINT14, 30, 4), nullptr},
      {item(LASitem::POINT14, 30, 5), "POINT14 has version != 0 and != 2 and != 3 and != 4"},
      {item(LASitem::RGB14, 8, 3), "RGB14 has size != 6"},
      {item(LASitem::RGB14, 6, 1), "RGB14 has version != 0 and != 2 and != 3 and != 4"},
      {item(LASitem::RGBNIR14, 6, 3), "RGBNIR14 has size != 8"},
      {item(LASitem::RGBNIR14, 8, 1), "RGBNIR14 has version != 0 and != 2 and != 3 and != 4"},
      {item(LASitem::WAVEPACKET14, 30, 3), "WAVEPACKET14 has size != 29"},
      {item(LASitem::WAVEPACKET14, 29, 2), "WAVEPACKET14 has version != 0 and != 3 and != 4"},
      {item(LASitem::WAVEPACKET14, 29, 4), nullptr},
      {item(LASitem::BYTE14, 0, 3), "BYTE14 has size < 1"},
      {item(LASitem::BYTE14, 9, 1), "BYTE14 has version != 0 and != 2 and != 3 and != 4"},
      {item(static_cast<LASitem::Type>(3), 20, 1), "item unknown (3,20,1)"},
      {item(static_cast<LASitem::Type>(15), 2, 0), "item unknown (15,2,0)"},
  };
  for (const Case& c : cases) {
    Pakrel codec;
    SCOPED_TRACE(c.message ? c.message : LASitem::type_name(c.item.type));
    EXPECT_EQ(codec.validate_item(c.item), c.message == nullptr);
    if (c.message) {
      EXPECT_STREQ(codec.error_text(), with_suffix(c.message).c_str());
    }
  }
}

TEST(Pakrel, ValidateChecksCompressorCoderAndThePointSize) {
  Pakrel codec = set_up(items_of_type(3, 40), Pakrel::COMPRESSOR_CHUNKED);
  EXPECT_TRUE(codec.validate(40));
  EXPECT_TRUE(codec.validate(0));
  EXPECT_FALSE(codec.validate(34));
  EXPECT_STREQ(codec.error_text(),
               with_suffix("point has size of 34 but items only add up to 40 bytes").c_str());
  codec.coder = 1;
  EXPECT_FALSE(codec.validate(40));
  EXPECT_STREQ(codec.error_text(), with_suffix("coder 1 not supported").c_str());
  codec.coder = 0;
  codec.compressor = 9;
  EXPECT_FALSE(codec.validate(40));
  EXPECT_STREQ(codec.error_text(), with_suffix("compressor 9 not supported").c_str());
  // A count that claims more items than are held is a missing list, not a read past it.
  codec.compressor = 2;
  codec.num_items = 9;
  EXPECT_FALSE(codec.validate(40));
  EXPECT_STREQ(codec.error_text(), with_suffix("items pointer cannot be NULL").c_str());
}

TEST(Pakrel, ClassifyItemsRecognisesEveryStandardLayoutWithAndWithoutExtraBytes) {
  for (int type = 0; type <= 10; type++) {
    for (int extra : {0, 3}) {
      const auto items = items_of_type(type, point_type_base_size(type) + extra);
      Pakrel codec;
      std::uint8_t point_type = 0;
      std::uint16_t record_length = 0;
      SCOPED_TRACE("type " + std::to_string(type) + " extra " + std::to_string(extra));
      EXPECT_TRUE(codec.classify_items(static_cast<std::uint16_t>(items.size()), items.data(),
                                       point_type, record_length));
      EXPECT_EQ(point_type, type);
      EXPECT_EQ(record_length, point_type_base_size(type) + extra);
    }
  }
}

TEST(Pakrel, ClassifyItemsTellsWhichListsAreNotStandard) {
  struct Case {
    std::vector<LASitem> items;
    int point_type;  // 127: not standard
  };
  const LASitem p10 = item(LASitem::POINT10, 20), p14 = item(LASitem::POINT14, 30);
  const LASitem gps = item(LASitem::GPSTIME11, 8), rgb = item(LASitem::RGB12, 6);
  const LASitem wave13 = item(LASitem::WAVEPACKET13, 29), wave14 = item(LASitem::WAVEPACKET14, 29);
  const LASitem nir14 = item(LASitem::RGBNIR14, 8), rgb14 = item(LASitem::RGB14, 6);
  const LASitem byte = item(LASitem::BYTE, 4), byte14 = item(LASitem::BYTE14, 4);
  const Case cases[] = {
      {{p14, nir14, wave14}, 10},
      {{p14, nir14, wave13, byte}, 10},
      {{p14, wave13}, 9},
      {{p14, byte}, 6},
      {{p14, rgb14, byte}, 7},
      {{p14, nir14, byte14}, 8},
      {{p10, byte}, 0},
      {{p10, gps, byte}, 1},
      {{p10, rgb, gps}, 127},   // GPS time after the colour
      {{p10, byte, gps}, 127},  // a byte item that is not the last
      {{p10, gps, rgb, byte, wave13}, 127},
      {{p10, byte14}, 127},  // types 0-5 take BYTE only
      {{p14, rgb}, 127},
      {{p10, item(LASitem::GPSTIME11, 9)}, 127},  // the size must match too
      {{p10, item(LASitem::BYTE, 0)}, 127},
  };
  for (const Case& c : cases) {
    Pakrel codec;
    std::uint8_t point_type = 0;
    std::uint16_t record_length = 0;
    const bool standard = codec.classify_items(static_cast<std::uint16_t>(c.items.size()),
                                               c.items.data(), point_type, record_length);
    EXPECT_EQ(point_type, c.point_type);
    EXPECT_EQ(standard, c.point_type != 127);
    if (!standard) {
      EXPECT_STREQ(codec.error_text(),
                   with_suffix("LASitem array matches no LAS 1.4 point type").c_str());
    }
  }
}

TEST(Pakrel, ClassifyItemsRejectsEmptyLongAndHeadlessLists) {
  Pakrel codec;
  std::uint8_t point_type = 0;
  std::uint16_t record_length = 0;
  const std::vector<LASitem> six(6, item(LASitem::BYTE, 1));
  EXPECT_FALSE(codec.classify_items(0, six.data(), point_type, record_length));
  EXPECT_EQ(point_type, 127);
  EXPECT_STREQ(codec.error_text(), with_suffix("less than one LASitem entries").c_str());
  EXPECT_FALSE(codec.classify_items(6, six.data(), point_type, record_length));
  EXPECT_STREQ(codec.error_text(), with_suffix("more than five LASitem entries").c_str());
  EXPECT_FALSE(codec.classify_items(2, nullptr, point_type, record_length));
  EXPECT_STREQ(codec.error_text(), with_suffix("LASitem array is zero").c_str());
  // The first-item message is replaced by the general one.
  EXPECT_FALSE(codec.classify_items(2, six.data(), point_type, record_length));
  EXPECT_STREQ(codec.error_text(),
               with_suffix("LASitem array matches no LAS 1.4 point type").c_str());
  EXPECT_EQ(record_length, 2);
}

TEST(PakrelRecord, RoundTripsAndIsThirtyFourPlusSixBytesPerItem) {
  Pakrel codec = set_up(items_of_type(3, 34), Pakrel::COMPRESSOR_CHUNKED);
  ASSERT_TRUE(codec.choose_version(2));
  codec.options = 0x01020304;
  codec.chunk_size = 12345;
  codec.number_of_special_evlrs = 7;
  codec.offset_to_special_evlrs = 0x0102030405060708;

  ByteStreamOutArray out;
  ASSERT_TRUE(write_pakrel_record(out, codec));
  ASSERT_EQ(out.size(), 52);
  EXPECT_EQ(pakrel_record_length(3), 52);
  const std::vector<std::uint8_t> bytes(out.data(), out.data() + out.size());
  using codec_test::value_at;
  EXPECT_EQ(value_at<std::uint16_t>(bytes, kPakrelOffsetCompressor), 2);
  EXPECT_EQ(bytes[kPakrelOffsetVersionMajor], 3);
  EXPECT_EQ(bytes[kPakrelOffsetVersionMinor], 4);
  EXPECT_EQ(value_at<std::uint32_t>(bytes, kPakrelOffsetChunkSize), 12345u);
  EXPECT_EQ(value_at<std::int64_t>(bytes, kPakrelOffsetSpecialEvlrStart), 0x0102030405060708);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, kPakrelOffsetNumItems), 3);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 34 + 6 * 2), LASitem::RGB12);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 38 + 6 * 2), 2);

  ByteStreamInArray in(out.data(), out.size());
  Pakrel back;
  ASSERT_TRUE(read_pakrel_record(in, back));
  EXPECT_EQ(back.compressor, codec.compressor);
  EXPECT_EQ(back.options, codec.options);
  EXPECT_EQ(back.chunk_size, codec.chunk_size);
  EXPECT_EQ(back.number_of_special_evlrs, 7);
  EXPECT_EQ(back.offset_to_special_evlrs, codec.offset_to_special_evlrs);
  EXPECT_EQ(back.num_items, 3);
  EXPECT_EQ(back.items, codec.items);
  EXPECT_TRUE(back.validate(34));
}

TEST(PakrelRecord, ATruncatedRecordNamesTheFieldThatIsMissing) {
  Pakrel codec = set_up(items_of_type(3, 34), Pakrel::COMPRESSOR_CHUNKED);
  ByteStreamOutArray out;
  ASSERT_TRUE(write_pakrel_record(out, codec));
  struct Cut {
    int length;
    const char* message;
  };
  // A fresh descriptor prints its default value for the field it could not read.
  const Cut cuts[] = {
      {0, "ERROR: reading compressor 2\n"},
      {1, "ERROR: reading compressor 2\n"},
      {3, "ERROR: reading coder 0\n"},
      {4, "ERROR: reading version_major 3\n"},
      {5, "ERROR: reading version_minor 4\n"},
      {7, "ERROR: reading version_revision 3\n"},
      {10, "ERROR: reading options 0\n"},
      {15, "ERROR: reading chunk_size 50000\n"},
      {16, "ERROR: reading number_of_special_evlrs -1\n"},
      {31, "ERROR: reading offset_to_special_evlrs -1\n"},
      {33, "ERROR: reading num_items 0\n"},
      {34, "ERROR: reading type 0 of item 0\n"},
      {37, "ERROR: reading size 0 of item 0\n"},
      {39, "ERROR: reading version 0 of item 0\n"},
      {51, "ERROR: reading version 0 of item 2\n"},
  };
  for (const Cut& cut : cuts) {
    ByteStreamInArray in(out.data(), cut.length);
    Pakrel back;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_pakrel_record(in, back));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), cut.message);
  }
}

TEST(PakrelRecord, AFullDiskNamesTheFieldThatWasRefused) {
  Pakrel codec = set_up(items_of_type(1, 28), Pakrel::COMPRESSOR_CHUNKED);
  ASSERT_TRUE(codec.choose_version(2));
  struct Cut {
    std::size_t capacity;
    const char* message;
  };
  const Cut cuts[] = {
      {0, "ERROR: writing compressor 2\n"},         {8, "ERROR: writing options 0\n"},
      {12, "ERROR: writing chunk_size 50000\n"},    {34, "ERROR: writing type 6 of item 0\n"},
      {44, "ERROR: writing version 2 of item 1\n"},
  };
  for (const Cut& cut : cuts) {
    ByteStreamOutLimited out(cut.capacity);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_pakrel_record(out, codec));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), cut.message);
  }
  ByteStreamOutLimited full(100);
  EXPECT_TRUE(write_pakrel_record(full, codec));
  EXPECT_EQ(full.bytes().size(), 46u);
}

TEST(PakrelRecord, TheVlrHeadCarriesTheRecordIdUserIdAndDescription) {
  Pakrel codec = set_up(items_of_type(1, 28), Pakrel::COMPRESSOR_CHUNKED);
  ByteStreamOutArray out;
  ASSERT_TRUE(write_pakrel_vlr(out, codec));
  ASSERT_EQ(out.size(), 54 + 46);
  const std::vector<std::uint8_t> bytes(out.data(), out.data() + out.size());
  using codec_test::value_at;
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 0), 0xAABB);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[2]), 16),
            std::string("pakrel encoded\0\0", 16));
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 18), 22204);
  EXPECT_EQ(value_at<std::uint16_t>(bytes, 20), 46);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[22]), 32),
            std::string("by pakrel of Brindlex (200509)\0\0", 32));

  // A disk that fills up at each field of the head, and at the record after it.
  const std::pair<std::size_t, const char*> cuts[] = {
      {0, "ERROR: writing reserved 43707\n"},
      {10, "ERROR: writing user_id pakrel encoded\n"},
      {18, "ERROR: writing record_id 22204\n"},
      {20, "ERROR: writing record_length_after_header 46\n"},
      {40, "ERROR: writing description by pakrel of Brindlex (200509)\n"},
      {54, "ERROR: writing compressor 2\n"},
  };
  for (const auto& [capacity, message] : cuts) {
    ByteStreamOutLimited refused(capacity);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_pakrel_vlr(refused, codec)) << capacity;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
  }
}

TEST(PakrelRecord, RecordsOfRealFilesReadAndValidate) {
  struct Expected {
    const char* file;
    std::uint16_t compressor;
    std::vector<LASitem> items;
  };
  const Expected files[] = {
      {"simple.pkz",
       2,
       {item(LASitem::POINT10, 20, 2), item(LASitem::GPSTIME11, 8, 2), item(LASitem::RGB12, 6, 2)}},
      {"simple-v1.pkz",
       1,
       {item(LASitem::POINT10, 20, 1), item(LASitem::GPSTIME11, 8, 1), item(LASitem::RGB12, 6, 1)}},
      {"extrabytes.pkz",
       2,
       {item(LASitem::POINT10, 20, 2), item(LASitem::GPSTIME11, 8, 2), item(LASitem::RGB12, 6, 2),
        item(LASitem::BYTE, 27, 2)}},
      {"1_4_w_evlr.pkz", 3, {item(LASitem::POINT14, 30, 3)}},
      {"fullwave.pkz",
       3,
       {item(LASitem::POINT14, 30, 3), item(LASitem::RGBNIR14, 8, 3),
        item(LASitem::WAVEPACKET14, 29, 3)}},
  };
  for (const Expected& expected : files) {
    const auto file = codec_test::read_whole_file(codec_test::real_data_path(expected.file));
    if (!file) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
    SCOPED_TRACE(expected.file);
    const auto facts = codec_test::las_file_facts(*file);
    ASSERT_GE(facts.codec_payload, 0);
    EXPECT_EQ(facts.codec_payload_length, pakrel_record_length(expected.items.size()));
    ByteStreamInArray in(file->data() + facts.codec_payload, facts.codec_payload_length);
    Pakrel codec;
    ASSERT_TRUE(read_pakrel_record(in, codec));
    EXPECT_EQ(codec.compressor, expected.compressor);
    EXPECT_EQ(codec.items, expected.items);
    EXPECT_TRUE(codec.validate(facts.point_data_record_length))
        << (codec.error_text() ? codec.error_text() : "");
    std::uint8_t point_type;
    std::uint16_t record_length;
    EXPECT_TRUE(
        codec.classify_items(codec.num_items, codec.items.data(), point_type, record_length));
    EXPECT_EQ(point_type, facts.point_data_format & 0x3F);
  }
}

}  // namespace
