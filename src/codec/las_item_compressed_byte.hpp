#pragma once

#include <cstdint>
#include <vector>

#include "codec/byte_model_family.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/item_coder.hpp"

// The BYTE item (the extra bytes of a record, any count) coded byte by byte against the
// same byte of the last point: version 2 by the difference modulo 256 with a model per byte
// position, version 1 through an integer coder with a context per byte position. Coders
// borrowed as in codec/las_item_compressed_point10.hpp.

class LASwriteItemCompressed_BYTE_v2 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v2(EntropyEncoder& encoder, std::uint32_t size);
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
  std::vector<std::uint8_t> last_;
  ByteModelRow diff_;  // one per byte position
};

class LASreadItemCompressed_BYTE_v2 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v2(EntropyDecoder& decoder, std::uint32_t size);
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
  std::vector<std::uint8_t> last_;
  ByteModelRow diff_;
};

class LASwriteItemCompressed_BYTE_v1 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v1(EntropyEncoder& encoder, std::uint32_t size);
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  std::vector<std::uint8_t> last_;
  IntegerCoder byte_;  // a context per byte position
};

class LASreadItemCompressed_BYTE_v1 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v1(EntropyDecoder& decoder, std::uint32_t size);
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  std::vector<std::uint8_t> last_;
  IntegerCoder byte_;
};
