#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/item_coder.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

std::vector<std::uint8_t> bytes_of(const ByteStreamOutArray& out) {
  return {out.data(), out.data() + out.size()};
}

// ---------------------------------------------------------------------------------------
// Models

TEST(BitModel, StartsEvenAndAfterFourZerosUpdatesToTheDocumentedState) {
  BitModel model;
  EXPECT_EQ(model.prob0, 4096u);
  EXPECT_EQ(model.until_update, 4u);

  // Coding the four bits through the encoder exercises the same count-down as the decoder.
  EntropyEncoder encoder;
  ByteStreamOutArray out;
  ASSERT_TRUE(encoder.init(&out));
  for (int i = 0; i < 4; i++)
    encoder.encode_bit(model, 0);
  EXPECT_EQ(model.count0, 5u);
  EXPECT_EQ(model.count_all, 6u);
  EXPECT_EQ(model.prob0, 6826u);
  EXPECT_EQ(model.cycle, 5u);
  EXPECT_EQ(model.until_update, 5u);
  EXPECT_TRUE(encoder.done());
}

TEST(BitModel, KeepsBothBitsPossibleAfterLongOneSidedRuns) {
  for (std::uint32_t bit : {0u, 1u}) {
    BitModel model;
    for (int i = 0; i < 200000; i++) {
      if (bit == 0) model.count0++;
      if (--model.until_update == 0) model.update();
      ASSERT_GT(model.prob0, 0u);
      ASSERT_LT(model.prob0, 8192u);
      ASSERT_LE(model.count_all, 8192u);
      ASSERT_LE(model.cycle, 64u);
    }
  }
}

TEST(SymbolModel, EveryDecoderHasALookupTableCoveringEveryQuotientOfTheInterval) {
  // A value inside the interval gives quotients value / (length >> 15) up to 2^15 + 63:
  // the table covers them, in about two slots a symbol.
  for (std::uint32_t symbols : {2u, 3u, 16u, 17u, 256u, 2048u}) {
    SymbolModel model(symbols, false);
    ASSERT_NE(model.slots, nullptr);
    EXPECT_GE(model.lookup_size << model.lookup_shift, 32768u + 64u) << symbols;
    EXPECT_GE(model.lookup_size, 2 * symbols) << symbols;
    EXPECT_LE(model.lookup_size, 4 * symbols + 8) << symbols;
  }
  SymbolModel seventeen(17, false);
  EXPECT_EQ(seventeen.lookup_size, 65u);
  EXPECT_EQ(seventeen.lookup_shift, 9u);
  SymbolModel largest(2048, false);
  EXPECT_EQ(largest.lookup_size, 4104u);
  EXPECT_EQ(largest.lookup_shift, 3u);
  // The encoder never searches.
  EXPECT_EQ(SymbolModel(2048, true).slots, nullptr);
}

TEST(SymbolModel, ASymbolCountOutsideTwoTo2048IsCorruptData) {
  EXPECT_THROW(SymbolModel(0, false), CodecCorruptData);
  EXPECT_THROW(SymbolModel(1, true), CodecCorruptData);
  EXPECT_THROW(SymbolModel(2049, false), CodecCorruptData);
  EXPECT_NO_THROW(SymbolModel(2, false));
  EXPECT_NO_THROW(SymbolModel(2048, true));
}

TEST(SymbolModel, FreshModelSplitsTheIntervalEvenlyAndAdaptsInGrowingCycles) {
  SymbolModel model(4, true);
  model.init();
  EXPECT_EQ(model.cumulative[0], 0u);
  EXPECT_EQ(model.cumulative[1], 8192u);
  EXPECT_EQ(model.cumulative[2], 16384u);
  EXPECT_EQ(model.cumulative[3], 24576u);
  EXPECT_EQ(model.until_update, 5u);  // (4 + 6) >> 1
  EXPECT_EQ(model.total, 4u);
}

TEST(SymbolModel, HalvesItsCountsOnceTheTotalPassesTheLimitAndStaysDecodable) {
  SymbolModel model(3, false);
  model.init();
  for (int i = 0; i < 100000; i++) {
    model.counts[i % 7 == 0 ? 2 : 0]++;
    if (--model.until_update == 0) model.update();
    ASSERT_LE(model.total, 32768u);
    ASSERT_LT(model.cumulative[1], model.cumulative[2]);
    ASSERT_LT(model.cumulative[2], 32768u);
  }
  EXPECT_LE(model.cycle, (3u + 6u) * 8u);
}

// ---------------------------------------------------------------------------------------
// Exact bytes

