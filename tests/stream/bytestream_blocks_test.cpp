#include "stream/bytestream_blocks.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int64_t kBlock = static_cast<std::int64_t>(ByteBlocks::kBlockSize);

std::uint8_t pattern(std::int64_t at) {
  return static_cast<std::uint8_t>((at * 131) ^ (at >> 9));
}

std::vector<std::uint8_t> read_all(ByteStreamIn& in, std::int64_t n) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
  in.read_bytes(bytes.data(), bytes.size());
  return bytes;
}

TEST(ByteStreamBlocks, BytesWrittenAcrossBlocksAndPatchedOverABoundaryReadBackInOrder) {
  std::vector<std::uint8_t> expected;
  ByteStreamOutBlocks out;
  EXPECT_EQ(out.size(), 0);
  EXPECT_EQ(out.position(), 0);
  // Small records, then one write longer than a block, then single bytes.
  while (static_cast<std::int64_t>(expected.size()) < kBlock - 5) {
    std::uint8_t record[7];
    for (std::uint8_t& b : record)
      b = pattern(static_cast<std::int64_t>(expected.size()) + (&b - record));
    ASSERT_TRUE(out.write_bytes(record, sizeof record));
    expected.insert(expected.end(), record, record + sizeof record);
  }
  std::vector<std::uint8_t> long_run(static_cast<std::size_t>(kBlock + kBlock / 2));
  for (std::size_t i = 0; i < long_run.size(); i++)
    long_run[i] = pattern(static_cast<std::int64_t>(i) + 3);
  ASSERT_TRUE(out.write_bytes(long_run.data(), long_run.size()));
  expected.insert(expected.end(), long_run.begin(), long_run.end());
  for (int i = 0; i < 1000; i++) {
    ASSERT_TRUE(out.write_byte(static_cast<std::uint8_t>(i)));
    expected.push_back(static_cast<std::uint8_t>(i));
  }
  const auto size = static_cast<std::int64_t>(expected.size());
  EXPECT_EQ(out.position(), size);
  EXPECT_EQ(out.size(), size);

  // A patch over the boundary of the first two blocks, and one at the very start.
  const std::uint64_t patch = 0x0102030405060708ull;
  ASSERT_TRUE(out.seek_to(kBlock - 3));
  EXPECT_EQ(out.position(), kBlock - 3);
  ASSERT_TRUE(out.write64_le(&patch));
  EXPECT_EQ(out.position(), kBlock + 5);
  EXPECT_EQ(out.size(), size);
  for (int i = 0; i < 8; i++)
    expected[static_cast<std::size_t>(kBlock - 3 + i)] = static_cast<std::uint8_t>(8 - i);
  ASSERT_TRUE(out.seek_to(0));
  ASSERT_TRUE(out.write_byte(0xEE));
  expected[0] = 0xEE;
  EXPECT_FALSE(out.seek_to(size + 1));
  EXPECT_FALSE(out.seek_to(-1));
  ASSERT_TRUE(out.seek_to_end());
  EXPECT_EQ(out.position(), size);

  ByteBlocks blocks = out.take_blocks();
  EXPECT_EQ(blocks.size, size);
  EXPECT_EQ(blocks.blocks.size(), 3u);
  EXPECT_EQ(blocks.allocated(), 3 * ByteBlocks::kBlockSize);
  EXPECT_EQ(out.size(), 0);
  EXPECT_EQ(out.position(), 0);

  ByteStreamInBlocks in(std::move(blocks));
  EXPECT_EQ(in.size(), size);
  EXPECT_EQ(in.position(), 0);
  EXPECT_EQ(read_all(in, size), expected);
  EXPECT_EQ(in.position(), size);
  EXPECT_THROW(in.read_byte(), ByteStreamEndOfData);

  ASSERT_TRUE(in.seek_to(kBlock - 1));
  EXPECT_EQ(in.position(), kBlock - 1);
  EXPECT_EQ(read_all(in, 2), (std::vector<std::uint8_t>{expected[kBlock - 1], expected[kBlock]}));
  EXPECT_EQ(in.position(), kBlock + 1);
  ASSERT_TRUE(in.seek_to(2 * kBlock));
  EXPECT_EQ(in.read_byte(), expected[2 * kBlock]);
  ASSERT_TRUE(in.seek_from_end(1));
  EXPECT_EQ(in.read_byte(), expected.back());
  ASSERT_TRUE(in.seek_from_end(size));
  EXPECT_EQ(in.position(), 0);
  EXPECT_FALSE(in.seek_from_end(size + 1));
  EXPECT_FALSE(in.seek_from_end(-1));
  EXPECT_FALSE(in.seek_to(size + 1));
  EXPECT_FALSE(in.seek_to(-1));
  // Reading stops at the size, not at the end of the last block.
  ASSERT_TRUE(in.seek_to(size - 2));
  std::uint8_t three[3];
  EXPECT_THROW(in.read_bytes(three, 3), ByteStreamEndOfData);
}

TEST(ByteStreamBlocks, TheEndOfAFullBlockStaysInItUntilTheNextByte) {
  ByteStreamOutBlocks out;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(kBlock), 5);
  ASSERT_TRUE(out.write_bytes(block.data(), block.size()));
  EXPECT_EQ(out.blocks().blocks.size(), 1u);
  ASSERT_TRUE(out.seek_to(0));
  ASSERT_TRUE(out.seek_to(kBlock));
  EXPECT_EQ(out.position(), kBlock);
  EXPECT_EQ(out.blocks().blocks.size(), 1u);
  ASSERT_TRUE(out.write_byte(6));
  EXPECT_EQ(out.blocks().blocks.size(), 2u);
  EXPECT_EQ(out.size(), kBlock + 1);

  ByteBlocks blocks = out.take_blocks();
  ByteStreamInBlocks in(std::move(blocks));
  ASSERT_TRUE(in.seek_to(kBlock));
  EXPECT_EQ(in.position(), kBlock);
  EXPECT_EQ(in.read_byte(), 6);
  EXPECT_EQ(in.position(), kBlock + 1);
  EXPECT_THROW(in.read_byte(), ByteStreamEndOfData);

  // A stream of exactly two blocks: its end is a position inside the last, with nothing to
  // read.
  ByteStreamOutBlocks two;
  ASSERT_TRUE(two.write_bytes(block.data(), block.size()));
  ASSERT_TRUE(two.write_bytes(block.data(), block.size()));
  ByteStreamInBlocks whole(two.take_blocks());
  ASSERT_TRUE(whole.seek_to(2 * kBlock));
  EXPECT_EQ(whole.position(), 2 * kBlock);
  EXPECT_THROW(whole.read_byte(), ByteStreamEndOfData);
  ASSERT_TRUE(whole.seek_from_end(0));
  EXPECT_EQ(whole.position(), 2 * kBlock);
  ASSERT_TRUE(whole.seek_from_end(1));
  EXPECT_EQ(whole.position(), 2 * kBlock - 1);
  EXPECT_EQ(whole.read_byte(), 5);
  EXPECT_EQ(whole.position(), 2 * kBlock);

  ByteStreamInBlocks empty{ByteBlocks{}};
  EXPECT_EQ(empty.position(), 0);
  EXPECT_TRUE(empty.seek_to(0));
  EXPECT_FALSE(empty.seek_to(1));
  EXPECT_THROW(empty.read_byte(), ByteStreamEndOfData);
}

}  // namespace
