#pragma once

// Generated point records of point types 0-5 and the write and read paths of compressed
// point data blocks, for the round trip, seek and damage tests of the item codecs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/las_item_raw.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"
#include "sanitizer_build.hpp"
#include "scene/scene_generator.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace pkz_test {

// Under ThreadSanitizer every chunk's models cost a hundred times their release time: the
// chunk-parallel sweeps then meet only the pools that start threads.
inline constexpr bool kThreadsOnly = sanitizer_build::kThreads;

// How the GPS times of generated points run.
enum class Times {
  SCENE,        // acquisition order: returns of a pulse share a time, lines jump by minutes
  INTERLEAVED,  // three flight lines whose pulses alternate, with repeats
  JUMPY,        // steps, repeats, steps backwards and jumps of hours and of the bit pattern
  RANDOM,       // any 64-bit pattern
};

struct Style {
  bool random_fields = false;  // every byte of the core item, colour and wave packet random
  Times times = Times::SCENE;
};

// Point records of one point type, flat, `record_length` bytes each.
struct Records {
  int point_type = 0;
  int record_length = 0;
  std::vector<LASitem> items;  // version 0
  std::vector<std::uint8_t> bytes;
  std::size_t count() const { return record_length ? bytes.size() / record_length : 0; }
  const std::uint8_t* record(std::size_t i) const { return bytes.data() + i * record_length; }
};

inline std::uint32_t float_bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

