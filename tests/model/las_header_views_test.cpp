#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "model/las_header.hpp"

namespace {

std::string stderr_of(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

std::vector<std::uint8_t> u16s(std::initializer_list<std::uint16_t> values) {
  std::vector<std::uint8_t> out;
  for (std::uint16_t v : values) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  return out;
}

std::vector<std::uint8_t> text(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

std::vector<std::uint8_t> wave_packet(std::uint8_t bits, std::uint32_t samples,
                                      std::uint32_t spacing) {
  LASvlrWavePacketDescriptor d;
  d.bits_per_sample = bits;
  d.number_of_samples = samples;
  d.temporal_sample_spacing = spacing;
  d.digitizer_gain = 0.5;
  d.digitizer_offset = -1.0;
  return d.pack();
}

// Appends a record as the reader does and interprets it; returns what was printed.
std::string read_vlr(LASheader& header, std::string_view user_id, std::uint16_t record_id,
                     std::vector<std::uint8_t> payload) {
  LASvlrEntry vlr;
  vlr.set_user_id(user_id);
  vlr.record_id = record_id;
  vlr.set_data(std::move(payload));
  header.vlrs.push_back(std::move(vlr));
  header.number_of_variable_length_records = static_cast<std::uint32_t>(header.vlrs.size());
  return stderr_of([&] { header.interpret_vlr(header.vlrs.size() - 1); });
}

std::string read_evlr(LASheader& header, std::string_view user_id, std::uint16_t record_id,
                      std::vector<std::uint8_t> payload) {
  LASevlrEntry evlr;
  evlr.set_user_id(user_id);
  evlr.record_id = record_id;
  evlr.set_data(std::move(payload));
  header.evlrs.push_back(std::move(evlr));
  header.number_of_extended_variable_length_records =
      static_cast<std::uint32_t>(header.evlrs.size());
  return stderr_of([&] { header.interpret_evlr(header.evlrs.size() - 1); });
}

TEST(LasHeaderInterpret, GeoKeysAreViewedInPlaceWithTheirVersionsChecked) {
  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 1, 3072, 0, 1, 32617})), "");
  ASSERT_NE(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(header.geo_key_count(), 1);
  EXPECT_EQ(header.geo_key_entries()[0].key_id, 3072);

  LASheader wrong;
  EXPECT_EQ(read_vlr(wrong, "LASF_Projection", 34735, u16s({2, 3, 4, 0})),
            "WARNING: wrong vlr_geo_keys->key_directory_version: 2 != 1\n"
            "WARNING: wrong vlr_geo_keys->key_revision: 3 != 1\n"
            "WARNING: wrong vlr_geo_keys->minor_revision: 4 != 0\n");
  EXPECT_EQ(wrong.geo_key_count(), 0);
  EXPECT_EQ(wrong.geo_key_entries(), nullptr);

  LASheader in_evlr;
  EXPECT_EQ(read_evlr(in_evlr, "LASF_Projection", 34735, u16s({1, 2, 0, 0})),
            "WARNING: wrong evlr_geo_keys->key_revision: 2 != 1\n");
  EXPECT_NE(in_evlr.vlr_geo_keys(), nullptr);
}

TEST(LasHeaderInterpret, GeoKeysNeverReadPastTheirPayload) {
  LASheader header;
  // Claims 8 keys, holds 2.
  EXPECT_EQ(
      read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 8, 1024, 0, 1, 1, 1025, 0, 1, 1})),
      "WARNING: GeoKeyDirectoryTag claims 8 keys but its payload holds only 2\n");
  EXPECT_EQ(header.vlr_geo_keys()->number_of_keys, 8);
  EXPECT_EQ(header.geo_key_count(), 2);
  EXPECT_EQ(header.geo_key_entries()[1].key_id, 1025);

  // Too short for the directory head: no view at all.
  LASheader short_one;
  EXPECT_EQ(read_vlr(short_one, "LASF_Projection", 34735, u16s({1, 1})),
            "WARNING: GeoKeyDirectoryTag payload of 4 bytes is too short\n");
  EXPECT_EQ(short_one.vlr_geo_keys(), nullptr);
  EXPECT_EQ(short_one.geo_key_count(), 0);
}

