// TEMPORARY: link-time stand-ins for the entropy coder while its implementation is being
// written on another branch. Every function aborts. Delete this file when merging the
// real coder.
#include <cstdlib>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"

void BitModel::init() {
  std::abort();
}
void BitModel::update() {
  std::abort();
}
SymbolModel::SymbolModel(std::uint32_t, bool) {
  std::abort();
}
void SymbolModel::init(const std::uint32_t*) {
  std::abort();
}
void SymbolModel::update() {
  std::abort();
}

EntropyEncoder::EntropyEncoder() {}
bool EntropyEncoder::init(ByteStreamOut*) {
  std::abort();
}
void EntropyEncoder::encode_bit(BitModel&, std::uint32_t) {
  std::abort();
}
void EntropyEncoder::encode_symbol(SymbolModel&, std::uint32_t) {
  std::abort();
}
void EntropyEncoder::write_bits(std::uint32_t, std::uint32_t) {
  std::abort();
}
void EntropyEncoder::write_short(std::uint16_t) {
  std::abort();
}
void EntropyEncoder::write_int(std::uint32_t) {
  std::abort();
}
void EntropyEncoder::write_int64(std::uint64_t) {
  std::abort();
}
bool EntropyEncoder::done() {
  std::abort();
}

bool EntropyDecoder::init(ByteStreamIn*, bool) {
  std::abort();
}
std::uint32_t EntropyDecoder::decode_bit(BitModel&) {
  std::abort();
}
std::uint32_t EntropyDecoder::decode_symbol(SymbolModel&) {
  std::abort();
}
std::uint32_t EntropyDecoder::read_bits(std::uint32_t) {
  std::abort();
}
std::uint16_t EntropyDecoder::read_short() {
  std::abort();
}
std::uint32_t EntropyDecoder::read_int() {
  std::abort();
}
std::uint64_t EntropyDecoder::read_int64() {
  std::abort();
}
void EntropyDecoder::done() {
  std::abort();
}

IntegerCoder::IntegerCoder(EntropyEncoder*, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t) {
  std::abort();
}
IntegerCoder::IntegerCoder(EntropyDecoder*, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t) {
  std::abort();
}
IntegerCoder::~IntegerCoder() = default;
void IntegerCoder::init() {
  std::abort();
}
void IntegerCoder::compress(std::int32_t, std::int32_t, std::uint32_t) {
  std::abort();
}
std::int32_t IntegerCoder::decompress(std::int32_t, std::uint32_t) {
  std::abort();
}
