// The layer copy of layered chunks: a chunk whose classification (or flags) is rewritten
// and whose other layers are copied must equal, byte for byte, the chunk that the full
// writer codes from the decoded points after the same change. Checked on the layered files
// of other producers and on generated chunks of point types 6-10, versions 3 and 4, with
// several scanner channels, returns and values; among them chunks whose rewritten layer
// was empty and is not after, and the reverse.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "codec/chunk_encoder.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/layered_chunk_recoder.hpp"
#include "codec/pakrel.hpp"
#include "codec/pakrel_record.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::read_whole_file;
using codec_test::real_data_path;
using Recoder = LASlayeredChunkRecoder;

constexpr std::size_t kFlagsAt = 15;  // of the stored POINT14 record
constexpr std::size_t kClassAt = 16;
constexpr std::uint8_t kWithheld = 0x04;

// Which points a case changes, and to what.
struct Change {
  const char* what;
  Recoder::Layer layer;
  // Point i of the chunk changes; for classes it becomes `value`.
  bool (*changes)(std::size_t i);
  std::uint8_t value;
};
const Change kChanges[] = {
    {"a few classified", Recoder::Layer::kClassification,
     [](std::size_t i) { return i % 13 == 5 || i == 0; }, 7},
    {"every point classified", Recoder::Layer::kClassification, [](std::size_t) { return true; },
     2},
    {"none classified", Recoder::Layer::kClassification, [](std::size_t) { return false; }, 7},
    {"a few flagged", Recoder::Layer::kFlags, [](std::size_t i) { return i % 11 == 3; }, 0},
    {"every point flagged", Recoder::Layer::kFlags, [](std::size_t) { return true; }, 0},
};

// The change applied to a stored record, as the noise tool's full path stores it.
void change_record(const Change& change, std::uint8_t* record) {
  if (change.layer == Recoder::Layer::kClassification) {
    record[kClassAt] = change.value;
  } else {
    record[kFlagsAt] |= kWithheld;
  }
}
void change_point(const Change& change, Recoder::Point& point) {
  if (change.layer == Recoder::Layer::kClassification) {
    point.classification = change.value;
  } else {
    point.flags |= kWithheld;
  }
}

std::uint32_t layer_size(const std::vector<std::uint8_t>& chunk, std::size_t record_size,
                         std::uint32_t layer) {
  std::uint32_t size;
  std::memcpy(&size, chunk.data() + record_size + 4 + 4 * layer, 4);
  return size;
}

