// The chunk table at the end of a compressed file written by another producer is coded with
// the entropy coder and an integer coder. Decoding it and coding it again must give back
// the producer's bytes exactly.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

// The few header and record positions the test needs, parsed here on purpose without the
// project's header reader, so that a fault there cannot hide one here.
constexpr std::size_t kVersionMinorAt = 25;
constexpr std::size_t kHeaderSizeAt = 94;
constexpr std::size_t kOffsetToPointDataAt = 96;
constexpr std::size_t kNumberOfVlrsAt = 100;
constexpr std::size_t kStartOfFirstEvlrAt = 235;
constexpr std::size_t kNumberOfEvlrsAt = 243;
constexpr std::size_t kNumberOfPoints14At = 247;
constexpr std::size_t kVlrHeaderSize = 54;
constexpr std::size_t kVlrUserIdAt = 2;
constexpr std::size_t kVlrRecordLengthAt = 20;
constexpr char kCodecUserId[] = "pakrel encoded";
constexpr std::size_t kCompressorAt = 0;  // in the codec record's payload
constexpr std::size_t kChunkSizeAt = 12;

template <typename T>
T read_at(const std::vector<std::uint8_t>& file, std::size_t at) {
  T value{};
  if (at + sizeof(T) <= file.size()) std::memcpy(&value, file.data() + at, sizeof(T));
  return value;
}

struct ChunkTableSite {
  std::vector<std::uint8_t> file;
  std::uint32_t offset_to_point_data = 0;
  std::int64_t table_start = 0;  // T: version and chunk count, then the coded entries
  std::int64_t table_end = 0;    // where the next thing after the table begins
  bool variable_chunks = false;
  bool layered = false;  // compressor kind 3: a chunk holds layers, not one coded stream
};

// Finds the chunk table of a chunked compressed file; `why` says why there is none.
std::optional<ChunkTableSite> locate_chunk_table(const std::string& path, std::string& why) {
  std::ifstream stream(path, std::ios::binary);
  ChunkTableSite site;
  site.file.assign(std::istreambuf_iterator<char>(stream), {});
  const std::vector<std::uint8_t>& file = site.file;
  const auto size = static_cast<std::int64_t>(file.size());
  if (size < 227 || std::memcmp(file.data(), "LASF", 4) != 0) {
    why = "no LAS header";
    return std::nullopt;
  }
  const std::size_t header_size = read_at<std::uint16_t>(file, kHeaderSizeAt);
  site.offset_to_point_data = read_at<std::uint32_t>(file, kOffsetToPointDataAt);
  const std::uint32_t vlr_count = read_at<std::uint32_t>(file, kNumberOfVlrsAt);
  std::optional<std::size_t> codec_payload;
  std::size_t at = header_size;
  for (std::uint32_t i = 0; i < vlr_count && at + kVlrHeaderSize <= file.size(); i++) {
    const char* user_id = reinterpret_cast<const char*>(file.data() + at + kVlrUserIdAt);
    if (std::strncmp(user_id, kCodecUserId, 16) == 0) codec_payload = at + kVlrHeaderSize;
    at += kVlrHeaderSize + read_at<std::uint16_t>(file, at + kVlrRecordLengthAt);
  }
  if (!codec_payload) {
    why = "no codec record";
    return std::nullopt;
  }
  const std::uint16_t compressor = read_at<std::uint16_t>(file, *codec_payload + kCompressorAt);
  if (compressor != 2 && compressor != 3) {
    why = "compressor kind " + std::to_string(compressor) + " has no chunk table";
    return std::nullopt;
  }
  site.layered = compressor == 3;
  // Variable chunks: a chunk size of 0, or all bits set as other producers write it.
  const std::uint32_t chunk_size = read_at<std::uint32_t>(file, *codec_payload + kChunkSizeAt);
  site.variable_chunks = chunk_size == 0 || chunk_size == 0xFFFFFFFF;
  if (site.offset_to_point_data + std::int64_t{8} > size) {
    why = "point data beyond the end";
    return std::nullopt;
  }
  site.table_start = read_at<std::int64_t>(file, site.offset_to_point_data);
  site.table_end = size;
  if (site.table_start == -1) {
    site.table_start = read_at<std::int64_t>(file, file.size() - 8);
    site.table_end = size - 8;
  } else if (file[kVersionMinorAt] >= 4 && read_at<std::uint32_t>(file, kNumberOfEvlrsAt) > 0) {
    site.table_end = static_cast<std::int64_t>(read_at<std::uint64_t>(file, kStartOfFirstEvlrAt));
  }
  if (site.table_start < site.offset_to_point_data + std::int64_t{8} ||
      site.table_start + 8 > site.table_end || site.table_end > size) {
    why = "chunk table outside the file";
    return std::nullopt;
  }
  return site;
}

