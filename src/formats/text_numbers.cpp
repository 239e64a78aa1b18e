#include "formats/text_numbers.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace text_numbers {

namespace {

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

template <typename Real>
const char* read_real(const char* text, const char* end, Real& value) {
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    p++;
  }
  std::chars_format format = std::chars_format::general;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    // "0x" without hexadecimal digits is no number to the C library's "%lf".
    if (!is_hex_digit(p[2]) && !(p[2] == '.' && is_hex_digit(p[3]))) return nullptr;
    format = std::chars_format::hex;
    p += 2;
  }
  // A second sign after the first is no number ("+-1"); from_chars would take it.
  if (*p == '-' || *p == '+') return nullptr;
  Real parsed{};
  const std::from_chars_result result = std::from_chars(p, end, parsed, format);
  if (result.ptr == p) return nullptr;
  if (result.ec == std::errc::result_out_of_range) {
    // The C library's answer: infinity for huge magnitudes, zero (or a subnormal) for tiny.
    if constexpr (sizeof(Real) == sizeof(float)) {
      value = std::strtof(text, nullptr);
    } else {
      value = std::strtod(text, nullptr);
    }
    return result.ptr;
  }
  value = negative ? -parsed : parsed;
  return result.ptr;
}

}  // namespace

const char* read_double(const char* text, const char* end, double& value) {
  return read_real(text, end, value);
}

const char* read_float(const char* text, const char* end, float& value) {
  return read_real(text, end, value);
}

const char* read_int(const char* text, std::int32_t& value) {
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    p++;
  }
  if (*p < '0' || *p > '9') return nullptr;
  std::int64_t magnitude = 0;
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  while (*p >= '0' && *p <= '9') {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (*p - '0');
    p++;
  }
  if (negative) {
    value = magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                : static_cast<std::int32_t>(-magnitude);
  } else {
    value = magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                                : static_cast<std::int32_t>(magnitude);
  }
  return p;
}

const char* read_hex(const char* text, std::uint32_t& value, int max_digits) {
  const char* p = text;
  int digits = 0;
  if (max_digits >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && is_hex_digit(p[2])) {
    p += 2;
    digits = 2;
  }
  if (!is_hex_digit(*p)) return nullptr;
  std::uint64_t parsed = 0;
  while (digits < max_digits && is_hex_digit(*p)) {
    if (parsed <= 0xFFFFFFFFu) parsed = parsed * 16 + static_cast<std::uint64_t>(hex_value(*p));
    p++;
    digits++;
  }
  value = parsed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(parsed);
  return p;
}

// "%.<decimals>f" of values whose scaled magnitude stays below 2^52, printed from one
// integer: the exact product value x 10^decimals (a two-product through fma) rounded to the
// nearest integer, ties to even, as the C library rounds the exact binary value. Null when
// the value is beyond that range.
static char* write_fixed_fast(char* out, double value, int decimals) {
  static constexpr double kPowers[10] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  static constexpr std::uint64_t kIntegerPowers[10] = {
      1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
  if (decimals < 0 || decimals > 9) return nullptr;
  const double magnitude = std::fabs(value);
  const double scaled = magnitude * kPowers[decimals];
  if (!(scaled < 4503599627370496.0)) return nullptr;  // 2^52, also NaN
  const double error = std::fma(magnitude, kPowers[decimals], -scaled);
  const double whole = std::floor(scaled);
  const double above_half = (scaled - whole) - 0.5;  // exact
  auto n = static_cast<std::uint64_t>(whole);
  if (above_half > 0.0 || (above_half == 0.0 && (error > 0.0 || (error == 0.0 && (n & 1))))) {
    n++;
  }
  if (std::signbit(value)) *out++ = '-';
  const std::uint64_t unit = kIntegerPowers[decimals];
  out = std::to_chars(out, out + 24, n / unit).ptr;
  if (decimals > 0) {
    *out++ = '.';
    std::uint64_t fraction = n % unit;
    for (int i = decimals - 1; i >= 0; i--) {
      out[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    out += decimals;
  }
  return out;
}

char* write_fixed(char* out, double value, int decimals) {
  if (char* end = write_fixed_fast(out, value, decimals)) return end;
  const auto result =
      std::to_chars(out, out + kMaxNumberChars, value, std::chars_format::fixed, decimals);
  return result.ptr;
}

char* write_fixed_trimmed(char* out, double value, int decimals) {
  char* end = write_fixed(out, value, decimals);
  if (!std::isfinite(value)) return end;
  char* point = out;
  while (point < end && *point != '.')
    point++;
  if (point == end) return end;
  while (end > point + 1 && end[-1] == '0')
    end--;
  if (end == point + 1) end = point;
  return end;
}

char* write_general(char* out, double value, int precision) {
  const auto result =
      std::to_chars(out, out + kMaxNumberChars, value, std::chars_format::general, precision);
  return result.ptr;
}

char* write_int(char* out, std::int64_t value) {
  return std::to_chars(out, out + kMaxNumberChars, value).ptr;
}

}  // namespace text_numbers
