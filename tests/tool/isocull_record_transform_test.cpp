// End to end: a transform whose operations have a record form changes the stored records
// in place in both passes; the output must be the bytes, and the overflow report the lines,
// of the point-by-point path. The point path is forced by handing the transform a filter
// that keeps every point (a filter decides on whole points, so it has no record form).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <random>

#include "filter/las_transform.hpp"
#include "filter/transform_chains.hpp"
#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;
using transform_chains::Chain;
using transform_chains::kChains;
using transform_chains::Types;

std::vector<std::string> words_of(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

bool has_gps_time(int point_type) {
  return point_type != 0 && point_type != 2;
}

// A generated scene of the type whose records get arbitrary values in every field but the
// coordinates, which keep the scene's clusters and isolated points (so there is noise to
// mark), except for a few points at the ends of the stored integers (so translations
// overflow) and around zero (so halves fall on both sides of it).
bool write_varied_scene(const std::string& path, int point_type) {
  if (!write_scene(path, 1000, point_type, 7, false, 0.05)) return false;
  LasRecords file = read_records(path);
  if (!file.ok) return false;
  std::string bytes = read_text(path);
  const bool extended = point_type >= 6;
  const std::size_t length = file.header.point_data_record_length;
  std::mt19937 random(static_cast<std::uint32_t>(point_type) + 1);
  std::uniform_real_distribution<double> times(-2e8, 2e8);
  for (std::size_t i = 0; i < file.records.size(); i++) {
    std::uint8_t* record =
        reinterpret_cast<std::uint8_t*>(bytes.data() + file.header.offset_to_point_data) +
        i * length;
    for (std::size_t b = 12; b < length; b++)
      record[b] = static_cast<std::uint8_t>(random());
    std::int32_t xyz[3];
    std::memcpy(xyz, record, 12);
    if (i % 97 == 1) xyz[0] = INT_MAX - static_cast<std::int32_t>(random() % 40);
    if (i % 97 == 2) xyz[1] = INT_MIN + static_cast<std::int32_t>(random() % 80);
    if (i % 31 == 3) xyz[2] = static_cast<std::int32_t>(random() % 11) - 5;
    std::memcpy(record, xyz, 12);
    if (has_gps_time(point_type)) {
      const double time = times(random);
      std::memcpy(record + (extended ? 22 : 20), &time, 8);
    }
  }
  std::FILE* file_out = std::fopen(path.c_str(), "wb");
  if (file_out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_out) == bytes.size();
  return std::fclose(file_out) == 0 && written;
}

std::string overflow_lines(const std::string& err) {
  std::string lines;
  std::size_t at = 0;
  while ((at = err.find("WARNING: total of", at)) != std::string::npos) {
    const std::size_t end = err.find('\n', at);
    lines += err.substr(at, end - at + 1);
    at = end;
  }
  return lines;
}

// The record form the chain should have on records of the type: else the test would
// compare the point path with itself.
bool chain_has_record_form(const Chain& chain, int point_type) {
  LAStransform transform;
  if (!transform.parse(chain.operations)) return false;
  LASheader header;
  LASpoint point;
  if (!point.init_for_point_type(&header, static_cast<std::uint8_t>(point_type),
                                 static_cast<std::uint16_t>(kPoint14Size + 40), &header)) {
    return false;
  }
  LASrecordLayout layout;
  return LASrecordLayout::of(point, layout) && transform.has_record_form(layout);
}

// Each chain runs once over a file of every point type (the path is chosen per file).
TEST(IsocullRecordTransform, RecordsChangedInPlaceAreTheBytesOfThePointPathOnEveryType) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* folder : {"/in", "/records", "/points"})
    ASSERT_EQ(mkdir((dir.path() + folder).c_str(), 0755), 0);
  std::vector<std::string> inputs;
  for (int type = 0; type <= 10; type++) {
    inputs.push_back("in/type" + std::to_string(type) + ".las");
    ASSERT_TRUE(write_varied_scene(dir.path() + "/" + inputs.back(), type)) << type;
  }
  for (const Chain& chain : kChains) {
    std::size_t with_record_form = 0;
    for (int type = 0; type <= 10; type++) {
      const bool expected = chain.types == Types::kAll ||
                            (chain.types == Types::kWithGpsTime && has_gps_time(type)) ||
                            (chain.types == Types::kLegacy && type < 6) ||
                            (chain.types == Types::kExtended && type >= 6);
      ASSERT_EQ(chain_has_record_form(chain, type), expected) << chain.family << " type " << type;
      with_record_form += expected;
    }
    EXPECT_GE(with_record_form, 5u);
    // A small input buffer puts records across buffer fills, which are read as points.
    std::vector<std::string> args = {"-i"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"-io_ibuffer", "4000"});
    const std::vector<std::string> operations = words_of(chain.operations);
    args.insert(args.end(), operations.begin(), operations.end());
    std::vector<std::string> records = args, points = args;
    records.insert(records.end(), {"-odir", "records"});
    points.insert(points.end(),
                  {"-keep_z_above", "-1e30", "-filtered_transform", "-odir", "points"});
    const ToolRun by_record = run_tool(records, dir.path());
    const ToolRun by_point = run_tool(points, dir.path());
    ASSERT_EQ(by_record.exit_code, 0) << by_record.err;
    ASSERT_EQ(by_point.exit_code, 0) << by_point.err;
    EXPECT_EQ(by_record.count("classified"), inputs.size()) << by_record.err;
    // One line per file and operation that overflowed, in file order.
    EXPECT_EQ(overflow_lines(by_record.err), overflow_lines(by_point.err)) << chain.family;
    for (int type = 0; type <= 10; type++) {
      const std::string name = "/type" + std::to_string(type) + ".las";
      const std::string out = read_text(dir.path() + "/records" + name);
      ASSERT_FALSE(out.empty());
      EXPECT_TRUE(out == read_text(dir.path() + "/points" + name))
          << chain.family << " on point type " << type;
    }
  }
}

