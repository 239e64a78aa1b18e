#pragma once

// Helpers of the text reader and writer tests: scratch folders, text files, the points a
// reader delivers, and the real files written by other producers.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "formats/las_reader_txt.hpp"

#define CAPTURE_STDERR(captured, statement)            \
  do {                                                 \
    testing::internal::CaptureStderr();                \
    statement;                                         \
    captured = testing::internal::GetCapturedStderr(); \
  } while (0)

namespace text_test {

// A private folder, removed with everything in it.
class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/isocull_text_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~Folder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream out(*this / name, std::ios::binary);
    out << text;
    return *this / name;
  }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::filesystem::path real_dir() {
  return std::filesystem::path(ISOCULL_REAL_DATA_DIR);
}
inline std::string real(const char* name) {
  return (real_dir() / name).string();
}

// The whitespace-, comma- or semicolon-separated fields of a line, quotes kept.
inline std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r') {
      if (!field.empty()) out.push_back(field);
      field.clear();
    } else {
      field.push_back(c);
    }
  }
  if (!field.empty()) out.push_back(field);
  return out;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

// Integer of a coordinate, rounded half away from zero, the way a LAS file stores it.
inline std::int64_t stored(double value, double scale, double offset) {
  const double q = (value - offset) / scale;
  return static_cast<std::int64_t>(q >= 0 ? std::floor(q + 0.5) : std::ceil(q - 0.5));
}

// Every point a reader delivers, copied.
inline std::vector<LASpoint> all_points(LASreader& reader) {
  std::vector<LASpoint> points;
  while (reader.read_next())
    points.push_back(reader.point);
  return points;
}

}  // namespace text_test

#define SKIP_WITHOUT_REAL_DATA()                             \
  if (!std::filesystem::is_directory(text_test::real_dir())) \
  GTEST_SKIP() << "real point files not found at " << text_test::real_dir().string()
