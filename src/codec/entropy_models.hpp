#pragma once

#include <cstdint>
#include <memory>

// Adaptive probability models of the entropy coder. Encoder and decoder adapt them in the
// same way, so every constant and rounding here is part of the compressed format.

// Interval arithmetic of the coder (32-bit, wrapping).
inline constexpr std::uint32_t kCoderMinLength = 0x01000000u;  // renormalise below this
inline constexpr std::uint32_t kCoderMaxLength = 0xFFFFFFFFu;  // interval at the start
// Output buffer of the encoder: two halves, so a carry can still reach the last half written.
inline constexpr std::uint32_t kCoderBufferSize = 8192;
inline constexpr std::uint32_t kCoderBufferHalf = kCoderBufferSize / 2;

inline constexpr std::uint32_t kBitModelLengthShift = 13;  // probability precision
inline constexpr std::uint32_t kBitModelCountLimit = 1u << kBitModelLengthShift;
inline constexpr std::uint32_t kBitModelMaxCycle = 64;

inline constexpr std::uint32_t kSymbolModelLengthShift = 15;  // probability precision
inline constexpr std::uint32_t kSymbolModelCountLimit = 1u << kSymbolModelLengthShift;
inline constexpr std::uint32_t kSymbolModelMinSymbols = 2;
inline constexpr std::uint32_t kSymbolModelMaxSymbols = 2048;
// A decoder's quotient of the value by the interval's length >> 15 passes 2^15 by at most
// this (the shift drops up to 2^15 - 1 of the length, which is at least 2^24).
inline constexpr std::uint32_t kSymbolModelQuotientExcess = 63;

// One slot of a decoding model's lookup table: the first symbol whose interval reaches into
// the slot, and the cumulative counts of it and of the two symbols after it. A decoder thus
// finds the symbol of a quotient and its interval with a single load when the slot holds one
// or two symbols; `symbol` carries kSearchSlot when it holds more (they are then searched in
// the cumulative counts). The counts past the last symbol read 0xFFFF, above every quotient.
struct DecodingSlot {
  std::uint16_t symbol;
  std::uint16_t low;
  std::uint16_t high;
  std::uint16_t next;
};
inline constexpr std::uint16_t kSearchSlot = 0x8000;

// Probability of a 0 bit, 13-bit precision. Adapts every `cycle` bits, the cycle growing to
// 64 bits.
class BitModel {
 public:
  BitModel() { init(); }
  void init() {
    cycle = 4;
    until_update = 4;
    prob0 = kBitModelCountLimit / 2;
    count0 = 1;
    count_all = 2;
  }
  // Called by the coder when `until_update` reaches 0.
  void update();

  std::uint32_t cycle;
  std::uint32_t until_update;
  std::uint32_t prob0;  // < 8192 and > 0 at all times: both bits keep a nonempty interval
  std::uint32_t count0;
  std::uint32_t count_all;
};

// Cumulative frequencies of an alphabet of 2 to 2048 symbols, 15-bit precision. A decoding
// model keeps a lookup table that narrows the search to the symbols of one slot.
// Movable, not copyable; the arrays are owned by the model.
class SymbolModel {
 public:
  // Throws CodecCorruptData for a symbol count outside 2..2048 (a count can come from a
  // file). The model must be `init`ed before use.
  SymbolModel(std::uint32_t symbols, bool encoding);
  SymbolModel(SymbolModel&&) noexcept = default;
  SymbolModel& operator=(SymbolModel&&) noexcept = default;

  // Always true: construction throws instead of making an unusable model.
  bool valid() const { return symbol_tally != 0; }

  // Starts over with the given initial counts (none: all 1). The first scaling assumes a
  // total of `symbol_tally`, so each count must be at least 1 and the counts of all but the
  // last symbol must add up to less than `symbol_tally`; otherwise the intervals overflow
  // and the data cannot be decoded.
  void init(const std::uint32_t* initial_counts = nullptr);
  // Called by the coder when `until_update` reaches 0.
  void update();

  // symbol_tally + 3 entries: those past the last symbol are sentinels above every
  // quotient, so that a decoder may look at the entries after any symbol. The counts are
  // the high halves of 32-bit products, so 16 bits hold them.
  std::uint16_t* cumulative = nullptr;
  std::uint32_t* counts = nullptr;
  // lookup_size + 1 entries, or none. The symbol of entry i is
  // that of quotient (i << lookup_shift) - 1, so that a quotient in slot i lies in symbols
  // slots[i].symbol .. slots[i + 1].symbol (without kSearchSlot).
  DecodingSlot* slots = nullptr;
  std::uint32_t total = 0;
  std::uint32_t cycle = 0;
  std::uint32_t until_update = 0;
  std::uint32_t symbol_tally = 0;
  std::uint32_t max_symbol = 0;
  std::uint32_t lookup_size = 0;  // slots
  std::uint32_t lookup_shift = 0;
  bool encoding = false;

  // The tables of a model started with all counts 1, which depend only on the symbol count
  // and whether there is a lookup table. Shared by all models of that shape, made once.
  struct Start;

 private:
  // Recomputes `cumulative` (and `slots`) from `counts` and `total`.
  void scale_counts();

  std::unique_ptr<std::uint16_t[]> cumulative_storage_;
  std::unique_ptr<std::uint32_t[]> count_storage_;
  std::unique_ptr<DecodingSlot[]> slot_storage_;
  const Start* start_ = nullptr;
};