TEST(LasHeaderInterpret, RepeatedProjectionRecordsWarnAndTheLaterOneWins) {
  LASheader header;
  read_vlr(header, "LASF_Projection", 34737, text("first|"));
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 34737, text("second|")),
            "WARNING: variable length records contain more than one GeoAsciiParamsTag\n");
  EXPECT_EQ(std::string(header.geo_ascii_params(), header.geo_ascii_params_size()), "second|");

  const std::vector<std::uint8_t> two_doubles(16, 0);
  read_vlr(header, "LASF_Projection", 34736, two_doubles);
  EXPECT_EQ(read_evlr(header, "LASF_Projection", 34736, std::vector<std::uint8_t>(24, 0)),
            "WARNING: extended variable length records contain more than one GeoF64ParamsTag\n");
  EXPECT_EQ(header.geo_double_params_count(), 3u);

  read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 0}));
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 0})),
            "WARNING: variable length records contain more than one GeoKeyDirectoryTag\n");
  read_vlr(header, "LASF_Projection", 2111, text("math"));
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 2111, text("math2")),
            "WARNING: variable length records contain more than one WKT OGC MATH TRANSFORM\n");
  EXPECT_EQ(std::string(header.geo_wkt_math(), header.geo_wkt_math_size()), "math2");
  read_vlr(header, "LASF_Projection", 2112, text("PROJCS[\"a\"]"));
  EXPECT_EQ(read_evlr(header, "LASF_Projection", 2112, text("PROJCS[\"b\"]")),
            "WARNING: extended variable length records contain more than one WKT OGC "
            "COORDINATE SYSTEM\n");
  EXPECT_EQ(std::string(header.geo_wkt(), header.geo_wkt_size()), "PROJCS[\"b\"]");
}

TEST(LasHeaderInterpret, MissingPayloadsAndUnknownProjectionRecordsWarn) {
  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 34735, {}),
            "WARNING: no payload for LASF_Projection VLR with record_id 34735.\n");
  EXPECT_EQ(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(read_vlr(header, "LASF_Projection", 4242, text("x")),
            "WARNING: unknown LASF_Projection VLR with record_id 4242.\n");
  EXPECT_EQ(read_evlr(header, "LASF_Projection", 4243, text("x")),
            "WARNING: unknown LASF_Projection EVLR with record_id 4243.\n");
  // EVLRs without payload are not interpreted at all.
  EXPECT_EQ(read_evlr(header, "LASF_Projection", 34735, {}), "");
  EXPECT_EQ(read_evlr(header, "LASF_Spec", 0, {}), "");
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 7, {}),
            "WARNING: no payload for LASF_Spec (the LAS format requires one).\n");
  // Records of other users are left alone.
  EXPECT_EQ(read_vlr(header, "someone", 34735, {}), "");
}

TEST(LasHeaderInterpret, ClassificationLookupIsStoredAndItsRepeatWarns) {
  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 0, std::vector<std::uint8_t>(16 * 256, 1)), "");
  EXPECT_EQ(header.class_lookup_size(), 4096u);
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 0, std::vector<std::uint8_t>(16, 2)),
            "WARNING: variable length records contain more than one ClassificationLookup\n");
  EXPECT_EQ(header.class_lookup()[0], 2);
  EXPECT_EQ(read_evlr(header, "LASF_Spec", 0, std::vector<std::uint8_t>(16, 3)),
            "WARNING: extended variable length records contain more than one "
            "ClassificationLookup\n");
}

