// End to end with the built binary on a variable-chunk file of another producer: its
// extended records after the chunk table reach the output unchanged, and without a readable
// chunk table (its chunks' point counts live only there) the file fails as a whole: one
// "ERROR: " line naming the table, no output, exit code 1.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

// The LAS 1.4 header fields the test edits or follows, read here without the project's
// reader so that a fault there cannot hide one here.
constexpr std::size_t kOffsetToPointDataAt = 96;
constexpr std::size_t kStartOfFirstEvlrAt = 235;
constexpr std::size_t kNumberOfEvlrsAt = 243;
constexpr std::size_t kEvlrHeaderSize = 60;
constexpr std::size_t kEvlrLengthAt = 20;

template <typename T>
T get(const std::string& bytes, std::size_t at) {
  T value{};
  if (at + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}
template <typename T>
void put(std::string& bytes, std::size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof(T));
}

// Each EVLR of a file as its bytes after the 2 reserved ones: user id, record id, length,
// description and payload.
std::vector<std::string> evlrs_of(const std::string& file) {
  std::vector<std::string> records;
  std::size_t at = get<std::uint64_t>(file, kStartOfFirstEvlrAt);
  const std::uint32_t count = get<std::uint32_t>(file, kNumberOfEvlrsAt);
  for (std::uint32_t i = 0; i < count && at + kEvlrHeaderSize <= file.size(); i++) {
    const std::uint64_t length = get<std::uint64_t>(file, at + kEvlrLengthAt);
    if (length > file.size() - at - kEvlrHeaderSize) break;
    records.push_back(file.substr(at + 2, kEvlrHeaderSize - 2 + length));
    at += kEvlrHeaderSize + length;
  }
  return records;
}

class IsocullVarchunk : public ToolFolders {
 protected:
  void SetUp() override {
    ToolFolders::SetUp();
    original_ = read_text(kRealData + "/simple-varchunk.pkz");
    if (original_.empty()) GTEST_SKIP() << "no real files in " << kRealData;
    const std::uint32_t point_data = get<std::uint32_t>(original_, kOffsetToPointDataAt);
    table_ = get<std::int64_t>(original_, point_data);
    pointer_at_ = point_data;
  }
  void write_input(const std::string& bytes) {
    std::ofstream out(path("in/damaged.pkz"), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // The file without its EVLRs, as a producer that writes none would leave it, so that a
  // cut reaches the chunk table and not the records after it.
  std::string without_evlrs() const {
    std::string bytes = original_.substr(0, get<std::uint64_t>(original_, kStartOfFirstEvlrAt));
    put<std::uint64_t>(bytes, kStartOfFirstEvlrAt, 0);
    put<std::uint32_t>(bytes, kNumberOfEvlrsAt, 0);
    return bytes;
  }
  std::string original_;
  std::int64_t table_ = 0;
  std::size_t pointer_at_ = 0;
};

TEST_F(IsocullVarchunk, TheRecordsAfterTheChunkTableReachTheOutputUnchanged) {
  const std::vector<std::string> expected = evlrs_of(original_);
  ASSERT_EQ(expected.size(), 1u);
  for (const char* output : {"out/copy.las", "out/copy.pkz"}) {
    SCOPED_TRACE(output);
    // At the default step every point of this small file is noise; the tool's warning about
    // that is the only one expected.
    const ToolRun result = run({"-i", kRealData + "/simple-varchunk.pkz", "-o", output});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.count("WARNING"), result.count("WARNING: 100% of the points")) << result.err;
    EXPECT_FALSE(result.printed("ERROR")) << result.err;
    EXPECT_EQ(evlrs_of(read_text(path(output))), expected);
  }
}

TEST_F(IsocullVarchunk, WithoutAReadableChunkTableTheFileFailsWithOneErrorAndNoOutput) {
  struct Damage {
    const char* what;
    std::string bytes;
    const char* message;
  };
  std::vector<Damage> damages;
  {
    std::string interrupted = original_;
    put<std::int64_t>(interrupted, pointer_at_, static_cast<std::int64_t>(pointer_at_));
    damages.push_back({"pointer never replaced", interrupted,
                       "compressor was interrupted before writing adaptive chunk table of PKZ "
                       "file"});
  }
  const std::string bare = without_evlrs();
  damages.push_back({"cut before the table", bare.substr(0, table_ - 30),
                     "chunk table and 30 bytes are missing. PKZ file truncated during copy or "
                     "transfer?"});
  damages.push_back({"cut where the table begins", bare.substr(0, table_),
                     "chunk table is missing. improper use of PKZ compressor?"});
  damages.push_back({"cut inside the table", bare.substr(0, table_ + 20), "corrupt chunk table"});
  {
    std::string garbled = original_;
    for (std::int64_t i = table_ + 8; i < table_ + 40; i++)
      garbled[i] ^= 0x5A;
    damages.push_back({"garbled entries", garbled, "corrupt chunk table"});
  }
  {
    std::string versioned = original_;
    put<std::uint32_t>(versioned, table_, 1);
    damages.push_back({"unknown table version", versioned, "corrupt chunk table"});
  }

  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    write_input(damage.bytes);
    for (const char* mode : {"-classify_as", "-flag_as_withheld", "-remove_noise"}) {
      std::vector<std::string> args = {"-i", "in/damaged.pkz", "-o", "out/damaged.las", mode};
      if (std::string(mode) == "-classify_as") args.push_back("7");
      const ToolRun result = run(args);
      EXPECT_EQ(result.exit_code, 1) << result.err;
      EXPECT_EQ(result.count("ERROR: "), 1u) << result.err;
      EXPECT_TRUE(result.printed("ERROR: '" + std::string(damage.message) +
                                 "' after 0 of 1065 points for 'in/damaged.pkz'\n"))
          << result.err;
      EXPECT_FALSE(result.printed("done with")) << result.err;
      EXPECT_TRUE(listing("out").empty()) << "no output is left behind";
    }
  }
}

}  // namespace
