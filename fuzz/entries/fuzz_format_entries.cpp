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
  const int kind = data[0] % 3;
  const std::uint8_t* file = data + 1;
  const std::size_t file_size = size - 1;
  if (kind == 0) {
    LASreaderBIN reader;
    read_twice(reader, file, file_size, kind);
  } else if (kind == 1) {
    LASreaderQFIT reader;
    read_twice(reader, file, file_size, kind);
  } else {
    LASreaderSHP reader;
    read_twice(reader, file, file_size, kind);
  }
  return 0;
}

}  // namespace fuzz_entry
