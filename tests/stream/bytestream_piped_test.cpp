// Reading an input that arrives once: the head taken into blocks, then the rest of the same
// FILE, read as one stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "stream/bytestream_piped.hpp"

namespace {

TEST(ByteStreamPiped, AHeadOfBlocksThenTheRestOfTheFileReadAsOneStream) {
  constexpr std::size_t kBlock = ByteBlocks::kBlockSize;
  std::vector<std::uint8_t> expected(2 * kBlock + kBlock / 2 + 13);
  std::mt19937 random(11);
  for (auto& byte : expected)
    byte = static_cast<std::uint8_t>(random());
  for (const std::int64_t limit : {std::int64_t{375}, static_cast<std::int64_t>(kBlock + 7),
                                   static_cast<std::int64_t>(expected.size() + 1)}) {
    SCOPED_TRACE(limit);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(expected.data(), 1, expected.size(), file), expected.size());
    std::rewind(file);
    ByteBlocks head;
    const bool ended = read_into_blocks(head, file, limit);
    EXPECT_EQ(ended, limit > static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(head.size, std::min<std::int64_t>(limit, expected.size()));
    ByteStreamInBlocksThenFile stream(std::move(head), file, true);
    EXPECT_FALSE(stream.can_seek());
    std::vector<std::uint8_t> back(expected.size());
    stream.read_bytes(back.data(), 100);
    // A skip forward over the end of the head, then no way back behind the bytes at hand.
    ASSERT_TRUE(stream.seek_to(static_cast<std::int64_t>(kBlock + 100)));
    EXPECT_EQ(stream.position(), static_cast<std::int64_t>(kBlock + 100));
    EXPECT_FALSE(stream.seek_to(50));
    stream.read_bytes(back.data() + kBlock + 100, back.size() - kBlock - 100);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 100, expected.begin()));
    EXPECT_TRUE(
        std::equal(back.begin() + kBlock + 100, back.end(), expected.begin() + kBlock + 100));
    EXPECT_THROW(stream.read_byte(), ByteStreamEndOfData);
  }
}

}  // namespace
