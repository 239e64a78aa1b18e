// The items of every point type, the point bound to them, and the POINT14 record field by
// field: expectations written out by hand from the record formats, not derived from the code.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "model/las_attribute.hpp"
#include "model/las_point.hpp"
#include "model/point_layout.hpp"

namespace {

using Items = std::vector<std::pair<LASitem::Type, int>>;

struct TypeRow {
  int point_type;
  int base_size;
  Items items;         // at the base size plus three extra bytes
  Items legacy_items;  // the same with the legacy option (types 6-10 change)
  bool gps_time, rgb, nir, wave_packet;
};

const std::vector<TypeRow>& type_rows() {
  using T = LASitem;
  static const std::vector<TypeRow> rows = {
      {0, 20, {{T::POINT10, 20}, {T::BYTE, 3}}, {}, false, false, false, false},
      {1, 28, {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::BYTE, 3}}, {}, true, false, false, false},
      {2, 26, {{T::POINT10, 20}, {T::RGB12, 6}, {T::BYTE, 3}}, {}, false, true, false, false},
      {3,
       34,
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::RGB12, 6}, {T::BYTE, 3}},
       {},
       true,
       true,
       false,
       false},
      {4,
       57,
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::WAVEPACKET13, 29}, {T::BYTE, 3}},
       {},
       true,
       false,
       false,
       true},
      {5,
       63,
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::RGB12, 6}, {T::WAVEPACKET13, 29}, {T::BYTE, 3}},
       {},
       true,
       true,
       false,
       true},
      {6,
       30,
       {{T::POINT14, 30}, {T::BYTE14, 3}},
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::BYTE, 8}},
       true,
       false,
       false,
       false},
      {7,
       36,
       {{T::POINT14, 30}, {T::RGB14, 6}, {T::BYTE14, 3}},
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::RGB12, 6}, {T::BYTE, 8}},
       true,
       true,
       false,
       false},
      {8,
       38,
       {{T::POINT14, 30}, {T::RGBNIR14, 8}, {T::BYTE14, 3}},
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::RGB12, 6}, {T::BYTE, 10}},
       true,
       true,
       true,
       false},
      {9,
       59,
       {{T::POINT14, 30}, {T::WAVEPACKET14, 29}, {T::BYTE14, 3}},
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::WAVEPACKET13, 29}, {T::BYTE, 8}},
       true,
       false,
       false,
       true},
      {10,
       67,
       {{T::POINT14, 30}, {T::RGBNIR14, 8}, {T::WAVEPACKET14, 29}, {T::BYTE14, 3}},
       {{T::POINT10, 20}, {T::GPSTIME11, 8}, {T::RGB12, 6}, {T::WAVEPACKET13, 29}, {T::BYTE, 10}},
       true,
       true,
       true,
       true},
  };
  return rows;
}

Items pairs_of(const std::vector<LASitem>& items) {
  Items pairs;
  for (const LASitem& item : items)
    pairs.emplace_back(item.type, item.size);
  return pairs;
}

TEST(PointLayout, EveryPointTypeGivesItsItemsWithAndWithoutTheLegacyOption) {
  for (const TypeRow& row : type_rows()) {
    SCOPED_TRACE("point type " + std::to_string(row.point_type));
    EXPECT_EQ(point_type_base_size(row.point_type), row.base_size);
    std::vector<LASitem> items;
    ASSERT_TRUE(build_point_type_items(row.point_type, row.base_size + 3, false, items));
    EXPECT_EQ(pairs_of(items), row.items);
    ASSERT_TRUE(build_point_type_items(row.point_type, row.base_size + 3, true, items));
    EXPECT_EQ(pairs_of(items), row.legacy_items.empty() ? row.items : row.legacy_items);
    // At the base size there is no byte item.
    ASSERT_TRUE(build_point_type_items(row.point_type, row.base_size, false, items));
    Items without_extra = row.items;
    without_extra.pop_back();
    EXPECT_EQ(pairs_of(items), without_extra);
  }
  EXPECT_EQ(point_type_base_size(-1), -1);
  EXPECT_EQ(point_type_base_size(11), -1);
  std::vector<LASitem> items;
  EXPECT_FALSE(build_point_type_items(-1, 20, false, items));
}

