#include "select/input_signature.hpp"

#include <cstdio>
#include <cstring>

#include "formats/bin_layout.hpp"
#include "formats/qfit_layout.hpp"
#include "formats/shp_layout.hpp"
#include "model/header_layout.hpp"

namespace input_signature {

namespace {

// The little-endian word at `at`; false when the head ends before it.
bool word_le(const std::uint8_t* head, std::size_t size, std::size_t at, std::uint32_t& word) {
  if (at + 4 > size) return false;
  word = static_cast<std::uint32_t>(head[at]) | static_cast<std::uint32_t>(head[at + 1]) << 8 |
         static_cast<std::uint32_t>(head[at + 2]) << 16 |
         static_cast<std::uint32_t>(head[at + 3]) << 24;
  return true;
}

bool word_be(const std::uint8_t* head, std::size_t size, std::size_t at, std::uint32_t& word) {
  if (!word_le(head, size, at, word)) return false;
  word = qfit_layout::byte_swapped(word);
  return true;
}

bool is_las(const std::uint8_t* head, std::size_t size) {
  const std::string_view signature = kFileSignature;
  return size >= kOffsetFileSignature + signature.size() &&
         std::memcmp(head + kOffsetFileSignature, signature.data(), signature.size()) == 0;
}

// The two recognition fields; a wrong header size or version is left to the reader, whose
// message names the field.
bool is_bin(const std::uint8_t* head, std::size_t size) {
  using namespace bin_layout;
  std::uint32_t value = 0;
  return word_le(head, size, kOffsetRecognitionValue, value) &&
         static_cast<std::int32_t>(value) == kRecognitionValue &&
         size >= kOffsetRecognitionText + sizeof(kRecognitionText) &&
         std::memcmp(head + kOffsetRecognitionText, kRecognitionText, sizeof(kRecognitionText)) ==
             0;
}

// The file code and the version: a shapefile of any shape type, so that the reader can
// name a type it does not read.
bool is_shp(const std::uint8_t* head, std::size_t size) {
  using namespace shp_layout;
  std::uint32_t code = 0, version = 0;
  return word_be(head, size, kOffsetFileCode, code) &&
         static_cast<std::int32_t>(code) == kFileCode &&
         word_le(head, size, kOffsetVersion, version) &&
         static_cast<std::int32_t>(version) == kVersion;
}

// The record size alone is four bytes that many files begin with; the mark that opens the
// second record, in the same byte order, makes it a QFIT header.
bool is_qfit(const std::uint8_t* head, std::size_t size) {
  using namespace qfit_layout;
  for (const bool big_endian : {false, true}) {
    std::uint32_t record_size = 0, mark = 0;
    const auto word = big_endian ? word_be : word_le;
    if (!word(head, size, 0, record_size) ||
        !is_record_size(static_cast<std::int32_t>(record_size))) {
      continue;
    }
    if (word(head, size, record_size, mark) &&
        is_header_record_mark(static_cast<std::int32_t>(mark))) {
      return true;
    }
  }
  return false;
}

bool is_text_byte(std::uint8_t byte) {
  constexpr std::uint8_t kDosEndOfFile = 0x1A;
  if (byte >= 0x80) return true;
  if (byte >= 0x20) return byte != 0x7F;
  return byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r' ||
         byte == kDosEndOfFile;
}

}  // namespace

Content classify(const std::uint8_t* head, std::size_t size) {
  if (is_las(head, size)) return Content::kLAS;
  if (is_bin(head, size)) return Content::kBIN;
  if (is_shp(head, size)) return Content::kSHP;
  if (is_qfit(head, size)) return Content::kQFIT;
  // A text file may carry a stray control byte in a bad line (an escape sequence pasted
  // into it), which its reader warns about; binary data holds a NUL within a page or
  // control bytes from its start.
  bool first_line = true;
  std::size_t stray = 0;
  for (std::size_t i = 0; i < size; i++) {
    if (head[i] == 0) return Content::kUnknown;
    if (!is_text_byte(head[i])) {
      if (first_line) return Content::kUnknown;
      stray++;
    }
    if (head[i] == '\n') first_line = false;
  }
  return stray == 0 || stray * 8 < size ? Content::kText : Content::kUnknown;
}

std::string shown(const std::uint8_t* head, std::size_t size) {
  std::string text = "\"";
  const std::size_t count = size < kShownBytes ? size : kShownBytes;
  for (std::size_t i = 0; i < count; i++) {
    const std::uint8_t byte = head[i];
    switch (byte) {
      case '"':
        text += "\\\"";
        break;
      case '\\':
        text += "\\\\";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\t':
        text += "\\t";
        break;
      default:
        if (byte >= 0x20 && byte < 0x7F) {
          text += static_cast<char>(byte);
        } else {
          char escaped[5];
          std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
          text += escaped;
        }
    }
  }
  text += '"';
  if (size > count) text += "...";
  return text;
}

}  // namespace input_signature
