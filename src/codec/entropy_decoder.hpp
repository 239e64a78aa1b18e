#pragma once

#include <algorithm>
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
// How a model's probability is spread over its symbols, which decides how a decoder best
// finds the symbol of a quotient: kFew for alphabets where a few symbols take nearly all of
// it (classes of a difference, change masks, bytes that mostly repeat), kWide for those
// where many symbols are about equally likely (the bits within a class of a difference).
enum class SymbolSpread { kFew, kWide };

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

  class Live;

 private:
  ByteStreamIn* stream_ = nullptr;
  std::uint32_t value_ = 0;
  std::uint32_t length_ = 0;
};

// The decoder's interval held in local variables for a run of decoding calls, which the
// compiler then keeps in registers: the decoder's own fields sit in memory, where every
// symbol would store them and the next load them back, a store-to-load round trip on the one
// chain of dependent steps that decoding is. `commit` writes the interval back; a Live that
// is dropped without it (a throw) leaves the decoder as it was, which is all a decoder that
// failed mid-point may be (the engines stop decoding its chunk). One Live per decoder at a
// time, and no call on the decoder itself while it lives.
class EntropyDecoder::Live {
 public:
  explicit Live(EntropyDecoder& decoder)
      : decoder_(decoder),
        stream_(decoder.stream_),
        value_(decoder.value_),
        length_(decoder.length_) {}
  Live(const Live&) = delete;
  Live& operator=(const Live&) = delete;
  void commit() {
    decoder_.value_ = value_;
    decoder_.length_ = length_;
  }

