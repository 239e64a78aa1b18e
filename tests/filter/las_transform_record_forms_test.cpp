// The record form of every operation that has one changes stored records exactly as reading
// each record into a point, transforming the point and storing it again would: each
// operation alone and each chain of a family, on records of every point type whose fields
// hold arbitrary values (and coordinates at the ends of the stored integers).

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "filter/las_record_layout.hpp"
#include "filter/las_transform.hpp"
#include "filter/transform_chains.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "scene/scene_las.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

using transform_chains::Chain;
using transform_chains::kChains;
using transform_chains::Types;

bool applies(Types types, int point_type) {
  const bool gps_time = point_type != 0 && point_type != 2;
  return types == Types::kAll || (types == Types::kWithGpsTime && gps_time) ||
         (types == Types::kLegacy && point_type < 6) ||
         (types == Types::kExtended && point_type >= 6);
}

// The operations of a chain one by one, each with its arguments ("-7" is an argument,
// "-scale_z" an operation).
std::vector<std::string> operations_of(const char* chain) {
  std::vector<std::string> operations;
  std::istringstream in(chain);
  for (std::string word; in >> word;) {
    const bool starts_operation =
        word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
    if (starts_operation || operations.empty()) {
      operations.push_back(word);
    } else {
      operations.back() += " " + word;
    }
  }
  return operations;
}

// A generated file of the type whose records hold arbitrary bytes but for the coordinates
// (a few at the ends of the 32-bit range, a few around zero) and a GPS time in range.
struct VariedFile {
  std::vector<std::uint8_t> bytes;
  std::size_t start = 0, length = 0, count = 0;
};

VariedFile varied_file(int point_type) {
  VariedFile file;
  char name[] = "/tmp/isocull_record_forms_XXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  SceneFileOptions options;
  options.scene.points = 300;
  options.scene.seed = 5;
  options.point_type = point_type;
  EXPECT_TRUE(write_scene_las(name, options));
  std::FILE* in = std::fopen(name, "rb");
  EXPECT_NE(in, nullptr);
  for (int c; (c = std::fgetc(in)) != EOF;)
    file.bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(in);
  unlink(name);
  auto u32 = [&](std::size_t at) {
    return std::size_t{file.bytes[at]} | std::size_t{file.bytes[at + 1]} << 8 |
           std::size_t{file.bytes[at + 2]} << 16 | std::size_t{file.bytes[at + 3]} << 24;
  };
  file.start = u32(96);
  file.length = std::size_t{file.bytes[105]} | std::size_t{file.bytes[106]} << 8;
  file.count = (file.bytes.size() - file.start) / file.length;
  std::mt19937 random(static_cast<std::uint32_t>(point_type) * 31 + 1);
  std::uniform_real_distribution<double> times(-2e8, 2e8);
  const bool extended = point_type >= 6;
  for (std::size_t i = 0; i < file.count; i++) {
    std::uint8_t* record = file.bytes.data() + file.start + i * file.length;
    for (std::size_t b = 12; b < file.length; b++)
      record[b] = static_cast<std::uint8_t>(random());
    std::int32_t xyz[3];
    std::memcpy(xyz, record, 12);
    if (i % 37 == 1) xyz[0] = INT_MAX - static_cast<std::int32_t>(random() % 40);
    if (i % 37 == 2) xyz[1] = INT_MIN + static_cast<std::int32_t>(random() % 80);
    if (i % 11 == 3) xyz[2] = static_cast<std::int32_t>(random() % 11) - 5;
    std::memcpy(record, xyz, 12);
    if (point_type != 0 && point_type != 2) {
      const double time = times(random);
      std::memcpy(record + (extended ? 22 : 20), &time, 8);
    }
  }
  return file;
}

