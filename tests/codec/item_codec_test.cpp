// What the item codecs put into the coded stream in the cases where a round trip cannot
// tell a right choice from a wrong one: the stream of a writer is decoded here with freshly
// made models of the documented shapes, symbol by symbol, so a wrong context, prediction or
// symbol makes the decoded values differ.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/las_item_compressed_gpstime11.hpp"
#include "codec/las_item_compressed_point10.hpp"
#include "codec/las_item_compressed_rgb12.hpp"
#include "codec/las_item_compressed_wavepacket13.hpp"
#include "codec/running_median.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

// Codes items[1..] with `writer` after starting it with items[0], as the engine does.
template <class Writer, class Item>
std::vector<std::uint8_t> code_items(const std::vector<Item>& items) {
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  Writer writer(encoder);
  std::uint32_t context = 0;
  EXPECT_TRUE(writer.init(reinterpret_cast<const std::uint8_t*>(&items[0]), context));
  EXPECT_TRUE(encoder.init(&out));
  for (std::size_t i = 1; i < items.size(); i++) {
    EXPECT_TRUE(writer.write(reinterpret_cast<const std::uint8_t*>(&items[i]), context));
  }
  EXPECT_TRUE(encoder.done());
  return {out.data(), out.data() + out.size()};
}

// A decoder over a coded stream, with models made as the codecs make theirs.
struct Mirror {
  explicit Mirror(const std::vector<std::uint8_t>& bytes)
      : in(bytes.data(), static_cast<std::int64_t>(bytes.size())) {
    decoder.init(&in);
  }
  SymbolModel model(std::uint32_t symbols) {
    SymbolModel m(symbols, false);
    m.init();
    return m;
  }
  IntegerCoder coder(std::uint32_t bits, std::uint32_t contexts) {
    IntegerCoder c(&decoder, bits, contexts, 8, 0);
    c.init();
    return c;
  }
  ByteStreamInArray in;
  EntropyDecoder decoder;
};

Point10Record single_return(std::int32_t x, std::int32_t y, std::int32_t z,
                            std::uint16_t intensity) {
  Point10Record p{};
  p.x = x;
  p.y = y;
  p.z = z;
  p.intensity = intensity;
  p.return_byte = 1 | (1 << 3);  // return 1 of 1
  p.class_byte = 2;
  p.point_source_ID = 7;
  return p;
}

TEST(Point10v2, ARepeatedPointCodesItsIntensityAndItsHeightAgainstZeroOnce) {
  const Point10Record p = single_return(1000, 2000, 3000, 77);
  const auto bytes =
      code_items<LASwriteItemCompressed_POINT10_v2>(std::vector<Point10Record>{p, p, p});
  Mirror mirror(bytes);
  SymbolModel changed = mirror.model(64);
  IntegerCoder intensity = mirror.coder(16, 4);
  IntegerCoder dx = mirror.coder(32, 2);
  IntegerCoder dy = mirror.coder(32, 22);
  IntegerCoder z = mirror.coder(32, 20);

  // Second point: only the intensity "changed" (its memory starts at 0); single return:
  // class m = 0, depth l = 0, the single-return contexts; Z against a memory of 0.
  EXPECT_EQ(mirror.decoder.decode_symbol(changed), kPoint10v2ChangedIntensity);
  EXPECT_EQ(intensity.decompress(0, 0), 77);
  EXPECT_EQ(dx.decompress(0, 1), 0);
  EXPECT_EQ(dy.decompress(0, 0 + 1), 0);
  EXPECT_EQ(z.decompress(0, 0 + 1), 3000);
  // Third point: nothing changed; Z against the remembered 3000.
  EXPECT_EQ(mirror.decoder.decode_symbol(changed), 0u);
  EXPECT_EQ(dx.decompress(0, 1), 0);
  EXPECT_EQ(dy.decompress(0, 1), 0);
  EXPECT_EQ(z.decompress(3000, 1), 3000);
}

