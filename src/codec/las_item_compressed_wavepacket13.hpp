#pragma once

#include <cstdint>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/item_coder.hpp"

// The WAVEPACKET13 item (descriptor index, offset and size of the waveform data, return
// point location and X(t), Y(t), Z(t)) coded against the last packet, version 1. The offset
// usually follows the last packet directly; the floats are coded through their bit
// patterns. Coders borrowed as in codec/las_item_compressed_point10.hpp.

class WavePacket13v1Models {
 public:
  explicit WavePacket13v1Models(EntropyEncoder& encoder);
  explicit WavePacket13v1Models(EntropyDecoder& decoder);
  void init(const std::uint8_t* item);

 protected:
  WavePacketRecord last_{};  // the 28 bytes after the index
  std::int32_t offset_step_ = 0;
  std::uint32_t offset_kind_ = 0;
  SymbolModel packet_index_;
  SymbolModel offset_kind_models_[kWavePacketOffsetKindSymbols];  // by the last offset kind
  IntegerCoder offset_diff_;
  IntegerCoder packet_size_;
  IntegerCoder return_point_;
  IntegerCoder xyz_;
};

class LASwriteItemCompressed_WAVEPACKET13_v1 final : public LASwriteItemCompressed,
                                                     private WavePacket13v1Models {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET13_v1(EntropyEncoder& encoder)
      : WavePacket13v1Models(encoder), encoder_(encoder) {}
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
};

class LASreadItemCompressed_WAVEPACKET13_v1 final : public LASreadItemCompressed,
                                                    private WavePacket13v1Models {
 public:
  explicit LASreadItemCompressed_WAVEPACKET13_v1(EntropyDecoder& decoder)
      : WavePacket13v1Models(decoder), decoder_(decoder) {}
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
};
