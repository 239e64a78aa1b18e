// The LAS reader and writer against files written by other producers: every header field,
// record and point the reader delivers is checked against the bytes read independently here,
// and a copy made through the writer must reproduce the file byte for byte.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"

using namespace las_test;

namespace {

struct RawRecord {
  std::uint16_t reserved;
  std::string user_id;
  std::uint16_t record_id;
  std::uint64_t length;
  std::string description;
  std::vector<std::uint8_t> payload;
};

std::string text(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes.data() + offset), size);
}

// The VLRs as the file holds them, walked with the layout of the format and nothing else.
std::vector<RawRecord> raw_vlrs(const std::vector<std::uint8_t>& file) {
  std::vector<RawRecord> records;
  const std::size_t end = at<std::uint32_t>(file, kOffsetOffsetToPointData);
  std::size_t position = at<std::uint16_t>(file, kOffsetHeaderSize);
  const std::uint32_t count = at<std::uint32_t>(file, kOffsetNumberOfVlrs);
  for (std::uint32_t i = 0; i < count && position + 54 <= end; i++) {
    RawRecord record;
    record.reserved = at<std::uint16_t>(file, position);
    record.user_id = text(file, position + 2, 16);
    record.record_id = at<std::uint16_t>(file, position + 18);
    record.length = at<std::uint16_t>(file, position + 20);
    record.description = text(file, position + 22, 32);
    record.payload.assign(file.begin() + position + 54,
                          file.begin() + position + 54 + record.length);
    records.push_back(std::move(record));
    position += 54 + records.back().length;
  }
  return records;
}

std::vector<RawRecord> raw_evlrs(const std::vector<std::uint8_t>& file) {
  std::vector<RawRecord> records;
  if (file[kOffsetVersionMinor] < 4) return records;
  std::size_t position = at<std::uint64_t>(file, kOffsetStartOfFirstEvlr);
  const std::uint32_t count = at<std::uint32_t>(file, kOffsetNumberOfEvlrs);
  for (std::uint32_t i = 0; i < count; i++) {
    RawRecord record;
    record.reserved = at<std::uint16_t>(file, position);
    record.user_id = text(file, position + 2, 16);
    record.record_id = at<std::uint16_t>(file, position + 18);
    record.length = at<std::uint64_t>(file, position + 20);
    record.description = text(file, position + 28, 32);
    record.payload.assign(file.begin() + position + 60,
                          file.begin() + position + 60 + record.length);
    records.push_back(std::move(record));
    position += 60 + records.back().length;
  }
  return records;
}

template <typename Entry>
void expect_same_record(const Entry& entry, const RawRecord& raw, const std::string& what) {
  EXPECT_EQ(entry.reserved, raw.reserved) << what;
  EXPECT_EQ(std::string(entry.user_id, 16), raw.user_id) << what;
  EXPECT_EQ(entry.record_id, raw.record_id) << what;
  EXPECT_EQ(entry.record_length_after_header, raw.length) << what;
  EXPECT_EQ(std::string(entry.description, 32), raw.description) << what;
  EXPECT_EQ(entry.data, raw.payload) << what;
}

// Reads every point of `name` and writes it with the reader's header through `writer`,
// which the caller has opened on the reader's header (passed back through `open`).
template <typename Open>
std::int64_t copy_through(const std::string& name, Open open, std::string& messages) {
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  std::int64_t bytes = -1;
  if (reader.open_file(real(name.c_str()).c_str())) {
    LASwriterLAS writer;
    if (open(writer, reader.header)) {
      while (reader.read_next())
        writer.write_point(reader.point);
      bytes = writer.close_writer(true);
    }
  }
  messages = testing::internal::GetCapturedStderr();
  return bytes;
}

// What the writer changes by design in a copy: the waveform data packet record of a LAS 1.3
// file (after the points) is not carried over, so the copy ends before it and names no start
// for it (start_of_waveform_data_packet_record at byte 227 is written as 0). Returns the
// size the copy must have.
std::size_t expected_copy_size(const std::vector<std::uint8_t>& original) {
  if (original[kOffsetVersionMinor] >= 3) {
    const auto waveform_start = at<std::uint64_t>(original, kOffsetStartOfWaveformData);
    if (waveform_start != 0) return static_cast<std::size_t>(waveform_start);
  }
  return original.size();
}

void expect_identical_except_known(const std::vector<std::uint8_t>& original,
                                   std::vector<std::uint8_t> copy, const std::string& name) {
  ASSERT_EQ(copy.size(), expected_copy_size(original)) << name;
  if (copy.size() != original.size()) {
    EXPECT_EQ(at<std::uint64_t>(copy, kOffsetStartOfWaveformData), 0u) << name;
    std::memcpy(copy.data() + kOffsetStartOfWaveformData,
                original.data() + kOffsetStartOfWaveformData, 8);
  }
  const auto mismatch = std::mismatch(copy.begin(), copy.end(), original.begin());
  EXPECT_TRUE(mismatch.first == copy.end())
      << name << " differs first at byte " << (mismatch.first - copy.begin());
}

}  // namespace