TEST(EntropyEncoder, DoneRightAfterInitWritesOneAndThreeZeros) {
  EntropyEncoder encoder;
  ByteStreamOutArray out;
  ASSERT_TRUE(encoder.init(&out));
  ASSERT_TRUE(encoder.done());
  EXPECT_EQ(bytes_of(out), (std::vector<std::uint8_t>{0x01, 0x00, 0x00, 0x00}));
}

TEST(EntropyEncoder, AShortIsItsTwoBytesScaledByTheInterval) {
  // base = 0x1234 * 0xFFFF = 0x1233EDCC: out go 0x12 0x33; done adds 2^24 to 0xEDCC0000.
  EntropyEncoder encoder;
  ByteStreamOutArray out;
  ASSERT_TRUE(encoder.init(&out));
  encoder.write_short(0x1234);
  ASSERT_TRUE(encoder.done());
  EXPECT_EQ(bytes_of(out), (std::vector<std::uint8_t>{0x12, 0x33, 0xEE, 0x00, 0x00, 0x00}));
}

TEST(EntropyEncoder, InitWithoutAStreamFails) {
  EntropyEncoder encoder;
  EXPECT_FALSE(encoder.init(nullptr));
  EntropyDecoder decoder;
  EXPECT_FALSE(decoder.init(nullptr));
}

// A 64-bit linear congruential generator, so that the sequence below is reproducible in
// any language.
std::uint32_t next_lcg(std::uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<std::uint32_t>(state >> 32);
}

TEST(EntropyEncoder, MixedSequenceGivesTheBytesOfAnIndependentModelOfTheCoder) {
  // The size and FNV-1a hash were computed by a separate arbitrary-precision model of the
  // coder and its models. Round trips cannot catch a constant that encoder and decoder
  // share; this can.
  BitModel bit_models[3];
  const std::uint32_t sizes[5] = {2, 16, 17, 256, 2048};
  std::vector<SymbolModel> symbol_models;
  for (std::uint32_t n : sizes) {
    symbol_models.emplace_back(n, true);
    symbol_models.back().init();
  }
  EntropyEncoder encoder;
  ByteStreamOutArray out;
  ASSERT_TRUE(encoder.init(&out));
  std::uint64_t state = 12345;
  for (int i = 0; i < 100000; i++) {
    const std::uint32_t kind = next_lcg(state) % 6;
    const std::uint32_t r = next_lcg(state);
    if (kind <= 1) {
      encoder.encode_bit(bit_models[r % 3], (r >> 8) % 7 == 0 ? 1 : 0);
    } else if (kind <= 3) {
      SymbolModel& model = symbol_models[r % 5];
      std::uint32_t v = (r >> 8) % model.symbol_tally;
      if ((r >> 20) % 4 && model.symbol_tally > 2) v %= 3;
      encoder.encode_symbol(model, v);
    } else if (kind == 4) {
      const std::uint32_t n = 1 + r % 32;
      const std::uint32_t v = next_lcg(state);
      encoder.write_bits(n, n == 32 ? v : v & ((1u << n) - 1));
    } else {
      encoder.write_short(static_cast<std::uint16_t>(r >> 16));
    }
  }
  ASSERT_TRUE(encoder.done());
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::int64_t i = 0; i < out.size(); i++)
    hash = (hash ^ out.data()[i]) * 0x100000001b3ull;
  EXPECT_EQ(out.size(), 84053);
  EXPECT_EQ(hash, 13834525637760122364ull);
}

TEST(SymbolModel, InitialCountsOfOneCodeLikeNoInitialCounts) {
  std::vector<std::uint8_t> coded[2];
  for (int variant = 0; variant < 2; variant++) {
    SymbolModel model(40, true);
    const std::vector<std::uint32_t> ones(40, 1);
    model.init(variant ? ones.data() : nullptr);
    EntropyEncoder encoder;
    ByteStreamOutArray out;
    ASSERT_TRUE(encoder.init(&out));
    for (std::uint32_t i = 0; i < 5000; i++)
      encoder.encode_symbol(model, (i * i) % 40);
    ASSERT_TRUE(encoder.done());
    coded[variant] = bytes_of(out);
  }
  EXPECT_EQ(coded[0], coded[1]);
}

// ---------------------------------------------------------------------------------------
// Round trips of long mixed streams

enum class OpKind : std::uint8_t { kBit, kSymbol, kBits, kShort, kInt, kInt64 };

struct Op {
  OpKind kind;
  std::uint32_t model;  // model index, or the bit count of kBits
  std::uint64_t value;
};

