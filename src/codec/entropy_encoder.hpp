#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
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

  class Live;

 private:
  void propagate_carry();
  // Byte by byte, for the end of the stream.
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

// The encoder's interval and write position held in local variables for a run of coding
// calls, which the compiler then keeps in registers instead of storing and loading the
// encoder's fields around every symbol. `commit` writes them back; one Live per encoder at a
// time, and no call on the encoder itself while it lives.
class EntropyEncoder::Live {
 public:
  explicit Live(EntropyEncoder& encoder)
      : encoder_(encoder),
        write_position_(encoder.write_position_),
        end_mark_(encoder.end_mark_),
        base_(encoder.base_),
        length_(encoder.length_) {}
  Live(const Live&) = delete;
  Live& operator=(const Live&) = delete;
  void commit() {
    encoder_.write_position_ = write_position_;
    encoder_.base_ = base_;
    encoder_.length_ = length_;
  }

  void encode_bit(BitModel& model, std::uint32_t bit);
  void encode_symbol(SymbolModel& model, std::uint32_t symbol);
  void write_bits(std::uint32_t n, std::uint32_t value);
  void write_short(std::uint16_t value);

 private:
  void carry_if_wrapped(std::uint32_t old_base) {
    if (base_ < old_base) [[unlikely]] {
      encoder_.write_position_ = write_position_;
      encoder_.propagate_carry();
    }
  }
  void renormalise() {
    do {
      *write_position_++ = static_cast<std::uint8_t>(base_ >> 24);
      if (write_position_ == end_mark_) {
        encoder_.write_position_ = write_position_;
        encoder_.flush_half();
        write_position_ = encoder_.write_position_;
        end_mark_ = encoder_.end_mark_;
      }
      base_ <<= 8;
      length_ <<= 8;
    } while (length_ < kCoderMinLength);
  }
  // The same after a symbol or bit, without a branch on whether the interval needs bytes
  // (which the processor cannot predict): stores the top four bytes of the base and keeps
  // the 0 to 3 of them that bring the length to 2^24 or more. The bytes stored beyond those
  // lie before the end mark, where nothing waits to be written, and are overwritten before
  // the half they lie in is.
  void renormalise_if_needed() {
    if (end_mark_ - write_position_ >= 4) [[likely]] {
      // length_ > 0 always, so 0, 8, 16 or 24 bits.
      const std::uint32_t bits = static_cast<std::uint32_t>(std::countl_zero(length_ | 1u)) & ~7u;
      std::uint32_t word = base_;
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
      std::memcpy(write_position_, &word, 4);
      write_position_ += bits >> 3;
      base_ <<= bits;
      length_ <<= bits;
    } else if (length_ < kCoderMinLength) {
      renormalise();
    }
  }

  EntropyEncoder& encoder_;
  std::uint8_t* write_position_;
  std::uint8_t* end_mark_;
  std::uint32_t base_;
  std::uint32_t length_;
};

inline void EntropyEncoder::Live::encode_bit(BitModel& model, std::uint32_t bit) {
  const std::uint32_t x = model.prob0 * (length_ >> kBitModelLengthShift);
  if (bit == 0) {
    length_ = x;
    model.count0++;
  } else {
    const std::uint32_t old_base = base_;
    base_ += x;
    length_ -= x;
    carry_if_wrapped(old_base);
  }
  renormalise_if_needed();
  if (--model.until_update == 0) model.update();
}

inline void EntropyEncoder::Live::encode_symbol(SymbolModel& model, std::uint32_t symbol) {
  assert(symbol < model.symbol_tally);
  const std::uint32_t old_base = base_;
  const std::uint32_t whole = length_;
  length_ >>= kSymbolModelLengthShift;
  const std::uint32_t x = model.cumulative[symbol] * length_;
  // The last symbol takes the rest of the interval, rounding included: the sentinel after
  // it, above 2^15, makes a product beyond the whole interval, and the smaller one is taken.
  const auto y = static_cast<std::uint32_t>(
      std::min(std::uint64_t{model.cumulative[symbol + 1]} * length_, std::uint64_t{whole}));
  base_ += x;
  length_ = y - x;
  carry_if_wrapped(old_base);
  renormalise_if_needed();
  model.counts[symbol]++;
  if (--model.until_update == 0) model.update();
}

inline void EntropyEncoder::Live::write_short(std::uint16_t value) {
  const std::uint32_t old_base = base_;
  length_ >>= 16;
  base_ += value * length_;
  carry_if_wrapped(old_base);
  renormalise();  // the interval is now below 2^16
}

inline void EntropyEncoder::Live::write_bits(std::uint32_t n, std::uint32_t value) {
  assert(n >= 1 && n <= 32 && (n == 32 || value < (1u << n)));
  if (n > 19) {
    write_short(static_cast<std::uint16_t>(value));
    value >>= 16;
    n -= 16;
  }
  const std::uint32_t old_base = base_;
  length_ >>= n;
  base_ += value * length_;
  carry_if_wrapped(old_base);
  if (length_ < kCoderMinLength) renormalise();
}

inline void EntropyEncoder::encode_bit(BitModel& model, std::uint32_t bit) {
  Live live(*this);
  live.encode_bit(model, bit);
  live.commit();
}

inline void EntropyEncoder::encode_symbol(SymbolModel& model, std::uint32_t symbol) {
  Live live(*this);
  live.encode_symbol(model, symbol);
  live.commit();
}

inline void EntropyEncoder::write_bits(std::uint32_t n, std::uint32_t value) {
  Live live(*this);
  live.write_bits(n, value);
  live.commit();
}

inline void EntropyEncoder::write_short(std::uint16_t value) {
  Live live(*this);
  live.write_short(value);
  live.commit();
}

inline void EntropyEncoder::write_int(std::uint32_t value) {
  Live live(*this);
  live.write_short(static_cast<std::uint16_t>(value));
  live.write_short(static_cast<std::uint16_t>(value >> 16));
  live.commit();
}

inline void EntropyEncoder::write_int64(std::uint64_t value) {
  Live live(*this);
  live.write_short(static_cast<std::uint16_t>(value));
  live.write_short(static_cast<std::uint16_t>(value >> 16));
  live.write_short(static_cast<std::uint16_t>(value >> 32));
  live.write_short(static_cast<std::uint16_t>(value >> 48));
  live.commit();
}
