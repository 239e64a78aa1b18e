// The LAY file: its run code byte for byte, the name rule, and hostile files that must be
// refused with a reason while the point file stays readable without them.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "las/las_reader_las.hpp"
#include "layers/las_apply.hpp"
#include "layers/lay_file.hpp"
#include "scene/scene_las.hpp"

namespace {

constexpr std::uint32_t kBlock = 65536;

std::uint64_t get64(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; i--)
    value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

void put64(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; i++)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(get64(bytes, at) & 0xFFFFFFFFu);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; i++)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// CRC-32C bit by bit, as its definition reads: reflected, polynomial 0x82F63B78, all ones in
// and out.
std::uint32_t crc32c(const std::vector<std::uint8_t>& bytes, std::size_t begin, std::size_t end,
                     std::size_t skip_at = SIZE_MAX) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = begin; i < end; i++) {
    if (i >= skip_at && i < skip_at + 4) continue;
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++)
      crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0x82F63B78u : 0u);
  }
  return ~crc;
}

// The bytes of the layer at `at` as its header counts them.
std::size_t layer_end(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  const std::uint64_t end = at + lay_format::kLayerHeaderSize +
                            8 * get32(bytes, at + lay_format::kParameterCountAt) +
                            get32(bytes, at + lay_format::kCommandLineLengthAt) +
                            get64(bytes, at + lay_format::kRunCodeSizeAt);
  return end > bytes.size() ? bytes.size() : static_cast<std::size_t>(end);
}

// Puts right checksums on a file edited on purpose (as far as its layers fit), so that the
// edit itself is what a reader meets.
void reseal(std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < lay_format::kFileHeaderSize) return;
  put32(bytes, lay_format::kHeaderChecksumAt,
        crc32c(bytes, 0, lay_format::kFileHeaderSize, lay_format::kHeaderChecksumAt));
  std::size_t at = lay_format::kFileHeaderSize;
  for (std::uint32_t l = 0; l < get32(bytes, lay_format::kLayerCountAt); l++) {
    if (at + lay_format::kLayerHeaderSize > bytes.size()) return;
    const std::size_t end = layer_end(bytes, at);
    put32(bytes, at + lay_format::kLayerChecksumAt,
          crc32c(bytes, at, end, at + lay_format::kLayerChecksumAt));
    at = end;
  }
}

// The same file in the version before checksums: version 1.0, the header's checksum field
// reserved (zero), each layer header without its last four bytes.
std::vector<std::uint8_t> unchecked_version(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> old(bytes.begin(), bytes.begin() + lay_format::kFileHeaderSize);
  old[lay_format::kVersionMajorAt] = 1;
  put32(old, lay_format::kHeaderChecksumAt, 0);
  std::size_t at = lay_format::kFileHeaderSize;
  while (at < bytes.size()) {
    const std::size_t end = layer_end(bytes, at);
    old.insert(old.end(), bytes.begin() + static_cast<long>(at),
               bytes.begin() + static_cast<long>(at + lay_format::kLayerChecksumAt));
    old.insert(old.end(), bytes.begin() + static_cast<long>(at + lay_format::kLayerHeaderSize),
               bytes.begin() + static_cast<long>(end));
    at = end;
  }
  return old;
}

LAYlayer classification_layer(const std::vector<std::pair<std::uint64_t, std::uint8_t>>& changes) {
  LAYlayer layer;
  layer.attribute = LAYattribute::kClassification;
  layer.description = "replace classification";
  layer.command_line = "isocull -i t.las -olay";
  for (const auto& [index, value] : changes)
    EXPECT_TRUE(layer.add_change(index, value));
  return layer;
}

