#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "codec/item_coder.hpp"
#include "codec/layered_layers.hpp"

// The layered codecs of the items that follow POINT14 in point types 7-10 (compressor kind
// 3): colour (RGB14), colour and near infrared (RGBNIR14, two layers), extra bytes (BYTE14,
// one layer per byte) and wave packets (WAVEPACKET14). Each keeps one context per scanner
// channel and learns the current channel from the context argument that the POINT14 codec
// of the same point set; a layer whose values never changed in a chunk is left out, and a
// reader skips the layers its selective-decoding flags do not ask for (their fields keep the
// reference values).
//
// When the context argument names another context k than the current one, k becomes
// current, and a context not yet in use in this chunk starts from the reference the point
// would otherwise have been coded against. Version 4 then codes against the current
// context's reference. Version 3 keeps coding against the reference in use as long as it
// switches only to contexts already in use: the models are context k's, the reference (the
// previous values) is the one last started. Files of both versions exist, so both are kept
// exactly.

template <class Context>
class LayeredContextSet;

template <class Coder>
struct ColourContext;
template <class Coder>
struct ByteContext;
template <class Coder>
struct WavePacketContext;

// RGB14 (6 bytes, layer: RGB) and RGBNIR14 (8 bytes, layers: RGB, NIR).
class LASwriteItemCompressed_RGB14_layered : public LASwriteItemCompressed {
 public:
  ~LASwriteItemCompressed_RGB14_layered() override;
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;
  bool write_layer_sizes(ByteStreamOut& stream) override;
  bool write_layers(ByteStreamOut& stream) override;

 protected:
  LASwriteItemCompressed_RGB14_layered(std::uint32_t version, bool with_nir);

 private:
  bool with_nir_;
  std::array<LayerOut, 2> layers_;
  std::unique_ptr<LayeredContextSet<ColourContext<EntropyEncoder>>> contexts_;
};

class LASreadItemCompressed_RGB14_layered : public LASreadItemCompressed {
 public:
  ~LASreadItemCompressed_RGB14_layered() override;
  bool read_layer_sizes(ByteStreamIn& stream) override;
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 protected:
  LASreadItemCompressed_RGB14_layered(std::uint32_t version, bool with_nir,
                                      std::uint32_t decompress_selective);

 private:
  bool with_nir_;
  std::array<LayerIn, 2> layers_;
  LayerBuffer buffer_;
  std::unique_ptr<LayeredContextSet<ColourContext<EntropyDecoder>>> contexts_;
};

// BYTE14: `size` extra bytes, one layer each.
class LASwriteItemCompressed_BYTE14_layered : public LASwriteItemCompressed {
 public:
  ~LASwriteItemCompressed_BYTE14_layered() override;
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;
  bool write_layer_sizes(ByteStreamOut& stream) override;
  bool write_layers(ByteStreamOut& stream) override;

 protected:
  LASwriteItemCompressed_BYTE14_layered(std::uint32_t version, std::uint32_t size);

 private:
  std::uint32_t size_;
  std::unique_ptr<LayerOut[]> layers_;
  std::unique_ptr<bool[]> kept_;
  std::unique_ptr<LayeredContextSet<ByteContext<EntropyEncoder>>> contexts_;
};

class LASreadItemCompressed_BYTE14_layered : public LASreadItemCompressed {
 public:
  ~LASreadItemCompressed_BYTE14_layered() override;
  bool read_layer_sizes(ByteStreamIn& stream) override;
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 protected:
  LASreadItemCompressed_BYTE14_layered(std::uint32_t version, std::uint32_t size,
                                       std::uint32_t decompress_selective);

 private:
  std::uint32_t size_;
  std::unique_ptr<LayerIn[]> layers_;
  LayerBuffer buffer_;
  std::unique_ptr<LayeredContextSet<ByteContext<EntropyDecoder>>> contexts_;
};

// WAVEPACKET14: the 29-byte wave packet, one layer.
class LASwriteItemCompressed_WAVEPACKET14_layered : public LASwriteItemCompressed {
 public:
  ~LASwriteItemCompressed_WAVEPACKET14_layered() override;
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;
  bool write_layer_sizes(ByteStreamOut& stream) override;
  bool write_layers(ByteStreamOut& stream) override;

 protected:
  explicit LASwriteItemCompressed_WAVEPACKET14_layered(std::uint32_t version);

 private:
  std::array<LayerOut, 1> layers_;
  std::unique_ptr<LayeredContextSet<WavePacketContext<EntropyEncoder>>> contexts_;
};

class LASreadItemCompressed_WAVEPACKET14_layered : public LASreadItemCompressed {
 public:
  ~LASreadItemCompressed_WAVEPACKET14_layered() override;
  bool read_layer_sizes(ByteStreamIn& stream) override;
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 protected:
  LASreadItemCompressed_WAVEPACKET14_layered(std::uint32_t version,
                                             std::uint32_t decompress_selective);

