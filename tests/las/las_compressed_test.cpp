// The compressed paths of the LAS reader and writer, driven through the engines with the
// stand-in item codecs of the codec tests: the records the writer adds and the reader
// absorbs, the point data format bit, chunks, seeking and the EVLRs after a chunk table.

#include <random>

#include "codec/pakrel.hpp"
#include "codec/stand_in_codecs.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

LASheader make_header(int point_type, int minor) {
  LASheader header;
  header.version_minor = static_cast<std::uint8_t>(minor);
  header.header_size = standard_header_size(static_cast<std::uint8_t>(minor));
  header.offset_to_point_data = header.header_size;
  header.point_data_format = static_cast<std::uint8_t>(point_type);
  header.point_data_record_length = static_cast<std::uint16_t>(point_type_base_size(point_type));
  return header;
}

std::vector<std::uint8_t> write_compressed(const LASheader& header, std::uint16_t compressor,
                                           int points, int chunk_size = -1) {
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  writer.set_item_codecs(stand_in::kCodecs);
  EXPECT_TRUE(writer.open_stream(&out, &header, compressor, 0, chunk_size));
  LASpoint point;
  EXPECT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                        header.point_data_record_length, &header));
  for (int i = 0; i < points; i++) {
    point.X = 3 * i;
    point.Y = -i;
    point.Z = i * i;
    point.intensity = static_cast<std::uint16_t>(i);
    point.gps_time = 0.5 * i;
    point.set_extended_return_number(static_cast<std::uint8_t>(1 + i % 4));
    point.set_extended_number_of_returns(4);
    EXPECT_TRUE(writer.write_point(point));
    if (chunk_size == 0 && i % 100 == 99) {
      EXPECT_TRUE(writer.chunk());
    }
  }
  EXPECT_GT(writer.close_writer(), 0);
  return std::vector<std::uint8_t>(out.data(), out.data() + out.size());
}

}  // namespace

TEST(LasCompressed, PointTypeOneGrowsByTheCodecRecordAndReadsBack) {
  LASheader header = make_header(1, 2);
  header.number_of_point_records = 1000;
  const std::vector<std::uint8_t> bytes =
      write_compressed(header, Pakrel::COMPRESSOR_CHUNKED, 1000);
  EXPECT_EQ(bytes[kOffsetPointDataFormat], 129);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetOffsetToPointData), 227u + 100);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetNumberOfVlrs), 1u);
  EXPECT_EQ(at<std::uint16_t>(bytes, 227), 43707);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 229)), "pakrel encoded");
  EXPECT_EQ(at<std::uint16_t>(bytes, 227 + 18), 22204);
  EXPECT_EQ(at<std::uint16_t>(bytes, 227 + 20), 34 + 6 * 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 227 + 22)),
            "by pakrel of Brindlex (200509)");

  LASreaderLAS reader;
  reader.set_item_codecs(stand_in::kCodecs);
  ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&in));
  EXPECT_EQ(reader.format_code(), 2);
  EXPECT_EQ(reader.header.point_data_format, 1);
  EXPECT_EQ(reader.header.offset_to_point_data, 227u);
  EXPECT_TRUE(reader.header.vlrs.empty());
  ASSERT_NE(reader.header.codec, nullptr);
  EXPECT_EQ(reader.header.codec->chunk_size, Pakrel::kDefaultChunkSize);
  for (int i = 0; i < 1000; i++) {
    ASSERT_TRUE(reader.read_next());
    ASSERT_EQ(reader.point.X, 3 * i);
    ASSERT_EQ(reader.point.gps_time, 0.5 * i);
  }
  EXPECT_FALSE(reader.read_next());
  EXPECT_FALSE(reader.read_next());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(LasCompressed, LayeredVariableChunksSeekAndKeepTheirEvlrs) {
  LASheader header = make_header(6, 4);
  LASevlrEntry evlr;
  evlr.set_user_id("after chunks");
  evlr.record_id = 7;
  evlr.set_data(std::vector<std::uint8_t>(33, 9));
  header.evlrs.push_back(evlr);
  header.number_of_extended_variable_length_records = 1;
  const std::vector<std::uint8_t> bytes =
      write_compressed(header, Pakrel::COMPRESSOR_LAYERED, 1050, 0);
  EXPECT_EQ(bytes[kOffsetPointDataFormat], 134);
  EXPECT_EQ(at<std::uint32_t>(bytes, kOffsetNumberOfPointRecords), 0u);
  EXPECT_EQ(at<std::uint64_t>(bytes, kOffsetExtendedNumberOfPointRecords), 1050u);
  const std::uint64_t evlr_start = at<std::uint64_t>(bytes, kOffsetStartOfFirstEvlr);
  EXPECT_EQ(evlr_start, bytes.size() - 60 - 33);

  LASreaderLAS reader;
  reader.set_item_codecs(stand_in::kCodecs);
  ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&in));
  ASSERT_EQ(reader.header.evlrs.size(), 1u);
  EXPECT_EQ(reader.header.evlrs[0].data, evlr.data);
  EXPECT_EQ(reader.header.codec->chunk_size, 0u);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> pick(0, 1049);
  for (int k = 0; k < 50; k++) {
    const int index = pick(random);
    ASSERT_TRUE(reader.seek_point(index));
    ASSERT_TRUE(reader.read_next());
    EXPECT_EQ(reader.point.X, 3 * index);
    EXPECT_EQ(reader.point.extended_return_number, 1 + index % 4);
  }
  ASSERT_TRUE(reader.seek_point(0));
  int points = 0;
  while (reader.read_next())
    points++;
  EXPECT_EQ(points, 1050);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(LasCompressed, CutCompressedFileWarnsOfTheMissingTableAndEndsInTheCutChunk) {
  LASheader header = make_header(1, 2);
  header.number_of_point_records = 1000;
  std::vector<std::uint8_t> bytes = write_compressed(header, Pakrel::COMPRESSOR_CHUNKED, 1000);
  const auto table_position = at<std::int64_t>(bytes, 327);  // the chunk table pointer
  bytes.resize(bytes.size() / 2);
  LASreaderLAS reader;
  reader.set_item_codecs(stand_in::kCodecs);
  ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open_stream(&in));
  int points = 0;
  while (reader.read_next())
    points++;
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages,
            "WARNING: 'chunk table and " +
                std::to_string(table_position - static_cast<std::int64_t>(bytes.size())) +
                " bytes are missing. PKZ file truncated during copy or transfer?' for ''\n"
                "ERROR: 'end-of-file during chunk with index 0' after " +
                std::to_string(points) + " of 1000 points for ''\n");
  EXPECT_GT(points, 400);
  EXPECT_LT(points, 500);
}

