// Compressed files written by other producers, against their uncompressed twins: decoding
// the compressed point data block gives the twin's records byte for byte, and coding the
// twin's records with the same descriptor gives the producer's block byte for byte, from
// the first point to the end of the chunk table.
//
// The few header fields needed are parsed here on purpose without the project's LAS reader,
// so that a fault there cannot hide one here.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::las_file_facts;
using codec_test::LasFileFacts;
using codec_test::read_whole_file;
using codec_test::real_data_path;
using codec_test::value_at;

constexpr std::size_t kVersionMinorAt = 25;
constexpr std::size_t kStartOfFirstEvlrAt = 235;
constexpr std::size_t kNumberOfEvlrsAt = 243;

struct LasFile {
  std::vector<std::uint8_t> bytes;
  LasFileFacts facts;
  std::optional<Pakrel> codec;  // the descriptor of a compressed file

  // Where the point data block ends: at the first extended VLR, else at the end of the file.
  std::size_t block_end() const {
    if (bytes[kVersionMinorAt] >= 4 && value_at<std::uint32_t>(bytes, kNumberOfEvlrsAt) > 0) {
      return static_cast<std::size_t>(value_at<std::uint64_t>(bytes, kStartOfFirstEvlrAt));
    }
    return bytes.size();
  }
  const std::uint8_t* record(std::uint64_t index) const {
    return bytes.data() + facts.offset_to_point_data + index * facts.point_data_record_length;
  }
};

std::optional<LasFile> load(const char* name) {
  auto bytes = read_whole_file(real_data_path(name));
  if (!bytes) return std::nullopt;
  LasFile file;
  file.bytes = std::move(*bytes);
  file.facts = las_file_facts(file.bytes);
  if (file.facts.codec_payload >= 0) {
    ByteStreamInArray payload(file.bytes.data() + file.facts.codec_payload,
                              file.facts.codec_payload_length);
    Pakrel codec;
    if (read_pakrel_record(payload, codec)) file.codec = codec;
  }
  return file;
}

#define LOAD_OR_SKIP(variable, name)                                                         \
  auto variable##_loaded = load(name);                                                       \
  if (!variable##_loaded) GTEST_SKIP() << "real data not present: " << real_data_path(name); \
  const LasFile& variable = *variable##_loaded

// The descriptor the LAS writer builds for a point type and record length.
Pakrel writer_descriptor(const LasFile& las, std::uint16_t compressor, std::uint16_t version) {
  Pakrel codec;
  std::vector<LASitem> items;
  EXPECT_TRUE(codec.setup(items, las.facts.point_data_format, las.facts.point_data_record_length,
                          compressor));
  EXPECT_TRUE(codec.setup(static_cast<std::uint16_t>(items.size()), items.data(), compressor));
  EXPECT_TRUE(codec.choose_version(version));
  return codec;
}

// Decodes every point of a compressed file and compares its record with the twin's.
void expect_decodes_to_twin(const LasFile& pkz, const LasFile& las) {
  ASSERT_TRUE(pkz.codec);
  const Pakrel& codec = *pkz.codec;
  ASSERT_EQ(pkz.facts.number_of_points, las.facts.number_of_points);
  ASSERT_EQ(pkz.facts.point_data_record_length, las.facts.point_data_record_length);

  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  RawRecordLayout layout;
  ASSERT_TRUE(layout.init(codec.items));
  ASSERT_EQ(layout.record_size(), las.facts.point_data_record_length);

  ByteStreamInArray in(pkz.bytes.data(), static_cast<std::int64_t>(pkz.bytes.size()));
  ASSERT_TRUE(in.seek_to(pkz.facts.offset_to_point_data));
  LASreadEngine engine;
  ASSERT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
  ASSERT_TRUE(engine.attach(&in));

  std::vector<std::uint8_t> record(layout.record_size());
  std::uint64_t differing = 0;
  for (std::uint64_t i = 0; i < las.facts.number_of_points; i++) {
    ASSERT_TRUE(engine.read(point.item_data.data()))
        << "point " << i << ": " << (engine.error_text() ? engine.error_text() : "");
    layout.gather(point.item_data.data(), record.data());
    if (std::memcmp(record.data(), las.record(i), record.size()) != 0 && differing++ < 5) {
      ADD_FAILURE() << "point " << i << " differs from the twin's record";
    }
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_TRUE(engine.verify_end()) << (engine.error_text() ? engine.error_text() : "");
  EXPECT_EQ(engine.warning_text(), nullptr);
}

// Codes the twin's records with `codec` behind the compressed file's own header bytes (the
// chunk table pointer is an absolute position) and returns everything written.
std::vector<std::uint8_t> encode_twin(const LasFile& las, const LasFile& pkz, const Pakrel& codec) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(codec.items));

  ByteStreamOutArray out;
  EXPECT_TRUE(out.write_bytes(pkz.bytes.data(), pkz.facts.offset_to_point_data));
  LASwriteEngine engine;
  EXPECT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
  EXPECT_TRUE(engine.attach(&out));
  for (std::uint64_t i = 0; i < las.facts.number_of_points; i++) {
    layout.scatter(las.record(i), point.item_data.data());
    EXPECT_TRUE(engine.write(point.item_data.data()));
  }
  EXPECT_TRUE(engine.finish());
  return {out.data(), out.data() + out.size()};
}

