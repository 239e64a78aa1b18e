#pragma once

#include <cstdint>

// The main file of a shapefile (".shp"): a 100-byte header, then records of a record header
// (number and content length, big-endian) and a little-endian shape. Lengths count 16-bit
// words.
namespace shp_layout {

inline constexpr int kHeaderSize = 100;
inline constexpr std::int32_t kFileCode = 9994;
inline constexpr std::int32_t kVersion = 1000;

// Header field offsets.
inline constexpr int kOffsetFileCode = 0;     // big-endian
inline constexpr int kOffsetFileLength = 24;  // big-endian, 16-bit words
inline constexpr int kOffsetVersion = 28;
inline constexpr int kOffsetShapeType = 32;
inline constexpr int kOffsetMinX = 36;
inline constexpr int kOffsetMinY = 44;
inline constexpr int kOffsetMaxX = 52;
inline constexpr int kOffsetMaxY = 60;
inline constexpr int kOffsetMinZ = 68;
inline constexpr int kOffsetMaxZ = 76;

inline constexpr int kRecordHeaderSize = 8;  // record number, content length
inline constexpr int kBoxSize = 32;          // x min, y min, x max, y max
inline constexpr int kRangeSize = 16;        // min, max of z or m

// Shape types.
inline constexpr std::int32_t kNullShape = 0;
inline constexpr std::int32_t kPoint = 1;
inline constexpr std::int32_t kPolyLine = 3;
inline constexpr std::int32_t kPolygon = 5;
inline constexpr std::int32_t kMultiPoint = 8;
inline constexpr std::int32_t kPointZ = 11;
inline constexpr std::int32_t kPolyLineZ = 13;
inline constexpr std::int32_t kPolygonZ = 15;
inline constexpr std::int32_t kMultiPointZ = 18;
inline constexpr std::int32_t kPointM = 21;
inline constexpr std::int32_t kPolyLineM = 23;
inline constexpr std::int32_t kPolygonM = 25;
inline constexpr std::int32_t kMultiPointM = 28;
inline constexpr std::int32_t kMultiPatch = 31;

inline constexpr bool is_point_type(std::int32_t type) {
  return type == kPoint || type == kMultiPoint || type == kPointZ || type == kMultiPointZ ||
         type == kPointM || type == kMultiPointM;
}
inline constexpr bool is_multi(std::int32_t type) {
  return type == kMultiPoint || type == kMultiPointZ || type == kMultiPointM;
}
inline constexpr bool has_z(std::int32_t type) {
  return type == kPointZ || type == kMultiPointZ;
}
inline constexpr bool has_m(std::int32_t type) {
  return type == kPointZ || type == kMultiPointZ || type == kPointM || type == kMultiPointM;
}

// The name of a shape type for messages; "unknown" for codes the layout does not define.
inline constexpr const char* shape_type_name(std::int32_t type) {
  switch (type) {
    case kNullShape:
      return "Null";
    case kPoint:
      return "Point";
    case kPolyLine:
      return "PolyLine";
    case kPolygon:
      return "Polygon";
    case kMultiPoint:
      return "MultiPoint";
    case kPointZ:
      return "PointZ";
    case kPolyLineZ:
      return "PolyLineZ";
    case kPolygonZ:
      return "PolygonZ";
    case kMultiPointZ:
      return "MultiPointZ";
    case kPointM:
      return "PointM";
    case kPolyLineM:
      return "PolyLineM";
    case kPolygonM:
      return "PolygonM";
    case kMultiPointM:
      return "MultiPointM";
    case kMultiPatch:
      return "MultiPatch";
    default:
      return "unknown";
  }
}

// Header words per point of each point type and the fixed words of a file, for the point
// count estimated from the file length.
struct PointEstimate {
  std::int32_t type;
  std::int64_t fixed_words;
  std::int64_t words_per_point;
};
inline constexpr PointEstimate kEstimates[] = {
    {kPoint, 50, 14},       {kMultiPoint, 70, 8}, {kPointZ, 50, 22},
    {kMultiPointZ, 86, 16}, {kPointM, 50, 18},    {kMultiPointM, 78, 12},
};

}  // namespace shp_layout
