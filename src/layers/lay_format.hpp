#pragma once

// The LAY file: per-point changes to one point file that stays as it is. All integers are
// little-endian.
//
// File header (kFileHeaderSize bytes):
//   0  signature "ISOLAYER"                8
//   8  version major, minor                 1 + 1   (2.0; a reader refuses a major it does
//                                                    not know)
//   10 file header size                     2       (>= kFileHeaderSize; more is skipped)
//   12 number of layers                     4
//   16 identity of the point file           40      (below)
//   56 checksum of the file header          4       (CRC-32C of its bytes before and after
//                                                    these four, to the file header size)
//   60 reserved, zero                       4
// Identity of the point file (what a layer must never be applied without):
//   16 file size in bytes                   8
//   24 number of point records              8
//   32 point data format (as stored)        1
//   33 reserved, zero                       1
//   34 point data record length             2
//   36 offset to point data                 4
//   40 hash of the first and last bytes     8       (kIdentityHash*, see lay_identity.hpp)
//   48 bytes hashed after the offset        4       (the "first point block")
//   52 bytes hashed at the end of the file  4
// Then the layers, oldest first, each:
//   0  attribute replaced (LAYattribute)    1
//   1  reserved, zero                       3
//   4  description text, zero-padded        kDescriptionSize
//   52 number of parameters                 4       (<= kMaxParameters; doubles follow)
//   56 command line length                  4       (<= kMaxCommandLine; bytes follow)
//   60 number of runs                       8
//   68 number of changed points             8
//   76 bytes of the run code                8
//   84 checksum of the layer                4       (CRC-32C of the layer's bytes before and
//                                                    after these four: its header,
//                                                    parameters, command line and run code)
//   88 parameters, command line, run code
//
// Files of version 1.0 have neither checksum: bytes 56 to 63 of their file header are
// reserved and their layer headers end at 84, the parameters following at once. They are
// still read, unchecked. A file that fails a checksum is damaged and is never applied.
//
// Run code: the changed points as runs of consecutive point numbers, ascending and apart,
// each run carrying one value (classification code, or 0/1 withheld; deletions carry none).
// Per run, one varint (7 bits per byte, low first, high bit = more) of
//   gap << 2 | has_length << 1 | new_value
// where gap is the number of unchanged points since the end of the previous run (since
// point 0 for the first run); then, when has_length, a varint of (run length - 2) (a run
// without it is one point long); then, when new_value, one value byte. A run without a new
// value takes the value of the run before it (the first run always has one in valued
// layers). The writer never makes two adjacent runs of one value (gap 0 means a new value).

#include <cstddef>
#include <cstdint>

namespace lay_format {

inline constexpr char kSignature[8] = {'I', 'S', 'O', 'L', 'A', 'Y', 'E', 'R'};
inline constexpr std::uint8_t kVersionMajor = 2;
inline constexpr std::uint8_t kVersionMinor = 0;
// The version before the checksums, still read.
inline constexpr std::uint8_t kUncheckedVersionMajor = 1;

inline constexpr std::size_t kFileHeaderSize = 64;
inline constexpr std::size_t kVersionMajorAt = 8;
inline constexpr std::size_t kVersionMinorAt = 9;
inline constexpr std::size_t kHeaderSizeAt = 10;
inline constexpr std::size_t kLayerCountAt = 12;
inline constexpr std::size_t kFileSizeAt = 16;
inline constexpr std::size_t kPointCountAt = 24;
inline constexpr std::size_t kPointFormatAt = 32;
inline constexpr std::size_t kRecordLengthAt = 34;
inline constexpr std::size_t kPointOffsetAt = 36;
inline constexpr std::size_t kHashAt = 40;
inline constexpr std::size_t kHeadBlockAt = 48;
inline constexpr std::size_t kTailBlockAt = 52;
inline constexpr std::size_t kHeaderChecksumAt = 56;
inline constexpr std::size_t kChecksumSize = 4;

inline constexpr std::size_t kLayerHeaderSize = 88;
inline constexpr std::size_t kUncheckedLayerHeaderSize = 84;
inline constexpr std::size_t kAttributeAt = 0;
inline constexpr std::size_t kDescriptionAt = 4;
inline constexpr std::size_t kDescriptionSize = 48;
inline constexpr std::size_t kParameterCountAt = 52;
inline constexpr std::size_t kCommandLineLengthAt = 56;
inline constexpr std::size_t kRunCountAt = 60;
inline constexpr std::size_t kChangeCountAt = 68;
inline constexpr std::size_t kRunCodeSizeAt = 76;
inline constexpr std::size_t kLayerChecksumAt = 84;
static_assert(kRunCodeSizeAt + 8 == kLayerChecksumAt);
static_assert(kRunCodeSizeAt + 8 == kUncheckedLayerHeaderSize);
static_assert(kLayerChecksumAt + kChecksumSize == kLayerHeaderSize);

inline constexpr std::uint32_t kMaxParameters = 1024;
inline constexpr std::uint32_t kMaxCommandLine = 4096;
// A file holds at most this many layers: each one is a pass over every point when read.
inline constexpr std::uint32_t kMaxLayers = 65535;

// Run code bits.
inline constexpr std::uint64_t kHasLengthBit = 2;
inline constexpr std::uint64_t kNewValueBit = 1;
inline constexpr unsigned kGapShift = 2;
inline constexpr unsigned kMaxVarintBytes = 10;  // 64 bits at 7 per byte

// The point file's name with this in place of its extension names its LAY file.
inline constexpr char kExtension[] = ".lay";

}  // namespace lay_format

// What a layer replaces, as stored in a layer's first byte.
enum class LAYattribute : std::uint8_t {
  kClassification = 1,  // value: the classification code (both class fields)
  kWithheldFlag = 2,    // value: 0 or 1
  kDeletion = 3,        // no value: the point is gone
};
