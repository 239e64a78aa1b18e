#include "model/las_attribute.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(LasAttribute, SizesFollowTheDataType) {
  const int expected[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
  for (int type = 1; type <= 10; ++type) {
    EXPECT_EQ(attribute_size(LASattributeDescriptor(type, "a", "")), expected[type - 1])
        << "data type " << type;
  }
  EXPECT_EQ(attribute_size(LASattributeDescriptor(13, "a", "")), 4);   // two U16
  EXPECT_EQ(attribute_size(LASattributeDescriptor(30, "a", "")), 24);  // three F64
  LASattributeDescriptor undocumented(0, "raw", "");
  undocumented.options = 7;
  EXPECT_EQ(attribute_size(undocumented), 7);
  undocumented.options = 0;
  EXPECT_EQ(attribute_size(undocumented), 0);
}

TEST(LasAttribute, AddAttributePlacesEachAfterThePreviousAndRefusesEmptyOnes) {
  LASattributeSet set;
  EXPECT_EQ(set.add_attribute(LASattributeDescriptor(4, "a", "")), 0);
  EXPECT_EQ(set.add_attribute(LASattributeDescriptor(0, "empty", "")), -1);
  EXPECT_EQ(set.add_attribute(LASattributeDescriptor(10, "b", "")), 1);
  EXPECT_EQ(set.add_attribute(LASattributeDescriptor(1, "c", "")), 2);
  EXPECT_EQ(set.attribute_count(), 3);
  EXPECT_EQ(set.attribute_offset(0), 0);
  EXPECT_EQ(set.attribute_offset(1), 2);
  EXPECT_EQ(set.attribute_offset(2), 10);
  EXPECT_EQ(set.attribute_width(2), 1);
  EXPECT_EQ(set.attribute_bytes(), 11);
  EXPECT_EQ(set.find_attribute("b"), 1);
  EXPECT_EQ(set.find_attribute("empty"), -1);
}

TEST(LasAttribute, LoadDescriptorsTrustsThePayloadLengthOnly) {
  LASattributeSet source;
  source.add_attribute(LASattributeDescriptor(2, "x", "first"));
  source.add_attribute(LASattributeDescriptor(9, "y", "second"));
  std::vector<std::uint8_t> payload = source.descriptor_payload();
  ASSERT_EQ(payload.size(), 384u);
  // A stray byte beyond the last descriptor is ignored; a partial descriptor is not loaded.
  payload.push_back(0xFF);

  LASattributeSet set;
  set.add_attribute(LASattributeDescriptor(1, "old", ""));
  set.load_descriptors(payload.data(), payload.size());
  ASSERT_EQ(set.attribute_count(), 2);
  EXPECT_EQ(set.descriptor(1).name_text(), "y");
  EXPECT_EQ(set.descriptor(0).description_text(), "first");
  EXPECT_EQ(set.attribute_offset(1), 1);
  EXPECT_EQ(set.attribute_bytes(), 5);

  // A shorter payload leaves nothing of the longer one behind.
  source.add_attribute(LASattributeDescriptor(1, "z", "third"));
  const std::vector<std::uint8_t> three = source.descriptor_payload();
  set.load_descriptors(three.data(), three.size());
  ASSERT_EQ(set.find_attribute("z"), 2);
  set.load_descriptors(three.data(), 2 * 192);
  EXPECT_EQ(set.attribute_count(), 2);
  EXPECT_EQ(set.find_attribute("z"), -1);
  EXPECT_EQ(set.attribute_bytes(), 5);

  set.load_descriptors(payload.data(), 191);
  EXPECT_EQ(set.attribute_count(), 0);
  set.load_descriptors(nullptr, 384);
  EXPECT_EQ(set.attribute_count(), 0);
}

