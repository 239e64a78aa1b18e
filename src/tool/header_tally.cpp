#include "tool/header_tally.hpp"

#include <cstdint>

#include "las/las_writer.hpp"
#include "model/header_layout.hpp"
#include "model/las_header.hpp"

void describe_tally(LASheader& header, const LAStally& tally) {
  constexpr std::uint64_t kLegacyLimit = 0xFFFFFFFFull;
  const bool legacy_type = (header.point_data_format & 0x3F) < 6;
  const bool version_14 = header.version_major == 1 && header.version_minor >= 4;
  const std::uint64_t count = static_cast<std::uint64_t>(tally.number_of_point_records);
  auto legacy = [&](std::uint64_t value) -> std::uint32_t {
    if (!legacy_type) return 0;
    if (value <= kLegacyLimit) return static_cast<std::uint32_t>(value);
    return version_14 ? 0 : static_cast<std::uint32_t>(kLegacyLimit);
  };
  header.number_of_point_records = legacy(count);
  for (int i = 0; i < kLegacyReturnCount; i++) {
    header.number_of_points_by_return[i] =
        legacy(static_cast<std::uint64_t>(tally.number_of_points_by_return[i + 1]));
  }
  if (version_14) {
    header.extended_number_of_point_records = count;
    for (int i = 0; i < kExtendedReturnCount; i++) {
      header.extended_number_of_points_by_return[i] =
          static_cast<std::uint64_t>(tally.number_of_points_by_return[i + 1]);
    }
  }
  if (count == 0) return;
  header.min_x = header.get_x(tally.min_X);
  header.max_x = header.get_x(tally.max_X);
  header.min_y = header.get_y(tally.min_Y);
  header.max_y = header.get_y(tally.max_Y);
  header.min_z = header.get_z(tally.min_Z);
  header.max_z = header.get_z(tally.max_Z);
}
