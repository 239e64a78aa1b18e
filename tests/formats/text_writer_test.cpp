// The text writer: columns, number formats, separators, the PTS and PTX header lines, and
// LAS -> text -> LAS on the real files, which must give back the same records.

#include <cstring>

#include "formats/las_writer_txt.hpp"
#include "formats/text_format.hpp"
#include "las/las_reader_las.hpp"
#include "text_test_support.hpp"

namespace {

using text_test::Folder;

LASheader header_of_type(int point_type, double scale = 0.01, double offset = 0.0) {
  LASheader header;
  header.point_data_format = static_cast<std::uint8_t>(point_type);
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = scale;
  header.x_offset = header.y_offset = header.z_offset = offset;
  return header;
}

struct Written {
  bool opened = false;
  std::string text;
  std::string messages;
};

// Writes `points` with `header` through a writer set up by `setup`.
template <typename Setup>
Written write_text(const LASheader& header, const std::vector<LASpoint>& points, const char* parse,
                   const char* separator, Setup setup) {
  Folder folder;
  const std::string name = folder / "out.txt";
  Written result;
  LASwriterTXT writer;
  setup(writer);
  CAPTURE_STDERR(result.messages, {
    result.opened = writer.open(name.c_str(), &header, parse, separator);
    if (result.opened) {
      for (const LASpoint& point : points)
        writer.write_point(point);
      writer.close_writer();
    }
  });
  result.text = text_test::read_file(name);
  return result;
}

Written write_text(const LASheader& header, const std::vector<LASpoint>& points,
                   const char* parse = nullptr, const char* separator = nullptr) {
  return write_text(header, points, parse, separator, [](LASwriterTXT&) {});
}

LASpoint point_for(const LASheader& header) {
  LASpoint point;
  point.init_for_point_type(&header, header.point_data_format,
                            static_cast<std::uint16_t>(header.point_data_record_length), &header);
  return point;
}

}  // namespace

TEST(TextWriter, DefaultColumnsFollowThePointType) {
  LASheader header = header_of_type(3);
  header.point_data_record_length = 34;
  LASpoint point = point_for(header);
  point.X = 123456;
  point.Y = -5;
  point.Z = 100;
  point.gps_time = 12.5;
  point.rgb[0] = 1, point.rgb[1] = 2, point.rgb[2] = 65535;
  EXPECT_EQ(write_text(header, {point}).text, "1234.56 -0.05 1.00 12.500000 1 2 65535\n");
  header.point_data_format = 1;
  EXPECT_EQ(write_text(header, {point}).text, "1234.56 -0.05 1.00 12.500000\n");
  header.point_data_format = 0;
  EXPECT_EQ(write_text(header, {point}, "xyzi", "comma").text, "1234.56,-0.05,1.00,0\n");
}

