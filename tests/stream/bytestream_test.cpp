#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_inout_file.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/bytestream_out_file.hpp"
#include "stream/bytestream_out_nil.hpp"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr temp_file_with(const std::vector<std::uint8_t>& bytes) {
  FilePtr file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

TEST(ByteStreamIn, LittleAndBigEndianReadsSwapRolesInTheBigEndianClass) {
  auto file = temp_file_with({1, 2, 3, 4, 1, 2, 3, 4});
  {
    ByteStreamInFileLE in(file.get());
    std::uint32_t le, be;
    in.read32_le(&le);
    in.read32_be(&be);
    EXPECT_EQ(le, 0x04030201u);
    EXPECT_EQ(be, 0x01020304u);
  }
  std::rewind(file.get());
  ByteStreamInFileBE in(file.get());
  std::uint32_t le, be;
  in.read32_le(&le);
  in.read32_be(&be);
  EXPECT_EQ(le, 0x01020304u);
  EXPECT_EQ(be, 0x04030201u);
}

// Every width in both byte orders, through both stream classes of each direction.
TEST(ByteStreamIn, EveryWidthReadsAndWritesInBothByteOrders) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  auto file = temp_file_with(bytes);
  for (const bool big_endian_class : {false, true}) {
    SCOPED_TRACE(big_endian_class ? "big-endian class" : "little-endian class");
    std::rewind(file.get());
    std::unique_ptr<ByteStreamInFile> in;
    if (big_endian_class) {
      in = std::make_unique<ByteStreamInFileBE>(file.get(), 0);
    } else {
      in = std::make_unique<ByteStreamInFileLE>(file.get(), 0);
    }
    // Each value read from the start, once in each order.
    std::uint16_t a16, b16;
    std::uint32_t a32, b32;
    std::uint64_t a64, b64;
    in->read16_le(&a16);
    ASSERT_TRUE(in->seek_to(0));
    in->read16_be(&b16);
    ASSERT_TRUE(in->seek_to(0));
    in->read32_le(&a32);
    ASSERT_TRUE(in->seek_to(0));
    in->read32_be(&b32);
    ASSERT_TRUE(in->seek_to(0));
    in->read64_le(&a64);
    ASSERT_TRUE(in->seek_to(0));
    in->read64_be(&b64);
    if (big_endian_class) {
      std::swap(a16, b16);
      std::swap(a32, b32);
      std::swap(a64, b64);
    }
    EXPECT_EQ(a16, 0x0201);
    EXPECT_EQ(b16, 0x0102);
    EXPECT_EQ(a32, 0x04030201u);
    EXPECT_EQ(b32, 0x01020304u);
    EXPECT_EQ(a64, 0x0807060504030201ull);
    EXPECT_EQ(b64, 0x0102030405060708ull);
    ASSERT_TRUE(in->seek_to(6));
    EXPECT_EQ(in->read_le<std::uint16_t>(), big_endian_class ? 0x0708 : 0x0807);
  }
  ByteStreamOutArrayLE out;
  const std::uint64_t value = 0x0102030405060708ull;
  ASSERT_TRUE(out.write16_le(&value));
  ASSERT_TRUE(out.write16_be(&value));
  ASSERT_TRUE(out.write32_le(&value));
  ASSERT_TRUE(out.write32_be(&value));
  ASSERT_TRUE(out.write64_le(&value));
  ASSERT_TRUE(out.write64_be(&value));
  ASSERT_TRUE(out.write_le<std::uint16_t>(0xA1B2));
  const std::vector<std::uint8_t> expected = {8, 7, 7, 8, 8, 7, 6, 5, 5, 6, 7, 8, 8, 7,    6,
                                              5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8, 0xB2, 0xA1};
  EXPECT_EQ(std::vector<std::uint8_t>(out.data(), out.data() + out.size()), expected);
  ByteStreamInArrayLE back(out.data(), out.size());
  ASSERT_TRUE(back.seek_to(28));
  EXPECT_EQ(back.read_le<std::uint16_t>(), 0xA1B2);
}

