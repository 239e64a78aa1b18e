#include "layers/lay_identity_check.hpp"

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
