#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/entropy_models.hpp"

class EntropyEncoder;
class EntropyDecoder;

// Codes a signed integer as its difference from a prediction: the bit-length class k of the
// difference through a symbol model per context, then the bits within that class.
// A coder is made for an encoder or for a decoder (borrowed) and can only code in that
// direction.
class IntegerCoder {
 public:
  IntegerCoder(EntropyEncoder* encoder, std::uint32_t bits = 16, std::uint32_t contexts = 1,
               std::uint32_t high_bits = 8, std::uint32_t range = 0);
  IntegerCoder(EntropyDecoder* decoder, std::uint32_t bits = 16, std::uint32_t contexts = 1,
               std::uint32_t high_bits = 8, std::uint32_t range = 0);
  ~IntegerCoder();

  // Creates the models on the first call, then resets all of them.
  void init();
  void compress(std::int32_t prediction, std::int32_t real, std::uint32_t context = 0);
  std::int32_t decompress(std::int32_t prediction, std::uint32_t context = 0);
  // The class k of the last value coded.
  std::uint32_t get_k() const { return last_k; }

 private:
  std::uint32_t last_k = 0;
  std::uint32_t bits;
  std::uint32_t contexts;
  std::uint32_t high_bits;
  std::uint32_t range;
  std::uint32_t corrector_bits = 0;
  std::uint32_t corrector_range = 0;
  std::int32_t corrector_min = 0;
  std::int32_t corrector_max = 0;
  EntropyEncoder* encoder_ = nullptr;
  EntropyDecoder* decoder_ = nullptr;
  std::vector<std::unique_ptr<SymbolModel>> k_models;
  std::unique_ptr<BitModel> corrector_bit_model;               // corrector index 0
  std::vector<std::unique_ptr<SymbolModel>> corrector_models;  // index 1..corrector_bits
};
