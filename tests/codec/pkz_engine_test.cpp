// The compressed paths of the engines with the real item codecs: seeking across chunks and
// reading blocks that were cut short or damaged.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec_test_support.hpp"
#include "pkz_test_support.hpp"

namespace {

using pkz_test::BlockReader;
using pkz_test::encode;
using pkz_test::make_codec;
using pkz_test::make_records;
using pkz_test::Records;

bool same_record(const std::uint8_t* record, const Records& records, std::size_t i) {
  return record != nullptr && std::memcmp(record, records.record(i), records.record_length) == 0;
}

// Chunk starts of an intact block, and where its table begins.
ChunkIndex chunk_index_of(const std::vector<std::uint8_t>& block, bool variable) {
  ByteStreamInArray in(block.data(), static_cast<std::int64_t>(block.size()));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error, warning;
  EXPECT_TRUE(read_chunk_index(in, decoder, variable, 1, index, error, warning)) << error;
  EXPECT_EQ(warning, "");
  return index;
}

// Seeks to `targets` in turn and reads a few points after each, comparing with the records.
void expect_seeks_match(const Records& records, const Pakrel& codec,
                        const std::vector<std::uint8_t>& block,
                        const std::vector<std::int64_t>& targets) {
  BlockReader reader(block, codec);
  std::int64_t current = 0;
  for (std::int64_t target : targets) {
    SCOPED_TRACE("seek from " + std::to_string(current) + " to " + std::to_string(target));
    ASSERT_TRUE(reader.engine().seek(current, target)) << reader.error();
    current = target;
    for (int k = 0; k < 3 && current < static_cast<std::int64_t>(records.count()); k++) {
      ASSERT_TRUE(same_record(reader.read(), records, static_cast<std::size_t>(current)))
          << "point " << current << " " << reader.error();
      current++;
    }
  }
}

std::vector<std::int64_t> seek_targets(std::size_t count, std::uint32_t chunk_size,
                                       std::uint32_t seed) {
  const auto n = static_cast<std::int64_t>(count);
  const auto c = static_cast<std::int64_t>(chunk_size);
  std::vector<std::int64_t> targets = {0,         5,         2,         c - 1, c,     c + 1,
                                       3 * c + 7, 3 * c + 2, 3 * c + 2, c - 3, n - 1, n - c - 1,
                                       0,         2 * c - 1, 2 * c - 1, n - 2, 1};
  std::mt19937 rng(seed);
  for (int i = 0; i < 60; i++)
    targets.push_back(static_cast<std::int64_t>(rng() % count));
  return targets;
}

TEST(PkzSeek, RandomPointsOfFixedChunksReadAsInSequence) {
  for (std::uint16_t version : {1, 2}) {
    SCOPED_TRACE(version);
    const Records records = make_records(3, 4, 25000, 800 + version, {});
    const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, version, 3000);
    const auto block = encode(records, codec);
    expect_seeks_match(records, codec, block, seek_targets(records.count(), 3000, version));
  }
}

TEST(PkzSeek, RandomPointsOfVariableChunksReadAsInSequence) {
  const Records records = make_records(5, 0, 20000, 900, {});
  const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 0);
  std::set<std::size_t> chunk_ends;
  for (std::size_t end = 1; end < records.count(); end += 1 + (end * 7919) % 2500)
    chunk_ends.insert(end);
  const auto block = encode(records, codec, chunk_ends);
  std::vector<std::int64_t> targets = seek_targets(records.count(), 1500, 9);
  for (std::size_t end : chunk_ends) {
    if (targets.size() > 120) break;
    targets.push_back(static_cast<std::int64_t>(end));      // first point of a chunk
    targets.push_back(static_cast<std::int64_t>(end) - 1);  // last point of the one before
  }
  expect_seeks_match(records, codec, block, targets);
}

TEST(PkzSeek, ASingleCodedStreamRestartsForBackwardSeeks) {
  const Records records = make_records(1, 0, 4000, 950, {});
  const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_PER_POINT, 1, 0);
  const auto block = encode(records, codec);
  expect_seeks_match(records, codec, block, {100, 50, 3999, 0, 2000, 1999, 2001});
}