TEST(LayFile, RunCodeIsTheDocumentedBytes) {
  LAYfile file;
  // Points 3-5 and 10 become class 7, point 11 class 9.
  file.layers.push_back(classification_layer({{3, 7}, {4, 7}, {5, 7}, {10, 7}, {11, 9}}));
  ASSERT_EQ(file.layers[0].runs.size(), 3u);
  const std::vector<std::uint8_t> bytes = encode_lay_file(file);
  const std::size_t layer = lay_format::kFileHeaderSize;
  const std::size_t code =
      layer + lay_format::kLayerHeaderSize + file.layers[0].command_line.size();
  // gap 3, a length, a value: (3 << 2) | 2 | 1, length 3 - 2, value 7; gap 4 without
  // length or value; gap 0 with the new value 9.
  const std::vector<std::uint8_t> expected = {0x0F, 0x01, 0x07, 0x10, 0x01, 0x09};
  ASSERT_EQ(bytes.size(), code + expected.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(code), bytes.end()),
            expected);
  EXPECT_EQ(std::memcmp(bytes.data(), "ISOLAYER", 8), 0);
  EXPECT_EQ(get64(bytes, layer + lay_format::kRunCountAt), 3u);
  EXPECT_EQ(get64(bytes, layer + lay_format::kChangeCountAt), 5u);
  EXPECT_EQ(get64(bytes, layer + lay_format::kRunCodeSizeAt), expected.size());

  LAYidentity identity;
  std::uint32_t count = 0;
  std::size_t at = 0;
  std::string failure;
  ASSERT_TRUE(decode_lay_header(bytes.data(), bytes.size(), identity, count, at, failure));
  std::vector<LAYlayer> layers;
  ASSERT_TRUE(decode_lay_layers(bytes.data(), bytes.size(), at, count, 12, 10, layers, failure))
      << failure;
  ASSERT_EQ(layers.size(), 1u);
  ASSERT_EQ(layers[0].runs.size(), 3u);
  EXPECT_EQ(layers[0].runs[2].start, 11u);
  EXPECT_EQ(layers[0].runs[2].value, 9u);
  EXPECT_EQ(layers[0].command_line, "isocull -i t.las -olay");
  // Point 11 is the last of a 12-point file; in an 11-point file it lies beyond.
  EXPECT_FALSE(decode_lay_layers(bytes.data(), bytes.size(), at, count, 11, 10, layers, failure));
  EXPECT_NE(failure.find("beyond the 11 points"), std::string::npos) << failure;
}

TEST(LayFile, TheHeaderAndEachLayerCarryTheCrc32cOfTheirBytes) {
  const std::string digits = "123456789";
  const auto* text = reinterpret_cast<const std::uint8_t*>(digits.data());
  EXPECT_EQ(lay_checksum(text, digits.size()), 0xE3069283u);  // the check value of CRC-32C
  EXPECT_EQ(lay_checksum(text + 4, 5, lay_checksum(text, 4)), 0xE3069283u);
  EXPECT_EQ(lay_checksum(text, 0), 0u);

  LAYfile file;
  file.identity.point_count = 40;
  file.layers.push_back(classification_layer({{3, 7}, {4, 7}, {30, 2}}));
  file.layers.back().parameters = {1.0, 7.0};
  LAYlayer deletion;
  deletion.attribute = LAYattribute::kDeletion;
  deletion.description = "delete";
  ASSERT_TRUE(deletion.add_change(39, 0));
  file.layers.push_back(deletion);
  const std::vector<std::uint8_t> bytes = encode_lay_file(file);
  EXPECT_EQ(bytes[lay_format::kVersionMajorAt], 2);
  EXPECT_EQ(bytes[lay_format::kVersionMinorAt], 0);
  EXPECT_EQ(get32(bytes, lay_format::kHeaderChecksumAt),
            crc32c(bytes, 0, lay_format::kFileHeaderSize, lay_format::kHeaderChecksumAt));
  EXPECT_EQ(get32(bytes, lay_format::kHeaderChecksumAt + 4), 0u) << "reserved";
  std::size_t at = lay_format::kFileHeaderSize;
  for (int l = 0; l < 2; l++) {
    const std::size_t end = layer_end(bytes, at);
    EXPECT_EQ(get32(bytes, at + lay_format::kLayerChecksumAt),
              crc32c(bytes, at, end, at + lay_format::kLayerChecksumAt))
        << "layer " << l;
    at = end;
  }
  EXPECT_EQ(at, bytes.size());
  // The version without checksums decodes to the same layers.
  const std::vector<std::uint8_t> versions[] = {bytes, unchecked_version(bytes)};
  for (const std::vector<std::uint8_t>& version : versions) {
    LAYidentity identity;
    std::uint32_t count = 0;
    std::size_t layers_at = 0;
    std::string failure;
    ASSERT_TRUE(
        decode_lay_header(version.data(), version.size(), identity, count, layers_at, failure))
        << failure;
    EXPECT_EQ(lay_file_checked(version.data()), &version == &versions[0]);
    std::vector<LAYlayer> layers;
    ASSERT_TRUE(decode_lay_layers(version.data(), version.size(), layers_at, count, 40, 10, layers,
                                  failure))
        << failure;
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].parameters, (std::vector<double>{1.0, 7.0}));
    EXPECT_EQ(layers[0].runs.size(), 2u);
    EXPECT_EQ(layers[1].runs[0].start, 39u);
  }
}