  // Always inlined: a call would take the interval back into memory, which is what a Live
  // is for avoiding.
  [[gnu::always_inline]] std::uint32_t decode_bit(BitModel& model);
  template <SymbolSpread kSpread = SymbolSpread::kFew>
  [[gnu::always_inline]] std::uint32_t decode_symbol(SymbolModel& model);
  std::uint32_t read_bits(std::uint32_t n);
  std::uint16_t read_short();
  // Low half first.
  std::uint32_t read_int() {
    const std::uint32_t low = read_short();
    const std::uint32_t high = read_short();
    return (high << 16) | low;
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
  // to 2^24 or more, all at once from the stream's buffer while it holds 4.
  void renormalise_if_needed() {
    if (stream_->buffered() >= 4) [[likely]] {
      // length_ > 0 always, so 0, 8, 16 or 24 bits.
      const std::uint32_t bits = static_cast<std::uint32_t>(std::countl_zero(length_ | 1u)) & ~7u;
      std::uint32_t word;
      std::memcpy(&word, stream_->peek_bytes(4), 4);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
      value_ = static_cast<std::uint32_t>(((std::uint64_t{value_} << 32) | word) >> (32 - bits));
      length_ <<= bits;
      stream_->skip_buffered(bits >> 3);
    } else if (length_ < kCoderMinLength) {
      renormalise();
    }
  }
  std::uint32_t read_bits_below_20(std::uint32_t n);

  EntropyDecoder& decoder_;
  ByteStreamIn* const stream_;
  std::uint32_t value_;
  std::uint32_t length_;
};

// All masks below stand for branches that the processor would guess wrong as often as the
// data makes them go one way or the other.
inline std::uint32_t EntropyDecoder::Live::decode_bit(BitModel& model) {
  const std::uint32_t x = model.prob0 * (length_ >> kBitModelLengthShift);
  const std::uint32_t bit = value_ >= x ? 1u : 0u;
  const std::uint32_t one = 0u - bit;
  value_ -= x & one;
  length_ = ((length_ - x) & one) | (x & ~one);
  model.count0 += bit ^ 1u;
  renormalise_if_needed();
  if (--model.until_update == 0) model.update();
  return bit;
}

template <SymbolSpread kSpread>
inline std::uint32_t EntropyDecoder::Live::decode_symbol(SymbolModel& model) {
  const std::uint32_t whole = length_;
  length_ >>= kSymbolModelLengthShift;
  // The symbol s with cumulative[s] <= d < cumulative[s + 1]: comparing the cumulative
  // counts with the quotient is comparing their multiples with the value.
  const std::uint32_t d = value_ / length_;
  const std::uint32_t slot = d >> model.lookup_shift;
  // The value never exceeds the interval, whatever the input, which keeps the slot inside
  // the table; the check keeps a broken promise from reading beyond it.
  if (slot >= model.lookup_size) throw CodecCorruptData{};
  const DecodingSlot entry = model.slots[slot];
  std::uint32_t symbol = entry.symbol;
  std::uint32_t low;
  std::uint32_t high;
  if (symbol < kSearchSlot) [[likely]] {
    // One symbol or two in the slot, as in nearly every slot of a fine table.
    low = entry.low;
    high = entry.high;
    if constexpr (kSpread == SymbolSpread::kFew) {
      // Most quotients fall into slots of one symbol, where the guess is right.
      if (high <= d) {
        symbol++;
        low = high;
        high = entry.next;
      }
    } else {
      const std::uint32_t next = entry.next;
#if defined(__x86_64__)
      // Conditional moves: two cycles on the decoder's chain where masks take five, and the
      // compiler would make a branch of a plain choice.
      asm("cmpl %[high], %[d]\n\t"
          "cmovael %[high], %[low]\n\t"
          "cmovael %[next], %[high]\n\t"
          "sbbl $-1, %[symbol]"
          : [low] "+&r"(low), [high] "+&r"(high), [symbol] "+r"(symbol)
          : [next] "r"(next), [d] "r"(d)
          : "cc");
#else
      const std::uint32_t above = 0u - static_cast<std::uint32_t>(high <= d);
      symbol -= above;
      low ^= (low ^ high) & above;
      high ^= (high ^ next) & above;
#endif
    }
  } else {
    const std::uint16_t* cumulative = model.cumulative;
    symbol &= ~std::uint32_t{kSearchSlot};
    std::uint32_t n = (model.slots[slot + 1].symbol & ~std::uint32_t{kSearchSlot}) + 1;
    while (n > symbol + 1) {
      const std::uint32_t k = (symbol + n) >> 1;
      if (cumulative[k] > d) {
        n = k;
      } else {
        symbol = k;
      }
    }
    low = cumulative[symbol];
    high = cumulative[symbol + 1];
  }
  const std::uint32_t x = low * length_;
  // The last symbol takes the rest of the interval, the bits that the shift dropped too.
  std::uint32_t y;
  if constexpr (kSpread == SymbolSpread::kFew) {
    y = symbol != model.max_symbol ? high * length_ : whole;
  } else {
    // The sentinel after the last symbol, above 2^15, makes a product beyond the whole.
    y = static_cast<std::uint32_t>(std::min(std::uint64_t{high} * length_, std::uint64_t{whole}));
  }
  value_ -= x;
  length_ = y - x;
  renormalise_if_needed();
  model.counts[symbol]++;
  if (--model.until_update == 0) model.update();
  return symbol;
}

inline std::uint16_t EntropyDecoder::Live::read_short() {
  length_ >>= 16;
  const std::uint32_t value = value_ / length_;
  value_ %= length_;
  renormalise();
  if (value >= 0x10000u) throw CodecCorruptData{};
  return static_cast<std::uint16_t>(value);
}

inline std::uint32_t EntropyDecoder::Live::read_bits_below_20(std::uint32_t n) {
  length_ >>= n;
  const std::uint32_t value = value_ / length_;
  value_ %= length_;
  if (length_ < kCoderMinLength) renormalise();
  if (value >= (1u << n)) throw CodecCorruptData{};
  return value;
}

inline std::uint32_t EntropyDecoder::Live::read_bits(std::uint32_t n) {
  if (n > 19) {
    const std::uint32_t low = read_short();
    const std::uint32_t high = read_bits_below_20(n - 16);
    return (high << 16) | low;
  }
  return read_bits_below_20(n);
}

inline std::uint32_t EntropyDecoder::decode_bit(BitModel& model) {
  Live live(*this);
  const std::uint32_t bit = live.decode_bit(model);
  live.commit();
  return bit;
}

inline std::uint32_t EntropyDecoder::decode_symbol(SymbolModel& model) {
  Live live(*this);
  const std::uint32_t symbol = live.decode_symbol(model);
  live.commit();
  return symbol;
}

inline std::uint16_t EntropyDecoder::read_short() {
  Live live(*this);
  const std::uint16_t value = live.read_short();
  live.commit();
  return value;
}

inline std::uint32_t EntropyDecoder::read_bits(std::uint32_t n) {
  Live live(*this);
  const std::uint32_t value = live.read_bits(n);
  live.commit();
  return value;
}

inline std::uint32_t EntropyDecoder::read_int() {
  Live live(*this);
  const std::uint32_t value = live.read_int();
  live.commit();
  return value;
}

inline std::uint64_t EntropyDecoder::read_int64() {
  Live live(*this);
  const std::uint64_t low0 = live.read_short();
  const std::uint64_t low1 = live.read_short();
  const std::uint64_t high0 = live.read_short();
  const std::uint64_t high1 = live.read_short();
  live.commit();
  return (high1 << 48) | (high0 << 32) | (low1 << 16) | low0;
}