inline Records make_records(int point_type, int extra_bytes, std::size_t count, std::uint32_t seed,
                            const Style& style) {
  Records records;
  records.point_type = point_type;
  records.record_length = point_type_base_size(point_type) + extra_bytes;
  EXPECT_TRUE(build_point_type_items(point_type, records.record_length, false, records.items));
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(nullptr, static_cast<std::uint8_t>(point_type),
                                        static_cast<std::uint16_t>(records.record_length),
                                        nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(records.items));
  records.bytes.resize(count * records.record_length);

  SceneOptions options;
  options.points = count;
  options.seed = seed;
  SceneGenerator scene(options);
  std::mt19937_64 rng(seed);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  auto any = [&]() { return static_cast<std::uint32_t>(rng()); };

  double line_time[3] = {301000.0, 301500.25, 302900.5};
  std::uint64_t jumpy_bits = 0x4112598200000000ull;
  std::uint16_t held_rgb[3] = {0, 0, 0};
  int hold_colour = 0;
  std::uint64_t packet_offset = 1000;
  std::uint32_t packet_size = 240;

  ScenePoint s;
  for (std::size_t i = 0; i < count; i++) {
    if (!scene.next(s)) s.gps_time += 1e-5;
    point.X = static_cast<std::int32_t>(std::lround((s.x - 431000.0) * 100.0));
    point.Y = static_cast<std::int32_t>(std::lround((s.y - 5170000.0) * 100.0));
    point.Z = static_cast<std::int32_t>(std::lround(s.z * 100.0));
    point.intensity = s.intensity;
    point.return_number = s.return_number & 7;
    point.number_of_returns = s.number_of_returns & 7;
    point.scan_direction_flag = s.scan_direction;
    point.edge_of_flight_line = s.edge_of_flight_line;
    point.classification = s.classification & 31;
    point.synthetic_flag = chance(0.01);
    point.keypoint_flag = 0;
    point.withheld_flag = s.injected_noise;
    point.scan_angle_rank = s.scan_angle;
    point.user_data = static_cast<std::uint8_t>(i % 97 == 0 ? any() : 0);
    point.point_source_ID = s.point_source_ID;

    switch (style.times) {
      case Times::SCENE:
        point.gps_time = s.gps_time;
        break;
      case Times::INTERLEAVED: {
        const int line = static_cast<int>(any() % 3);
        if (!chance(0.3)) line_time[line] += 1e-5 * (1 + any() % 3);
        point.gps_time = line_time[line];
        break;
      }
      case Times::JUMPY: {
        const std::uint32_t what = any() % 16;
        if (what < 7) {
          jumpy_bits += 180000;  // a regular step
        } else if (what < 9) {
          // a repeat
        } else if (what < 11) {
          jumpy_bits += any() % 5000000;  // an irregular step
        } else if (what < 12) {
          jumpy_bits -= any() % 100000;  // backwards
        } else if (what < 13) {
          jumpy_bits += std::uint64_t{1} << (31 + any() % 30);  // beyond 32 bits
        } else if (what < 14) {
          jumpy_bits -= std::uint64_t{1} << (31 + any() % 30);
        } else if (what < 15) {
          jumpy_bits = rng();  // anywhere
        } else {
          jumpy_bits += std::uint64_t{180000} * (2 + any() % 600);  // a multiple of the step
        }
        std::memcpy(&point.gps_time, &jumpy_bits, 8);
        break;
      }
      case Times::RANDOM: {
        const std::uint64_t bits = rng();
        std::memcpy(&point.gps_time, &bits, 8);
        break;
      }
    }

    // Colours: the scene's, held for stretches, sometimes gray.
    if (hold_colour > 0) {
      hold_colour--;
    } else {
      held_rgb[0] = s.red;
      held_rgb[1] = s.green;
      held_rgb[2] = s.blue;
      if (chance(0.1)) held_rgb[1] = held_rgb[2] = held_rgb[0];
      if (chance(0.05)) hold_colour = static_cast<int>(any() % 200);
    }
    std::copy(held_rgb, held_rgb + 3, point.rgb);

    // Wave packets: mostly one after the other, sometimes repeated, moved or far away.
    {
      const std::uint32_t what = any() % 20;
      if (what < 14) {
        packet_offset += packet_size;
      } else if (what < 16) {
        // the same packet again
      } else if (what < 18) {
        packet_offset += any() % 100000;
      } else if (what < 19) {
        packet_offset = rng();
      } else {
        packet_size = 16 * (1 + any() % 64);
        packet_offset += packet_size;
      }
      point.wave_packet[0] = static_cast<std::uint8_t>(1 + any() % 2);
      std::memcpy(point.wave_packet + 1, &packet_offset, 8);
      std::memcpy(point.wave_packet + 9, &packet_size, 4);
      const std::uint32_t location = float_bits(static_cast<float>(any() % 4000) * 0.25f);
      const std::uint32_t xt = float_bits(static_cast<float>(s.scan_angle) * 1e-5f);
      const std::uint32_t yt = float_bits(1e-6f * static_cast<float>(i % 7));
      const std::uint32_t zt = float_bits(-1.5e-4f);
      std::memcpy(point.wave_packet + 13, &location, 4);
      std::memcpy(point.wave_packet + 17, &xt, 4);
      std::memcpy(point.wave_packet + 21, &yt, 4);
      std::memcpy(point.wave_packet + 25, &zt, 4);
    }

    // Extra bytes: a constant, a counter, a slow value and noise.
    for (int k = 0; k < extra_bytes; k++) {
      std::uint8_t value;
      switch (k % 4) {
        case 0:
          value = 42;
          break;
        case 1:
          value = static_cast<std::uint8_t>(i);
          break;
        case 2:
          value = static_cast<std::uint8_t>(s.z);
          break;
        default:
          value = static_cast<std::uint8_t>(any());
          break;
      }
      point.extra_bytes[k] = value;
    }

    if (style.random_fields) {
      for (std::size_t item = 0; item < records.items.size(); item++) {
        if (records.items[item].type == LASitem::GPSTIME11) continue;  // by `times`
        for (int k = 0; k < records.items[item].size; k++) {
          point.item_data[item][k] = static_cast<std::uint8_t>(any());
        }
      }
    }
    layout.gather(point.item_data.data(), records.bytes.data() + i * records.record_length);
  }
  return records;
}