TEST(PkzSeek, AnInterruptedWritersBlockLearnsItsChunksWhileSeekingForward) {
  const Records records = make_records(1, 0, 10000, 960, {});
  const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 1000);
  std::vector<std::uint8_t> block = encode(records, codec);
  // The table pointer still holds its own position and no table was written.
  const auto table_at = codec_test::value_at<std::int64_t>(block, 0);
  block.resize(static_cast<std::size_t>(table_at));
  std::memset(block.data(), 0, 8);
  BlockReader reader(block, codec);
  ASSERT_TRUE(reader.engine().seek(0, 5500)) << reader.error();
  EXPECT_EQ(reader.warning(), "compressor was interrupted before writing chunk table of PKZ file");
  EXPECT_TRUE(same_record(reader.read(), records, 5500));
  ASSERT_TRUE(reader.engine().seek(5501, 2100));
  EXPECT_TRUE(same_record(reader.read(), records, 2100));
  ASSERT_TRUE(reader.engine().seek(2101, 9999));
  EXPECT_TRUE(same_record(reader.read(), records, 9999));
}

// ---- damaged blocks -------------------------------------------------------------------------

struct Damage {
  Records records = make_records(3, 2, 4500, 1000, {});
  Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 1000);
  std::vector<std::uint8_t> block = encode(records, codec);
  ChunkIndex index = chunk_index_of(block, false);
  std::int64_t table_at = codec_test::value_at<std::int64_t>(block, 0);
};

// Reads up to the point count; every failed read is noted with its message. Reading goes
// on after a failure (the engine may continue at the next chunk) and stops at a second
// failure in a row.
struct ReadLog {
  std::vector<std::vector<std::uint8_t>> points;
  std::vector<std::pair<std::size_t, std::string>> failures;  // after how many points
  std::string warning;
};

ReadLog read_all(const std::vector<std::uint8_t>& block, const Pakrel& codec, std::size_t count) {
  ReadLog log;
  BlockReader reader(block, codec);
  bool failed_before = false;
  while (log.points.size() < count) {
    const std::uint8_t* record = reader.read();
    if (record == nullptr) {
      log.failures.emplace_back(log.points.size(), reader.error());
      if (failed_before) break;
      failed_before = true;
      continue;
    }
    failed_before = false;
    log.points.emplace_back(record, record + reader.record_size());
  }
  log.warning = reader.warning();
  return log;
}

TEST(PkzDamage, ABlockCutInsideAChunkDeliversThePointsBeforeTheCut) {
  Damage d;
  ASSERT_EQ(d.index.tabled, 5u);
  const std::int64_t cut = (d.index.starts[2] + d.index.starts[3]) / 2;
  std::vector<std::uint8_t> block(d.block.begin(), d.block.begin() + cut);
  const ReadLog log = read_all(block, d.codec, d.records.count());
  char expected[128];
  std::snprintf(expected, sizeof(expected),
                "chunk table and %" PRId64
                " bytes are missing. PKZ file truncated during copy or transfer?",
                d.table_at - cut);
  EXPECT_EQ(log.warning, expected);
  // The read after the failure fails alike: the data ends inside chunk 2.
  ASSERT_EQ(log.failures.size(), 2u);
  EXPECT_EQ(log.failures[0].second, "end-of-file during chunk with index 2");
  EXPECT_EQ(log.failures[1].second, "end-of-file during chunk with index 2");
  EXPECT_GE(log.points.size(), 2000u);
  EXPECT_LT(log.points.size(), 3000u);
  for (std::size_t i = 0; i < log.points.size(); i++) {
    ASSERT_TRUE(same_record(log.points[i].data(), d.records, i)) << i;
  }
}

TEST(PkzDamage, ABlockCutInsideItsChunkTableReadsEveryPointWithAWarning) {
  Damage d;
  std::vector<std::uint8_t> block(d.block.begin(), d.block.begin() + d.table_at + 10);
  ASSERT_LT(block.size(), d.block.size());
  const ReadLog log = read_all(block, d.codec, d.records.count());
  EXPECT_EQ(log.warning, "corrupt chunk table");
  EXPECT_TRUE(log.failures.empty());
  ASSERT_EQ(log.points.size(), d.records.count());
  for (std::size_t i = 0; i < log.points.size(); i++) {
    ASSERT_TRUE(same_record(log.points[i].data(), d.records, i)) << i;
  }
}

