#include "codec/las_item_compressed_byte.hpp"

#include <algorithm>

// ---- version 2 ----------------------------------------------------------------------------

LASwriteItemCompressed_BYTE_v2::LASwriteItemCompressed_BYTE_v2(EntropyEncoder& encoder,
                                                               std::uint32_t size)
    : encoder_(encoder), last_(size), diff_(size, true) {}

bool LASwriteItemCompressed_BYTE_v2::init(const std::uint8_t* item, std::uint32_t&) {
  diff_.init();
  std::copy(item, item + last_.size(), last_.begin());
  return true;
}

bool LASwriteItemCompressed_BYTE_v2::write(const std::uint8_t* item, std::uint32_t&) {
  const std::size_t size = last_.size();
  for (std::size_t i = 0; i < size; i++) {
    encoder_.encode_symbol(diff_[i], byte_fold(item[i] - last_[i]));
    last_[i] = item[i];
  }
  return true;
}

LASreadItemCompressed_BYTE_v2::LASreadItemCompressed_BYTE_v2(EntropyDecoder& decoder,
                                                             std::uint32_t size)
    : decoder_(decoder), last_(size), diff_(size, false) {}

bool LASreadItemCompressed_BYTE_v2::init(ByteStreamIn&, const std::uint8_t* item, std::uint32_t&) {
  diff_.init();
  std::copy(item, item + last_.size(), last_.begin());
  return true;
}

void LASreadItemCompressed_BYTE_v2::read(std::uint8_t* item, std::uint32_t&) {
  const std::size_t size = last_.size();
  for (std::size_t i = 0; i < size; i++) {
    last_[i] = static_cast<std::uint8_t>(last_[i] + decoder_.decode_symbol(diff_[i]));
    item[i] = last_[i];
  }
}

// ---- version 1 ----------------------------------------------------------------------------

LASwriteItemCompressed_BYTE_v1::LASwriteItemCompressed_BYTE_v1(EntropyEncoder& encoder,
                                                               std::uint32_t size)
    : last_(size), byte_(&encoder, kBytev1Bits, size, kItemCoderHighBits) {}

bool LASwriteItemCompressed_BYTE_v1::init(const std::uint8_t* item, std::uint32_t&) {
  byte_.init();
  std::copy(item, item + last_.size(), last_.begin());
  return true;
}

bool LASwriteItemCompressed_BYTE_v1::write(const std::uint8_t* item, std::uint32_t&) {
  const auto size = static_cast<std::uint32_t>(last_.size());
  for (std::uint32_t i = 0; i < size; i++) {
    byte_.compress(last_[i], item[i], i);
    last_[i] = item[i];
  }
  return true;
}

LASreadItemCompressed_BYTE_v1::LASreadItemCompressed_BYTE_v1(EntropyDecoder& decoder,
                                                             std::uint32_t size)
    : last_(size), byte_(&decoder, kBytev1Bits, size, kItemCoderHighBits) {}

bool LASreadItemCompressed_BYTE_v1::init(ByteStreamIn&, const std::uint8_t* item, std::uint32_t&) {
  byte_.init();
  std::copy(item, item + last_.size(), last_.begin());
  return true;
}

void LASreadItemCompressed_BYTE_v1::read(std::uint8_t* item, std::uint32_t&) {
  const auto size = static_cast<std::uint32_t>(last_.size());
  for (std::uint32_t i = 0; i < size; i++) {
    last_[i] = static_cast<std::uint8_t>(byte_.decompress(last_[i], i));
    item[i] = last_[i];
  }
}
