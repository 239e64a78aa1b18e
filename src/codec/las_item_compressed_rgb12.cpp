#include "codec/las_item_compressed_rgb12.hpp"

#include <algorithm>
#include <cstring>

namespace {

void load_colour(const std::uint8_t* item, std::uint16_t* colour) {
  std::memcpy(colour, item, 3 * sizeof(std::uint16_t));
}

void store_colour(const std::uint16_t* colour, std::uint8_t* item) {
  std::memcpy(item, colour, 3 * sizeof(std::uint16_t));
}

std::int32_t low(std::uint16_t value) {
  return value & 0xFF;
}
std::int32_t high(std::uint16_t value) {
  return value >> 8;
}

std::int32_t clamp_byte(std::int32_t value) {
  return std::clamp(value, 0, 255);
}

// Which of the six colour bytes differ from the last colour: bits 0-5 in the order red low,
// red high, green low, green high, blue low, blue high.
std::uint32_t changed_bytes(const std::uint16_t* colour, const std::uint16_t* last) {
  std::uint32_t symbol = 0;
  for (int i = 0; i < 3; i++) {
    if (low(colour[i]) != low(last[i])) symbol |= 1u << (2 * i);
    if (high(colour[i]) != high(last[i])) symbol |= 1u << (2 * i + 1);
  }
  return symbol;
}

}  // namespace

// ---- version 2 ----------------------------------------------------------------------------

LASwriteItemCompressed_RGB12_v2::LASwriteItemCompressed_RGB12_v2(EntropyEncoder& encoder)
    : encoder_(encoder), byte_used_(kRgbv2ChangeSymbols, true), diff_{{kByteSymbols, true},
                                                                      {kByteSymbols, true},
                                                                      {kByteSymbols, true},
                                                                      {kByteSymbols, true},
                                                                      {kByteSymbols, true},
                                                                      {kByteSymbols, true}} {}

bool LASwriteItemCompressed_RGB12_v2::init(const std::uint8_t* item, std::uint32_t&) {
  byte_used_.init();
  for (SymbolModel& model : diff_)
    model.init();
  load_colour(item, last_);
  return true;
}

bool LASwriteItemCompressed_RGB12_v2::write(const std::uint8_t* item, std::uint32_t&) {
  std::uint16_t colour[3];
  load_colour(item, colour);
  std::uint32_t symbol = changed_bytes(colour, last_);
  if (colour[0] != colour[1] || colour[0] != colour[2]) symbol |= kRgbv2NotGray;
  encoder_.encode_symbol(byte_used_, symbol);

  std::int32_t diff_low = 0;
  std::int32_t diff_high = 0;
  if (symbol & (1u << 0)) {
    diff_low = low(colour[0]) - low(last_[0]);
    encoder_.encode_symbol(diff_[0], byte_fold(diff_low));
  }
  if (symbol & (1u << 1)) {
    diff_high = high(colour[0]) - high(last_[0]);
    encoder_.encode_symbol(diff_[1], byte_fold(diff_high));
  }
  if (symbol & kRgbv2NotGray) {
    // Green and blue are predicted from how red changed: green by red's change, blue by
    // the mean change of red and green.
    if (symbol & (1u << 2)) {
      const std::int32_t corrector = low(colour[1]) - clamp_byte(diff_low + low(last_[1]));
      encoder_.encode_symbol(diff_[2], byte_fold(corrector));
    }
    if (symbol & (1u << 4)) {
      diff_low = (diff_low + low(colour[1]) - low(last_[1])) / 2;
      const std::int32_t corrector = low(colour[2]) - clamp_byte(diff_low + low(last_[2]));
      encoder_.encode_symbol(diff_[4], byte_fold(corrector));
    }
    if (symbol & (1u << 3)) {
      const std::int32_t corrector = high(colour[1]) - clamp_byte(diff_high + high(last_[1]));
      encoder_.encode_symbol(diff_[3], byte_fold(corrector));
    }
    if (symbol & (1u << 5)) {
      diff_high = (diff_high + high(colour[1]) - high(last_[1])) / 2;
      const std::int32_t corrector = high(colour[2]) - clamp_byte(diff_high + high(last_[2]));
      encoder_.encode_symbol(diff_[5], byte_fold(corrector));
    }
  }
  std::copy(colour, colour + 3, last_);
  return true;
}

LASreadItemCompressed_RGB12_v2::LASreadItemCompressed_RGB12_v2(EntropyDecoder& decoder)
    : decoder_(decoder), byte_used_(kRgbv2ChangeSymbols, false), diff_{{kByteSymbols, false},
                                                                       {kByteSymbols, false},
                                                                       {kByteSymbols, false},
                                                                       {kByteSymbols, false},
                                                                       {kByteSymbols, false},
                                                                       {kByteSymbols, false}} {}

bool LASreadItemCompressed_RGB12_v2::init(ByteStreamIn&, const std::uint8_t* item, std::uint32_t&) {
  byte_used_.init();
  for (SymbolModel& model : diff_)
    model.init();
  load_colour(item, last_);
  return true;
}