// A layer keeps at most 1024 parameters and 4096 bytes of command line: more are cut when
// written, and a file at both limits reads back whole.
TEST(LayFile, ParametersAndCommandLineAreKeptUpToTheirLimits) {
  LAYfile file;
  LAYlayer layer;
  layer.attribute = LAYattribute::kDeletion;
  for (int i = 0; i < 1100; i++)
    layer.parameters.push_back(i * 0.5);
  layer.command_line.assign(5000, 'c');
  ASSERT_TRUE(layer.add_change(3, 0));
  file.layers.push_back(layer);
  const std::vector<std::uint8_t> bytes = encode_lay_file(file);
  LAYidentity identity;
  std::uint32_t count = 0;
  std::size_t at = 0;
  std::string failure;
  ASSERT_TRUE(decode_lay_header(bytes.data(), bytes.size(), identity, count, at, failure))
      << failure;
  std::vector<LAYlayer> layers;
  ASSERT_TRUE(decode_lay_layers(bytes.data(), bytes.size(), at, count, 10, 8, layers, failure))
      << failure;
  ASSERT_EQ(layers.size(), 1u);
  ASSERT_EQ(layers[0].parameters.size(), 1024u);
  EXPECT_EQ(layers[0].parameters[1023], 511.5);
  EXPECT_EQ(layers[0].command_line, std::string(4096, 'c'));
}

TEST(LayFile, ChangesOutOfOrderAreRefused) {
  LAYlayer layer = classification_layer({{5, 7}});
  EXPECT_FALSE(layer.add_change(5, 7));
  EXPECT_FALSE(layer.add_change(2, 7));
  EXPECT_TRUE(layer.add_change(6, 7));
  EXPECT_EQ(layer.runs.size(), 1u);
  EXPECT_EQ(layer.change_count, 2u);
}

TEST(LayFile, NameRule) {
  struct Case {
    const char* point_file;
    const char* directory;
    const char* lay_file;
  };
  for (const Case& c :
       {Case{"tile.las", nullptr, "tile.lay"}, Case{"d/tile.pkz", "", "d/tile.lay"},
        Case{"d.x/tile", nullptr, "d.x/tile.lay"}, Case{"d/.hidden", nullptr, "d/.hidden.lay"},
        Case{"a/b.c.las", nullptr, "a/b.c.lay"}, Case{"a/t.las", "out", "out/t.lay"},
        Case{"a/t.las", "out/", "out/t.lay"}, Case{"C:\\w\\t.las", "o", "o/t.lay"}}) {
    EXPECT_EQ(lay_file_name(c.point_file, c.directory), c.lay_file) << c.point_file;
  }
}

// A small point file in a scratch folder, and a valid LAY file for it to break.
class HostileLay : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/isocull_lay_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    points_ = dir_ + "/t.las";
    SceneFileOptions options;
    options.scene.points = 300;
    options.scene.seed = 4;
    ASSERT_TRUE(write_scene_las(points_.c_str(), options));
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(points_.c_str()));
    std::string failure;
    LAYfile file;
    ASSERT_TRUE(identify_point_file(points_, reader.header, 300, kBlock, file.identity, failure));
    file.layers.push_back(classification_layer({{0, 7}, {1, 7}, {150, 9}, {299, 9}}));
    LAYlayer deletion;
    deletion.attribute = LAYattribute::kDeletion;
    EXPECT_TRUE(deletion.add_change(2, 0));
    file.layers.push_back(deletion);
    valid_ = encode_lay_file(file);
  }
  void TearDown() override {
    unlink((dir_ + "/t.lay").c_str());
    unlink(points_.c_str());
    rmdir(dir_.c_str());
  }
  // Writes `lay` beside the points and reads them through it: the reason of a refusal
  // (empty when it loaded) and the points delivered.
  std::string apply(const std::vector<std::uint8_t>& lay, std::int64_t& delivered,
                    bool* damaged = nullptr) {
    std::ofstream(dir_ + "/t.lay", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(lay.data()), static_cast<std::streamsize>(lay.size()));
    auto reader = std::make_unique<LASreaderLAS>();
    EXPECT_TRUE(reader->open_file(points_.c_str()));
    LASapply applied;
    std::string failure;
    if (damaged != nullptr) *damaged = false;
    if (!applied.open(*reader, points_, kBlock) || !applied.load_layers(2147483647)) {
      failure = applied.failure();
      if (damaged != nullptr) *damaged = applied.damaged();
      EXPECT_TRUE(applied.layers().empty());
      applied.open_without_layers();
    }
    applied.take_reader(std::move(reader));
    delivered = 0;
    while (applied.read_next())
      delivered++;
    return failure;
  }
  std::string dir_, points_;
  std::vector<std::uint8_t> valid_;
};

