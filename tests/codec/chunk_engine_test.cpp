// The chunk machinery of the engines (chunk table pointer, chunk ends, the table, seeking,
// recovery from damaged chunks) with stand-in item codecs. End-to-end tests with the real
// item codecs live with those codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "stand_in_codecs.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::value_at;

struct Options {
  int point_type = 1;
  std::uint16_t compressor = Pakrel::COMPRESSOR_CHUNKED;
  std::uint32_t chunk_size = 100;   // 0: variable
  std::set<int> close_chunk_after;  // point indexes after which close_chunk is called
  bool pipe = false;                // output stream that cannot seek
};

struct Block {
  Pakrel codec;
  std::vector<LASpoint> points;
  std::vector<std::uint8_t> bytes;
};

LASpoint bound_point(const Pakrel& codec) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  return point;
}

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

// Same stored record (POINT14 compared in its stored form).
void expect_same_point(const LASpoint& expected, const LASpoint& actual) {
  for (std::size_t i = 0; i < expected.items.size(); i++) {
    const LASitem& item = expected.items[i];
    std::uint8_t a[64], b[64];
    EXPECT_EQ(0, std::memcmp(stand_in::item_bytes(item, expected.item_data[i], a),
                             stand_in::item_bytes(item, actual.item_data[i], b), item.size));
  }
}

Block write_block(int count, const Options& options) {
  Block block;
  std::vector<LASitem> items;
  EXPECT_TRUE(build_point_type_items(options.point_type, point_type_base_size(options.point_type),
                                     false, items));
  EXPECT_TRUE(block.codec.setup(static_cast<std::uint16_t>(items.size()), items.data(),
                                options.compressor));
  if (options.compressor != Pakrel::COMPRESSOR_PER_POINT) {
    EXPECT_TRUE(block.codec.change_chunk_size(options.chunk_size));
  }
  EXPECT_TRUE(block.codec.choose_version(2));

  LASpoint point = bound_point(block.codec);
  LASwriteEngine writer;
  EXPECT_TRUE(writer.setup(block.codec.num_items, block.codec.items.data(), &block.codec,
                           stand_in::kCodecs));
  ByteStreamOutArray array;
  codec_test::ByteStreamOutPipe pipe;
  ByteStreamOut& out = options.pipe ? static_cast<ByteStreamOut&>(pipe) : array;
  EXPECT_TRUE(writer.attach(&out));
  std::mt19937 rng(42);
  for (int i = 0; i < count; i++) {
    fill_randomly(point, rng);
    EXPECT_TRUE(writer.write(point.item_data.data()));
    block.points.push_back(point);
    if (options.close_chunk_after.count(i)) {
      EXPECT_TRUE(writer.close_chunk());
    }
  }
  EXPECT_TRUE(writer.finish());
  if (options.pipe) {
    block.bytes = pipe.bytes();
  } else {
    block.bytes.assign(array.data(), array.data() + array.size());
  }
  return block;
}

struct Reading {
  LASpoint point;
  std::unique_ptr<ByteStreamInArray> in;
  std::unique_ptr<LASreadEngine> reader;
};

Reading open_block(const Block& block, std::size_t size, std::uint32_t selective = kDecompressAll) {
  Reading reading;
  reading.point = bound_point(block.codec);
  reading.in =
      std::make_unique<ByteStreamInArray>(block.bytes.data(), static_cast<std::int64_t>(size));
  reading.reader = std::make_unique<LASreadEngine>(selective);
  EXPECT_TRUE(reading.reader->setup(block.codec.num_items, block.codec.items.data(), &block.codec,
                                    stand_in::kCodecs));
  EXPECT_TRUE(reading.reader->attach(reading.in.get()));
  return reading;
}

Reading open_block(const Block& block) {
  return open_block(block, block.bytes.size());
}

void expect_reads_all(const Block& block, Reading& reading) {
  for (std::size_t i = 0; i < block.points.size(); i++) {
    ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()))
        << "point " << i << ": " << reading.reader->error_text();
    expect_same_point(block.points[i], reading.point);
  }
  EXPECT_TRUE(reading.reader->verify_end()) << reading.reader->error_text();
}

