#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/entropy_models.hpp"
#include "codec/item_coder.hpp"
#include "stream/bytestream_in.hpp"

// Mirror of EntropyEncoder. The decoding calls are inline and allocate nothing. Running out
// of input throws ByteStreamEndOfData (from the stream); a value no encoder can produce
// throws CodecCorruptData. Garbage input never makes a call read outside a model or loop:
// every call consumes input or throws.
class EntropyDecoder {
 public:
  // Takes over `stream` (borrowed until `done`). With `read_first` the first 4 bytes are
  // read at once (and may throw); without, the stream is only remembered (the layered codecs
  // start their own decoders). False for no stream.
  bool init(ByteStreamIn* stream, bool read_first = true);
  std::uint32_t decode_bit(BitModel& model);
  std::uint32_t decode_symbol(SymbolModel& model);
  // 1 <= n <= 32.
  std::uint32_t read_bits(std::uint32_t n);
  std::uint16_t read_short();
  // Low half first.
  std::uint32_t read_int();
  std::uint64_t read_int64();
  // Forgets the stream.
  void done() { stream_ = nullptr; }

  ByteStreamIn* stream() const { return stream_; }

  std::unique_ptr<BitModel> create_bit_model() const { return std::make_unique<BitModel>(); }
  std::unique_ptr<SymbolModel> create_symbol_model(std::uint32_t symbols) const {
    return std::make_unique<SymbolModel>(symbols, false);
  }
  SymbolModel make_symbol_model(std::uint32_t symbols) const { return {symbols, false}; }
  static void init_model(BitModel& model) { model.init(); }
  static void init_model(SymbolModel& model, const std::uint32_t* initial_counts = nullptr) {
    model.init(initial_counts);
  }

 private:
  void renormalise() {
    do {
      value_ = (value_ << 8) | stream_->read_byte();
      length_ <<= 8;
    } while (length_ < kCoderMinLength);
  }
  // The same after a symbol or bit, without a branch on whether the interval needs bytes
  // (which the processor cannot predict): shifts in the 0 to 3 bytes that bring the length
  // to 2^24 or more, all at once from the stream's buffer while it holds 3 bytes.
  void renormalise_if_needed() {
    if (const std::uint8_t* next = stream_->peek_bytes(4)) {
      // length_ > 0 always, so 0, 8, 16 or 24 bits.
      const std::uint32_t bits = static_cast<std::uint32_t>(std::countl_zero(length_)) & ~7u;
      std::uint32_t word;
      std::memcpy(&word, next, 4);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
      value_ = static_cast<std::uint32_t>(((std::uint64_t{value_} << 32) | word) >> (32 - bits));
      length_ <<= bits;
      stream_->skip_buffered(bits >> 3);
    } else if (length_ < kCoderMinLength) {
      renormalise();
    }
  }

  ByteStreamIn* stream_ = nullptr;
  std::uint32_t value_ = 0;
  std::uint32_t length_ = 0;
};

inline std::uint32_t EntropyDecoder::decode_bit(BitModel& model) {
  const std::uint32_t x = model.prob0 * (length_ >> kBitModelLengthShift);
  std::uint32_t bit;
  if (value_ < x) {
    bit = 0;
    length_ = x;
    model.count0++;
  } else {
    bit = 1;
    value_ -= x;
    length_ -= x;
  }
  renormalise_if_needed();
  if (--model.until_update == 0) model.update();
  return bit;
}

inline std::uint32_t EntropyDecoder::decode_symbol(SymbolModel& model) {
  const std::uint32_t whole = length_;
  length_ >>= kSymbolModelLengthShift;
  // The symbol s with cumulative[s] <= d < cumulative[s + 1]: comparing the cumulative
  // counts with the quotient is comparing their multiples with the value.
  const std::uint32_t d = value_ / length_;
  const std::uint32_t slot = d >> model.lookup_shift;
  // The value never exceeds the interval, whatever the input, which keeps the slot inside
  // the table; the check keeps a broken promise from reading beyond it.
  if (slot >= model.lookup_size) throw CodecCorruptData{};
  std::uint32_t symbol = model.lookup[slot];
  std::uint32_t n = model.lookup[slot + 1] + 1;
  while (n > symbol + 1) {
    const std::uint32_t k = (symbol + n) >> 1;
    if (model.cumulative[k] > d) {
      n = k;
    } else {
      symbol = k;
    }
  }
  const std::uint32_t x = model.cumulative[symbol] * length_;
  // The last symbol takes the rest of the interval, the bits that the shift dropped too.
  const std::uint32_t y =
      symbol != model.max_symbol ? model.cumulative[symbol + 1] * length_ : whole;
  value_ -= x;
  length_ = y - x;
  renormalise_if_needed();
  model.counts[symbol]++;
  if (--model.until_update == 0) model.update();
  return symbol;
}

inline std::uint16_t EntropyDecoder::read_short() {
  length_ >>= 16;
  const std::uint32_t value = value_ / length_;
  value_ %= length_;
  renormalise();
  if (value >= 0x10000u) throw CodecCorruptData{};
  return static_cast<std::uint16_t>(value);
}

inline std::uint32_t EntropyDecoder::read_bits(std::uint32_t n) {
  if (n > 19) {
    const std::uint32_t low = read_short();
    const std::uint32_t high = read_bits(n - 16);
    return (high << 16) | low;
  }
  length_ >>= n;
  const std::uint32_t value = value_ / length_;
  value_ %= length_;
  if (length_ < kCoderMinLength) renormalise();
  if (value >= (1u << n)) throw CodecCorruptData{};
  return value;
}

inline std::uint32_t EntropyDecoder::read_int() {
  const std::uint32_t low = read_short();
  const std::uint32_t high = read_short();
  return (high << 16) | low;
}

inline std::uint64_t EntropyDecoder::read_int64() {
  const std::uint64_t low = read_int();
  const std::uint64_t high = read_int();
  return (high << 32) | low;
}