struct ModelShape {
  std::uint32_t symbols;
  bool heavy_last;  // initial counts weighting the last symbol
};

// The alphabets cover both sides of the lookup threshold and both ends of the size range.
const std::vector<ModelShape> kModelShapes = {{2, false},    {16, false}, {17, false}, {256, false},
                                              {2048, false}, {256, true}, {17, true},  {3, false}};
constexpr std::uint32_t kBitModels = 4;

std::vector<std::uint32_t> initial_counts_for(const ModelShape& shape) {
  std::vector<std::uint32_t> counts(shape.symbols, 1);
  counts.back() = 5000;
  return counts;
}

std::vector<SymbolModel> make_models(bool encoding) {
  std::vector<SymbolModel> models;
  for (const ModelShape& shape : kModelShapes) {
    models.emplace_back(shape.symbols, encoding);
    if (shape.heavy_last) {
      const auto counts = initial_counts_for(shape);
      models.back().init(counts.data());
    } else {
      models.back().init();
    }
  }
  return models;
}

// Values drawn per model from a skewed distribution, so that the models adapt far from
// uniform; now and then a burst of one highly probable symbol after an improbable one.
std::vector<Op> make_mixed_ops(std::uint64_t seed, std::size_t count) {
  std::mt19937_64 rng(seed);
  std::vector<Op> ops;
  ops.reserve(count);
  while (ops.size() < count) {
    const std::uint32_t pick = static_cast<std::uint32_t>(rng() % 10000);
    if (pick < 3) {
      // Burst: a rare value, then a long run of the model's favourite.
      const std::uint32_t m = static_cast<std::uint32_t>(rng() % kModelShapes.size());
      const std::uint32_t n = kModelShapes[m].symbols;
      ops.push_back({OpKind::kSymbol, m, n - 1 - rng() % 2});
      const std::size_t run = 500 + rng() % 3000;
      for (std::size_t i = 0; i < run; i++)
        ops.push_back({OpKind::kSymbol, m, 0});
      const std::uint32_t b = static_cast<std::uint32_t>(rng() % kBitModels);
      ops.push_back({OpKind::kBit, b, 1});
      for (std::size_t i = 0; i < run; i++)
        ops.push_back({OpKind::kBit, b, 0});
    } else if (pick < 3000) {
      const std::uint32_t b = static_cast<std::uint32_t>(rng() % kBitModels);
      // Model b sees ones with probability about 1 / (2 + 8b).
      ops.push_back({OpKind::kBit, b, rng() % (2 + 8 * b) == 0 ? 1u : 0u});
    } else if (pick < 7500) {
      const std::uint32_t m = static_cast<std::uint32_t>(rng() % kModelShapes.size());
      const std::uint32_t n = kModelShapes[m].symbols;
      std::geometric_distribution<std::uint32_t> skew(m % 2 ? 0.05 : 0.3);
      std::uint32_t s = skew(rng);
      if (s >= n || rng() % 10 == 0) s = static_cast<std::uint32_t>(rng() % n);
      ops.push_back({OpKind::kSymbol, m, s});
    } else if (pick < 8800) {
      const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % 32);
      const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
      std::uint64_t v = rng() & mask;
      if (rng() % 8 == 0) v = mask;  // all ones: the top of the interval
      ops.push_back({OpKind::kBits, n, v});
    } else if (pick < 9300) {
      ops.push_back({OpKind::kShort, 0, rng() & 0xFFFF});
    } else if (pick < 9700) {
      ops.push_back({OpKind::kInt, 0, rng() & 0xFFFFFFFF});
    } else {
      ops.push_back({OpKind::kInt64, 0, rng()});
    }
  }
  return ops;
}

// Codes `ops` to `out`; returns what `done` says.
bool encode_ops_to(const std::vector<Op>& ops, ByteStreamOut& out) {
  std::vector<SymbolModel> symbol_models = make_models(true);
  std::vector<BitModel> bit_models(kBitModels);
  EntropyEncoder encoder;
  EXPECT_TRUE(encoder.init(&out));
  for (const Op& op : ops) {
    switch (op.kind) {
      case OpKind::kBit:
        encoder.encode_bit(bit_models[op.model], static_cast<std::uint32_t>(op.value));
        break;
      case OpKind::kSymbol:
        encoder.encode_symbol(symbol_models[op.model], static_cast<std::uint32_t>(op.value));
        break;
      case OpKind::kBits:
        encoder.write_bits(op.model, static_cast<std::uint32_t>(op.value));
        break;
      case OpKind::kShort:
        encoder.write_short(static_cast<std::uint16_t>(op.value));
        break;
      case OpKind::kInt:
        encoder.write_int(static_cast<std::uint32_t>(op.value));
        break;
      case OpKind::kInt64:
        encoder.write_int64(op.value);
        break;
    }
  }
  return encoder.done();
}