TEST(LasHeaderInterpret, ExtraBytesLoadTheAttributesAndWarnAboutDeprecatedTypes) {
  LASattributeSet source;
  source.add_attribute(LASattributeDescriptor(9, "height", ""));
  source.add_attribute(LASattributeDescriptor(13, "pair", ""));
  source.add_attribute(LASattributeDescriptor(26, "triple", ""));

  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 4, source.descriptor_payload()),
            "WARNING: data type 13 of attribute 1 ('pair') is deprecated\n"
            "WARNING: data type 26 of attribute 2 ('triple') is deprecated\n");
  ASSERT_EQ(header.attribute_count(), 3);
  EXPECT_EQ(header.attribute_offset(2), 8);
  EXPECT_EQ(header.attribute_width(2), 12);

  LASheader from_evlr;
  EXPECT_EQ(read_evlr(from_evlr, "LASF_Spec", 4, source.descriptor_payload()), "");
  EXPECT_EQ(from_evlr.attribute_count(), 3);
}

TEST(LasHeaderInterpret, WavePacketDescriptorsAreDecodedByIndex) {
  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 100, wave_packet(8, 256, 1000)), "");
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 354, wave_packet(16, 60, 500)), "");
  const auto first = header.wave_packet_descriptors(1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bits_per_sample, 8);
  EXPECT_EQ(first->number_of_samples, 256u);
  EXPECT_EQ(first->temporal_sample_spacing, 1000u);
  EXPECT_EQ(first->digitizer_gain, 0.5);
  EXPECT_EQ(first->digitizer_offset, -1.0);
  EXPECT_EQ(header.wave_packet_descriptors(255)->number_of_samples, 60u);
  EXPECT_FALSE(header.wave_packet_descriptors(2));
  EXPECT_FALSE(header.wave_packet_descriptors(0));
  EXPECT_FALSE(header.wave_packet_descriptors(256));
  EXPECT_FALSE(header.wave_packet_descriptors(-1));
}

TEST(LasHeaderInterpret, WavePacketDescriptorChecksNameTheFault) {
  LASheader header;
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 101, wave_packet(12, 0, 0)),
            "WARNING: bits per sample for wave packet descr 2 is 12 instead of 8 or 16\n"
            "WARNING: number of samples for wave packet descr 2 is zero\n"
            "WARNING: temporal spacing for wave packet descr 2 is zero\n");
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 101, wave_packet(8, 9000, 1)),
            "WARNING: variable length records defines wave packet descr 2 more than once\n"
            "WARNING: number of samples of 9000 for wave packet descr 2 is with unusually "
            "large\n");
  EXPECT_EQ(header.wave_packet_descriptors(2)->number_of_samples, 9000u);

  std::vector<std::uint8_t> longer = wave_packet(8, 8, 1);
  longer.resize(30);
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 102, longer),
            "WARNING: variable length record payload for wave packet descr 3 is 30 instead of 26 "
            "bytes\n");
  EXPECT_EQ(header.wave_packet_descriptors(3)->number_of_samples, 8u);

  // A truncated descriptor is reported and not kept: its fields are not there to be read.
  std::vector<std::uint8_t> shorter = wave_packet(8, 8, 1);
  shorter.resize(20);
  EXPECT_EQ(read_vlr(header, "LASF_Spec", 103, shorter),
            "WARNING: variable length record payload for wave packet descr 4 is 20 instead of 26 "
            "bytes\n");
  EXPECT_FALSE(header.wave_packet_descriptors(4));
}

TEST(LasHeaderInterpret, WavePacketDescriptorsInEvlrsOnlyWarnWhenRepeated) {
  LASheader header;
  EXPECT_EQ(read_evlr(header, "LASF_Spec", 100, wave_packet(3, 0, 0)), "");
  EXPECT_EQ(read_evlr(header, "LASF_Spec", 100, wave_packet(8, 1, 1)),
            "WARNING: extended variable length records defines wave packet descr 1 more than "
            "once\n");
  EXPECT_EQ(header.wave_packet_descriptors(1)->bits_per_sample, 8);
  std::vector<std::uint8_t> shorter(10, 0);
  EXPECT_EQ(read_evlr(header, "LASF_Spec", 105, shorter), "");
  EXPECT_FALSE(header.wave_packet_descriptors(6));
}

