#pragma once

#include <cstdint>
#include <string>

#include "layers/lay_file.hpp"

class LASheader;

// Whether the LAY file `lay_name`, whose header holds `stored`, belongs to the point file
// `point_file` as it is now (read with `header` and `point_count`). False with a reason
// that names what differs: the LAY file was made for another file or the file changed.
bool check_lay_identity(const LAYidentity& stored, const std::string& point_file,
                        const LASheader& header, std::uint64_t point_count,
                        std::uint32_t block_bytes, const std::string& lay_name,
                        std::string& failure);

// Whether a new LAY file of `point_file` may take the place of what `lay_name` names now:
// nothing, or a LAY file that belongs to the point file as it is. False with a reason when
// there is a LAY file of another point file (or of this one before it changed), or a file
// that is no LAY file at all: replacing either would lose layers without a word.
bool lay_file_replaceable(const std::string& lay_name, const std::string& point_file,
                          const LASheader& header, std::uint64_t point_count,
                          std::uint32_t block_bytes, std::string& failure);