std::vector<std::uint8_t> encode_ops(const std::vector<Op>& ops) {
  ByteStreamOutArray out;
  EXPECT_TRUE(encode_ops_to(ops, out));
  return bytes_of(out);
}

// Decodes `ops` from `in`; returns the number of bytes the decoder consumed.
std::int64_t expect_decodes_from(const std::vector<Op>& ops, ByteStreamIn& in) {
  std::vector<SymbolModel> symbol_models = make_models(false);
  std::vector<BitModel> bit_models(kBitModels);
  EntropyDecoder decoder;
  EXPECT_TRUE(decoder.init(&in));
  for (std::size_t i = 0; i < ops.size(); i++) {
    const Op& op = ops[i];
    std::uint64_t got = 0;
    switch (op.kind) {
      case OpKind::kBit:
        got = decoder.decode_bit(bit_models[op.model]);
        break;
      case OpKind::kSymbol:
        got = decoder.decode_symbol(symbol_models[op.model]);
        break;
      case OpKind::kBits:
        got = decoder.read_bits(op.model);
        break;
      case OpKind::kShort:
        got = decoder.read_short();
        break;
      case OpKind::kInt:
        got = decoder.read_int();
        break;
      case OpKind::kInt64:
        got = decoder.read_int64();
        break;
    }
    if (got != op.value) {
      ADD_FAILURE() << "operation " << i << " of kind " << static_cast<int>(op.kind) << " decoded "
                    << got << " instead of " << op.value;
      return -1;
    }
  }
  decoder.done();
  return in.position();
}

std::int64_t expect_decodes(const std::vector<Op>& ops, const std::vector<std::uint8_t>& coded) {
  ByteStreamInArray in(coded.data(), static_cast<std::int64_t>(coded.size()));
  return expect_decodes_from(ops, in);
}

TEST(EntropyCoder, LongMixedStreamsDecodeToEveryValueAndEndExactlyAtTheLastByte) {
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    const std::vector<Op> ops = make_mixed_ops(seed, 600000);
    const std::vector<std::uint8_t> coded = encode_ops(ops);
    // Long enough to pass through the 8192-byte buffer many times.
    ASSERT_GT(coded.size(), 200000u) << "seed " << seed;
    // The decoder runs four bytes ahead of the encoder and `done` adds exactly the bytes
    // it needs, so a complete decode consumes the coded stream to its last byte.
    EXPECT_EQ(expect_decodes(ops, coded), static_cast<std::int64_t>(coded.size()))
        << "seed " << seed;
    EXPECT_EQ(coded[coded.size() - 1], 0);
    EXPECT_EQ(coded[coded.size() - 2], 0);
  }
}

TEST(EntropyCoder, ShortStreamsOfEveryLengthRoundTrip) {
  // Every length near the buffer halves, where `done` has to write one or both halves.
  const std::vector<Op> all = make_mixed_ops(7, 12000);
  for (std::size_t count : {0u, 1u, 2u, 3u, 10u, 100u, 1000u, 2500u, 2600u, 5000u, 5200u, 12000u}) {
    const std::vector<Op> ops(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
    const std::vector<std::uint8_t> coded = encode_ops(ops);
    EXPECT_EQ(expect_decodes(ops, coded), static_cast<std::int64_t>(coded.size()))
        << count << " operations";
  }
}

TEST(EntropyCoder, DecodesFromAFileWhoseBlocksEndAtEveryByte) {
  // The decoder takes several bytes at once while the stream's buffer holds four and one
  // at a time otherwise: blocks of 1 to 9 bytes put every boundary under every operation.
  const std::vector<Op> ops = make_mixed_ops(31, 3000);
  const std::vector<std::uint8_t> coded = encode_ops(ops);
  for (std::size_t block = 1; block <= 9; block++) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(coded.data(), 1, coded.size(), file.get()), coded.size());
    std::rewind(file.get());
    ByteStreamInFileLE in(file.get(), block);
    EXPECT_EQ(expect_decodes_from(ops, in), static_cast<std::int64_t>(coded.size()))
        << "blocks of " << block;
  }
}