TEST(LasRealFiles, HeaderRecordsAndPointsMatchTheBytes) {
  SKIP_WITHOUT_REAL_DATA();
  for (const std::string& name : good_real_las_files()) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> file = file_bytes(real(name.c_str()));
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    const bool opened = reader.open_file(real(name.c_str()).c_str());
    std::int64_t points_read = 0;
    std::int64_t points_differing = 0;
    const LASheader& h = reader.header;
    const std::uint32_t offset = at<std::uint32_t>(file, kOffsetOffsetToPointData);
    const std::uint16_t record_length = at<std::uint16_t>(file, kOffsetPointDataRecordLength);
    while (opened && reader.read_next()) {
      const std::size_t record = offset + static_cast<std::size_t>(points_read) * record_length;
      const bool same = reader.point.X == at<std::int32_t>(file, record) &&
                        reader.point.Y == at<std::int32_t>(file, record + 4) &&
                        reader.point.Z == at<std::int32_t>(file, record + 8) &&
                        reader.point.intensity == at<std::uint16_t>(file, record + 12);
      if (!same) points_differing++;
      points_read++;
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened) << messages;
    EXPECT_EQ(messages.find("ERROR"), std::string::npos) << messages;

    EXPECT_EQ(std::memcmp(h.file_signature, "LASF", 4), 0);
    EXPECT_EQ(h.file_source_ID, at<std::uint16_t>(file, kOffsetFileSourceId));
    EXPECT_EQ(h.global_encoding, at<std::uint16_t>(file, kOffsetGlobalEncoding));
    EXPECT_EQ(std::memcmp(&h.project_ID_GUID_data_1, file.data() + kOffsetProjectIdGuid, 4), 0);
    EXPECT_EQ(std::memcmp(h.project_ID_GUID_data_4, file.data() + kOffsetProjectIdGuid + 8, 8), 0);
    EXPECT_EQ(h.version_major, file[kOffsetVersionMajor]);
    EXPECT_EQ(h.version_minor, file[kOffsetVersionMinor]);
    EXPECT_EQ(std::memcmp(h.system_identifier, file.data() + kOffsetSystemIdentifier, 32), 0);
    EXPECT_EQ(std::memcmp(h.generating_software, file.data() + kOffsetGeneratingSoftware, 32), 0);
    EXPECT_EQ(h.file_creation_day, at<std::uint16_t>(file, kOffsetFileCreationDay));
    EXPECT_EQ(h.file_creation_year, at<std::uint16_t>(file, kOffsetFileCreationYear));
    EXPECT_EQ(h.header_size, at<std::uint16_t>(file, kOffsetHeaderSize));
    EXPECT_EQ(h.offset_to_point_data, offset);
    EXPECT_EQ(h.point_data_format, file[kOffsetPointDataFormat]);
    EXPECT_EQ(h.point_data_record_length, record_length);
    EXPECT_EQ(h.number_of_point_records, at<std::uint32_t>(file, kOffsetNumberOfPointRecords));
    for (int i = 0; i < 5; i++) {
      EXPECT_EQ(h.number_of_points_by_return[i],
                at<std::uint32_t>(file, kOffsetNumberOfPointsByReturn + 4 * i));
    }
    EXPECT_EQ(h.x_scale_factor, at<double>(file, kOffsetScaleFactors));
    EXPECT_EQ(h.z_scale_factor, at<double>(file, kOffsetScaleFactors + 16));
    EXPECT_EQ(h.y_offset, at<double>(file, kOffsetOffsets + 8));
    EXPECT_EQ(h.max_x, at<double>(file, kOffsetBoundingBox));
    EXPECT_EQ(h.min_z, at<double>(file, kOffsetBoundingBox + 40));
    const int minor = file[kOffsetVersionMinor];
    if (minor >= 3) {
      EXPECT_EQ(h.start_of_waveform_data_packet_record,
                at<std::uint64_t>(file, kOffsetStartOfWaveformData));
    }
    if (minor >= 4) {
      EXPECT_EQ(h.start_of_first_extended_variable_length_record,
                at<std::uint64_t>(file, kOffsetStartOfFirstEvlr));
      EXPECT_EQ(h.number_of_extended_variable_length_records,
                at<std::uint32_t>(file, kOffsetNumberOfEvlrs));
      EXPECT_EQ(h.extended_number_of_point_records,
                at<std::uint64_t>(file, kOffsetExtendedNumberOfPointRecords));
      EXPECT_EQ(h.extended_number_of_points_by_return[14],
                at<std::uint64_t>(file, kOffsetExtendedNumberOfPointsByReturn + 8 * 14));
    }
    EXPECT_EQ(h.header_user_data_size(), h.header_size - standard_header_size(minor));

    const std::vector<RawRecord> vlrs = raw_vlrs(file);
    ASSERT_EQ(h.vlrs.size(), vlrs.size());
    EXPECT_EQ(h.number_of_variable_length_records, at<std::uint32_t>(file, kOffsetNumberOfVlrs));
    std::size_t after_vlrs = h.header_size;
    for (std::size_t i = 0; i < vlrs.size(); i++) {
      expect_same_record(h.vlrs[i], vlrs[i], "vlr " + std::to_string(i));
      after_vlrs += 54 + vlrs[i].length;
    }
    EXPECT_EQ(h.trailing_user_data_size(), offset - after_vlrs);
    const std::vector<RawRecord> evlrs = raw_evlrs(file);
    ASSERT_EQ(h.evlrs.size(), evlrs.size());
    for (std::size_t i = 0; i < evlrs.size(); i++) {
      expect_same_record(h.evlrs[i], evlrs[i], "evlr " + std::to_string(i));
    }

    const std::uint64_t count =
        h.number_of_point_records ? h.number_of_point_records : h.extended_number_of_point_records;
    EXPECT_EQ(reader.points_total, static_cast<std::int64_t>(count));
    EXPECT_EQ(points_read, static_cast<std::int64_t>(count));
    EXPECT_EQ(points_differing, 0);
  }
}

