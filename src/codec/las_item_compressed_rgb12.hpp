#pragma once

#include <cstdint>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/item_coder.hpp"

// The RGB12 item (red, green, blue, 16 bits each) coded byte by byte against the last
// colour: a symbol says which of the six bytes changed, then each changed byte follows.
// Version 2 predicts green and blue from the change of red and codes a gray colour by its
// red alone; version 1 codes each changed byte by itself. Coders borrowed as in
// codec/las_item_compressed_point10.hpp.

class LASwriteItemCompressed_RGB12_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v2(EntropyEncoder& encoder);
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
  std::uint16_t last_[3] = {0, 0, 0};
  SymbolModel byte_used_;
  SymbolModel diff_[kRgbBytes];  // red low, red high, green low, green high, blue low, high
};

class LASreadItemCompressed_RGB12_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v2(EntropyDecoder& decoder);
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
  std::uint16_t last_[3] = {0, 0, 0};
  SymbolModel byte_used_;
  SymbolModel diff_[kRgbBytes];
};

class LASwriteItemCompressed_RGB12_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v1(EntropyEncoder& encoder);
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
  std::uint16_t last_[3] = {0, 0, 0};
  SymbolModel byte_used_;
  IntegerCoder rgb_;
};

class LASreadItemCompressed_RGB12_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v1(EntropyDecoder& decoder);
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
  std::uint16_t last_[3] = {0, 0, 0};
  SymbolModel byte_used_;
  IntegerCoder rgb_;
};