TEST(EntropyCoder, EveryRawBitWidthRoundTripsItsExtremes) {
  std::vector<Op> ops;
  for (std::uint32_t n = 1; n <= 32; n++) {
    const std::uint64_t top = (std::uint64_t{1} << n) - 1;
    for (std::uint64_t v : {std::uint64_t{0}, std::uint64_t{1} & top, top, top >> 1}) {
      ops.push_back({OpKind::kBits, n, v});
    }
  }
  for (std::uint64_t v : {0ull, 0xFFFFull})
    ops.push_back({OpKind::kShort, 0, v});
  for (std::uint64_t v : {0ull, 0xFFFFFFFFull})
    ops.push_back({OpKind::kInt, 0, v});
  for (std::uint64_t v : {0ull, ~0ull, 0x8000000000000000ull})
    ops.push_back({OpKind::kInt64, 0, v});
  const std::vector<std::uint8_t> coded = encode_ops(ops);
  EXPECT_EQ(expect_decodes(ops, coded), static_cast<std::int64_t>(coded.size()));
}

// ---------------------------------------------------------------------------------------
// Carries

// Mirrors the encoder's interval for a stream of shorts only: from the start every short
// leaves the interval at 0xFFFF << 16 and puts out exactly two bytes. That lets the test
// steer the interval around 2^32 and make the encoder put out 0xFF bytes for as long as it
// likes, then choose the piece above 2^32, whose carry must turn the whole run into zeros.
struct ShortStreamPlan {
  std::vector<std::uint16_t> values;
  std::size_t run_start = 0;  // byte offset of the first 0xFF of the run
  std::size_t run_bytes = 0;
};

ShortStreamPlan plan_carry_run(std::uint64_t seed, std::size_t prefix_shorts,
                               std::size_t run_shorts, std::size_t suffix_shorts) {
  std::mt19937_64 rng(seed);
  ShortStreamPlan plan;
  std::uint32_t base = 0;
  constexpr std::uint64_t kPiece = 0xFFFF;  // the interval after >> 16, constant here
  constexpr std::uint64_t kTwo32 = std::uint64_t{1} << 32;
  auto code = [&](std::uint16_t v) {
    plan.values.push_back(v);
    base += static_cast<std::uint32_t>(v * kPiece);
    base <<= 16;  // two bytes out
  };
  // Distance from base to 2^32, as seen in the current output frame.
  auto distance = [&] { return kTwo32 - base; };
  auto straddles = [&] { return base != 0 && distance() < (kPiece << 16); };

  for (std::size_t i = 0; i < prefix_shorts || !straddles(); i++) {
    code(static_cast<std::uint16_t>(rng()));
  }
  plan.run_start = 2 * plan.values.size();
  // Stay in the piece holding 2^32 - 1: the top 16 bits of base become 0xFFFF.
  for (std::size_t i = 0; i < run_shorts; i++) {
    const std::uint64_t stay = (distance() - 1) / kPiece;
    if (stay >= 0xFFFF || (distance() - stay * kPiece) >= kPiece) break;
    code(static_cast<std::uint16_t>(stay));
  }
  plan.run_bytes = 2 * plan.values.size() - plan.run_start;
  // The next piece lies wholly above 2^32: base wraps and the carry walks the run.
  code(static_cast<std::uint16_t>((distance() - 1) / kPiece + 1));
  for (std::size_t i = 0; i < suffix_shorts; i++)
    code(static_cast<std::uint16_t>(rng()));
  return plan;
}

TEST(EntropyCoder, CarriesRunBackThroughLongRunsOfFFAcrossBothBufferHalvesAndTheWrap) {
  // Runs of up to 4000 bytes placed across the middle of the buffer, its end (where the
  // write position wraps) and later half boundaries.
  struct Case {
    std::size_t prefix_shorts, run_shorts;
  };
  for (const Case c : {Case{100, 20}, Case{1900, 400}, Case{3900, 500}, Case{1000, 1990},
                       Case{3000, 1990}, Case{5000, 1990}, Case{6100, 1500}, Case{2040, 10}}) {
    const ShortStreamPlan plan =
        plan_carry_run(c.prefix_shorts, c.prefix_shorts, c.run_shorts, 3000);
    ASSERT_EQ(plan.run_bytes, 2 * c.run_shorts) << "the planned run ended early";

    EntropyEncoder encoder;
    ByteStreamOutArray out;
    ASSERT_TRUE(encoder.init(&out));
    for (std::uint16_t v : plan.values)
      encoder.write_short(v);
    ASSERT_TRUE(encoder.done()) << "prefix " << c.prefix_shorts;
    const std::vector<std::uint8_t> coded = bytes_of(out);

    // The carry turned the whole run into zeros.
    for (std::size_t i = 0; i < plan.run_bytes; i++) {
      ASSERT_EQ(coded[plan.run_start + i], 0) << "prefix " << c.prefix_shorts << " byte " << i;
    }
    ByteStreamInArray in(coded.data(), static_cast<std::int64_t>(coded.size()));
    EntropyDecoder decoder;
    ASSERT_TRUE(decoder.init(&in));
    for (std::size_t i = 0; i < plan.values.size(); i++) {
      ASSERT_EQ(decoder.read_short(), plan.values[i])
          << "prefix " << c.prefix_shorts << " short " << i;
    }
    EXPECT_EQ(in.position(), static_cast<std::int64_t>(coded.size()));
  }
}

