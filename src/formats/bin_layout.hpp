#pragma once

#include <cstdint>

// The Terrasolid binary point file: a 56-byte little-endian header, then fixed-size point
// records, each optionally followed by a time word and a colour word.
namespace bin_layout {

inline constexpr std::uint32_t kHeaderSize = 56;
inline constexpr std::int32_t kVersion16 = 20010712;  // 16-byte records
inline constexpr std::int32_t kVersion20 = 20020715;  // 20-byte records
inline constexpr std::int32_t kRecognitionValue = 970401;
inline constexpr char kRecognitionText[4] = {'C', 'X', 'Y', 'Z'};

// Header field offsets.
inline constexpr int kOffsetSizeField = 0;
inline constexpr int kOffsetVersion = 4;
inline constexpr int kOffsetRecognitionValue = 8;
inline constexpr int kOffsetRecognitionText = 12;
inline constexpr int kOffsetPointCount = 16;
inline constexpr int kOffsetUnits = 20;
inline constexpr int kOffsetOriginX = 24;
inline constexpr int kOffsetOriginY = 32;
inline constexpr int kOffsetOriginZ = 40;
inline constexpr int kOffsetTimeFlag = 48;
inline constexpr int kOffsetColorFlag = 52;

// The 20-byte record (version 20020715).
inline constexpr int kRecordSize20 = 20;
inline constexpr int k20X = 0;
inline constexpr int k20Y = 4;
inline constexpr int k20Z = 8;
inline constexpr int k20Class = 12;
inline constexpr int k20Echo = 13;
inline constexpr int k20Flag = 14;
inline constexpr int k20Mark = 15;
inline constexpr int k20Line = 16;
inline constexpr int k20Intensity = 18;

// The 16-byte record (version 20010712).
inline constexpr int kRecordSize16 = 16;
inline constexpr int k16Class = 0;
inline constexpr int k16Line = 1;
inline constexpr int k16EchoIntensity = 2;  // bits 14-15 echo, bits 0-13 intensity
inline constexpr int k16X = 4;
inline constexpr int k16Y = 8;
inline constexpr int k16Z = 12;
inline constexpr int k16EchoShift = 14;
inline constexpr std::uint16_t k16IntensityMask = 0x3FFF;

inline constexpr int kTimeWordSize = 4;   // uint32, units of kTimeUnit seconds
inline constexpr int kColorWordSize = 4;  // red, green, blue, unused
inline constexpr double kTimeUnit = 0.0002;

// Echo codes.
inline constexpr std::uint8_t kEchoOnly = 0;
inline constexpr std::uint8_t kEchoFirst = 1;
inline constexpr std::uint8_t kEchoIntermediate = 2;
inline constexpr std::uint8_t kEchoLast = 3;

// The record a header version names, with the optional words.
inline constexpr int record_size(std::int32_t version, bool time, bool color) {
  return (version == kVersion20 ? kRecordSize20 : kRecordSize16) + (time ? kTimeWordSize : 0) +
         (color ? kColorWordSize : 0);
}

}  // namespace bin_layout