void expect_same_block(const std::vector<std::uint8_t>& ours, const LasFile& pkz) {
  const std::size_t begin = pkz.facts.offset_to_point_data;
  const std::size_t end = pkz.block_end();
  ASSERT_EQ(ours.size(), end) << "the coded block has another length than the producer's";
  std::size_t first_difference = end;
  for (std::size_t i = begin; i < end; i++) {
    if (ours[i] != pkz.bytes[i]) {
      first_difference = i;
      break;
    }
  }
  EXPECT_EQ(first_difference, end)
      << "first differing byte at block offset " << first_difference - begin;
}

TEST(ItemCodecConformance, ChunkedVersion2DecodesToTheTwinsRecords) {
  LOAD_OR_SKIP(pkz, "simple.pkz");
  LOAD_OR_SKIP(las, "simple.las");
  ASSERT_TRUE(pkz.codec);
  EXPECT_EQ(pkz.codec->compressor, Pakrel::COMPRESSOR_CHUNKED);
  EXPECT_EQ(pkz.codec->items[0].version, 2);
  expect_decodes_to_twin(pkz, las);
}

TEST(ItemCodecConformance, PerPointVersion1DecodesToTheTwinsRecords) {
  LOAD_OR_SKIP(pkz, "simple-v1.pkz");
  LOAD_OR_SKIP(las, "simple.las");
  ASSERT_TRUE(pkz.codec);
  EXPECT_EQ(pkz.codec->compressor, Pakrel::COMPRESSOR_PER_POINT);
  EXPECT_EQ(pkz.codec->items[0].version, 1);
  expect_decodes_to_twin(pkz, las);
}

TEST(ItemCodecConformance, ExtraBytesDecodeToTheTwinsRecords) {
  LOAD_OR_SKIP(pkz, "extrabytes.pkz");
  LOAD_OR_SKIP(las, "extrabytes.las");
  ASSERT_TRUE(pkz.codec);
  EXPECT_EQ(pkz.codec->items.back().type, LASitem::BYTE);
  expect_decodes_to_twin(pkz, las);
}

TEST(ItemCodecConformance, DefaultSettingsCodeTheTwinToTheProducersBlock) {
  for (const auto& [las_name, pkz_name] :
       {std::pair{"simple.las", "simple.pkz"}, std::pair{"extrabytes.las", "extrabytes.pkz"}}) {
    SCOPED_TRACE(pkz_name);
    LOAD_OR_SKIP(pkz, pkz_name);
    LOAD_OR_SKIP(las, las_name);
    const Pakrel codec = writer_descriptor(las, Pakrel::COMPRESSOR_CHUNKED, 2);
    ASSERT_TRUE(pkz.codec);
    EXPECT_EQ(codec.items, pkz.codec->items);
    EXPECT_EQ(codec.chunk_size, pkz.codec->chunk_size);
    expect_same_block(encode_twin(las, pkz, codec), pkz);
  }
}

TEST(ItemCodecConformance, PerPointVersion1CodesTheTwinToTheProducersBlock) {
  LOAD_OR_SKIP(pkz, "simple-v1.pkz");
  LOAD_OR_SKIP(las, "simple.las");
  const Pakrel codec = writer_descriptor(las, Pakrel::COMPRESSOR_PER_POINT, 1);
  ASSERT_TRUE(pkz.codec);
  EXPECT_EQ(codec.items, pkz.codec->items);
  expect_same_block(encode_twin(las, pkz, codec), pkz);
}

}  // namespace
