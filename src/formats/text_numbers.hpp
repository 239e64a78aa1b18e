#pragma once

#include <cstddef>
#include <cstdint>

// Number reading and printing for text point files, one field at a time and independent of
// the locale: the values read are those of the C library's "%lf", "%f", "%d" and "%x"
// conversions, and the texts printed are those of "%.Nf", "%g" and "%d" in the "C" locale,
// without their cost per field.
namespace text_numbers {

// Room a caller leaves for one printed number ("%.15f" of the largest double).
inline constexpr std::size_t kMaxNumberChars = 352;

// Each reader takes the value that begins at `text` (inside a zero-terminated line that ends
// at `end`; no separators are skipped) and returns where it ends, or null when no value
// begins there.
// Doubles: an optional sign, decimal or "0x" hexadecimal digits with exponent, "inf",
// "nan"; a magnitude beyond the double range reads as infinity, one below it as zero.
const char* read_double(const char* text, const char* end, double& value);
const char* read_float(const char* text, const char* end, float& value);
// Decimal integers with an optional sign; values beyond 32 bits are held at the limit.
const char* read_int(const char* text, std::int32_t& value);
// Hexadecimal digits (an optional "0x" first), at most `max_digits` of them; values beyond 32
// bits are held at the limit.
const char* read_hex(const char* text, std::uint32_t& value, int max_digits = 64);

// Each printer writes at `out` (at least kMaxNumberChars free) and returns the end.
// "%.<decimals>f".
char* write_fixed(char* out, double value, int decimals);
// "%.<decimals>f" without trailing zeros and without a trailing point.
char* write_fixed_trimmed(char* out, double value, int decimals);
// "%.<precision>g".
char* write_general(char* out, double value, int precision = 6);
// "%d", "%u", "%lld".
char* write_int(char* out, std::int64_t value);

}  // namespace text_numbers