TEST(LasRealFiles, CopyThroughTheWriterReproducesEveryFile) {
  SKIP_WITHOUT_REAL_DATA();
  for (const std::string& name : good_real_las_files()) {
    SCOPED_TRACE(name);
    const auto path = scratch(name);
    std::string messages;
    const std::int64_t bytes = copy_through(
        name,
        [&](LASwriterLAS& writer, const LASheader& header) {
          return writer.open_file(path.string().c_str(), &header);
        },
        messages);
    const std::vector<std::uint8_t> original = file_bytes(real(name.c_str()));
    EXPECT_EQ(bytes, static_cast<std::int64_t>(expected_copy_size(original))) << messages;
    EXPECT_EQ(messages.find("ERROR"), std::string::npos) << messages;
    expect_identical_except_known(original, file_bytes(path), name);
    std::filesystem::remove(path);
  }
}

TEST(LasRealFiles, NilWriterMeasuresEveryCopyExactly) {
  SKIP_WITHOUT_REAL_DATA();
  for (const std::string& name : good_real_las_files()) {
    SCOPED_TRACE(name);
    std::string messages;
    const std::int64_t bytes = copy_through(
        name,
        [](LASwriterLAS& writer, const LASheader& header) { return writer.open_nil(&header); },
        messages);
    EXPECT_EQ(bytes, static_cast<std::int64_t>(expected_copy_size(file_bytes(real(name.c_str())))))
        << messages;
  }
}

// Standard output cannot seek: the writer must get every byte right in one pass.
TEST(LasRealFiles, CopyToStandardOutputReproducesEveryFile) {
  SKIP_WITHOUT_REAL_DATA();
  for (const std::string& name : good_real_las_files()) {
    SCOPED_TRACE(name);
    const auto path = scratch(name);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (std::freopen(path.string().c_str(), "wb", stdout) == nullptr) _exit(2);
      LASreaderLAS reader;
      if (!reader.open_file(real(name.c_str()).c_str())) _exit(3);
      LASwriterLAS writer;
      if (!writer.open_handle(stdout, &reader.header)) _exit(4);
      if (writer.stream_of()->can_seek()) _exit(5);
      while (reader.read_next())
        writer.write_point(reader.point);
      const bool closed = writer.close_writer(true) > 0;
      _exit(closed && std::fflush(stdout) == 0 ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    expect_identical_except_known(file_bytes(real(name.c_str())), file_bytes(path), name);
    std::filesystem::remove(path);
  }
}

// Standard input cannot seek: the EVLRs after the points are skipped with a warning and the
// header then lists none, so that a copy does not announce records it lacks.
TEST(LasRealFiles, StandardInputSkipsTheEvlrsButDeliversEveryPoint) {
  SKIP_WITHOUT_REAL_DATA();
  const auto errors = scratch("stderr.txt");
  std::fflush(stderr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!std::freopen(real("1_4_w_evlr.las").c_str(), "rb", stdin)) _exit(2);
    if (!std::freopen(errors.string().c_str(), "w", stderr)) _exit(2);
    LASreaderLAS reader;
    if (!reader.open_handle(stdin)) _exit(3);
    int points = 0;
    while (reader.read_next())
      points++;
    std::fflush(stderr);
    _exit(points == 1000 && reader.header.evlrs.empty() &&
                  reader.header.number_of_extended_variable_length_records == 0
              ? 0
              : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::uint8_t> message = file_bytes(errors);
  EXPECT_EQ(std::string(message.begin(), message.end()),
            "WARNING: LAS 1.4 file has 1 EVLRs but stream is not seekable ...\n");
}
