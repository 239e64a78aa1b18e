// Round trips and layer behaviour of the layered codecs of point types 6-10 through the
// engines, in both codec versions.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_layered_extras.hpp"
#include "codec/item_point14_layered.hpp"
#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

constexpr std::uint32_t kVariable = 0;

struct Layout {
  int point_type = 6;
  int extra_bytes = 0;
  std::uint16_t version = 3;
};

Pakrel layered_codec(const Layout& layout, std::uint32_t chunk_size) {
  Pakrel codec;
  std::vector<LASitem> items;
  EXPECT_TRUE(codec.setup(
      items, static_cast<std::uint8_t>(layout.point_type),
      static_cast<std::uint16_t>(point_type_base_size(layout.point_type) + layout.extra_bytes),
      Pakrel::COMPRESSOR_LAYERED));
  for (LASitem& item : items)
    item.version = layout.version;
  EXPECT_TRUE(codec.setup(static_cast<std::uint16_t>(items.size()), items.data(),
                          Pakrel::COMPRESSOR_LAYERED));
  codec.chunk_size = chunk_size;
  return codec;
}

LASpoint point_for(const Pakrel& codec) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  return point;
}

// Sets the core fields through the on-disk record, so that legacy and extended fields agree
// as a reader leaves them.
struct CoreValues {
  std::int32_t X = 0, Y = 0, Z = 0;
  std::uint16_t intensity = 0;
  std::uint8_t return_number = 1, number_of_returns = 1;
  std::uint8_t classification_flags = 0;  // synthetic, keypoint, withheld, overlap
  std::uint8_t channel = 0;
  bool scan_direction = false, edge = false;
  std::uint8_t classification = 0, user_data = 0;
  std::int16_t scan_angle = 0;
  std::uint16_t point_source_ID = 0;
  double gps_time = 0;
};

void set_core(LASpoint& point, const CoreValues& v) {
  std::uint8_t bytes[kPoint14Size];
  std::memcpy(bytes + 0, &v.X, 4);
  std::memcpy(bytes + 4, &v.Y, 4);
  std::memcpy(bytes + 8, &v.Z, 4);
  std::memcpy(bytes + 12, &v.intensity, 2);
  bytes[14] = static_cast<std::uint8_t>((v.return_number & 15) | (v.number_of_returns << 4));
  bytes[15] = static_cast<std::uint8_t>((v.classification_flags & 15) | ((v.channel & 3) << 4) |
                                        (v.scan_direction << 6) | (v.edge << 7));
  bytes[16] = v.classification;
  bytes[17] = v.user_data;
  std::memcpy(bytes + 18, &v.scan_angle, 2);
  std::memcpy(bytes + 20, &v.point_source_ID, 2);
  std::memcpy(bytes + 22, &v.gps_time, 8);
  point.read_point14(bytes);
}

// Points that exercise every branch: channels taking turns, returns up to 15 (and the odd
// impossible one), classifications above 31, all flags, GPS times that step, stand still,
// jump beyond 32 bits and alternate between flight lines, grays and colours, wave packets
// that follow each other or jump, extra bytes of which some never change.
class PointMaker {
 public:
  PointMaker(unsigned seed, int channels) : rng_(seed), channels_(channels) {
    line_time_[0] = 3.0e8;
    line_time_[1] = 3.0e8 + 5.0e5;
  }