TEST(ByteStreamIn, ArrayStreamSeeksWithinItsBoundsAndThrowsAtTheEnd) {
  std::uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ByteStreamInArrayLE in(data, 10);
  EXPECT_TRUE(in.seek_to(10));
  EXPECT_THROW(in.read_byte(), ByteStreamEndOfData);
  EXPECT_FALSE(in.seek_to(11));
  EXPECT_FALSE(in.seek_to(-1));
  EXPECT_TRUE(in.seek_from_end(0));
  EXPECT_EQ(in.position(), 10);
  EXPECT_TRUE(in.seek_from_end(3));
  EXPECT_EQ(in.read_byte(), 7);
  EXPECT_TRUE(in.seek_from_end(10));
  EXPECT_EQ(in.position(), 0);
  EXPECT_FALSE(in.seek_from_end(11));
  EXPECT_FALSE(in.seek_from_end(-1));
  EXPECT_EQ(in.position(), 0);
  EXPECT_TRUE(in.seek_to(7));
  std::uint8_t four[4];
  EXPECT_THROW(in.read_bytes(four, 4), ByteStreamEndOfData);
  ByteStreamInArrayLE empty;
  EXPECT_THROW(empty.read_byte(), ByteStreamEndOfData);
  // No block at all holds no bytes, whatever size comes with it.
  ByteStreamInArrayLE none(nullptr, 5);
  EXPECT_EQ(none.size(), 0);
  EXPECT_FALSE(none.seek_to(1));
  EXPECT_THROW(none.read_byte(), ByteStreamEndOfData);
}

TEST(ByteStreamIn, FileStreamReadsAcrossBlocksAndSeeksBackAndForth) {
  std::vector<std::uint8_t> bytes(100000);
  for (std::size_t i = 0; i < bytes.size(); i++)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  auto file = temp_file_with(bytes);
  ByteStreamInFileLE in(file.get(), 4096);  // small blocks to cross many boundaries
  std::vector<std::uint8_t> got(bytes.size());
  for (std::size_t i = 0; i < 1000; i++)
    got[i] = in.read_byte();
  in.read_bytes(got.data() + 1000, bytes.size() - 1000);
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(in.position(), 100000);
  EXPECT_THROW(in.read_byte(), ByteStreamEndOfData);
  EXPECT_TRUE(in.seek_to(5));
  EXPECT_EQ(in.read_byte(), bytes[5]);
  EXPECT_TRUE(in.seek_to(99990));
  EXPECT_EQ(in.read_byte(), bytes[99990]);
  EXPECT_TRUE(in.seek_from_end(1));
  EXPECT_EQ(in.position(), 99999);
  EXPECT_TRUE(in.skip(-10));
  EXPECT_EQ(in.read_byte(), bytes[99989]);
  EXPECT_TRUE(in.can_seek());
  EXPECT_FALSE(in.seek_to(-1));
  EXPECT_FALSE(in.seek_from_end(-1));
  EXPECT_EQ(in.position(), 99990);

  // Without a block of its own the stream reads straight from the FILE.
  std::rewind(file.get());
  ByteStreamInFileLE direct(file.get(), 0);
  EXPECT_TRUE(direct.seek_to(0));
  EXPECT_EQ(direct.read_byte(), bytes[0]);
  EXPECT_TRUE(direct.seek_to(direct.position()));
  EXPECT_EQ(direct.position(), 1);
  EXPECT_TRUE(direct.seek_to(70000));
  EXPECT_EQ(direct.read_byte(), bytes[70000]);
  EXPECT_TRUE(direct.seek_from_end(2));
  std::uint8_t last[2];
  direct.read_bytes(last, 2);
  EXPECT_EQ(last[1], bytes.back());
  EXPECT_THROW(direct.read_byte(), ByteStreamEndOfData);
}

