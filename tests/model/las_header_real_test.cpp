// The header model against records written by other producers: the record lists of real
// files are cut out here with a few lines of byte arithmetic (the reader is not part of the
// model) and handed to the header the way the LAS reader hands them over.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/las_header.hpp"

namespace {

std::vector<std::uint8_t> file_bytes(const std::string& name) {
  std::ifstream in(std::filesystem::path(ISOCULL_REAL_DATA_DIR) / name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

struct ReadResult {
  LASheader header;
  std::string warnings;
};

// The record part of the reader: VLRs that fit before the points, interpreted and absorbed,
// then the EVLRs of LAS 1.4.
ReadResult read_records(const std::vector<std::uint8_t>& file) {
  ReadResult result;
  LASheader& header = result.header;
  header.version_minor = file[kOffsetVersionMinor];
  header.header_size = at<std::uint16_t>(file, kOffsetHeaderSize);
  header.offset_to_point_data = at<std::uint32_t>(file, kOffsetOffsetToPointData);
  header.number_of_variable_length_records = at<std::uint32_t>(file, kOffsetNumberOfVlrs);
  testing::internal::CaptureStderr();
  std::size_t position = header.header_size;
  for (std::uint32_t i = 0; i < header.number_of_variable_length_records;) {
    if (position + kVlrHeadSize > header.offset_to_point_data) break;
    LASvlrEntry vlr;
    vlr.reserved = at<std::uint16_t>(file, position);
    std::memcpy(vlr.user_id, file.data() + position + kVlrOffsetUserId, kUserIdSize);
    vlr.record_id = at<std::uint16_t>(file, position + kVlrOffsetRecordId);
    const std::uint16_t length = at<std::uint16_t>(file, position + kVlrOffsetRecordLength);
    std::memcpy(vlr.description, file.data() + position + kVlrOffsetDescription, kDescriptionSize);
    const std::size_t payload = position + kVlrHeadSize;
    vlr.set_data(
        std::vector<std::uint8_t>(file.begin() + payload, file.begin() + payload + length));
    header.vlrs.push_back(std::move(vlr));
    position = payload + length;
    if (LASheader::is_absorbed_vlr(header.vlrs.back())) {
      header.drop_vlr_at(header.vlrs.size() - 1);
      continue;
    }
    header.interpret_vlr(i);
    ++i;
  }
  if (header.version_minor >= 4) {
    position = at<std::uint64_t>(file, kOffsetStartOfFirstEvlr);
    header.number_of_extended_variable_length_records =
        at<std::uint32_t>(file, kOffsetNumberOfEvlrs);
    for (std::uint32_t i = 0; i < header.number_of_extended_variable_length_records; ++i) {
      LASevlrEntry evlr;
      std::memcpy(evlr.user_id, file.data() + position + kEvlrOffsetUserId, kUserIdSize);
      evlr.record_id = at<std::uint16_t>(file, position + kEvlrOffsetRecordId);
      const std::uint64_t length = at<std::uint64_t>(file, position + kEvlrOffsetRecordLength);
      const std::size_t payload = position + kEvlrHeadSize;
      evlr.set_data(
          std::vector<std::uint8_t>(file.begin() + payload, file.begin() + payload + length));
      header.evlrs.push_back(std::move(evlr));
      header.interpret_evlr(i);
      position = payload + length;
    }
  }
  result.warnings = testing::internal::GetCapturedStderr();
  return result;
}

class RealHeaders : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ISOCULL_REAL_DATA_DIR)) {
      GTEST_SKIP() << "real point files not found at " << ISOCULL_REAL_DATA_DIR;
    }
  }
};

TEST_F(RealHeaders, GeoKeysDoubleParamsAndWktFromVlrsAndEvlrs) {
  const ReadResult read = read_records(file_bytes("simple1_4.las"));
  EXPECT_EQ(read.warnings, "");
  const LASheader& header = read.header;
  ASSERT_NE(header.vlr_geo_keys(), nullptr);
  EXPECT_EQ(header.geo_key_count(), 7);
  EXPECT_EQ(header.geo_double_params_count(), 3u);
  ASSERT_NE(header.geo_wkt(), nullptr);
  EXPECT_EQ(std::string(header.geo_wkt(), 6), "GEOGCS");
  EXPECT_EQ(header.geo_wkt()[header.geo_wkt_size() - 1], '\0');
}

