#pragma once

#include <cstdint>
#include <string_view>

// The byte layout of a spatial index: a ".lax" file beside a point file, or the same bytes
// inside a compressed file as the suite's extended record 30. The index reader and the index
// writer both take their numbers from here. All integers are little-endian, the bounds IEEE
// single precision.
//
//   0  "LASX"  4 index version
//   8  "LASS" 12 spatial type (0 = quadtree)
//  16  "LASQ" 20 quadtree version 24 levels 28 level index 32 implicit levels
//  36  min_x  40 max_x  44 min_y  48 max_y                   (floats)
//  52  "LASV" 56 interval version 60 number of cells
//  64  per cell: cell number (int32), number of runs, number of points, then each run as
//      start and end (inclusive point numbers)
//
// The older layout lacks "LASQ" and the quadtree version: its offset 16 holds the levels and
// every later offset is 8 smaller.

inline constexpr std::string_view kIndexSignature = "LASX";
inline constexpr std::string_view kSpatialSignature = "LASS";
inline constexpr std::string_view kQuadtreeSignature = "LASQ";
inline constexpr std::string_view kIntervalSignature = "LASV";
inline constexpr std::uint32_t kSignatureSize = 4;

inline constexpr std::uint32_t kSpatialTypeQuadtree = 0;

// Versions the writer puts; the reader takes any.
inline constexpr std::uint32_t kIndexVersion = 0;
inline constexpr std::uint32_t kQuadtreeVersion = 0;
inline constexpr std::uint32_t kIntervalVersion = 0;

inline constexpr std::uint32_t kIndexOffsetSpatial = 8;
inline constexpr std::uint32_t kIndexOffsetQuadtree = 16;
inline constexpr std::uint32_t kIndexOffsetLevels = 24;
inline constexpr std::uint32_t kIndexOffsetBounds = 36;
inline constexpr std::uint32_t kIndexOffsetInterval = 52;
inline constexpr std::uint32_t kIndexOffsetCellCount = 60;
inline constexpr std::uint32_t kIndexOffsetFirstCell = 64;
// Bytes the older layout lacks (the "LASQ" signature and the quadtree version).
inline constexpr std::uint32_t kOlderLayoutShift = 8;
inline constexpr std::uint32_t kCellHeadSize = 12;
inline constexpr std::uint32_t kRunSize = 8;

// Cell numbers: the cells of level l are level_start[l] + 0 .. 4^l - 1 with level_start[0] = 0
// and level_start[l + 1] = level_start[l] + 4^l. Level 16 would need numbers beyond 32 bits.
inline constexpr std::uint32_t kLevelStartCount = 24;
inline constexpr std::uint32_t kMaxLevels = 15;

// Runs of several cells closer than this many points are read as one.
inline constexpr std::int32_t kMergeThreshold = 1000;

// The record inside a compressed file: user id "Brindlex" (header_layout.hpp), record 30.
inline constexpr std::string_view kIndexRecordDescription = "quadtree point index";