TEST(ByteStreamIn, SeeksWhileTheNextBlockIsReadAheadDeliverTheBytesOfTheNewPosition) {
  std::vector<std::uint8_t> bytes(300000);
  for (std::size_t i = 0; i < bytes.size(); i++)
    bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  auto file = temp_file_with(bytes);
  ByteStreamInFileLE in(file.get(), 4096);
  std::mt19937 random(5);
  std::size_t position = 0;
  for (int step = 0; step < 2000; step++) {
    const std::uint32_t choice = random() % 8;
    if (choice == 0) {
      // Anywhere: inside the block held, behind it or far ahead.
      position = random() % bytes.size();
      ASSERT_TRUE(in.seek_to(static_cast<std::int64_t>(position)));
    } else if (choice == 1) {
      const std::size_t distance = 1 + random() % 20000;
      position = bytes.size() - std::min(distance, bytes.size());
      ASSERT_TRUE(in.seek_from_end(static_cast<std::int64_t>(bytes.size() - position)));
    }
    // Reads of up to three blocks, some record by record from the buffer.
    std::size_t length = std::min<std::size_t>(random() % 12000, bytes.size() - position);
    if (choice == 2) {
      while (length >= 28) {
        const std::uint8_t* record = in.take_bytes(28);
        std::uint8_t copy[28];
        if (record == nullptr) {
          in.read_bytes(copy, 28);
          record = copy;
        }
        ASSERT_EQ(std::memcmp(record, bytes.data() + position, 28), 0) << "at " << position;
        position += 28;
        length -= 28;
      }
    }
    std::vector<std::uint8_t> got(length);
    in.read_bytes(got.data(), length);
    ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + position)) << "at " << position;
    position += length;
    ASSERT_EQ(in.position(), static_cast<std::int64_t>(position));
  }
}

TEST(ByteStreamIn, ShortReadAtTheEndOfAFileThrows) {
  auto file = temp_file_with({1, 2, 3});
  ByteStreamInFileLE in(file.get());
  std::uint32_t value;
  EXPECT_THROW(in.read32_le(&value), ByteStreamEndOfData);
}

TEST(ByteStreamIn, StandardInputAndOutputCannotSeek) {
  ByteStreamInFileLE in(stdin, 0);
  EXPECT_FALSE(in.can_seek());
  ByteStreamOutFileLE out(stdout, 0);
  EXPECT_FALSE(out.can_seek());
}

