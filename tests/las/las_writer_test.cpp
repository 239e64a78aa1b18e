// The LAS writer's rules at open and close: counts patched where they belong, what a stream
// that cannot seek leaves, LAS 1.4 counts, version clamping, the records it adds, EVLRs
// after the points, header updates, and a disk that refuses the bytes.

#include <sys/wait.h>
#include <unistd.h>

#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"
#include "stream/bytestream_out_file.hpp"

using namespace las_test;

namespace {

LASheader make_header(int point_type, int minor) {
  LASheader header;
  header.version_minor = static_cast<std::uint8_t>(minor);
  header.header_size = standard_header_size(static_cast<std::uint8_t>(minor));
  header.offset_to_point_data = header.header_size;
  header.point_data_format = static_cast<std::uint8_t>(point_type);
  header.point_data_record_length = static_cast<std::uint16_t>(point_type_base_size(point_type));
  header.max_x = header.max_y = header.max_z = 100;
  return header;
}

void write_points(LASwriter& writer, const LASheader& header, int count) {
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                        header.point_data_record_length, &header));
  for (int i = 0; i < count; i++) {
    point.X = i;
    point.Y = 2 * i;
    point.Z = -i;
    point.return_number = static_cast<std::uint8_t>(1 + i % 3);
    point.extended_return_number = static_cast<std::uint8_t>(1 + i % 3);
    writer.write_point(point);
    writer.count_point(point);
  }
}

std::vector<std::uint8_t> contents(const ByteStreamOutArray& out) {
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

struct Written {
  std::vector<std::uint8_t> bytes;
  std::string messages;
  std::int64_t result = 0;
};

Written write_to_array(const LASheader& header, int points, bool fix_count = true) {
  Written written;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  if (writer.open_stream(&out, &header)) {
    write_points(writer, header, points);
    written.result = writer.close_writer(fix_count);
  }
  written.messages = testing::internal::GetCapturedStderr();
  written.bytes = contents(out);
  return written;
}

}  // namespace

TEST(LasWriterCounts, FewerPointsThanAnnouncedPatchTheCountsAt107And247) {
  LASheader header = make_header(1, 2);
  header.number_of_point_records = 12;
  Written written = write_to_array(header, 10);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(at<std::uint32_t>(written.bytes, 107), 10u);
  EXPECT_EQ(written.result, static_cast<std::int64_t>(written.bytes.size()));

  header = make_header(1, 4);
  header.number_of_point_records = 12;
  written = write_to_array(header, 10);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(at<std::uint32_t>(written.bytes, 107), 10u);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 247), 10u);

  // Point types 6-10 keep the legacy count at 0.
  header = make_header(6, 4);
  header.extended_number_of_point_records = 12;
  written = write_to_array(header, 10);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(at<std::uint32_t>(written.bytes, 107), 0u);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 247), 10u);

  // Without fix_count the announced count stays, with a warning.
  header = make_header(1, 2);
  header.number_of_point_records = 12;
  written = write_to_array(header, 10, false);
  EXPECT_EQ(written.messages, "WARNING: written 10 points but expected 12 points\n");
  EXPECT_EQ(at<std::uint32_t>(written.bytes, 107), 12u);
}

TEST(LasWriterCounts, StandardOutputCannotBePatchedAndSaysSo) {
  const auto path = scratch("out.las");
  const auto errors = scratch("stderr.txt");
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!std::freopen(path.string().c_str(), "wb", stdout)) _exit(2);
    if (!std::freopen(errors.string().c_str(), "w", stderr)) _exit(2);
    LASheader header = make_header(1, 4);
    header.number_of_point_records = 12;
    LASwriterLAS writer;
    if (!writer.open_handle(stdout, &header)) _exit(3);
    write_points(writer, header, 10);
    const bool closed = writer.close_writer(true) > 0;
    std::fflush(stderr);
    _exit(closed && std::fflush(stdout) == 0 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::uint8_t> bytes = file_bytes(path);
  const std::vector<std::uint8_t> message = file_bytes(errors);
  EXPECT_EQ(std::string(message.begin(), message.end()),
            "WARNING: stream not seekable. cannot update header from 12 to 10 points.\n");
  EXPECT_EQ(at<std::uint32_t>(bytes, 107), 12u);
  EXPECT_EQ(at<std::uint64_t>(bytes, 247), 12u);
  EXPECT_EQ(bytes.size(), 375u + 10 * 28);
}

