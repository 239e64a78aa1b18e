// The layered codecs of point types 6-10 against files written by other producers: decoding
// must give their LAS twins' records byte for byte, and coding the twin must give the
// compressed file's bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

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

// LAS 1.4 header fields that the tests compare decoded points with.
constexpr std::size_t kMaxXAt = 179;  // max x, min x, max y, min y, max z, min z (doubles)
constexpr std::size_t kScaleAt = 131;
constexpr std::size_t kOffsetAt = 155;
constexpr std::size_t kPointsByReturn14At = 255;  // 15 x uint64

struct CompressedFile {
  std::vector<std::uint8_t> bytes;
  LasFileFacts facts;
  Pakrel codec;
};

std::optional<CompressedFile> open_compressed(const char* name) {
  auto bytes = read_whole_file(real_data_path(name));
  if (!bytes) return std::nullopt;
  CompressedFile file;
  file.bytes = std::move(*bytes);
  file.facts = las_file_facts(file.bytes);
  EXPECT_GE(file.facts.codec_payload, 0) << name << " has no codec record";
  ByteStreamInArray payload(file.bytes.data() + file.facts.codec_payload,
                            file.facts.codec_payload_length);
  EXPECT_TRUE(read_pakrel_record(payload, file.codec));
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

TEST(LayeredConformance, PointType6FileDecodesToItsLasTwinsRecords) {
  auto twin = read_whole_file(real_data_path("1_4_w_evlr.las"));
  auto pkz = open_compressed("1_4_w_evlr.pkz");
  if (!twin || !pkz) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
  const LasFileFacts las = las_file_facts(*twin);
  ASSERT_EQ(pkz->codec.compressor, Pakrel::COMPRESSOR_LAYERED);
  ASSERT_EQ(las.number_of_points, pkz->facts.number_of_points);
  ASSERT_GT(las.number_of_points, 0u);

  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, pkz->codec.num_items, pkz->codec.items.data(), nullptr));
  ASSERT_EQ(point.record_size, las.point_data_record_length);
  LASreadEngine engine;
  ASSERT_TRUE(engine.setup(pkz->codec.num_items, pkz->codec.items.data(), &pkz->codec));
  ByteStreamInArray in(pkz->bytes.data(), static_cast<std::int64_t>(pkz->bytes.size()));
  ASSERT_TRUE(in.seek_to(pkz->facts.offset_to_point_data));
  ASSERT_TRUE(engine.attach(&in));

  std::uint64_t differing = 0;
  for (std::uint64_t i = 0; i < las.number_of_points; i++) {
    ASSERT_TRUE(engine.read(point.item_data.data()))
        << "point " << i << ": " << engine.error_text();
    const std::vector<std::uint8_t> record = raw_record(point);
    const std::uint8_t* expected =
        twin->data() + las.offset_to_point_data + i * las.point_data_record_length;
    if (std::memcmp(record.data(), expected, record.size()) != 0 && differing++ < 5) {
      ADD_FAILURE() << "point " << i << " differs from the twin";
    }
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_TRUE(engine.verify_end()) << engine.error_text();
  EXPECT_EQ(engine.warning_text(), nullptr);
}