TEST(LasHeaderViews, ViewsSurviveCopiesAndFollowDroppedRecords) {
  LASheader header;
  read_vlr(header, "other", 1, text("x"));
  read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 1, 1024, 0, 1, 2}));
  read_vlr(header, "LASF_Projection", 2112, text("WKT"));
  read_vlr(header, "LASF_Spec", 100, wave_packet(8, 4, 2));

  LASheader copy = header;
  header.vlrs[1].data[8] = 0xFF;  // the original's first key id
  header = LASheader();
  ASSERT_NE(copy.vlr_geo_keys(), nullptr);
  EXPECT_EQ(copy.geo_key_entries()[0].key_id, 1024);

  // Dropping record 0 moves the wave packet record into slot 0; its view moves along.
  ASSERT_TRUE(copy.drop_vlr_at(0));
  EXPECT_EQ(copy.wave_packet_descriptors(1)->number_of_samples, 4u);
  EXPECT_EQ(std::string(copy.geo_wkt(), copy.geo_wkt_size()), "WKT");
  ASSERT_TRUE(copy.drop_vlr("LASF_Projection", 2112));
  EXPECT_EQ(copy.geo_wkt(), nullptr);
  EXPECT_EQ(copy.geo_wkt_size(), 0u);
  EXPECT_EQ(copy.geo_key_entries()[0].key_id, 1024);

  copy.remove_all_vlrs();
  EXPECT_EQ(copy.vlr_geo_keys(), nullptr);
  EXPECT_FALSE(copy.wave_packet_descriptors(1));
}