TEST(LasWriterCounts, LasOneFourExtendedCountsFollowTheLegacyOnesWhenSet) {
  LASheader header = make_header(1, 4);
  header.extended_number_of_point_records = 7;
  header.extended_number_of_points_by_return[0] = 7;
  Written written = write_to_array(header, 7);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 247), 7u);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 255), 7u);

  header.number_of_point_records = 5;
  header.number_of_points_by_return[0] = 5;
  written = write_to_array(header, 5);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(at<std::uint32_t>(written.bytes, 107), 5u);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 247), 5u);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 255), 5u);
}

TEST(LasWriterHeader, UnknownVersionsAreWrittenAsTheNearestKnownOne) {
  LASheader header = make_header(1, 4);
  header.version_minor = 5;
  Written written = write_to_array(header, 1);
  EXPECT_EQ(written.messages,
            "WARNING: unknown version 1.5 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
            "WARNING: header->version_minor is 5. writing 4 instead.\n");
  EXPECT_EQ(written.bytes[kOffsetVersionMinor], 4);

  header = make_header(1, 0);
  header.version_major = 2;
  written = write_to_array(header, 1);
  EXPECT_EQ(written.messages,
            "WARNING: unknown version 2.0 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
            "WARNING: header->version_major is 2. writing 1 instead.\n");
  EXPECT_EQ(written.bytes[kOffsetVersionMajor], 1);
  EXPECT_EQ(written.bytes[kOffsetVersionMinor], 0);

  // LAS 1.3: no waveform data is carried, so none is pointed at.
  header = make_header(1, 3);
  header.start_of_waveform_data_packet_record = 5000;
  written = write_to_array(header, 1);
  EXPECT_EQ(written.messages,
            "WARNING: header->start_of_waveform_data_packet_record is 5000. writing 0 instead.\n");
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 227), 0u);
}

TEST(LasWriterHeader, AHeaderWhoseSizesDoNotAddUpIsRefused) {
  LASheader header = make_header(1, 2);
  header.offset_to_point_data += 10;  // ten bytes that no record or user data accounts for
  Written written = write_to_array(header, 1);
  EXPECT_EQ(written.result, 0);
  EXPECT_EQ(written.messages,
            "ERROR: header->offset_to_point_data is 237 but the header, its 0 VLRs and user data "
            "take 227 bytes\n");

  header = make_header(1, 4);
  header.header_size = 227;
  header.offset_to_point_data = 227;
  written = write_to_array(header, 1);
  EXPECT_EQ(written.messages,
            "ERROR: header->header_size is 227 but a LAS 1.4 header with 0 bytes of user data "
            "has 375 bytes\n");
}

TEST(LasWriterHeader, CompressionRequestsThatCannotBeMet) {
  LASheader header = make_header(3, 2);
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open_stream(&out, &header, Pakrel::COMPRESSOR_CHUNKED, 0, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: adaptive chunking is depricated for point type 3.\n"
            "       only available for new LAS 1.4 point types 6 or higher.\n");

  header = make_header(6, 4);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open_stream(&out, &header, Pakrel::COMPRESSOR_CHUNKED));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Pakrel\n");
  // A writer left after a failed open refuses points and never closes as a success.
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 6, 30, &header));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.write_point(point));
  EXPECT_EQ(writer.close_writer(), 0);
  EXPECT_TRUE(writer.failed());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot write point 1: the writer is not open\n");
}

TEST(LasWriterHeader, CompressedPointTypeOneGrowsByTheCodecRecord) {
  LASheader header = make_header(1, 2);
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  const bool opened = writer.open_stream(&out, &header, Pakrel::COMPRESSOR_CHUNKED);
  const std::string messages = testing::internal::GetCapturedStderr();
  if (!opened) {
    // Until the item codecs exist the engine cannot be set up.
    EXPECT_EQ(messages, "ERROR: point type 1 of size 28 not supported (with Pakrel)\n");
    return;
  }
  write_points(writer, header, 3);
  ASSERT_GT(writer.close_writer(), 0);
  const std::vector<std::uint8_t> bytes = contents(out);
  EXPECT_EQ(bytes[kOffsetPointDataFormat], 129);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetOffsetToPointData), 227u + 54 + 34 + 6 * 2);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetNumberOfVlrs), 1u);
  EXPECT_EQ(at<std::uint16_t>(bytes, 227 + 18), 22204);
}

