#include "entries/fuzz_entries.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/las_read_engine.hpp"
#include "codec/las_write_engine.hpp"
#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "model/header_layout.hpp"
#include "model/point_layout.hpp"
#include "scene/scene_las.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace fuzz_entry {
namespace {

// A broken property is a finding: stop so that the fuzzer keeps the input.
[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

// The bytes of one point as a raw record stores them (the in-memory items of the core
// point are not its stored bytes).
std::vector<std::uint8_t> point_bytes(const LASpoint& point) {
  LASwriteEngine engine;
  ByteStreamOutArrayLE out;
  if (!engine.setup(point.num_items, point.items.data()) || !engine.attach(&out) ||
      !engine.write(point.item_data.data())) {
    finding("a point that was read cannot be stored raw");
  }
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

// Reads every point the reader delivers, keeping their bytes when `keep` is given. A raw
// file cannot deliver more records than its bytes hold.
std::int64_t read_points(LASreaderLAS& reader, std::size_t file_size,
                         std::vector<std::vector<std::uint8_t>>* keep) {
  std::int64_t count = 0;
  while (reader.read_next()) {
    count++;
    if (keep != nullptr) keep->push_back(point_bytes(reader.point));
  }
  if (reader.format_code() == 1 && reader.header.point_data_record_length > 0 &&
      count > static_cast<std::int64_t>(file_size / reader.header.point_data_record_length)) {
    finding("a raw file delivered more records than its bytes hold");
  }
  if (count > reader.points_total) finding("more points delivered than the header announces");
  return count;
}

// Seeks to the first, a middle and the last point and reads one point at each.
void seek_around(LASreaderLAS& reader, std::int64_t delivered) {
  const std::int64_t targets[] = {0, delivered / 2, delivered - 1, reader.points_total - 1,
                                  reader.points_total};
  for (std::int64_t target : targets) {
    if (reader.seek_point(target)) reader.read_next();
  }
}

// Writes the points of `points` through the writer with the reader's header and compressor,
// reads the result back and demands the same points: whatever the reader accepted, the
// writer stores without loss.
void round_trip(const LASreaderLAS& reader, const std::vector<std::vector<std::uint8_t>>& points) {
  LASheader header = reader.header;
  const std::uint16_t compressor =
      reader.header.codec ? reader.header.codec->compressor : std::uint16_t{Pakrel::COMPRESSOR_RAW};
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  if (!writer.open_stream(&out, &header, compressor)) return;
  LASpoint point;
  if (!point.init_layout(&header, reader.point.num_items, reader.point.items.data(), &header)) {
    return;
  }
  LASreadEngine raw;
  if (!raw.setup(point.num_items, point.items.data())) return;
  for (const auto& bytes : points) {
    ByteStreamInArrayLE record(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (!raw.attach(&record) || !raw.read(point.item_data.data())) {
      finding("a stored record does not read back");
    }
    if (!writer.write_point(point)) return;
  }
  if (writer.close_writer(true) == 0) return;

  ByteStreamInArrayLE in(out.data(), out.size());
  LASreaderLAS again;
  if (!again.open_stream(&in)) finding("the writer's output of accepted points does not open");
  std::size_t index = 0;
  while (again.read_next()) {
    if (index >= points.size()) finding("the written file holds more points than were written");
    if (point_bytes(again.point) != points[index]) finding("a written point reads back changed");
    index++;
  }
  if (index != points.size()) {
    std::fprintf(stderr, "read back %zu of %zu points\n", index, points.size());
    finding("the written file holds fewer points than were written");
  }
}

void read_file(const std::uint8_t* data, std::size_t size, std::uint32_t selective,
               bool check_round_trip) {
  ByteStreamInArrayLE stream(data, static_cast<std::int64_t>(size));
  LASreaderLAS reader;
  if (!reader.open_stream(&stream, false, selective)) return;
  std::vector<std::vector<std::uint8_t>> points;
  const std::int64_t delivered = read_points(reader, size, check_round_trip ? &points : nullptr);
  seek_around(reader, delivered);
  if (check_round_trip) round_trip(reader, points);
  reader.close_reader(true);
}

// Templates of pkz_block: small scenes written by the project's writer.
struct Template {
  const char* name;
  int point_type;
  std::uint16_t compressor;
  int version;     // 0: the codec's default
  int chunk_size;  // -1: the codec's default; 0: variable, ended every 17 points
  int extra_bytes;
};

constexpr Template kTemplates[] = {
    {"type0_las", 0, 0, 0, -1, 0},          {"type1_las", 1, 0, 0, -1, 0},
    {"type2_las", 2, 0, 0, -1, 0},          {"type3_las", 3, 0, 0, -1, 0},
    {"type4_las", 4, 0, 0, -1, 0},          {"type5_las", 5, 0, 0, -1, 0},
    {"type6_las", 6, 0, 0, -1, 0},          {"type7_las", 7, 0, 0, -1, 0},
    {"type8_las", 8, 0, 0, -1, 0},          {"type9_las", 9, 0, 0, -1, 0},
    {"type10_las", 10, 0, 0, -1, 0},        {"type0_pkz", 0, 2, 0, -1, 0},
    {"type1_pkz", 1, 2, 0, -1, 0},          {"type2_pkz", 2, 2, 0, -1, 0},
    {"type3_pkz", 3, 2, 0, -1, 0},          {"type4_pkz", 4, 2, 0, -1, 0},
    {"type5_pkz", 5, 2, 0, -1, 0},          {"type6_pkz", 6, 3, 0, -1, 0},
    {"type7_pkz", 7, 3, 0, -1, 0},          {"type8_pkz", 8, 3, 0, -1, 0},
    {"type9_pkz", 9, 3, 0, -1, 0},          {"type10_pkz", 10, 3, 0, -1, 0},
    {"type3_pkz_v1", 3, 2, 1, -1, 0},       {"type1_pkz_one_stream", 1, 1, 0, -1, 0},
    {"type1_pkz_extra5", 1, 2, 0, -1, 5},   {"type6_pkz_extra3", 6, 3, 0, -1, 3},
    {"type3_pkz_chunks40", 3, 2, 0, 40, 0}, {"type7_pkz_chunks40", 7, 3, 0, 40, 0},
    {"type6_pkz_variable", 6, 3, 0, 0, 0},  {"type8_pkz_variable", 8, 3, 0, 0, 2},
};
constexpr int kTemplatePoints = 120;

void fill_point(LASpoint& point, const ScenePoint& scene, int point_type, std::uint32_t index) {
  fill_scene_point(point, scene, point_type);
  if (point.has_wave_packet) {
    // Descriptor index, offset, size, return location and the three direction values.
    point.wave_packet[0] = 1;
    const std::uint64_t offset = 60 + 256ull * index;
    std::memcpy(point.wave_packet + 1, &offset, 8);
    const std::uint32_t packet_size = 256;
    std::memcpy(point.wave_packet + 9, &packet_size, 4);
    const float location = 1000.0f + static_cast<float>(index % 7);
    std::memcpy(point.wave_packet + 13, &location, 4);
  }
  for (std::size_t i = 0; i < point.extra_bytes.size(); i++) {
    point.extra_bytes[i] = static_cast<std::uint8_t>(index * (i + 3) + i);
  }
}

std::vector<std::uint8_t> write_template(const Template& t) {
  SceneOptions options;
  options.points = kTemplatePoints;
  options.seed = static_cast<std::uint32_t>(7 + t.point_type);
  SceneGenerator generator(options);

  LASheader header;
  const bool extended = t.point_type >= 6;
  header.version_minor = extended ? 4 : 2;
  header.header_size = extended ? kHeaderSize14 : kHeaderSize10;
  header.offset_to_point_data = header.header_size;
  header.point_data_format = static_cast<std::uint8_t>(t.point_type);
  header.point_data_record_length =
      static_cast<std::uint16_t>(point_type_base_size(t.point_type) + t.extra_bytes);
  header.set_system_identifier("isocull fuzz seed");
  header.set_generating_software("isocull fuzz");
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.x_offset = std::floor(generator.min_x() / 1000.0) * 1000.0;
  header.y_offset = std::floor(generator.min_y() / 1000.0) * 1000.0;

  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  LASpoint point;
  bool ok = writer.open_stream(&out, &header, t.compressor, t.version, t.chunk_size) &&
            point.init_for_point_type(&header, header.point_data_format,
                                      header.point_data_record_length, &header);
  ScenePoint scene;
  std::uint32_t index = 0;
  while (ok && generator.next(scene)) {
    if (t.chunk_size == 0 && index > 0 && index % 17 == 0) ok = writer.chunk();
    fill_point(point, scene, t.point_type, index++);
    ok = ok && writer.write_point(point);
    writer.count_point(point);
  }
  ok = ok && writer.update_header(&header, true);
  ok = writer.close_writer(true) != 0 && ok;
  if (!ok) finding("a fuzz template could not be written");
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

template <typename T>
T take(const std::uint8_t*& data, std::size_t& size) {
  T value{};
  const std::size_t n = size < sizeof(T) ? size : sizeof(T);
  if (n > 0) std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

}  // namespace

int template_count() {
  return static_cast<int>(std::size(kTemplates));
}

const std::vector<std::uint8_t>& template_file(int index) {
  static std::vector<std::vector<std::uint8_t>> files = [] {
    std::vector<std::vector<std::uint8_t>> made;
    for (const Template& t : kTemplates)
      made.push_back(write_template(t));
    return made;
  }();
  return files[static_cast<std::size_t>(index)];
}

std::string template_name(int index) {
  return kTemplates[index].name;
}

int las_file(const std::uint8_t* data, std::size_t size) {
  read_file(data, size, kDecompressAll, true);
  // The layered readers skip what they are not asked for: another path through the layers.
  std::uint32_t selective = kDecompressZ | kDecompressGpsTime;
  if (size > 0) selective ^= static_cast<std::uint32_t>(data[size - 1]) << 3;
  read_file(data, size, selective, false);
  return 0;
}

int pkz_block(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::uint8_t>& base = template_file(data[0] % template_count());
  std::uint32_t offset = 0;
  std::memcpy(&offset, base.data() + kOffsetOffsetToPointData, 4);
  std::vector<std::uint8_t> file(base.begin(), base.begin() + offset);
  file.insert(file.end(), data + 1, data + size);
  read_file(file.data(), file.size(), kDecompressAll, false);
  return 0;
}

int pkz_items(const std::uint8_t* data, std::size_t size) {
  // The choices first, then the point data block.
  const auto compressor = take<std::uint8_t>(data, size);
  const auto chunk_size = take<std::uint32_t>(data, size);
  const auto point_count = take<std::uint32_t>(data, size);
  const auto num_items = static_cast<std::uint16_t>(take<std::uint8_t>(data, size) % 8);
  std::vector<std::uint8_t> record(34 + 6 * num_items, 0);
  put<std::uint16_t>(record, 0, compressor & 7);
  record[4] = Pakrel::kVersionMajor;
  record[5] = Pakrel::kVersionMinor;
  put<std::uint16_t>(record, 6, Pakrel::kVersionRevision);
  put<std::uint32_t>(record, 12, chunk_size);
  put<std::int64_t>(record, 16, -1);
  put<std::int64_t>(record, 24, -1);
  put<std::uint16_t>(record, 32, num_items);
  std::uint32_t record_length = 0;
  for (std::uint16_t i = 0; i < num_items; i++) {
    const auto type = take<std::uint8_t>(data, size);
    const auto item_size = take<std::uint16_t>(data, size);
    const auto version = take<std::uint8_t>(data, size);
    put<std::uint16_t>(record, 34 + 6 * i, type % 16);
    put<std::uint16_t>(record, 36 + 6 * i, item_size);
    put<std::uint16_t>(record, 38 + 6 * i, version % 8);
    record_length += item_size;
  }

  std::vector<std::uint8_t> file(kHeaderSize10 + kVlrHeadSize, 0);
  std::memcpy(file.data(), "LASF", 4);
  file[kOffsetVersionMajor] = 1;
  file[kOffsetVersionMinor] = 2;
  put<std::uint16_t>(file, kOffsetHeaderSize, kHeaderSize10);
  put<std::uint32_t>(file, kOffsetOffsetToPointData,
                     static_cast<std::uint32_t>(kHeaderSize10 + kVlrHeadSize + record.size()));
  put<std::uint32_t>(file, kOffsetNumberOfVlrs, 1);
  file[kOffsetPointDataFormat] = 0x80 | (compressor >> 4);
  put<std::uint16_t>(file, kOffsetPointDataRecordLength, static_cast<std::uint16_t>(record_length));
  put<std::uint32_t>(file, kOffsetNumberOfPointRecords, point_count);
  put<double>(file, kOffsetScaleFactors, 0.01);
  put<double>(file, kOffsetScaleFactors + 8, 0.01);
  put<double>(file, kOffsetScaleFactors + 16, 0.01);
  // The codec record's VLR head: user id and payload length.
  std::uint8_t* vlr = file.data() + kHeaderSize10;
  std::memcpy(vlr + 2, "pakrel encoded", 14);
  const std::uint16_t record_id = 22204;
  std::memcpy(vlr + 18, &record_id, 2);
  const auto payload = static_cast<std::uint16_t>(record.size());
  std::memcpy(vlr + 20, &payload, 2);
  file.insert(file.end(), record.begin(), record.end());
  file.insert(file.end(), data, data + size);
  read_file(file.data(), file.size(), kDecompressAll, false);
  return 0;
}

std::vector<std::uint8_t> pkz_block_seed(int index) {
  const std::vector<std::uint8_t>& file = template_file(index);
  std::uint32_t offset = 0;
  std::memcpy(&offset, file.data() + kOffsetOffsetToPointData, 4);
  std::vector<std::uint8_t> seed(1 + file.size() - offset);
  seed[0] = static_cast<std::uint8_t>(index);
  std::copy(file.begin() + offset, file.end(), seed.begin() + 1);
  return seed;
}

std::vector<std::uint8_t> pkz_items_seed(const std::vector<std::uint8_t>& file) {
  ByteStreamInArrayLE stream(file.data(), static_cast<std::int64_t>(file.size()));
  LASreaderLAS reader;
  if (!reader.open_stream(&stream) || !reader.header.codec) return {};
  const Pakrel& codec = *reader.header.codec;
  std::uint32_t offset = 0;
  std::memcpy(&offset, file.data() + kOffsetOffsetToPointData, 4);
  std::vector<std::uint8_t> seed;
  auto append = [&seed](const auto& value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    seed.insert(seed.end(), bytes, bytes + sizeof(value));
  };
  append(static_cast<std::uint8_t>(codec.compressor | (reader.header.point_data_format << 4)));
  append(codec.chunk_size);
  append(static_cast<std::uint32_t>(reader.points_total));
  append(static_cast<std::uint8_t>(codec.num_items));
  for (const LASitem& item : codec.items) {
    append(static_cast<std::uint8_t>(item.type));
    append(static_cast<std::uint16_t>(item.size));
    append(static_cast<std::uint8_t>(item.version));
  }
  seed.insert(seed.end(), file.begin() + offset, file.end());
  return seed;
}

}  // namespace fuzz_entry