// The first point's intensity is not the memory of its class, which starts at 0: a second
// point that differs from the first only by an intensity of 0 changes nothing, and must
// decode with intensity 0, not the first point's.
TEST(Point10v2, ASecondPointOfIntensityZeroChangesNothingAndDecodesToZero) {
  const Point10Record p = single_return(1000, 2000, 3000, 77);
  Point10Record q = p;
  q.intensity = 0;
  const std::vector<Point10Record> points = {p, q, q};
  const auto bytes = code_items<LASwriteItemCompressed_POINT10_v2>(points);
  Mirror mirror(bytes);
  SymbolModel changed = mirror.model(64);
  EXPECT_EQ(mirror.decoder.decode_symbol(changed), 0u);

  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  EntropyDecoder decoder;
  LASreadItemCompressed_POINT10_v2 reader(decoder);
  std::uint32_t context = 0;
  ASSERT_TRUE(reader.init(in, reinterpret_cast<const std::uint8_t*>(&p), context));
  ASSERT_TRUE(decoder.init(&in));
  for (std::size_t i = 1; i < points.size(); i++) {
    Point10Record decoded{};
    reader.read(reinterpret_cast<std::uint8_t*>(&decoded), context);
    EXPECT_EQ(std::memcmp(&decoded, &points[i], sizeof(decoded)), 0) << "point " << i;
    EXPECT_EQ(decoded.intensity, 0) << "point " << i;
  }
}

TEST(Point10v2, ZeroReturnsOfReturnZeroIsTheLastReturnClass) {
  Point10Record p = single_return(0, 0, 500, 10);
  p.return_byte = 0;
  Point10Record q = p;
  q.intensity = 20;
  q.x = 9;
  const auto bytes =
      code_items<LASwriteItemCompressed_POINT10_v2>(std::vector<Point10Record>{p, q});
  Mirror mirror(bytes);
  SymbolModel changed = mirror.model(64);
  IntegerCoder intensity = mirror.coder(16, 4);
  IntegerCoder dx = mirror.coder(32, 2);
  EXPECT_EQ(mirror.decoder.decode_symbol(changed), kPoint10v2ChangedIntensity);
  EXPECT_EQ(intensity.decompress(0, 3), 20);  // class 15: context 3
  EXPECT_EQ(dx.decompress(0, 0), 9);          // not a single return: context 0
  EXPECT_EQ(kReturnClass[0][0], 15);
  EXPECT_EQ(kReturnDepth[0][0], 0);
}

TEST(GpsTime11v2, AlternatingTimeRangesSwitchSequencesInsteadOfCodingFullTimes) {
  const std::int64_t t0 = 0x4112598200000000ll;
  const std::int64_t far = t0 + (std::int64_t{1} << 40);
  const auto bytes = code_items<LASwriteItemCompressed_GPSTIME11_v2>(
      std::vector<std::int64_t>{t0, far, t0 + 1000, far + 500});
  Mirror mirror(bytes);
  SymbolModel multi = mirror.model(516);
  SymbolModel zero_diff = mirror.model(6);
  IntegerCoder time = mirror.coder(32, 9);

  // `far` is beyond 32 bits of every sequence: coded in full, opening sequence 1.
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 2u);
  EXPECT_EQ(time.decompress(static_cast<std::int32_t>(t0 >> 32), 8),
            static_cast<std::int32_t>(far >> 32));
  EXPECT_EQ(mirror.decoder.read_int(), static_cast<std::uint32_t>(far));
  // Back to sequence 0, three on from sequence 1; there a first difference.
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 2u + 3u);
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 1u);
  EXPECT_EQ(time.decompress(0, 0), 1000);
  // Sequence 0 has a difference now: the switch to sequence 1 is a multiplier symbol.
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 512u + 1u);
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 1u);
  EXPECT_EQ(time.decompress(0, 0), 500);
}