TEST(LasWriterRecords, SuiteRecordsAreWrittenBackAndAbsorbedAgainOnRead) {
  LASheader header = make_header(1, 2);
  LASvlrTiling tiling;
  tiling.level = 3;
  tiling.level_index = 17;
  tiling.implicit_levels = 5;
  tiling.buffer = true;
  tiling.min_x = 10.5f;
  tiling.max_y = 99.25f;
  header.vlr_rivudover = tiling;
  LASvlrOriginal original;
  original.number_of_point_records = 123456789012;
  original.number_of_points_by_return[14] = 42;
  original.max_z = 1234.5;
  header.vlr_lasoriginal = original;
  header.store_geo_keys(0, nullptr);
  const std::uint32_t offset = header.offset_to_point_data;

  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  write_points(writer, header, 2);
  ASSERT_GT(writer.close_writer(), 0);
  const std::vector<std::uint8_t> bytes = contents(out);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetOffsetToPointData), offset + 82 + 230);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetNumberOfVlrs), 3u);
  const std::size_t tiling_at = offset;
  EXPECT_EQ(at<std::uint16_t>(bytes, tiling_at), 43707);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + tiling_at + 22)),
            "tile with buffer ");
  EXPECT_EQ(header.vlr_lasoriginal->position, static_cast<std::int64_t>(offset + 82 + 54));

  LASreaderLAS reader;
  ByteStreamInArrayLE in(out.data(), out.size());
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&in));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(reader.header.offset_to_point_data, offset);
  EXPECT_EQ(reader.header.vlrs.size(), 1u);
  ASSERT_TRUE(reader.header.vlr_rivudover.has_value());
  EXPECT_EQ(reader.header.vlr_rivudover->level_index, 17u);
  EXPECT_EQ(reader.header.vlr_rivudover->implicit_levels, 5u);
  EXPECT_TRUE(reader.header.vlr_rivudover->buffer);
  EXPECT_EQ(reader.header.vlr_rivudover->max_y, 99.25f);
  ASSERT_TRUE(reader.header.vlr_lasoriginal.has_value());
  EXPECT_EQ(reader.header.vlr_lasoriginal->number_of_point_records, 123456789012u);
  EXPECT_EQ(reader.header.vlr_lasoriginal->number_of_points_by_return[14], 42u);
  EXPECT_EQ(reader.header.vlr_lasoriginal->max_z, 1234.5);
  int points = 0;
  while (reader.read_next())
    points++;
  EXPECT_EQ(points, 2);
}

TEST(LasWriterRecords, EvlrsFollowThePointsAndTheirStartIsPatchedAt235) {
  LASheader header = make_header(6, 4);
  header.extended_number_of_point_records = 4;
  for (int i = 0; i < 2; i++) {
    LASevlrEntry evlr;
    evlr.set_user_id("test evlr");
    evlr.record_id = static_cast<std::uint16_t>(1000 + i);
    evlr.set_description("an extended record");
    evlr.set_data(std::vector<std::uint8_t>(100 + i, static_cast<std::uint8_t>(i + 1)));
    header.evlrs.push_back(evlr);
  }
  header.number_of_extended_variable_length_records = 2;
  header.start_of_first_extended_variable_length_record = 1;  // not where they will be
  Written written = write_to_array(header, 4);
  EXPECT_EQ(written.messages, "");
  const std::uint64_t start = 375 + 4 * 30;
  EXPECT_EQ(at<std::uint64_t>(written.bytes, 235), start);
  EXPECT_EQ(written.bytes.size(), start + 60 + 100 + 60 + 101);
  EXPECT_EQ(at<std::uint64_t>(written.bytes, start + 20), 100u);

  LASreaderLAS reader;
  ByteStreamInArrayLE in(written.bytes.data(), static_cast<std::int64_t>(written.bytes.size()));
  ASSERT_TRUE(reader.open_stream(&in));
  ASSERT_EQ(reader.header.evlrs.size(), 2u);
  EXPECT_EQ(reader.header.evlrs[1].record_id, 1001);
  EXPECT_EQ(reader.header.evlrs[1].data, header.evlrs[1].data);
  int points = 0;
  while (reader.read_next())
    points++;
  EXPECT_EQ(points, 4);
}