TEST(EntropyEncoder, ACarryThatWouldReachBytesAlreadyWrittenMakesDoneFail) {
  // A run longer than the buffer: its first bytes left for the stream before the carry.
  const ShortStreamPlan plan = plan_carry_run(11, 500, 4200, 10);
  ASSERT_EQ(plan.run_bytes, 8400u);
  EntropyEncoder encoder;
  ByteStreamOutArray out;
  ASSERT_TRUE(encoder.init(&out));
  for (std::uint16_t v : plan.values)
    encoder.write_short(v);
  EXPECT_FALSE(encoder.done());
}

// ---------------------------------------------------------------------------------------
// Failing output

// Accepts `capacity` bytes, then refuses every write.
class ByteStreamOutLimited : public ByteStreamOut {
 public:
  explicit ByteStreamOutLimited(std::size_t capacity) : storage_(capacity) {
    cursor_ = storage_.data();
    limit_ = storage_.data() + capacity;
  }
  bool can_seek() const override { return false; }
  std::int64_t position() const override { return cursor_ - storage_.data(); }
  bool seek_to(std::int64_t) override { return false; }
  bool seek_to_end() override { return false; }

 protected:
  bool write_slow(const std::uint8_t*, std::size_t) override { return false; }

 private:
  std::vector<std::uint8_t> storage_;
};

TEST(EntropyEncoder, DoneReportsAStreamThatRefusedBytesEvenEarlyOn) {
  const std::vector<Op> ops = make_mixed_ops(5, 30000);
  const std::size_t full_size = encode_ops(ops).size();
  ASSERT_GT(full_size, 3 * 4096u);
  // Refusing at the first flush of a half, in the middle, and only the last tail byte.
  for (std::size_t capacity :
       {std::size_t{0}, std::size_t{100}, std::size_t{5000}, full_size - 1}) {
    ByteStreamOutLimited out(capacity);
    EXPECT_FALSE(encode_ops_to(ops, out)) << "capacity " << capacity;
  }
  ByteStreamOutLimited roomy(full_size);
  EXPECT_TRUE(encode_ops_to(ops, roomy));
  // And the same encoder starts over cleanly on a good stream.
  EntropyEncoder encoder;
  ByteStreamOutLimited refusing(0);
  ASSERT_TRUE(encoder.init(&refusing));
  encoder.write_int(1);
  EXPECT_FALSE(encoder.done());
  ByteStreamOutArray good;
  ASSERT_TRUE(encoder.init(&good));
  encoder.write_int(1);
  EXPECT_TRUE(encoder.done());
}

// ---------------------------------------------------------------------------------------
// The decoder's lookup tables and its way of taking in bytes are shortcuts: on any input,
// valid or not, it must decode what the plain algorithm decodes and stop where that stops.