TEST_F(HostileLay, EveryBrokenFileIsRefusedWithItsReasonAndThePointsReadWhole) {
  std::int64_t delivered = 0;
  ASSERT_EQ(apply(valid_, delivered), "");
  EXPECT_EQ(delivered, 299) << "one point deleted";

  const std::size_t layer = lay_format::kFileHeaderSize;
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* name;
    Edit edit;
    const char* reason;
    bool damaged = true;  // else: another point file's, skipped
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }, "too short"},
      {"cut in the file header", [](auto& b) { b.resize(40); }, "too short"},
      {"cut in a layer header", [](auto& b) { b.resize(layer + 30); }, "do not fit"},
      {"cut in the run code", [](auto& b) { b.pop_back(); }, "cut short"},
      {"a byte too many", [](auto& b) { b.push_back(0); }, "after the last layer"},
      {"no signature", [](auto& b) { b[0] = 'X'; }, "signature"},
      {"another major version", [](auto& b) { b[lay_format::kVersionMajorAt] = 3; }, "version 3"},
      {"a huge layer count", [](auto& b) { b[lay_format::kLayerCountAt + 3] = 0x7F; },
       "do not fit"},
      {"a lying run count", [&](auto& b) { put64(b, layer + lay_format::kRunCountAt, 1ull << 40); },
       "more runs than bytes"},
      // As many runs as the code has bytes: the runs it holds end before the count does.
      {"a run count the code falls short of",
       [&](auto& b) {
         put64(b, layer + lay_format::kRunCountAt, get64(b, layer + lay_format::kRunCodeSizeAt));
       },
       "run code cut short"},
      {"a lying change count", [&](auto& b) { put64(b, layer + lay_format::kChangeCountAt, 5); },
       "not 5"},
      {"more changes than points",
       [&](auto& b) { put64(b, layer + lay_format::kChangeCountAt, 1ull << 62); },
       "changed points in a file of 300"},
      {"a lying code size", [&](auto& b) { put64(b, layer + lay_format::kRunCodeSizeAt, ~0ull); },
       "cut short"},
      {"an unknown attribute", [&](auto& b) { b[layer] = 77; }, "unknown attribute 77"},
      {"a parameter more than 1024",
       [&](auto& b) { put32(b, layer + lay_format::kParameterCountAt, 1025); },
       "too many parameters"},
      {"a command line longer than 4096",
       [&](auto& b) { put32(b, layer + lay_format::kCommandLineLengthAt, 4097); },
       "command line too long"},
      {"another point count", [](auto& b) { put64(b, lay_format::kPointCountAt, 301); },
       "point count differs", false},
      {"another hash", [](auto& b) { b[lay_format::kHashAt] ^= 1; }, "bytes differ", false},
      {"another identity block", [](auto& b) { b[lay_format::kHeadBlockAt] ^= 1; },
       "identity block", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = valid_;
    c.edit(bytes);
    // Checksums put right after the edit, so that the reader meets the edit itself.
    reseal(bytes);
    bool damaged = false;
    const std::string failure = apply(bytes, delivered, &damaged);
    EXPECT_NE(failure.find(c.reason), std::string::npos) << failure;
    EXPECT_EQ(damaged, c.damaged) << failure;
    EXPECT_EQ(delivered, 300) << "the file is read without layers";
    // Left as the edit made it, the file fails a checksum first (or is cut, or is none).
    std::vector<std::uint8_t> unsealed = valid_;
    c.edit(unsealed);
    apply(unsealed, delivered, &damaged);
    EXPECT_TRUE(damaged);
  }
  // A run reaching past the last point: the deletion of point 2 (its code the last byte)
  // becomes one of point 300.
  std::vector<std::uint8_t> beyond = valid_;
  const std::size_t deletion = beyond.size() - 1 - lay_format::kLayerHeaderSize;
  beyond.pop_back();
  beyond.push_back(static_cast<std::uint8_t>((300 << 2) | 0x80));
  beyond.push_back(static_cast<std::uint8_t>((300 << 2) >> 7));
  put64(beyond, deletion + lay_format::kRunCodeSizeAt, 2);
  reseal(beyond);
  EXPECT_NE(apply(beyond, delivered).find("beyond the 300 points"), std::string::npos);
  EXPECT_EQ(delivered, 300);
}