// The records after the point form: each read into a point, transformed, written.
std::vector<std::uint8_t> by_points(const VariedFile& file, const std::string& operations) {
  LAStransform transform;
  EXPECT_TRUE(transform.parse(operations.c_str())) << operations;
  ByteStreamInArray in(file.bytes.data(), static_cast<std::int64_t>(file.bytes.size()));
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open_stream(&in));
  LASheader header = reader.header;
  ByteStreamOutArray out;
  LASwriterLAS writer;
  EXPECT_TRUE(writer.open_stream(&out, &header));
  while (reader.read_next()) {
    transform.transform(reader.point);
    EXPECT_TRUE(writer.write_point(reader.point));
  }
  EXPECT_GT(writer.close_writer(false), 0);
  const std::size_t start = out.data()[96] | out.data()[97] << 8 | out.data()[98] << 16;
  return std::vector<std::uint8_t>(out.data() + start,
                                   out.data() + start + file.count * file.length);
}

// The records after the record form, or nothing when the operations have none.
std::vector<std::uint8_t> by_records(const VariedFile& file, const std::string& operations) {
  LAStransform transform;
  EXPECT_TRUE(transform.parse(operations.c_str())) << operations;
  ByteStreamInArray in(file.bytes.data(), static_cast<std::int64_t>(file.bytes.size()));
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open_stream(&in));
  LASrecordLayout layout;
  if (!LASrecordLayout::of(reader.point, layout) || !transform.has_record_form(layout)) return {};
  std::vector<std::uint8_t> records(
      file.bytes.begin() + static_cast<long>(file.start),
      file.bytes.begin() + static_cast<long>(file.start + file.count * file.length));
  // In two calls, as a reader hands them over buffer by buffer.
  const std::size_t half = file.count / 2;
  transform.transform_records(records.data(), half, layout);
  transform.transform_records(records.data() + half * file.length, file.count - half, layout);
  return records;
}

// The bytes where two records differ, as "byte: record form / point form".
std::string describe_difference(const std::vector<std::uint8_t>& records,
                                const std::vector<std::uint8_t>& points, std::size_t at,
                                std::size_t length) {
  std::string text;
  for (std::size_t b = 0; b < length; b++) {
    if (records[at + b] == points[at + b]) continue;
    text += " byte " + std::to_string(b) + ": " + std::to_string(records[at + b]) + " / " +
            std::to_string(points[at + b]);
  }
  return text;
}

// Keeps the overflow warnings out of the test's output, whichever way the test ends.
struct QuietStderr {
  QuietStderr() { testing::internal::CaptureStderr(); }
  ~QuietStderr() { testing::internal::GetCapturedStderr(); }
};

TEST(LasTransformRecordForms, EveryOperationAndChainChangesRecordsAsThePointFormDoes) {
  const QuietStderr quiet;  // the overflow warnings
  for (int type = 0; type <= 10; type++) {
    const VariedFile file = varied_file(type);
    ASSERT_GT(file.count, 100u);
    std::size_t compared = 0;
    for (const Chain& chain : kChains) {
      if (!applies(chain.types, type)) continue;
      std::vector<std::string> cases = operations_of(chain.operations);
      cases.push_back(chain.operations);
      for (const std::string& operations : cases) {
        SCOPED_TRACE("point type " + std::to_string(type) + ": " + operations);
        const std::vector<std::uint8_t> records = by_records(file, operations);
        if (operations == chain.operations) {
          ASSERT_FALSE(records.empty());
        }
        if (records.empty()) continue;  // an operation of the chain without a record form
        const std::vector<std::uint8_t> points = by_points(file, operations);
        ASSERT_EQ(records.size(), points.size());
        for (std::size_t i = 0; i < file.count; i++) {
          const std::size_t at = i * file.length;
          ASSERT_TRUE(std::equal(records.begin() + static_cast<long>(at),
                                 records.begin() + static_cast<long>(at + file.length),
                                 points.begin() + static_cast<long>(at)))
              << "record " << i << ": " << describe_difference(records, points, at, file.length);
        }
        compared++;
      }
    }
    EXPECT_GE(compared, 20u) << "point type " << type;
  }
}

}  // namespace
