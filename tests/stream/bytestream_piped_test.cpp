// Keeping an input that arrives once: the head taken into blocks up to a limit, the rest
// with it into an unnamed temporary file that leaves nothing in its folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "stream/bytestream_piped.hpp"

namespace {

TEST(ByteStreamPiped, TheHeadThenTheRestGoIntoAnUnnamedFileThatLeavesNothingBehind) {
  constexpr std::size_t kBlock = ByteBlocks::kBlockSize;
  std::vector<std::uint8_t> expected(2 * kBlock + kBlock / 2 + 13);
  std::mt19937 random(11);
  for (auto& byte : expected)
    byte = static_cast<std::uint8_t>(random());
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("bytestream_piped_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", folder.c_str(), 1);
  for (const std::int64_t limit :
       {std::int64_t{0}, std::int64_t{375}, static_cast<std::int64_t>(kBlock + 7),
        static_cast<std::int64_t>(expected.size() + 1)}) {
    SCOPED_TRACE(limit);
    std::FILE* input = std::tmpfile();
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(std::fwrite(expected.data(), 1, expected.size(), input), expected.size());
    std::rewind(input);
    ByteBlocks head;
    const bool ended = read_into_blocks(head, input, limit);
    EXPECT_EQ(ended, limit > static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(head.size, std::min<std::int64_t>(limit, expected.size()));
    EXPECT_LE(head.allocated(), static_cast<std::size_t>(head.size) + kBlock);
    std::string error;
    UniqueFile spill = open_unnamed_temporary_file(error);
    ASSERT_TRUE(spill) << error;
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the file has no name from the start";
    std::int64_t written = 0;
    ASSERT_TRUE(spill_input(head, input, spill.get(), written, error)) << error;
    std::fclose(input);
    EXPECT_EQ(written, static_cast<std::int64_t>(expected.size()));
    EXPECT_TRUE(head.blocks.empty()) << "the head is released once written";
    std::vector<std::uint8_t> back(expected.size() + 1);
    EXPECT_EQ(std::fread(back.data(), 1, back.size(), spill.get()), expected.size());
    back.pop_back();
    EXPECT_TRUE(back == expected);
  }
  if (saved) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  std::filesystem::remove_all(folder);
}

TEST(ByteStreamPiped, AFolderThatTakesNoFilesFallsBackToTmpAndAFullDiskFailsTheCopy) {
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", "/nonexistent/folder", 1);
  std::string error;
  UniqueFile spill = open_unnamed_temporary_file(error);
  EXPECT_TRUE(spill) << error;
  if (saved) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  // /dev/full takes no byte: the copy fails with a message instead of passing as complete.
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "/dev/full is not there";
  std::FILE* input = std::tmpfile();
  ASSERT_NE(input, nullptr);
  const std::vector<std::uint8_t> bytes(ByteBlocks::kBlockSize * 2, 7);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), input), bytes.size());
  std::rewind(input);
  ByteBlocks head;
  std::int64_t written = 0;
  EXPECT_FALSE(spill_input(head, input, full, written, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  std::fclose(input);
  std::fclose(full);
}

}  // namespace

namespace {

// The head is taken from the pipe with plain reads, so a FILE opened on the descriptor
// afterwards goes on at the first byte not taken, however the writer cut its writes.
TEST(ByteStreamPiped, AHeadReadFromADescriptorTakesNoByteBeyondItsLimit) {
  std::vector<std::uint8_t> expected(100000);
  std::mt19937 random(5);
  for (auto& byte : expected)
    byte = static_cast<std::uint8_t>(random());
  for (const std::int64_t limit :
       {std::int64_t{0}, std::int64_t{1}, std::int64_t{4096}, std::int64_t{65537},
        std::int64_t{100000}, std::int64_t{100001}}) {
    SCOPED_TRACE(limit);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    // Small writes from another thread: the reader sees the pipe fill a little at a time.
    std::thread writer([&] {
      for (std::size_t at = 0; at < expected.size(); at += 1000) {
        const std::size_t n = std::min<std::size_t>(1000, expected.size() - at);
        if (write(ends[1], expected.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      close(ends[1]);
    });
    ByteBlocks head;
    const bool ended = read_descriptor_into_blocks(head, ends[0], limit);
    EXPECT_EQ(ended, limit > static_cast<std::int64_t>(expected.size()));
    ASSERT_EQ(head.size, std::min<std::int64_t>(limit, expected.size()));
    std::FILE* rest = fdopen(ends[0], "rb");
    ASSERT_NE(rest, nullptr);
    std::vector<std::uint8_t> back(expected.size() + 1);
    std::size_t got = 0;
    for (std::int64_t i = 0; i < head.size; i++)
      back[got++] = head.blocks[0][static_cast<std::size_t>(i)];
    got += std::fread(back.data() + got, 1, back.size() - got, rest);
    std::fclose(rest);
    writer.join();
    EXPECT_EQ(got, expected.size());
    back.resize(expected.size());
    EXPECT_TRUE(back == expected);
  }
}

}  // namespace
