#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the first bytes of an input say it holds. Inputs come under every kind of name (a
// LAS tile saved as ".dat", a FIFO called "ff", a device behind a link), so the factory
// asks the bytes before the name: a format's signature decides, then text, and only then
// the extension. Pure functions of the bytes; nothing is read here.
namespace input_signature {

// Bytes looked at: the longest signature needs 60, the rest makes the judgement of text
// fair (one page, a single read of a file or a pipe).
inline constexpr std::size_t kHeadSize = 4096;

enum class Content {
  kLAS,      // "LASF": a LAS or PKZ file, the header tells which
  kBIN,      // the Terrasolid header's recognition value and text
  kSHP,      // the shapefile's file code (big-endian) and version (little-endian)
  kQFIT,     // a record size word in either byte order, a header mark opening record two
  kText,     // no signature, and nothing a text file does not hold
  kUnknown,  // neither: no reader of this system would make sense of it
};

// The content `head` (the first bytes of an input, the whole input when it is shorter)
// announces. Text bytes are printable ASCII, a tab, a line or page end, the DOS
// end-of-file mark and every byte from 0x80 on (UTF-8 and the code pages). Text is a head
// without a NUL whose first line holds text bytes only and whose other bytes are text but
// for fewer than one in eight; an empty input is text, whose reader then finds no point in it.
Content classify(const std::uint8_t* head, std::size_t size);

// Whether `content` is a binary format's signature.
inline constexpr bool is_signature(Content content) {
  return content != Content::kText && content != Content::kUnknown;
}

// The first bytes of `head` for a message: at most kShownBytes in double quotes, printable
// ASCII as it is, '"' and '\' escaped, everything else as \n, \r, \t or \xNN, followed by
// "..." when there are more.
inline constexpr std::size_t kShownBytes = 16;
std::string shown(const std::uint8_t* head, std::size_t size);

}  // namespace input_signature
