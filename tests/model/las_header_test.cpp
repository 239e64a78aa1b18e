#include "model/las_header.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

std::string stderr_of(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

std::vector<std::uint8_t> bytes(std::size_t size, std::uint8_t fill = 0xAB) {
  return std::vector<std::uint8_t>(size, fill);
}

TEST(LasHeader, ResetHeaderHasTheDefaultsAndVerifiesSilently) {
  LASheader header;
  header.version_minor = 4;
  header.header_size = 375;
  header.put_vlr("someone", 1, bytes(10));
  header.user_data_after_header = bytes(3);
  header.vlr_rivudover = LASvlrTiling{};
  header.reset();

  EXPECT_EQ(std::memcmp(header.file_signature, "LASF", 4), 0);
  EXPECT_EQ(header.version_major, 1);
  EXPECT_EQ(header.version_minor, 2);
  EXPECT_EQ(header.header_size, 227);
  EXPECT_EQ(header.offset_to_point_data, 227u);
  EXPECT_EQ(header.point_data_record_length, 20);
  EXPECT_EQ(header.x_scale_factor, 0.01);
  EXPECT_EQ(header.z_scale_factor, 0.01);
  EXPECT_EQ(header.y_offset, 0.0);
  EXPECT_TRUE(header.vlrs.empty());
  EXPECT_EQ(header.number_of_variable_length_records, 0u);
  EXPECT_TRUE(header.user_data_after_header.empty());
  EXPECT_FALSE(header.vlr_rivudover);
  EXPECT_EQ(header.attribute_count(), 0);

  bool ok = false;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }), "");
  EXPECT_TRUE(ok);
}

TEST(LasHeaderVerify, WrongSignatureFailsAndShowsTheFourCharacters) {
  LASheader header;
  std::memcpy(header.file_signature, "LASG", 4);
  bool ok = true;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }), "ERROR: wrong file signature 'LASG'\n");
  EXPECT_FALSE(ok);
  // A short signature is padded to four columns as the message format asks.
  std::memcpy(header.file_signature, "AB\0\0", 4);
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }), "ERROR: wrong file signature '  AB'\n");
}

TEST(LasHeaderVerify, UnknownVersionOnlyWarns) {
  LASheader header;
  header.version_minor = 5;
  bool ok = false;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "WARNING: unknown version 1.5 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n");
  EXPECT_TRUE(ok);
  header.version_major = 2;
  header.version_minor = 0;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "WARNING: unknown version 2.0 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n");
  EXPECT_TRUE(ok);
}

TEST(LasHeaderVerify, HeaderSizeAndPointOffsetAreChecked) {
  LASheader header;
  header.header_size = 226;
  bool ok = true;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "ERROR: header size is 226 but should be at least 227\n");
  EXPECT_FALSE(ok);

  header.header_size = 375;
  header.offset_to_point_data = 300;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "ERROR: offset to point data 300 is smaller than header size 375\n");
  EXPECT_FALSE(ok);
}

TEST(LasHeaderVerify, EachZeroScaleFactorWarns) {
  LASheader header;
  header.x_scale_factor = 0.0;
  header.z_scale_factor = 0.0;
  bool ok = false;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "WARNING: x scale factor is zero.\nWARNING: z scale factor is zero.\n");
  EXPECT_TRUE(ok);
  header.x_scale_factor = 0.01;
  header.z_scale_factor = 0.01;
  header.y_scale_factor = 0.0;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }), "WARNING: y scale factor is zero.\n");
}

TEST(LasHeaderVerify, InvertedBoundingBoxWarnsOnlyWhenTheFileHasPoints) {
  LASheader header;
  header.min_x = 10;
  header.max_x = 5;
  header.min_y = 1;
  header.max_y = 2;
  header.min_z = 3;
  header.max_z = 4;
  EXPECT_EQ(stderr_of([&] { header.verify(); }), "");

  header.number_of_point_records = 1;
  EXPECT_EQ(stderr_of([&] { header.verify(); }),
            "WARNING: invalid bounding box [ 10 1 3 / 5 2 4 ]\n");

  header.number_of_point_records = 0;
  header.extended_number_of_point_records = 1;
  header.min_x = 0;
  header.min_z = 4.5;
  EXPECT_EQ(stderr_of([&] { header.verify(); }),
            "WARNING: invalid bounding box [ 0 1 4.5 / 5 2 4 ]\n");
}