// The descriptor of a compressed block of these records.
inline Pakrel make_codec(const Records& records, std::uint16_t compressor, std::uint16_t version,
                         std::uint32_t chunk_size) {
  Pakrel codec;
  EXPECT_TRUE(codec.setup(static_cast<std::uint16_t>(records.items.size()), records.items.data(),
                          compressor));
  EXPECT_TRUE(codec.choose_version(version));
  if (compressor != Pakrel::COMPRESSOR_PER_POINT) {
    EXPECT_TRUE(codec.change_chunk_size(chunk_size));
  }
  return codec;
}

// The records coded into a point data block that begins `block_at` bytes into the stream
// (the bytes before it are zero). With variable chunks, a chunk ends before every point
// whose index is in `chunk_ends`.
inline std::vector<std::uint8_t> encode(const Records& records, const Pakrel& codec,
                                        const std::set<std::size_t>& chunk_ends = {},
                                        std::size_t block_at = 0) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(codec.items));
  ByteStreamOutArray out;
  const std::vector<std::uint8_t> zeros(block_at, 0);
  EXPECT_TRUE(out.write_bytes(zeros.data(), zeros.size()));
  LASwriteEngine engine;
  EXPECT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
  EXPECT_TRUE(engine.attach(&out));
  for (std::size_t i = 0; i < records.count(); i++) {
    if (chunk_ends.count(i)) {
      EXPECT_TRUE(engine.close_chunk());
    }
    layout.scatter(records.record(i), point.item_data.data());
    EXPECT_TRUE(engine.write(point.item_data.data()));
  }
  EXPECT_TRUE(engine.finish());
  return {out.data(), out.data() + out.size()};
}

// Reads a block with the engine, point by point, into flat records.
class BlockReader {
 public:
  BlockReader(const std::vector<std::uint8_t>& block, const Pakrel& codec, std::size_t block_at = 0)
      : codec_(codec), in_(block.data(), static_cast<std::int64_t>(block.size())) {
    EXPECT_TRUE(point_.init_layout(nullptr, codec_.num_items, codec_.items.data(), nullptr));
    EXPECT_TRUE(layout_.init(codec_.items));
    record_.resize(layout_.record_size());
    EXPECT_TRUE(in_.seek_to(static_cast<std::int64_t>(block_at)));
    EXPECT_TRUE(engine_.setup(codec_.num_items, codec_.items.data(), &codec_));
    EXPECT_TRUE(engine_.attach(&in_));
  }

  // The next record, or nullptr when the engine failed (see error()).
  const std::uint8_t* read() {
    if (!engine_.read(point_.item_data.data())) return nullptr;
    layout_.gather(point_.item_data.data(), record_.data());
    return record_.data();
  }
  LASreadEngine& engine() { return engine_; }
  std::size_t record_size() const { return record_.size(); }
  std::string error() const { return engine_.error_text() ? engine_.error_text() : ""; }
  std::string warning() const { return engine_.warning_text() ? engine_.warning_text() : ""; }

 private:
  Pakrel codec_;
  ByteStreamInArray in_;
  LASpoint point_;
  RawRecordLayout layout_;
  std::vector<std::uint8_t> record_;
  LASreadEngine engine_;
};

// Decodes every record and compares it with the original; then checks the block's end.
inline void expect_round_trip(const Records& records, const Pakrel& codec,
                              const std::vector<std::uint8_t>& block) {
  BlockReader reader(block, codec);
  std::size_t differing = 0;
  for (std::size_t i = 0; i < records.count(); i++) {
    const std::uint8_t* record = reader.read();
    ASSERT_NE(record, nullptr) << "point " << i << ": " << reader.error();
    if (std::memcmp(record, records.record(i), records.record_length) != 0 && differing++ < 3) {
      ADD_FAILURE() << "point " << i << " differs";
    }
  }
  EXPECT_EQ(differing, 0u);
  EXPECT_TRUE(reader.engine().verify_end()) << reader.error();
  EXPECT_EQ(reader.warning(), "");
}

}  // namespace pkz_test