TEST(ByteStreamOut, ArrayGrowsOnceForFiveThousandSingleBytesAndKeepsItsSizeAfterSeeking) {
  ByteStreamOutArrayLE out;
  EXPECT_EQ(out.allocated(), 4096u);
  for (int i = 0; i < 5000; i++)
    ASSERT_TRUE(out.write_byte(static_cast<std::uint8_t>(i)));
  EXPECT_EQ(out.allocated(), 8192u);
  EXPECT_EQ(out.size(), 5000);
  ASSERT_TRUE(out.seek_to(100));
  const std::uint8_t ten[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(out.write_bytes(ten, 10));
  EXPECT_EQ(out.size(), 5000);
  EXPECT_EQ(out.position(), 110);
  EXPECT_EQ(out.data()[100], 9);
  EXPECT_EQ(out.data()[4999], static_cast<std::uint8_t>(4999));
  EXPECT_FALSE(out.seek_to(5001));
  EXPECT_TRUE(out.seek_to_end());
  EXPECT_EQ(out.position(), 5000);
  std::vector<std::uint8_t> big(100000, 3);
  ASSERT_TRUE(out.write_bytes(big.data(), big.size()));
  EXPECT_EQ(out.size(), 105000);
  EXPECT_EQ(out.data()[104999], 3);
}

TEST(ByteStreamOut, NilCountsBytesAndDoesNotCountPatchesTwice) {
  ByteStreamOutNil out;
  out.write_byte(1);
  const double value = 1.5;
  out.write64_le(&value);
  out.write32_be(&value);
  EXPECT_EQ(out.position(), 13);
  // A writer patching its header seeks back, rewrites and returns to the end.
  EXPECT_TRUE(out.seek_to(4));
  EXPECT_EQ(out.position(), 4);
  out.write32_le(&value);
  EXPECT_EQ(out.position(), 8);
  EXPECT_EQ(out.size(), 13);
  EXPECT_TRUE(out.seek_to_end());
  EXPECT_EQ(out.position(), 13);
  EXPECT_FALSE(out.seek_to(-1));
}

TEST(ByteStreamOut, FileStreamWritesBothOrdersAndPatchesAfterSeeking) {
  FilePtr file(std::tmpfile());
  {
    ByteStreamOutFileLE out(file.get(), 16);
    const std::uint32_t value = 0x01020304;
    ASSERT_TRUE(out.write32_le(&value));
    ASSERT_TRUE(out.write32_be(&value));
    std::vector<std::uint8_t> filler(40, 0xEE);
    ASSERT_TRUE(out.write_bytes(filler.data(), filler.size()));
    EXPECT_EQ(out.position(), 48);
    ASSERT_TRUE(out.seek_to(8));
    const std::uint16_t patch = 0xABCD;
    ASSERT_TRUE(out.write16_le(&patch));
    ASSERT_TRUE(out.seek_to_end());
    EXPECT_EQ(out.position(), 48);
    ASSERT_TRUE(out.flush());
  }
  std::rewind(file.get());
  std::uint8_t bytes[48];
  ASSERT_EQ(std::fread(bytes, 1, 48, file.get()), 48u);
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(bytes[4], 1);
  EXPECT_EQ(bytes[8], 0xCD);
  EXPECT_EQ(bytes[9], 0xAB);
  EXPECT_EQ(bytes[10], 0xEE);
}

TEST(ByteStreamOut, WritingToAFullDiskFailsAtTheLatestOnFlush) {
  FilePtr full(std::fopen("/dev/full", "wb"));
  if (!full) GTEST_SKIP() << "/dev/full is not available";
  std::setvbuf(full.get(), nullptr, _IONBF, 0);
  ByteStreamOutFileLE out(full.get(), 64);
  std::vector<std::uint8_t> bytes(1000, 1);
  const bool written = out.write_bytes(bytes.data(), bytes.size());
  EXPECT_FALSE(written && out.flush());
  EXPECT_FALSE(out.write_byte(1) && out.flush());
  EXPECT_TRUE(out.failed());
}

TEST(ByteStreamOut, AFullDiskFailsTheFlushOfAFewBytesThatNeverFilledABlock) {
  FilePtr full(std::fopen("/dev/full", "wb"));
  if (!full) GTEST_SKIP() << "/dev/full is not available";
  std::setvbuf(full.get(), nullptr, _IONBF, 0);
  ByteStreamOutFileLE out(full.get(), 64);
  const std::uint8_t few[10] = {};
  ASSERT_TRUE(out.write_bytes(few, sizeof few));
  EXPECT_FALSE(out.failed());
  EXPECT_FALSE(out.flush());
  EXPECT_TRUE(out.failed());
  EXPECT_FALSE(out.write_byte(1));
  EXPECT_FALSE(out.flush());
}

TEST(ByteStreamOut, BlocksWrittenInTheBackgroundKeepTheirOrderAcrossSeeksAndPatches) {
  // Small blocks, so that the background writer gets many of them, a few still queued
  // when the seek, the patch and the flush come.
  FilePtr file(std::tmpfile());
  std::vector<std::uint8_t> expected;
  {
    ByteStreamOutFileLE out(file.get(), 256);
    for (std::uint32_t i = 0; i < 20000; i++) {
      const std::uint8_t record[7] = {
          static_cast<std::uint8_t>(i),    static_cast<std::uint8_t>(i >> 8), 1, 2, 3, 4,
          static_cast<std::uint8_t>(i * 7)};
      ASSERT_TRUE(out.write_bytes(record, sizeof(record)));
      expected.insert(expected.end(), record, record + sizeof(record));
    }
    EXPECT_EQ(out.position(), 140000);
    const std::uint32_t patch = 0xA1B2C3D4;
    ASSERT_TRUE(out.seek_to(1000));
    ASSERT_TRUE(out.write32_le(&patch));
    std::memcpy(expected.data() + 1000, &patch, 4);
    ASSERT_TRUE(out.seek_to_end());
    std::vector<std::uint8_t> tail(5000, 9);  // more than a block: written in place
    ASSERT_TRUE(out.write_bytes(tail.data(), tail.size()));
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_TRUE(out.write_byte(42));
    expected.push_back(42);
    ASSERT_TRUE(out.flush());
  }
  std::rewind(file.get());
  std::vector<std::uint8_t> written(expected.size() + 1);
  ASSERT_EQ(std::fread(written.data(), 1, written.size(), file.get()), expected.size());
  written.pop_back();
  EXPECT_EQ(written, expected);
}

TEST(ByteStreamOut, ARefusedBackgroundBlockShowsAtTheSameWriteEveryTime) {
  // The refusal of the first block shows when the fourth is handed over (the moment its
  // buffer must come back), whatever the speed of the thread.
  for (int attempt = 0; attempt < 20; attempt++) {
    FilePtr full(std::fopen("/dev/full", "wb"));
    if (!full) GTEST_SKIP() << "/dev/full is not available";
    std::setvbuf(full.get(), nullptr, _IONBF, 0);
    ByteStreamOutFileLE out(full.get(), 64);
    int accepted = 0;
    while (accepted < 1000 && out.write_byte(1))
      accepted++;
    EXPECT_EQ(accepted, 4 * 64);
    EXPECT_FALSE(out.write_byte(1));
    EXPECT_FALSE(out.flush());
    EXPECT_TRUE(out.failed());
  }
}

TEST(ByteStreamBits, BitsRoundTripThroughLittleEndianWords) {
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(out.write_bits(3, 5));
  ASSERT_TRUE(out.write_bits(32, 0xDEADBEEF));
  ASSERT_TRUE(out.write_bits(17, 0x1ABCD));
  ASSERT_TRUE(out.flush_bits());
  EXPECT_EQ(out.size(), 8);
  ByteStreamInArrayLE in(out.data(), out.size());
  EXPECT_EQ(in.read_bits(3), 5u);
  EXPECT_EQ(in.read_bits(32), 0xDEADBEEFu);
  EXPECT_EQ(in.read_bits(17), 0x1ABCDu);

  // Single bits, values wider than their count (only the low bits count) and a word
  // boundary crossed by a 20-bit value; the words are decoded by hand.
  ByteStreamOutArrayLE bits;
  ASSERT_TRUE(bits.write_bits(0, 0xFFFFFFFF));
  ASSERT_TRUE(bits.write_bits(1, 1));
  ASSERT_TRUE(bits.write_bits(1, 0));
  ASSERT_TRUE(bits.write_bits(1, 3));
  ASSERT_TRUE(bits.write_bits(2, 0xFF));
  ASSERT_TRUE(bits.write_bits(20, 0xABCDE));
  ASSERT_TRUE(bits.write_bits(20, 0x12345));
  ASSERT_TRUE(bits.flush_bits());
  ASSERT_TRUE(bits.flush_bits());  // nothing pending: no word
  // bits 0-4: 1,0,1,1,1 = 0x1D; bits 5-24: 0xABCDE; bits 25-44: 0x12345.
  const std::uint64_t packed = 0x1Dull | (0xABCDEull << 5) | (0x12345ull << 25);
  std::vector<std::uint8_t> expected(8);
  for (int i = 0; i < 8; i++)
    expected[i] = static_cast<std::uint8_t>(packed >> (8 * i));
  EXPECT_EQ(std::vector<std::uint8_t>(bits.data(), bits.data() + bits.size()), expected);
  ByteStreamInArrayLE read(bits.data(), bits.size());
  EXPECT_EQ(read.read_bits(0), 0u);
  EXPECT_EQ(read.position(), 0);
  EXPECT_EQ(read.read_bits(1), 1u);
  EXPECT_EQ(read.read_bits(1), 0u);
  EXPECT_EQ(read.read_bits(1), 1u);
  EXPECT_EQ(read.read_bits(2), 3u);
  EXPECT_EQ(read.read_bits(20), 0xABCDEu);
  EXPECT_EQ(read.read_bits(20), 0x12345u);
  EXPECT_EQ(read.read_bits(19), 0u);
}

TEST(ByteStreamInOut, SideFileIsWrittenAndReadBack) {
  FilePtr file(std::tmpfile());
  ByteStreamInOutFileLE stream(file.get());
  const std::uint32_t a = 11, b = 22;
  ASSERT_TRUE(stream.out().write32_le(&a));
  ASSERT_TRUE(stream.out().write32_le(&b));
  ASSERT_TRUE(stream.seek_to(4));
  std::uint32_t got = 0;
  stream.in().read32_le(&got);
  EXPECT_EQ(got, 22u);
  ASSERT_TRUE(stream.seek_to(0));
  stream.in().read32_le(&got);
  EXPECT_EQ(got, 11u);
  const std::uint32_t c = 33;
  ASSERT_TRUE(stream.seek_to_end());
  ASSERT_TRUE(stream.out().write32_le(&c));
  ASSERT_TRUE(stream.seek_to(8));
  stream.in().read32_le(&got);
  EXPECT_EQ(got, 33u);
}

}  // namespace

