// The stored reader and the block streams under it: a replay delivers exactly what the first
// pass read, as often as asked, and memory follows the compressed size.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/las_reader_stored.hpp"
#include "las/las_reader_las.hpp"
#include "scene/scene_las.hpp"
#include "stream/bytestream_blocks.hpp"

namespace {

TEST(ByteStreamBlocks, WritesSeeksAndRewritesAcrossBlockEdges) {
  constexpr std::size_t kBlock = ByteBlocks::kBlockSize;
  std::vector<std::uint8_t> expected(3 * kBlock + 17);
  std::mt19937 random(5);
  for (auto& byte : expected)
    byte = static_cast<std::uint8_t>(random());
  ByteStreamOutBlocks out;
  // Pieces of odd sizes, so that writes straddle every block edge.
  for (std::size_t at = 0; at < expected.size();) {
    const std::size_t n = std::min<std::size_t>(expected.size() - at, 1 + random() % 70000);
    ASSERT_TRUE(out.write_bytes(expected.data() + at, n));
    at += n;
  }
  // A rewrite across the first edge, as a writer patching a field would do.
  for (std::size_t k = 0; k < 8; k++)
    expected[kBlock - 4 + k] = static_cast<std::uint8_t>(k);
  ASSERT_TRUE(out.seek_to(kBlock - 4));
  ASSERT_TRUE(out.write_bytes(expected.data() + kBlock - 4, 8));
  ASSERT_TRUE(out.seek_to_end());
  EXPECT_EQ(out.size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_FALSE(out.seek_to(out.size() + 1));

  ByteStreamInBlocks in(out.take_blocks());
  ASSERT_EQ(in.size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_LE(in.allocated(), expected.size() + kBlock);
  std::vector<std::uint8_t> back(expected.size());
  in.read_bytes(back.data(), back.size());
  EXPECT_EQ(back, expected);
  EXPECT_THROW(in.read_byte(), ByteStreamEndOfData);
  for (std::size_t at : {std::size_t{0}, kBlock - 1, kBlock, 2 * kBlock + 5, expected.size() - 1}) {
    ASSERT_TRUE(in.seek_to(static_cast<std::int64_t>(at)));
    EXPECT_EQ(in.position(), static_cast<std::int64_t>(at));
    EXPECT_EQ(in.read_byte(), expected[at]) << at;
  }
  ASSERT_TRUE(in.seek_from_end(1));
  EXPECT_EQ(in.read_byte(), expected.back());
}

std::string scene_file(int point_type, std::uint64_t points) {
  const std::string name =
      "/tmp/isocull_stored_" + std::to_string(point_type) + "_" + std::to_string(getpid()) + ".las";
  SceneFileOptions options;
  options.scene.points = points;
  options.point_type = point_type;
  EXPECT_TRUE(write_scene_las(name.c_str(), options));
  return name;
}

// The values of every point, field by field (a byte copy of the fields would also compare
// their padding).
std::vector<std::vector<double>> read_all(LASreader& reader) {
  std::vector<std::vector<double>> points;
  while (reader.read_next()) {
    const LASpoint& p = reader.point;
    points.push_back({double(p.X),
                      double(p.Y),
                      double(p.Z),
                      double(p.intensity),
                      double(p.return_number),
                      double(p.number_of_returns),
                      double(p.scan_direction_flag),
                      double(p.edge_of_flight_line),
                      double(p.classification),
                      double(p.synthetic_flag),
                      double(p.keypoint_flag),
                      double(p.withheld_flag),
                      double(p.scan_angle_rank),
                      double(p.user_data),
                      double(p.point_source_ID),
                      double(p.extended_scan_angle),
                      double(p.extended_scanner_channel),
                      double(p.extended_classification_flags),
                      double(p.extended_classification),
                      double(p.extended_return_number),
                      double(p.extended_number_of_returns),
                      p.gps_time,
                      double(p.rgb[0]),
                      double(p.rgb[1]),
                      double(p.rgb[2]),
                      double(p.rgb[3])});
  }
  return points;
}

TEST(LasReaderStored, ReplaysTheSamePointsOnEveryReopenInCompressedMemory) {
  for (int point_type : {1, 6}) {
    const std::string name = scene_file(point_type, 150000);
    LASreaderLAS plain;
    ASSERT_TRUE(plain.open_file(name.c_str()));
    const auto expected = read_all(plain);
    plain.close_reader();

    auto inner = std::make_unique<LASreaderLAS>();
    ASSERT_TRUE(inner->open_file(name.c_str()));
    LASreaderStored stored;
    ASSERT_TRUE(stored.open(std::move(inner)));
    EXPECT_FALSE(stored.reopen()) << "nothing complete is stored before the first pass ends";
    EXPECT_EQ(read_all(stored), expected);
    for (int pass = 0; pass < 2; pass++) {
      ASSERT_TRUE(stored.reopen());
      EXPECT_EQ(read_all(stored), expected) << "pass " << pass + 2;
    }
    // A few bytes a point, never the raw records, and at most one block of slack.
    const std::int64_t raw = static_cast<std::int64_t>(expected.size()) * 28;
    EXPECT_LT(stored.stored_bytes(), raw / 3);
    EXPECT_LE(stored.stored_allocation(),
              stored.stored_bytes() + static_cast<std::int64_t>(ByteBlocks::kBlockSize));
    std::remove(name.c_str());
  }
}

}  // namespace