ChunkIndex index_of(const Block& block, bool variable) {
  ByteStreamInArray in(block.bytes.data(), static_cast<std::int64_t>(block.bytes.size()));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error, warning;
  EXPECT_TRUE(read_chunk_index(in, decoder, variable, 1, index, error, warning)) << error;
  EXPECT_TRUE(warning.empty()) << warning;
  return index;
}

TEST(ChunkedEngine, HundredThousandAndOnePointsMakeThreeChunksOfFixedSize) {
  Options options;
  options.chunk_size = 50000;
  const Block block = write_block(100001, options);
  const ChunkIndex index = index_of(block, false);
  ASSERT_EQ(index.tabled, 3u);
  EXPECT_EQ(index.starts.front(), 8);
  EXPECT_EQ(index.starts.back(), value_at<std::int64_t>(block.bytes, 0));
  // The table holds the three byte lengths and nothing more.
  std::vector<std::uint32_t> lengths;
  for (int i = 0; i < 3; i++) {
    lengths.push_back(static_cast<std::uint32_t>(index.starts[i + 1] - index.starts[i]));
  }
  EntropyEncoder encoder;
  ByteStreamOutArray table;
  ASSERT_TRUE(write_chunk_table_entries(table, encoder, false, {}, lengths));
  EXPECT_EQ(static_cast<std::int64_t>(block.bytes.size()), index.starts.back() + table.size());

  Reading reading = open_block(block);
  expect_reads_all(block, reading);
  EXPECT_EQ(reading.reader->warning_text(), nullptr);
}

TEST(ChunkedEngine, AChunkOfOnePointIsTheRawPointAndTheCoderEndBytes) {
  Options options;
  options.chunk_size = 1;
  const Block block = write_block(3, options);
  const ChunkIndex index = index_of(block, false);
  ASSERT_EQ(index.tabled, 3u);
  for (int i = 0; i < 3; i++) {
    const std::int64_t start = index.starts[i];
    EXPECT_EQ(index.starts[i + 1] - start, 28 + 4);
    EXPECT_EQ(0, std::memcmp(block.bytes.data() + start, block.points[i].item_data[0], 20));
    EXPECT_EQ(0, std::memcmp(block.bytes.data() + start + 20, &block.points[i].gps_time, 8));
    const std::uint8_t end_bytes[] = {0x01, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(block.bytes.data() + start + 28, end_bytes, 4));
  }
  Reading reading = open_block(block);
  expect_reads_all(block, reading);
}

TEST(ChunkedEngine, VariableChunksEndWhereTheCallerSaysAndTabulateTheirPointCounts) {
  Options options;
  options.chunk_size = 0;
  options.close_chunk_after = {2, 9, 10, 10};
  const Block block = write_block(30, options);
  const ChunkIndex index = index_of(block, true);
  ASSERT_EQ(index.tabled, 4u);
  EXPECT_EQ(index.totals, (std::vector<std::uint64_t>{0, 3, 10, 11, 30}));
  Reading reading = open_block(block);
  expect_reads_all(block, reading);

  options.close_chunk_after = {};
  const Block one_chunk = write_block(30, options);
  EXPECT_EQ(index_of(one_chunk, true).totals, (std::vector<std::uint64_t>{0, 30}));
}

