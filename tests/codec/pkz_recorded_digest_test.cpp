// The compressed bytes of generated scenes of every point type, pinned by digests that an
// earlier build of the codec recorded. The coders may get faster in any way, but every byte
// they write is part of the file format: a change that alters one fails here, whatever the
// round trip says.
//
// Each scene marks its injected noise points as the noise tool's three modes do (class 7,
// the withheld flag, left out), so the points that reach the coders differ by mode. Every
// block is decoded again and must give back its records.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "pkz_test_support.hpp"
#include "scene/scene_generator.hpp"
#include "scene/scene_las.hpp"

namespace {

enum class Mode { kClassify, kFlag, kRemove };

struct Case {
  int point_type;
  Mode mode;
  std::uint16_t compressor;  // Pakrel::COMPRESSOR_*
  std::uint16_t version;     // of the point's items; layered items take 3 or 4
  int extra_bytes;
  std::uint64_t digest;  // FNV-1a of the block
  std::size_t bytes;     // of the block
  // Return numbers and counts step through every pair the point type stores, in an order
  // where neighbours differ, so that every entry of the codecs' return tables is used.
  bool every_return = false;
};

constexpr std::size_t kScenePoints = 9000;
constexpr std::uint32_t kChunkSize = 2500;

std::string name_of(const Case& c) {
  const char* modes[] = {"classify", "flag", "remove"};
  char text[96];
  std::snprintf(text, sizeof(text), "type %d %s, compressor %u version %u, %d extra bytes%s",
                c.point_type, modes[static_cast<int>(c.mode)], c.compressor, c.version,
                c.extra_bytes, c.every_return ? ", every return" : "");
  return text;
}

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (std::uint8_t byte : bytes)
    hash = (hash ^ byte) * 0x100000001B3ull;
  return hash;
}

// The scene's points as records of the case's point type, marked as the mode marks noise.
// Wave packets and extra bytes, which the scene lacks, follow simple patterns of their own.
pkz_test::Records scene_records(const Case& c) {
  pkz_test::Records records;
  records.point_type = c.point_type;
  records.record_length = point_type_base_size(c.point_type) + c.extra_bytes;
  EXPECT_TRUE(build_point_type_items(c.point_type, records.record_length, false, records.items));
  LASscaling scaling;
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(&scaling, static_cast<std::uint8_t>(c.point_type),
                                        static_cast<std::uint16_t>(records.record_length),
                                        nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(records.items));

  SceneOptions options;
  options.points = kScenePoints;
  options.seed = 7 + static_cast<std::uint32_t>(c.point_type);
  SceneGenerator scene(options);
  scaling.x_offset = scene.min_x();
  scaling.y_offset = scene.min_y();
  std::vector<std::uint8_t> record(records.record_length);
  std::uint64_t packet_offset = 4096;
  ScenePoint s;
  for (std::size_t i = 0; scene.next(s); i++) {
    if (s.injected_noise && c.mode == Mode::kRemove) continue;
    point.clear_values();
    fill_scene_point(point, s, c.point_type);
    if (s.injected_noise && c.mode == Mode::kClassify) point.set_classification(7);
    if (s.injected_noise && c.mode == Mode::kFlag) point.set_withheld_flag(true);
    if (c.every_return) {
      const std::uint32_t values = point.extended_layout ? 16 : 8;
      const auto pair = static_cast<std::uint32_t>((i * 37) % (values * values));
      const auto number = static_cast<std::uint8_t>(pair % values);
      const auto count = static_cast<std::uint8_t>(pair / values);
      if (point.extended_layout) {
        point.set_extended_return_number(number);
        point.set_extended_number_of_returns(count);
      } else {
        point.set_return_number(number);
        point.set_number_of_returns(count);
      }
    }
    if (point.has_wave_packet) {
      const std::uint32_t size = 32 * static_cast<std::uint32_t>(1 + i % 3);
      point.wave_packet[0] = 1;
      std::memcpy(point.wave_packet + 1, &packet_offset, 8);
      std::memcpy(point.wave_packet + 9, &size, 4);
      const float location = static_cast<float>(i % 50) * 0.5f;
      std::memcpy(point.wave_packet + 13, &location, 4);
      packet_offset += size;
    }
    for (int k = 0; k < c.extra_bytes; k++) {
      point.extra_bytes[k] = static_cast<std::uint8_t>(k == 0 ? s.z : k * (i / 16));
    }
    layout.gather(point.item_data.data(), record.data());
    records.bytes.insert(records.bytes.end(), record.begin(), record.end());
  }
  return records;
}

Pakrel codec_of(const Case& c, const pkz_test::Records& records) {
  Pakrel codec;
  std::vector<LASitem> items = records.items;
  EXPECT_TRUE(codec.setup(static_cast<std::uint16_t>(items.size()), items.data(), c.compressor));
  if (c.compressor == Pakrel::COMPRESSOR_LAYERED) {
    EXPECT_TRUE(codec.choose_version(2));
    for (LASitem& item : codec.items)
      item.version = c.version;
  } else {
    EXPECT_TRUE(codec.choose_version(c.version));
  }
  if (c.compressor != Pakrel::COMPRESSOR_PER_POINT) {
    EXPECT_TRUE(codec.change_chunk_size(kChunkSize));
  }
  return codec;
}

constexpr auto kClassify = Mode::kClassify;
constexpr auto kFlag = Mode::kFlag;
constexpr auto kRemove = Mode::kRemove;
constexpr std::uint16_t kPerPoint = Pakrel::COMPRESSOR_PER_POINT;
constexpr std::uint16_t kChunked = Pakrel::COMPRESSOR_CHUNKED;
constexpr std::uint16_t kLayered = Pakrel::COMPRESSOR_LAYERED;