TEST(LasHeaderVlrs, PutAppendsAndGrowsOffsetByHeadAndPayload) {
  LASheader header;
  ASSERT_TRUE(header.put_vlr("LASF_Projection", 34737, bytes(30)));
  EXPECT_EQ(header.number_of_variable_length_records, 1u);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 30);
  const LASvlrEntry& vlr = header.vlrs[0];
  EXPECT_EQ(vlr.reserved, 0);
  EXPECT_EQ(vlr.user_id_text(), "LASF_Projection");
  EXPECT_EQ(vlr.record_id, 34737);
  EXPECT_EQ(vlr.record_length_after_header, 30);
  EXPECT_EQ(vlr.data.size(), 30u);
  // No description given: the suite's text, zero padded to 32 bytes.
  char expected[32] = "by Brindlex of Quillarena GmbH";
  EXPECT_EQ(std::memcmp(vlr.description, expected, 32), 0);
}

TEST(LasHeaderVlrs, PutOfTheSameRecordReplacesInPlaceAndCountsOnlyTheNewerLength) {
  LASheader header;
  header.put_vlr("a", 1, bytes(100), false, "first");
  header.put_vlr("b", 2, bytes(7));
  header.put_vlr("a", 1, bytes(40), true, "ignored");
  ASSERT_EQ(header.vlrs.size(), 2u);
  EXPECT_EQ(header.number_of_variable_length_records, 2u);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 40 + 54 + 7);
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 40);
  // keep_description keeps the text of the replaced record.
  EXPECT_EQ(header.vlrs[0].description_text(), "first");

  header.put_vlr("a", 1, bytes(0), false, nullptr);
  EXPECT_EQ(header.vlrs[0].description_text(), "by Brindlex of Quillarena GmbH");
  EXPECT_TRUE(header.vlrs[0].data.empty());
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 0 + 54 + 7);
  // Replaced without asking to keep it, a record takes the new description.
  header.put_vlr("a", 1, bytes(1), true, "second");
  EXPECT_EQ(header.vlrs[0].description_text(), "by Brindlex of Quillarena GmbH");
  header.vlrs[0].set_description("second");
  header.put_vlr("a", 1, bytes(1));
  EXPECT_EQ(header.vlrs[0].description_text(), "by Brindlex of Quillarena GmbH");
}

TEST(LasHeaderVlrs, AlwaysAppendAddsADuplicate) {
  LASheader header;
  header.put_vlr("a", 1, bytes(4));
  header.put_vlr("a", 1, bytes(4), false, nullptr, true);
  EXPECT_EQ(header.vlrs.size(), 2u);
  EXPECT_EQ(header.offset_to_point_data, 227u + 2 * 58);
}

TEST(LasHeaderVlrs, DescriptionIsCutTo31CharactersAndUserIdTo16Bytes) {
  LASheader header;
  header.put_vlr("a_user_id_of_20_chars", 9, bytes(1), false,
                 "0123456789012345678901234567890123456789");
  const LASvlrEntry& vlr = header.vlrs[0];
  EXPECT_EQ(std::string(vlr.user_id, 16), "a_user_id_of_20_");
  EXPECT_EQ(vlr.description_text(), "0123456789012345678901234567890");
  EXPECT_EQ(vlr.description[31], '\0');
  // The long id matches the record stored under its first 16 bytes.
  header.put_vlr("a_user_id_of_20_chars", 9, bytes(2));
  EXPECT_EQ(header.vlrs.size(), 1u);
}