TEST(LasPoint, EveryPointTypeBindsItsItemsToTheFieldsTheyFill) {
  for (const TypeRow& row : type_rows()) {
    SCOPED_TRACE("point type " + std::to_string(row.point_type));
    LASscaling scaling;
    LASpoint point;
    ASSERT_TRUE(point.init_for_point_type(&scaling, static_cast<std::uint8_t>(row.point_type),
                                          static_cast<std::uint16_t>(row.base_size + 3), nullptr));
    EXPECT_EQ(point.record_size, row.base_size + 3);
    EXPECT_EQ(point.extra_bytes_size, 3);
    EXPECT_EQ(point.extra_bytes.size(), 3u);
    EXPECT_EQ(point.num_items, row.items.size());
    EXPECT_EQ(pairs_of(point.items), row.items);
    EXPECT_EQ(point.extended_layout != 0, row.point_type >= 6);
    EXPECT_EQ(point.has_gps_time, row.gps_time);
    EXPECT_EQ(point.has_rgb, row.rgb);
    EXPECT_EQ(point.has_nir, row.nir);
    EXPECT_EQ(point.has_wave_packet, row.wave_packet);
    EXPECT_EQ(point.scaling, &scaling);
    ASSERT_EQ(point.item_data.size(), row.items.size());
    for (std::size_t i = 0; i < row.items.size(); i++) {
      const std::uint8_t* expected = nullptr;
      switch (row.items[i].first) {
        case LASitem::POINT10:
        case LASitem::POINT14:
          expected = reinterpret_cast<const std::uint8_t*>(static_cast<LASpointFields*>(&point));
          break;
        case LASitem::GPSTIME11:
          expected = reinterpret_cast<const std::uint8_t*>(&point.gps_time);
          break;
        case LASitem::RGB12:
        case LASitem::RGB14:
        case LASitem::RGBNIR14:
          expected = reinterpret_cast<const std::uint8_t*>(point.rgb);
          break;
        case LASitem::WAVEPACKET13:
        case LASitem::WAVEPACKET14:
          expected = point.wave_packet;
          break;
        default:
          expected = point.extra_bytes.data();
      }
      EXPECT_EQ(point.item_data[i], expected) << "item " << i;
      if (row.items[i].first != LASitem::BYTE && row.items[i].first != LASitem::BYTE14) {
        EXPECT_EQ(LASitem::fixed_size(row.items[i].first), row.items[i].second);
      }
    }
  }
}