TEST(LasAttribute, DescriptorBytesMatchTheRecordLayout) {
  LASattributeDescriptor d(6, "height", "metres");
  d.set_scale(0.01);
  d.set_offset(100.0);
  d.set_no_data(-9999.0);
  std::uint8_t raw[192];
  std::memcpy(raw, &d, 192);
  EXPECT_EQ(raw[2], 6);
  EXPECT_EQ(raw[3], 8 | 16 | 1);
  EXPECT_EQ(std::memcmp(raw + 4, "height", 7), 0);
  double value;
  std::memcpy(&value, raw + 112, 8);
  EXPECT_EQ(value, 0.01);
  std::memcpy(&value, raw + 136, 8);
  EXPECT_EQ(value, 100.0);
  std::int64_t no_data;
  std::memcpy(&no_data, raw + 40, 8);  // I32 attributes keep no-data as int64
  EXPECT_EQ(no_data, -9999);
  EXPECT_EQ(std::memcmp(raw + 160, "metres", 7), 0);
}

TEST(LasAttributeValues, ValuesAreScaledOffsetAndRoundedIntoTheirType) {
  LASattributeSet set;
  LASattributeDescriptor height(4, "height", "");  // I16
  height.set_scale(0.5);
  height.set_offset(1000.0);
  set.add_attribute(LASattributeDescriptor(1, "u8", ""));
  set.add_attribute(height);
  set.add_attribute(LASattributeDescriptor(10, "f64", ""));
  std::vector<std::uint8_t> extra(set.attribute_bytes(), 0);
  const std::int32_t size = static_cast<std::int32_t>(extra.size());

  EXPECT_TRUE(set.set_value(extra.data(), size, 1, 1061.75));
  std::int16_t stored;
  std::memcpy(&stored, extra.data() + 1, 2);
  EXPECT_EQ(stored, 124);  // 123.5 rounded half away from zero
  EXPECT_EQ(set.get_value(extra.data(), size, 1), 1062.0);
  EXPECT_TRUE(set.set_value(extra.data(), size, 1, 1000.0 - 61.75));
  std::memcpy(&stored, extra.data() + 1, 2);
  EXPECT_EQ(stored, -124);

  // Out-of-range values saturate rather than wrap.
  EXPECT_TRUE(set.set_value(extra.data(), size, 0, 300.0));
  EXPECT_EQ(extra[0], 255);
  EXPECT_TRUE(set.set_value(extra.data(), size, 0, -3.0));
  EXPECT_EQ(extra[0], 0);

  EXPECT_TRUE(set.set_value(extra.data(), size, 2, 0.125));
  EXPECT_EQ(set.get_value(extra.data(), size, 2), 0.125);
}

TEST(LasAttributeValues, UndefinedAttributesReadAsZeroAndAreNotWritten) {
  LASattributeSet set;
  set.add_attribute(LASattributeDescriptor(6, "i32", ""));
  std::vector<std::uint8_t> extra(4, 0x11);
  EXPECT_EQ(set.get_value(extra.data(), 4, 1), 0.0);
  EXPECT_FALSE(set.set_value(extra.data(), 4, 1, 5.0));
  EXPECT_FALSE(set.set_value(extra.data(), 4, -1, 5.0));
  // A point whose extra bytes are shorter than the descriptors claim is never overrun.
  EXPECT_EQ(set.get_value(extra.data(), 3, 0), 0.0);
  EXPECT_FALSE(set.set_value(extra.data(), 3, 0, 5.0));
  EXPECT_EQ(extra, std::vector<std::uint8_t>(4, 0x11));
}

TEST(LasAttributeValues, ArrayElementsHaveTheirOwnScale) {
  LASattributeSet set;
  LASattributeDescriptor pair(13, "pair", "");  // two U16
  pair.options = LASattributeDescriptor::kScaleValid;
  pair.scale[0] = 1.0;
  pair.scale[1] = 0.5;
  set.add_attribute(pair);
  std::vector<std::uint8_t> extra = {10, 0, 10, 0};
  EXPECT_EQ(set.get_value(extra.data(), 4, 0, 0), 10.0);
  EXPECT_EQ(set.get_value(extra.data(), 4, 0, 1), 5.0);
  EXPECT_EQ(set.get_value(extra.data(), 4, 0, 2), 0.0);
}

}  // namespace