TEST(GpsTime11v2, RegularStepsCodeMultiplierOneAndTheFourthZeroMultiplierResetsTheStep) {
  const std::int64_t t = 0x4112598200000000ll;
  const auto bytes = code_items<LASwriteItemCompressed_GPSTIME11_v2>(std::vector<std::int64_t>{
      t, t + 100, t + 200, t + 201, t + 202, t + 203, t + 204, t + 205, t + 205});
  Mirror mirror(bytes);
  SymbolModel multi = mirror.model(516);
  SymbolModel zero_diff = mirror.model(6);
  IntegerCoder time = mirror.coder(32, 9);
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 1u);
  EXPECT_EQ(time.decompress(0, 0), 100);
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 1u);
  EXPECT_EQ(time.decompress(100, 1), 100);
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    // 1 / 100 rounds to multiplier 0: context 7, predicted by 0.
    EXPECT_EQ(mirror.decoder.decode_symbol(multi), 0u);
    EXPECT_EQ(time.decompress(0, 7), 1);
  }
  // The fourth made 1 the step: the next difference of 1 is multiplier 1 again.
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 1u);
  EXPECT_EQ(time.decompress(1, 1), 1);
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 511u);  // unchanged
}

TEST(GpsTime11v2, NegativeAndLargeMultipliersHaveTheirSymbolsAndContexts) {
  const std::int64_t t = 1000000;
  const auto bytes = code_items<LASwriteItemCompressed_GPSTIME11_v2>(
      std::vector<std::int64_t>{t, t + 10, t + 10 - 30, t - 20 + 10 * 600, t + 5980 - 10 * 30});
  Mirror mirror(bytes);
  SymbolModel multi = mirror.model(516);
  SymbolModel zero_diff = mirror.model(6);
  IntegerCoder time = mirror.coder(32, 9);
  EXPECT_EQ(mirror.decoder.decode_symbol(zero_diff), 1u);
  EXPECT_EQ(time.decompress(0, 0), 10);
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 500u + 3u);  // multiplier -3
  EXPECT_EQ(time.decompress(-30, 5), -30);
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 500u);  // 600 and more
  EXPECT_EQ(time.decompress(5000, 4), 6000);
  EXPECT_EQ(mirror.decoder.decode_symbol(multi), 510u);  // -30: -10 and less
  EXPECT_EQ(time.decompress(-100, 6), -300);
}

// Gaps that are no whole multiple of the step: 1.6, -1.6 and 2.5 steps round half away
// from zero to multipliers 2, -2 and 3, 0.4 and 0.6 steps to 0 and 1. Truncating would give
// 1, -1, 2, 0 and 0, other symbols and predictions, and so other bytes.
constexpr std::int64_t kStep = 100;
const std::vector<std::int64_t> kOffStepTimes = {1000000,       1000000 + 100, 1000000 + 260,
                                                 1000000 + 420, 1000000 + 260, 1000000 + 510,
                                                 1000000 + 550, 1000000 + 610};

TEST(GpsTime11v2, GapsOfFractionalStepsRoundTheMultiplierHalfAwayFromZero) {
  const auto bytes = code_items<LASwriteItemCompressed_GPSTIME11_v2>(kOffStepTimes);

  // The same stream coded by hand with the multipliers the rule gives.
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  ASSERT_TRUE(encoder.init(&out));
  SymbolModel multi(516, true), zero_diff(6, true);
  multi.init();
  zero_diff.init();
  IntegerCoder time(&encoder, 32, 9, 8, 0);
  time.init();
  encoder.encode_symbol(zero_diff, 1);  // the first difference becomes the step
  time.compress(0, kStep, 0);
  encoder.encode_symbol(multi, 2);  // +160: 1.6 steps
  time.compress(2 * kStep, 160, 2);
  encoder.encode_symbol(multi, 2);
  time.compress(2 * kStep, 160, 2);
  encoder.encode_symbol(multi, 500 + 2);  // -160: -1.6 steps
  time.compress(-2 * kStep, -160, 5);
  encoder.encode_symbol(multi, 3);  // +250: 2.5 steps
  time.compress(3 * kStep, 250, 2);
  encoder.encode_symbol(multi, 0);  // +40: 0.4 steps
  time.compress(0, 40, 7);
  encoder.encode_symbol(multi, 1);  // +60: 0.6 steps
  time.compress(kStep, 60, 1);
  ASSERT_TRUE(encoder.done());
  const std::vector<std::uint8_t> by_hand(out.data(), out.data() + out.size());
  EXPECT_EQ(bytes, by_hand);

  // And pinned, so that a change of the coder under both shows too.
  const std::vector<std::uint8_t> pinned = {0x34, 0xB5, 0xF7, 0xCB, 0x75, 0x58, 0xD3,
                                            0xCB, 0x6B, 0xDF, 0xAA, 0x7C, 0x87, 0xA5,
                                            0xAC, 0x0D, 0xD5, 0x00, 0x00, 0x00};
  EXPECT_EQ(bytes, pinned);
}