TEST(LayeredConformance, CodingThePointType6TwinGivesTheProducersPointBlock) {
  auto twin = read_whole_file(real_data_path("1_4_w_evlr.las"));
  auto pkz = open_compressed("1_4_w_evlr.pkz");
  if (!twin || !pkz) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
  const LasFileFacts las = las_file_facts(*twin);

  // The settings the producer used by default: layered, chunks of 50000, versions of
  // choose_version(2).
  Pakrel codec;
  std::vector<LASitem> items;
  ASSERT_TRUE(codec.setup(items, las.point_data_format, las.point_data_record_length,
                          Pakrel::COMPRESSOR_LAYERED));
  ASSERT_TRUE(codec.setup(static_cast<std::uint16_t>(items.size()), items.data(),
                          Pakrel::COMPRESSOR_LAYERED));
  EXPECT_EQ(codec.items, pkz->codec.items);
  EXPECT_EQ(codec.chunk_size, pkz->codec.chunk_size);

  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  LASreadEngine raw_reader;
  ASSERT_TRUE(raw_reader.setup(codec.num_items, codec.items.data()));
  ByteStreamInArray in(twin->data(), static_cast<std::int64_t>(twin->size()));
  ASSERT_TRUE(in.seek_to(las.offset_to_point_data));
  ASSERT_TRUE(raw_reader.attach(&in));

  // The block begins where the producer's began, so that the chunk table pointer (an
  // absolute position) can be compared too.
  ByteStreamOutArray out;
  ASSERT_TRUE(out.write_bytes(pkz->bytes.data(), pkz->facts.offset_to_point_data));
  LASwriteEngine writer;
  ASSERT_TRUE(writer.setup(codec.num_items, codec.items.data(), &codec));
  ASSERT_TRUE(writer.attach(&out));
  for (std::uint64_t i = 0; i < las.number_of_points; i++) {
    ASSERT_TRUE(raw_reader.read(point.item_data.data()));
    ASSERT_TRUE(writer.write(point.item_data.data()));
  }
  ASSERT_TRUE(writer.finish());

  ASSERT_LE(static_cast<std::size_t>(out.size()), pkz->bytes.size());
  const std::size_t begin = pkz->facts.offset_to_point_data;
  const auto end = static_cast<std::size_t>(out.size());
  const auto mismatch =
      std::mismatch(out.data() + begin, out.data() + end, pkz->bytes.data() + begin);
  EXPECT_EQ(mismatch.first, out.data() + end)
      << "first differing byte at block offset " << (mismatch.first - out.data() - begin) << " of "
      << (end - begin);
}

TEST(LayeredConformance, FullWaveformFileDecodesToTheBoundsAndReturnCountsOfItsHeader) {
  auto pkz = open_compressed("fullwave.pkz");
  if (!pkz) GTEST_SKIP() << "real data folder not available: " << ISOCULL_REAL_DATA_DIR;
  const std::vector<std::uint8_t>& file = pkz->bytes;
  ASSERT_EQ(pkz->codec.compressor, Pakrel::COMPRESSOR_LAYERED);
  ASSERT_EQ(pkz->facts.number_of_points, 10750u);

  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, pkz->codec.num_items, pkz->codec.items.data(), nullptr));
  ASSERT_TRUE(point.has_rgb && point.has_nir && point.has_wave_packet);
  LASreadEngine engine;
  ASSERT_TRUE(engine.setup(pkz->codec.num_items, pkz->codec.items.data(), &pkz->codec));
  ByteStreamInArray in(file.data(), static_cast<std::int64_t>(file.size()));
  ASSERT_TRUE(in.seek_to(pkz->facts.offset_to_point_data));
  ASSERT_TRUE(engine.attach(&in));

  double scale[3], offset[3];
  std::memcpy(scale, file.data() + kScaleAt, sizeof(scale));
  std::memcpy(offset, file.data() + kOffsetAt, sizeof(offset));
  double min[3], max[3];
  for (int c = 0; c < 3; c++) {
    min[c] = std::numeric_limits<double>::max();
    max[c] = std::numeric_limits<double>::lowest();
  }
  std::uint64_t by_return[15] = {};
  for (std::uint64_t i = 0; i < pkz->facts.number_of_points; i++) {
    ASSERT_TRUE(engine.read(point.item_data.data()))
        << "point " << i << ": " << engine.error_text();
    const std::int32_t xyz[3] = {point.X, point.Y, point.Z};
    for (int c = 0; c < 3; c++) {
      const double coordinate = xyz[c] * scale[c] + offset[c];
      min[c] = std::min(min[c], coordinate);
      max[c] = std::max(max[c], coordinate);
    }
    const int r = point.extended_return_number;
    if (r >= 1 && r <= 15) by_return[r - 1]++;
  }
  EXPECT_TRUE(engine.verify_end()) << engine.error_text();
  EXPECT_EQ(engine.error_text(), nullptr);
  EXPECT_EQ(engine.warning_text(), nullptr);

  for (int c = 0; c < 3; c++) {
    const double header_max = value_at<double>(file, kMaxXAt + 16 * c);
    const double header_min = value_at<double>(file, kMaxXAt + 16 * c + 8);
    // The header holds the bounds as computed from the integers; allow for its rounding.
    EXPECT_NEAR(max[c], header_max, scale[c] / 2) << "axis " << c;
    EXPECT_NEAR(min[c], header_min, scale[c] / 2) << "axis " << c;
  }
  for (int r = 0; r < 15; r++) {
    EXPECT_EQ(by_return[r], value_at<std::uint64_t>(file, kPointsByReturn14At + 8 * r))
        << "return " << r + 1;
  }
}

}  // namespace
