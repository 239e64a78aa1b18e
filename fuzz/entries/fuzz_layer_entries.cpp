// The body of the LAY file target: a LAY file beside a small point file, read through
// LASapply.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "las/las_reader_las.hpp"
#include "layers/las_apply.hpp"
#include "layers/lay_file.hpp"
#include "scene/scene_las.hpp"

namespace fuzz_entry {
namespace {

constexpr std::uint32_t kBlock = 65536;
constexpr std::uint64_t kPoints = 400;
constexpr std::uint8_t kPatchIdentity = 0x01;  // input byte 0: give the LAY the right identity
constexpr std::uint8_t kExtendedFile = 0x02;   // input byte 0: the point type 6 file
constexpr std::uint8_t kResealHeader = 0x04;   // input byte 0: right checksum on the header
constexpr std::uint8_t kResealLayers = 0x08;   // input byte 0: right checksums on the layers

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

// Two point files (point types 1 and 6) in a scratch folder that lives as long as the
// process; the folder is removed at exit.
struct PointFiles {
  std::string dir;
  std::string names[2];
  LAYidentity identities[2];
  PointFiles() {
    char pattern[] = "/tmp/isocull_fuzz_lay_XXXXXX";
    if (mkdtemp(pattern) == nullptr) finding("no scratch folder");
    dir = pattern;
    for (int i = 0; i < 2; i++) {
      names[i] = dir + (i == 0 ? "/type1.las" : "/type6.las");
      SceneFileOptions options;
      options.scene.points = kPoints;
      options.scene.seed = 11;
      options.point_type = i == 0 ? 1 : 6;
      if (!write_scene_las(names[i].c_str(), options)) finding("cannot write the point file");
      LASreaderLAS reader;
      std::string failure;
      if (!reader.open_file(names[i].c_str()) ||
          !identify_point_file(names[i], reader.header, kPoints, kBlock, identities[i], failure)) {
        finding("cannot identify the point file");
      }
    }
  }
  ~PointFiles() {
    for (const std::string& name : names) {
      unlink(name.c_str());
      unlink(lay_file_name(name, nullptr).c_str());
    }
    rmdir(dir.c_str());
  }
};

PointFiles& point_files() {
  static PointFiles files;
  return files;
}

void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; i++)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t get(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; i--)
    value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

// The checksums of a current-version file recomputed over its header and (with `layers`)
// over each layer as far as the layers' sizes fit, so that the fuzzer reaches what lies
// behind them.
void reseal(std::vector<std::uint8_t>& lay, bool layers) {
  using namespace lay_format;
  if (lay.size() < kFileHeaderSize || lay[kVersionMajorAt] != kVersionMajor) return;
  const std::size_t header_size = get(lay, kHeaderSizeAt, 2);
  if (header_size < kFileHeaderSize || header_size > lay.size()) return;
  auto around = [&lay](std::size_t begin, std::size_t field, std::size_t end) {
    const std::uint32_t crc = lay_checksum(lay.data() + begin, field - begin);
    return lay_checksum(lay.data() + field + kChecksumSize, end - field - kChecksumSize, crc);
  };
  put(lay, kHeaderChecksumAt, around(0, kHeaderChecksumAt, header_size), 4);
  if (!layers) return;
  std::size_t at = header_size;
  for (std::uint64_t l = get(lay, kLayerCountAt, 4); l > 0; l--) {
    if (lay.size() - at < kLayerHeaderSize) return;
    const std::uint64_t body = 8 * get(lay, at + kParameterCountAt, 4) +
                               get(lay, at + kCommandLineLengthAt, 4) +
                               get(lay, at + kRunCodeSizeAt, 8);
    if (body > lay.size() - at - kLayerHeaderSize) return;
    const std::size_t end = at + kLayerHeaderSize + static_cast<std::size_t>(body);
    put(lay, at + kLayerChecksumAt, around(at, at + kLayerChecksumAt, end), 4);
    at = end;
  }
}

}  // namespace

