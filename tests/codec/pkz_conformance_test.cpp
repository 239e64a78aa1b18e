// End-to-end conformance of the engines with the real item codecs against files other
// producers wrote. Each test skips, naming the missing codec, while the codec table does not
// yet hold a codec that the file needs; adding the codec to codec/item_codec_table.cpp is
// all it takes to switch the test on.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

struct PkzFile {
  std::vector<std::uint8_t> bytes;
  codec_test::LasFileFacts facts;
  Pakrel codec;
};

bool load(const char* name, PkzFile& file) {
  auto bytes = codec_test::read_whole_file(codec_test::real_data_path(name));
  if (!bytes) return false;
  file.bytes = std::move(*bytes);
  file.facts = codec_test::las_file_facts(file.bytes);
  if (file.facts.codec_payload < 0) return false;
  ByteStreamInArray in(file.bytes.data() + file.facts.codec_payload,
                       file.facts.codec_payload_length);
  return read_pakrel_record(in, file.codec);
}

// "" when the table holds a reader for every item, else the first item it lacks.
std::string missing_codec(const Pakrel& codec) {
  LASreadEngine probe;
  for (const LASitem& item : codec.items) {
    Pakrel single;
    single.compressor = codec.compressor;
    single.items = {item};
    single.num_items = 1;
    if (!probe.setup(1, single.items.data(), &single)) {
      return std::string(LASitem::type_name(item.type)) + " version " +
             std::to_string(item.version);
    }
  }
  return "";
}

// The records of the decoded PKZ file, as raw bytes.
std::vector<std::uint8_t> decode_records(const PkzFile& pkz) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, pkz.codec.num_items, pkz.codec.items.data(), nullptr));
  LASreadEngine reader;
  LASwriteEngine raw_writer;
  EXPECT_TRUE(reader.setup(pkz.codec.num_items, pkz.codec.items.data(), &pkz.codec));
  EXPECT_TRUE(raw_writer.setup(point.num_items, point.items.data()));
  ByteStreamInArray in(pkz.bytes.data(), static_cast<std::int64_t>(pkz.bytes.size()));
  EXPECT_TRUE(in.seek_to(pkz.facts.offset_to_point_data));
  ByteStreamOutArray out;
  EXPECT_TRUE(reader.attach(&in));
  EXPECT_TRUE(raw_writer.attach(&out));
  for (std::uint64_t i = 0; i < pkz.facts.number_of_points; i++) {
    if (!reader.read(point.item_data.data())) {
      ADD_FAILURE() << "point " << i << ": " << reader.error_text();
      break;
    }
    raw_writer.write(point.item_data.data());
  }
  EXPECT_TRUE(reader.verify_end()) << reader.error_text();
  EXPECT_EQ(reader.warning_text(), nullptr);
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

TEST(PkzConformance, TwinsDecodeToTheRecordsOfTheirLasFile) {
  const std::pair<const char*, const char*> twins[] = {{"simple.pkz", "simple.las"},
                                                       {"simple-v1.pkz", "simple.las"},
                                                       {"extrabytes.pkz", "extrabytes.las"},
                                                       {"1_4_w_evlr.pkz", "1_4_w_evlr.las"}};
  std::string skipped;
  for (const auto& [pkz_name, las_name] : twins) {
    SCOPED_TRACE(pkz_name);
    PkzFile pkz;
    const auto las = codec_test::read_whole_file(codec_test::real_data_path(las_name));
    if (!load(pkz_name, pkz) || !las) GTEST_SKIP() << "real data folder not available";
    const std::string missing = missing_codec(pkz.codec);
    if (!missing.empty()) {
      skipped += std::string(" ") + pkz_name + " (no codec for " + missing + " yet)";
      continue;
    }
    const auto las_facts = codec_test::las_file_facts(*las);
    const std::size_t block = las_facts.number_of_points * las_facts.point_data_record_length;
    const auto records = decode_records(pkz);
    ASSERT_EQ(records.size(), block);
    EXPECT_EQ(0, std::memcmp(records.data(), las->data() + las_facts.offset_to_point_data, block));
  }
  if (!skipped.empty()) GTEST_SKIP() << "skipped:" << skipped;
}

// Codes the `count` raw records of `records` with the PKZ file's own descriptor, behind the
// file's own bytes up to its points (so that the positions written match), and demands the
// file's point block byte for byte.
void expect_codes_to_the_file(const PkzFile& pkz, ByteStreamIn& records, std::uint64_t count) {
  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, pkz.codec.num_items, pkz.codec.items.data(), nullptr));
  LASreadEngine raw_reader;
  LASwriteEngine writer;
  ASSERT_TRUE(raw_reader.setup(point.num_items, point.items.data()));
  ASSERT_TRUE(writer.setup(pkz.codec.num_items, pkz.codec.items.data(), &pkz.codec));
  ByteStreamOutArray out;
  ASSERT_TRUE(out.write_bytes(pkz.bytes.data(), pkz.facts.offset_to_point_data));
  ASSERT_TRUE(raw_reader.attach(&records));
  ASSERT_TRUE(writer.attach(&out));
  for (std::uint64_t i = 0; i < count; i++) {
    ASSERT_TRUE(raw_reader.read(point.item_data.data())) << "point " << i;
    ASSERT_TRUE(writer.write(point.item_data.data())) << "point " << i;
  }
  ASSERT_TRUE(writer.finish());
  ASSERT_LE(out.size(), static_cast<std::int64_t>(pkz.bytes.size()));
  EXPECT_EQ(0, std::memcmp(out.data(), pkz.bytes.data(), static_cast<std::size_t>(out.size())));
}

