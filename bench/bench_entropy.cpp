// Throughput of the entropy coder: symbols of a 256-symbol model, bits of a bit model and
// integers through the integer coder, coded to memory and decoded back.
//
//   bench_entropy [count]   (default 20 million values per case)

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* what, std::size_t count, double encode_s, double decode_s,
            std::int64_t bytes, bool ok) {
  std::printf("%-28s %6.1f M/s encode  %6.1f M/s decode  %5.2f bits/value%s\n", what,
              count / encode_s / 1e6, count / decode_s / 1e6, 8.0 * bytes / count,
              ok ? "" : "  MISMATCH");
}

// A skewed alphabet like the ones the point codecs see (small differences are common).
std::vector<std::uint32_t> skewed_symbols(std::size_t count, std::uint32_t symbols) {
  std::mt19937 rng(1);
  std::geometric_distribution<std::uint32_t> geometric(0.08);
  std::vector<std::uint32_t> values(count);
  for (auto& v : values)
    v = std::min(geometric(rng), symbols - 1);
  return values;
}

void bench_symbols(std::size_t count) {
  const std::vector<std::uint32_t> values = skewed_symbols(count, 256);
  ByteStreamOutArray out(count + 4096);
  EntropyEncoder encoder;
  SymbolModel encoding_model(256, true);
  encoding_model.init();
  encoder.init(&out);
  auto start = Clock::now();
  for (std::uint32_t v : values)
    encoder.encode_symbol(encoding_model, v);
  encoder.done();
  const double encode_s = seconds_since(start);

  ByteStreamInArray in(out.data(), out.size());
  EntropyDecoder decoder;
  SymbolModel decoding_model(256, false);
  decoding_model.init();
  std::uint64_t mismatches = 0;
  start = Clock::now();
  decoder.init(&in);
  for (std::uint32_t v : values)
    mismatches += decoder.decode_symbol(decoding_model) != v;
  const double decode_s = seconds_since(start);
  report("symbols, 256-symbol model", count, encode_s, decode_s, out.size(), mismatches == 0);
}

void bench_bits(std::size_t count) {
  std::mt19937 rng(2);
  std::vector<std::uint8_t> values(count);
  for (auto& v : values)
    v = rng() % 10 == 0;
  ByteStreamOutArray out(count / 2 + 4096);
  EntropyEncoder encoder;
  BitModel encoding_model;
  encoder.init(&out);
  auto start = Clock::now();
  for (std::uint8_t v : values)
    encoder.encode_bit(encoding_model, v);
  encoder.done();
  const double encode_s = seconds_since(start);

  ByteStreamInArray in(out.data(), out.size());
  EntropyDecoder decoder;
  BitModel decoding_model;
  std::uint64_t mismatches = 0;
  start = Clock::now();
  decoder.init(&in);
  for (std::uint8_t v : values)
    mismatches += decoder.decode_bit(decoding_model) != v;
  const double decode_s = seconds_since(start);
  report("bits, p(1) = 0.1", count, encode_s, decode_s, out.size(), mismatches == 0);
}

// A smooth 32-bit signal (a coordinate along a scan line): small differences, now and then a
// jump.
void bench_integers(std::size_t count, std::uint32_t bits, const char* what) {
  std::mt19937 rng(3);
  std::vector<std::int32_t> values(count);
  std::int32_t x = 0;
  const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  for (auto& v : values) {
    x = static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(x) +
         (rng() % 64 == 0 ? rng() : static_cast<std::uint32_t>(rng() % 401) - 200)) &
        mask);
    v = x;
  }
  ByteStreamOutArray out(4 * count + 4096);
  EntropyEncoder encoder;
  IntegerCoder compressor(&encoder, bits, 1, 8, 0);
  compressor.init();
  encoder.init(&out);
  auto start = Clock::now();
  std::int32_t previous = 0;
  for (std::int32_t v : values) {
    compressor.compress(previous, v);
    previous = v;
  }
  encoder.done();
  const double encode_s = seconds_since(start);

  ByteStreamInArray in(out.data(), out.size());
  EntropyDecoder decoder;
  IntegerCoder decompressor(&decoder, bits, 1, 8, 0);
  decompressor.init();
  std::uint64_t mismatches = 0;
  start = Clock::now();
  decoder.init(&in);
  previous = 0;
  for (std::int32_t v : values) {
    previous = decompressor.decompress(previous);
    mismatches += previous != v;
  }
  const double decode_s = seconds_since(start);
  report(what, count, encode_s, decode_s, out.size(), mismatches == 0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000000;
  std::printf("%zu values per case\n", count);
  bench_symbols(count);
  bench_bits(count);
  bench_integers(count, 32, "integers, 32 bits");
  bench_integers(count, 16, "integers, 16 bits");
  return 0;
}