int lay_file(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  PointFiles& files = point_files();
  const int which = (data[0] & kExtendedFile) != 0 ? 1 : 0;
  std::vector<std::uint8_t> lay(data + 1, data + size);
  if ((data[0] & kPatchIdentity) != 0 && lay.size() >= lay_format::kFileHeaderSize) {
    const LAYidentity& id = files.identities[which];
    put(lay, lay_format::kFileSizeAt, id.file_size, 8);
    put(lay, lay_format::kPointCountAt, id.point_count, 8);
    lay[lay_format::kPointFormatAt] = id.point_format;
    put(lay, lay_format::kRecordLengthAt, id.record_length, 2);
    put(lay, lay_format::kPointOffsetAt, id.point_offset, 4);
    put(lay, lay_format::kHashAt, id.hash, 8);
    put(lay, lay_format::kHeadBlockAt, id.head_block, 4);
    put(lay, lay_format::kTailBlockAt, id.tail_block, 4);
  }
  if ((data[0] & kResealHeader) != 0) reseal(lay, (data[0] & kResealLayers) != 0);
  const std::string& points = files.names[which];
  {
    std::ofstream out(lay_file_name(points, nullptr), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(lay.data()), static_cast<std::streamsize>(lay.size()));
  }
  auto reader = std::make_unique<LASreaderLAS>();
  if (!reader->open_file(points.c_str())) finding("the point file does not open");
  LASapply apply;
  const bool loaded = apply.open(*reader, points, kBlock) && apply.load_layers(2147483647);
  if (!loaded && !apply.layers().empty()) finding("a refused LAY file left layers");
  // A file whose checksums were not put right after the fuzzer's changes is damaged unless
  // it is the version without them: a checked file never loads with bytes it did not write.
  if (loaded && lay.size() >= lay_format::kFileHeaderSize &&
      lay[lay_format::kVersionMajorAt] == lay_format::kVersionMajor) {
    std::vector<std::uint8_t> resealed = lay;
    reseal(resealed, true);
    if (resealed != lay) finding("a LAY file with wrong checksums loaded");
  }
  if (!loaded) apply.open_without_layers();
  // The points the layers delete, counted the plain way.
  std::vector<bool> deleted(kPoints, false);
  for (const LAYlayer& layer : apply.layers()) {
    for (const LAYrun& run : layer.runs) {
      if (run.start >= kPoints || run.length > kPoints - run.start)
        finding("a run beyond the file");
      if (layer.attribute != LAYattribute::kDeletion) continue;
      for (std::uint64_t i = run.start; i < run.start + run.length; i++)
        deleted[i] = true;
    }
  }
  std::uint64_t expected = 0;
  for (bool gone : deleted)
    expected += gone ? 0 : 1;
  apply.take_reader(std::move(reader));
  std::uint64_t delivered = 0;
  std::int64_t last = -1;
  while (apply.read_next()) {
    const std::int64_t index = apply.points_done - 1;
    if (index <= last || index >= static_cast<std::int64_t>(kPoints))
      finding("points out of order");
    if (deleted[static_cast<std::size_t>(index)]) finding("a deleted point was delivered");
    last = index;
    delivered++;
  }
  if (delivered != expected) finding("other points delivered than the layers leave");
  return 0;
}

std::vector<std::uint8_t> lay_file_seed(bool extended) {
  PointFiles& files = point_files();
  LAYfile file;
  file.identity = files.identities[extended ? 1 : 0];
  LAYlayer classified;
  classified.attribute = LAYattribute::kClassification;
  classified.description = "replace classification";
  classified.command_line = "isocull -i type1.las -olay";
  classified.parameters = {1.0, 7.0, 1.0};
  for (std::uint64_t i : {0, 1, 2, 50, 51, 399})
    classified.add_change(i, i == 51 ? 9 : 7);
  LAYlayer deletion;
  deletion.attribute = LAYattribute::kDeletion;
  for (std::uint64_t i : {2, 3, 4, 200})
    deletion.add_change(i, 0);
  file.layers = {classified, deletion};
  std::vector<std::uint8_t> seed = {
      static_cast<std::uint8_t>(kPatchIdentity | kResealHeader | (extended ? kExtendedFile : 0))};
  const std::vector<std::uint8_t> bytes = encode_lay_file(file);
  seed.insert(seed.end(), bytes.begin(), bytes.end());
  return seed;
}

}  // namespace fuzz_entry
