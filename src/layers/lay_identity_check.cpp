#include "layers/lay_identity_check.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

bool check_lay_identity(const LAYidentity& stored, const std::string& point_file,
                        const LASheader& header, std::uint64_t point_count,
                        std::uint32_t block_bytes, const std::string& lay_name,
                        std::string& failure) {
  // Hashing what the LAY file asks for could mean reading the whole point file; a file
  // made with other block sizes is not ours to trust anyway.
  if (stored.head_block != block_bytes || stored.tail_block != block_bytes) {
    failure = "'" + lay_name + "' was made with another identity block size";
    return false;
  }
  LAYidentity current;
  if (!identify_point_file(point_file, header, point_count, block_bytes, current, failure)) {
    return false;
  }
  if (stored == current) return true;
  const char* what = "its bytes differ";
  if (stored.point_count != current.point_count) {
    what = "its point count differs";
  } else if (stored.point_format != current.point_format ||
             stored.record_length != current.record_length) {
    what = "its point type differs";
  } else if (stored.file_size != current.file_size) {
    what = "its size differs";
  }
  failure = "'" + lay_name + "' belongs to another point file or '" + point_file +
            "' changed since (" + what + ")";
  return false;
}

bool lay_file_replaceable(const std::string& lay_name, const std::string& point_file,
                          const LASheader& header, std::uint64_t point_count,
                          std::uint32_t block_bytes, std::string& failure) {
  struct stat info {};
  if (lstat(lay_name.c_str(), &info) != 0) return true;
  // The identity is in the file header, whose size is a 16-bit number: whatever the file
  // is, no more is read.
  std::vector<std::uint8_t> bytes(0x10000);
  std::size_t size = 0;
  if (S_ISREG(info.st_mode)) {
    if (std::FILE* file = std::fopen(lay_name.c_str(), "rb")) {
      size = std::fread(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
  }
  LAYidentity stored;
  std::uint32_t layer_count = 0;
  std::size_t layers_at = 0;
  std::string reason;
  if (!S_ISREG(info.st_mode) ||
      !decode_lay_header(bytes.data(), size, stored, layer_count, layers_at, reason)) {
    failure = "'" + lay_name + "' is there and is no LAY file" +
              (reason.empty() ? std::string() : " (" + reason + ")");
    return false;
  }
  return check_lay_identity(stored, point_file, header, point_count, block_bytes, lay_name,
                            failure);
}
