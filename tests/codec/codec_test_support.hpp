#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "stream/bytestream_out.hpp"

namespace codec_test {

// Accepts `capacity` bytes, then refuses every write: a disk that fills up.
class ByteStreamOutLimited : public ByteStreamOut {
 public:
  explicit ByteStreamOutLimited(std::size_t capacity) : capacity_(capacity) {}
  bool can_seek() const override { return true; }
  std::int64_t position() const override { return position_; }
  bool seek_to(std::int64_t pos) override {
    position_ = pos;
    return true;
  }
  bool seek_to_end() override {
    position_ = static_cast<std::int64_t>(bytes_.size());
    return true;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 protected:
  bool write_slow(const std::uint8_t* buffer, std::size_t n) override {
    if (static_cast<std::size_t>(position_) + n > capacity_) return false;
    if (bytes_.size() < static_cast<std::size_t>(position_) + n) bytes_.resize(position_ + n);
    std::memcpy(bytes_.data() + position_, buffer, n);
    position_ += static_cast<std::int64_t>(n);
    return true;
  }

 private:
  std::size_t capacity_;
  std::int64_t position_ = 0;
  std::vector<std::uint8_t> bytes_;
};

// A stream that cannot seek (a pipe), writing into memory.
class ByteStreamOutPipe : public ByteStreamOutLimited {
 public:
  ByteStreamOutPipe() : ByteStreamOutLimited(SIZE_MAX) {}
  bool can_seek() const override { return false; }
  bool seek_to(std::int64_t) override { return false; }
};

// A stream that says it can seek but whose seeks fail (a file whose medium went away).
class ByteStreamOutSeekFails : public ByteStreamOutLimited {
 public:
  ByteStreamOutSeekFails() : ByteStreamOutLimited(SIZE_MAX) {}
  bool seek_to(std::int64_t) override { return false; }
};

inline std::string real_data_path(const char* name) {
  return std::string(ISOCULL_REAL_DATA_DIR) + "/" + name;
}

inline std::optional<std::vector<std::uint8_t>> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
T value_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// Where the LAS header of a whole file puts the things the codec tests need.
struct LasFileFacts {
  std::uint16_t header_size = 0;
  std::uint32_t offset_to_point_data = 0;
  std::uint32_t number_of_vlrs = 0;
  std::uint8_t point_data_format = 0;
  std::uint16_t point_data_record_length = 0;
  std::uint64_t number_of_points = 0;
  std::int64_t codec_payload = -1;  // offset of the "pakrel encoded" payload, -1 when none
  std::uint16_t codec_payload_length = 0;
};

inline LasFileFacts las_file_facts(const std::vector<std::uint8_t>& file) {
  LasFileFacts facts;
  facts.header_size = value_at<std::uint16_t>(file, 94);
  facts.offset_to_point_data = value_at<std::uint32_t>(file, 96);
  facts.number_of_vlrs = value_at<std::uint32_t>(file, 100);
  facts.point_data_format = file[104];
  facts.point_data_record_length = value_at<std::uint16_t>(file, 105);
  facts.number_of_points = value_at<std::uint32_t>(file, 107);
  if (facts.number_of_points == 0 && facts.header_size >= 375) {
    facts.number_of_points = value_at<std::uint64_t>(file, 247);
  }
  std::size_t at = facts.header_size;
  for (std::uint32_t i = 0; i < facts.number_of_vlrs && at + 54 <= file.size(); i++) {
    const std::uint16_t length = value_at<std::uint16_t>(file, at + 20);
    if (std::strncmp(reinterpret_cast<const char*>(file.data() + at + 2), "pakrel encoded", 16) ==
        0) {
      facts.codec_payload = static_cast<std::int64_t>(at + 54);
      facts.codec_payload_length = length;
    }
    at += 54 + length;
  }
  return facts;
}

}  // namespace codec_test