// Recodes `chunk` (of the records `records`, `count` of them) under every change and
// compares with the full writer's chunk of the changed records.
void expect_recoding_equals_full_writer(const std::vector<LASitem>& items,
                                        const std::vector<std::uint8_t>& chunk,
                                        const std::uint8_t* records, std::uint32_t count) {
  RawRecordLayout layout;
  ASSERT_TRUE(layout.init(items));
  const std::size_t size = layout.record_size();
  LASchunkEncoder full;
  ASSERT_TRUE(full.setup(items, true, kItemCodecTable));
  {
    // The chunk as stored is what this writer makes of its points: else no copied layer
    // could equal the full writer's.
    ByteStreamOutArray again;
    ASSERT_TRUE(full.encode(records, count, again));
    ASSERT_EQ(std::vector<std::uint8_t>(again.data(), again.data() + again.size()), chunk);
  }
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    std::vector<std::uint8_t> changed(records, records + size * count);
    for (std::uint32_t i = 0; i < count; i++)
      if (change.changes(i)) change_record(change, changed.data() + i * size);
    ByteStreamOutArray expected;
    ASSERT_TRUE(full.encode(changed.data(), count, expected));

    // Decoded whole, or only the rewritten layer for points whose other fields are given
    // (the class and the flags other than the channel given wrong: they must be decoded).
    for (const bool with_point_source : {false, true})
      for (const bool given : {false, true}) {
        SCOPED_TRACE(given ? "layer only" : "whole");
        Recoder recoder;
        ASSERT_TRUE(recoder.setup(items, change.layer, with_point_source));
        std::vector<Recoder::Point> points;
        if (given) {
          points.resize(count);
          for (std::uint32_t i = 0; i < count; i++) {
            const std::uint8_t* record = records + i * size;
            std::memcpy(&points[i].X, record, 4);
            std::memcpy(&points[i].Y, record + 4, 4);
            std::memcpy(&points[i].Z, record + 8, 4);
            std::memcpy(&points[i].point_source_ID, record + 20, 2);
            points[i].returns = record[14];
            points[i].flags = static_cast<std::uint8_t>((record[kFlagsAt] & 0x30) | 0xC5);
            points[i].classification = 0xEE;
          }
          ASSERT_TRUE(recoder.decode_layer(chunk.data(), chunk.size(), count, points));
        } else {
          ASSERT_TRUE(recoder.decode(chunk.data(), chunk.size(), count, points));
        }
        for (std::uint32_t i = 0; i < count; i++) {
          const std::uint8_t* record = records + i * size;
          std::int32_t X, Y, Z;
          std::uint16_t point_source;
          std::memcpy(&X, record, 4);
          std::memcpy(&Y, record + 4, 4);
          std::memcpy(&Z, record + 8, 4);
          std::memcpy(&point_source, record + 20, 2);
          ASSERT_EQ(points[i].X, X) << i;
          ASSERT_EQ(points[i].Y, Y) << i;
          ASSERT_EQ(points[i].Z, Z) << i;
          ASSERT_EQ(points[i].returns, record[14]) << i;
          ASSERT_EQ(points[i].flags & 0x30, record[kFlagsAt] & 0x30) << i;
          if (with_point_source) {
            ASSERT_EQ(points[i].point_source_ID, point_source) << i;
          }
          if (change.layer == Recoder::Layer::kClassification) {
            ASSERT_EQ(points[i].classification, record[kClassAt]) << i;
          } else {
            ASSERT_EQ(points[i].flags, record[kFlagsAt]) << i;
          }
          if (change.changes(i)) change_point(change, points[i]);
        }
        ByteStreamOutArray recoded;
        ASSERT_TRUE(recoder.encode(points, recoded));
        ASSERT_EQ(std::vector<std::uint8_t>(recoded.data(), recoded.data() + recoded.size()),
                  std::vector<std::uint8_t>(expected.data(), expected.data() + expected.size()));
      }
  }
}

TEST(LayeredRecode, ChunksOfOtherProducersRecodeAsTheFullWriterCodesThem) {
  for (const char* name :
       {"1_4_w_evlr.pkz", "fullwave.pkz", "simple-varchunk.pkz", "autzen-clip-varchunk.pkz"}) {
    SCOPED_TRACE(name);
    auto file = read_whole_file(real_data_path(name));
    if (!file) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
    const codec_test::LasFileFacts facts = codec_test::las_file_facts(*file);
    ASSERT_GE(facts.codec_payload, 0);
    Pakrel codec;
    ByteStreamInArray payload(file->data() + facts.codec_payload, facts.codec_payload_length);
    ASSERT_TRUE(read_pakrel_record(payload, codec));

    // Every point, decoded by the engine into stored records.
    LASpoint point;
    ASSERT_TRUE(point.init_layout(nullptr, static_cast<std::uint16_t>(codec.items.size()),
                                  codec.items.data(), nullptr));
    RawRecordLayout layout;
    ASSERT_TRUE(layout.init(codec.items));
    const std::size_t size = layout.record_size();
    ByteStreamInArray stream(file->data(), static_cast<std::int64_t>(file->size()));
    LASreadEngine locator;
    ASSERT_TRUE(
        locator.setup(static_cast<std::uint32_t>(codec.items.size()), codec.items.data(), &codec));
    ASSERT_TRUE(stream.seek_to(facts.offset_to_point_data));
    ASSERT_TRUE(locator.attach(&stream));
    std::uint32_t chunks = 0;
    if (!locator.locate_stored_chunks(chunks) || chunks == 0) {
      // Nothing to copy from a file whose chunks are not located.
      continue;
    }
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> record(size);
    for (std::uint64_t i = 0; i < facts.number_of_points; i++) {
      if (!locator.read(point.item_data.data())) break;
      layout.gather(point.item_data.data(), record.data());
      records.insert(records.end(), record.begin(), record.end());
    }
    const std::uint64_t decoded = records.size() / size;
    std::uint64_t first = 0;
    for (std::uint32_t k = 0; k < chunks && first < decoded; k++) {
      SCOPED_TRACE(k);
      LASreadEngine::StoredChunk where;
      ASSERT_TRUE(locator.stored_chunk(k, where));
      const std::uint32_t count =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(where.points, decoded - first));
      std::vector<std::uint8_t> chunk(file->begin() + where.start,
                                      file->begin() + where.start + where.length);
      expect_recoding_equals_full_writer(codec.items, chunk, records.data() + first * size, count);
      first += count;
    }
  }
}

