#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// The compressed item codecs of point types 0-5 (POINT10, GPSTIME11, RGB12, BYTE in codec
// versions 1 and 2, WAVEPACKET13 in version 1): the byte layouts they read items through and
// every table, alphabet size and coder shape they code with. All of it is file format: a
// change here makes files that no other reader decodes.

// The items are little-endian on disk and in the point record, and the codecs read them in
// place.
static_assert(std::endian::native == std::endian::little);

// ---- POINT10: 20 bytes ----------------------------------------------------------------

// The POINT10 item read as one record. Its layout has no padding, so it is copied to and
// from the item bytes as a whole.
struct Point10Record {
  std::int32_t x;
  std::int32_t y;
  std::int32_t z;
  std::uint16_t intensity;
  std::uint8_t return_byte;  // return number 0-2, number of returns 3-5, scan dir 6, edge 7
  std::uint8_t class_byte;   // classification 0-4, synthetic, keypoint, withheld 5-7
  std::uint8_t scan_angle_rank;
  std::uint8_t user_data;
  std::uint16_t point_source_ID;
};
static_assert(sizeof(Point10Record) == 20);
static_assert(offsetof(Point10Record, intensity) == 12);
static_assert(offsetof(Point10Record, return_byte) == 14);
static_assert(offsetof(Point10Record, class_byte) == 15);
static_assert(offsetof(Point10Record, scan_angle_rank) == 16);
static_assert(offsetof(Point10Record, user_data) == 17);
static_assert(offsetof(Point10Record, point_source_ID) == 18);

inline std::uint32_t return_number_of(std::uint8_t return_byte) {
  return return_byte & 0x7;
}
inline std::uint32_t number_of_returns_of(std::uint8_t return_byte) {
  return (return_byte >> 3) & 0x7;
}
inline std::uint32_t scan_direction_of(std::uint8_t return_byte) {
  return (return_byte >> 6) & 1;
}

// Points of one return class share an intensity memory and coordinate difference medians:
// indexed [number of returns][return number]. Single returns are class 0, the returns of
// a two-return pulse 1 and 2, and so on; impossible combinations share the high classes.
inline constexpr std::uint8_t kReturnClass[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},    //
    {14, 0, 1, 3, 6, 10, 10, 9},       //
    {13, 1, 2, 4, 7, 11, 11, 10},      //
    {12, 3, 4, 5, 8, 12, 12, 11},      //
    {11, 6, 7, 8, 9, 13, 13, 12},      //
    {10, 10, 11, 12, 13, 14, 14, 13},  //
    {9, 10, 11, 12, 13, 14, 15, 14},   //
    {8, 9, 10, 11, 12, 13, 14, 15},    //
};
inline constexpr std::uint32_t kReturnClasses = 16;

// How far a return lies from the last of its pulse, |n - r|: returns at the same depth share
// a height memory.
inline constexpr std::uint8_t kReturnDepth[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7},  //
    {1, 0, 1, 2, 3, 4, 5, 6},  //
    {2, 1, 0, 1, 2, 3, 4, 5},  //
    {3, 2, 1, 0, 1, 2, 3, 4},  //
    {4, 3, 2, 1, 0, 1, 2, 3},  //
    {5, 4, 3, 2, 1, 0, 1, 2},  //
    {6, 5, 4, 3, 2, 1, 0, 1},  //
    {7, 6, 5, 4, 3, 2, 1, 0},  //
};
inline constexpr std::uint32_t kReturnDepths = 8;

// Every integer coder of these codecs models 8 high bits of a class and has no range.
inline constexpr std::uint32_t kItemCoderHighBits = 8;

// Byte-valued alphabets: return byte, class byte, user data, scan angle, colour and extra
// byte differences, wave packet descriptor index.
inline constexpr std::uint32_t kByteSymbols = 256;

