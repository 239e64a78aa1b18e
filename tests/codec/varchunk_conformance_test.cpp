// Layered files with variable-sized chunks written by other producers (one chunk per octree
// node, the chunk size of the codec record all bits set): every point decodes, the last
// chunk ends where the table says, seeking lands where sequential reading does, and coding
// the decoded records again with the producer's chunk boundaries gives its bytes back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "codec_test_support.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using codec_test::las_file_facts;
using codec_test::LasFileFacts;
using codec_test::read_whole_file;
using codec_test::real_data_path;
using codec_test::value_at;

constexpr std::size_t kStartOfFirstEvlrAt = 235;

struct VarchunkFile {
  std::vector<std::uint8_t> bytes;
  LasFileFacts facts;
  Pakrel codec;
  std::int64_t table_position = 0;
  std::int64_t table_end = 0;               // the first EVLR follows the table
  std::vector<std::uint64_t> chunk_totals;  // points before each chunk, and the total
};

std::optional<VarchunkFile> open_varchunk(const char* name) {
  auto bytes = read_whole_file(real_data_path(name));
  if (!bytes) return std::nullopt;
  VarchunkFile file;
  file.bytes = std::move(*bytes);
  file.facts = las_file_facts(file.bytes);
  EXPECT_GE(file.facts.codec_payload, 0) << name << " has no codec record";
  ByteStreamInArray payload(file.bytes.data() + file.facts.codec_payload,
                            file.facts.codec_payload_length);
  EXPECT_TRUE(read_pakrel_record(payload, file.codec));
  file.table_position = value_at<std::int64_t>(file.bytes, file.facts.offset_to_point_data);
  file.table_end =
      static_cast<std::int64_t>(value_at<std::uint64_t>(file.bytes, kStartOfFirstEvlrAt));
  ByteStreamInArray in(file.bytes.data(), static_cast<std::int64_t>(file.bytes.size()));
  EXPECT_TRUE(in.seek_to(file.facts.offset_to_point_data));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error, warning;
  EXPECT_TRUE(read_chunk_index(in, decoder, true, file.facts.point_data_record_length, index, error,
                               warning))
      << error;
  EXPECT_EQ(warning, "");
  file.chunk_totals = index.totals;
  return file;
}

// The record bytes of a point as the raw item writers store them.
std::vector<std::uint8_t> raw_record(const LASpoint& point) {
  ByteStreamOutArray out;
  std::uint32_t context = 0;
  for (std::size_t i = 0; i < point.items.size(); i++) {
    auto writer = create_raw_item_writer(point.items[i]);
    writer->init(&out);
    EXPECT_TRUE(writer->write(point.item_data[i], context));
  }
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

class VarchunkConformance : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    file_ = open_varchunk(GetParam());
    if (!file_) GTEST_SKIP() << "real data not present: " << real_data_path(GetParam());
    ASSERT_EQ(file_->codec.compressor, Pakrel::COMPRESSOR_LAYERED);
    ASSERT_EQ(file_->codec.chunk_size, kVariableChunkSize);
    ASSERT_TRUE(
        point_.init_layout(nullptr, file_->codec.num_items, file_->codec.items.data(), nullptr));
    in_ = std::make_unique<ByteStreamInArray>(file_->bytes.data(),
                                              static_cast<std::int64_t>(file_->bytes.size()));
    ASSERT_TRUE(in_->seek_to(file_->facts.offset_to_point_data));
    ASSERT_TRUE(engine_.setup(file_->codec.num_items, file_->codec.items.data(), &file_->codec));
    ASSERT_TRUE(engine_.attach(in_.get()));
  }

  // Every point in file order, checked to end where the table says.
  std::vector<std::vector<std::uint8_t>> read_all() {
    std::vector<std::vector<std::uint8_t>> records;
    for (std::uint64_t i = 0; i < file_->facts.number_of_points; i++) {
      if (!engine_.read(point_.item_data.data())) {
        ADD_FAILURE() << "point " << i << ": " << engine_.error_text();
        return records;
      }
      records.push_back(raw_record(point_));
    }
    EXPECT_TRUE(engine_.verify_end()) << engine_.error_text();
    EXPECT_EQ(engine_.error_text(), nullptr);
    EXPECT_EQ(engine_.warning_text(), nullptr);
    return records;
  }

  std::optional<VarchunkFile> file_;
  LASpoint point_;
  std::unique_ptr<ByteStreamInArray> in_;
  LASreadEngine engine_;
};

