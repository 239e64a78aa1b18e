#pragma once

#include <cstdint>
#include <memory>

// Adaptive probability models of the entropy coder. Encoder and decoder adapt them in the
// same way, so every constant and rounding here is part of the compressed format.

// Probability of a 0 bit, 13-bit precision.
class BitModel {
 public:
  BitModel() { init(); }
  void init();
  // Called by the coder when `until_update` reaches 0.
  void update();

  std::uint32_t cycle;
  std::uint32_t until_update;
  std::uint32_t prob0;
  std::uint32_t count0;
  std::uint32_t count_all;
};

// Cumulative frequencies of an alphabet of 2 to 2048 symbols, 15-bit precision. A decoding
// model of more than 16 symbols keeps a lookup table that narrows the search.
class SymbolModel {
 public:
  // A symbol count outside 2..2048 leaves the model unusable (`valid()` false).
  SymbolModel(std::uint32_t symbols, bool encoding);
  bool valid() const { return symbol_tally != 0; }
  // Starts over with the given initial counts (none: all 1).
  void init(const std::uint32_t* initial_counts = nullptr);
  void update();

  std::uint32_t* cumulative = nullptr;
  std::uint32_t* counts = nullptr;
  std::uint32_t* lookup = nullptr;
  std::uint32_t total = 0;
  std::uint32_t cycle = 0;
  std::uint32_t until_update = 0;
  std::uint32_t symbol_tally = 0;
  std::uint32_t max_symbol = 0;
  std::uint32_t lookup_size = 0;
  std::uint32_t lookup_shift = 0;
  bool encoding = false;

 private:
  std::unique_ptr<std::uint32_t[]> storage_;  // the three arrays in one allocation
};