std::string real_file(const char* name) {
  return std::string(ISOCULL_REAL_DATA_DIR) + "/" + name;
}

class ChunkTableConformance : public ::testing::TestWithParam<const char*> {};

TEST_P(ChunkTableConformance, DecodesToTheChunkLengthsAndCodesBackToTheProducersBytes) {
  const std::string path = real_file(GetParam());
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real data not present: " << path;
  std::string why;
  const std::optional<ChunkTableSite> site = locate_chunk_table(path, why);
  ASSERT_TRUE(site) << why;
  const std::vector<std::uint8_t>& file = site->file;
  const std::int64_t entries_at = site->table_start + 8;
  const auto file_size = static_cast<std::int64_t>(file.size());

  ASSERT_EQ(read_at<std::uint32_t>(file, static_cast<std::size_t>(site->table_start)), 0u)
      << "table version";
  const std::uint32_t chunk_count =
      read_at<std::uint32_t>(file, static_cast<std::size_t>(site->table_start + 4));
  ASSERT_GT(chunk_count, 0u);
  // Every entry costs the coder at least a bit: a count beyond that is no table.
  ASSERT_LE(chunk_count, 8 * (file_size - entries_at));

  ByteStreamInArray in(file.data() + entries_at, site->table_end - entries_at);
  EntropyDecoder decoder;
  ASSERT_TRUE(decoder.init(&in));
  IntegerCoder decompressor(&decoder, 32, 2, 8, 0);
  decompressor.init();
  std::vector<std::int32_t> point_counts, byte_lengths;
  std::int32_t count = 0, length = 0;
  for (std::uint32_t i = 0; i < chunk_count; i++) {
    if (site->variable_chunks) point_counts.push_back(count = decompressor.decompress(count, 0));
    byte_lengths.push_back(length = decompressor.decompress(length, 1));
  }
  decoder.done();

  // The chunks fill the point data block from after its table pointer to the table.
  std::int64_t chunk_bytes = 0;
  for (std::int32_t l : byte_lengths) {
    EXPECT_GT(l, 0);
    chunk_bytes += l;
  }
  EXPECT_EQ(chunk_bytes, site->table_start - (site->offset_to_point_data + 8));
  if (site->variable_chunks) {
    // The chunks' point counts add up to the header's: the 64-bit count of LAS 1.4.
    std::uint64_t points = 0;
    for (std::int32_t c : point_counts) {
      EXPECT_GT(c, 0);
      points += static_cast<std::uint32_t>(c);
    }
    EXPECT_EQ(points, read_at<std::uint64_t>(file, kNumberOfPoints14At));
  }
  if (!site->layered) {
    // Each chunk ends with its coded stream, and so with the coder's two zero tail bytes.
    std::int64_t chunk_end = site->offset_to_point_data + 8;
    for (std::int32_t l : byte_lengths) {
      chunk_end += l;
      ASSERT_LE(chunk_end, file_size);
      EXPECT_EQ(file[chunk_end - 1], 0);
      EXPECT_EQ(file[chunk_end - 2], 0);
    }
  }

  ByteStreamOutArray out;
  EntropyEncoder encoder;
  ASSERT_TRUE(encoder.init(&out));
  IntegerCoder compressor(&encoder, 32, 2, 8, 0);
  compressor.init();
  count = length = 0;
  for (std::uint32_t i = 0; i < chunk_count; i++) {
    if (site->variable_chunks) {
      compressor.compress(count, point_counts[i], 0);
      count = point_counts[i];
    }
    compressor.compress(length, byte_lengths[i], 1);
    length = byte_lengths[i];
  }
  ASSERT_TRUE(encoder.done());

  // The coded table runs exactly to what follows it, and its bytes are the producer's.
  EXPECT_EQ(entries_at + out.size(), site->table_end);
  EXPECT_EQ(in.position(), out.size());
  ASSERT_LE(entries_at + out.size(), file_size);
  const std::vector<std::uint8_t> ours(out.data(), out.data() + out.size());
  const std::vector<std::uint8_t> theirs(file.begin() + entries_at,
                                         file.begin() + entries_at + out.size());
  EXPECT_EQ(ours, theirs);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, ChunkTableConformance,
                         ::testing::Values("simple.pkz", "extrabytes.pkz", "1_4_w_evlr.pkz",
                                           "fullwave.pkz", "simple-varchunk.pkz",
                                           "autzen-clip-varchunk.pkz"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(ChunkTableConformance, FilesWithoutAChunkTableAreToldApart) {
  for (const char* name : {"bad-header.pkz", "simple-v1.pkz", "simple.las"}) {
    const std::string path = real_file(name);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "real data not present: " << path;
    std::string why;
    EXPECT_FALSE(locate_chunk_table(path, why)) << name;
    EXPECT_FALSE(why.empty()) << name;
  }
}

}  // namespace
