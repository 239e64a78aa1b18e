// Prints a list of tiles for '-lof' and '-neighbors_lof': one line per LAS or PKZ file given,
// "identifier,points,min_x,min_y,max_x,max_y,name", taken from the file's header. With such
// a list the reader factory picks the neighbours of a tile by their rectangles, without
// opening the tiles that lie beyond the buffer.
//
// With -least_buffer it prints instead the least '-buffered' that gives every point of the
// first tile the verdict of the whole survey with the default step: two cells, 8 in metres
// or 24 in feet, as the tile's header records its unit. The survey script takes it as its
// default.
//
// usage: tile_list tile1.las tile2.pkz ... > tiles.lof
//        tile_list -least_buffer tile1.las

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "las/las_reader_las.hpp"
#include "tool/geo_projection.hpp"

namespace {

// Two cells: a neighbour cell of a point near the edge reaches two cells beyond it.
constexpr double kExactBufferCells = 2.0;

bool open_header(const char* name, LASreaderLAS& reader) {
  if (reader.open_file(name, LASreaderLAS::kDefaultBufferSize, true)) return true;
  std::fprintf(stderr, "ERROR: cannot read the header of '%s'\n", name);
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2 || (std::strcmp(argv[1], "-least_buffer") == 0 && argc != 3)) {
    std::fprintf(stderr,
                 "usage: %s tile1.las tile2.pkz ... > tiles.lof\n"
                 "       %s -least_buffer tile1.las\n",
                 argv[0], argv[0]);
    return 1;
  }
  if (std::strcmp(argv[1], "-least_buffer") == 0) {
    LASreaderLAS reader;
    if (!open_header(argv[2], reader)) return 1;
    GeoProjection projection;
    take_units_from_header(projection, reader.header);
    std::printf("%g\n", kExactBufferCells * default_step(projection.horizontal_unit()));
    return 0;
  }
  int failed = 0;
  for (int i = 1; i < argc; i++) {
    LASreaderLAS reader;
    if (!open_header(argv[i], reader)) {
      failed = 1;
      continue;
    }
    const LASheader& h = reader.header;
    std::printf("%d,%" PRIu64 ",%.17g,%.17g,%.17g,%.17g,%s\n", i - 1, h.point_count(), h.min_x,
                h.min_y, h.max_x, h.max_y, argv[i]);
  }
  return failed;
}
