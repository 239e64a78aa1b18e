#pragma once

#include <cassert>
#include <cstdint>
#include <memory>

#include "codec/entropy_models.hpp"

class ByteStreamOut;

// Adaptive arithmetic (range) encoder on 32-bit integers. Output goes through a buffer of
// two 4096-byte halves so that a carry can still reach the last 4096 bytes written; only
// whole halves go to the stream before `done`.
//
// The coding calls are inline and allocate nothing; the buffer is allocated once at
// construction and reused by every `init`. The stream is borrowed from `init` to `done`.
class EntropyEncoder {
 public:
  // `buffer_size` (even, at least 64): bytes held back for carries before they go to the
  // stream, half of it at a time. The layered codecs keep one encoder per layer and give
  // each a small buffer, since a layer goes to memory anyway.
  explicit EntropyEncoder(std::uint32_t buffer_size = kCoderBufferSize);
  // Starts a new coded stream on `stream`. False for no stream.
  bool init(ByteStreamOut* stream);
  // A `bit` other than 0 codes a 1.
  void encode_bit(BitModel& model, std::uint32_t bit);
  // `symbol` < model.symbol_tally.
  void encode_symbol(SymbolModel& model, std::uint32_t symbol);
  // 1 <= n <= 32 raw bits; `value` < 2^n.
  void write_bits(std::uint32_t n, std::uint32_t value);
  void write_short(std::uint16_t value);
  // Low half first.
  void write_int(std::uint32_t value);
  void write_int64(std::uint64_t value);
  // Ends the coded stream with 2 or 3 tail bytes (the last two are 0), writes what is
  // buffered and forgets the stream. False when the stream refused bytes at any point since
  // `init`, or when a carry had to reach bytes already handed to the stream (a run of more
  // than half the buffer of bytes 0xFF, which no real data produces; the output is then
  // wrong).
  bool done();

  std::unique_ptr<BitModel> create_bit_model() const { return std::make_unique<BitModel>(); }
  std::unique_ptr<SymbolModel> create_symbol_model(std::uint32_t symbols) const {
    return std::make_unique<SymbolModel>(symbols, true);
  }
  SymbolModel make_symbol_model(std::uint32_t symbols) const { return {symbols, true}; }
  static void init_model(BitModel& model) { model.init(); }
  static void init_model(SymbolModel& model, const std::uint32_t* initial_counts = nullptr) {
    model.init(initial_counts);
  }

 private:
  void propagate_carry();
  void renormalise();
  void flush_half();

  ByteStreamOut* stream_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint8_t* end_of_buffer_ = nullptr;
  std::uint8_t* write_position_ = nullptr;
  std::uint8_t* end_mark_ = nullptr;
  std::uint32_t half_ = kCoderBufferHalf;
  std::uint32_t base_ = 0;
  std::uint32_t length_ = 0;
  bool failed_ = false;
};

inline void EntropyEncoder::renormalise() {
  do {
    *write_position_++ = static_cast<std::uint8_t>(base_ >> 24);
    if (write_position_ == end_mark_) flush_half();
    base_ <<= 8;
    length_ <<= 8;
  } while (length_ < kCoderMinLength);
}

inline void EntropyEncoder::encode_bit(BitModel& model, std::uint32_t bit) {
  const std::uint32_t x = model.prob0 * (length_ >> kBitModelLengthShift);
  if (bit == 0) {
    length_ = x;
    model.count0++;
  } else {
    base_ += x;
    length_ -= x;
    if (base_ < x) propagate_carry();
  }
  if (length_ < kCoderMinLength) renormalise();
  if (--model.until_update == 0) model.update();
}

inline void EntropyEncoder::encode_symbol(SymbolModel& model, std::uint32_t symbol) {
  assert(symbol < model.symbol_tally);
  const std::uint32_t old_base = base_;
  if (symbol == model.max_symbol) {
    // The last symbol takes the rest of the interval, rounding included.
    const std::uint32_t x = model.cumulative[symbol] * (length_ >> kSymbolModelLengthShift);
    base_ += x;
    length_ -= x;
  } else {
    length_ >>= kSymbolModelLengthShift;
    const std::uint32_t x = model.cumulative[symbol] * length_;
    base_ += x;
    length_ = model.cumulative[symbol + 1] * length_ - x;
  }
  if (base_ < old_base) propagate_carry();
  if (length_ < kCoderMinLength) renormalise();
  model.counts[symbol]++;
  if (--model.until_update == 0) model.update();
}

inline void EntropyEncoder::write_short(std::uint16_t value) {
  const std::uint32_t old_base = base_;
  length_ >>= 16;
  base_ += value * length_;
  if (base_ < old_base) propagate_carry();
  renormalise();  // the interval is now below 2^16
}

inline void EntropyEncoder::write_bits(std::uint32_t n, std::uint32_t value) {
  assert(n >= 1 && n <= 32 && (n == 32 || value < (1u << n)));
  if (n > 19) {
    write_short(static_cast<std::uint16_t>(value));
    value >>= 16;
    n -= 16;
  }
  const std::uint32_t old_base = base_;
  length_ >>= n;
  base_ += value * length_;
  if (base_ < old_base) propagate_carry();
  if (length_ < kCoderMinLength) renormalise();
}

inline void EntropyEncoder::write_int(std::uint32_t value) {
  write_short(static_cast<std::uint16_t>(value));
  write_short(static_cast<std::uint16_t>(value >> 16));
}

inline void EntropyEncoder::write_int64(std::uint64_t value) {
  write_int(static_cast<std::uint32_t>(value));
  write_int(static_cast<std::uint32_t>(value >> 32));
}