 private:
  std::array<LayerIn, 1> layers_;
  LayerBuffer buffer_;
  std::unique_ptr<LayeredContextSet<WavePacketContext<EntropyDecoder>>> contexts_;
};

// The classes by version.
class LASwriteItemCompressed_RGB14_v3 final : public LASwriteItemCompressed_RGB14_layered {
 public:
  LASwriteItemCompressed_RGB14_v3() : LASwriteItemCompressed_RGB14_layered(3, false) {}
};
class LASwriteItemCompressed_RGB14_v4 final : public LASwriteItemCompressed_RGB14_layered {
 public:
  LASwriteItemCompressed_RGB14_v4() : LASwriteItemCompressed_RGB14_layered(4, false) {}
};
class LASwriteItemCompressed_RGBNIR14_v3 final : public LASwriteItemCompressed_RGB14_layered {
 public:
  LASwriteItemCompressed_RGBNIR14_v3() : LASwriteItemCompressed_RGB14_layered(3, true) {}
};
class LASwriteItemCompressed_RGBNIR14_v4 final : public LASwriteItemCompressed_RGB14_layered {
 public:
  LASwriteItemCompressed_RGBNIR14_v4() : LASwriteItemCompressed_RGB14_layered(4, true) {}
};
class LASreadItemCompressed_RGB14_v3 final : public LASreadItemCompressed_RGB14_layered {
 public:
  explicit LASreadItemCompressed_RGB14_v3(std::uint32_t selective)
      : LASreadItemCompressed_RGB14_layered(3, false, selective) {}
};
class LASreadItemCompressed_RGB14_v4 final : public LASreadItemCompressed_RGB14_layered {
 public:
  explicit LASreadItemCompressed_RGB14_v4(std::uint32_t selective)
      : LASreadItemCompressed_RGB14_layered(4, false, selective) {}
};
class LASreadItemCompressed_RGBNIR14_v3 final : public LASreadItemCompressed_RGB14_layered {
 public:
  explicit LASreadItemCompressed_RGBNIR14_v3(std::uint32_t selective)
      : LASreadItemCompressed_RGB14_layered(3, true, selective) {}
};
class LASreadItemCompressed_RGBNIR14_v4 final : public LASreadItemCompressed_RGB14_layered {
 public:
  explicit LASreadItemCompressed_RGBNIR14_v4(std::uint32_t selective)
      : LASreadItemCompressed_RGB14_layered(4, true, selective) {}
};

class LASwriteItemCompressed_BYTE14_v3 final : public LASwriteItemCompressed_BYTE14_layered {
 public:
  explicit LASwriteItemCompressed_BYTE14_v3(std::uint32_t size)
      : LASwriteItemCompressed_BYTE14_layered(3, size) {}
};
class LASwriteItemCompressed_BYTE14_v4 final : public LASwriteItemCompressed_BYTE14_layered {
 public:
  explicit LASwriteItemCompressed_BYTE14_v4(std::uint32_t size)
      : LASwriteItemCompressed_BYTE14_layered(4, size) {}
};
class LASreadItemCompressed_BYTE14_v3 final : public LASreadItemCompressed_BYTE14_layered {
 public:
  LASreadItemCompressed_BYTE14_v3(std::uint32_t size, std::uint32_t selective)
      : LASreadItemCompressed_BYTE14_layered(3, size, selective) {}
};
class LASreadItemCompressed_BYTE14_v4 final : public LASreadItemCompressed_BYTE14_layered {
 public:
  LASreadItemCompressed_BYTE14_v4(std::uint32_t size, std::uint32_t selective)
      : LASreadItemCompressed_BYTE14_layered(4, size, selective) {}
};

class LASwriteItemCompressed_WAVEPACKET14_v3 final
    : public LASwriteItemCompressed_WAVEPACKET14_layered {
 public:
  LASwriteItemCompressed_WAVEPACKET14_v3() : LASwriteItemCompressed_WAVEPACKET14_layered(3) {}
};
class LASwriteItemCompressed_WAVEPACKET14_v4 final
    : public LASwriteItemCompressed_WAVEPACKET14_layered {
 public:
  LASwriteItemCompressed_WAVEPACKET14_v4() : LASwriteItemCompressed_WAVEPACKET14_layered(4) {}
};
class LASreadItemCompressed_WAVEPACKET14_v3 final
    : public LASreadItemCompressed_WAVEPACKET14_layered {
 public:
  explicit LASreadItemCompressed_WAVEPACKET14_v3(std::uint32_t selective)
      : LASreadItemCompressed_WAVEPACKET14_layered(3, selective) {}
};
class LASreadItemCompressed_WAVEPACKET14_v4 final
    : public LASreadItemCompressed_WAVEPACKET14_layered {
 public:
  explicit LASreadItemCompressed_WAVEPACKET14_v4(std::uint32_t selective)
      : LASreadItemCompressed_WAVEPACKET14_layered(4, selective) {}
};
