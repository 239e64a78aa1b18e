#include "model/las_point.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "model/point_layout.hpp"

namespace {

std::vector<LASitem> items_of(int point_type, int point_size, bool legacy = false) {
  std::vector<LASitem> items;
  EXPECT_TRUE(build_point_type_items(point_type, point_size, legacy, items));
  return items;
}

TEST(PointLayout, StandardTypesGiveTheirItemsAndExtraBytesBecomeOneByteItem) {
  auto items = items_of(1, 28);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].type, LASitem::POINT10);
  EXPECT_EQ(items[1].type, LASitem::GPSTIME11);

  items = items_of(1, 30);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].type, LASitem::BYTE);
  EXPECT_EQ(items[2].size, 2);

  items = items_of(6, 35);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].type, LASitem::POINT14);
  EXPECT_EQ(items[1].type, LASitem::BYTE14);
  EXPECT_EQ(items[1].size, 5);

  items = items_of(10, 67);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].type, LASitem::RGBNIR14);
  EXPECT_EQ(items[2].type, LASitem::WAVEPACKET14);
}

TEST(PointLayout, ShortRecordWarnsAndDropsExtraBytes) {
  testing::internal::CaptureStderr();
  auto items = items_of(3, 30);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(items.size(), 3u);
  EXPECT_EQ(err,
            "WARNING: point size 30 too small by 4 bytes for point type 3. assuming point_size "
            "of 34\n");
}

TEST(PointLayout, LegacyOptionDescribesExtendedTypesWithOldItems) {
  auto items = items_of(8, 38, true);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].type, LASitem::POINT10);
  EXPECT_EQ(items[1].type, LASitem::GPSTIME11);
  EXPECT_EQ(items[2].type, LASitem::RGB12);
  EXPECT_EQ(items[3].type, LASitem::BYTE);
  EXPECT_EQ(items[3].size, 7);
  items = items_of(6, 30, true);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].size, 5);
}

TEST(PointLayout, UnknownPointTypeIsRefused) {
  std::vector<LASitem> items;
  EXPECT_FALSE(build_point_type_items(11, 30, false, items));
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(point_type_base_size(11), -1);
  EXPECT_EQ(point_type_base_size(5), 63);
}

TEST(LasPoint, ResetPointIsFirstOfOneInLegacyAndExtendedFields) {
  LASpoint point;
  point.X = 5;
  point.return_number = 3;
  point.extended_number_of_returns = 9;
  point.reset();
  EXPECT_EQ(point.X, 0);
  EXPECT_EQ(point.return_number, 1);
  EXPECT_EQ(point.number_of_returns, 1);
  EXPECT_EQ(point.extended_return_number, 1);
  EXPECT_EQ(point.extended_number_of_returns, 1);
  std::uint8_t record[20];
  std::memcpy(record, static_cast<LASpointFields*>(&point), 20);
  EXPECT_EQ(record[14], 0x09);
}

TEST(LasPoint, InitForPointTypeBindsItemDataToTheFields) {
  LASscaling scaling;
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&scaling, 3, 40, nullptr));
  EXPECT_EQ(point.num_items, 4);
  EXPECT_EQ(point.record_size, 40);
  EXPECT_TRUE(point.has_gps_time);
  EXPECT_TRUE(point.has_rgb);
  EXPECT_FALSE(point.has_nir);
  EXPECT_EQ(point.extra_bytes_size, 6);
  EXPECT_EQ(point.item_data[1], reinterpret_cast<std::uint8_t*>(&point.gps_time));
  EXPECT_EQ(point.item_data[3], point.extra_bytes.data());

  // POINT10 is one 20-byte copy of the record bytes.
  const std::uint8_t record[20] = {1, 0, 0,  0, 2,    0,    0,    0, 3,    0,
                                   0, 0, 10, 0, 0x52, 0x87, 0xF6, 9, 0x34, 0x12};
  std::memcpy(point.item_data[0], record, 20);
  EXPECT_EQ(point.X, 1);
  EXPECT_EQ(point.Z, 3);
  EXPECT_EQ(point.intensity, 10);
  EXPECT_EQ(point.return_number, 2);
  EXPECT_EQ(point.number_of_returns, 2);
  EXPECT_EQ(point.scan_direction_flag, 1);
  EXPECT_EQ(point.edge_of_flight_line, 0);
  EXPECT_EQ(point.classification, 7);
  EXPECT_EQ(point.withheld_flag, 1);
  EXPECT_EQ(point.scan_angle_rank, -10);
  EXPECT_EQ(point.user_data, 9);
  EXPECT_EQ(point.point_source_ID, 0x1234);
}