TEST(LasItem, OnlyTheValuesOfTheEnumerationAreItemTypesWithTheirSizesAndNames) {
  struct Row {
    std::uint32_t value;
    bool item;
    int size;
    const char* name;
  };
  const Row rows[] = {
      {0, true, 0, "BYTE"},          {1, false, 0, "UNKNOWN"},        {5, false, 0, "UNKNOWN"},
      {6, true, 20, "POINT10"},      {7, true, 8, "GPSTIME11"},       {8, true, 6, "RGB12"},
      {9, true, 29, "WAVEPACKET13"}, {10, true, 30, "POINT14"},       {11, true, 6, "RGB14"},
      {12, true, 8, "RGBNIR14"},     {13, true, 29, "WAVEPACKET14"},  {14, true, 0, "BYTE14"},
      {15, false, 0, "UNKNOWN"},     {1u << 16, false, 0, "UNKNOWN"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("value " + std::to_string(row.value));
    EXPECT_EQ(LASitem::is_item_type(row.value), row.item);
    const auto type = static_cast<LASitem::Type>(row.value);
    EXPECT_EQ(LASitem::fixed_size(type), row.size);
    EXPECT_STREQ(LASitem::type_name(type), row.name);
  }
}

// A POINT14 record with every field distinct from its neighbours' bits.
struct Point14Row {
  std::int32_t X, Y, Z;
  std::uint16_t intensity;
  int r, n;
  bool synthetic, keypoint, withheld, overlap;
  int channel;
  bool scan_direction, edge;
  std::uint8_t class_byte, user_data;
  std::int16_t angle;
  std::uint16_t source;
  double gps_time;
  // What the legacy fields become.
  int legacy_r, legacy_n, legacy_class, legacy_angle;
};

std::array<std::uint8_t, 30> encode(const Point14Row& p) {
  std::array<std::uint8_t, 30> bytes{};
  auto put = [&](int at, const void* value, int size) { std::memcpy(&bytes[at], value, size); };
  put(0, &p.X, 4);
  put(4, &p.Y, 4);
  put(8, &p.Z, 4);
  put(12, &p.intensity, 2);
  bytes[14] = static_cast<std::uint8_t>(p.r | (p.n << 4));
  bytes[15] = static_cast<std::uint8_t>(p.synthetic | (p.keypoint << 1) | (p.withheld << 2) |
                                        (p.overlap << 3) | (p.channel << 4) |
                                        (p.scan_direction << 6) | (p.edge << 7));
  bytes[16] = p.class_byte;
  bytes[17] = p.user_data;
  put(18, &p.angle, 2);
  put(20, &p.source, 2);
  put(22, &p.gps_time, 8);
  return bytes;
}

TEST(LasPoint, Point14RecordsAreReadFieldByFieldAndWrittenBackToTheSameBytes) {
  const Point14Row rows[] = {
      {0x01020304, -5,    7,  0xBEEF, 3,     5,      true,       false, true, true, 2,
       true,       false, 45, 0x9A,   -1234, 0xA1B2, 123456.789, 3,     5,    0,    -7},
      {-2,    0x7FFFFFFF, -0x12345, 1, 2,    3, false, true, false, false, 1,
       false, true,       6,        0, 1300, 7, -0.5,  2,    3,     6,     8},
      {0,    0,    0,  0,   15,     15,     true, true, true, true, 3,
       true, true, 31, 255, -30000, 0xFFFF, 1e9,  7,    7,    31,   -128},
      {1,     1,     1,   0, 0,     0, false, false, false, false, 0,
       false, false, 255, 1, 29999, 0, 0.0,   0,     0,     0,     127},
  };
  for (const Point14Row& row : rows) {
    SCOPED_TRACE("record with class " + std::to_string(row.class_byte));
    const auto bytes = encode(row);
    LASpoint point;
    point.extended_layout = 1;
    point.read_point14(bytes.data());
    EXPECT_EQ(point.X, row.X);
    EXPECT_EQ(point.Y, row.Y);
    EXPECT_EQ(point.Z, row.Z);
    EXPECT_EQ(point.intensity, row.intensity);
    EXPECT_EQ(point.extended_return_number, row.r);
    EXPECT_EQ(point.extended_number_of_returns, row.n);
    EXPECT_EQ(point.return_number, row.legacy_r);
    EXPECT_EQ(point.number_of_returns, row.legacy_n);
    EXPECT_EQ(point.synthetic_flag, row.synthetic);
    EXPECT_EQ(point.keypoint_flag, row.keypoint);
    EXPECT_EQ(point.withheld_flag, row.withheld);
    EXPECT_EQ(point.get_overlap_flag(), row.overlap);
    EXPECT_EQ(point.extended_classification_flags,
              row.synthetic | (row.keypoint << 1) | (row.withheld << 2) | (row.overlap << 3));
    EXPECT_EQ(point.extended_scanner_channel, row.channel);
    EXPECT_EQ(point.scan_direction_flag, row.scan_direction);
    EXPECT_EQ(point.edge_of_flight_line, row.edge);
    EXPECT_EQ(point.extended_classification, row.class_byte);
    EXPECT_EQ(point.classification, row.legacy_class);
    EXPECT_EQ(point.get_classification(), row.class_byte);
    EXPECT_EQ(point.user_data, row.user_data);
    EXPECT_EQ(point.extended_scan_angle, row.angle);
    EXPECT_EQ(point.scan_angle_rank, row.legacy_angle);
    EXPECT_EQ(point.point_source_ID, row.source);
    EXPECT_EQ(point.gps_time, row.gps_time);
    std::array<std::uint8_t, 30> written{};
    point.write_point14(written.data());
    EXPECT_EQ(written, bytes);
  }
}

TEST(LasPoint, LegacyPointsWrittenAsPoint14KeepEveryLegacyField) {
  LASpoint point;
  point.X = -3;
  point.Y = 0x10203040;
  point.Z = 9;
  point.intensity = 0x1234;
  point.return_number = 4;
  point.number_of_returns = 6;
  point.scan_direction_flag = 0;
  point.edge_of_flight_line = 1;
  point.classification = 17;
  point.synthetic_flag = 0;
  point.keypoint_flag = 1;
  point.withheld_flag = 1;
  point.scan_angle_rank = -90;
  point.user_data = 200;
  point.point_source_ID = 0x0102;
  point.gps_time = 77.25;
  std::array<std::uint8_t, 30> written{};
  point.write_point14(written.data());
  Point14Row expected = {-3,     0x10203040, 9, 0x1234, 4,    6,  false, true,
                         true,   false,      0, false,  true, 17, 200,   -15000,
                         0x0102, 77.25,      0, 0,      0,    0};
  EXPECT_EQ(written, encode(expected));
}

TEST(LasPoint, CopiesKeepTheScalingAndEveryLayoutValueAndMovesLeaveTheSourceEmpty) {
  LASscaling scaling;
  scaling.x_scale_factor = 0.5;
  scaling.x_offset = 1000.0;
  scaling.y_scale_factor = 0.25;
  scaling.z_offset = -20.0;
  LASattributeSet attributes;
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&scaling, 8, 40, &attributes));
  point.X = 10;
  point.Y = 8;
  point.Z = 3;
  point.extra_bytes[1] = 0x5A;
  point.rgb[3] = 999;
  point.fill_coordinates();

  auto expect_same = [&](const LASpoint& copy) {
    EXPECT_EQ(copy.scaling, &scaling);
    EXPECT_EQ(copy.attribute_set, &attributes);
    EXPECT_EQ(copy.get_x(), 1005.0);
    EXPECT_EQ(copy.get_y(), 2.0);
    EXPECT_DOUBLE_EQ(copy.get_z(), -19.97);
    EXPECT_EQ(copy.coordinates[0], 1005.0);
    EXPECT_DOUBLE_EQ(copy.coordinates[2], -19.97);
    EXPECT_TRUE(copy.has_gps_time && copy.has_rgb && copy.has_nir);
    EXPECT_FALSE(copy.has_wave_packet);
    EXPECT_EQ(copy.extended_layout, 1);
    EXPECT_EQ(copy.record_size, 40);
    EXPECT_EQ(copy.extra_bytes_size, 2);
    EXPECT_EQ(copy.num_items, 3);
    EXPECT_EQ(copy.extra_bytes[1], 0x5A);
    EXPECT_EQ(copy.rgb[3], 999);
    ASSERT_EQ(copy.item_data.size(), 3u);
    EXPECT_EQ(copy.item_data[1], reinterpret_cast<const std::uint8_t*>(copy.rgb));
    EXPECT_EQ(copy.item_data[2], copy.extra_bytes.data());
  };
  LASpoint copy(point);
  expect_same(copy);
  LASpoint assigned;
  assigned = point;
  expect_same(assigned);

  LASpoint moved(std::move(copy));
  expect_same(moved);
  // The source of a move is a reset point: no items, no bytes, no pointer into the moved
  // buffers.
  EXPECT_EQ(copy.num_items, 0);
  EXPECT_EQ(copy.record_size, 0);
  EXPECT_EQ(copy.extra_bytes_size, 0);
  EXPECT_TRUE(copy.items.empty());
  EXPECT_TRUE(copy.item_data.empty());
  EXPECT_TRUE(copy.extra_bytes.empty());
  EXPECT_FALSE(copy.has_gps_time || copy.has_rgb || copy.has_nir);
  EXPECT_EQ(copy.X, 0);
}

