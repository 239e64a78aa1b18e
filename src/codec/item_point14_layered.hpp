#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "codec/item_coder.hpp"
#include "codec/layered_layers.hpp"

// The layered codecs of the POINT14 core item (point types 6-10, compressor kind 3).
//
// A chunk's point fields are split into nine layers, each coded by its own entropy coder
// into memory: 0 change symbol, scanner channel, returns, X and Y; 1 Z; 2 classification;
// 3 flags; 4 intensity; 5 scan angle; 6 user data; 7 point source ID; 8 GPS time. All
// predictions are kept apart per scanner channel (four contexts), because interleaved
// channels of one scanner see different surfaces at different times. The codec tells the
// items after it in the point which context is current through the context argument:
// version 3 only on the point where the channel changes (otherwise the argument stays 0),
// version 4 on every point.
//
// The item pointer is the point itself (LASpoint::from_item). The writer takes the point as
// the raw POINT14 writer stores it, so the first point of a chunk (stored raw) and the coded
// ones agree; the reader leaves the point as the raw POINT14 reader would, legacy fields
// derived from the extended ones.

// The core values of one point as the codec predicts from them: the 30-byte record of point
// types 6-10, unpacked, plus whether its GPS time differed from its predecessor's.
struct Point14Item {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Z = 0;
  std::uint16_t intensity = 0;
  std::uint8_t returns = 0;  // return number bits 0-3, number of returns bits 4-7
  // classification flags bits 0-3 (synthetic, keypoint, withheld, overlap), scanner channel
  // bits 4-5, scan direction flag bit 6, edge of flight line bit 7
  std::uint8_t flags = 0;
  std::uint8_t classification = 0;
  std::uint8_t user_data = 0;
  std::int16_t scan_angle = 0;
  std::uint16_t point_source_ID = 0;
  std::uint64_t gps_time = 0;  // the bit pattern of the double
  bool gps_time_changed = false;

  std::uint32_t return_number() const { return returns & 0x0F; }
  std::uint32_t number_of_returns() const { return returns >> 4; }
  std::uint32_t scanner_channel() const { return (flags >> 4) & 0x03; }
  // (scan direction + 2 x edge of flight line) x 16 + the four classification flags.
  std::uint32_t flag_value() const { return ((flags >> 6) << 4) | (flags & 0x0F); }
};

template <class Coder>
struct Point14Context;

inline constexpr std::uint32_t kPoint14Layers = 9;

class LASwriteItemCompressed_POINT14_layered : public LASwriteItemCompressed {
 public:
  ~LASwriteItemCompressed_POINT14_layered() override;
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;
  bool writes_raw() const override { return true; }
  bool write_raw(const std::uint8_t* record, std::uint32_t& context) override;
  // Ends the layers and writes nine 32-bit sizes: layers 0 and 1 always, the others only
  // when their values changed in the chunk (0 otherwise).
  bool write_layer_sizes(ByteStreamOut& stream) override;
  bool write_layers(ByteStreamOut& stream) override;

 protected:
  explicit LASwriteItemCompressed_POINT14_layered(std::uint32_t version);

 private:
  using Context = Point14Context<EntropyEncoder>;
  bool write_item(const Point14Item& p, std::uint32_t& context);
  void init_context(std::uint32_t channel, const Point14Item& item);
  void write_gps_time(Context& context, std::uint64_t gps_time);
  bool kept(std::uint32_t layer) const { return layer < 2 || layers_[layer].changed; }

  bool context_on_every_point_;  // version 4
  std::array<LayerOut, kPoint14Layers> layers_;
  std::array<std::unique_ptr<Context>, kLayeredContexts> contexts_;
  std::uint32_t current_ = 0;
};

class LASreadItemCompressed_POINT14_layered : public LASreadItemCompressed {
 public:
  ~LASreadItemCompressed_POINT14_layered() override;
  bool read_layer_sizes(ByteStreamIn& stream) override;
  // Loads the chunk's layer 0 and the requested layers, skips the others.
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  // Throws CodecCorruptData when a layer ends before its points do.
  void read(std::uint8_t* item, std::uint32_t& context) override;
  bool reads_raw() const override { return true; }
  void read_raw(std::uint8_t* record, std::uint32_t& context) override;

  // For a caller that wants the core values and no point (a chunk rewritten layer by
  // layer): `init_record` as `init`, from the chunk's first record as stored (30 bytes);
  // then `read_item` per further point, which returns the decoded values (valid until the
  // next call; fields of layers not decoded are the reference's). Both fail as `init` and
  // `read` do.
  bool init_record(ByteStreamIn& stream, const std::uint8_t* record, std::uint32_t& context);
  const Point14Item& read_item(std::uint32_t& context);

 protected:
  LASreadItemCompressed_POINT14_layered(std::uint32_t version, std::uint32_t decompress_selective);

 private:
  using Context = Point14Context<EntropyDecoder>;
  void init_context(std::uint32_t channel, const Point14Item& item);
  void read_point(Point14Item*& reference, std::uint32_t& context);
  std::uint64_t read_gps_time(Context& context);

  bool context_on_every_point_;
  std::array<LayerIn, kPoint14Layers> layers_;
  LayerBuffer buffer_;
  std::array<std::unique_ptr<Context>, kLayeredContexts> contexts_;
  std::uint32_t current_ = 0;
};

class LASwriteItemCompressed_POINT14_v3 final : public LASwriteItemCompressed_POINT14_layered {
 public:
  LASwriteItemCompressed_POINT14_v3() : LASwriteItemCompressed_POINT14_layered(3) {}
};
class LASwriteItemCompressed_POINT14_v4 final : public LASwriteItemCompressed_POINT14_layered {
 public:
  LASwriteItemCompressed_POINT14_v4() : LASwriteItemCompressed_POINT14_layered(4) {}
};
class LASreadItemCompressed_POINT14_v3 final : public LASreadItemCompressed_POINT14_layered {
 public:
  explicit LASreadItemCompressed_POINT14_v3(std::uint32_t decompress_selective)
      : LASreadItemCompressed_POINT14_layered(3, decompress_selective) {}
};
class LASreadItemCompressed_POINT14_v4 final : public LASreadItemCompressed_POINT14_layered {
 public:
  explicit LASreadItemCompressed_POINT14_v4(std::uint32_t decompress_selective)
      : LASreadItemCompressed_POINT14_layered(4, decompress_selective) {}
};
