#include "options/command_options.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace command_options {

namespace {

const char* skip_blanks(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text)))
    text++;
  return text;
}

// Reads sign and digits; `magnitude` saturates at `limit` + 1 so that callers can clamp.
bool read_digits(const char*& text, bool& negative, std::uint64_t& magnitude, std::uint64_t limit) {
  text = skip_blanks(text);
  negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); text++) {
    if (magnitude <= limit) magnitude = magnitude * 10 + static_cast<std::uint64_t>(*text - '0');
  }
  return true;
}

}  // namespace

bool read_unsigned(const char* text, std::uint32_t& value) {
  if (text == nullptr) return false;
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (!read_digits(text, negative, magnitude, 0xFFFFFFFFu)) return false;
  if (magnitude > 0xFFFFFFFFu) {
    value = 0xFFFFFFFFu;
  } else {
    value = static_cast<std::uint32_t>(magnitude);
    if (negative) value = 0u - value;
  }
  return true;
}

bool read_int64(const char* text, std::int64_t& value, const char** end) {
  if (text == nullptr) return false;
  bool negative = false;
  std::uint64_t magnitude = 0;
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (!read_digits(text, negative, magnitude, kMax)) return false;
  if (end != nullptr) *end = text;
  if (negative) {
    value = magnitude > kMax ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  } else {
    value = magnitude > kMax ? INT64_MAX : static_cast<std::int64_t>(magnitude);
  }
  return true;
}

bool read_int(const char* text, int& value) {
  std::int64_t wide = 0;
  if (!read_int64(text, wide)) return false;
  value = wide > INT_MAX ? INT_MAX : (wide < INT_MIN ? INT_MIN : static_cast<int>(wide));
  return true;
}

int to_int(const char* text) {
  int value = 0;
  return read_int(text, value) ? value : 0;
}

bool read_float(const char* text, float& value) {
  if (text == nullptr) return false;
  char* end = nullptr;
  const float parsed = std::strtof(text, &end);
  if (end == text) return false;
  value = parsed;
  return true;
}

bool read_double(const char* text, double& value, const char** end) {
  if (text == nullptr) return false;
  char* stop = nullptr;
  const double parsed = std::strtod(text, &stop);
  if (stop == text) return false;
  if (end != nullptr) *end = stop;
  value = parsed;
  return true;
}

bool parse_int64(const char* text, std::int64_t& value, std::int64_t min, std::int64_t max) {
  if (text == nullptr) return false;
  const char* end = nullptr;
  std::int64_t parsed = 0;
  if (!read_int64(text, parsed, &end) || *end != '\0') return false;
  // read_int64 clamps: a clamped value is out of range unless the text says exactly that.
  if (parsed == INT64_MAX || parsed == INT64_MIN) {
    errno = 0;
    std::strtoll(text, nullptr, 10);
    if (errno == ERANGE) return false;
  }
  if (parsed < min || parsed > max) return false;
  value = parsed;
  return true;
}

bool parse_int(const char* text, int& value, int min, int max) {
  std::int64_t parsed = 0;
  if (!parse_int64(text, parsed, min, max)) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool parse_unsigned(const char* text, std::uint32_t& value, std::uint32_t min, std::uint32_t max) {
  std::int64_t parsed = 0;
  if (!parse_int64(text, parsed, min, max)) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

bool parse_double(const char* text, double& value) {
  if (text == nullptr) return false;
  const char* end = nullptr;
  double parsed = 0.0;
  if (!read_double(text, parsed, &end) || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool parse_float(const char* text, float& value) {
  double parsed = 0.0;
  if (!parse_double(text, parsed)) return false;
  if (std::fabs(parsed) > static_cast<double>(std::numeric_limits<float>::max())) return false;
  value = static_cast<float>(parsed);
  return true;
}

namespace {
NotUnderstoodHint g_not_understood_hint = nullptr;
}  // namespace

void set_not_understood_hint(NotUnderstoodHint hint) {
  g_not_understood_hint = hint;
}

void hint_not_understood(const char* entry) {
  if (g_not_understood_hint != nullptr) g_not_understood_hint(entry);
}

void report_not_understood(const char* entry) {
  std::fprintf(stderr, "ERROR: cannot understand argument '%s'\n", entry);
  hint_not_understood(entry);
}

}  // namespace command_options
