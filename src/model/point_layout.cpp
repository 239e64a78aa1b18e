#include "model/point_layout.hpp"

#include <cstdio>

namespace {

struct PointTypeLayout {
  int base_size;
  bool extended;  // POINT14 core
  bool gps_time;  // a GPSTIME11 item (types 0-5 only)
  int colour;     // 0 none, 1 RGB, 2 RGB + NIR
  bool wave_packet;
};

constexpr PointTypeLayout kLayouts[kMaxPointType + 1] = {
    {20, false, false, 0, false},  // 0
    {28, false, true, 0, false},   // 1
    {26, false, false, 1, false},  // 2
    {34, false, true, 1, false},   // 3
    {57, false, true, 0, true},    // 4
    {63, false, true, 1, true},    // 5
    {30, true, false, 0, false},   // 6
    {36, true, false, 1, false},   // 7
    {38, true, false, 2, false},   // 8
    {59, true, false, 0, true},    // 9
    {67, true, false, 2, true},    // 10
};

LASitem make_item(LASitem::Type type, int size) {
  LASitem item;
  item.type = type;
  item.size = static_cast<std::uint16_t>(size);
  item.version = 0;
  return item;
}

}  // namespace

int point_type_base_size(int point_type) {
  if (point_type < 0 || point_type > kMaxPointType) return -1;
  return kLayouts[point_type].base_size;
}

bool build_point_type_items(int point_type, int point_size, bool legacy_items_for_extended,
                            std::vector<LASitem>& items) {
  items.clear();
  if (point_type < 0 || point_type > kMaxPointType) return false;
  const PointTypeLayout& layout = kLayouts[point_type];

  int extra_bytes = point_size - layout.base_size;
  if (extra_bytes < 0) {
    std::fprintf(stderr,
                 "WARNING: point size %d too small by %d bytes for point type %d. assuming "
                 "point_size of %d\n",
                 point_size, -extra_bytes, point_type, layout.base_size);
    extra_bytes = 0;
  }

  bool extended = layout.extended;
  bool gps_time = layout.gps_time;
  int colour = layout.colour;
  if (extended && legacy_items_for_extended) {
    // The extended fields (and the near infrared) ride along as extra bytes.
    extra_bytes += (colour == 2) ? 7 : 5;
    extended = false;
    gps_time = true;
    if (colour == 2) colour = 1;
  }

  if (extended) {
    items.push_back(make_item(LASitem::POINT14, 30));
  } else {
    items.push_back(make_item(LASitem::POINT10, 20));
  }
  if (gps_time) items.push_back(make_item(LASitem::GPSTIME11, 8));
  if (colour == 1) items.push_back(make_item(extended ? LASitem::RGB14 : LASitem::RGB12, 6));
  if (colour == 2) items.push_back(make_item(LASitem::RGBNIR14, 8));
  if (layout.wave_packet) {
    items.push_back(make_item(extended ? LASitem::WAVEPACKET14 : LASitem::WAVEPACKET13, 29));
  }
  if (extra_bytes > 0) {
    items.push_back(make_item(extended ? LASitem::BYTE14 : LASitem::BYTE, extra_bytes));
  }
  return true;
}
