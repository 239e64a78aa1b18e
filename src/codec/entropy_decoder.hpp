#pragma once

#include <cstdint>
#include <memory>

#include "codec/entropy_models.hpp"

class ByteStreamIn;

// Mirror of EntropyEncoder. Running out of input throws ByteStreamEndOfData (from the
// stream); a value no encoder can produce throws CodecCorruptData.
class EntropyDecoder {
 public:
  // Takes over `stream` (borrowed). With `read_first` the first 4 bytes are read at once;
  // without, the stream is only remembered (the layered codecs start their own decoders).
  bool init(ByteStreamIn* stream, bool read_first = true);
  std::uint32_t decode_bit(BitModel& model);
  std::uint32_t decode_symbol(SymbolModel& model);
  std::uint32_t read_bits(std::uint32_t n);
  std::uint16_t read_short();
  std::uint32_t read_int();
  std::uint64_t read_int64();
  // Forgets the stream.
  void done();

  std::unique_ptr<BitModel> create_bit_model() const { return std::make_unique<BitModel>(); }
  std::unique_ptr<SymbolModel> create_symbol_model(std::uint32_t symbols) const {
    return std::make_unique<SymbolModel>(symbols, false);
  }

 private:
  ByteStreamIn* stream_ = nullptr;
  std::uint32_t value_ = 0;
  std::uint32_t length_ = 0;
};
