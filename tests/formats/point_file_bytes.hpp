#pragma once

// Point shapefiles, Terrasolid binary and QFIT files built byte by byte from their published
// layouts (never by the project's writers), for the reader tests and the tool's.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "formats/formats_test_support.hpp"

namespace formats_test {

// ---------------------------------------------------------------------------------------
// Shapefiles

struct Vertex {
  double x, y, z, m;
};

inline bool multi(int type) {
  return type == 8 || type == 18 || type == 28;
}
inline bool with_z(int type) {
  return type == 11 || type == 18;
}
inline bool with_m(int type) {
  return type == 11 || type == 18 || type == 21 || type == 28;
}

// The content of one record of `type` (shape type word included).
inline Bytes shape_content(int type, const std::vector<Vertex>& vertices) {
  Bytes c;
  c.le32(type);
  if (!multi(type)) {
    c.f64(vertices[0].x).f64(vertices[0].y);
    if (with_z(type)) c.f64(vertices[0].z);
    if (with_m(type)) c.f64(vertices[0].m);
    return c;
  }
  double lo[4] = {1e300, 1e300, 1e300, 1e300}, hi[4] = {-1e300, -1e300, -1e300, -1e300};
  for (const Vertex& v : vertices) {
    const double values[4] = {v.x, v.y, v.z, v.m};
    for (int k = 0; k < 4; k++) {
      lo[k] = std::min(lo[k], values[k]);
      hi[k] = std::max(hi[k], values[k]);
    }
  }
  c.f64(lo[0]).f64(lo[1]).f64(hi[0]).f64(hi[1]).le32(static_cast<std::int64_t>(vertices.size()));
  for (const Vertex& v : vertices)
    c.f64(v.x).f64(v.y);
  if (with_z(type)) {
    c.f64(lo[2]).f64(hi[2]);
    for (const Vertex& v : vertices)
      c.f64(v.z);
  }
  if (with_m(type)) {
    c.f64(lo[3]).f64(hi[3]);
    for (const Vertex& v : vertices)
      c.f64(v.m);
  }
  return c;
}

// The header's box as written: x min, y min, x max, y max, z min, z max.
using ShapeBox = std::array<double, 6>;

// A whole .shp file: the 100-byte header (file length in 16-bit words, big-endian code and
// length, little-endian rest), then the records, each with its big-endian number and
// content length. The header box is the vertices' unless `box` is given.
inline std::vector<std::uint8_t> shapefile(int type,
                                           const std::vector<std::vector<Vertex>>& records,
                                           std::vector<int> record_types = {},
                                           std::int64_t claimed_words = -1,
                                           const ShapeBox* box = nullptr) {
  Bytes body;
  double lo[4] = {1e300, 1e300, 1e300, 1e300}, hi[4] = {-1e300, -1e300, -1e300, -1e300};
  for (std::size_t r = 0; r < records.size(); r++) {
    const int record_type = r < record_types.size() ? record_types[r] : type;
    const Bytes content = shape_content(record_type, records[r]);
    body.be32(static_cast<std::int64_t>(r + 1)).be32(static_cast<std::int64_t>(content.size() / 2));
    body.data.insert(body.data.end(), content.data.begin(), content.data.end());
    for (const Vertex& v : records[r]) {
      const double values[4] = {v.x, v.y, v.z, v.m};
      for (int k = 0; k < 4; k++) {
        lo[k] = std::min(lo[k], values[k]);
        hi[k] = std::max(hi[k], values[k]);
      }
    }
  }
  const ShapeBox own = {lo[0], lo[1], hi[0], hi[1], lo[2], hi[2]};
  const ShapeBox& written = box != nullptr ? *box : own;
  Bytes file;
  const std::int64_t words =
      claimed_words >= 0 ? claimed_words : static_cast<std::int64_t>(100 + body.size()) / 2;
  file.be32(9994).zeros(20).be32(words).le32(1000).le32(type);
  for (double bound : written)
    file.f64(bound);
  file.f64(lo[3]).f64(hi[3]);
  file.data.insert(file.data.end(), body.data.begin(), body.data.end());
  return file.data;
}

// ---------------------------------------------------------------------------------------
// Terrasolid binary

struct BinRecord {
  std::int32_t x, y, z;
  std::uint8_t classification = 1;
  std::uint8_t echo = 0;
  std::uint16_t line = 1;
  std::uint16_t intensity = 0;
  std::uint32_t time = 0;  // in 0.0002 s
  std::array<std::uint8_t, 3> rgb = {0, 0, 0};
};

struct BinHeader {
  bool long_records = true;  // 20-byte records (version 20020715), else 16-byte ones
  std::int32_t units = 100;
  std::array<double, 3> origin = {0, 0, 0};
  bool time = false;
  bool color = false;
  std::int64_t claimed = -1;  // the count field; -1 for the number of records
};

inline std::size_t bin_record_size(const BinHeader& h) {
  return (h.long_records ? 20u : 16u) + (h.time ? 4u : 0u) + (h.color ? 4u : 0u);
}

// The 56-byte header, then each record with its time and colour words.
inline std::vector<std::uint8_t> terrasolid_file(const BinHeader& h,
                                                 const std::vector<BinRecord>& records) {
  Bytes file;
  file.le32(56).le32(h.long_records ? 20020715 : 20010712).le32(970401).text("CXYZ", 4);
  file.le32(h.claimed >= 0 ? h.claimed : static_cast<std::int64_t>(records.size()));
  file.le32(h.units).f64(h.origin[0]).f64(h.origin[1]).f64(h.origin[2]);
  file.le32(h.time ? 1 : 0).le32(h.color ? 1 : 0);
  for (const BinRecord& r : records) {
    if (h.long_records) {
      file.le32(r.x).le32(r.y).le32(r.z).u8(r.classification).u8(r.echo).u8(0).u8(0);
      file.le16(r.line).le16(r.intensity);
    } else {
      file.u8(r.classification).u8(static_cast<std::uint8_t>(r.line));
      file.le16(static_cast<std::uint16_t>((r.echo << 14) | (r.intensity & 0x3FFF)));
      file.le32(r.x).le32(r.y).le32(r.z);
    }
    if (h.time) file.le32(r.time);
    if (h.color) file.u8(r.rgb[0]).u8(r.rgb[1]).u8(r.rgb[2]).u8(0);
  }
  return file.data;
}

// ---------------------------------------------------------------------------------------
// QFIT

using Words = std::array<std::int32_t, 14>;

// A QFIT file: the size word and the header text, the second record with its mark and the
// point start offset, then the records, every word in the chosen byte order.
inline std::vector<std::uint8_t> qfit_file(int record_size, bool big_endian,
                                           const std::vector<Words>& records) {
  Bytes file;
  file.word32(record_size, big_endian)
      .text("test", 4)
      .zeros(static_cast<std::size_t>(record_size - 8));
  file.word32(-9000000, big_endian).word32(2 * record_size, big_endian);
  file.zeros(static_cast<std::size_t>(record_size - 8));
  for (const Words& w : records) {
    for (int i = 0; i < record_size / 4; i++)
      file.word32(w[static_cast<std::size_t>(i)], big_endian);
  }
  return file.data;
}

}  // namespace formats_test
