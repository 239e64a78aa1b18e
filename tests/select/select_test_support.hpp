#pragma once

// Helpers of the factory tests: argument vectors that parsers can blank, private scratch
// directories, and small LAS files written by the project's own writer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "las/las_writer_las.hpp"
#include "model/las_header.hpp"
#include "model/las_point.hpp"

namespace select_test {

// An argument vector whose entries can be blanked in place, as the parsers do.
struct Args {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  explicit Args(std::vector<std::string> entries) : storage(std::move(entries)) {
    storage.insert(storage.begin(), "tool");
    for (std::string& entry : storage)
      argv.push_back(entry.data());
  }
  int argc() const { return static_cast<int>(argv.size()); }
  char** data() { return argv.data(); }
  // The entries (after the program name) that no parser consumed.
  std::vector<std::string> left() const {
    std::vector<std::string> entries;
    for (std::size_t i = 1; i < argv.size(); i++) {
      if (argv[i][0] != '\0') entries.emplace_back(argv[i]);
    }
    return entries;
  }
};

// A directory of its own for one test, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/isocull_select_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Creates a file (and its directories) with the given text.
  std::string touch(const std::string& name, const std::string& text = "") const {
    const std::string full = *this / name;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full;
  }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// A LAS 1.2 header of point type 1 for `count` points, scale 0.01 and offset 0.
inline LASheader make_header(std::uint32_t count, std::uint16_t file_source_ID = 0,
                             std::uint8_t point_type = 1) {
  LASheader header;
  header.file_source_ID = file_source_ID;
  header.point_data_format = point_type;
  header.point_data_record_length = point_type == 1 ? 28 : 30;
  if (point_type >= 6) {
    header.version_minor = 4;
    header.header_size = 375;
    header.offset_to_point_data = 375;
  }
  header.number_of_point_records = point_type >= 6 ? 0 : count;
  header.extended_number_of_point_records = count;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  return header;
}

// Writes a LAS file of point type 1 holding the given coordinates, with the header's
// bounds and counts taken from the points. Returns false when the writer failed.
inline bool write_las(const std::string& path, const std::vector<std::array<double, 3>>& xyz,
                      std::uint16_t file_source_ID = 0) {
  LASheader header = make_header(static_cast<std::uint32_t>(xyz.size()), file_source_ID);
  LASpoint point;
  if (!point.init_for_point_type(&header, header.point_data_format, header.point_data_record_length,
                                 &header)) {
    return false;
  }
  LASwriterLAS writer;
  if (!writer.open_file(path.c_str(), &header)) return false;
  bool ok = true;
  for (const auto& p : xyz) {
    point.set_x(p[0]);
    point.set_y(p[1]);
    point.set_z(p[2]);
    point.point_source_ID = 3;
    ok = writer.write_point(point) && ok;
    writer.count_point(point);
  }
  ok = writer.update_header(&header, true) && ok;
  return writer.close_writer(true) > 0 && ok;
}

}  // namespace select_test

// Runs `statement` with stderr captured into `captured`.
#define CAPTURE_STDERR(captured, statement)            \
  do {                                                 \
    testing::internal::CaptureStderr();                \
    statement;                                         \
    captured = testing::internal::GetCapturedStderr(); \
  } while (0)