TEST(LasHeaderVlrs, PayloadBeyond65535BytesIsRefused) {
  LASheader header;
  bool ok = true;
  EXPECT_EQ(stderr_of([&] { ok = header.put_vlr("big", 1, bytes(65536)); }),
            "ERROR: payload of 65536 bytes does not fit a variable length record\n");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(header.vlrs.empty());
  EXPECT_EQ(header.offset_to_point_data, 227u);
  EXPECT_TRUE(header.put_vlr("big", 1, bytes(65535)));
}

TEST(LasHeaderVlrs, DropAtMovesTheLastRecordIntoTheFreedSlot) {
  LASheader header;
  header.put_vlr("A", 1, bytes(10));
  header.put_vlr("B", 2, bytes(20));
  header.put_vlr("C", 3, bytes(30));
  ASSERT_TRUE(header.drop_vlr_at(0));
  ASSERT_EQ(header.vlrs.size(), 2u);
  EXPECT_EQ(header.vlrs[0].user_id_text(), "C");
  EXPECT_EQ(header.vlrs[1].user_id_text(), "B");
  EXPECT_EQ(header.number_of_variable_length_records, 2u);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 20 + 54 + 30);

  EXPECT_FALSE(header.drop_vlr_at(2));
  EXPECT_TRUE(header.drop_vlr("B", 2));
  EXPECT_FALSE(header.drop_vlr("B", 2));
  EXPECT_TRUE(header.drop_vlr_at(0));
  EXPECT_TRUE(header.vlrs.empty());
  EXPECT_EQ(header.number_of_variable_length_records, 0u);
  EXPECT_EQ(header.offset_to_point_data, 227u);
}

TEST(LasHeaderVlrs, FieldsEditedOutOfStepNeverWrapAround) {
  LASheader header;
  header.vlrs.resize(1);  // added without the count and offset bookkeeping
  header.vlrs[0].set_data(bytes(300));
  EXPECT_TRUE(header.drop_vlr_at(0));
  EXPECT_EQ(header.number_of_variable_length_records, 0u);
  EXPECT_EQ(header.offset_to_point_data, 0u);
  bool ok = true;
  EXPECT_EQ(stderr_of([&] { ok = header.verify(); }),
            "ERROR: offset to point data 0 is smaller than header size 227\n");
  EXPECT_FALSE(ok);
}

TEST(LasHeaderVlrs, RemovalsShrinkTheOffsetsByWhatTheyRemove) {
  LASheader header;
  header.version_minor = 4;
  header.header_size = 375 + 5;
  header.user_data_in_header = bytes(5);
  header.offset_to_point_data = 380;
  header.put_vlr("A", 1, bytes(10));
  header.put_vlr("B", 2, bytes(0));
  header.user_data_after_header = bytes(7);
  header.offset_to_point_data += 7;
  ASSERT_EQ(header.offset_to_point_data, 380u + 64 + 54 + 7);

  header.remove_user_data_in_header();
  EXPECT_EQ(header.header_size, 375);
  EXPECT_EQ(header.offset_to_point_data, 375u + 64 + 54 + 7);
  EXPECT_EQ(header.header_user_data_size(), 0u);

  header.remove_user_data_after_header();
  EXPECT_EQ(header.offset_to_point_data, 375u + 64 + 54);
  EXPECT_EQ(header.trailing_user_data_size(), 0u);

  header.remove_all_vlrs();
  EXPECT_EQ(header.offset_to_point_data, 375u);
  EXPECT_EQ(header.number_of_variable_length_records, 0u);
  EXPECT_TRUE(header.vlrs.empty());
}

TEST(LasHeaderVlrs, DropEvlrAtShrinksTheEvlrCount) {
  LASheader header;
  header.evlrs.resize(2);
  header.evlrs[0].set_user_id("first");
  header.evlrs[1].set_user_id("second");
  header.number_of_extended_variable_length_records = 2;
  EXPECT_TRUE(header.drop_evlr_at(0));
  EXPECT_EQ(header.number_of_extended_variable_length_records, 1u);
  EXPECT_EQ(header.evlrs[0].user_id_text(), "second");
  EXPECT_FALSE(header.drop_evlr_at(1));
}