void LASreadItemCompressed_RGB12_v2::read(std::uint8_t* item, std::uint32_t&) {
  // The decoder's interval stays in registers for the whole colour.
  EntropyDecoder::Live decoder(decoder_);
  const std::uint32_t symbol = decoder.decode_symbol(byte_used_);
  // Each byte is taken from the last colour unless its bit says it changed.
  std::int32_t red_low = low(last_[0]);
  std::int32_t red_high = high(last_[0]);
  if (symbol & (1u << 0)) red_low = byte_fold(decoder.decode_symbol(diff_[0]) + red_low);
  if (symbol & (1u << 1)) red_high = byte_fold(decoder.decode_symbol(diff_[1]) + red_high);
  std::uint16_t colour[3];
  colour[0] = static_cast<std::uint16_t>(red_low | (red_high << 8));
  if (symbol & kRgbv2NotGray) {
    std::int32_t diff = red_low - low(last_[0]);
    std::int32_t green_low = low(last_[1]);
    std::int32_t blue_low = low(last_[2]);
    if (symbol & (1u << 2)) {
      green_low = byte_fold(static_cast<std::int32_t>(decoder.decode_symbol(diff_[2])) +
                            clamp_byte(diff + low(last_[1])));
    }
    if (symbol & (1u << 4)) {
      const auto corrector = static_cast<std::int32_t>(decoder.decode_symbol(diff_[4]));
      diff = (diff + green_low - low(last_[1])) / 2;
      blue_low = byte_fold(corrector + clamp_byte(diff + low(last_[2])));
    }
    diff = red_high - high(last_[0]);
    std::int32_t green_high = high(last_[1]);
    std::int32_t blue_high = high(last_[2]);
    if (symbol & (1u << 3)) {
      green_high = byte_fold(static_cast<std::int32_t>(decoder.decode_symbol(diff_[3])) +
                             clamp_byte(diff + high(last_[1])));
    }
    if (symbol & (1u << 5)) {
      const auto corrector = static_cast<std::int32_t>(decoder.decode_symbol(diff_[5]));
      diff = (diff + green_high - high(last_[1])) / 2;
      blue_high = byte_fold(corrector + clamp_byte(diff + high(last_[2])));
    }
    colour[1] = static_cast<std::uint16_t>(green_low | (green_high << 8));
    colour[2] = static_cast<std::uint16_t>(blue_low | (blue_high << 8));
  } else {
    colour[1] = colour[0];
    colour[2] = colour[0];
  }
  decoder.commit();
  std::copy(colour, colour + 3, last_);
  store_colour(colour, item);
}

// ---- version 1 ----------------------------------------------------------------------------

LASwriteItemCompressed_RGB12_v1::LASwriteItemCompressed_RGB12_v1(EntropyEncoder& encoder)
    : encoder_(encoder),
      byte_used_(kRgbv1ChangeSymbols, true),
      rgb_(&encoder, kRgbv1Bits, kRgbv1Contexts, kItemCoderHighBits) {}

bool LASwriteItemCompressed_RGB12_v1::init(const std::uint8_t* item, std::uint32_t&) {
  byte_used_.init();
  rgb_.init();
  load_colour(item, last_);
  return true;
}

bool LASwriteItemCompressed_RGB12_v1::write(const std::uint8_t* item, std::uint32_t&) {
  std::uint16_t colour[3];
  load_colour(item, colour);
  const std::uint32_t symbol = changed_bytes(colour, last_);
  encoder_.encode_symbol(byte_used_, symbol);
  for (std::uint32_t i = 0; i < 3; i++) {
    if (symbol & (1u << (2 * i))) rgb_.compress(low(last_[i]), low(colour[i]), 2 * i);
    if (symbol & (1u << (2 * i + 1))) rgb_.compress(high(last_[i]), high(colour[i]), 2 * i + 1);
  }
  std::copy(colour, colour + 3, last_);
  return true;
}

LASreadItemCompressed_RGB12_v1::LASreadItemCompressed_RGB12_v1(EntropyDecoder& decoder)
    : decoder_(decoder),
      byte_used_(kRgbv1ChangeSymbols, false),
      rgb_(&decoder, kRgbv1Bits, kRgbv1Contexts, kItemCoderHighBits) {}

bool LASreadItemCompressed_RGB12_v1::init(ByteStreamIn&, const std::uint8_t* item, std::uint32_t&) {
  byte_used_.init();
  rgb_.init();
  load_colour(item, last_);
  return true;
}

void LASreadItemCompressed_RGB12_v1::read(std::uint8_t* item, std::uint32_t&) {
  const std::uint32_t symbol = decoder_.decode_symbol(byte_used_);
  for (std::uint32_t i = 0; i < 3; i++) {
    std::int32_t low_byte = low(last_[i]);
    std::int32_t high_byte = high(last_[i]);
    if (symbol & (1u << (2 * i))) low_byte = rgb_.decompress(low_byte, 2 * i);
    if (symbol & (1u << (2 * i + 1))) high_byte = rgb_.decompress(high_byte, 2 * i + 1);
    last_[i] = static_cast<std::uint16_t>(low_byte | (high_byte << 8));
  }
  store_colour(last_, item);
}