TEST(TextWriter, CoordinatesKeepTheDecimalsOfTheirScale) {
  struct Case {
    double scale;
    double offset;
    std::int32_t X;
    const char* x;
  };
  const Case cases[] = {
      {0.1, 0, 12345, "1234.5"},
      {0.01, 0, 1234, "12.34"},
      {0.001, 1000, -1, "999.999"},
      {0.000000001, 0, 1, "0.000000001"},
      {0.0005, 0, 24691, "12.345499999999999"},
      {0.0005, 0, 20000, "10"},
      {1.0, 0.5, 3, "3.5"},
      {0.0000001, -122, 12345678, "-120.7654322"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    const LASheader header = header_of_type(0, c.scale, c.offset);
    LASpoint point = point_for(header);
    point.X = c.X;
    EXPECT_EQ(write_text(header, {point}, "xX").text,
              std::string(c.x) + " " + std::to_string(c.X) + "\n");
  }
}

TEST(TextWriter, EveryLetterPrintsItsField) {
  LASheader header = header_of_type(6);
  header.point_data_record_length = 30;
  LASpoint point = point_for(header);
  point.intensity = 4095;
  point.scan_angle_rank = -7;
  point.return_number = 2;
  point.number_of_returns = 3;
  point.classification = 9;
  point.user_data = 200;
  point.point_source_ID = 65535;
  point.edge_of_flight_line = 1;
  point.set_withheld_flag(true);
  point.set_overlap_flag(true);
  point.set_extended_scanner_channel(2);
  point.wave_packet[0] = 4;
  const std::vector<LASpoint> points = {point, point};
  EXPECT_EQ(write_text(header, points, "iarncupedhkgolMmw", "tab").text,
            "4095\t-7\t2\t3\t9\t200\t65535\t1\t0\t1\t0\t0\t1\t2\t1\t0\t4\n"
            "4095\t-7\t2\t3\t9\t200\t65535\t1\t0\t1\t0\t0\t1\t2\t2\t1\t4\n");
  // The dialects' intensities.
  auto ptx = [](LASwriterTXT& writer) { writer.set_ptx(true); };
  auto pts = [](LASwriterTXT& writer) { writer.set_pts(true); };
  LASpoint half = point;
  half.intensity = 2048;
  Written written = write_text(header, {point, half}, "i", nullptr, ptx);
  EXPECT_EQ(written.text.substr(written.text.size() - 6), "1\n0.5\n");
  written = write_text(header, {half, point}, "i", nullptr, pts);
  EXPECT_EQ(written.text.substr(written.text.size() - 7), "0\n2047\n");
  auto rgb = [](LASwriterTXT& writer) { writer.set_scale_rgb(0.5f); };
  LASpoint coloured = point;
  coloured.rgb[0] = 255;
  EXPECT_EQ(write_text(header, {coloured}, "R", nullptr, rgb).text, "127.50\n");
}

TEST(TextWriter, PtsAndPtxHeadersComeFromTheReadersRecord) {
  Folder folder;
  const std::string ptx = folder.write("scan.ptx",
                                       "2\n1\n1.5 2 3\n1 0 0\n0 1 0\n0 0 1\n"
                                       "1 0 0 0\n0 1 0 0\n0 0 1 0\n10 20 30 1\n"
                                       "1 2 3 0.5\n4 5 6 1\n");
  LASreaderTXT reader;
  reader.set_ptx(true);
  std::string messages;
  CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(ptx.c_str(), 0, "xyzi", 0, true)));
  std::vector<LASpoint> points;
  CAPTURE_STDERR(messages, points = text_test::all_points(reader));
  auto as_ptx = [](LASwriterTXT& writer) { writer.set_ptx(true); };
  const Written written = write_text(reader.header, points, "original", nullptr, as_ptx);
  EXPECT_EQ(written.messages, "");
  EXPECT_EQ(written.text,
            "2     \n1     \n1.5 2 3\n1 0 0\n0 1 0\n0 0 1\n1 0 0 0\n0 1 0 0\n0 0 1 0\n10 20 30 1\n"
            "1.0000000 2.0000000 3.00 0.5\n4.0000000 5.0000000 6.00 1\n");

  // PTS from a header without the record: a warning, then the count line.
  LASheader plain = header_of_type(0);
  plain.number_of_point_records = 1;
  auto as_pts = [](LASwriterTXT& writer) { writer.set_pts(true); };
  Written pts = write_text(plain, {point_for(plain)}, "xyzt", "comma", as_pts);
  EXPECT_EQ(pts.text, "1       \n0.00,0.00,0.00,0.000000\n");
  EXPECT_EQ(pts.messages,
            "WARNING: found no VLR with PTS or PTX info.\n"
            "WARNING: the parse string for PTS should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n"
            "WARNING: the separator for PTS should be 'space' not 'comma'\n");
  // A 1.4 header with more than 2^32 points counts in 64 bits; PTX without its record falls
  // back to PTS.
  plain.version_minor = 4;
  plain.extended_number_of_point_records = 5000000000ull;
  Written big = write_text(plain, {}, "xyz", nullptr, as_ptx);
  EXPECT_EQ(big.text, "5000000000       \n");
  EXPECT_EQ(big.messages,
            "WARNING: found no VLR with PTX info.\n         outputting PTS instead ...\n");
}

TEST(TextWriter, BadSeparatorsAndParseStringsAreRefused) {
  LASheader header = header_of_type(0);
  struct Case {
    const char* parse;
    const char* separator;
    const char* first_line;
  };
  const Case cases[] = {
      {"xyz", "pipe", "ERROR: unknown seperator 'pipe'\n"},
      {"xyzq", nullptr, "ERROR: unknown symbol 'q' in parse string. valid are\n"},
      {"xyz0", nullptr, "ERROR: extra bytes attribute '0' does not exist.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_line);
    const Written written = write_text(header, {}, c.parse, c.separator);
    EXPECT_FALSE(written.opened);
    EXPECT_EQ(written.messages.substr(0, std::strlen(c.first_line)), c.first_line);
  }
  // A full disk is a failure, never a short file taken for whole.
  LASwriterTXT writer;
  std::string messages;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(writer.open("/dev/full", &header, "xyz"));
    LASpoint point = point_for(header);
    for (int i = 0; i < 100000 && writer.write_point(point); i++) {
    }
    EXPECT_EQ(writer.close_writer(), 0);
  });
  EXPECT_TRUE(writer.failed());
  EXPECT_EQ(messages.rfind("ERROR: writing text output failed", 0), 0u) << messages;
}