TEST_F(RealHeaders, BrokenGeoKeysAreReadWithinTheirPayload) {
  const ReadResult read = read_records(file_bytes("bad-geotiff-keys.las"));
  EXPECT_EQ(read.warnings, "");
  EXPECT_EQ(read.header.geo_key_count(), 8);
  EXPECT_EQ(read.header.geo_key_entries()[3].value_offset, 9001);
  EXPECT_EQ(read.header.geo_double_params_count(), 5u);
  EXPECT_EQ(read.header.geo_ascii_params_size(), 256u);
}

TEST_F(RealHeaders, WavePacketDescriptorOfALas13File) {
  const ReadResult read = read_records(file_bytes("simple1_3.las"));
  EXPECT_EQ(read.warnings, "");
  const auto descriptor = read.header.wave_packet_descriptors(1);
  ASSERT_TRUE(descriptor);
  EXPECT_EQ(descriptor->bits_per_sample, 8);
  EXPECT_EQ(descriptor->number_of_samples, 256u);
  EXPECT_EQ(descriptor->temporal_sample_spacing, 1000u);
  // Vendor records with garbage after the zero of their user id keep every byte.
  EXPECT_EQ(read.header.vlrs[0].user_id_text(), "LeicaGeo");
  EXPECT_EQ(static_cast<unsigned char>(read.header.vlrs[0].user_id[9]), 0xFF);
}

TEST_F(RealHeaders, ExtraBytesDescriptorsCoverTheRecordsExtraBytes) {
  const std::vector<std::uint8_t> file = file_bytes("extrabytes.las");
  const ReadResult read = read_records(file);
  EXPECT_EQ(read.warnings,
            "WARNING: data type 23 of attribute 0 ('Colors') is deprecated\n"
            "WARNING: data type 12 of attribute 2 ('Flags') is deprecated\n");
  const LASheader& header = read.header;
  ASSERT_EQ(header.attribute_count(), 5);
  const int record_length = at<std::uint16_t>(file, kOffsetPointDataRecordLength);
  EXPECT_EQ(header.attribute_bytes(), record_length - 34);  // point type 3 is 34 bytes
  EXPECT_EQ(header.attribute_width(1), 7);                  // undocumented bytes
  EXPECT_EQ(header.attribute_offset(4), 19);
  // Written back, the descriptors are the bytes that were read.
  EXPECT_EQ(header.descriptor_payload(), header.vlrs[0].data);
}

TEST_F(RealHeaders, CodecRecordIsAbsorbedAndTheOffsetMatchesTheUncompressedTwin) {
  const ReadResult compressed = read_records(file_bytes("1_4_w_evlr.pkz"));
  const ReadResult plain = read_records(file_bytes("1_4_w_evlr.las"));
  EXPECT_EQ(compressed.header.vlrs.size(), 2u);
  EXPECT_EQ(compressed.header.number_of_variable_length_records, 2u);
  EXPECT_EQ(compressed.header.offset_to_point_data, plain.header.offset_to_point_data);
  EXPECT_EQ(compressed.header.find_vlr("pakrel encoded", 22204), -1);
  ASSERT_EQ(compressed.header.evlrs.size(), 1u);
  EXPECT_EQ(compressed.header.evlrs[0].user_id_text(), "pylastest");
}

TEST_F(RealHeaders, CopiedHeaderKeepsEveryRecordByte) {
  const std::vector<std::uint8_t> file = file_bytes("perm_1.2_3.las");
  LASheader copy;
  {
    const ReadResult read = read_records(file);
    copy = read.header;
  }
  std::size_t position = copy.header_size;
  for (const LASvlrEntry& vlr : copy.vlrs) {
    EXPECT_EQ(std::memcmp(file.data() + position + kVlrOffsetUserId, vlr.user_id, 16), 0);
    EXPECT_EQ(std::memcmp(file.data() + position + kVlrOffsetDescription, vlr.description, 32), 0);
    EXPECT_EQ(std::memcmp(file.data() + position + kVlrHeadSize, vlr.data.data(), vlr.data.size()),
              0);
    position += kVlrHeadSize + vlr.data.size();
  }
  EXPECT_EQ(position, copy.offset_to_point_data);
  EXPECT_EQ(copy.geo_key_count(), 7);
  EXPECT_NE(copy.geo_ascii_params(), nullptr);
}

}  // namespace
