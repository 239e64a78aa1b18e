#include "las/las_writer.hpp"

namespace {
constexpr std::int64_t kLegacyLimit = 4294967296;  // 2^32
}  // namespace

bool LAStally::copy_to(LASheader& header) const {
  const bool extended_header = header.version_major == 1 && header.version_minor >= 4;
  if (!extended_header) {
    if (number_of_point_records >= kLegacyLimit) return false;
    for (int i = 1; i <= kLegacyReturnCount; i++) {
      if (number_of_points_by_return[i] >= kLegacyLimit) return false;
    }
  }
  // Point types 6-10 keep their counts in the LAS 1.4 fields only.
  const bool new_point_type = (header.point_data_format & 0x3F) >= 6;
  auto legacy = [new_point_type](std::int64_t count) {
    return count < kLegacyLimit && !new_point_type ? static_cast<std::uint32_t>(count) : 0u;
  };
  header.number_of_point_records = legacy(number_of_point_records);
  for (int i = 0; i < kLegacyReturnCount; i++) {
    header.number_of_points_by_return[i] = legacy(number_of_points_by_return[i + 1]);
  }
  header.extended_number_of_point_records = static_cast<std::uint64_t>(number_of_point_records);
  for (int i = 0; i < kExtendedReturnCount; i++) {
    header.extended_number_of_points_by_return[i] =
        static_cast<std::uint64_t>(number_of_points_by_return[i + 1]);
  }
  header.min_x = header.get_x(min_X);
  header.max_x = header.get_x(max_X);
  header.min_y = header.get_y(min_Y);
  header.max_y = header.get_y(max_Y);
  header.min_z = header.get_z(min_Z);
  header.max_z = header.get_z(max_Z);
  return true;
}
