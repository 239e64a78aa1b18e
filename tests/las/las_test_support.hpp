#pragma once

// Helpers shared by the LAS reader and writer tests: whole files as bytes, fields picked out
// of them by offset, scratch file names, and the real files written by other producers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace las_test {

inline std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

inline std::filesystem::path real_dir() {
  return std::filesystem::path(ISOCULL_REAL_DATA_DIR);
}

inline std::string real(const char* name) {
  return (real_dir() / name).string();
}

// A scratch file name unique to the running test.
inline std::filesystem::path scratch(const std::string& name) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "isocull_las_tests";
  std::filesystem::create_directories(dir);
  return dir / (std::string(info->test_suite_name()) + "_" + info->name() + "_" + name);
}

// The LAS files of the real-data folder that are not broken on purpose.
inline std::vector<std::string> good_real_las_files() {
  std::vector<std::string> names;
  if (!std::filesystem::is_directory(real_dir())) return names;
  for (const auto& entry : std::filesystem::directory_iterator(real_dir())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".las" && name.rfind("bad-", 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace las_test

#define SKIP_WITHOUT_REAL_DATA()                            \
  if (!std::filesystem::is_directory(las_test::real_dir())) \
  GTEST_SKIP() << "real point files not found at " << las_test::real_dir().string()
