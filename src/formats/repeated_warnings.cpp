#include "formats/repeated_warnings.hpp"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kPrefix = "WARNING: ";
constexpr std::string_view kEllipsis = "…";

bool is_conversion_end(char c) {
  return std::strchr("diouxXeEfFgGaAcspn%", c) != nullptr;
}

}  // namespace

bool RepeatedWarnings::allow(const char* kind) {
  if (muted_) return false;
  for (Kind& seen : kinds_) {
    if (seen.format == kind) return ++seen.count <= kShownPerKind;
  }
  kinds_.push_back(Kind{kind, 1});
  return true;
}

void RepeatedWarnings::warn(const char* format, ...) {
  if (!allow(format)) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void RepeatedWarnings::finish() {
  if (muted_) return;
  for (const Kind& kind : kinds_) {
    if (kind.count <= kShownPerKind) continue;
    std::fprintf(stderr, "WARNING: … and %" PRId64 " more lines like it: %s\n",
                 kind.count - kShownPerKind, kind_label(kind.format).c_str());
  }
  kinds_.clear();
  muted_ = true;
}

void RepeatedWarnings::reset() {
  kinds_.clear();
  muted_ = false;
}

std::string shown_text(std::string_view text, std::size_t max_size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool escaped = (byte < 0x20 && byte != '\t') || byte == 0x7F;
    if (shown.size() + (escaped ? 4 : 1) > max_size) break;
    if (escaped) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0F];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string kind_label(const char* format) {
  std::string_view text(format);
  if (text.substr(0, kPrefix.size()) == kPrefix) text.remove_prefix(kPrefix.size());
  while (!text.empty() && text.back() == '\n')
    text.remove_suffix(1);
  std::string label;
  for (std::size_t i = 0; i < text.size(); i++) {
    if (text[i] != '%') {
      label += text[i];
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && !is_conversion_end(text[end]))
      end++;
    if (end < text.size() && text[end] == '%' && end == i + 1) {
      label += '%';
    } else {
      // Values side by side ("%g %g %g") read as one.
      const std::string run = std::string(kEllipsis) + " ";
      if (label.size() >= run.size() &&
          label.compare(label.size() - run.size(), run.size(), run) == 0) {
        label.erase(label.size() - 1);
      } else {
        label += kEllipsis;
      }
    }
    i = end;
  }
  return label;
}