// The plain algorithm: each symbol found by a binary search over the multiples of the
// cumulative counts, bytes taken one at a time. Its models are encoding models, which adapt
// alike but have no table.
class PlainDecoder {
 public:
  explicit PlainDecoder(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  void init() {
    length_ = 0xFFFFFFFFu;
    value_ = 0;
    for (int i = 0; i < 4; i++)
      value_ = (value_ << 8) | next_byte();
  }

  std::uint32_t decode_bit(BitModel& model) {
    const std::uint32_t x = model.prob0 * (length_ >> kBitModelLengthShift);
    std::uint32_t bit = 0;
    if (value_ < x) {
      length_ = x;
      model.count0++;
    } else {
      bit = 1;
      value_ -= x;
      length_ -= x;
    }
    renormalise();
    if (--model.until_update == 0) model.update();
    return bit;
  }

  std::uint32_t decode_symbol(SymbolModel& model) {
    const std::uint32_t whole = length_;
    length_ >>= kSymbolModelLengthShift;
    std::uint32_t symbol = 0, x = 0, y = whole, n = model.symbol_tally;
    std::uint32_t k = n >> 1;
    do {
      const std::uint32_t z = length_ * model.cumulative[k];
      if (z > value_) {
        n = k;
        y = z;
      } else {
        symbol = k;
        x = z;
      }
    } while ((k = (symbol + n) >> 1) != symbol);
    value_ -= x;
    length_ = y - x;
    renormalise();
    model.counts[symbol]++;
    if (--model.until_update == 0) model.update();
    return symbol;
  }

  std::size_t position() const { return position_; }

 private:
  std::uint8_t next_byte() {
    if (position_ == bytes_.size()) throw ByteStreamEndOfData{};
    return bytes_[position_++];
  }
  void renormalise() {
    while (length_ < kCoderMinLength) {
      value_ = (value_ << 8) | next_byte();
      length_ <<= 8;
    }
  }

  const std::vector<std::uint8_t>& bytes_;
  std::size_t position_ = 0;
  std::uint32_t value_ = 0;
  std::uint32_t length_ = 0;
};

// Runs the bit and symbol operations of `ops` (values ignored) through the decoder and the
// plain algorithm side by side until both end; every value, the way they end (0 finished,
// 1 corrupt data, 2 end of data) and the bytes consumed must agree.
void expect_decodes_like_the_plain_algorithm(const std::vector<Op>& ops,
                                             const std::vector<std::uint8_t>& bytes,
                                             const std::string& what) {
  std::vector<SymbolModel> models = make_models(false);
  std::vector<SymbolModel> plain_models = make_models(true);
  std::vector<BitModel> bit_models(kBitModels), plain_bit_models(kBitModels);
  ByteStreamInArray in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  EntropyDecoder decoder;
  PlainDecoder plain(bytes);
  int end = 0, plain_end = 0;
  std::size_t i = 0;
  std::uint32_t got = 0, expected = 0;
  auto ending = [](auto&& step) {
    try {
      step();
    } catch (const CodecCorruptData&) {
      return 1;
    } catch (const ByteStreamEndOfData&) {
      return 2;
    }
    return 0;
  };
  end = ending([&] { decoder.init(&in); });
  plain_end = ending([&] { plain.init(); });
  for (; i < ops.size() && end == 0 && plain_end == 0; i++) {
    const Op& op = ops[i];
    if (op.kind == OpKind::kBit) {
      end = ending([&] { got = decoder.decode_bit(bit_models[op.model]); });
      plain_end = ending([&] { expected = plain.decode_bit(plain_bit_models[op.model]); });
    } else if (op.kind == OpKind::kSymbol) {
      end = ending([&] { got = decoder.decode_symbol(models[op.model]); });
      plain_end = ending([&] { expected = plain.decode_symbol(plain_models[op.model]); });
    } else {
      continue;
    }
    if (end == 0 && plain_end == 0 && got != expected) {
      ADD_FAILURE() << what << ": operation " << i << " decoded " << got << " instead of "
                    << expected;
      return;
    }
  }
  EXPECT_EQ(end, plain_end) << what << ": operation " << i;
  EXPECT_EQ(static_cast<std::size_t>(in.position()), plain.position()) << what;
}

TEST(EntropyDecoder, DecodesValidStreamsLikeThePlainAlgorithm) {
  for (std::uint64_t seed = 20; seed < 24; seed++) {
    const std::vector<Op> ops = make_mixed_ops(seed, 60000);
    expect_decodes_like_the_plain_algorithm(ops, encode_ops(ops), "seed " + std::to_string(seed));
  }
}

TEST(EntropyDecoder, DecodesGarbageLikeThePlainAlgorithmUpToTheSameFailure) {
  for (std::uint64_t seed = 0; seed < 300; seed++) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> garbage(16 + rng() % 400);
    for (auto& b : garbage)
      b = static_cast<std::uint8_t>(rng());
    // Ones start the value at the top of the interval, the largest quotients.
    if (seed % 3 == 0) std::fill(garbage.begin() + 4, garbage.end(), 0xFF);
    std::vector<Op> ops(4000);
    for (Op& op : ops) {
      op.kind = rng() % 4 == 0 ? OpKind::kBit : OpKind::kSymbol;
      op.model = static_cast<std::uint32_t>(op.kind == OpKind::kBit ? rng() % kBitModels
                                                                    : rng() % kModelShapes.size());
    }
    expect_decodes_like_the_plain_algorithm(ops, garbage, "seed " + std::to_string(seed));
  }
}

// ---------------------------------------------------------------------------------------
// Corrupt and truncated input