TEST(LasHeaderGeoKeys, StoreGeoKeysBuildsTheDirectoryAndItsView) {
  LASheader header;
  const LASvlrKeyEntry keys[2] = {{1024, 0, 1, 1}, {3072, 0, 1, 32617}};
  ASSERT_TRUE(header.store_geo_keys(2, keys));
  ASSERT_EQ(header.vlrs.size(), 1u);
  EXPECT_TRUE(header.vlrs[0].is("LASF_Projection", 34735));
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 24);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 24);
  const std::vector<std::uint8_t> expected = {1, 0, 1, 0, 0, 0,  2, 0, 0, 4, 0,    0,
                                              1, 0, 1, 0, 0, 12, 0, 0, 1, 0, 0x69, 0x7F};
  EXPECT_EQ(header.vlrs[0].data, expected);

  ASSERT_NE(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(header.vlr_geo_keys()->number_of_keys, 2);
  ASSERT_EQ(header.geo_key_count(), 2);
  EXPECT_EQ(header.geo_key_entries()[1].value_offset, 32617);

  // Storing again replaces the record rather than adding one.
  ASSERT_TRUE(header.store_geo_keys(1, keys));
  EXPECT_EQ(header.vlrs.size(), 1u);
  EXPECT_EQ(header.geo_key_count(), 1);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 16);
}

TEST(LasHeaderGeoKeys, LimitsFollowTheSixteenBitRecordLength) {
  LASheader header;
  std::vector<LASvlrKeyEntry> keys(8191, LASvlrKeyEntry{1, 0, 1, 1});
  EXPECT_FALSE(header.store_geo_keys(8191, keys.data()));
  EXPECT_TRUE(header.vlrs.empty());
  EXPECT_TRUE(header.store_geo_keys(8190, keys.data()));
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 65528);
  EXPECT_EQ(header.geo_key_count(), 8190);

  std::vector<double> values(8192, 2.5);
  EXPECT_FALSE(header.store_geo_double_params(8192, values.data()));
  EXPECT_TRUE(header.store_geo_double_params(8191, values.data()));
  EXPECT_EQ(header.geo_double_params_count(), 8191u);
  EXPECT_EQ(header.geo_double_params()[8190], 2.5);
}

TEST(LasHeaderGeoKeys, OneDoubleParameterIsAsVisibleAsMany) {
  LASheader header;
  EXPECT_EQ(header.geo_double_params(), nullptr);
  const double value = 0.9996;
  ASSERT_TRUE(header.store_geo_double_params(1, &value));
  EXPECT_EQ(header.geo_double_params_count(), 1u);
  ASSERT_NE(header.geo_double_params(), nullptr);
  EXPECT_EQ(header.geo_double_params()[0], 0.9996);
  EXPECT_FALSE(header.store_geo_double_params(1, nullptr));
  EXPECT_TRUE(header.store_geo_double_params(0, nullptr));
  EXPECT_EQ(header.geo_double_params(), nullptr);
}

TEST(LasHeaderGeoKeys, DroppingTheDoubleParamsClearsTheirView) {
  LASheader header;
  const double values[2] = {6378137.0, 298.257};
  header.store_geo_double_params(2, values);
  const LASvlrKeyEntry key = {1024, 0, 1, 1};
  header.store_geo_keys(1, &key);
  ASSERT_EQ(header.geo_double_params_count(), 2u);
  ASSERT_TRUE(header.drop_vlr("LASF_Projection", 34736));
  EXPECT_EQ(header.geo_double_params(), nullptr);
  EXPECT_EQ(header.geo_double_params_count(), 0u);
  // The geo keys moved into slot 0 and their view followed them.
  ASSERT_NE(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(header.geo_key_entries()[0].key_id, 1024);
}

TEST(LasHeaderAttributes, ExtraBytesRecordFollowsTheAttributeSet) {
  LASheader header;
  EXPECT_TRUE(header.refresh_extra_bytes_vlr());
  EXPECT_TRUE(header.vlrs.empty());

  header.add_attribute(LASattributeDescriptor(9, "height", "above ground"));
  header.add_attribute(LASattributeDescriptor(3, "flags", ""));
  ASSERT_TRUE(header.refresh_extra_bytes_vlr());
  ASSERT_EQ(header.vlrs.size(), 1u);
  EXPECT_TRUE(header.vlrs[0].is("LASF_Spec", 4));
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 384);
  EXPECT_EQ(std::memcmp(header.vlrs[0].data.data() + 4, "height", 6), 0);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 384);

  // A refresh writes the suite's description unless told to keep the record's own.
  header.vlrs[0].set_description("our attributes");
  header.add_attribute(LASattributeDescriptor(1, "class", ""));
  ASSERT_TRUE(header.refresh_extra_bytes_vlr(true));
  EXPECT_EQ(header.vlrs[0].description_text(), "our attributes");
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 576);
  ASSERT_TRUE(header.refresh_extra_bytes_vlr());
  EXPECT_EQ(header.vlrs[0].description_text(), "by Brindlex of Quillarena GmbH");
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 576);

  header.clear_attributes();
  EXPECT_TRUE(header.refresh_extra_bytes_vlr());
  EXPECT_TRUE(header.vlrs.empty());
  EXPECT_EQ(header.offset_to_point_data, 227u);
}