// POINT10 version 2. Changed-values bits, in symbol order.
inline constexpr std::uint32_t kPoint10v2ChangedReturnByte = 1u << 5;
inline constexpr std::uint32_t kPoint10v2ChangedIntensity = 1u << 4;
inline constexpr std::uint32_t kPoint10v2ChangedClassByte = 1u << 3;
inline constexpr std::uint32_t kPoint10v2ChangedScanAngle = 1u << 2;
inline constexpr std::uint32_t kPoint10v2ChangedUserData = 1u << 1;
inline constexpr std::uint32_t kPoint10v2ChangedPointSource = 1u << 0;
inline constexpr std::uint32_t kPoint10ChangedSymbols = 64;
inline constexpr std::uint32_t kPoint10v2IntensityBits = 16;
inline constexpr std::uint32_t kPoint10v2IntensityContexts = 4;
inline constexpr std::uint32_t kPoint10v2PointSourceBits = 16;
inline constexpr std::uint32_t kPoint10v2CoordinateBits = 32;
inline constexpr std::uint32_t kPoint10v2DxContexts = 2;
inline constexpr std::uint32_t kPoint10v2DyContexts = 22;
inline constexpr std::uint32_t kPoint10v2ZContexts = 20;
inline constexpr std::uint32_t kPoint10v2DyClassCap = 20;  // dy contexts from the dx class
inline constexpr std::uint32_t kPoint10v2ZClassCap = 18;   // z contexts from the dx, dy classes

// POINT10 version 1: the coordinates first, then the changed values with another bit order.
inline constexpr std::uint32_t kPoint10v1ChangedIntensity = 1u << 5;
inline constexpr std::uint32_t kPoint10v1ChangedReturnByte = 1u << 4;
inline constexpr std::uint32_t kPoint10v1ChangedClassByte = 1u << 3;
inline constexpr std::uint32_t kPoint10v1ChangedScanAngle = 1u << 2;
inline constexpr std::uint32_t kPoint10v1ChangedUserData = 1u << 1;
inline constexpr std::uint32_t kPoint10v1ChangedPointSource = 1u << 0;
inline constexpr std::uint32_t kPoint10v1CoordinateBits = 32;
inline constexpr std::uint32_t kPoint10v1DxContexts = 1;
inline constexpr std::uint32_t kPoint10v1DyContexts = 20;
inline constexpr std::uint32_t kPoint10v1ZContexts = 20;
inline constexpr std::uint32_t kPoint10v1ClassCap = 19;  // dy and z contexts from classes
inline constexpr std::uint32_t kPoint10v1IntensityBits = 16;
inline constexpr std::uint32_t kPoint10v1ScanAngleBits = 8;
inline constexpr std::uint32_t kPoint10v1ScanAngleContexts = 2;
inline constexpr std::uint32_t kPoint10v1ScanAngleSmallClasses = 6;  // kx + ky below: context 1
inline constexpr std::uint32_t kPoint10v1PointSourceBits = 16;
inline constexpr std::uint32_t kPoint10v1DiffHistory = 3;

// ---- GPSTIME11: 8 bytes, a double coded through its bit pattern --------------------------

// Version 2: up to four interleaved time sequences.
inline constexpr std::uint32_t kGpsSequences = 4;
inline constexpr std::uint32_t kGpsv2MultiMax = 500;        // largest multiplier coded directly
inline constexpr std::int32_t kGpsv2MultiMin = -10;         // most negative one
inline constexpr std::uint32_t kGpsv2MultiUnchanged = 511;  // = 500 - (-10) + 1
inline constexpr std::uint32_t kGpsv2MultiCodeFull = 512;   // 513..515: switch sequence by 1..3
inline constexpr std::uint32_t kGpsv2MultiSymbols = 516;
inline constexpr std::uint32_t kGpsv2ZeroDiffUnchanged = 0;
inline constexpr std::uint32_t kGpsv2ZeroDiffFits = 1;
inline constexpr std::uint32_t kGpsv2ZeroDiffCodeFull = 2;  // 3..5: switch sequence by 1..3
inline constexpr std::uint32_t kGpsv2ZeroDiffSymbols = 6;
inline constexpr std::uint32_t kGpsv2Bits = 32;
inline constexpr std::uint32_t kGpsv2Contexts = 9;
inline constexpr std::uint32_t kGpsv2ContextFirstDiff = 0;
inline constexpr std::uint32_t kGpsv2ContextSameStep = 1;
inline constexpr std::uint32_t kGpsv2ContextSmallMulti = 2;  // multipliers 2..9
inline constexpr std::uint32_t kGpsv2ContextLargeMulti = 3;  // 10..499
inline constexpr std::uint32_t kGpsv2ContextMaxMulti = 4;
inline constexpr std::uint32_t kGpsv2ContextNegativeMulti = 5;
inline constexpr std::uint32_t kGpsv2ContextMinMulti = 6;
inline constexpr std::uint32_t kGpsv2ContextZeroMulti = 7;
inline constexpr std::uint32_t kGpsv2ContextHighHalf = 8;
inline constexpr std::int32_t kGpsExtremeMultiLimit = 3;  // more extreme multipliers: new step