// Records of a point type with runs of scanner channels, returns of up to five (with some
// that do not add up, unless one class is asked for), classes and flags drawn from few
// values (or one), and items after POINT14 that vary.
std::vector<std::uint8_t> generated_records(const std::vector<LASitem>& items, std::uint32_t count,
                                            std::uint32_t seed, bool one_class) {
  std::mt19937 random(seed);
  auto draw = [&random](std::uint32_t below) {
    return static_cast<std::uint32_t>(random() % below);
  };
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(items));
  const std::size_t size = layout.record_size();
  std::vector<std::uint8_t> records(size * count);
  std::int32_t X = 1000, Y = 2000, Z = 300;
  std::uint32_t channel = 0, r = 1, n = 1;
  double time = 5000.0;
  for (std::uint32_t i = 0; i < count; i++) {
    std::uint8_t* record = records.data() + i * size;
    if (draw(40) == 0) channel = draw(4);
    if (r >= n) {
      n = 1 + draw(5);
      r = 1;
      time += 0.00001 * (1 + draw(3));
    } else {
      r++;
    }
    X += static_cast<std::int32_t>(draw(200)) - 100;
    Y += static_cast<std::int32_t>(draw(200)) - 100;
    Z += static_cast<std::int32_t>(draw(60)) - 30;
    std::memcpy(record + 0, &X, 4);
    std::memcpy(record + 4, &Y, 4);
    std::memcpy(record + 8, &Z, 4);
    const std::uint16_t intensity = static_cast<std::uint16_t>(draw(300));
    std::memcpy(record + 12, &intensity, 2);
    // Producers also store returns that do not add up: a return number or a number of
    // returns of 0, a return beyond the count. The class and flags layers are coded in
    // contexts of both, so a slip that swaps or drops one shows only on such points.
    std::uint32_t stored_r = r, stored_n = n;
    if (!one_class && draw(9) == 0) {
      const std::uint32_t odd = draw(4);
      stored_r = odd == 0 ? 0 : odd == 1 ? 1 + draw(7) : odd == 2 ? 1 + draw(3) + n : r;
      stored_n = odd == 1 || odd == 3 ? 0 : n;
    }
    record[14] = static_cast<std::uint8_t>(stored_r | (stored_n << 4));
    const std::uint8_t class_flags = draw(8) == 0 ? static_cast<std::uint8_t>(draw(16)) : 0;
    record[15] = static_cast<std::uint8_t>(class_flags | (channel << 4) | (draw(2) << 6));
    record[16] = one_class ? 2 : static_cast<std::uint8_t>(draw(3) == 0 ? 1 + draw(40) : 2);
    record[17] = static_cast<std::uint8_t>(draw(3));
    const std::int16_t angle = static_cast<std::int16_t>(draw(100));
    std::memcpy(record + 18, &angle, 2);
    const std::uint16_t source = static_cast<std::uint16_t>(7 + draw(30) / 29);
    std::memcpy(record + 20, &source, 2);
    std::memcpy(record + 22, &time, 8);
    for (std::size_t b = 30; b < size; b++) {
      const std::uint8_t previous = i > 0 ? record[b - size] : 0;
      record[b] = draw(4) == 0 ? static_cast<std::uint8_t>(draw(256)) : previous;
    }
  }
  return records;
}