TEST(ChunkedEngine, CloseChunkIsForVariableChunksOnlyAndAnEmptyChunkIsNotEnded) {
  Options options;
  const Block fixed = write_block(1, options);
  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(fixed.codec.num_items, fixed.codec.items.data(), &fixed.codec,
                           stand_in::kCodecs));
  ByteStreamOutArray out;
  ASSERT_TRUE(writer.attach(&out));
  EXPECT_FALSE(writer.close_chunk());

  options.chunk_size = 0;
  options.close_chunk_after = {};
  Block variable = write_block(0, options);
  LASpoint point = bound_point(variable.codec);
  LASwriteEngine variable_writer;
  ASSERT_TRUE(variable_writer.setup(variable.codec.num_items, variable.codec.items.data(),
                                    &variable.codec, stand_in::kCodecs));
  EXPECT_FALSE(variable_writer.close_chunk());  // no chunk table pointer yet
  ByteStreamOutArray variable_out;
  ASSERT_TRUE(variable_writer.attach(&variable_out));
  EXPECT_TRUE(variable_writer.close_chunk());
  ASSERT_TRUE(variable_writer.write(point.item_data.data()));
  EXPECT_TRUE(variable_writer.close_chunk());
  EXPECT_TRUE(variable_writer.close_chunk());
  ASSERT_TRUE(variable_writer.finish());
  EXPECT_EQ(variable_writer.chunks_written(), 1u);
}

TEST(ChunkedEngine, NoPointsGiveAnEmptyTable) {
  Options options;
  const Block block = write_block(0, options);
  ASSERT_EQ(block.bytes.size(), 16u);
  EXPECT_EQ(value_at<std::int64_t>(block.bytes, 0), 8);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, 12), 0u);
}

TEST(ChunkedEngine, AStreamThatCannotSeekGetsTheTablePositionAfterTheTable) {
  Options options;
  options.pipe = true;
  const Block block = write_block(250, options);
  EXPECT_EQ(value_at<std::int64_t>(block.bytes, 0), -1);
  const auto table_position = value_at<std::int64_t>(block.bytes, block.bytes.size() - 8);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, table_position), 0u);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, table_position + 4), 3u);
  Reading reading = open_block(block);
  expect_reads_all(block, reading);
  EXPECT_EQ(reading.reader->warning_text(), nullptr);
}

void expect_random_seeks_match(const Block& block, unsigned seed) {
  Reading reading = open_block(block);
  std::mt19937 rng(seed);
  const int count = static_cast<int>(block.points.size());
  std::uniform_int_distribution<int> index(0, count - 1);
  std::int64_t next = 0;
  for (int k = 0; k < 200; k++) {
    int target = index(rng);
    if (k % 5 == 1) target = static_cast<int>(std::max<std::int64_t>(0, next - 3));  // back a bit
    if (k % 5 == 2) target = std::min(count - 1, static_cast<int>(next) + 2);        // ahead a bit
    ASSERT_TRUE(reading.reader->seek(next, target)) << reading.reader->error_text();
    ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()))
        << "point " << target << ": " << reading.reader->error_text();
    expect_same_point(block.points[target], reading.point);
    next = target + 1;
  }
}

TEST(ChunkedEngine, SeekingGivesWhatSequentialReadingGives) {
  Options fixed;
  fixed.chunk_size = 37;
  expect_random_seeks_match(write_block(1000, fixed), 1);

  Options variable;
  variable.chunk_size = 0;
  variable.close_chunk_after = {0, 5, 99, 100, 101, 500, 777};
  expect_random_seeks_match(write_block(1000, variable), 2);

  Options layered;
  layered.point_type = 8;
  layered.compressor = Pakrel::COMPRESSOR_LAYERED;
  layered.chunk_size = 50;
  expect_random_seeks_match(write_block(600, layered), 3);

  Options per_point;
  per_point.compressor = Pakrel::COMPRESSOR_PER_POINT;
  expect_random_seeks_match(write_block(300, per_point), 4);
}

TEST(ChunkedEngine, ASeekBeforeTheFirstReadFindsTheTableFirst) {
  Options options;
  options.chunk_size = 10;
  const Block block = write_block(100, options);
  Reading reading = open_block(block);
  ASSERT_TRUE(reading.reader->seek(0, 55));
  ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()));
  expect_same_point(block.points[55], reading.point);
}