TEST(EntropyDecoder, RandomBytesEndInCorruptDataOrEndOfDataNeverInAHang) {
  for (std::uint64_t seed = 0; seed < 40; seed++) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> garbage(2000 + rng() % 3000);
    for (auto& b : garbage)
      b = static_cast<std::uint8_t>(rng());
    ByteStreamInArray in(garbage.data(), static_cast<std::int64_t>(garbage.size()));
    EntropyDecoder decoder;
    SymbolModel large(2048, false), small(5, false);
    large.init();
    small.init();
    BitModel bit;
    bool corrupt = false, ended = false;
    // Every call consumes input or throws, so the loop ends well before this bound.
    for (std::size_t i = 0; i < 10 * garbage.size() + 10 && !corrupt && !ended; i++) {
      try {
        if (i == 0) decoder.init(&in);
        switch (rng() % 5) {
          case 0:
            decoder.read_bits(1 + static_cast<std::uint32_t>(rng() % 32));
            break;
          case 1:
            decoder.read_short();
            break;
          case 2:
            ASSERT_LT(decoder.decode_symbol(large), 2048u);
            break;
          case 3:
            ASSERT_LT(decoder.decode_symbol(small), 5u);
            break;
          default:
            ASSERT_LE(decoder.decode_bit(bit), 1u);
        }
      } catch (const CodecCorruptData&) {
        corrupt = true;
      } catch (const ByteStreamEndOfData&) {
        ended = true;
      }
    }
    EXPECT_TRUE(corrupt || ended) << "seed " << seed;
  }
}

TEST(EntropyDecoder, ShortsReadFromAllOnesAreCorrupt) {
  // A code value at the very top of the interval is no value an encoder can leave.
  std::vector<std::uint8_t> ones(64, 0xFF);
  ByteStreamInArray in(ones.data(), static_cast<std::int64_t>(ones.size()));
  EntropyDecoder decoder;
  ASSERT_TRUE(decoder.init(&in));
  EXPECT_THROW(
      {
        for (int i = 0; i < 64; i++)
          decoder.read_short();
      },
      CodecCorruptData);
}

TEST(EntropyDecoder, ATruncatedStreamRunsIntoEndOfData) {
  const std::vector<Op> ops = make_mixed_ops(9, 20000);
  const std::vector<std::uint8_t> coded = encode_ops(ops);
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{500},
                          coded.size() / 2, coded.size() - 3, coded.size()}) {
    const std::vector<std::uint8_t> truncated(coded.begin(),
                                              coded.end() - static_cast<std::ptrdiff_t>(cut));
    ByteStreamInArray in(truncated.data(), static_cast<std::int64_t>(truncated.size()));
    std::vector<SymbolModel> symbol_models = make_models(false);
    std::vector<BitModel> bit_models(kBitModels);
    EntropyDecoder decoder;
    // Until the cut the bytes are the encoder's, so the decoder meets the end, not garbage.
    EXPECT_THROW(
        {
          decoder.init(&in);
          for (const Op& op : ops) {
            switch (op.kind) {
              case OpKind::kBit:
                decoder.decode_bit(bit_models[op.model]);
                break;
              case OpKind::kSymbol:
                decoder.decode_symbol(symbol_models[op.model]);
                break;
              case OpKind::kBits:
                decoder.read_bits(op.model);
                break;
              case OpKind::kShort:
                decoder.read_short();
                break;
              case OpKind::kInt:
                decoder.read_int();
                break;
              case OpKind::kInt64:
                decoder.read_int64();
                break;
            }
          }
        },
        ByteStreamEndOfData)
        << "cut " << cut;
  }
}

}  // namespace

TEST(EntropyEncoder, ASmallCarryBufferWritesTheSameBytesAsTheDefaultOne) {
  // The layers of the layered codecs use 256-byte buffers; the bytes must not depend on it,
  // across many half-buffer flushes and the carries between them.
  std::mt19937 random(17);
  std::vector<std::uint32_t> symbols(200000);
  for (std::uint32_t& symbol : symbols)
    symbol = random() % 7 == 0 ? random() % 256 : random() % 3;
  auto encode = [&](EntropyEncoder& encoder) {
    ByteStreamOutArrayLE out;
    SymbolModel model(256, true);
    model.init();
    EXPECT_TRUE(encoder.init(&out));
    for (std::uint32_t symbol : symbols)
      encoder.encode_symbol(model, symbol);
    EXPECT_TRUE(encoder.done());
    return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
  };
  EntropyEncoder standard;
  EntropyEncoder small(256);
  const std::vector<std::uint8_t> expected = encode(standard);
  ASSERT_GT(expected.size(), 10u * 256);
  EXPECT_EQ(encode(small), expected);
}