TEST(LasWriterUpdate, HeaderUpdatedFromTheTallyCarriesCountsAndBounds) {
  LASheader header = make_header(1, 4);
  header.x_offset = 1000;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  write_points(writer, header, 7);
  ASSERT_TRUE(writer.update_header(&header, true));
  testing::internal::CaptureStderr();
  ASSERT_GT(writer.close_writer(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const std::vector<std::uint8_t> bytes = contents(out);
  EXPECT_EQ(at<std::uint32_t>(bytes, 107), 7u);
  EXPECT_EQ(at<std::uint32_t>(bytes, 111), 3u);  // returns 1, 2, 3, 1, 2, 3, 1
  EXPECT_EQ(at<std::uint32_t>(bytes, 115), 2u);
  EXPECT_EQ(at<double>(bytes, 179), 1000.06);  // max x
  EXPECT_EQ(at<double>(bytes, 187), 1000.0);   // min x
  EXPECT_EQ(at<double>(bytes, 195), 0.12);     // max y
  EXPECT_EQ(at<double>(bytes, 219), -0.06);    // min z
  EXPECT_EQ(at<std::uint64_t>(bytes, 247), 7u);
  EXPECT_EQ(at<std::uint64_t>(bytes, 255), 3u);
}

TEST(LasWriterUpdate, TallyBeyondThirtyTwoBitsCapsTheLegacyCountBelowLasOneFour) {
  LASheader header = make_header(1, 2);
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  write_points(writer, header, 1);
  writer.inventory.number_of_point_records = std::int64_t{1} << 32;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.update_header(&header, true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: too many points in LAS 1.2 file. limit is 4294967295.\n");
  EXPECT_EQ(at<std::uint32_t>(contents(out), 107), 4294967295u);
  writer.inventory.number_of_point_records = 1;
  ASSERT_TRUE(writer.update_header(&header, true));
  EXPECT_GT(writer.close_writer(), 0);

  LAStally tally;
  tally.number_of_point_records = std::int64_t{1} << 32;
  EXPECT_FALSE(tally.copy_to(header));
  header.version_minor = 4;
  EXPECT_TRUE(tally.copy_to(header));
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.extended_number_of_point_records, std::uint64_t{1} << 32);
}

TEST(LasWriter, StoredRecordsAreTakenOnlyInTheLayoutWrittenRawAndComeOutAsThePoints) {
  const LASheader header = make_header(3, 2);
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 3, header.point_data_record_length, &header));
  point.X = 12;
  point.Y = -34;
  point.Z = 56;
  point.return_number = 2;
  point.gps_time = 7.25;
  point.rgb[1] = 999;
  // The record of the point as write_point stores it.
  ByteStreamOutArrayLE by_point;
  {
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_stream(&by_point, &header));
    EXPECT_TRUE(writer.takes_raw_records(point));
    ASSERT_TRUE(writer.write_point(point));
    ASSERT_GT(writer.close_writer(), 0);
  }
  const std::vector<std::uint8_t> file = contents(by_point);
  const std::uint8_t* record = file.data() + header.offset_to_point_data;
  ByteStreamOutArrayLE by_record;
  {
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_stream(&by_record, &header));
    ASSERT_TRUE(writer.write_raw_record(record));
    EXPECT_EQ(writer.points_done, 1);
    ASSERT_GT(writer.close_writer(), 0);
  }
  EXPECT_EQ(contents(by_record), file);

  // Another layout, or compressed records, are not taken.
  LASpoint other;
  const LASheader other_header = make_header(1, 2);
  ASSERT_TRUE(other.init_for_point_type(&other_header, 1, 28, &other_header));
  ByteStreamOutArrayLE out;  // the streams outlive the writers that borrow them
  ByteStreamOutArrayLE packed;
  LASwriterLAS raw;
  ASSERT_TRUE(raw.open_stream(&out, &header));
  EXPECT_FALSE(raw.takes_raw_records(other));
  LASwriterLAS compressed;
  ASSERT_TRUE(compressed.open_stream(&packed, &header, Pakrel::COMPRESSOR_CHUNKED));
  EXPECT_FALSE(compressed.takes_raw_records(point));
}

