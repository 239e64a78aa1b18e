#include "codec/las_item_compressed_wavepacket13.hpp"

#include <cstring>

namespace {

// The body follows the descriptor index byte.
WavePacketRecord load_body(const std::uint8_t* item) {
  WavePacketRecord body{};
  std::memcpy(&body, item + 1, kWavePacketBodySize);
  return body;
}

void store_body(const WavePacketRecord& body, std::uint8_t* item) {
  std::memcpy(item + 1, &body, kWavePacketBodySize);
}

}  // namespace

WavePacket13v1Models::WavePacket13v1Models(EntropyEncoder& encoder)
    : packet_index_(kByteSymbols, true),
      offset_kind_models_{{kWavePacketOffsetKindSymbols, true},
                          {kWavePacketOffsetKindSymbols, true},
                          {kWavePacketOffsetKindSymbols, true},
                          {kWavePacketOffsetKindSymbols, true}},
      offset_diff_(&encoder, kWavePacketBits, 1, kItemCoderHighBits),
      packet_size_(&encoder, kWavePacketBits, 1, kItemCoderHighBits),
      return_point_(&encoder, kWavePacketBits, 1, kItemCoderHighBits),
      xyz_(&encoder, kWavePacketBits, kWavePacketXyzContexts, kItemCoderHighBits) {}

WavePacket13v1Models::WavePacket13v1Models(EntropyDecoder& decoder)
    : packet_index_(kByteSymbols, false),
      offset_kind_models_{{kWavePacketOffsetKindSymbols, false},
                          {kWavePacketOffsetKindSymbols, false},
                          {kWavePacketOffsetKindSymbols, false},
                          {kWavePacketOffsetKindSymbols, false}},
      offset_diff_(&decoder, kWavePacketBits, 1, kItemCoderHighBits),
      packet_size_(&decoder, kWavePacketBits, 1, kItemCoderHighBits),
      return_point_(&decoder, kWavePacketBits, 1, kItemCoderHighBits),
      xyz_(&decoder, kWavePacketBits, kWavePacketXyzContexts, kItemCoderHighBits) {}

void WavePacket13v1Models::init(const std::uint8_t* item) {
  offset_step_ = 0;
  offset_kind_ = 0;
  packet_index_.init();
  for (SymbolModel& model : offset_kind_models_)
    model.init();
  offset_diff_.init();
  packet_size_.init();
  return_point_.init();
  xyz_.init();
  last_ = load_body(item);
}

bool LASwriteItemCompressed_WAVEPACKET13_v1::init(const std::uint8_t* item, std::uint32_t&) {
  WavePacket13v1Models::init(item);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET13_v1::write(const std::uint8_t* item, std::uint32_t&) {
  encoder_.encode_symbol(packet_index_, item[0]);
  const WavePacketRecord packet = load_body(item);

  const auto difference64 = static_cast<std::int64_t>(packet.offset - last_.offset);
  std::uint32_t kind;
  if (!fits_32(difference64)) {
    kind = kWavePacketOffsetFull;
  } else if (difference64 == 0) {
    kind = kWavePacketOffsetSame;
  } else if (difference64 == static_cast<std::int64_t>(last_.packet_size)) {
    // Compared as 64-bit values: the reader adds the size as an unsigned number, so a size
    // of 2^31 or more never stands for a step backwards.
    kind = kWavePacketOffsetAfterLast;
  } else {
    kind = kWavePacketOffsetDiff;
  }
  encoder_.encode_symbol(offset_kind_models_[offset_kind_], kind);
  offset_kind_ = kind;
  if (kind == kWavePacketOffsetDiff) {
    const auto difference = static_cast<std::int32_t>(difference64);
    offset_diff_.compress(offset_step_, difference, 0);
    offset_step_ = difference;
  } else if (kind == kWavePacketOffsetFull) {
    encoder_.write_int64(packet.offset);
  }

  packet_size_.compress(static_cast<std::int32_t>(last_.packet_size),
                        static_cast<std::int32_t>(packet.packet_size), 0);
  return_point_.compress(last_.return_point, packet.return_point, 0);
  xyz_.compress(last_.x, packet.x, 0);
  xyz_.compress(last_.y, packet.y, 1);
  xyz_.compress(last_.z, packet.z, 2);
  last_ = packet;
  return true;
}

bool LASreadItemCompressed_WAVEPACKET13_v1::init(ByteStreamIn&, const std::uint8_t* item,
                                                 std::uint32_t&) {
  WavePacket13v1Models::init(item);
  return true;
}

void LASreadItemCompressed_WAVEPACKET13_v1::read(std::uint8_t* item, std::uint32_t&) {
  item[0] = static_cast<std::uint8_t>(decoder_.decode_symbol(packet_index_));
  offset_kind_ = decoder_.decode_symbol(offset_kind_models_[offset_kind_]);
  WavePacketRecord packet{};
  switch (offset_kind_) {
    case kWavePacketOffsetSame:
      packet.offset = last_.offset;
      break;
    case kWavePacketOffsetAfterLast:
      packet.offset = last_.offset + last_.packet_size;
      break;
    case kWavePacketOffsetDiff:
      offset_step_ = offset_diff_.decompress(offset_step_, 0);
      packet.offset = last_.offset + static_cast<std::uint64_t>(std::int64_t{offset_step_});
      break;
    default:
      packet.offset = decoder_.read_int64();
      break;
  }
  packet.packet_size = static_cast<std::uint32_t>(
      packet_size_.decompress(static_cast<std::int32_t>(last_.packet_size), 0));
  packet.return_point = return_point_.decompress(last_.return_point, 0);
  packet.x = xyz_.decompress(last_.x, 0);
  packet.y = xyz_.decompress(last_.y, 1);
  packet.z = xyz_.decompress(last_.z, 2);
  last_ = packet;
  store_body(packet, item);
}