TEST(IsocullRecordTransform, OverflowsAreCountedAndNoisePointsMarkedAlikeInEveryMode) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (const int type : {1, 6}) {
    const std::string input = dir.path() + "/in" + std::to_string(type) + ".las";
    ASSERT_TRUE(write_varied_scene(input, type));
    for (const char* mode : {"-flag_as_withheld", "-remove_noise"}) {
      const std::vector<std::string> args = {
          "-i", input, mode, "-translate_xyz", "0.5", "0.5", "0", "-scale_intensity", "2"};
      std::vector<std::string> records = args, points = args;
      records.insert(records.end(), {"-o", "records.las"});
      points.insert(points.end(),
                    {"-keep_z_above", "-1e30", "-filtered_transform", "-o", "points.las"});
      const ToolRun by_record = run_tool(records, dir.path());
      const ToolRun by_point = run_tool(points, dir.path());
      ASSERT_EQ(by_record.exit_code, 0) << by_record.err;
      ASSERT_EQ(by_point.exit_code, 0) << by_point.err;
      EXPECT_TRUE(read_text(dir.path() + "/records.las") == read_text(dir.path() + "/points.las"))
          << mode << " on point type " << type;
      // The points at the end of the stored integers overflow, once each, in the last pass.
      EXPECT_TRUE(
          by_record.printed("WARNING: total of 11 overflows caused by '-translate_xyz "
                            "0.500000 0.500000 0.000000 '\n"))
          << by_record.err;
      EXPECT_EQ(overflow_lines(by_record.err), overflow_lines(by_point.err));
      // The verdicts that the bytes agree on include noise.
      EXPECT_FALSE(by_record.printed(" 0 noise points")) << by_record.err;
    }
  }
}

}  // namespace
