#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_coder.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

struct Coded {
  std::int32_t prediction;
  std::int32_t real;
  std::uint32_t context;
};

struct Params {
  std::uint32_t bits, contexts, high_bits, range;
};

// Codes every value with one coder, decodes them with another and checks values and k.
void expect_round_trip(const Params& p, const std::vector<Coded>& values) {
  SCOPED_TRACE(::testing::Message() << "bits " << p.bits << " contexts " << p.contexts
                                    << " high_bits " << p.high_bits << " range " << p.range);
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  ASSERT_TRUE(encoder.init(&out));
  IntegerCoder compressor(&encoder, p.bits, p.contexts, p.high_bits, p.range);
  compressor.init();
  std::vector<std::uint32_t> ks;
  ks.reserve(values.size());
  for (const Coded& v : values) {
    compressor.compress(v.prediction, v.real, v.context);
    ks.push_back(compressor.get_k());
  }
  ASSERT_TRUE(encoder.done());

  ByteStreamInArray in(out.data(), out.size());
  EntropyDecoder decoder;
  ASSERT_TRUE(decoder.init(&in));
  IntegerCoder decompressor(&decoder, p.bits, p.contexts, p.high_bits, p.range);
  decompressor.init();
  for (std::size_t i = 0; i < values.size(); i++) {
    const Coded& v = values[i];
    ASSERT_EQ(decompressor.decompress(v.prediction, v.context), v.real)
        << "value " << i << " predicted by " << v.prediction;
    ASSERT_EQ(decompressor.get_k(), ks[i]) << "value " << i;
  }
  EXPECT_EQ(in.position(), out.size());
}

// Values of the coder's domain: uniform ones, near misses of the prediction, and extremes.
std::vector<Coded> values_for(const Params& p, std::uint64_t seed, std::size_t count) {
  std::mt19937_64 rng(seed);
  std::uint64_t domain = p.range ? p.range : (p.bits >= 1 && p.bits < 32 ? 1ull << p.bits : 0);
  auto draw = [&]() -> std::int32_t {
    return static_cast<std::int32_t>(domain ? rng() % domain : rng() & 0xFFFFFFFF);
  };
  std::vector<std::int32_t> extremes;
  if (domain) {
    extremes = {0, static_cast<std::int32_t>(domain - 1), static_cast<std::int32_t>(domain / 2),
                static_cast<std::int32_t>((domain - 1) / 2)};
  } else {
    extremes = {INT32_MIN, INT32_MAX, 0, -1, 1, INT32_MIN + 1};
  }
  std::vector<Coded> values;
  for (std::int32_t a : extremes) {
    for (std::int32_t b : extremes)
      values.push_back({a, b, 0});
  }
  std::int32_t previous = 0;
  while (values.size() < count) {
    const std::uint32_t context = static_cast<std::uint32_t>(rng() % p.contexts);
    std::int32_t real = draw();
    if (rng() % 2) {
      // A small difference from the previous value, kept inside the domain.
      const std::int64_t near = std::int64_t{previous} + static_cast<std::int64_t>(rng() % 41) - 20;
      if (!domain || (near >= 0 && near < static_cast<std::int64_t>(domain))) {
        real = static_cast<std::int32_t>(near);
      }
    }
    values.push_back({previous, real, context});
    previous = real;
  }
  return values;
}

TEST(IntegerCoder, EveryBitWidthRoundTripsAcrossItsWholeDomain) {
  for (std::uint32_t bits = 1; bits <= 32; bits++) {
    for (std::uint32_t high_bits : {8u, 1u, 11u}) {
      const Params p{bits, bits % 3 + 1, high_bits, 0};
      expect_round_trip(p, values_for(p, bits * 100 + high_bits, 3000));
    }
  }
}

TEST(IntegerCoder, BitsOutsideOneToThirtyOneCodeAnyThirtyTwoBitValue) {
  for (std::uint32_t bits : {0u, 32u, 40u}) {
    const Params p{bits, 2, 8, 0};
    expect_round_trip(p, values_for(p, bits, 20000));
  }
  // The differences of the extremes wrap: INT32_MIN - INT32_MAX is 1, and the difference
  // -2^31 is the lone member of class 32.
  expect_round_trip({32, 1, 8, 0}, {{INT32_MAX, INT32_MIN, 0},
                                    {INT32_MIN, INT32_MAX, 0},
                                    {0, INT32_MIN, 0},
                                    {INT32_MIN, 0, 0},
                                    {-1, INT32_MAX, 0}});
}

TEST(IntegerCoder, RangesCodeValuesBelowTheRange) {
  // Beyond 2^30 the wrapped sum of prediction and corrector can pass 2^31 and the range
  // correction misses; 2^31 itself works because adding and removing it is the same.
  for (std::uint32_t range : {2u, 3u, 5u, 7u, 100u, 255u, 256u, 1000u, 65535u, 65536u, 65537u,
                              1u << 20, 1u << 30, (1u << 30) + 1, 1u << 31}) {
    const Params p{16, 2, 8, range};
    expect_round_trip(p, values_for(p, range, 5000));
  }
}

