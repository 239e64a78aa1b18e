#pragma once

// Helpers of the format tests: bytes built field by field from the published layouts (never
// by the project's writers), and files read whole.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace formats_test {

inline const std::string kRealData = ISOCULL_REAL_DATA_DIR;

inline std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Appends values in a chosen byte order.
class Bytes {
 public:
  std::vector<std::uint8_t> data;

  Bytes& le32(std::int64_t value) { return put(static_cast<std::uint64_t>(value), 4, false); }
  Bytes& be32(std::int64_t value) { return put(static_cast<std::uint64_t>(value), 4, true); }
  Bytes& le16(std::uint16_t value) { return put(value, 2, false); }
  Bytes& u8(std::uint8_t value) { return put(value, 1, false); }
  Bytes& word32(std::int64_t value, bool big_endian) {
    return put(static_cast<std::uint64_t>(value), 4, big_endian);
  }
  Bytes& f64(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    return put(bits, 8, false);
  }
  Bytes& text(const char* characters, std::size_t length) {
    for (std::size_t i = 0; i < length; i++)
      data.push_back(static_cast<std::uint8_t>(characters[i]));
    return *this;
  }
  Bytes& zeros(std::size_t count) {
    data.insert(data.end(), count, 0);
    return *this;
  }
  std::size_t size() const { return data.size(); }

 private:
  Bytes& put(std::uint64_t value, int width, bool big_endian) {
    for (int i = 0; i < width; i++) {
      const int shift = 8 * (big_endian ? width - 1 - i : i);
      data.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return *this;
  }
};

// Reading values back from bytes by hand.
inline std::int32_t le32_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::int32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[at + 3]) << 24));
}
inline std::int32_t be32_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[at]) << 24) |
                                   (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]);
}
inline std::uint16_t le16_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
inline double f64_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  double value;
  std::memcpy(&value, bytes.data() + at, 8);
  return value;
}

}  // namespace formats_test