TEST(Rgb12v2, AGrayColourCodesOnlyItsRedBytes) {
  using Colour = std::array<std::uint16_t, 3>;
  const auto bytes = code_items<LASwriteItemCompressed_RGB12_v2>(
      std::vector<Colour>{{100, 100, 100}, {300, 300, 300}, {300, 300, 300}, {300, 301, 300}});
  Mirror mirror(bytes);
  SymbolModel used = mirror.model(128);
  SymbolModel red_low = mirror.model(256);
  SymbolModel red_high = mirror.model(256);
  SymbolModel green_low = mirror.model(256);
  // 300 = 0x12C: every byte changed, but the colour is gray (bit 6 clear).
  EXPECT_EQ(mirror.decoder.decode_symbol(used), 0x3Fu);
  EXPECT_EQ(mirror.decoder.decode_symbol(red_low), static_cast<std::uint8_t>(0x2C - 100));
  EXPECT_EQ(mirror.decoder.decode_symbol(red_high), 1u);
  EXPECT_EQ(mirror.decoder.decode_symbol(used), 0u);
  // Green low changed and red did not: green is predicted by its own last value.
  EXPECT_EQ(mirror.decoder.decode_symbol(used), kRgbv2NotGray | (1u << 2));
  EXPECT_EQ(mirror.decoder.decode_symbol(green_low), 1u);
}

TEST(WavePacket13v1, APacketRightAfterTheLastCodesOffsetKindOneAndNothingMore) {
  using Packet = std::array<std::uint8_t, 29>;
  auto packet = [](std::uint8_t index, std::uint64_t offset, std::uint32_t size) {
    Packet p{};
    p[0] = index;
    std::memcpy(p.data() + 1, &offset, 8);
    std::memcpy(p.data() + 9, &size, 4);
    return p;
  };
  const auto bytes = code_items<LASwriteItemCompressed_WAVEPACKET13_v1>(
      std::vector<Packet>{packet(1, 5000, 256), packet(1, 5256, 256),
                          packet(2, 5256 + 256 + 7, 300), packet(1, std::uint64_t{1} << 40, 300)});
  Mirror mirror(bytes);
  SymbolModel index = mirror.model(256);
  SymbolModel kinds[4] = {mirror.model(4), mirror.model(4), mirror.model(4), mirror.model(4)};
  IntegerCoder offset = mirror.coder(32, 1);
  IntegerCoder size = mirror.coder(32, 1);
  IntegerCoder location = mirror.coder(32, 1);
  IntegerCoder xyz = mirror.coder(32, 3);
  auto expect_rest = [&](std::int32_t last_size, std::int32_t new_size) {
    EXPECT_EQ(size.decompress(last_size, 0), new_size);
    EXPECT_EQ(location.decompress(0, 0), 0);
    for (std::uint32_t c = 0; c < 3; c++)
      EXPECT_EQ(xyz.decompress(0, c), 0);
  };
  EXPECT_EQ(mirror.decoder.decode_symbol(index), 1u);
  EXPECT_EQ(mirror.decoder.decode_symbol(kinds[0]), 1u);
  expect_rest(256, 256);
  EXPECT_EQ(mirror.decoder.decode_symbol(index), 2u);
  EXPECT_EQ(mirror.decoder.decode_symbol(kinds[1]), 2u);
  EXPECT_EQ(offset.decompress(0, 0), 256 + 7);
  expect_rest(256, 300);
  EXPECT_EQ(mirror.decoder.decode_symbol(index), 1u);
  EXPECT_EQ(mirror.decoder.decode_symbol(kinds[2]), 3u);
  EXPECT_EQ(mirror.decoder.read_int64(), std::uint64_t{1} << 40);
  expect_rest(300, 300);
}

