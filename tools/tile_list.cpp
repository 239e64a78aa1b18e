// Prints a list of tiles for '-lof' and '-neighbors_lof': one line per LAS or PKZ file given,
// "identifier,points,min_x,min_y,max_x,max_y,name", taken from the file's header. With such
// a list the reader factory picks the neighbours of a tile by their rectangles, without
// opening the tiles that lie beyond the buffer.
//
// usage: tile_list tile1.las tile2.pkz ... > tiles.lof

#include <cinttypes>
#include <cstdio>

#include "las/las_reader_las.hpp"

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s tile1.las tile2.pkz ... > tiles.lof\n", argv[0]);
    return 1;
  }
  int failed = 0;
  for (int i = 1; i < argc; i++) {
    LASreaderLAS reader;
    if (!reader.open_file(argv[i], LASreaderLAS::kDefaultBufferSize, true)) {
      std::fprintf(stderr, "ERROR: cannot read the header of '%s'\n", argv[i]);
      failed = 1;
      continue;
    }
    const LASheader& h = reader.header;
    std::printf("%d,%" PRIu64 ",%.17g,%.17g,%.17g,%.17g,%s\n", i - 1, h.point_count(), h.min_x,
                h.min_y, h.max_x, h.max_y, argv[i]);
  }
  return failed;
}