TEST(LasPoint, AFailedBindingLeavesNoTraceOfTheFormerLayout) {
  // A point never bound is as empty as a reset one.
  const LASpoint fresh;
  EXPECT_FALSE(fresh.has_gps_time || fresh.has_rgb || fresh.has_nir || fresh.has_wave_packet);
  EXPECT_EQ(fresh.num_items, 0);
  EXPECT_EQ(fresh.record_size, 0);
  EXPECT_EQ(fresh.extra_bytes_size, 0);
  EXPECT_EQ(fresh.scaling, nullptr);
  EXPECT_EQ(fresh.attribute_set, nullptr);

  LASscaling scaling;
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&scaling, 5, 70, nullptr));
  point.X = 100;
  point.fill_coordinates();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(point.init_for_point_type(&scaling, 11, 70, nullptr));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(point.num_items, 0);
  EXPECT_EQ(point.record_size, 0);
  EXPECT_EQ(point.extra_bytes_size, 0);
  EXPECT_TRUE(point.items.empty());
  EXPECT_TRUE(point.item_data.empty());
  EXPECT_FALSE(point.has_gps_time || point.has_rgb || point.has_wave_packet);
  EXPECT_EQ(point.coordinates[0], 0.0);
  EXPECT_EQ(point.X, 0);

  // An unknown item in the middle of a list: nothing of the items before it is kept.
  const LASitem items[] = {
      {LASitem::POINT10, 20, 0}, {LASitem::RGB12, 6, 0}, {static_cast<LASitem::Type>(2), 4, 0}};
  ASSERT_TRUE(point.init_for_point_type(&scaling, 5, 70, nullptr));
  EXPECT_FALSE(point.init_layout(&scaling, 3, items, nullptr));
  EXPECT_EQ(point.num_items, 0);
  EXPECT_EQ(point.record_size, 0);
  EXPECT_FALSE(point.has_rgb);
  EXPECT_EQ(point.scaling, &scaling);
  EXPECT_FALSE(point.init_layout(&scaling, 2, nullptr, nullptr));
  EXPECT_TRUE(point.init_layout(&scaling, 0, nullptr, nullptr));
}