// Every single-bit flip of every byte, and every cut, of a two-layer file fails to decode:
// the file header (before its identity is compared with the point file's) or a layer. So
// LASapply refuses each as damaged, never as another point file's LAY file to skip.
TEST_F(HostileLay, EveryFlippedBitAndEveryCutFailsToDecode) {
  auto decodes = [](const std::vector<std::uint8_t>& bytes) {
    LAYidentity identity;
    std::uint32_t count = 0;
    std::size_t at = 0;
    std::string failure;
    std::vector<LAYlayer> layers;
    return decode_lay_header(bytes.data(), bytes.size(), identity, count, at, failure) &&
           decode_lay_layers(bytes.data(), bytes.size(), at, count, 300, 2147483647, layers,
                             failure);
  };
  ASSERT_TRUE(decodes(valid_));
  for (std::size_t byte = 0; byte < valid_.size(); byte++) {
    for (int bit = 0; bit < 8; bit++) {
      std::vector<std::uint8_t> flipped = valid_;
      flipped[byte] ^= static_cast<std::uint8_t>(1u << bit);
      EXPECT_FALSE(decodes(flipped)) << "byte " << byte << " bit " << bit;
    }
  }
  for (std::size_t size = 0; size < valid_.size(); size++) {
    const std::vector<std::uint8_t> cut(valid_.begin(), valid_.begin() + static_cast<long>(size));
    EXPECT_FALSE(decodes(cut)) << "cut to " << size << " bytes";
  }
  // Through LASapply, a flip in the identity is damage too, not another file's.
  std::vector<std::uint8_t> identity_flipped = valid_;
  identity_flipped[lay_format::kHashAt + 3] ^= 0x10;
  std::int64_t delivered = 0;
  bool damaged = false;
  EXPECT_NE(apply(identity_flipped, delivered, &damaged).find("checksum"), std::string::npos);
  EXPECT_TRUE(damaged);
}

// A LAY name that is a folder, and a point file that is not there: each refused with its
// reason, the points read whole.
TEST_F(HostileLay, ALayFileThatIsAFolderOrAPointFileThatIsNotThereIsNamed) {
  const std::string lay = dir_ + "/t.lay";
  ASSERT_EQ(mkdir(lay.c_str(), 0700), 0);
  auto reader = std::make_unique<LASreaderLAS>();
  ASSERT_TRUE(reader->open_file(points_.c_str()));
  LASapply applied;
  EXPECT_FALSE(applied.open(*reader, points_, kBlock));
  EXPECT_EQ(applied.failure(), "cannot read LAY file '" + lay + "'");
  rmdir(lay.c_str());

  LAYidentity identity;
  std::string failure;
  const std::string missing = dir_ + "/missing.las";
  EXPECT_FALSE(identify_point_file(missing, reader->header, 300, kBlock, identity, failure));
  EXPECT_EQ(failure, "cannot read point file '" + missing + "'");
}

TEST_F(HostileLay, AFileOfTheVersionWithoutChecksumsIsAppliedUnchecked) {
  const std::vector<std::uint8_t> old = unchecked_version(valid_);
  ASSERT_EQ(old.size(), valid_.size() - 4 * 2);
  std::int64_t delivered = 0;
  ASSERT_EQ(apply(old, delivered), "");
  EXPECT_EQ(delivered, 299);
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(points_.c_str()));
  LASapply applied;
  ASSERT_TRUE(applied.open(reader, points_, kBlock));
  EXPECT_TRUE(applied.unchecked());
  ASSERT_TRUE(applied.load_layers(10));
  EXPECT_EQ(applied.layers().size(), 2u);
  // The current version is checked.
  std::ofstream(dir_ + "/t.lay", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(valid_.data()),
             static_cast<std::streamsize>(valid_.size()));
  ASSERT_TRUE(applied.open(reader, points_, kBlock));
  EXPECT_FALSE(applied.unchecked());
}

TEST_F(HostileLay, SeekingRepositionsEveryLayer) {
  std::int64_t delivered = 0;
  ASSERT_EQ(apply(valid_, delivered), "");
  auto reader = std::make_unique<LASreaderLAS>();
  ASSERT_TRUE(reader->open_file(points_.c_str()));
  LASapply applied;
  ASSERT_TRUE(applied.open(*reader, points_, kBlock) && applied.load_layers(10));
  applied.take_reader(std::move(reader));
  for (std::int64_t index : {150, 0, 299, 1}) {
    ASSERT_TRUE(applied.seek_point(index));
    ASSERT_TRUE(applied.read_next());
    EXPECT_EQ(applied.points_done - 1, index);
    EXPECT_EQ(applied.point.classification, index == 0 || index == 1 ? 7 : 9) << index;
  }
  ASSERT_TRUE(applied.seek_point(2));
  ASSERT_TRUE(applied.read_next());
  EXPECT_EQ(applied.points_done - 1, 3) << "point 2 is deleted";
}

}  // namespace