TEST(LasPoint, CopiesPointIntoTheirOwnStorage) {
  LASscaling scaling;
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&scaling, 1, 31, nullptr));
  point.extra_bytes[2] = 77;
  LASpoint copy = point;
  EXPECT_EQ(copy.extra_bytes[2], 77);
  EXPECT_EQ(copy.item_data[0],
            reinterpret_cast<std::uint8_t*>(static_cast<LASpointFields*>(&copy)));
  EXPECT_EQ(copy.item_data[2], copy.extra_bytes.data());
  EXPECT_EQ(&LASpoint::from_item(copy.item_data[0]), &copy);
}

TEST(LasPoint, SeveralByteItemsFollowEachOtherInTheExtraBytes) {
  const LASitem items[] = {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 3, 0}, {LASitem::BYTE, 5, 0}};
  LASpoint point;
  ASSERT_TRUE(point.init_layout(nullptr, 3, items, nullptr));
  EXPECT_EQ(point.extra_bytes_size, 8);
  EXPECT_EQ(point.item_data[1], point.extra_bytes.data());
  EXPECT_EQ(point.item_data[2], point.extra_bytes.data() + 3);
}

TEST(LasPoint, UnknownTypeFailsWithMessageAndLeavesPointReset) {
  LASpoint point;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(point.init_for_point_type(nullptr, 12, 30, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: unknown point type 12 with point size 30\n");
  EXPECT_EQ(point.num_items, 0);
  LASitem bad{static_cast<LASitem::Type>(3), 4, 0};
  EXPECT_FALSE(point.init_layout(nullptr, 1, &bad, nullptr));
}

std::array<std::uint8_t, 30> point14_record(int r, int n, std::uint8_t flags,
                                            std::uint8_t class_byte, std::int16_t angle) {
  std::array<std::uint8_t, 30> bytes{};
  bytes[14] = static_cast<std::uint8_t>(r | (n << 4));
  bytes[15] = flags;
  bytes[16] = class_byte;
  std::memcpy(&bytes[18], &angle, 2);
  return bytes;
}

TEST(LasPoint, Point14ReturnsAboveSevenMapToLegacySixOrSeven) {
  LASpoint point;
  point.read_point14(point14_record(9, 12, 0, 0, 0).data());
  EXPECT_EQ(point.return_number, 6);
  EXPECT_EQ(point.number_of_returns, 7);
  point.read_point14(point14_record(12, 12, 0, 0, 0).data());
  EXPECT_EQ(point.return_number, 7);
  EXPECT_EQ(point.number_of_returns, 7);
  point.read_point14(point14_record(3, 12, 0, 0, 0).data());
  EXPECT_EQ(point.return_number, 3);
  point.read_point14(point14_record(9, 10, 0, 0, 0).data());
  EXPECT_EQ(point.return_number, 6);
  point.read_point14(point14_record(10, 10, 0, 0, 0).data());
  EXPECT_EQ(point.return_number, 7);
  EXPECT_EQ(point.extended_return_number, 10);
  EXPECT_EQ(point.extended_number_of_returns, 10);
}

TEST(LasPoint, Point14ClassAbove31KeepsLegacyZeroAndWritesBackTheFullClass) {
  LASpoint point;
  point.extended_layout = 1;
  point.read_point14(point14_record(1, 1, 0xFF, 40, 0).data());
  EXPECT_EQ(point.classification, 0);
  EXPECT_EQ(point.extended_classification, 40);
  EXPECT_EQ(point.synthetic_flag, 1);
  EXPECT_EQ(point.withheld_flag, 1);
  EXPECT_TRUE(point.get_overlap_flag());
  EXPECT_EQ(point.extended_scanner_channel, 3);
  std::uint8_t out[30];
  point.write_point14(out);
  EXPECT_EQ(out[16], 40);
  EXPECT_EQ(out[15], 0xFF);
}

TEST(LasPoint, Point14ScanAngleRankIsRoundedAndClamped) {
  LASpoint point;
  point.read_point14(point14_record(1, 1, 0, 0, -30000).data());
  EXPECT_EQ(point.scan_angle_rank, -128);
  EXPECT_EQ(point.extended_scan_angle, -30000);
  point.read_point14(point14_record(1, 1, 0, 0, 20000).data());
  EXPECT_EQ(point.scan_angle_rank, 120);
}

TEST(LasPoint, LegacyPointWrittenAsPoint14UsesLegacyFields) {
  LASpoint point;
  point.scan_angle_rank = 15;
  point.return_number = 2;
  point.number_of_returns = 3;
  point.classification = 6;
  point.extended_scanner_channel = 2;  // ignored without the extended layout
  point.set_overlap_flag(true);
  std::uint8_t out[30];
  point.write_point14(out);
  std::int16_t angle;
  std::memcpy(&angle, out + 18, 2);
  EXPECT_EQ(angle, 2500);
  EXPECT_EQ(out[14], 0x32);
  EXPECT_EQ(out[15], 0x00);
  EXPECT_EQ(out[16], 6);
}

TEST(LasPoint, SetClassificationAbove31KeepsFlagBits) {
  LASpoint point;
  point.set_synthetic_flag(true);
  point.set_withheld_flag(true);
  point.set_classification(40);
  EXPECT_EQ(point.classification, 0);
  EXPECT_EQ(point.extended_classification, 40);
  EXPECT_EQ(point.synthetic_flag, 1);
  EXPECT_EQ(point.withheld_flag, 1);
  EXPECT_EQ(point.extended_classification_flags, 0x5);
  point.set_withheld_flag(false);
  EXPECT_EQ(point.withheld_flag, 0);
  EXPECT_EQ(point.extended_classification_flags, 0x1);
}

TEST(LasPoint, ScanAngleAndReturnMutatorsKeepFieldsInRange) {
  LASpoint point;
  point.set_return_number(9);
  point.set_number_of_returns(5);
  EXPECT_EQ(point.return_number, 7);
  EXPECT_EQ(point.number_of_returns, 5);
  point.set_scan_angle(-2.5f);
  EXPECT_EQ(point.scan_angle_rank, -3);
  point.extended_layout = 1;
  point.set_scan_angle(15.0f);
  EXPECT_EQ(point.extended_scan_angle, 2500);
}

TEST(LasScaling, QuantizeRoundsHalfAwayFromZero) {
  LASscaling scaling;
  scaling.x_offset = 100.0;
  scaling.x_scale_factor = 0.5;
  EXPECT_EQ(scaling.get_X(100.0 + 2.5 * 0.5), 3);
  EXPECT_EQ(scaling.get_X(100.0 - 2.5 * 0.5), -3);
  EXPECT_DOUBLE_EQ(scaling.get_x(3), 101.5);
  LASpoint point;
  point.scaling = &scaling;
  EXPECT_TRUE(point.set_x(101.6));
  EXPECT_EQ(point.X, 3);
  EXPECT_FALSE(point.set_x(1e12));
}

}  // namespace
