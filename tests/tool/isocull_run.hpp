#pragma once

// Helpers of the end-to-end tests: run the built isocull binary, read LAS files as raw
// records, and decide independently, by brute force, which points are noise.

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "model/point_layout.hpp"
#include "scene/scene_las.hpp"
#include "select/las_ignore.hpp"

namespace isocull_test {

inline const std::string kBinary = ISOCULL_BINARY_DIR "/isocull";
inline const std::string kRealData = ISOCULL_REAL_DATA_DIR;

struct ToolRun {
  int exit_code = -1;
  std::string err;  // everything the tool printed on stderr
  std::string out;  // what it printed on stdout, when the run kept it
  bool printed(const std::string& text) const { return err.find(text) != std::string::npos; }
  std::size_t count(const std::string& text) const {
    std::size_t n = 0;
    for (std::size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
      n++;
    return n;
  }
};

inline std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Runs the tool in `dir` with `args`, its temporary files under `tmpdir` (when given) and
// `input` on standard input; with `keep_output` its standard output is kept in `out`.
inline ToolRun run_tool(const std::vector<std::string>& args, const std::string& dir,
                        const std::string& tmpdir = "", const std::string& input = "",
                        bool keep_output = false) {
  const std::string err_path = dir + "/.stderr";
  const std::string out_path = keep_output ? dir + "/.stdout" : "/dev/null";
  const std::string in_path = dir + "/.stdin";
  {
    std::ofstream in(in_path, std::ios::binary);
    in << input;
  }
  // Appended piece by piece: GCC 12 warns falsely about "literal" + std::string.
  std::string command;
  command.append("cd ").append(shell_quoted(dir)).append(" && ");
  if (!tmpdir.empty()) command.append("TMPDIR=").append(shell_quoted(tmpdir)).append(" ");
  command.append(shell_quoted(kBinary));
  for (const std::string& arg : args)
    command.append(" ").append(shell_quoted(arg));
  command.append(" <").append(shell_quoted(in_path));
  command.append(" 2>").append(shell_quoted(err_path));
  command.append(" >").append(shell_quoted(out_path));
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = read_text(err_path);
  std::remove(err_path.c_str());
  if (keep_output) {
    run.out = read_text(out_path);
    std::remove(out_path.c_str());
  }
  std::remove(in_path.c_str());
  return run;
}

// A LAS file as its header and its raw point records (as many as the file really holds).
struct LasRecords {
  bool ok = false;
  LASheader header;
  std::vector<std::vector<std::uint8_t>> records;
};

inline LasRecords read_records(const std::string& path) {
  LasRecords file;
  {
    // Opened fully, so that the header holds its records too.
    LASreaderLAS reader;
    if (!reader.open_file(path.c_str())) return file;
    file.header = reader.header;
  }
  const std::string bytes = read_text(path);
  const std::size_t length = file.header.point_data_record_length;
  const std::size_t start = file.header.offset_to_point_data;
  if (length == 0 || bytes.size() < start) return file;
  const std::uint64_t stored = (bytes.size() - start) / length;
  const std::uint64_t count = std::min<std::uint64_t>(file.header.point_count(), stored);
  for (std::uint64_t i = 0; i < count; i++) {
    const char* record = bytes.data() + start + i * length;
    file.records.emplace_back(record, record + length);
  }
  file.ok = true;
  return file;
}

// The file's points as raw records of an uncompressed copy written to `scratch` by the
// project's reader and writer (a compressed file cannot be cut into records directly).
inline LasRecords decoded_records(const std::string& path, const std::string& scratch) {
  {
    LASreaderLAS reader;
    if (!reader.open_file(path.c_str())) return {};
    LASheader header = reader.header;
    header.codec.reset();
    LASwriterLAS writer;
    if (!writer.open_file(scratch.c_str(), &header)) return {};
    while (reader.read_next()) {
      if (!writer.write_point(reader.point)) return {};
    }
    if (writer.close_writer(true) == 0) return {};
  }
  return read_records(scratch);
}

struct NoiseParameters {
  float step_xy = 4.0f;
  float step_z = 4.0f;
  int isolated = 5;
  bool by_flightline = false;
  const LASignore* ignore = nullptr;
};

// The verdict of every point, decided the plain way: count the points of every cell in a
// map, then a point is noise when its cell and the 26 around it hold at most isolated + 1
// points. Ignored points are neither counted nor noise.
struct Verdicts {
  bool ok = false;
  std::vector<bool> noise;
  std::vector<bool> ignored;
  std::uint64_t noise_count = 0;
};

inline Verdicts brute_force_verdicts(const std::string& path, const NoiseParameters& p) {
  using Cell = std::array<std::int64_t, 4>;  // flightline, layer, column, row
  Verdicts verdicts;
  LASreaderLAS reader;
  if (!reader.open_file(path.c_str())) return verdicts;
  std::vector<Cell> cells;
  std::map<Cell, std::uint64_t> counts;
  const double step_xy = p.step_xy;
  const double step_z = p.step_z;
  while (reader.read_next()) {
    const LASpoint& point = reader.point;
    const bool ignored = p.ignore != nullptr && p.ignore->ignore(point);
    verdicts.ignored.push_back(ignored);
    const Cell cell = {p.by_flightline ? point.point_source_ID : 0,
                       static_cast<std::int64_t>(std::floor(point.get_z() / step_z)),
                       static_cast<std::int64_t>(std::floor(point.get_x() / step_xy)),
                       static_cast<std::int64_t>(std::floor(point.get_y() / step_xy))};
    cells.push_back(cell);
    if (!ignored) counts[cell]++;
  }
  const std::uint64_t threshold = static_cast<std::uint64_t>(p.isolated) + 1;
  for (std::size_t i = 0; i < cells.size(); i++) {
    bool noise = false;
    if (!verdicts.ignored[i]) {
      std::uint64_t around = 0;
      for (int dz = -1; dz <= 1; dz++) {
        for (int dx = -1; dx <= 1; dx++) {
          for (int dy = -1; dy <= 1; dy++) {
            const Cell neighbour = {cells[i][0], cells[i][1] + dz, cells[i][2] + dx,
                                    cells[i][3] + dy};
            const auto found = counts.find(neighbour);
            if (found != counts.end()) around += found->second;
          }
        }
      }
      noise = around <= threshold;
    }
    verdicts.noise.push_back(noise);
    if (noise) verdicts.noise_count++;
  }
  verdicts.ok = true;
  return verdicts;
}

// Where the marks live in a raw record: the class byte of point types 0-5 (classification in
// bits 0-4, withheld bit 7) or, for 6-10, the flags byte (withheld bit 2) and the class byte.
inline bool extended_record(const LASheader& header) {
  return (header.point_data_format & 0x3F) >= 6;
}
constexpr std::size_t kLegacyClassByte = 15;
constexpr std::size_t kExtendedFlagsByte = 15;
constexpr std::size_t kExtendedClassByte = 16;

inline std::vector<std::uint8_t> classified(std::vector<std::uint8_t> record, bool extended,
                                            std::uint8_t code) {
  if (extended) {
    record[kExtendedClassByte] = code;
  } else {
    record[kLegacyClassByte] = static_cast<std::uint8_t>((record[kLegacyClassByte] & 0xE0) | code);
  }
  return record;
}

inline std::vector<std::uint8_t> withheld(std::vector<std::uint8_t> record, bool extended) {
  if (extended) {
    record[kExtendedFlagsByte] |= 0x04;
  } else {
    record[kLegacyClassByte] |= 0x80;
  }
  return record;
}

// Writes a generated scene (with the given share of injected noise).
inline bool write_scene(const std::string& path, std::uint64_t points, int point_type,
                        std::uint32_t seed = 1, bool feet = false, double noise = 0.01) {
  SceneFileOptions options;
  options.scene.points = points;
  options.scene.seed = seed;
  options.scene.feet = feet;
  options.scene.noise_fraction = noise;
  options.point_type = point_type;
  return write_scene_las(path.c_str(), options);
}

// Writes a LAS 1.2 file of point type 1 holding the given points (coordinates in metres,
// scale 0.01), each with the given classification.
struct SimplePoint {
  double x, y, z;
  std::uint8_t classification = 1;
  std::uint16_t point_source_ID = 1;
};
inline bool write_points(const std::string& path, const std::vector<SimplePoint>& points) {
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.number_of_point_records = static_cast<std::uint32_t>(points.size());
  LASpoint point;
  if (!point.init_for_point_type(&header, 1, 28, &header)) return false;
  LASwriterLAS writer;
  if (!writer.open_file(path.c_str(), &header)) return false;
  double gps_time = 1000.0;
  for (const SimplePoint& p : points) {
    point.set_x(p.x);
    point.set_y(p.y);
    point.set_z(p.z);
    point.set_classification(p.classification);
    point.point_source_ID = p.point_source_ID;
    point.gps_time = gps_time++;
    if (!writer.write_point(point)) return false;
    writer.count_point(point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

// The bounds and counts a header must hold for these records (legacy types: X, Y, Z at 0,
// 4, 8; the return number in the low 3 bits of byte 14, or 4 bits for 6-10).
struct RecordSummary {
  std::uint64_t count = 0;
  std::uint64_t by_return[16] = {};
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0, min_z = 0, max_z = 0;
};
inline RecordSummary summarize(const std::vector<std::vector<std::uint8_t>>& records,
                               const LASheader& header) {
  RecordSummary summary;
  std::int32_t lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (const auto& record : records) {
    std::int32_t xyz[3];
    std::memcpy(xyz, record.data(), sizeof(xyz));
    for (int k = 0; k < 3; k++) {
      if (summary.count == 0 || xyz[k] < lo[k]) lo[k] = xyz[k];
      if (summary.count == 0 || xyz[k] > hi[k]) hi[k] = xyz[k];
    }
    const int return_number = extended_record(header) ? (record[14] & 0x0F) : (record[14] & 0x07);
    summary.by_return[return_number]++;
    summary.count++;
  }
  summary.min_x = header.get_x(lo[0]);
  summary.max_x = header.get_x(hi[0]);
  summary.min_y = header.get_y(lo[1]);
  summary.max_y = header.get_y(hi[1]);
  summary.min_z = header.get_z(lo[2]);
  summary.max_z = header.get_z(hi[2]);
  return summary;
}

enum class Mode { kClassify, kFlag, kRemove };

// Compares the output with the input record by record: noise points carry the mark of the
// mode and differ in nothing else; every other point is byte-identical; in remove mode the
// output holds exactly the other points and a header that describes them.
inline void expect_marked(const std::string& input_path, const std::string& output_path, Mode mode,
                          std::uint8_t code, const Verdicts& verdicts) {
  ASSERT_TRUE(verdicts.ok);
  const LasRecords input = read_records(input_path);
  ASSERT_TRUE(input.ok) << input_path;
  ASSERT_EQ(input.records.size(), verdicts.noise.size());
  std::vector<std::vector<std::uint8_t>> expected;
  const bool extended = extended_record(input.header);
  for (std::size_t i = 0; i < input.records.size(); i++) {
    const bool noise = verdicts.noise[i];
    switch (mode) {
      case Mode::kClassify:
        expected.push_back(noise ? classified(input.records[i], extended, code) : input.records[i]);
        break;
      case Mode::kFlag:
        expected.push_back(noise ? withheld(input.records[i], extended) : input.records[i]);
        break;
      case Mode::kRemove:
        if (!noise) expected.push_back(input.records[i]);
        break;
    }
  }
  if (expected.empty()) {
    EXPECT_FALSE(exists(output_path)) << "an empty output is removed: " << output_path;
    return;
  }
  const LasRecords output = read_records(output_path);
  ASSERT_TRUE(output.ok) << output_path;
  ASSERT_EQ(output.records.size(), expected.size()) << output_path;
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < expected.size(); i++) {
    if (output.records[i] != expected[i] && wrong++ < 5) {
      ADD_FAILURE() << output_path << ": record " << i << " is not as expected";
    }
  }
  EXPECT_EQ(wrong, 0u) << output_path;
  EXPECT_EQ(output.header.point_count(), expected.size());
  if (mode == Mode::kRemove) {
    const RecordSummary summary = summarize(output.records, output.header);
    EXPECT_EQ(output.header.min_x, summary.min_x);
    EXPECT_EQ(output.header.max_x, summary.max_x);
    EXPECT_EQ(output.header.min_y, summary.min_y);
    EXPECT_EQ(output.header.max_y, summary.max_y);
    EXPECT_EQ(output.header.min_z, summary.min_z);
    EXPECT_EQ(output.header.max_z, summary.max_z);
    if (!extended) {
      for (int r = 0; r < 5; r++)
        EXPECT_EQ(output.header.number_of_points_by_return[r], summary.by_return[r + 1]) << r;
    }
  } else if (input.records.size() == input.header.point_count()) {
    // Without filter or area the header counts of a complete input stay.
    EXPECT_EQ(output.header.number_of_point_records, input.header.number_of_point_records);
    EXPECT_EQ(output.header.extended_number_of_point_records,
              input.header.extended_number_of_point_records);
  }
}

}  // namespace isocull_test
