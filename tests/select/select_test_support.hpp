#pragma once

// Helpers of the factory tests: argument vectors that parsers can blank, private scratch
// directories, small LAS files written by the project's own writer, and FIFOs fed from a
// thread.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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

// Writes `file` (or `bytes`) into the FIFO `fifo` from a thread of its own, as a producer
// piping into a reader would. A reader that stops early or never comes is stood in for at
// the end: what is left is drained, so that the writer finishes.
class FifoFeed {
 public:
  FifoFeed(const std::string& fifo, const std::string& file)
      : FifoFeed(fifo, file_bytes(file), true) {}
  FifoFeed(const std::string& fifo, std::vector<std::uint8_t> bytes, bool) : fifo_(fifo) {
    std::signal(SIGPIPE, SIG_IGN);
    ok_ = mkfifo(fifo.c_str(), 0600) == 0;
    if (ok_) {
      writer_ = std::thread([this, fifo, bytes = std::move(bytes)] {
        feed(fifo, bytes);
        done_ = true;
      });
    }
  }
  ~FifoFeed() {
    const int drain = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[65536];
    while (drain >= 0 && !done_) {
      if (read(drain, buffer, sizeof(buffer)) <= 0) usleep(1000);
    }
    if (writer_.joinable()) writer_.join();
    if (drain >= 0) close(drain);
    std::remove(fifo_.c_str());
  }
  FifoFeed(const FifoFeed&) = delete;
  FifoFeed& operator=(const FifoFeed&) = delete;
  bool ok() const { return ok_; }

 private:
  static void feed(const std::string& fifo, const std::vector<std::uint8_t>& bytes) {
    const int out = open(fifo.c_str(), O_WRONLY);
    if (out < 0) return;
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
    close(out);
  }

  std::string fifo_;
  bool ok_ = false;
  std::atomic<bool> done_{false};
  std::thread writer_;
};

}  // namespace select_test

// Runs `statement` with stderr captured into `captured`.
#define CAPTURE_STDERR(captured, statement)            \
  do {                                                 \
    testing::internal::CaptureStderr();                \
    statement;                                         \
    captured = testing::internal::GetCapturedStderr(); \
  } while (0)
