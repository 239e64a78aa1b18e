#pragma once

#include <cstdint>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_codec_layout.hpp"
#include "codec/item_coder.hpp"

// The GPSTIME11 item (a double) coded through its 64-bit pattern as a signed integer: the
// difference to the last time, predicted as a multiple of the last difference. Version 2
// follows up to four interleaved sequences (flight lines whose pulses alternate); version
// 1 one. Coders borrowed as in codec/las_item_compressed_point10.hpp.

class GpsTime11v2Models {
 public:
  explicit GpsTime11v2Models(EntropyEncoder& encoder);
  explicit GpsTime11v2Models(EntropyDecoder& decoder);
  // Sequence 0 starts at the chunk's first time; the others at 0.
  void init(const std::uint8_t* item);

 protected:
  std::uint32_t current_seq_ = 0;
  std::uint32_t newest_seq_ = 0;
  std::int64_t seq_time_[kGpsSequences]{};
  std::int32_t seq_step_[kGpsSequences]{};    // last difference D, 0 before the first
  std::int32_t seq_misses_[kGpsSequences]{};  // extreme multipliers since D was set
  SymbolModel multi_;
  SymbolModel zero_diff_;
  IntegerCoder time_;
};

class LASwriteItemCompressed_GPSTIME11_v2 final : public LASwriteItemCompressed,
                                                  private GpsTime11v2Models {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder& encoder)
      : GpsTime11v2Models(encoder), encoder_(encoder) {}
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  // The time belongs to no sequence: code it in full and open a new sequence with it.
  void write_full_time(std::int64_t time);
  // The sequence after the current one by 1..3 whose time is within 32 bits of `time`, 0
  // for none.
  std::uint32_t near_sequence(std::int64_t time) const;

  EntropyEncoder& encoder_;
};

class LASreadItemCompressed_GPSTIME11_v2 final : public LASreadItemCompressed,
                                                 private GpsTime11v2Models {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v2(EntropyDecoder& decoder)
      : GpsTime11v2Models(decoder), decoder_(decoder) {}
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  // Throws CodecCorruptData for a second sequence switch within one point, which no writer
  // codes.
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
};

class GpsTime11v1Models {
 public:
  explicit GpsTime11v1Models(EntropyEncoder& encoder);
  explicit GpsTime11v1Models(EntropyDecoder& decoder);
  void init(const std::uint8_t* item);

 protected:
  std::int64_t last_time_ = 0;
  std::int32_t step_ = 0;
  std::int32_t misses_ = 0;
  SymbolModel multi_;
  SymbolModel zero_diff_;
  IntegerCoder time_;
};

class LASwriteItemCompressed_GPSTIME11_v1 final : public LASwriteItemCompressed,
                                                  private GpsTime11v1Models {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v1(EntropyEncoder& encoder)
      : GpsTime11v1Models(encoder), encoder_(encoder) {}
  bool init(const std::uint8_t* item, std::uint32_t& context) override;
  bool write(const std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyEncoder& encoder_;
};

class LASreadItemCompressed_GPSTIME11_v1 final : public LASreadItemCompressed,
                                                 private GpsTime11v1Models {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v1(EntropyDecoder& decoder)
      : GpsTime11v1Models(decoder), decoder_(decoder) {}
  bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) override;
  void read(std::uint8_t* item, std::uint32_t& context) override;

 private:
  EntropyDecoder& decoder_;
};
