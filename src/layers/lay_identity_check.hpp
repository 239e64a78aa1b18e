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
