#include "codec/chunk_table.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::value_at;

struct RealChunkedFile {
  std::vector<std::uint8_t> bytes;
  codec_test::LasFileFacts facts;
  Pakrel codec;
};

bool load(const char* name, RealChunkedFile& file) {
  auto bytes = codec_test::read_whole_file(codec_test::real_data_path(name));
  if (!bytes) return false;
  file.bytes = std::move(*bytes);
  file.facts = codec_test::las_file_facts(file.bytes);
  ByteStreamInArray in(file.bytes.data() + file.facts.codec_payload,
                       file.facts.codec_payload_length);
  EXPECT_TRUE(read_pakrel_record(in, file.codec));
  return true;
}

// The chunk tables other producers wrote: chunk 0 right after the pointer, one chunk per
// 50000 points, the last chunk ending where the table begins, and our coder writing the
// decoded entries back to the same bytes.
TEST(ChunkTable, RealFilesTablesDecodeConsistentlyAndEncodeToTheSameBytes) {
  for (const char* name : {"simple.pkz", "extrabytes.pkz", "1_4_w_evlr.pkz", "fullwave.pkz"}) {
    RealChunkedFile file;
    if (!load(name, file)) GTEST_SKIP() << "real data folder not available";
    SCOPED_TRACE(name);
    ASSERT_NE(file.codec.chunk_size, 0u);
    const std::int64_t point_data = file.facts.offset_to_point_data;
    const std::int64_t table_position = value_at<std::int64_t>(file.bytes, point_data);
    ASSERT_GT(table_position, point_data);
    ASSERT_LT(table_position, static_cast<std::int64_t>(file.bytes.size()));

    ByteStreamInArray in(file.bytes.data(), static_cast<std::int64_t>(file.bytes.size()));
    ASSERT_TRUE(in.seek_to(point_data));
    EntropyDecoder decoder;
    ChunkIndex index;
    std::string error, warning;
    ASSERT_TRUE(read_chunk_index(in, decoder, false, file.facts.point_data_record_length, index,
                                 error, warning));
    EXPECT_TRUE(error.empty());
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(in.position(), point_data + 8);

    const std::uint64_t chunks =
        (file.facts.number_of_points + file.codec.chunk_size - 1) / file.codec.chunk_size;
    EXPECT_EQ(index.tabled, chunks);
    ASSERT_EQ(index.starts.size(), index.tabled + 1);
    EXPECT_EQ(index.starts.front(), point_data + 8);
    EXPECT_EQ(index.starts.back(), table_position);
    for (std::uint32_t i = 0; i < index.tabled; i++) {
      EXPECT_GE(index.starts[i + 1] - index.starts[i], file.facts.point_data_record_length);
    }

    std::vector<std::uint32_t> lengths;
    for (std::uint32_t i = 0; i < index.tabled; i++) {
      lengths.push_back(static_cast<std::uint32_t>(index.starts[i + 1] - index.starts[i]));
    }
    EntropyEncoder encoder;
    ByteStreamOutArray out;
    ASSERT_TRUE(write_chunk_table_entries(out, encoder, false, {}, lengths));
    ASSERT_LE(table_position + out.size(), static_cast<std::int64_t>(file.bytes.size()));
    EXPECT_EQ(0, std::memcmp(out.data(), file.bytes.data() + table_position, out.size()));
  }
}