TEST(ByteStreamIn, TakeBytesHandsOutBufferedRecordsAndRefusesWithoutConsuming) {
  const std::uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ByteStreamInArrayLE in(data, sizeof data);
  const std::uint8_t* first = in.take_bytes(4);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[3], 3);
  EXPECT_EQ(in.position(), 4);
  // Only 6 bytes remain: a record of 8 is refused and nothing is consumed.
  EXPECT_EQ(in.take_bytes(8), nullptr);
  EXPECT_EQ(in.position(), 4);
  EXPECT_EQ(in.read_byte(), 4);
}

TEST(ByteStreamIn, TakeBytesFallsBackAtTheEndOfAFileBlock) {
  FilePtr file(std::tmpfile());
  for (int i = 0; i < 10; i++)
    std::fputc(i, file.get());
  std::rewind(file.get());
  ByteStreamInFileLE in(file.get(), 4);
  std::uint8_t record[3];
  in.read_bytes(record, 3);              // block holds bytes 0-3
  EXPECT_EQ(in.take_bytes(3), nullptr);  // only byte 3 is buffered
  in.read_bytes(record, 3);              // the fallback refills
  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[2], 5);
}

TEST(ByteStreamIn, PeekBytesLooksAheadWithoutConsumingAndSkipBufferedConsumes) {
  const std::uint8_t data[6] = {0, 1, 2, 3, 4, 5};
  ByteStreamInArrayLE in(data, sizeof data);
  const std::uint8_t* next = in.peek_bytes(4);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next[3], 3);
  EXPECT_EQ(in.position(), 0);
  in.skip_buffered(3);
  EXPECT_EQ(in.position(), 3);
  EXPECT_EQ(in.peek_bytes(4), nullptr);  // 3 bytes left
  ASSERT_NE(in.peek_bytes(3), nullptr);
  EXPECT_EQ(in.read_byte(), 3);
}

TEST(ByteStreamOut, ClaimBytesFillsTheBufferInPlaceOrRefuses) {
  ByteStreamOutArrayLE out(8);
  std::uint8_t* room = out.claim_bytes(6);
  ASSERT_NE(room, nullptr);
  for (int i = 0; i < 6; i++)
    room[i] = static_cast<std::uint8_t>(10 + i);
  EXPECT_EQ(out.position(), 6);
  EXPECT_EQ(out.claim_bytes(6), nullptr);  // 2 bytes of room left
  EXPECT_EQ(out.position(), 6);
  const std::uint8_t more[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(out.write_bytes(more, 6));  // the fallback grows the block
  EXPECT_EQ(out.size(), 12);
  EXPECT_EQ(out.data()[5], 15);
  EXPECT_EQ(out.data()[11], 6);
  ByteStreamOutNil nil;  // no buffer: always the fallback
  EXPECT_EQ(nil.claim_bytes(1), nullptr);
}