// Recorded from the codec as it was before its coders were made faster.
const Case kCases[] = {
    // clang-format off
    {0, kClassify, kChunked, 2, 0, 0xDFE3E44D4D94810Bull, 39820},
    {0, kFlag, kChunked, 2, 0, 0x78543A4E26FF60D3ull, 39820},
    {0, kRemove, kChunked, 2, 0, 0xA90C0DF836467136ull, 39696},
    {1, kClassify, kChunked, 2, 0, 0xA71219FCBBECADF3ull, 44327},
    {1, kFlag, kChunked, 2, 0, 0x042985673B802A07ull, 44327},
    {1, kRemove, kChunked, 2, 0, 0x684DB80752494A78ull, 44234},
    {2, kClassify, kChunked, 2, 0, 0xAB7FAF4FB4F89E54ull, 52867},
    {2, kFlag, kChunked, 2, 0, 0x6D673BAE8348E8EBull, 52867},
    {2, kRemove, kChunked, 2, 0, 0x7EFBDCE895E6DA57ull, 52840},
    {3, kClassify, kChunked, 2, 0, 0x3D159551548B8896ull, 56324},
    {3, kFlag, kChunked, 2, 0, 0xEEFF8514B58806B6ull, 56324},
    {3, kRemove, kChunked, 2, 0, 0x07AA53B34E677654ull, 56143},
    {4, kClassify, kChunked, 2, 0, 0xE75B837062BFF1E6ull, 65430},
    {4, kFlag, kChunked, 2, 0, 0xB948624D2C84F6E0ull, 65430},
    {4, kRemove, kChunked, 2, 0, 0x22C52211DF5E3742ull, 65376},
    {5, kClassify, kChunked, 2, 0, 0x88069122D217DBE8ull, 76271},
    {5, kFlag, kChunked, 2, 0, 0x3D7F68F6FA93F602ull, 76271},
    {5, kRemove, kChunked, 2, 0, 0xD2F4E0F1DE44B3EEull, 76073},
    {6, kClassify, kLayered, 3, 0, 0x87192C6954DF2E24ull, 40658},
    {6, kFlag, kLayered, 3, 0, 0x2705D08545B897C7ull, 40673},
    {6, kRemove, kLayered, 3, 0, 0x287703D2F4BBB3BAull, 40498},
    {7, kClassify, kLayered, 3, 0, 0xFA6291D2BCB8ACD1ull, 55022},
    {7, kFlag, kLayered, 3, 0, 0x1C7B67D4D0B9FA5Cull, 55033},
    {7, kRemove, kLayered, 3, 0, 0x70D4571BB2124653ull, 54899},
    {8, kClassify, kLayered, 3, 0, 0x0BB0FBCFE1C7C2B4ull, 60354},
    {8, kFlag, kLayered, 3, 0, 0xFBF8979B0D3E0029ull, 60365},
    {8, kRemove, kLayered, 3, 0, 0x57C99E899D5A3EB9ull, 60135},
    {9, kClassify, kLayered, 3, 0, 0x5E8CAFC92B4726DAull, 64797},
    {9, kFlag, kLayered, 3, 0, 0x8BD65AA32C8BB112ull, 64811},
    {9, kRemove, kLayered, 3, 0, 0x79D859D0DB30CCBAull, 64271},
    {10, kClassify, kLayered, 3, 0, 0x245F5D124645822Eull, 81853},
    {10, kFlag, kLayered, 3, 0, 0xD8700ABEF0C825E5ull, 81870},
    {10, kRemove, kLayered, 3, 0, 0x06A33EAE0C14FB3Full, 81574},
    // The other codec versions, one stream without chunks, and extra bytes.
    {1, kClassify, kPerPoint, 1, 0, 0xEB6C52296B228D30ull, 42063},
    {3, kClassify, kChunked, 1, 0, 0xF3F6997E11464A3Aull, 57930},
    {5, kClassify, kChunked, 1, 0, 0x906C0C58D278C88Bull, 77306},
    {3, kFlag, kPerPoint, 2, 0, 0xA942C0F804670330ull, 48823},
    {1, kClassify, kChunked, 2, 5, 0xF654A1CAEC8EDE1Full, 54662},
    {6, kClassify, kLayered, 4, 0, 0x87192C6954DF2E24ull, 40658},
    {8, kFlag, kLayered, 4, 0, 0xC84C312808FC009Full, 60670},
    {10, kClassify, kLayered, 4, 0, 0x135ED897CF2FF379ull, 84170},
    {7, kClassify, kLayered, 3, 5, 0x93F7926123471DCEull, 65133},
    {7, kRemove, kLayered, 4, 5, 0x990725796BFE10DCull, 65906},
    // Every return number with every return count (recorded later, by a codec that writes
    // the bytes above).
    {1, kClassify, kChunked, 2, 0, 0xF01B50E01B065A9Dull, 54856, true},
    {1, kClassify, kChunked, 1, 0, 0x04A8BC0FC5E11642ull, 51289, true},
    {6, kClassify, kLayered, 3, 0, 0xF03CDCD9ACB9BCB1ull, 47149, true},
    // clang-format on
};

TEST(PkzRecordedDigest, EveryPointTypeAndModeCodesToTheRecordedBytesAndBack) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(name_of(c));
    const pkz_test::Records records = scene_records(c);
    ASSERT_GT(records.count(), 2 * kChunkSize);
    const Pakrel codec = codec_of(c, records);
    const std::vector<std::uint8_t> block = pkz_test::encode(records, codec);
    EXPECT_EQ(block.size(), c.bytes);
    EXPECT_EQ(fnv1a(block), c.digest) << std::hex << "0x" << fnv1a(block);
    pkz_test::expect_round_trip(records, codec, block);
  }
}

}  // namespace
