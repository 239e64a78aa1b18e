// Generated point records of every point type 0-5 coded and decoded again through the
// engines: every codec version, chunk sizes from one point to all points, variable chunks,
// extra bytes, GPS times that step, repeat, jump and interleave, colours that change and
// hold, wave packets.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "codec_test_support.hpp"
#include "pkz_test_support.hpp"

namespace {

using pkz_test::encode;
using pkz_test::expect_round_trip;
using pkz_test::make_codec;
using pkz_test::make_records;
using pkz_test::Records;
using pkz_test::Style;
using pkz_test::Times;

struct Case {
  int point_type;
  int extra_bytes;
  std::uint16_t compressor;
  std::uint16_t version;
  std::uint32_t chunk_size;
  Style style;
};

std::string describe(const Case& c) {
  return "point type " + std::to_string(c.point_type) + ", " + std::to_string(c.extra_bytes) +
         " extra bytes, compressor " + std::to_string(c.compressor) + ", version " +
         std::to_string(c.version) + ", chunk size " + std::to_string(c.chunk_size) +
         (c.style.random_fields ? ", random fields" : "") + ", times " +
         std::to_string(static_cast<int>(c.style.times));
}

void run(const Case& c, std::size_t count, std::uint32_t seed) {
  SCOPED_TRACE(describe(c));
  const Records records = make_records(c.point_type, c.extra_bytes, count, seed, c.style);
  const Pakrel codec = make_codec(records, c.compressor, c.version, c.chunk_size);
  expect_round_trip(records, codec, encode(records, codec));
}

TEST(ItemCodecRoundTrip, EveryPointTypeInBothVersionsAndChunkings) {
  std::uint32_t seed = 1;
  for (int point_type = 0; point_type <= 5; point_type++) {
    for (std::uint16_t version : {1, 2}) {
      for (std::uint16_t compressor : {Pakrel::COMPRESSOR_PER_POINT, Pakrel::COMPRESSOR_CHUNKED}) {
        run({point_type, 0, compressor, version, 5000, {}}, 12000, seed++);
      }
    }
  }
}

TEST(ItemCodecRoundTrip, RandomFieldsOfEveryItemSurviveInBothVersions) {
  std::uint32_t seed = 100;
  for (int point_type = 0; point_type <= 5; point_type++) {
    for (std::uint16_t version : {1, 2}) {
      run({point_type, 3, Pakrel::COMPRESSOR_CHUNKED, version, 1000, {true, Times::RANDOM}}, 3000,
          seed++);
    }
  }
}

TEST(ItemCodecRoundTrip, GpsTimesThatJumpRepeatAndInterleave) {
  std::uint32_t seed = 200;
  for (Times times : {Times::INTERLEAVED, Times::JUMPY, Times::RANDOM}) {
    for (std::uint16_t version : {1, 2}) {
      run({1, 0, Pakrel::COMPRESSOR_CHUNKED, version, 7000, {false, times}}, 20000, seed++);
    }
  }
}

TEST(ItemCodecRoundTrip, ExtraBytesFromOneToForty) {
  std::uint32_t seed = 300;
  for (int extra = 1; extra <= 40; extra += (extra < 4 ? 1 : 9)) {
    for (std::uint16_t version : {1, 2}) {
      run({3, extra, Pakrel::COMPRESSOR_CHUNKED, version, 2000, {}}, 4500, seed++);
      run({0, extra, Pakrel::COMPRESSOR_CHUNKED, version, 2000, {true, Times::SCENE}}, 1500,
          seed++);
    }
  }
}

TEST(ItemCodecRoundTrip, ChunksOfOneTwoAndAllPoints) {
  std::uint32_t seed = 400;
  for (std::uint32_t chunk_size : {1u, 2u, 3u, 999u, 1000u, 50000u}) {
    run({3, 2, Pakrel::COMPRESSOR_CHUNKED, 2, chunk_size, {}}, 1000, seed++);
    run({5, 0, Pakrel::COMPRESSOR_CHUNKED, 2, chunk_size, {}}, 1000, seed++);
  }
}

TEST(ItemCodecRoundTrip, VariableChunksEndWhereTheWriterClosedThem) {
  std::mt19937 rng(7);
  for (int point_type : {1, 3, 4}) {
    SCOPED_TRACE(point_type);
    const Records records = make_records(point_type, 5, 20000, 500 + point_type, {});
    const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 0);
    std::set<std::size_t> chunk_ends = {0, 1, 2, 3, 19999};  // 0: before any point, a no-op
    while (chunk_ends.size() < 40)
      chunk_ends.insert(rng() % records.count());
    const auto block = encode(records, codec, chunk_ends);
    expect_round_trip(records, codec, block);
  }
}

TEST(ItemCodecRoundTrip, VariableChunksWithoutACloseFormOneChunk) {
  const Records records = make_records(3, 0, 3000, 600, {});
  const Pakrel variable = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 0);
  const Pakrel fixed = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 50000);
  const auto variable_block = encode(records, variable);
  const auto fixed_block = encode(records, fixed);
  expect_round_trip(records, variable, variable_block);
  // The same one chunk; only the table differs (it holds the point count too).
  ASSERT_GT(variable_block.size(), fixed_block.size());
  const auto table_at = [](const std::vector<std::uint8_t>& block) {
    std::int64_t position;
    std::memcpy(&position, block.data(), 8);
    return position;
  };
  EXPECT_EQ(table_at(variable_block), table_at(fixed_block));
}

TEST(ItemCodecRoundTrip, AStreamThatCannotSeekPutsTheTablePositionAfterTheTable) {
  const Records records = make_records(1, 0, 5000, 700, {});
  const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 1000);
  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  RawRecordLayout layout;
  ASSERT_TRUE(layout.init(codec.items));
  codec_test::ByteStreamOutPipe pipe;
  LASwriteEngine engine;
  ASSERT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
  ASSERT_TRUE(engine.attach(&pipe));
  for (std::size_t i = 0; i < records.count(); i++) {
    layout.scatter(records.record(i), point.item_data.data());
    ASSERT_TRUE(engine.write(point.item_data.data()));
  }
  ASSERT_TRUE(engine.finish());
  const std::vector<std::uint8_t>& block = pipe.bytes();
  EXPECT_EQ(codec_test::value_at<std::int64_t>(block, 0), -1);
  // The same block as from a seekable stream, but for the pointer and the copy at the end.
  std::vector<std::uint8_t> seekable = encode(records, codec);
  ASSERT_EQ(block.size(), seekable.size() + 8);
  EXPECT_EQ(codec_test::value_at<std::int64_t>(block, block.size() - 8),
            codec_test::value_at<std::int64_t>(seekable, 0));
  EXPECT_TRUE(std::equal(seekable.begin() + 8, seekable.end(), block.begin() + 8));
  expect_round_trip(records, codec, block);
}

}  // namespace