TEST(WavePacket13v1, ASizeOfTwoToThe31OrMoreNeverStandsForAStepBackwards) {
  // The offset moves back by 2^32 - size: the same 32 bits as "last offset + size", but the
  // readers add the size unsigned, so it must be coded as a difference.
  using Packet = std::array<std::uint8_t, 29>;
  const std::uint32_t size = 0x80000010u;
  const std::uint64_t first = std::uint64_t{1} << 36;
  const std::uint64_t second = first + size - (std::uint64_t{1} << 32);
  Packet p{}, q{};
  std::memcpy(p.data() + 1, &first, 8);
  std::memcpy(p.data() + 9, &size, 4);
  q = p;
  std::memcpy(q.data() + 1, &second, 8);
  const auto bytes = code_items<LASwriteItemCompressed_WAVEPACKET13_v1>(std::vector<Packet>{p, q});

  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  EntropyDecoder decoder;
  LASreadItemCompressed_WAVEPACKET13_v1 reader(decoder);
  std::uint32_t context = 0;
  ASSERT_TRUE(reader.init(in, p.data(), context));
  ASSERT_TRUE(decoder.init(&in));
  Packet decoded{};
  reader.read(decoded.data(), context);
  EXPECT_EQ(decoded, q);
}

TEST(RunningMedian5, PredictsByTheMiddleOfFiveEvictingAsTheCodecsExpect) {
  RunningMedian5 median;
  median.reset();
  EXPECT_EQ(median.get(), 0);
  // Traced by hand from the insertion rule: the zeros of the start are pushed out from
  // below, a low value replaces the smallest, values below the middle push out the largest
  // until one at or above it turns the direction.
  const std::int32_t values[] = {5, 6, 7, 8, 9, 0, 1, 2, 100, 3};
  const std::int32_t medians[] = {0, 0, 5, 6, 7, 7, 6, 2, 2, 3};
  for (std::size_t i = 0; i < std::size(values); i++) {
    median.add(values[i]);
    EXPECT_EQ(median.get(), medians[i]) << "after adding " << values[i];
  }
}

// The window as a sorted list: drop its largest or smallest value, insert the new one, turn
// when a value comes in on the far side of the middle (or at it, when dropping the smallest).
TEST(RunningMedian5, AgreesWithASortedWindowOverLongRunsWithTiesAndExtremes) {
  std::mt19937 rng(31);
  const std::int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
  for (int run = 0; run < 40; run++) {
    RunningMedian5 median;
    median.reset();
    std::vector<std::int32_t> window(5, 0);
    bool drop_largest = true;
    const std::int32_t spread = run % 4 == 0 ? 3 : run % 4 == 1 ? 40 : 100000;
    for (int i = 0; i < 2000; i++) {
      std::int32_t x = static_cast<std::int32_t>(rng() % (2 * spread + 1)) - spread;
      if (run % 5 == 4 && i % 7 == 0) x = extremes[rng() % std::size(extremes)];
      const std::int32_t middle = window[2];
      window.erase(drop_largest ? window.end() - 1 : window.begin());
      window.insert(std::upper_bound(window.begin(), window.end(), x), x);
      drop_largest = drop_largest ? x < middle : x <= middle;
      median.add(x);
      ASSERT_EQ(median.get(), window[2]) << "run " << run << ", value " << i;
    }
  }
}

}  // namespace
