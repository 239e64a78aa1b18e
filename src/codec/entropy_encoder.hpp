#pragma once

#include <cstdint>
#include <memory>

#include "codec/entropy_models.hpp"

class ByteStreamOut;

// Adaptive arithmetic (range) encoder on 32-bit integers. Output goes through a buffer of
// two 4096-byte halves so that a carry can still reach the last 4096 bytes written.
class EntropyEncoder {
 public:
  EntropyEncoder();
  // Starts a new coded stream on `stream` (borrowed). False for no stream.
  bool init(ByteStreamOut* stream);
  void encode_bit(BitModel& model, std::uint32_t bit);
  void encode_symbol(SymbolModel& model, std::uint32_t symbol);
  // 1 <= n <= 32 raw bits.
  void write_bits(std::uint32_t n, std::uint32_t value);
  void write_short(std::uint16_t value);
  void write_int(std::uint32_t value);
  void write_int64(std::uint64_t value);
  // Ends the coded stream, writes what is left and forgets the stream. False when the stream
  // refused bytes at any point since `init`.
  bool done();

  std::unique_ptr<BitModel> create_bit_model() const { return std::make_unique<BitModel>(); }
  std::unique_ptr<SymbolModel> create_symbol_model(std::uint32_t symbols) const {
    return std::make_unique<SymbolModel>(symbols, true);
  }

 private:
  ByteStreamOut* stream_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint8_t* end_of_buffer_ = nullptr;
  std::uint8_t* write_position_ = nullptr;
  std::uint8_t* end_mark_ = nullptr;
  std::uint32_t base_ = 0;
  std::uint32_t length_ = 0;
  bool failed_ = false;
};
