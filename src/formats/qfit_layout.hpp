#pragma once

#include <cstdint>

// The QFIT file of airborne laser altimetry: fixed-size records of signed 32-bit words in
// one byte order. The first record is the header text (its first word the record size), the
// second starts with kSecondRecordMark and the byte offset of the first point record.
namespace qfit_layout {

inline constexpr std::int32_t kRecordSize10 = 40;
inline constexpr std::int32_t kRecordSize12 = 48;
inline constexpr std::int32_t kRecordSize14 = 56;
inline constexpr int kMaxWords = 14;
inline constexpr std::int32_t kSecondRecordMark = -9000000;
// Header records after the first open with kSecondRecordMark less a small record kind:
// files of other producers start their second record with -9000008, say.
inline constexpr std::int32_t kHeaderRecordKinds = 100;
inline constexpr bool is_header_record_mark(std::int32_t word) {
  return word <= kSecondRecordMark && word > kSecondRecordMark - kHeaderRecordKinds;
}

// Words of a point record.
inline constexpr int kWordTime = 0;         // milliseconds
inline constexpr int kWordLatitude = 1;     // micro-degrees
inline constexpr int kWordLongitude = 2;    // micro-degrees, 0 ... 360 degrees
inline constexpr int kWordElevation = 3;    // millimetres
inline constexpr int kWordStartPulse = 4;   // not used
inline constexpr int kWordReflected = 5;    // reflected signal strength
inline constexpr int kWordScanAzimuth = 6;  // thousandths of a degree
inline constexpr int kWordPitch = 7;        // thousandths of a degree
inline constexpr int kWordRoll = 8;         // thousandths of a degree
inline constexpr int kWordPulseWidth = 10;  // 48-byte records, low byte

inline constexpr double kTimeScale = 0.001;
inline constexpr double kXYScale = 0.000001;
inline constexpr double kZScale = 0.001;
inline constexpr double kAngleScale = 0.001;
inline constexpr std::int32_t kFullCircle = 360000000;  // micro-degrees
inline constexpr std::int32_t kHalfCircle = 180000000;

inline constexpr bool is_record_size(std::int32_t size) {
  return size == kRecordSize10 || size == kRecordSize12 || size == kRecordSize14;
}

inline constexpr std::uint32_t byte_swapped(std::uint32_t word) {
  return (word >> 24) | ((word >> 8) & 0xFF00u) | ((word << 8) & 0xFF0000u) | (word << 24);
}

// The names of the attitude attributes a QFIT point carries in its extra bytes.
inline constexpr char kScanAzimuth[] = "scan azimuth";
inline constexpr char kPitch[] = "pitch";
inline constexpr char kRoll[] = "roll";
inline constexpr char kPulseWidth[] = "pulse width";

}  // namespace qfit_layout
