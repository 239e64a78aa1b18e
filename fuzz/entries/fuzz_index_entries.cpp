#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "entries/fuzz_entries.hpp"
#include "index/las_index.hpp"
#include "index/las_index_writer.hpp"
#include "las/las_reader_las.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

// The point files the index is put beside: a plain and a compressed template.
constexpr int kIndexedTemplates[] = {1, 12};

const std::vector<std::uint8_t>& indexed_file(std::uint8_t choice) {
  return template_file(kIndexedTemplates[choice % 2]);
}

struct Area {
  int kind;  // 0 rectangle, 1 tile, 2 circle
  double a, b, c, d;
};

void apply(LASreader& reader, const Area& area) {
  if (area.kind == 0) reader.inside_rectangle(area.a, area.b, area.c, area.d);
  if (area.kind == 1) {
    reader.inside_tile(static_cast<float>(area.a), static_cast<float>(area.b),
                       static_cast<float>(area.c));
  }
  if (area.kind == 2) reader.inside_circle(area.a, area.b, area.c);
}

// The numbers of the points read inside `area`, through `index` when given; `kept` tells
// whether the reader still held the index at the end (it lets a stale one go).
std::vector<std::int64_t> read_area(const std::vector<std::uint8_t>& file, const Area& area,
                                    std::unique_ptr<LASindex> index, bool* kept = nullptr) {
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  std::vector<std::int64_t> numbers;
  if (!reader.open_stream(&stream)) finding("a template does not open");
  reader.attach_index(std::move(index));
  apply(reader, area);
  while (reader.read_next()) {
    numbers.push_back(reader.points_done - 1);
    if (static_cast<std::int64_t>(numbers.size()) > reader.points_total) {
      finding("an index delivered more points than the file holds");
    }
  }
  if (reader.read_failed()) finding("a template failed to read through an index");
  if (kept != nullptr) *kept = reader.get_index() != nullptr;
  return numbers;
}

}  // namespace

int lax_file(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::uint8_t>& file = indexed_file(data[0]);
  LASheader header;
  {
    ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
    LASreaderLAS reader;
    if (!reader.open_stream(&stream)) finding("a template does not open");
    header = reader.header;
  }
  LASindex index;
  ByteStreamInArrayLE bytes(data + 1, static_cast<std::int64_t>(size - 1));
  if (!index.load(bytes)) return 0;
  const double cx = (header.min_x + header.max_x) / 2, cy = (header.min_y + header.max_y) / 2;
  const double w = header.max_x - header.min_x + 1;
  const Area areas[] = {
      {0, header.min_x, header.min_y, header.max_x + 1, header.max_y + 1},
      {0, header.min_x, header.min_y, cx, cy},
      {1, cx - w / 5, cy - w / 5, w / 3, 0},
      {2, cx, cy, w / 4, 0},
  };
  for (const Area& area : areas) {
    const std::vector<std::int64_t> plain = read_area(file, area, nullptr);
    bool kept = false;
    const std::vector<std::int64_t> indexed =
        read_area(file, area, std::make_unique<LASindex>(index), &kept);
    // An index the reader let go leaves the points of reading without one.
    if (!kept && indexed != plain) finding("a refused index changed the points of an area");
    // One that passed the checks may still miss points (counts that lie in cells the area
    // does not reach, and make up for each other), but never invent, repeat or reorder them.
    const std::set<std::int64_t> inside(plain.begin(), plain.end());
    for (std::size_t i = 0; i < indexed.size(); i++) {
      if (i > 0 && indexed[i] <= indexed[i - 1]) finding("indexed points out of order");
      if (inside.count(indexed[i]) == 0) finding("an indexed point outside the area");
    }
  }
  return 0;
}

std::vector<std::vector<std::uint8_t>> lax_file_seeds() {
  std::vector<std::vector<std::uint8_t>> seeds;
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("isocull_lax_seed_" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  for (std::uint8_t choice = 0; choice < 2; choice++) {
    const std::string name = (scratch / (choice == 0 ? "t.las" : "t.pkz")).string();
    {
      const std::vector<std::uint8_t>& file = indexed_file(choice);
      std::ofstream out(name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(file.data()),
                static_cast<std::streamsize>(file.size()));
    }
    for (std::uint32_t leaf_points : {20u, 200u}) {
      const std::unique_ptr<LASindex> index = build_index(name.c_str(), {leaf_points, 5});
      if (!index) finding("a template cannot be indexed");
      ByteStreamOutArrayLE out;
      index->write(out);
      std::vector<std::uint8_t> seed = {choice};
      seed.insert(seed.end(), out.data(), out.data() + out.size());
      seeds.push_back(seed);
    }
  }
  std::filesystem::remove_all(scratch);
  return seeds;
}

}  // namespace fuzz_entry