// A block of `chunks` chunks of `length` bytes each, chunk 0 at 8, table right after.
std::vector<std::uint8_t> block_with_table(const std::vector<std::uint32_t>& counts,
                                           const std::vector<std::uint32_t>& lengths,
                                           bool pointer_at_end = false) {
  ByteStreamOutArray out;
  std::int64_t table_position = 8;
  for (std::uint32_t length : lengths)
    table_position += length;
  const std::int64_t pointer = pointer_at_end ? -1 : table_position;
  out.write64_le(&pointer);
  for (std::int64_t i = 8; i < table_position; i++)
    out.write_byte(static_cast<std::uint8_t>(i));
  EntropyEncoder encoder;
  EXPECT_TRUE(write_chunk_table_entries(out, encoder, !counts.empty(), counts, lengths));
  if (pointer_at_end) out.write64_le(&table_position);
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

struct IndexRead {
  bool ok;
  ChunkIndex index;
  std::string error;
  std::string warning;
};

IndexRead read_index(const std::vector<std::uint8_t>& block, std::size_t size, bool variable,
                     std::uint32_t min_chunk = 10) {
  ByteStreamInArray in(block.data(), static_cast<std::int64_t>(size));
  EntropyDecoder decoder;
  IndexRead result;
  result.ok = read_chunk_index(in, decoder, variable, min_chunk, result.index, result.error,
                               result.warning);
  EXPECT_EQ(in.position(), 8);
  return result;
}

TEST(ChunkTable, VariableChunksCarryTheirPointCountsAsTotals) {
  const auto block = block_with_table({5, 1, 700}, {100, 40, 3000});
  const IndexRead read = read_index(block, block.size(), true);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.index.tabled, 3u);
  EXPECT_EQ(read.index.starts, (std::vector<std::int64_t>{8, 108, 148, 3148}));
  EXPECT_EQ(read.index.totals, (std::vector<std::uint64_t>{0, 5, 6, 706}));
}

TEST(ChunkTable, APointerAtTheEndIsFoundThroughTheCopyAfterTheTable) {
  const auto block = block_with_table({}, {50, 60}, true);
  EXPECT_EQ(value_at<std::int64_t>(block, 0), -1);
  const IndexRead read = read_index(block, block.size(), false);
  ASSERT_TRUE(read.ok);
  EXPECT_TRUE(read.warning.empty());
  EXPECT_EQ(read.index.starts, (std::vector<std::int64_t>{8, 58, 118}));
}

TEST(ChunkTable, APointerThatStillHoldsItsOwnPositionMeansTheWriterWasInterrupted) {
  auto block = block_with_table({}, {50, 60});
  const std::int64_t own_position = 0;
  std::memcpy(block.data(), &own_position, 8);
  IndexRead fixed = read_index(block, block.size(), false);
  EXPECT_TRUE(fixed.ok);
  EXPECT_EQ(fixed.warning, "compressor was interrupted before writing chunk table of PKZ file");
  EXPECT_EQ(fixed.index.tabled, 1u);
  EXPECT_EQ(fixed.index.starts.front(), 8);

  IndexRead variable = read_index(block, block.size(), true);
  EXPECT_FALSE(variable.ok);
  EXPECT_EQ(variable.error,
            "compressor was interrupted before writing adaptive chunk table of PKZ file");
}

TEST(ChunkTable, AFileCutBeforeItsTableTellsHowManyBytesAreMissing) {
  const auto block = block_with_table({}, {50, 60, 70});
  const std::size_t table_position = 8 + 50 + 60 + 70;
  const IndexRead cut = read_index(block, table_position - 30, false);
  EXPECT_TRUE(cut.ok);
  EXPECT_EQ(cut.warning,
            "chunk table and 30 bytes are missing. PKZ file truncated during copy or transfer?");
  EXPECT_EQ(cut.index.tabled, 1u);

  const IndexRead at_end = read_index(block, table_position, false);
  EXPECT_TRUE(at_end.ok);
  EXPECT_EQ(at_end.warning, "chunk table is missing. improper use of PKZ compressor?");

  const IndexRead variable = read_index(block, table_position - 30, true);
  EXPECT_FALSE(variable.ok);
  EXPECT_EQ(variable.error,
            "chunk table and 30 bytes are missing. PKZ file truncated during copy or transfer?");
}