TEST(TextWriter, RealLasFilesComeBackFromTextRecordForRecord) {
  SKIP_WITHOUT_REAL_DATA();
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(text_test::real_dir())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".las" || name.rfind("bad-", 0) == 0) continue;
    LASreaderLAS las;
    std::string messages;
    bool opened = false;
    CAPTURE_STDERR(messages, opened = las.open_file(entry.path().c_str()));
    if (!opened) continue;
    const int type = las.header.point_data_format & 0x7F;
    const bool extended = type >= 6;
    // Text holds the legacy fields; the extended types come back when their values fit them.
    if (type == 4 || type == 5 || type > 7 || las.header.attribute_count() > 0) continue;
    SCOPED_TRACE(name);
    std::vector<LASpoint> points;
    CAPTURE_STDERR(messages, points = text_test::all_points(las));
    if (points.empty()) continue;
    // A GPS time that is no finite number is written, but read back it is refused
    // (TextReader.NotFiniteGpsTimesAreSkippedCountedAndFailTheFile).
    bool finite_times = true;
    for (const LASpoint& p : points)
      finite_times = finite_times && std::isfinite(p.gps_time);
    if (!finite_times) continue;
    if (extended) {
      bool fits = true;
      for (const LASpoint& p : points) {
        fits = fits && p.extended_classification < 32 && p.extended_return_number < 8 &&
               p.extended_number_of_returns < 8 && p.extended_scan_angle % 167 == 0;
      }
      if (!fits) continue;
    }
    std::string parse = "xyziarncupedhkg";
    if (type == 1 || type == 3 || extended) parse += "t";
    if (type == 2 || type == 3 || type == 7) parse += "RGB";
    if (extended) parse += "ol";
    Folder folder;
    const std::string text_name = folder / "points.txt";
    LASwriterTXT writer;
    ASSERT_TRUE(writer.open(text_name.c_str(), &las.header, parse.c_str()));
    for (const LASpoint& p : points)
      ASSERT_TRUE(writer.write_point(p));
    ASSERT_GT(writer.close_writer(), 0);

    const LASheader& h = las.header;
    LASreaderTXTrescalereoffset text(h.x_scale_factor, h.y_scale_factor, h.z_scale_factor,
                                     h.x_offset, h.y_offset, h.z_offset);
    CAPTURE_STDERR(messages, opened = text.open(text_name.c_str(), static_cast<std::uint8_t>(type),
                                                parse.c_str(), 0, true));
    ASSERT_TRUE(opened) << messages;
    std::vector<LASpoint> back;
    CAPTURE_STDERR(messages, back = text_test::all_points(text));
    EXPECT_EQ(messages.find("WARNING"), std::string::npos) << messages;
    ASSERT_EQ(back.size(), points.size());
    for (std::size_t i = 0; i < points.size(); i++) {
      const LASpoint& a = points[i];
      const LASpoint& b = back[i];
      SCOPED_TRACE(i);
      ASSERT_EQ(b.X, a.X);
      ASSERT_EQ(b.Y, a.Y);
      ASSERT_EQ(b.Z, a.Z);
      // The first 20 bytes hold every legacy field but the coordinates.
      ASSERT_EQ(std::memcmp(
                    reinterpret_cast<const char*>(static_cast<const LASpointFields*>(&a)) + 12,
                    reinterpret_cast<const char*>(static_cast<const LASpointFields*>(&b)) + 12, 8),
                0);
      // Six decimals of GPS time: the time back within half a microsecond.
      if (a.has_gps_time) {
        ASSERT_NEAR(b.gps_time, a.gps_time, 0.5e-6 + std::abs(a.gps_time) * 1e-15);
      }
      for (int k = 0; k < 3; k++)
        ASSERT_EQ(b.rgb[k], a.rgb[k]);
      if (extended) {
        ASSERT_EQ(b.extended_classification_flags, a.extended_classification_flags);
        ASSERT_EQ(b.extended_scanner_channel, a.extended_scanner_channel);
      }
    }
    files++;
  }
  EXPECT_GE(files, 8);
}