TEST_P(VarchunkConformance, EveryPointDecodesAndTheLastChunkEndsAtTheTable) {
  ASSERT_GT(file_->chunk_totals.size(), 1u);
  EXPECT_EQ(file_->chunk_totals.back(), file_->facts.number_of_points);
  const auto records = read_all();
  ASSERT_EQ(records.size(), file_->facts.number_of_points);
  EXPECT_EQ(in_->position(), file_->table_position);
}

TEST_P(VarchunkConformance, CodingTheRecordsWithTheProducersChunkEndsGivesItsBlockAndTable) {
  const auto records = read_all();
  ASSERT_EQ(records.size(), file_->facts.number_of_points);

  LASpoint point;
  ASSERT_TRUE(
      point.init_layout(nullptr, file_->codec.num_items, file_->codec.items.data(), nullptr));
  RawRecordLayout layout;
  ASSERT_TRUE(layout.init(file_->codec.items));
  // The block begins where the producer's began, so the table pointer compares too.
  ByteStreamOutArray out;
  ASSERT_TRUE(out.write_bytes(file_->bytes.data(), file_->facts.offset_to_point_data));
  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(file_->codec.num_items, file_->codec.items.data(), &file_->codec));
  ASSERT_TRUE(writer.attach(&out));
  std::size_t next_chunk = 1;
  for (std::size_t i = 0; i < records.size(); i++) {
    if (next_chunk + 1 < file_->chunk_totals.size() && i == file_->chunk_totals[next_chunk]) {
      ASSERT_TRUE(writer.close_chunk());
      next_chunk++;
    }
    layout.scatter(records[i].data(), point.item_data.data());
    ASSERT_TRUE(writer.write(point.item_data.data()));
  }
  ASSERT_TRUE(writer.finish());
  EXPECT_EQ(writer.chunks_written(), file_->chunk_totals.size() - 1);

  const std::size_t begin = file_->facts.offset_to_point_data;
  ASSERT_EQ(out.size(), file_->table_end) << "the table ends where the producer's EVLRs begin";
  const auto end = static_cast<std::size_t>(out.size());
  const auto mismatch =
      std::mismatch(out.data() + begin, out.data() + end, file_->bytes.data() + begin);
  EXPECT_EQ(mismatch.first, out.data() + end)
      << "first differing byte at block offset " << (mismatch.first - out.data() - begin) << " of "
      << (end - begin);
}

TEST_P(VarchunkConformance, SeekingAnywhereGivesWhatSequentialReadingGives) {
  const auto records = read_all();
  ASSERT_EQ(records.size(), file_->facts.number_of_points);
  const auto count = static_cast<std::int64_t>(records.size());
  // First, last, the first and last points of chunks, backwards within and across chunks.
  std::vector<std::int64_t> targets = {count - 1, 0, count / 2, count / 2 - 1, 1, count - 1};
  for (std::size_t c = 1; c + 1 < file_->chunk_totals.size(); c += 3) {
    const auto first = static_cast<std::int64_t>(file_->chunk_totals[c]);
    targets.insert(targets.end(), {first, first - 1, first + 1});
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 40; i++)
    targets.push_back(static_cast<std::int64_t>(rng() % count));

  // A new engine, so the first seek comes before any read.
  LASreadEngine engine;
  ASSERT_TRUE(engine.setup(file_->codec.num_items, file_->codec.items.data(), &file_->codec));
  ByteStreamInArray in(file_->bytes.data(), static_cast<std::int64_t>(file_->bytes.size()));
  ASSERT_TRUE(in.seek_to(file_->facts.offset_to_point_data));
  ASSERT_TRUE(engine.attach(&in));
  std::int64_t current = 0;
  for (std::int64_t target : targets) {
    SCOPED_TRACE("seek from " + std::to_string(current) + " to " + std::to_string(target));
    ASSERT_TRUE(engine.seek(current, target)) << engine.error_text();
    current = target;
    for (int k = 0; k < 2 && current < count; k++, current++) {
      ASSERT_TRUE(engine.read(point_.item_data.data())) << engine.error_text();
      ASSERT_EQ(raw_record(point_), records[static_cast<std::size_t>(current)])
          << "point " << current;
    }
  }
  EXPECT_EQ(engine.warning_text(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, VarchunkConformance,
                         ::testing::Values("simple-varchunk.pkz", "autzen-clip-varchunk.pkz"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