namespace {

struct RecordedIndex : LASindexHook {
  bool query_rectangle(double, double, double, double) override { return false; }
  bool query_tile(float, float, float) override { return false; }
  bool query_circle(double, double, double) override { return false; }
  bool advance(LASreader&) override { return false; }
  Check check(LASreader&, double, double, double, double) override { return Check::kSound; }
};

std::string g_index_signature;

std::unique_ptr<LASindexHook> load_recorded_index(ByteStreamIn& stream, const std::string&) {
  char signature[4];
  stream.read_bytes(signature, 4);
  g_index_signature.assign(signature, 4);
  return std::make_unique<RecordedIndex>();
}

}  // namespace

TEST(LasCompressed, SpecialEvlrsAreWalkedForTheIndexAndBadOnesIgnored) {
  LASheader header = make_header(1, 2);
  header.number_of_point_records = 10;
  std::vector<std::uint8_t> bytes = write_compressed(header, Pakrel::COMPRESSOR_CHUNKED, 10);
  const std::int64_t appended = static_cast<std::int64_t>(bytes.size());
  // An unrelated record, then the suite's index record, after the chunk table.
  for (std::uint16_t record_id : {std::uint16_t{77}, kRecordSpatialIndex}) {
    std::vector<std::uint8_t> head(60, 0);
    std::memcpy(head.data() + 2, "Brindlex", 8);
    put<std::uint16_t>(head, 18, record_id);
    put<std::uint64_t>(head, 20, 4);
    bytes.insert(bytes.end(), head.begin(), head.end());
    for (char c : std::string("LASX"))
      bytes.push_back(static_cast<std::uint8_t>(c));
  }
  const std::size_t codec_payload = 227 + 54;
  put<std::int64_t>(bytes, codec_payload + 16, 2);
  put<std::int64_t>(bytes, codec_payload + 24, appended);

  auto read_points = [&](std::string& messages, bool& indexed) {
    LASreaderLAS reader;
    reader.set_item_codecs(stand_in::kCodecs);
    ByteStreamInArrayLE in(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    testing::internal::CaptureStderr();
    int points = 0;
    if (reader.open_stream(&in)) {
      while (reader.read_next())
        points++;
    }
    messages = testing::internal::GetCapturedStderr();
    indexed = reader.get_index() != nullptr;
    return points;
  };

  std::string messages;
  bool indexed = false;
  // Without an index class the records are passed over.
  EXPECT_EQ(read_points(messages, indexed), 10);
  EXPECT_EQ(messages, "");
  EXPECT_FALSE(indexed);

  LASreaderLAS::set_embedded_index_loader(load_recorded_index);
  EXPECT_EQ(read_points(messages, indexed), 10);
  EXPECT_EQ(messages, "");
  EXPECT_TRUE(indexed);
  EXPECT_EQ(g_index_signature, "LASX");

  // Records that run past the end of the file cost a message, not the points.
  put<std::int64_t>(bytes, codec_payload + 24, appended + 50);
  EXPECT_EQ(read_points(messages, indexed), 10);
  EXPECT_EQ(messages, "ERROR: trying to read 2 internal EVLRs. ignoring ...\n");
  EXPECT_FALSE(indexed);
  LASreaderLAS::set_embedded_index_loader(nullptr);
}