TEST(ChunkTable, ATableCutInTheMiddleKeepsTheChunksDecodedBeforeTheCut) {
  std::vector<std::uint32_t> lengths;
  for (int i = 0; i < 400; i++)
    lengths.push_back(20 + (i * 7919) % 1000);
  const auto block = block_with_table({}, lengths);
  const std::int64_t table_position = value_at<std::int64_t>(block, 0);
  const std::size_t table_bytes = block.size() - table_position;
  ASSERT_GT(table_bytes, 100u);
  const IndexRead read = read_index(block, table_position + table_bytes / 2, false);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.warning, "corrupt chunk table");
  EXPECT_GT(read.index.tabled, 10u);
  EXPECT_LT(read.index.tabled, 400u);
  std::int64_t start = 8;
  for (std::uint32_t i = 0; i < read.index.tabled; i++) {
    EXPECT_EQ(read.index.starts[i], start);
    start += lengths[i];
  }
}

TEST(ChunkTable, ALyingTableIsCorruptAndAllocatesNothingItCannotJustify) {
  // Version 1.
  auto block = block_with_table({}, {50});
  block[8 + 50] = 1;
  IndexRead read = read_index(block, block.size(), false);
  EXPECT_EQ(read.warning, "corrupt chunk table");
  EXPECT_EQ(read.index.tabled, 1u);

  // Four billion chunks in a block of 50 bytes.
  block = block_with_table({}, {50});
  const std::uint32_t count = 0xFFFFFFF0;
  std::memcpy(block.data() + 8 + 50 + 4, &count, 4);
  read = read_index(block, block.size(), false);
  EXPECT_EQ(read.warning, "corrupt chunk table");
  EXPECT_EQ(read.index.tabled, 1u);

  // A chunk shorter than one raw point, or one that runs into the table.
  block = block_with_table({}, {50, 5, 50});
  read = read_index(block, block.size(), false, 10);
  EXPECT_EQ(read.warning, "corrupt chunk table");
  EXPECT_EQ(read.index.tabled, 1u);

  // A variable chunk of no points.
  block = block_with_table({4, 0}, {50, 50});
  read = read_index(block, block.size(), true);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "corrupt chunk table");
}

TEST(ChunkTable, ACountOneBeyondWhatTheBlockCanHoldIsRefusedBeforeAnyEntryIsDecoded) {
  // Five chunks of the smallest possible size fill the block: five entries is the most.
  auto block = block_with_table({}, {10, 10, 10, 10, 10});
  const std::size_t count_at = 8 + 50 + 4;
  IndexRead read = read_index(block, block.size(), false, 10);
  ASSERT_TRUE(read.warning.empty()) << read.warning;
  EXPECT_EQ(read.index.tabled, 5u);

  // One more: the five genuine entries must not be taken either, so the reader learns the
  // chunks as it meets them instead of trusting a table that lies about its length.
  const std::uint32_t one_too_many = 6;
  std::memcpy(block.data() + count_at, &one_too_many, 4);
  read = read_index(block, block.size(), false, 10);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.warning, "corrupt chunk table");
  EXPECT_EQ(read.index.tabled, 1u);
  EXPECT_EQ(read.index.starts, (std::vector<std::int64_t>{8}));
}

TEST(ChunkTable, WithoutSeekingFixedChunksAreLearnedAsTheyComeAndVariableOnesCannotBeRead) {
  class Pipe : public ByteStreamInArray {
   public:
    using ByteStreamInArray::ByteStreamInArray;
    bool can_seek() const override { return false; }
  };
  const auto block = block_with_table({}, {50, 60});
  Pipe in(block.data(), static_cast<std::int64_t>(block.size()));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error, warning;
  EXPECT_TRUE(read_chunk_index(in, decoder, false, 10, index, error, warning));
  EXPECT_EQ(index.tabled, 0u);
  EXPECT_TRUE(index.starts.empty());
  EXPECT_EQ(in.position(), 8);

  Pipe again(block.data(), static_cast<std::int64_t>(block.size()));
  EXPECT_FALSE(read_chunk_index(again, decoder, true, 10, index, error, warning));
  EXPECT_EQ(error, "cannot read adaptive chunk table of PKZ file from a stream that cannot seek");
}

}  // namespace
