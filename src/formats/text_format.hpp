#pragma once

#include <cstddef>
#include <cstdint>

// The layout of text point files: the records the text reader stores in a header for the
// PTS and PTX dialects (and the text writer reads back), buffer sizes, and the outside
// programs that decompress text inputs. Reader and writer both take their numbers from here.

namespace text_format {

// ---- Records in the header ----------------------------------------------------------------
inline constexpr const char* kUserId = "Brindlex";
inline constexpr std::uint16_t kRecordIdPTS = 2000;
inline constexpr std::uint16_t kRecordIdPTX = 2001;
inline constexpr std::size_t kPayloadSizePTS = 32;
inline constexpr std::size_t kPayloadSizePTX = 272;

// Payload offsets, little-endian. Both dialects start alike.
inline constexpr std::size_t kOffsetIntensityTranslate = 0;  // float32
inline constexpr std::size_t kOffsetIntensityScale = 4;      // float32
inline constexpr std::size_t kOffsetParseString = 16;        // 16 bytes, zero-terminated
inline constexpr std::size_t kParseStringBytes = 16;
inline constexpr std::size_t kOffsetColumns = 32;          // int64 (PTX)
inline constexpr std::size_t kOffsetRows = 40;             // int64 (PTX)
inline constexpr std::size_t kOffsetTranslation = 48;      // 3 float64 (PTX)
inline constexpr std::size_t kOffsetRotation = 72;         // 3 rows of 3 float64 (PTX)
inline constexpr std::size_t kOffsetTransformation = 144;  // 4 rows of 4 float64 (PTX)
static_assert(kOffsetTransformation + 16 * 8 == kPayloadSizePTX);
static_assert(kOffsetParseString + kParseStringBytes == kPayloadSizePTS);

// The intensity conventions of the dialects: PTS stores intensities shifted by -2048, PTX
// stores them as fractions of 4095.
inline constexpr float kIntensityTranslatePTS = 2048.0f;
inline constexpr float kIntensityScalePTX = 4095.0f;
inline constexpr float kIntensityFractionPTX = 0.00024420026f;  // 1 / 4095

// ---- Reading ------------------------------------------------------------------------------
inline constexpr std::size_t kFileBufferSize = 2621440;  // stdio buffer of a text file
inline constexpr std::size_t kPipeBufferSize = 2048;
// Longest line the parser sees; the rest of a longer line is passed over.
inline constexpr std::size_t kLineLimit = 65536;
// Longest part of an unparsable line that a warning shows.
inline constexpr std::size_t kShownLineLimit = 511;
inline constexpr int kMaxAttributes = 32;

inline constexpr int kReaderVersion = 200509;  // in "via LASreaderTXT (%d)"

// Scale factors the reader picks without a request: geographic boxes (within +-360 in x
// and y) get 1e-7 degrees, everything else centimetres.
inline constexpr double kGeographicLimit = 360.0;
inline constexpr double kGeographicScale = 0.0000001;
inline constexpr double kProjectedScale = 0.01;
inline constexpr double kHeightScale = 0.01;
// Offsets are multiples of ten million units near the centre of the box.
inline constexpr double kOffsetUnits = 10000000.0;
inline constexpr double kOffsetLimit = 2e307;

// ---- Compressed inputs ----------------------------------------------------------------------
// How a program reads the archive name it is given. Some expand wildcards in it even when no
// shell is involved: "unzip -p 'a[1].zip'" reads "a1.zip".
enum class ArchiveName : std::uint8_t {
  kOnStandardInput,  // the file is fed on standard input: no name is passed
  kBracketEscapes,   // "*", "?" and "[" are wildcards unless written "[*]", "[?]", "[[]";
                     // in a name with any of them "\\" stands for a backslash
  kNoEscape,         // "*" and "?" are wildcards that cannot be escaped: such names are refused
};

// By the end of the file name: the program that writes the decompressed text to its standard
// output, its arguments (the file name follows them unless the file is fed on standard
// input), how it reads an archive name, and the Debian package that brings it.
struct Decompressor {
  const char* suffix;
  const char* program;
  const char* arguments[3];  // null-terminated
  ArchiveName name_rule;
  const char* package;
};

inline constexpr Decompressor kDecompressors[] = {
    {".gz", "gzip", {"-d", nullptr, nullptr}, ArchiveName::kOnStandardInput, "gzip"},
    {".zip", "unzip", {"-p", nullptr, nullptr}, ArchiveName::kBracketEscapes, "unzip"},
    {".7z", "7z", {"e", "-so", nullptr}, ArchiveName::kNoEscape, "p7zip-full"},
    {".rar", "unrar", {"p", "-ierr", nullptr}, ArchiveName::kNoEscape, "unrar"},
};

}  // namespace text_format
