#include <cstdio>
#include <cstdlib>

#include "entries/fuzz_entries.hpp"
#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_reader_shp.hpp"
#include "stream/bytestream_in_array.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

// The fewest bytes one delivered point takes in each format: a 16-byte binary record, a
// 40-byte QFIT record, the x and y of a shapefile vertex.
constexpr std::size_t kSmallestPoint[3] = {16, 40, 16};

// A shapefile's header box is that of the vertices it delivers: a point outside it by more
// than the rounding was stored clamped or wrapped.
bool outside_box(const LASreader& reader) {
  const LASheader& h = reader.header;
  const LASpoint& p = reader.point;
  return p.get_x() < h.min_x - h.x_scale_factor || p.get_x() > h.max_x + h.x_scale_factor ||
         p.get_y() < h.min_y - h.y_scale_factor || p.get_y() > h.max_y + h.y_scale_factor ||
         p.get_z() < h.min_z - h.z_scale_factor || p.get_z() > h.max_z + h.z_scale_factor;
}

template <class Reader>
void read_twice(Reader& reader, const std::uint8_t* file, std::size_t size, int kind) {
  for (int pass = 0; pass < 2; pass++) {
    ByteStreamInArrayLE stream(file, static_cast<std::int64_t>(size));
    if (!reader.open_stream(&stream)) return;
    std::int64_t delivered = 0;
    while (reader.read_next()) {
      delivered++;
      if (static_cast<std::size_t>(delivered) > size / kSmallestPoint[kind]) {
        finding("more points delivered than the file's bytes hold");
      }
      if (kind == 2 && outside_box(reader)) finding("a shapefile point outside its header box");
    }
    for (std::int64_t target :
         {std::int64_t{0}, delivered / 2, delivered - 1, reader.points_total}) {
      if (reader.seek_point(target)) reader.read_next();
    }
    reader.close_reader(true);
  }
}

}  // namespace

int point_formats(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int kind = (data[0] & 0x7F) % 3;
  // With the high bit the reader converts every point to finer scale factors, which some
  // coordinates cannot reach in 32 bits.
  const bool converting = data[0] >= 128;
  const std::uint8_t* file = data + 1;
  const std::size_t file_size = size - 1;
  if (kind == 0) {
    if (converting) {
      LASreaderBINrescale reader(0.0001, 0.0001, 0.0001);
      read_twice(reader, file, file_size, kind);
    } else {
      LASreaderBIN reader;
      read_twice(reader, file, file_size, kind);
    }
  } else if (kind == 1) {
    if (converting) {
      LASreaderQFITrescale reader(1e-9, 1e-9, 1e-6);
      read_twice(reader, file, file_size, kind);
    } else {
      LASreaderQFIT reader;
      read_twice(reader, file, file_size, kind);
    }
  } else if (converting) {
    LASreaderSHPrescale reader(0.0001, 0.0001, 0.0001);
    read_twice(reader, file, file_size, kind);
  } else {
    LASreaderSHP reader;
    read_twice(reader, file, file_size, kind);
  }
  return 0;
}

}  // namespace fuzz_entry
