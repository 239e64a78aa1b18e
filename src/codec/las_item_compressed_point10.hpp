#pragma once

#include <cstdint>

#include "codec/byte_model_family.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/item_coder.hpp"
#include "codec/running_median.hpp"

// The POINT10 item (X, Y, Z, intensity, return and class bytes, scan angle, user data,
// point source) coded against the previous point of the chunk, in codec versions 1 and 2.
// Each codec codes into or decodes from the engine's one entropy coder, which it borrows
// for its whole life (codec/item_codec_table.hpp). `init` takes the chunk's first point,
// which the engine stored raw, and resets every model and memory.

// The state and models of version 2, alike in writer and reader: the writer codes with
// them what the reader decodes with them.
class Point10v2Models {
 public:
  explicit Point10v2Models(EntropyEncoder& encoder);
  explicit Point10v2Models(EntropyDecoder& decoder);
  // The first point of a chunk: q = the point with intensity 0, all memories 0.
  void init(const std::uint8_t* item);

 protected:
  Point10Record last_{};                                // q
  std::uint16_t intensity_by_class_[kReturnClasses]{};  // by return class m
  RunningMedian5 dx_median_[kReturnClasses];
  RunningMedian5 dy_median_[kReturnClasses];
  std::int32_t z_by_depth_[kReturnDepths]{};  // by return depth l
  SymbolModel changed_values_;
  SymbolModel scan_angle_[2];  // by scan direction flag
  ByteModelFamily return_byte_;
  ByteModelFamily class_byte_;
  ByteModelFamily user_data_;
  IntegerCoder intensity_;
  IntegerCoder point_source_;
  IntegerCoder dx_;
  IntegerCoder dy_;
  IntegerCoder z_;
};

class LASwriteItemCompressed_POINT10_v2 final : public LASwriteItemCompressed,
                                                private Point10v2Models {
 public:
  explicit LASwriteItemCompressed_POINT10_v2(EntropyEncoder& encoder)
      : Point10v2Models(encoder), encoder_(encoder) {}
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
};

class LASreadItemCompressed_POINT10_v2 final : public LASreadItemCompressed,
                                               private Point10v2Models {
 public:
  explicit LASreadItemCompressed_POINT10_v2(EntropyDecoder& decoder)
      : Point10v2Models(decoder), decoder_(decoder) {}
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
};

// Version 1: the coordinates predicted by the median of the last three differences, then
// the other fields each against the last value.
class Point10v1Models {
 public:
  explicit Point10v1Models(EntropyEncoder& encoder);
  explicit Point10v1Models(EntropyDecoder& decoder);
  // The first point of a chunk becomes q as it is (intensity included).
  void init(const std::uint8_t* item);

 protected:
  std::int32_t median_dx() const;
  std::int32_t median_dy() const;
  void remember(std::int32_t dx, std::int32_t dy) {
    last_dx_[diff_index_] = dx;
    last_dy_[diff_index_] = dy;
    diff_index_ = diff_index_ + 1 == kPoint10v1DiffHistory ? 0 : diff_index_ + 1;
  }

  Point10Record last_{};
  std::int32_t last_dx_[kPoint10v1DiffHistory]{};
  std::int32_t last_dy_[kPoint10v1DiffHistory]{};
  std::uint32_t diff_index_ = 0;
  SymbolModel changed_values_;
  ByteModelFamily return_byte_;
  ByteModelFamily class_byte_;
  ByteModelFamily user_data_;
  IntegerCoder dx_;
  IntegerCoder dy_;
  IntegerCoder z_;
  IntegerCoder intensity_;
  IntegerCoder scan_angle_;
  IntegerCoder point_source_;
};

class LASwriteItemCompressed_POINT10_v1 final : public LASwriteItemCompressed,
                                                private Point10v1Models {
 public:
  explicit LASwriteItemCompressed_POINT10_v1(EntropyEncoder& encoder)
      : Point10v1Models(encoder), encoder_(encoder) {}
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
};

class LASreadItemCompressed_POINT10_v1 final : public LASreadItemCompressed,
                                               private Point10v1Models {
 public:
  explicit LASreadItemCompressed_POINT10_v1(EntropyDecoder& decoder)
      : Point10v1Models(decoder), decoder_(decoder) {}
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
};