TEST(ChunkedEngine, LayeredChunksHoldTheRawPointTheCountTheSizesAndTheLayers) {
  Options options;
  options.point_type = 7;
  options.compressor = Pakrel::COMPRESSOR_LAYERED;
  options.chunk_size = 3;
  const Block block = write_block(4, options);
  ASSERT_EQ(block.codec.compressor, Pakrel::COMPRESSOR_LAYERED);
  // Chunk 0: raw point (36), count 3, sizes of 2 layers, then 2 x (30 + 1) and 2 x (6 + 1).
  const std::size_t chunk0 = 8;
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk0 + 36), 3u);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk0 + 40), 62u);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk0 + 44), 14u);
  // Chunk 1: one point, so its layers are empty.
  const std::size_t chunk1 = chunk0 + 48 + 62 + 14;
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk1 + 36), 1u);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk1 + 40), 0u);
  EXPECT_EQ(value_at<std::uint32_t>(block.bytes, chunk1 + 44), 0u);
  EXPECT_EQ(value_at<std::int64_t>(block.bytes, 0), static_cast<std::int64_t>(chunk1 + 48));

  Reading reading = open_block(block, block.bytes.size(), kDecompressZ | kDecompressRgb);
  EXPECT_EQ(stand_in::last_selective_flags, kDecompressZ | kDecompressRgb);
  expect_reads_all(block, reading);
}

TEST(ChunkedEngine, ThePerPointCompressorHasNoPointerAndNoTable) {
  Options options;
  options.compressor = Pakrel::COMPRESSOR_PER_POINT;
  const Block block = write_block(5, options);
  EXPECT_EQ(0, std::memcmp(block.bytes.data(), block.points[0].item_data[0], 20));
  Reading reading = open_block(block);
  expect_reads_all(block, reading);
}

TEST(ChunkedEngine, AnInterruptedWriterLeavesAFileThatReadsWithAWarning) {
  Options options;
  options.chunk_size = 10;
  Block block = write_block(95, options);
  const std::int64_t own_position = 0;
  std::memcpy(block.bytes.data(), &own_position, 8);
  Reading reading = open_block(block);
  expect_reads_all(block, reading);
  EXPECT_STREQ(reading.reader->warning_text(),
               "compressor was interrupted before writing chunk table of PKZ file");
  expect_random_seeks_match(block, 5);

  options.chunk_size = 0;
  options.close_chunk_after = {4};
  Block variable = write_block(10, options);
  std::memcpy(variable.bytes.data(), &own_position, 8);
  Reading variable_reading = open_block(variable);
  EXPECT_FALSE(variable_reading.reader->read(variable_reading.point.item_data.data()));
  EXPECT_STREQ(variable_reading.reader->error_text(),
               "compressor was interrupted before writing adaptive chunk table of PKZ file");
  // And it stays that way: chunk bytes are never taken for a table pointer.
  EXPECT_FALSE(variable_reading.reader->read(variable_reading.point.item_data.data()));
  EXPECT_FALSE(variable_reading.reader->seek(0, 5));
  EXPECT_STREQ(variable_reading.reader->error_text(),
               "compressor was interrupted before writing adaptive chunk table of PKZ file");
}

TEST(ChunkedEngine, AFileCutBeforeItsTableReadsUpToTheCut) {
  Options options;
  options.chunk_size = 10;
  const Block block = write_block(30, options);
  const auto table_position = value_at<std::int64_t>(block.bytes, 0);
  const ChunkIndex index = index_of(block, false);

  Reading at_table = open_block(block, static_cast<std::size_t>(table_position));
  expect_reads_all(block, at_table);
  EXPECT_STREQ(at_table.reader->warning_text(),
               "chunk table is missing. improper use of PKZ compressor?");

  const std::size_t cut = static_cast<std::size_t>(index.starts[2] + 40);
  Reading inside = open_block(block, cut);
  for (int i = 0; i < 20; i++) {
    ASSERT_TRUE(inside.reader->read(inside.point.item_data.data()));
    expect_same_point(block.points[i], inside.point);
  }
  const std::string missing = "chunk table and " + std::to_string(table_position - cut) +
                              " bytes are missing. PKZ file truncated during copy or transfer?";
  EXPECT_EQ(inside.reader->warning_text(), missing);
  bool ended = false;
  for (int i = 20; i < 30 && !ended; i++) {
    ended = !inside.reader->read(inside.point.item_data.data());
  }
  ASSERT_TRUE(ended);
  EXPECT_STREQ(inside.reader->error_text(), "end-of-file during chunk with index 2");
}