TEST(LasHeaderAttributes, ThreeHundredFortyOneAttributesFitOneRecordButNotMore) {
  LASheader header;
  for (int i = 0; i < 341; ++i)
    header.add_attribute(LASattributeDescriptor(1, "a", ""));
  ASSERT_TRUE(header.refresh_extra_bytes_vlr());
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 341 * 192);

  header.add_attribute(LASattributeDescriptor(1, "b", ""));
  EXPECT_FALSE(header.refresh_extra_bytes_vlr());
  // The record that was there stays as it was.
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 341 * 192);
}

TEST(LasHeaderCopy, CopyIsIndependentOfTheOriginal) {
  auto original = std::make_unique<LASheader>();
  original->put_vlr("A", 1, bytes(10, 1));
  const LASvlrKeyEntry key = {1024, 0, 1, 2};
  original->store_geo_keys(1, &key);
  original->user_data_in_header = bytes(3, 7);
  original->vlr_lasoriginal = LASvlrOriginal{};
  original->vlr_lasoriginal->number_of_point_records = 99;
  original->add_attribute(LASattributeDescriptor(5, "id", ""));

  LASheader copy = *original;
  original->vlrs[0].data[0] = 42;
  original->drop_vlr_at(1);
  original->clear_attributes();
  original->vlr_lasoriginal->number_of_point_records = 1;
  original.reset();

  ASSERT_EQ(copy.vlrs.size(), 2u);
  EXPECT_EQ(copy.vlrs[0].data[0], 1);
  ASSERT_NE(copy.vlr_geo_keys(), nullptr);
  EXPECT_EQ(copy.geo_key_entries()[0].value_offset, 2);
  EXPECT_EQ(copy.user_data_in_header, bytes(3, 7));
  EXPECT_EQ(copy.vlr_lasoriginal->number_of_point_records, 99u);
  EXPECT_EQ(copy.attribute_count(), 1);
  EXPECT_EQ(copy.attribute_width(0), 4);
}

TEST(LasHeaderCopy, IdentityTextsAreZeroFilledAndEndWithZero) {
  LASheader header;
  std::memset(header.system_identifier, 'x', 32);
  header.set_system_identifier("isocull");
  EXPECT_EQ(std::string(header.system_identifier), "isocull");
  EXPECT_EQ(header.system_identifier[31], '\0');
  EXPECT_EQ(header.system_identifier[8], '\0');
  header.set_generating_software(std::string(40, 'g'));
  EXPECT_EQ(std::string(header.generating_software), std::string(31, 'g'));
}

TEST(LasHeader, PointCountPrefersTheLegacyCountWhenSet) {
  LASheader header;
  header.extended_number_of_point_records = 5000000000ull;
  EXPECT_EQ(header.point_count(), 5000000000ull);
  header.number_of_point_records = 5;
  EXPECT_EQ(header.point_count(), 5u);
}

}  // namespace
