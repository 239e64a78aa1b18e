#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/entropy_models.hpp"

// Codes a signed integer as its difference from a prediction: the bit-length class k of the
// difference through a symbol model per context, then the bits within that class (up to
// `high_bits` of them through a model per class, the rest raw).
//
// A coder is made for an encoder or for a decoder (borrowed; it must outlive the coder) and
// codes only in that direction. Values are taken modulo the coder's range: with `range` not
// 0 they lie in 0..range-1 (a range up to 2^30, or 2^31: larger ones overflow the signed
// correction of the decoder), with 1 <= `bits` < 32 in 0..2^bits-1, otherwise they are any
// 32-bit value. Parameters: 1 <= contexts, 1 <= high_bits <= 11, range not 1 (every model
// must have 2..2048 symbols; construction of the models in `init` throws CodecCorruptData
// otherwise).
class IntegerCoder {
 public:
  IntegerCoder(EntropyEncoder* encoder, std::uint32_t bits = 16, std::uint32_t contexts = 1,
               std::uint32_t high_bits = 8, std::uint32_t range = 0);
  IntegerCoder(EntropyDecoder* decoder, std::uint32_t bits = 16, std::uint32_t contexts = 1,
               std::uint32_t high_bits = 8, std::uint32_t range = 0);

  // Creates the models on the first call, then resets all of them.
  void init();
  // `context` < contexts.
  void compress(std::int32_t prediction, std::int32_t real, std::uint32_t context = 0);
  std::int32_t decompress(std::int32_t prediction, std::uint32_t context = 0);
  // The same inside a run of decoding calls that holds this coder's decoder in `decoder`:
  // inlined, so that the interval stays in registers across the values of a point.
  [[gnu::always_inline]] std::int32_t decompress(EntropyDecoder::Live& decoder,
                                                 std::int32_t prediction,
                                                 std::uint32_t context = 0);
  // The class k of the last value coded: the bit length of its corrector.
  std::uint32_t get_k() const { return last_k; }

 private:
  void setup_corrector();
  SymbolModel& corrector_model(std::uint32_t k) { return corrector_models[k - 1]; }

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
  std::vector<SymbolModel> k_models;          // one per context
  BitModel corrector_bit_model;               // class 0: the corrector is 0 or 1
  std::vector<SymbolModel> corrector_models;  // classes 1..corrector_bits at k - 1
};

inline void IntegerCoder::compress(std::int32_t prediction, std::int32_t real,
                                   std::uint32_t context) {
  assert(encoder_ && context < k_models.size());
  std::int32_t corrector = static_cast<std::int32_t>(static_cast<std::uint32_t>(real) -
                                                     static_cast<std::uint32_t>(prediction));
  if (corrector < corrector_min) {
    corrector = static_cast<std::int32_t>(static_cast<std::uint32_t>(corrector) + corrector_range);
  } else if (corrector > corrector_max) {
    corrector = static_cast<std::int32_t>(static_cast<std::uint32_t>(corrector) - corrector_range);
  }
  const std::uint32_t c = static_cast<std::uint32_t>(corrector);
  // Magnitude classes: 0 holds {0, 1}, k holds -(2^k - 1)..-2^(k-1) and 2^(k-1)+1..2^k.
  // The bit width, without the branch that std::bit_width takes for 0: one bit more below
  // the value keeps the count of leading zeros defined.
  const std::uint32_t magnitude = corrector <= 0 ? std::uint32_t{0} - c : c - 1;
  const std::uint32_t k =
      static_cast<std::uint32_t>(63 - std::countl_zero((std::uint64_t{magnitude} << 1) | 1u));
  assert(k <= corrector_bits);
  last_k = k;
  EntropyEncoder::Live encoder(*encoder_);
  encoder.encode_symbol(k_models[context], k);
  if (k == 0) {
    encoder.encode_bit(corrector_bit_model, c);
  } else if (k < 32) {
    // Shift the class onto 0..2^k - 1: negative correctors up by 2^k - 1, the others down
    // by 1 (a mask, as the sign is anyone's guess).
    const std::uint32_t negative = 0u - static_cast<std::uint32_t>(corrector < 0);
    const std::uint32_t within = c - 1 + ((1u << k) & negative);
    if (k <= high_bits) {
      encoder.encode_symbol(corrector_model(k), within);
    } else {
      const std::uint32_t low_bits = k - high_bits;
      encoder.encode_symbol(corrector_model(k), within >> low_bits);
      encoder.write_bits(low_bits, within & ((1u << low_bits) - 1));
    }
  }
  // Class 32 holds only -2^31: nothing more to say.
  encoder.commit();
}

inline std::int32_t IntegerCoder::decompress(std::int32_t prediction, std::uint32_t context) {
  assert(decoder_);
  EntropyDecoder::Live decoder(*decoder_);
  const std::int32_t real = decompress(decoder, prediction, context);
  decoder.commit();
  return real;
}

inline std::int32_t IntegerCoder::decompress(EntropyDecoder::Live& decoder, std::int32_t prediction,
                                             std::uint32_t context) {
  assert(context < k_models.size());
  const std::uint32_t k = decoder.decode_symbol(k_models[context]);
  last_k = k;
  std::uint32_t c;
  if (k == 0) {
    c = decoder.decode_bit(corrector_bit_model);
  } else if (k < 32) {
    c = decoder.decode_symbol<SymbolSpread::kWide>(corrector_model(k));
    if (k > high_bits) {
      const std::uint32_t low_bits = k - high_bits;
      c = (c << low_bits) | decoder.read_bits(low_bits);
    }
    // The lower half of the class holds the negative correctors.
    const std::uint32_t negative = 0u - static_cast<std::uint32_t>(c < (1u << (k - 1)));
    c = c + 1 - ((1u << k) & negative);
  } else {
    c = static_cast<std::uint32_t>(corrector_min);
  }
  // Back into the range: up when below 0, else down when beyond it.
  std::uint32_t real = static_cast<std::uint32_t>(prediction) + c;
  const std::uint32_t below = 0u - static_cast<std::uint32_t>(static_cast<std::int32_t>(real) < 0);
  const std::uint32_t beyond = 0u - static_cast<std::uint32_t>(real >= corrector_range);
  real += corrector_range & below;
  real -= corrector_range & beyond & ~below;
  return static_cast<std::int32_t>(real);
}