TEST(ChunkedEngine, ATableCutInTheMiddleStillReadsEveryPoint) {
  Options options;
  options.chunk_size = 3;
  const Block block = write_block(3000, options);
  const auto table_position = value_at<std::int64_t>(block.bytes, 0);
  const std::size_t cut = static_cast<std::size_t>(table_position) +
                          (block.bytes.size() - static_cast<std::size_t>(table_position)) / 2;
  Reading reading = open_block(block, cut);
  expect_reads_all(block, reading);
  EXPECT_STREQ(reading.reader->warning_text(), "corrupt chunk table");
}

TEST(ChunkedEngine, ACorruptChunkCostsOnlyTheRestOfThatChunk) {
  Options options;
  options.chunk_size = 20;
  Block block = write_block(60, options);
  const ChunkIndex index = index_of(block, false);
  // A byte in the middle of chunk 1's coded points.
  block.bytes[static_cast<std::size_t>((index.starts[1] + 28 + index.starts[2]) / 2)] ^= 0x5A;
  Reading reading = open_block(block);
  int i = 0;
  for (; i < 40; i++) {
    if (!reading.reader->read(reading.point.item_data.data())) break;
  }
  ASSERT_GE(i, 20);
  ASSERT_LT(i, 40);
  EXPECT_STREQ(reading.reader->error_text(), "chunk with index 1 of 3 is corrupt");
  // The next read is the first point of chunk 2.
  ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()));
  expect_same_point(block.points[40], reading.point);
  for (int k = 41; k < 60; k++) {
    ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()));
    expect_same_point(block.points[k], reading.point);
  }
}

TEST(ChunkedEngine, AChunkThatEndsAwayFromWhereTheTableSaysIsCorrupt) {
  Options options;
  options.chunk_size = 10;
  Block block = write_block(30, options);
  const ChunkIndex index = index_of(block, false);
  std::vector<std::uint32_t> lengths;
  for (int i = 0; i < 3; i++) {
    lengths.push_back(static_cast<std::uint32_t>(index.starts[i + 1] - index.starts[i]));
  }
  lengths[0] += 1;  // the table now puts chunk 1 one byte later
  lengths[1] -= 1;
  ByteStreamOutArray table;
  EntropyEncoder encoder;
  ASSERT_TRUE(write_chunk_table_entries(table, encoder, false, {}, lengths));
  block.bytes.resize(static_cast<std::size_t>(index.starts[3]));
  block.bytes.insert(block.bytes.end(), table.data(), table.data() + table.size());

  Reading reading = open_block(block);
  for (int i = 0; i < 10; i++)
    ASSERT_TRUE(reading.reader->read(reading.point.item_data.data()));
  EXPECT_TRUE(reading.reader->verify_end() == false);
  EXPECT_STREQ(reading.reader->error_text(), "chunk with index 0 of 3 is corrupt");

  Reading again = open_block(block);
  for (int i = 0; i < 10; i++)
    ASSERT_TRUE(again.reader->read(again.point.item_data.data()));
  EXPECT_FALSE(again.reader->read(again.point.item_data.data()));
  EXPECT_STREQ(again.reader->error_text(), "chunk with index 0 of 3 is corrupt");
}