TEST(LasWriterFailure, AFullDiskIsAnErrorAndAFailedCloseNeverSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const LASheader header = make_header(1, 2);
  {
    // Everything fits the buffers: the refusal shows when they are handed over at close.
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open_file("/dev/full", &header));
    write_points(writer, header, 10);
    EXPECT_EQ(writer.close_writer(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: cannot write to '/dev/full' (disk full or I/O error)\n");
    EXPECT_TRUE(writer.failed());
  }
  {
    // More than the buffers hold: the refusal shows at the point that overflows them.
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open_file("/dev/full", &header));
    LASpoint point;
    ASSERT_TRUE(point.init_for_point_type(&header, 1, 28, &header));
    int refused = 0;
    for (int i = 0; i < 40000; i++)
      refused += writer.write_point(point) ? 0 : 1;
    EXPECT_GT(refused, 0);
    EXPECT_EQ(writer.close_writer(), 0);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages.rfind("ERROR: cannot write point ", 0), 0u) << messages;
    EXPECT_NE(messages.find("to '/dev/full' (disk full or I/O error)\n"), std::string::npos);
    EXPECT_TRUE(writer.failed());
  }
  {
    // Unbuffered: the first header field is refused by name.
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    ByteStreamOutFileLE out(full, 0);
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.open_stream(&out, &header));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: writing header->file_signature\n");
    EXPECT_EQ(writer.close_writer(), 0);
    std::fclose(full);
  }
}

TEST(LasWriterFailure, OpenRefusesMissingArguments) {
  LASwriterLAS writer;
  const LASheader header = make_header(0, 2);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open_file(nullptr, &header));
  EXPECT_FALSE(writer.open_file("/nonexistent-folder/x.las", &header));
  EXPECT_FALSE(writer.open_nil(nullptr));
  EXPECT_FALSE(writer.open_handle(nullptr, &header));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent-folder/x.las' for write\n"
            "ERROR: LASheader pointer is zero\n"
            "ERROR: file pointer is zero\n");
}

TEST(LasWriterUpdate, HeaderUpdatedFromTheHeaderRewritesCountsBoundsAndExtraBytes) {
  LASheader header = make_header(1, 3);
  LASattributeDescriptor height;
  height.data_type = 3;  // U16
  height.set_name("height");
  ASSERT_EQ(header.add_attribute(height), 0);
  ASSERT_TRUE(header.refresh_extra_bytes_vlr());
  header.point_data_record_length = 30;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  write_points(writer, header, 4);

  header.number_of_point_records = 4;
  header.number_of_points_by_return[1] = 3;
  header.min_z = -7.5;
  header.start_of_waveform_data_packet_record = 99;
  header.descriptor(0).options = LASattributeDescriptor::kMaxValid;
  header.descriptor(0).max[0].u64 = 0x40;
  ASSERT_TRUE(header.refresh_extra_bytes_vlr(true));  // same length, same place
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.update_header(&header, false, true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: header->start_of_waveform_data_packet_record is 99. writing 0 instead.\n");
  ASSERT_GT(writer.close_writer(), 0);
  const std::vector<std::uint8_t> bytes = contents(out);
  EXPECT_EQ(at<std::uint32_t>(bytes, 107), 4u);
  EXPECT_EQ(at<std::uint32_t>(bytes, 115), 3u);
  EXPECT_EQ(at<double>(bytes, 219), -7.5);
  EXPECT_EQ(at<std::uint64_t>(bytes, 227), 0u);
  // The extra-bytes payload follows the 235-byte header and the record's 54-byte head.
  const std::size_t payload = 235 + 54;
  EXPECT_EQ(bytes[payload + 3], LASattributeDescriptor::kMaxValid);
  EXPECT_EQ(bytes[payload + 4 + 32 + 4 + 48], 0x40);  // max follows name, unused, no_data, min
  EXPECT_EQ(bytes.size(), 235u + 54 + 192 + 4 * 30);

  LASheader plain = make_header(1, 2);
  plain.add_attribute(height);  // an attribute without its record
  const LASheader first = make_header(1, 2);
  LASwriterLAS other;
  ByteStreamOutArrayLE elsewhere;
  ASSERT_TRUE(other.open_stream(&elsewhere, &first));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(other.update_header(&plain, false, true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: could not find extra bytes VLR for update\n");
  other.close_writer(false);
}