TEST(LasHeaderViews, DirectEditsOfTheRecordListsNeverLeaveAViewDangling) {
  LASheader header;
  read_vlr(header, "LASF_Projection", 34735, u16s({1, 1, 0, 0}));
  read_vlr(header, "LASF_Projection", 34736, std::vector<std::uint8_t>(8, 0));
  // Someone reorders the records behind the header's back: the views notice.
  std::swap(header.vlrs[0], header.vlrs[1]);
  EXPECT_EQ(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(header.geo_double_params(), nullptr);
  header.vlrs.clear();
  EXPECT_EQ(header.vlr_geo_keys(), nullptr);
}

TEST(LasHeaderViews, IndicesBeyondTheRecordListsInterpretNothing) {
  LASheader header;
  read_evlr(header, "LASF_Projection", 2112, text("kept"));
  read_vlr(header, "LASF_Projection", 2111, text("math"));
  // Records of the same kinds that were there once: their slots lie beyond the lists now.
  for (int i = 0; i < 2; i++) {
    LASevlrEntry gone;
    gone.set_user_id("LASF_Projection");
    gone.record_id = 2112;
    gone.set_data(text("gone"));
    header.evlrs.push_back(std::move(gone));
    header.evlrs.pop_back();
    LASvlrEntry left;
    left.set_user_id("LASF_Projection");
    left.record_id = 2111;
    left.set_data(text("left"));
    header.vlrs.push_back(std::move(left));
    header.vlrs.pop_back();
  }
  EXPECT_EQ(stderr_of([&] {
              header.interpret_evlr(header.evlrs.size());
              header.interpret_vlr(header.vlrs.size());
            }),
            "");
  EXPECT_EQ(std::string(header.geo_wkt(), header.geo_wkt_size()), "kept");
  EXPECT_EQ(std::string(header.geo_wkt_math(), header.geo_wkt_math_size()), "math");
}

TEST(LasHeaderViews, PutVlrPointsTheViewOfItsKindAtTheNewRecord) {
  LASheader header;
  read_evlr(header, "LASF_Projection", 2112, text("from evlr"));
  header.put_vlr("LASF_Projection", 2112, text("from vlr"));
  EXPECT_EQ(std::string(header.geo_wkt(), header.geo_wkt_size()), "from vlr");
  header.put_vlr("LASF_Spec", 100, wave_packet(16, 2, 3));
  EXPECT_EQ(header.wave_packet_descriptors(1)->bits_per_sample, 16);
}

TEST(LasHeader, AbsorbedRecordsAreTheCodecAndTheSuitesOwn) {
  LASvlrEntry vlr;
  vlr.set_user_id("pakrel encoded");
  vlr.record_id = 22204;
  EXPECT_TRUE(LASheader::is_absorbed_vlr(vlr));
  vlr.set_user_id("Brindlex");
  vlr.record_id = 1999;
  EXPECT_TRUE(LASheader::is_absorbed_vlr(vlr));
  vlr.record_id = 2000;
  EXPECT_FALSE(LASheader::is_absorbed_vlr(vlr));
  vlr.set_user_id("brindlex tile");
  EXPECT_TRUE(LASheader::is_absorbed_vlr(vlr));
  vlr.set_user_id("LASF_Spec");
  vlr.record_id = 4;
  EXPECT_FALSE(LASheader::is_absorbed_vlr(vlr));

  LASevlrEntry evlr;
  evlr.set_user_id("Brindlex");
  evlr.record_id = 30;
  EXPECT_TRUE(LASheader::is_absorbed_evlr(evlr));
  evlr.record_id = 5000;
  EXPECT_TRUE(LASheader::is_absorbed_evlr(evlr));
  evlr.set_user_id("brindlex tile");
  EXPECT_FALSE(LASheader::is_absorbed_evlr(evlr));
}

TEST(LasVlrRecords, TilingLevelsPackIntoOneWord) {
  LASvlrTiling tiling;
  tiling.implicit_levels = 5;
  tiling.buffer = true;
  EXPECT_EQ(tiling.packed_levels(), 0x40000005u);
  tiling.unpack_levels(0x80000003u);
  EXPECT_EQ(tiling.implicit_levels, 3u);
  EXPECT_FALSE(tiling.buffer);
  EXPECT_TRUE(tiling.reversible);
  EXPECT_EQ(sizeof(LASvlrOriginal::number_of_points_by_return), 120u);
}

TEST(LasVlrRecords, UserIdKeepsAllSixteenBytesWithoutATerminator) {
  LASvlrEntry vlr;
  vlr.set_user_id("0123456789abcdefXYZ");
  EXPECT_EQ(vlr.user_id_text(), "0123456789abcdef");
  EXPECT_TRUE(vlr.has_user_id("0123456789abcdef"));
  // Garbage after a terminating zero is kept but does not belong to the text.
  std::memcpy(vlr.user_id, "LeicaGeo\0\xff&\x0e", 12);
  EXPECT_EQ(vlr.user_id_text(), "LeicaGeo");
  EXPECT_EQ(static_cast<unsigned char>(vlr.user_id[9]), 0xFF);
}

TEST(LasVlrRecords, WavePacketDescriptorFieldsLieAtTheirUnalignedOffsets) {
  std::vector<std::uint8_t> payload = {16, 3, 0x10, 0x20, 0x30, 0x00, 0xE8, 0x03, 0x00, 0x00};
  const double gain = 0.25, offset = -12.5;
  payload.resize(26);
  std::memcpy(payload.data() + 10, &gain, 8);
  std::memcpy(payload.data() + 18, &offset, 8);
  const auto descriptor = LASvlrWavePacketDescriptor::unpack(payload.data(), payload.size());
  ASSERT_TRUE(descriptor);
  EXPECT_EQ(descriptor->bits_per_sample, 16);
  EXPECT_EQ(descriptor->compression_type, 3);
  EXPECT_EQ(descriptor->number_of_samples, 0x302010u);
  EXPECT_EQ(descriptor->temporal_sample_spacing, 1000u);
  EXPECT_EQ(descriptor->digitizer_gain, 0.25);
  EXPECT_EQ(descriptor->digitizer_offset, -12.5);
  EXPECT_EQ(descriptor->pack(), payload);
  EXPECT_FALSE(LASvlrWavePacketDescriptor::unpack(payload.data(), 25));
  EXPECT_FALSE(LASvlrWavePacketDescriptor::unpack(nullptr, 26));
}

}  // namespace