// A caller that took the first chunks as stored bytes reads on from the chunk after them,
// as if it had read every point before; past the end of the table it cannot continue, and
// a seek into a chunk that is cut off at its start fails.
TEST(ChunkedEngine, ReadingContinuesAtAChunkAfterTheStoredOnesBeforeIt) {
  Options options;
  options.chunk_size = 100;
  const Block block = write_block(350, options);
  for (const std::uint32_t chunk : {1u, 3u}) {
    Reading reading = open_block(block);
    std::uint32_t chunks = 0;
    ASSERT_TRUE(reading.reader->locate_stored_chunks(chunks));
    ASSERT_EQ(chunks, 4u);
    ASSERT_TRUE(reading.reader->continue_at_chunk(chunk));
    for (std::size_t i = chunk * 100; i < block.points.size(); i++) {
      ASSERT_TRUE(reading.reader->read(reading.point.item_data.data())) << "point " << i;
      expect_same_point(block.points[i], reading.point);
    }
    EXPECT_TRUE(reading.reader->verify_end()) << reading.reader->error_text();
  }
  Reading beyond = open_block(block);
  std::uint32_t chunks = 0;
  ASSERT_TRUE(beyond.reader->locate_stored_chunks(chunks));
  EXPECT_FALSE(beyond.reader->continue_at_chunk(5));

  const ChunkIndex index = index_of(block, false);
  Block cut = block;
  cut.bytes.resize(static_cast<std::size_t>(index.starts[3]) + 2);
  Reading seeking = open_block(cut);
  EXPECT_FALSE(seeking.reader->seek(0, 320));
}

// A chunk copied as it is stored (a file copied without decoding the chunks that do not
// change) takes its place in the table as a coded one does: stored and coded chunks in any
// mix give the block they came from, byte for byte.
TEST(ChunkedEngine, StoredChunksMixedWithCodedOnesWriteTheBlockTheyCameFrom) {
  Options options;
  options.chunk_size = 0;
  options.close_chunk_after = {29, 99, 100};
  const Block block = write_block(160, options);
  const ChunkIndex index = index_of(block, true);
  ASSERT_EQ(index.tabled, 4u);
  for (const unsigned stored : {0b1111u, 0b0101u, 0b1010u, 0b1000u}) {
    LASwriteEngine writer;
    ASSERT_TRUE(writer.setup(block.codec.num_items, block.codec.items.data(), &block.codec,
                             stand_in::kCodecs));
    ByteStreamOutArray out;
    ASSERT_TRUE(writer.attach(&out));
    for (std::uint32_t c = 0; c < index.tabled; c++) {
      const auto first = static_cast<std::size_t>(index.totals[c]);
      const auto end = static_cast<std::size_t>(index.totals[c + 1]);
      if (stored & (1u << c)) {
        const auto begin = static_cast<std::size_t>(index.starts[c]);
        ASSERT_TRUE(writer.write_stored_chunk(block.bytes.data() + begin,
                                              static_cast<std::size_t>(index.starts[c + 1]) - begin,
                                              static_cast<std::uint32_t>(end - first)));
      } else {
        for (std::size_t k = first; k < end; k++)
          ASSERT_TRUE(writer.write(block.points[k].item_data.data()));
        ASSERT_TRUE(writer.close_chunk());
      }
    }
    ASSERT_TRUE(writer.finish());
    EXPECT_TRUE(
        std::equal(out.data(), out.data() + out.size(), block.bytes.begin(), block.bytes.end()))
        << "stored chunks " << stored;
  }
}

TEST(ChunkedEngine, AFullDiskOrAFailedSeekMakesTheCompressedWriterFail) {
  Options options;
  options.chunk_size = 10;
  const Block block = write_block(1, options);
  LASpoint point = bound_point(block.codec);
  codec_test::ByteStreamOutLimited full_disk(100);
  // The points all fit; the chunk table's pointer, at the start, cannot be filled in.
  codec_test::ByteStreamOutSeekFails no_seek;
  for (ByteStreamOut* out :
       {static_cast<ByteStreamOut*>(&full_disk), static_cast<ByteStreamOut*>(&no_seek)}) {
    LASwriteEngine writer;
    ASSERT_TRUE(writer.setup(block.codec.num_items, block.codec.items.data(), &block.codec,
                             stand_in::kCodecs));
    ASSERT_TRUE(writer.attach(out));
    bool failed = false;
    for (int i = 0; i < 50 && !failed; i++)
      failed = !writer.write(point.item_data.data());
    if (!failed) failed = !writer.finish();
    EXPECT_TRUE(failed) << (out == &full_disk ? "full disk" : "failed seek");
  }
}

}  // namespace