TEST(IntegerCoder, ChunkTableCoderRoundTripsCountsAndLengths) {
  // The engines' chunk table: 32 bits, 2 contexts, 8 high bits. Counts in context 0 and
  // byte lengths in context 1, each predicted by the previous one of its kind.
  std::mt19937_64 rng(4);
  std::vector<Coded> values;
  std::int32_t count = 0, length = 0;
  for (int i = 0; i < 3000; i++) {
    const std::int32_t next_count = static_cast<std::int32_t>(rng() % 100000);
    const std::int32_t next_length = static_cast<std::int32_t>(rng() % 3000000);
    values.push_back({count, next_count, 0});
    values.push_back({length, next_length, 1});
    count = next_count;
    length = next_length;
  }
  expect_round_trip({32, 2, 8, 0}, values);
}

std::uint32_t next_lcg(std::uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<std::uint32_t>(state >> 32);
}

std::int32_t wrap32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

TEST(IntegerCoder, MixedCodersGiveTheBytesOfAnIndependentModel) {
  // Size and FNV-1a hash from a separate arbitrary-precision model of the coder. Four
  // coders share one encoder: 16 bits with 3 contexts, 32 bits with 2 (the chunk table's),
  // any 32-bit value with 11 high bits, and a range of 100.
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  ASSERT_TRUE(encoder.init(&out));
  IntegerCoder a(&encoder, 16, 3, 8, 0), b(&encoder, 32, 2, 8, 0), c(&encoder, 0, 1, 11, 0),
      d(&encoder, 16, 1, 8, 100);
  for (IntegerCoder* coder : {&a, &b, &c, &d})
    coder->init();
  std::uint64_t state = 777;
  std::int32_t pa = 0, pb = 0, pc = 0, pd = 0;
  for (int i = 0; i < 50000; i++) {
    const std::uint32_t r = next_lcg(state);
    const std::uint32_t v = next_lcg(state);
    std::int32_t real;
    switch (r % 4) {
      case 0:
        real = (r & 256) ? ((pa + static_cast<std::int32_t>(v % 65) - 32) % 65536 + 65536) % 65536
                         : static_cast<std::int32_t>(v % 65536);
        a.compress(pa, real, (r >> 9) % 3);
        pa = real;
        break;
      case 1:
        real = (r & 256) ? wrap32(v) : wrap32(std::int64_t{pb} + v % 2001 - 1000);
        b.compress(pb, real, (r >> 9) % 2);
        pb = real;
        break;
      case 2:
        real = wrap32(v << ((r >> 9) % 32));
        c.compress(pc, real, 0);
        pc = real;
        break;
      default:
        real = static_cast<std::int32_t>(v % 100);
        d.compress(pd, real, 0);
        pd = real;
    }
  }
  ASSERT_TRUE(encoder.done());
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::int64_t i = 0; i < out.size(); i++)
    hash = (hash ^ out.data()[i]) * 0x100000001b3ull;
  EXPECT_EQ(out.size(), 114885);
  EXPECT_EQ(hash, 12042721998150391318ull);
}

// k of one value coded by a fresh coder.
std::uint32_t class_of(std::uint32_t bits, std::int32_t prediction, std::int32_t real) {
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  encoder.init(&out);
  IntegerCoder coder(&encoder, bits);
  coder.init();
  coder.compress(prediction, real);
  encoder.done();
  return coder.get_k();
}

TEST(IntegerCoder, ClassesFollowTheMagnitudeOfTheWrappedDifference) {
  // 16 bits: 0 predicted by 65535 is the difference +1 once wrapped.
  EXPECT_EQ(class_of(16, 65535, 0), 0u);
  EXPECT_EQ(class_of(16, 5, 5), 0u);
  EXPECT_EQ(class_of(16, 5, 6), 0u);
  EXPECT_EQ(class_of(16, 5, 4), 1u);       // -1
  EXPECT_EQ(class_of(16, 5, 7), 1u);       // +2
  EXPECT_EQ(class_of(16, 5, 2), 2u);       // -3
  EXPECT_EQ(class_of(16, 0, 32768), 16u);  // -32768 after wrapping
  EXPECT_EQ(class_of(16, 0, 32767), 15u);
  EXPECT_EQ(class_of(32, 0, INT32_MIN), 32u);
  EXPECT_EQ(class_of(32, 0, INT32_MAX), 31u);
}

TEST(IntegerCoder, ParametersThatNeedAnImpossibleModelAreRefusedByInit) {
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  encoder.init(&out);
  IntegerCoder one_value_range(&encoder, 16, 1, 8, 1);
  EXPECT_THROW(one_value_range.init(), CodecCorruptData);
  IntegerCoder too_many_high_bits(&encoder, 16, 1, 12, 0);
  EXPECT_THROW(too_many_high_bits.init(), CodecCorruptData);
  IntegerCoder no_high_bits(&encoder, 16, 1, 0, 0);
  EXPECT_THROW(no_high_bits.init(), CodecCorruptData);
}

TEST(IntegerCoder, InitStartsTheModelsOverSoThatTheSameValuesCodeTheSameBytes) {
  ByteStreamOutArray out;
  EntropyEncoder encoder;
  IntegerCoder coder(&encoder, 32, 2, 8, 0);
  std::vector<std::uint8_t> runs[2];
  for (auto& run : runs) {
    out.clear();
    ASSERT_TRUE(encoder.init(&out));
    coder.init();
    for (std::int32_t i = 0; i < 1000; i++)
      coder.compress(i * 7, i * i, i % 2);
    ASSERT_TRUE(encoder.done());
    run.assign(out.data(), out.data() + out.size());
  }
  EXPECT_EQ(runs[0], runs[1]);
}

}  // namespace