  void next(LASpoint& point, std::uint64_t i) {
    CoreValues v;
    v.channel = static_cast<std::uint8_t>(channels_ > 1 ? (i / run_length()) % channels_ : 0);
    x_ += pick(-300, 300);
    y_ += pick(-50, 60);
    v.X = x_;
    v.Y = y_;
    v.Z = pick(-100000, 100000);
    if (i % 97 == 0) v.X = static_cast<std::int32_t>(rng_());  // far jumps wrap
    v.intensity = static_cast<std::uint16_t>(pick(0, 65535));
    v.number_of_returns = static_cast<std::uint8_t>(pick(1, 15));
    v.return_number = static_cast<std::uint8_t>(pick(1, v.number_of_returns));
    if (i % 53 == 0) v.return_number = static_cast<std::uint8_t>(pick(0, 15));  // impossible
    v.classification_flags = static_cast<std::uint8_t>(i % 40 < 20 ? 0 : pick(0, 15));
    v.scan_direction = pick(0, 1) != 0;
    v.edge = i % 100 == 0;
    v.classification = static_cast<std::uint8_t>(i % 30 < 10 ? 2 : pick(0, 255));
    v.user_data = static_cast<std::uint8_t>(i % 7 == 0 ? pick(0, 255) : 9);
    if (i % 11 == 0) angle_ = static_cast<std::int16_t>(pick(-30000, 30000));
    v.scan_angle = angle_;
    if (i % 500 == 0) source_ = static_cast<std::uint16_t>(pick(0, 65535));
    v.point_source_ID = source_;
    v.gps_time = next_time(i);
    set_core(point, v);

    if (point.has_rgb) {
      if (i % 5 == 0) {
        const auto gray = static_cast<std::uint16_t>(pick(0, 65535));
        colour_[0] = colour_[1] = colour_[2] = gray;
      } else if (i % 5 != 1) {
        for (int c = 0; c < 3; c++)
          colour_[c] = static_cast<std::uint16_t>(colour_[c] + pick(-300, 300));
      }
      if (i % 3 == 0) colour_[3] = static_cast<std::uint16_t>(pick(0, 65535));
      std::memcpy(point.rgb, colour_, sizeof(colour_));
    }
    if (point.has_wave_packet) {
      std::uint8_t* packet = point.wave_packet;
      packet[0] = static_cast<std::uint8_t>(i % 9 == 0 ? pick(0, 255) : 1);
      std::uint64_t offset;
      std::uint32_t size;
      std::memcpy(&offset, packet + 1, 8);
      std::memcpy(&size, packet + 9, 4);
      switch (i % 4) {
        case 0:
          offset += size;
          break;
        case 1:
          offset += static_cast<std::uint64_t>(pick(-100000, 100000));
          break;
        case 2:
          offset = (static_cast<std::uint64_t>(rng_()) << 32) | rng_();
          break;
        default:
          break;
      }
      size = static_cast<std::uint32_t>(i % 6 == 0 ? pick(0, 100000) : 256);
      std::memcpy(packet + 1, &offset, 8);
      std::memcpy(packet + 9, &size, 4);
      for (int f = 0; f < 4; f++) {
        const float value = static_cast<float>(pick(-1000, 1000)) / 7.0f;
        std::memcpy(packet + 13 + 4 * f, &value, 4);
      }
    }
    for (std::size_t b = 0; b < point.extra_bytes.size(); b++) {
      // Byte 2 varies, bytes divisible by 3 stay, the others change now and then.
      if (b == 2 || (b % 3 != 0 && i % (b + 2) == 0)) {
        point.extra_bytes[b] = static_cast<std::uint8_t>(pick(0, 255));
      }
    }
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  std::uint64_t run_length() const { return 1 + (channels_ % 3); }

  double next_time(std::uint64_t i) {
    switch (i % 211) {
      case 17:
        return std::numeric_limits<double>::quiet_NaN();
      case 18:
        return -0.0;
      case 19:
        return 0.0;
      case 40:
        return 1.0e300;  // far beyond any 32-bit difference of the bit patterns
      default:
        break;
    }
    // Two flight lines taking turns in stretches, each with its own steady pulse rate and
    // several returns per pulse time.
    const int line = (i / 40) % 2;
    if (pick(0, 3) != 0) line_time_[line] += 0.00001 * pick(1, 3);
    return line_time_[line];
  }

  std::mt19937 rng_;
  int channels_;
  std::int32_t x_ = 1000000, y_ = -2000000;
  std::int16_t angle_ = 0;
  std::uint16_t source_ = 7;
  std::uint16_t colour_[4] = {1000, 2000, 3000, 4000};
  double line_time_[2];
};

// The record bytes of a point as the raw item writers store them.
std::vector<std::uint8_t> raw_record(const LASpoint& point) {
  ByteStreamOutArray out;
  std::uint32_t context = 0;
  for (std::size_t i = 0; i < point.items.size(); i++) {
    auto writer = create_raw_item_writer(point.items[i]);
    writer->init(&out);
    EXPECT_TRUE(writer->write(point.item_data[i], context));
  }
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

struct Encoded {
  std::vector<std::vector<std::uint8_t>> records;
  std::vector<LASpoint> points;
  ByteStreamOutArray block;
};

// Codes `count` points; with variable chunks a chunk ends after every `close_every` points.
std::unique_ptr<Encoded> encode(const Pakrel& codec, std::uint64_t count, int channels,
                                unsigned seed, std::uint64_t close_every = 0) {
  auto encoded = std::make_unique<Encoded>();
  LASpoint point = point_for(codec);
  PointMaker maker(seed, channels);
  LASwriteEngine writer;
  EXPECT_TRUE(writer.setup(codec.num_items, codec.items.data(), &codec));
  EXPECT_TRUE(writer.attach(&encoded->block));
  for (std::uint64_t i = 0; i < count; i++) {
    maker.next(point, i);
    EXPECT_TRUE(writer.write(point.item_data.data()));
    encoded->records.push_back(raw_record(point));
    encoded->points.push_back(point);
    if (close_every && (i + 1) % close_every == 0) {
      EXPECT_TRUE(writer.close_chunk());
    }
  }
  EXPECT_TRUE(writer.finish());
  return encoded;
}

void expect_decodes_to(const Pakrel& codec, const Encoded& encoded,
                       std::uint32_t selective = kDecompressAll) {
  LASpoint point = point_for(codec);
  LASreadEngine reader(selective);
  ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(encoded.block.data(), encoded.block.size());
  ASSERT_TRUE(reader.attach(&in));
  for (std::size_t i = 0; i < encoded.records.size(); i++) {
    ASSERT_TRUE(reader.read(point.item_data.data()))
        << "point " << i << ": " << reader.error_text();
    ASSERT_EQ(raw_record(point), encoded.records[i]) << "point " << i;
    // The legacy fields are derived as the raw reader derives them.
    ASSERT_EQ(0, std::memcmp(&point, &encoded.points[i], kPoint10Size)) << "point " << i;
  }
  EXPECT_TRUE(reader.verify_end()) << reader.error_text();
}

struct RoundTripCase {
  int point_type;
  int extra_bytes;
  std::uint16_t version;
  int channels;
  std::uint32_t chunk_size;  // kVariable: chunks closed every 777 points
};

std::string case_name(const ::testing::TestParamInfo<RoundTripCase>& info) {
  const RoundTripCase& c = info.param;
  return "type" + std::to_string(c.point_type) + "_extra" + std::to_string(c.extra_bytes) + "_v" +
         std::to_string(c.version) + "_channels" + std::to_string(c.channels) + "_chunk" +
         (c.chunk_size == kVariable ? std::string("variable") : std::to_string(c.chunk_size));
}

class LayeredRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(LayeredRoundTrip, EveryPointComesBackAsItWasWritten) {
  const RoundTripCase& c = GetParam();
  const Pakrel codec = layered_codec({c.point_type, c.extra_bytes, c.version}, c.chunk_size);
  const auto encoded = encode(codec, 3000, c.channels, 100 + c.point_type * 7 + c.channels,
                              c.chunk_size == kVariable ? 777 : 0);
  expect_decodes_to(codec, *encoded);
}

INSTANTIATE_TEST_SUITE_P(
    PointTypes6To10, LayeredRoundTrip,
    ::testing::Values(RoundTripCase{6, 0, 3, 1, 50000}, RoundTripCase{6, 0, 4, 1, 50000},
                      RoundTripCase{6, 0, 3, 4, 1000}, RoundTripCase{6, 0, 4, 4, 1000},
                      RoundTripCase{6, 1, 3, 2, 1}, RoundTripCase{6, 40, 4, 3, 999},
                      RoundTripCase{7, 0, 3, 2, kVariable}, RoundTripCase{7, 0, 4, 2, kVariable},
                      RoundTripCase{7, 5, 3, 4, 50000}, RoundTripCase{8, 0, 3, 3, 700},
                      RoundTripCase{8, 0, 4, 3, 700}, RoundTripCase{8, 17, 4, 1, 2},
                      RoundTripCase{9, 0, 3, 4, kVariable}, RoundTripCase{9, 3, 4, 2, 128},
                      RoundTripCase{10, 0, 3, 4, 500}, RoundTripCase{10, 0, 4, 4, 500},
                      RoundTripCase{10, 24, 3, 1, kVariable}, RoundTripCase{10, 24, 4, 2, 50000}),
    case_name);

// ---------------------------------------------------------------------------------------
// Layers of one chunk, seen through the codec classes directly.

std::vector<std::uint32_t> sizes_of(ByteStreamOutArray& out, std::size_t count) {
  std::vector<std::uint32_t> sizes(count);
  EXPECT_EQ(out.size(), static_cast<std::int64_t>(4 * count));
  std::memcpy(sizes.data(), out.data(), 4 * count);
  return sizes;
}

TEST(LayeredPoint14, AChunkOfOnePointHasOnlyTheEndBytesOfTheFirstTwoLayers) {
  LASpoint point = point_for(layered_codec({6, 0, 3}, 50000));
  set_core(point, CoreValues{.X = 5, .classification = 40, .gps_time = 7.5});
  LASwriteItemCompressed_POINT14_v3 writer;
  std::uint32_t context = 0;
  ASSERT_TRUE(writer.init(point.item_data[0], context));
  ByteStreamOutArray sizes_out;
  ASSERT_TRUE(writer.write_layer_sizes(sizes_out));
  const std::vector<std::uint32_t> sizes = sizes_of(sizes_out, 9);
  EXPECT_GT(sizes[0], 0u);
  EXPECT_EQ(sizes[1], sizes[0]);
  for (int layer = 2; layer < 9; layer++)
    EXPECT_EQ(sizes[layer], 0u) << "layer " << layer;
  ByteStreamOutArray layers_out;
  ASSERT_TRUE(writer.write_layers(layers_out));
  EXPECT_EQ(layers_out.size(), sizes[0] + sizes[1]);
}

// GPS times (as bit patterns) whose gaps are 1.6, 1.6, -1.6, 2.5, 0.4 and 0.6 times the
// first one: the multipliers round half away from zero to 2, 2, -2, 3, 0 and 1; truncating
// would code other symbols against other predictions.
TEST(LayeredPoint14, GapsOfFractionalStepsRoundTheGpsMultiplierHalfAwayFromZero) {
  const std::int64_t base = 0x4112598200000000ll;
  const std::int64_t offsets[] = {0, 100, 260, 420, 260, 510, 550, 610};
  LASpoint point = point_for(layered_codec({6, 0, 3}, 50000));
  LASwriteItemCompressed_POINT14_v3 writer;
  std::uint32_t context = 0;
  for (std::size_t i = 0; i < std::size(offsets); i++) {
    CoreValues v{.X = 10, .Y = 20, .Z = 30};
    const std::int64_t bits = base + offsets[i];
    std::memcpy(&v.gps_time, &bits, 8);
    set_core(point, v);
    ASSERT_TRUE(i == 0 ? writer.init(point.item_data[0], context)
                       : writer.write(point.item_data[0], context));
  }
  ByteStreamOutArray sizes_out, layers_out;
  ASSERT_TRUE(writer.write_layer_sizes(sizes_out));
  ASSERT_TRUE(writer.write_layers(layers_out));
  const std::vector<std::uint32_t> sizes = sizes_of(sizes_out, 9);
  for (int layer = 2; layer < 8; layer++)
    EXPECT_EQ(sizes[layer], 0u) << "layer " << layer;
  ASSERT_EQ(layers_out.size(), sizes[0] + sizes[1] + sizes[8]);
  const std::uint8_t* gps_layer = layers_out.data() + sizes[0] + sizes[1];
  const std::vector<std::uint8_t> gps(gps_layer, gps_layer + sizes[8]);

  // The layer coded by hand with the multipliers the rule gives.
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  ASSERT_TRUE(encoder.init(&out));
  SymbolModel multiplier(515, true), zero_diff(5, true);
  multiplier.init();
  zero_diff.init();
  IntegerCoder time(&encoder, 32, 9, 8, 0);
  time.init();
  encoder.encode_symbol(zero_diff, 0);  // the first difference becomes the step
  time.compress(0, 100, 0);
  encoder.encode_symbol(multiplier, 2);  // 1.6 steps
  time.compress(200, 160, 2);
  encoder.encode_symbol(multiplier, 2);
  time.compress(200, 160, 2);
  encoder.encode_symbol(multiplier, 500 + 2);  // -1.6 steps
  time.compress(-200, -160, 5);
  encoder.encode_symbol(multiplier, 3);  // 2.5 steps
  time.compress(300, 250, 2);
  encoder.encode_symbol(multiplier, 0);  // 0.4 steps
  time.compress(0, 40, 7);
  encoder.encode_symbol(multiplier, 1);  // 0.6 steps
  time.compress(100, 60, 1);
  ASSERT_TRUE(encoder.done());
  EXPECT_EQ(gps, std::vector<std::uint8_t>(out.data(), out.data() + out.size()));

  // And pinned, so that a change of the coder under both shows too.
  const std::vector<std::uint8_t> pinned = {0x0C, 0x0E, 0xB5, 0x11, 0x0A, 0x40, 0x75,
                                            0x11, 0x76, 0x9F, 0x6D, 0x10, 0xAB, 0xA2,
                                            0xC9, 0x52, 0xCB, 0x00, 0x00, 0x00};
  EXPECT_EQ(gps, pinned);
}

TEST(LayeredPoint14, FieldsThatNeverChangeCostNoLayerAndReadAsTheFirstPoints) {
  const Pakrel codec = layered_codec({6, 0, 4}, 50000);
  LASpoint point = point_for(codec);
  LASwriteEngine writer;
  ByteStreamOutArray block;
  ASSERT_TRUE(writer.setup(codec.num_items, codec.items.data(), &codec));
  ASSERT_TRUE(writer.attach(&block));
  CoreValues v{.intensity = 300,
               .classification_flags = 0x9,
               .classification = 45,
               .user_data = 3,
               .scan_angle = -1234,
               .point_source_ID = 17};
  std::vector<CoreValues> written;
  for (int i = 0; i < 200; i++) {
    v.X = 1000 + 3 * i;
    v.Y = 2000 - 5 * i;
    v.Z = 100 + (i % 7);
    v.gps_time = 1000.0 + 0.001 * i;
    set_core(point, v);
    ASSERT_TRUE(writer.write(point.item_data.data()));
    written.push_back(v);
  }
  ASSERT_TRUE(writer.finish());

  // Block: chunk table pointer, the raw first point, the point count, then nine sizes.
  std::uint32_t sizes[9];
  std::memcpy(sizes, block.data() + 8 + kPoint14Size + 4, sizeof(sizes));
  EXPECT_GT(sizes[0], 0u);
  EXPECT_GT(sizes[1], 0u);
  for (int layer = 2; layer < 8; layer++)
    EXPECT_EQ(sizes[layer], 0u) << "layer " << layer;
  EXPECT_GT(sizes[8], 0u) << "GPS time";

  LASreadEngine reader;
  ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(block.data(), block.size());
  ASSERT_TRUE(reader.attach(&in));
  for (const CoreValues& expected : written) {
    ASSERT_TRUE(reader.read(point.item_data.data()));
    EXPECT_EQ(point.X, expected.X);
    EXPECT_EQ(point.Z, expected.Z);
    EXPECT_EQ(point.intensity, 300);
    EXPECT_EQ(point.extended_classification, 45);
    EXPECT_EQ(point.classification, 0) << "legacy classes stop at 31";
    EXPECT_EQ(point.extended_classification_flags, 0x9);
    EXPECT_EQ(point.synthetic_flag, 1);
    EXPECT_EQ(point.extended_scan_angle, -1234);
    EXPECT_EQ(point.point_source_ID, 17);
    EXPECT_EQ(point.gps_time, expected.gps_time);
  }
}

TEST(LayeredPoint14, Version3HandsOnTheChannelOnlyWhenItChangesVersion4OnEveryPoint) {
  LASpoint point = point_for(layered_codec({6, 0, 3}, 50000));
  for (const bool version4 : {false, true}) {
    std::unique_ptr<LASwriteItemCompressed> writer;
    if (version4) {
      writer = std::make_unique<LASwriteItemCompressed_POINT14_v4>();
    } else {
      writer = std::make_unique<LASwriteItemCompressed_POINT14_v3>();
    }
    set_core(point, CoreValues{.channel = 2});
    std::uint32_t context = 0;
    ASSERT_TRUE(writer->init(point.item_data[0], context));
    EXPECT_EQ(context, 2u) << "the chunk's first point names its channel in both versions";
    context = 0;
    ASSERT_TRUE(writer->write(point.item_data[0], context));
    EXPECT_EQ(context, version4 ? 2u : 0u);
    set_core(point, CoreValues{.channel = 1});
    context = 0;
    ASSERT_TRUE(writer->write(point.item_data[0], context));
    EXPECT_EQ(context, 1u);
  }
}

// Reads an encoded block, all points, with the given flags.
std::vector<LASpoint> decode_all(const Pakrel& codec, const Encoded& encoded,
                                 std::uint32_t selective) {
  std::vector<LASpoint> points;
  LASpoint point = point_for(codec);
  LASreadEngine reader(selective);
  EXPECT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(encoded.block.data(), encoded.block.size());
  EXPECT_TRUE(reader.attach(&in));
  for (std::size_t i = 0; i < encoded.points.size(); i++) {
    EXPECT_TRUE(reader.read(point.item_data.data())) << reader.error_text();
    points.push_back(point);
  }
  EXPECT_TRUE(reader.verify_end());
  return points;
}

TEST(LayeredSelectiveDecoding, LayerZeroAloneGivesXYAndReturnsAndTheFirstPointsOtherValues) {
  for (const int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    const Pakrel codec = layered_codec({8, 4, 3}, 1000);
    const auto encoded = encode(codec, 2500, channels, 5);
    const std::vector<LASpoint> decoded = decode_all(codec, *encoded, 0);
    for (std::size_t i = 0; i < decoded.size(); i++) {
      const LASpoint& got = decoded[i];
      const LASpoint& sent = encoded->points[i];
      const LASpoint& first = encoded->points[i - i % 1000];  // the chunk's first point
      ASSERT_EQ(got.X, sent.X) << i;
      ASSERT_EQ(got.Y, sent.Y) << i;
      ASSERT_EQ(got.extended_return_number, sent.extended_return_number) << i;
      ASSERT_EQ(got.extended_number_of_returns, sent.extended_number_of_returns) << i;
      ASSERT_EQ(got.extended_scanner_channel, sent.extended_scanner_channel) << i;
      ASSERT_EQ(got.Z, first.Z) << i;
      ASSERT_EQ(got.intensity, first.intensity) << i;
      ASSERT_EQ(got.extended_classification, first.extended_classification) << i;
      ASSERT_EQ(got.extended_scan_angle, first.extended_scan_angle) << i;
      ASSERT_EQ(got.user_data, first.user_data) << i;
      ASSERT_EQ(got.point_source_ID, first.point_source_ID) << i;
      ASSERT_EQ(0, std::memcmp(&got.gps_time, &first.gps_time, 8)) << i;
      ASSERT_EQ(0, std::memcmp(got.rgb, first.rgb, 8)) << i;
      ASSERT_EQ(got.extra_bytes, first.extra_bytes) << i;
    }
  }
}

TEST(LayeredSelectiveDecoding, AskingForEverythingDecodesAsTheFullDecode) {
  const Pakrel codec = layered_codec({10, 3, 4}, 600);
  const auto encoded = encode(codec, 2000, 2, 9);
  std::uint32_t every_flag = 0;
  for (std::uint32_t bit :
       {kDecompressZ, kDecompressClassification, kDecompressFlags, kDecompressIntensity,
        kDecompressScanAngle, kDecompressUserData, kDecompressPointSource, kDecompressGpsTime,
        kDecompressRgb, kDecompressNir, kDecompressWavePacket, kDecompressByte0,
        kDecompressByte0 << 1, kDecompressByte0 << 2}) {
    every_flag |= bit;
  }
  expect_decodes_to(codec, *encoded, every_flag);
  expect_decodes_to(codec, *encoded, kDecompressAll);
}

TEST(LayeredSelectiveDecoding, EachFlagDecodesItsOwnFieldsOnly) {
  const Pakrel codec = layered_codec({8, 0, 3}, 50000);
  const auto encoded = encode(codec, 1500, 1, 21);
  const std::vector<LASpoint> z_and_rgb =
      decode_all(codec, *encoded, kDecompressZ | kDecompressRgb);
  const std::vector<LASpoint> nir_and_time =
      decode_all(codec, *encoded, kDecompressNir | kDecompressGpsTime);
  const LASpoint& first = encoded->points[0];
  for (std::size_t i = 0; i < encoded->points.size(); i++) {
    const LASpoint& sent = encoded->points[i];
    ASSERT_EQ(z_and_rgb[i].Z, sent.Z);
    ASSERT_EQ(0, std::memcmp(z_and_rgb[i].rgb, sent.rgb, 6));
    ASSERT_EQ(z_and_rgb[i].rgb[3], first.rgb[3]) << "NIR was not asked for";
    ASSERT_EQ(0, std::memcmp(&z_and_rgb[i].gps_time, &first.gps_time, 8));
    ASSERT_EQ(nir_and_time[i].rgb[3], sent.rgb[3]);
    ASSERT_EQ(0, std::memcmp(nir_and_time[i].rgb, first.rgb, 6)) << "RGB was not asked for";
    ASSERT_EQ(0, std::memcmp(&nir_and_time[i].gps_time, &sent.gps_time, 8));
    ASSERT_EQ(nir_and_time[i].Z, first.Z);
  }
}

TEST(LayeredSelectiveDecoding, ExtraBytesBeyondTheSixteenthAreAlwaysDecoded) {
  const Pakrel codec = layered_codec({6, 24, 4}, 50000);
  const auto encoded = encode(codec, 800, 1, 33);
  const std::vector<LASpoint> decoded = decode_all(codec, *encoded, kDecompressByte0 << 2);
  const LASpoint& first = encoded->points[0];
  for (std::size_t i = 0; i < decoded.size(); i++) {
    const auto& got = decoded[i].extra_bytes;
    const auto& sent = encoded->points[i].extra_bytes;
    ASSERT_EQ(got[2], sent[2]) << "byte 2 was asked for";
    ASSERT_EQ(got[4], first.extra_bytes[4]) << "byte 4 was not";
    for (std::size_t b = 16; b < 24; b++)
      ASSERT_EQ(got[b], sent[b]) << "byte " << b;
  }
}

TEST(LayeredExtras, ExtraBytesThatNeverChangeWriteEmptyLayers) {
  const Pakrel codec = layered_codec({6, 6, 3}, 50000);
  const auto encoded = encode(codec, 400, 1, 2);
  // After the nine core sizes come the six byte layers' sizes.
  std::uint32_t sizes[15];
  std::memcpy(sizes, encoded->block.data() + 8 + 36 + 4, sizeof(sizes));
  EXPECT_EQ(sizes[9 + 0], 0u);
  EXPECT_EQ(sizes[9 + 3], 0u);
  EXPECT_GT(sizes[9 + 2], 0u);
  EXPECT_GT(sizes[9 + 1], 0u);
}

// Alternating channels with a fixed colour each: version 4 keeps one reference per channel
// and codes no change after the first points; version 3 codes every point against the
// reference it last started and so codes a change on every point.
TEST(LayeredExtras, Version4KeepsAColourReferencePerChannelVersion3CodesAgainstTheLastStarted) {
  std::uint32_t rgb_layer_size[2];
  for (const std::uint16_t version : {3, 4}) {
    const Pakrel codec = layered_codec({7, 0, version}, 50000);
    LASpoint point = point_for(codec);
    LASwriteEngine writer;
    ByteStreamOutArray block;
    ASSERT_TRUE(writer.setup(codec.num_items, codec.items.data(), &codec));
    ASSERT_TRUE(writer.attach(&block));
    for (int i = 0; i < 2000; i++) {
      set_core(point, CoreValues{.X = i, .channel = static_cast<std::uint8_t>(i % 2)});
      const std::uint16_t gray = i % 2 ? 50000 : 1000;
      point.rgb[0] = point.rgb[1] = point.rgb[2] = gray;
      ASSERT_TRUE(writer.write(point.item_data.data()));
    }
    ASSERT_TRUE(writer.finish());
    std::memcpy(&rgb_layer_size[version - 3], block.data() + 8 + 36 + 4 + 9 * 4, 4);

    // Whatever the version, the colours come back.
    LASreadEngine reader;
    ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
    ByteStreamInArray in(block.data(), block.size());
    ASSERT_TRUE(reader.attach(&in));
    for (int i = 0; i < 2000; i++) {
      ASSERT_TRUE(reader.read(point.item_data.data()));
      ASSERT_EQ(point.rgb[1], i % 2 ? 50000 : 1000) << "version " << version << " point " << i;
    }
  }
  EXPECT_GT(rgb_layer_size[0], 3 * rgb_layer_size[1]);
}

// ---------------------------------------------------------------------------------------
// Damaged data.

TEST(LayeredDamage, ALayerSizeBeyondTheDataEndsTheChunkWithoutAHugeAllocation) {
  const Pakrel codec = layered_codec({7, 0, 3}, 50000);
  auto encoded = encode(codec, 300, 2, 4);
  std::vector<std::uint8_t> bytes(encoded->block.data(),
                                  encoded->block.data() + encoded->block.size());
  const std::uint32_t huge = 0xFFFFFFF0u;
  std::memcpy(bytes.data() + 8 + 36 + 4 + 4, &huge, 4);  // layer 1 (Z)
  LASpoint point = point_for(codec);
  LASreadEngine reader;
  ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(reader.attach(&in));
  EXPECT_FALSE(reader.read(point.item_data.data()));
  EXPECT_STREQ(reader.error_text(), "end-of-file during chunk with index 0");
}

TEST(LayeredDamage, GarbageInALayerIsReportedAsACorruptChunkNotACrash) {
  const Pakrel codec = layered_codec({8, 0, 4}, 100);
  auto encoded = encode(codec, 300, 4, 8);
  std::vector<std::uint8_t> bytes(encoded->block.data(),
                                  encoded->block.data() + encoded->block.size());
  // Shorten layer 0 of the first chunk to 2 bytes: too short to start its decoder.
  std::uint32_t two = 2;
  std::uint32_t old_size;
  const std::size_t sizes_at = 8 + 38 + 4;
  std::memcpy(&old_size, bytes.data() + sizes_at, 4);
  std::memcpy(bytes.data() + sizes_at, &two, 4);
  LASpoint point = point_for(codec);
  LASreadEngine reader;
  ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(reader.attach(&in));
  EXPECT_FALSE(reader.read(point.item_data.data()));
  EXPECT_STREQ(reader.error_text(), "chunk with index 0 of 3 is corrupt");
  // The next chunk is intact and reads as written.
  ASSERT_TRUE(reader.read(point.item_data.data())) << reader.error_text();
  EXPECT_EQ(raw_record(point), encoded->records[100]);

  // Random garbage in the layer bytes of every chunk: reading ends each chunk with an error
  // or with wrong points, never with a crash or a hang.
  std::mt19937 rng(3);
  std::memcpy(bytes.data() + sizes_at, &old_size, 4);
  for (std::size_t at = sizes_at + 9 * 4 + 8 * 4; at < bytes.size() - 64; at += 7) {
    bytes[at] = static_cast<std::uint8_t>(rng());
  }
  ByteStreamInArray garbage(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ASSERT_TRUE(reader.attach(&garbage));
  for (int i = 0; i < 300; i++)
    reader.read(point.item_data.data());
}

}  // namespace

namespace {

TEST(LayeredSeeking, SeekingToAnyPointGivesWhatSequentialReadingGives) {
  for (const std::uint32_t chunk_size : {std::uint32_t{300}, kVariable}) {
    SCOPED_TRACE(chunk_size);
    const Pakrel codec = layered_codec({10, 2, 4}, chunk_size);
    const auto encoded = encode(codec, 1700, 3, 12, chunk_size == kVariable ? 410 : 0);
    LASpoint point = point_for(codec);
    LASreadEngine reader;
    ASSERT_TRUE(reader.setup(codec.num_items, codec.items.data(), &codec));
    ByteStreamInArray in(encoded->block.data(), encoded->block.size());
    ASSERT_TRUE(reader.attach(&in));
    std::int64_t next = 0;
    for (const std::int64_t target : {5, 4, 0, 299, 300, 301, 1699, 1000, 410, 820, 819, 1650}) {
      ASSERT_TRUE(reader.seek(next, target)) << target << ": " << reader.error_text();
      ASSERT_TRUE(reader.read(point.item_data.data())) << target;
      ASSERT_EQ(raw_record(point), encoded->records[target]) << "point " << target;
      next = target + 1;
    }
  }
}

}  // namespace