TEST(PkzConformance, EncodingTheLasTwinGivesThePointBlockOfThePkzFile) {
  const std::pair<const char*, const char*> twins[] = {{"simple.pkz", "simple.las"},
                                                       {"simple-v1.pkz", "simple.las"},
                                                       {"extrabytes.pkz", "extrabytes.las"},
                                                       {"1_4_w_evlr.pkz", "1_4_w_evlr.las"}};
  std::string skipped;
  for (const auto& [pkz_name, las_name] : twins) {
    SCOPED_TRACE(pkz_name);
    PkzFile pkz;
    const auto las = codec_test::read_whole_file(codec_test::real_data_path(las_name));
    if (!load(pkz_name, pkz) || !las) GTEST_SKIP() << "real data folder not available";
    LASwriteEngine probe;
    if (!probe.setup(pkz.codec.num_items, pkz.codec.items.data(), &pkz.codec)) {
      skipped += std::string(" ") + pkz_name + " (no codec in the table writes its items yet)";
      continue;
    }
    const auto las_facts = codec_test::las_file_facts(*las);
    ByteStreamInArray in(las->data(), static_cast<std::int64_t>(las->size()));
    ASSERT_TRUE(in.seek_to(las_facts.offset_to_point_data));
    expect_codes_to_the_file(pkz, in, las_facts.number_of_points);
  }
  if (!skipped.empty()) GTEST_SKIP() << "skipped:" << skipped;
}

TEST(PkzConformance, FullWaveFileDecodesToItsLastPoint) {
  PkzFile pkz;
  if (!load("fullwave.pkz", pkz)) GTEST_SKIP() << "real data folder not available";
  const std::string missing = missing_codec(pkz.codec);
  if (!missing.empty()) GTEST_SKIP() << "no codec for " << missing << " in the codec table yet";
  const auto records = decode_records(pkz);
  EXPECT_EQ(records.size(), pkz.facts.number_of_points * pkz.facts.point_data_record_length);
}

// Two tiles of one survey, in chunks of 50000 points, long enough for every model to be
// rescaled many times: the decoded points give the bounds and return counts that their
// producer wrote in the header, and coding them again gives the producer's point block.
TEST(PkzConformance, SurveyTilesDecodeToTheirHeadersAndCodeBackToTheirBytes) {
  constexpr std::size_t kPointsByReturnAt = 111;  // 5 x uint32
  constexpr std::size_t kScaleAt = 131;
  constexpr std::size_t kOffsetAt = 155;
  constexpr std::size_t kMaxXAt = 179;  // max x, min x, max y, min y, max z, min z
  for (const char* name : {"lone-star-split-1.pkz", "lone-star-split-2.pkz"}) {
    SCOPED_TRACE(name);
    PkzFile pkz;
    if (!load(name, pkz)) GTEST_SKIP() << "real data folder not available";
    ASSERT_EQ(pkz.facts.point_data_format & 0x3F, 1);  // the high bits mark compression
    ASSERT_GT(pkz.facts.number_of_points, 2 * std::uint64_t{pkz.codec.chunk_size});
    const std::vector<std::uint8_t> records = decode_records(pkz);
    const std::size_t size = pkz.facts.point_data_record_length;
    ASSERT_EQ(records.size(), pkz.facts.number_of_points * size);

    const auto& file = pkz.bytes;
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
    std::int32_t max[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    std::uint32_t by_return[5] = {};
    for (std::size_t at = 0; at < records.size(); at += size) {
      for (int c = 0; c < 3; c++) {
        const auto v = codec_test::value_at<std::int32_t>(records, at + 4 * c);
        min[c] = std::min(min[c], v);
        max[c] = std::max(max[c], v);
      }
      const int r = records[at + 14] & 7;
      if (r >= 1 && r <= 5) by_return[r - 1]++;
    }
    for (int c = 0; c < 3; c++) {
      const double scale = codec_test::value_at<double>(file, kScaleAt + 8 * c);
      const double offset = codec_test::value_at<double>(file, kOffsetAt + 8 * c);
      EXPECT_NEAR(max[c] * scale + offset, codec_test::value_at<double>(file, kMaxXAt + 16 * c),
                  scale / 2)
          << "axis " << c;
      EXPECT_NEAR(min[c] * scale + offset, codec_test::value_at<double>(file, kMaxXAt + 16 * c + 8),
                  scale / 2)
          << "axis " << c;
    }
    for (int r = 0; r < 5; r++) {
      EXPECT_EQ(by_return[r], codec_test::value_at<std::uint32_t>(file, kPointsByReturnAt + 4 * r))
          << "return " << r + 1;
    }

    ByteStreamInArray in(records.data(), static_cast<std::int64_t>(records.size()));
    expect_codes_to_the_file(pkz, in, pkz.facts.number_of_points);
  }
}

}  // namespace