TEST(LayeredRecode, GeneratedChunksOfEveryLayeredTypeAndVersionRecodeAsTheFullWriter) {
  for (std::uint8_t type = 6; type <= 10; type++) {
    for (const std::uint16_t version : {3, 4}) {
      for (const bool one_class : {false, true}) {
        SCOPED_TRACE(testing::Message() << "type " << int{type} << " version " << version
                                        << (one_class ? " one class" : " many classes"));
        Pakrel codec;
        std::vector<LASitem> items;
        const std::uint16_t extra_bytes = type == 8 ? 3 : 0;
        const std::uint16_t base[] = {30, 36, 38, 59, 67};
        ASSERT_TRUE(codec.setup(items, type,
                                static_cast<std::uint16_t>(base[type - 6] + extra_bytes),
                                Pakrel::COMPRESSOR_LAYERED));
        for (LASitem& item : items)
          item.version = version;
        for (const std::uint32_t count : {1u, 2u, 1500u}) {
          const std::vector<std::uint8_t> records =
              generated_records(items, count, type * 100 + version + count, one_class);
          LASchunkEncoder encoder;
          ASSERT_TRUE(encoder.setup(items, true, kItemCodecTable));
          ByteStreamOutArray stored;
          ASSERT_TRUE(encoder.encode(records.data(), count, stored));
          const std::vector<std::uint8_t> chunk(stored.data(), stored.data() + stored.size());
          if (one_class && count > 1) {
            // The case of an empty classification layer that the change fills.
            ASSERT_EQ(layer_size(chunk, records.size() / count, 2), 0u);
          }
          expect_recoding_equals_full_writer(items, chunk, records.data(), count);
        }
      }
    }
  }
}

TEST(LayeredRecode, AChunkThatDoesNotAddUpIsRefused) {
  Pakrel codec;
  std::vector<LASitem> items;
  ASSERT_TRUE(codec.setup(items, 6, 30, Pakrel::COMPRESSOR_LAYERED));
  const std::vector<std::uint8_t> records = generated_records(items, 100, 1, false);
  LASchunkEncoder encoder;
  ASSERT_TRUE(encoder.setup(items, true, kItemCodecTable));
  ByteStreamOutArray stored;
  ASSERT_TRUE(encoder.encode(records.data(), 100, stored));
  std::vector<std::uint8_t> chunk(stored.data(), stored.data() + stored.size());
  Recoder recoder;
  ASSERT_TRUE(recoder.setup(items, Recoder::Layer::kClassification, false));
  std::vector<Recoder::Point> points;
  EXPECT_TRUE(recoder.decode(chunk.data(), chunk.size(), 100, points));
  // Another count than the chunk's own, a chunk cut short, one with a byte too many.
  EXPECT_FALSE(recoder.decode(chunk.data(), chunk.size(), 99, points));
  EXPECT_FALSE(recoder.decode(chunk.data(), chunk.size() - 1, 100, points));
  chunk.push_back(0);
  EXPECT_FALSE(recoder.decode(chunk.data(), chunk.size(), 100, points));
  // A classification layer whose bytes run out (its size shrunk, layer 3 grown to match).
  chunk.pop_back();
  std::uint32_t class_size = layer_size(chunk, 30, 2);
  ASSERT_GT(class_size, 4u);
  const std::uint32_t shrunk = 4;
  const std::uint32_t grown = layer_size(chunk, 30, 3) + class_size - shrunk;
  std::memcpy(chunk.data() + 30 + 4 + 4 * 2, &shrunk, 4);
  std::memcpy(chunk.data() + 30 + 4 + 4 * 3, &grown, 4);
  EXPECT_FALSE(recoder.decode(chunk.data(), chunk.size(), 100, points));
  EXPECT_FALSE(recoder.decode_layer(chunk.data(), chunk.size(), 100, points));
  EXPECT_FALSE(recoder.decode_layer(chunk.data(), chunk.size(), 99, points));
  // Items the copy does not know.
  EXPECT_FALSE(recoder.setup(std::vector<LASitem>{{LASitem::POINT10, 20, 2}},
                             Recoder::Layer::kClassification, false));
}

}  // namespace