TEST(PkzDamage, ABlockWithoutItsChunkTableReadsEveryPointWithAWarning) {
  Damage d;
  std::vector<std::uint8_t> block(d.block.begin(), d.block.begin() + d.table_at);
  BlockReader reader(block, d.codec);
  for (std::size_t i = 0; i < d.records.count(); i++) {
    ASSERT_TRUE(same_record(reader.read(), d.records, i)) << i << " " << reader.error();
  }
  EXPECT_EQ(reader.warning(), "chunk table is missing. improper use of PKZ compressor?");
  EXPECT_TRUE(reader.engine().verify_end()) << reader.error();
}

TEST(PkzDamage, VariableChunksWithoutTheirTableCannotBeRead) {
  const Records records = make_records(1, 0, 3000, 1100, {});
  const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, 2, 0);
  std::vector<std::uint8_t> block = encode(records, codec, {1000, 2000});
  block.resize(static_cast<std::size_t>(codec_test::value_at<std::int64_t>(block, 0)) + 9);
  BlockReader reader(block, codec);
  EXPECT_EQ(reader.read(), nullptr);
  EXPECT_EQ(reader.error(), "corrupt chunk table");
}

TEST(PkzDamage, ACorruptChunkCostsTheRestOfThatChunkOnly) {
  Damage d;
  std::vector<std::uint8_t> block = d.block;
  // A byte in the middle of chunk 1's coded stream (after its raw first point).
  const std::int64_t at = (d.index.starts[1] + d.index.starts[2]) / 2;
  block[at] ^= 0x5A;
  const ReadLog log = read_all(block, d.codec, d.records.count());
  ASSERT_GE(log.failures.size(), 1u);
  EXPECT_EQ(log.failures[0].second, "chunk with index 1 of 5 is corrupt");
  const std::size_t failed_after = log.failures[0].first;
  EXPECT_GE(failed_after, 1000u);
  EXPECT_LE(failed_after, 2000u);
  for (std::size_t i = 0; i < 1000; i++) {
    ASSERT_TRUE(same_record(log.points[i].data(), d.records, i)) << i;
  }
  // After the failure reading goes on with the first point of chunk 2, to the end. The
  // engine knows no point count: the reads that make up for the lost points decode what
  // follows the last chunk until the data ends.
  ASSERT_GE(log.points.size() - failed_after, d.records.count() - 2000);
  for (std::size_t original = 2000; original < d.records.count(); original++) {
    const std::size_t i = failed_after + (original - 2000);
    ASSERT_TRUE(same_record(log.points[i].data(), d.records, original)) << original;
  }
  ASSERT_EQ(log.failures.size(), 3u);
  EXPECT_EQ(log.failures[1].second, "end-of-file during chunk with index 4");
  EXPECT_EQ(log.failures[2].second, "end-of-file during chunk with index 4");
}

TEST(PkzDamage, DamageAnywhereEndsReadsCleanly) {
  // Under the sanitizers this is the test that bad input never reads outside memory; in
  // any build that every read returns.
  for (int point_type : {0, 1, 3, 4}) {
    for (std::uint16_t version : {1, 2}) {
      SCOPED_TRACE(std::to_string(point_type) + " v" + std::to_string(version));
      const Records records = make_records(point_type, 3, 1500, 1200 + point_type, {});
      const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_CHUNKED, version, 400);
      const std::vector<std::uint8_t> intact = encode(records, codec);
      std::mt19937 rng(static_cast<unsigned>(point_type * 10 + version));
      for (int trial = 0; trial < 25; trial++) {
        std::vector<std::uint8_t> block = intact;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int f = 0; f < flips; f++)
          block[rng() % block.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        if (trial % 5 == 0) block.resize(rng() % block.size());
        const ReadLog log = read_all(block, codec, records.count());
        EXPECT_LE(log.points.size(), records.count());
      }
    }
  }
}

}  // namespace