TEST(LasPoint, ValuesAreCopiedAndClearedWithoutTouchingTheLayout) {
  LASpoint legacy;
  ASSERT_TRUE(legacy.init_for_point_type(nullptr, 1, 31, nullptr));
  LASpoint extended;
  ASSERT_TRUE(extended.init_for_point_type(nullptr, 6, 32, nullptr));
  legacy.X = 42;
  legacy.classification = 9;
  legacy.gps_time = 5.5;
  legacy.extra_bytes[0] = 1;
  legacy.extra_bytes[1] = 2;
  legacy.extra_bytes[2] = 3;

  extended.copy_values_from(legacy);
  EXPECT_EQ(extended.X, 42);
  EXPECT_EQ(extended.classification, 9);
  EXPECT_EQ(extended.gps_time, 5.5);
  EXPECT_EQ(extended.extended_layout, 1);
  EXPECT_EQ(extended.extra_bytes, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(extended.num_items, 2);

  legacy.copy_values_from(extended);
  EXPECT_EQ(legacy.extended_layout, 0);
  EXPECT_EQ(legacy.extra_bytes, (std::vector<std::uint8_t>{1, 2, 3}));

  extended.return_number = 3;
  extended.extended_number_of_returns = 4;
  extended.clear_values();
  EXPECT_EQ(extended.X, 0);
  EXPECT_EQ(extended.gps_time, 0.0);
  EXPECT_EQ(extended.return_number, 1);
  EXPECT_EQ(extended.extended_number_of_returns, 1);
  EXPECT_EQ(extended.extended_layout, 1);
  EXPECT_EQ(extended.num_items, 2);
  EXPECT_EQ(extended.extra_bytes, (std::vector<std::uint8_t>{0, 0}));
}

TEST(LasPoint, EachAxisIsQuantizedWithItsOwnScaleAndOffset) {
  LASscaling scaling;
  scaling.x_scale_factor = 0.1;
  scaling.y_scale_factor = 0.01;
  scaling.z_scale_factor = 0.001;
  scaling.x_offset = 500000.0;
  scaling.y_offset = 4000000.0;
  scaling.z_offset = -100.0;
  LASpoint point;
  point.scaling = &scaling;
  EXPECT_TRUE(point.set_x(500012.34));
  EXPECT_TRUE(point.set_y(3999999.9849));
  EXPECT_TRUE(point.set_z(-99.998));
  EXPECT_EQ(point.X, 123);
  EXPECT_EQ(point.Y, -2);  // -1.51: rounded away from zero below the offset
  EXPECT_EQ(point.Z, 2);
  EXPECT_FALSE(point.set_y(4000000.0 + 0.01 * 2147483648.0));
  EXPECT_TRUE(point.set_y(4000000.0 + 0.01 * 2147483647.0));
  EXPECT_EQ(point.Y, 2147483647);
  EXPECT_FALSE(point.set_z(-100.0 - 0.001 * 2147483649.0));
  EXPECT_TRUE(point.set_z(-100.0 - 0.001 * 2147483648.0));
  EXPECT_EQ(point.Z, -2147483647 - 1);
  // Without a scaling the default 0.01 of every axis applies.
  LASpoint unscaled;
  EXPECT_TRUE(unscaled.set_z(1.0));
  EXPECT_EQ(unscaled.Z, 100);
}

TEST(LasPoint, FlagMutatorsKeepTheLegacyAndTheExtendedBitsInStep) {
  LASpoint point;
  point.set_keypoint_flag(true);
  EXPECT_EQ(point.keypoint_flag, 1);
  EXPECT_EQ(point.extended_classification_flags, 0x2);
  point.set_overlap_flag(true);
  EXPECT_EQ(point.extended_classification_flags, 0xA);
  point.set_synthetic_flag(true);
  EXPECT_EQ(point.extended_classification_flags, 0xB);
  point.set_keypoint_flag(false);
  point.set_overlap_flag(false);
  EXPECT_EQ(point.keypoint_flag, 0);
  EXPECT_EQ(point.extended_classification_flags, 0x1);
  point.set_synthetic_flag(false);
  EXPECT_EQ(point.synthetic_flag, 0);
  EXPECT_EQ(point.extended_classification_flags, 0);

  point.set_classification(31);
  EXPECT_EQ(point.classification, 31);
  EXPECT_EQ(point.extended_classification, 31);
  point.set_classification(32);
  EXPECT_EQ(point.classification, 0);
  EXPECT_EQ(point.extended_classification, 32);
  EXPECT_EQ(point.get_classification(), 0);  // a legacy point knows no class above 31
  point.extended_layout = 1;
  EXPECT_EQ(point.get_classification(), 32);

  point.set_return_number(7);
  point.set_number_of_returns(8);
  EXPECT_EQ(point.return_number, 7);
  EXPECT_EQ(point.number_of_returns, 7);
  point.set_extended_return_number(0x1C);
  point.set_extended_number_of_returns(0x2B);
  point.set_extended_scanner_channel(6);
  EXPECT_EQ(point.extended_return_number, 0xC);
  EXPECT_EQ(point.extended_number_of_returns, 0xB);
  EXPECT_EQ(point.extended_scanner_channel, 2);
  EXPECT_EQ(point.get_inventory_return_number(), 0xC);
  point.extended_layout = 0;
  EXPECT_EQ(point.get_inventory_return_number(), 7);
}

TEST(LasPoint, ScanAnglesRoundHalfAwayFromZeroInBothLayouts) {
  struct Row {
    float degrees;
    int rank;
    int extended;
  };
  const Row rows[] = {{2.5f, 3, 417},   {-2.5f, -3, -417}, {0.4f, 0, 67},
                      {-0.003f, 0, -1}, {0.003f, 0, 1},    {90.0f, 90, 15000}};
  for (const Row& row : rows) {
    LASpoint point;
    point.set_scan_angle(row.degrees);
    EXPECT_EQ(point.scan_angle_rank, row.rank) << row.degrees;
    EXPECT_EQ(point.get_scan_angle(), static_cast<float>(row.rank));
    point.extended_layout = 1;
    point.set_scan_angle(row.degrees);
    EXPECT_EQ(point.extended_scan_angle, row.extended) << row.degrees;
    EXPECT_FLOAT_EQ(point.get_scan_angle(), 0.006f * row.extended);
  }
}

}  // namespace