// Version 1: one sequence.
inline constexpr std::uint32_t kGpsv1MultiSymbols = 512;
inline constexpr std::uint32_t kGpsv1MultiUnchanged = 511;
inline constexpr std::uint32_t kGpsv1MultiCodeFull = 510;
inline constexpr std::int32_t kGpsv1MultiMax = 509;
inline constexpr std::uint32_t kGpsv1ZeroDiffUnchanged = 0;
inline constexpr std::uint32_t kGpsv1ZeroDiffFits = 1;
inline constexpr std::uint32_t kGpsv1ZeroDiffCodeFull = 2;
inline constexpr std::uint32_t kGpsv1ZeroDiffSymbols = 3;
inline constexpr std::uint32_t kGpsv1Bits = 32;
inline constexpr std::uint32_t kGpsv1Contexts = 6;
inline constexpr std::uint32_t kGpsv1ContextFirstDiff = 0;
inline constexpr std::uint32_t kGpsv1ContextSameStep = 1;
inline constexpr std::uint32_t kGpsv1ContextZeroMulti = 2;
inline constexpr std::uint32_t kGpsv1ContextSmallMulti = 3;   // 2..9
inline constexpr std::uint32_t kGpsv1ContextMediumMulti = 4;  // 10..49
inline constexpr std::uint32_t kGpsv1ContextLargeMulti = 5;   // 50..509

// ---- RGB12: red, green, blue as 16-bit values ----------------------------------------

inline constexpr std::uint32_t kRgbv2ChangeSymbols = 128;
inline constexpr std::uint32_t kRgbv2NotGray = 1u << 6;
inline constexpr std::uint32_t kRgbv1ChangeSymbols = 64;
inline constexpr std::uint32_t kRgbv1Bits = 8;
inline constexpr std::uint32_t kRgbv1Contexts = 6;
// Change bits 0-5: red low, red high, green low, green high, blue low, blue high byte.
inline constexpr std::uint32_t kRgbBytes = 6;

// ---- BYTE -------------------------------------------------------------------------------

inline constexpr std::uint32_t kBytev1Bits = 8;

// ---- WAVEPACKET13: 29 bytes -------------------------------------------------------------

// Byte 0 is the descriptor index; the 28 bytes after it are coded against the last ones.
struct WavePacketRecord {
  std::uint64_t offset;       // byte offset to the waveform data
  std::uint32_t packet_size;  // waveform packet size in bytes
  std::int32_t return_point;  // float bits: return point waveform location
  std::int32_t x;             // float bits: X(t), Y(t), Z(t)
  std::int32_t y;
  std::int32_t z;
};
static_assert(offsetof(WavePacketRecord, packet_size) == 8);
static_assert(offsetof(WavePacketRecord, return_point) == 12);
static_assert(offsetof(WavePacketRecord, z) == 24);
// Only the first 28 bytes of the record are the item's (the rest is alignment padding).
inline constexpr int kWavePacketBodySize = 28;
inline constexpr std::uint32_t kWavePacketOffsetKindSymbols = 4;
inline constexpr std::uint32_t kWavePacketOffsetSame = 0;
inline constexpr std::uint32_t kWavePacketOffsetAfterLast = 1;  // last offset + last size
inline constexpr std::uint32_t kWavePacketOffsetDiff = 2;
inline constexpr std::uint32_t kWavePacketOffsetFull = 3;
inline constexpr std::uint32_t kWavePacketBits = 32;
inline constexpr std::uint32_t kWavePacketXyzContexts = 3;

// ---- Arithmetic ---------------------------------------------------------------------------

// Differences and sums of coordinates, times and predictions wrap modulo 2^32 (2^64), as
// they do in every producer's files; signed overflow is avoided by working unsigned.
inline std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int64_t wrapping_sub64(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
inline std::int64_t wrapping_add64(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
// A 64-bit difference that a 32-bit integer holds exactly.
inline bool fits_32(std::int64_t value) {
  return value == static_cast<std::int64_t>(static_cast<std::int32_t>(value));
}
// Difference of two bytes as the symbol of a byte alphabet: modulo 256.
inline std::uint32_t byte_fold(std::int32_t difference) {
  return static_cast<std::uint8_t>(difference);
}
