// The text reader: every parse letter with its stored value and warning, the point type a
// parse string asks for, quantization, skipped lines, seeking and reopening.

#include <cstring>
#include <functional>

#include "text_test_support.hpp"

namespace {

using text_test::Folder;

struct ReadOne {
  bool opened = false;
  bool read = false;
  std::string messages;
  LASpoint point;
  LASheader header;
};

// Opens a one-line (or few-line) text without populate pass and reads its first point.
ReadOne read_one(const std::string& text, const char* parse, LASreaderTXT& reader,
                 std::uint8_t point_type = 0) {
  Folder folder;
  const std::string name = folder.write("points.txt", text);
  ReadOne result;
  CAPTURE_STDERR(result.messages, {
    result.opened = reader.open(name.c_str(), point_type, parse, 0, false);
    result.read = result.opened && reader.read_next();
  });
  result.point = reader.point;
  result.header = reader.header;
  return result;
}

struct LetterCase {
  const char* parse;
  const char* line;
  const char* warning;  // the whole of stderr
  std::function<void(const LASpoint&)> check;
};

}  // namespace

TEST(TextReader, EveryLetterStoresItsValueAndWarnsOutOfRange) {
  const LetterCase cases[] = {
      {"xyzi", "1 2 3 12.4", "", [](const LASpoint& p) { EXPECT_EQ(p.intensity, 12); }},
      {"xyzi", "1 2 3 70000", "WARNING: intensity 70000 is out of range of unsigned short\n",
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 65535); }},
      {"xyzi", "1 2 3 -3", "WARNING: intensity -3 is out of range of unsigned short\n",
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 0); }},
      {"xyzi", "1 2 3 nan", "WARNING: intensity nan is out of range of unsigned short\n",
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 0); }},
      {"xyza", "1 2 3 -12.6", "", [](const LASpoint& p) { EXPECT_EQ(p.scan_angle_rank, -13); }},
      {"xyza", "1 2 3 130", "WARNING: scan angle 130 is out of range of char\n",
       [](const LASpoint& p) { EXPECT_EQ(p.scan_angle_rank, 127); }},
      {"xyzt", "1 2 3 123456.789012", "",
       [](const LASpoint& p) { EXPECT_EQ(p.gps_time, 123456.789012); }},
      {"xyzrn", "1 2 3 2 3", "",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 23); }},
      {"xyzr", "1 2 3 9", "WARNING: return number 9 is out of range of three bits\n",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number, 1); }},
      {"xyzn", "1 2 3 8",
       "WARNING: number of returns of given pulse 8 is out of range of three bits\n",
       [](const LASpoint& p) { EXPECT_EQ(p.number_of_returns, 0); }},
      {"xyzrl", "1 2 3 17 0", "WARNING: return number 17 is out of range of four bits\n",
       [](const LASpoint& p) { EXPECT_EQ(p.extended_return_number, 1); }},
      {"xyznl", "1 2 3 12 0", "",
       [](const LASpoint& p) { EXPECT_EQ(p.extended_number_of_returns, 12); }},
      {"xyzc", "1 2 3 -1", "WARNING: classification -1 is negative. zeroing ...\n",
       [](const LASpoint& p) { EXPECT_EQ(p.classification, 0); }},
      {"xyzc", "1 2 3 40", "WARNING: classification 40 is larger than 31. clamping ...\n",
       [](const LASpoint& p) { EXPECT_EQ(p.classification, 31); }},
      {"xyzco", "1 2 3 40 0", "",
       [](const LASpoint& p) {
         EXPECT_EQ(p.extended_classification, 40);
         EXPECT_EQ(p.classification, 0);
       }},
      {"xyzco", "1 2 3 300 0",
       "WARNING: extended classification 300 is larger than 255. clamping ...\n",
       [](const LASpoint& p) {
         EXPECT_EQ(p.extended_classification, 255);
         EXPECT_EQ(p.classification, 0);
       }},
      {"xyzu", "1 2 3 300", "WARNING: user data 300 is out of range of unsigned char\n",
       [](const LASpoint& p) { EXPECT_EQ(p.user_data, 255); }},
      {"xyzu", "1 2 3 -5", "WARNING: user data -5 is out of range of unsigned char\n",
       [](const LASpoint& p) { EXPECT_EQ(p.user_data, 0); }},
      {"xyzp", "1 2 3 70000", "WARNING: point source ID 70000 is out of range of unsigned short\n",
       [](const LASpoint& p) { EXPECT_EQ(p.point_source_ID, 65535); }},
      {"xyzedhkg", "1 2 3 1 0 1 1 1", "",
       [](const LASpoint& p) {
         EXPECT_EQ(p.edge_of_flight_line + p.scan_direction_flag * 2 + p.withheld_flag * 4 +
                       p.keypoint_flag * 8 + p.synthetic_flag * 16,
                   29);
         EXPECT_EQ(p.extended_classification_flags, 7);  // synthetic, keypoint, withheld
       }},
      {"xyze", "1 2 3 2", "WARNING: edge of flight line flag 2 is out of range of boolean flag\n",
       [](const LASpoint& p) { EXPECT_EQ(p.edge_of_flight_line, 1); }},
      {"xyzd", "1 2 3 -1", "WARNING: direction of scan flag -1 is out of range of boolean flag\n",
       [](const LASpoint& p) { EXPECT_EQ(p.scan_direction_flag, 1); }},
      {"xyzh", "1 2 3 3", "WARNING: withheld flag 3 is out of range of single bit\n",
       [](const LASpoint& p) { EXPECT_EQ(p.withheld_flag, 1); }},
      {"xyzk", "1 2 3 3", "WARNING: keypoint flag 3 is out of range of single bit\n",
       [](const LASpoint& p) { EXPECT_EQ(p.keypoint_flag, 1); }},
      {"xyzg", "1 2 3 3", "WARNING: synthetic flag 3 is out of range of single bit\n",
       [](const LASpoint& p) { EXPECT_EQ(p.synthetic_flag, 1); }},
      {"xyzo", "1 2 3 4", "WARNING: overlap flag 4 is out of range of single bit\n",
       [](const LASpoint& p) { EXPECT_TRUE(p.get_overlap_flag()); }},
      {"xyzl", "1 2 3 5", "WARNING: scanner channel 5 is out of range of two bits\n",
       [](const LASpoint& p) { EXPECT_EQ(p.extended_scanner_channel, 1); }},
      {"xyzE", "1 2 3 0", "",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 11); }},
      {"xyzE", "1 2 3 1", "",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 12); }},
      {"xyzE", "1 2 3 2", "",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 23); }},
      {"xyzE", "1 2 3 3", "",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 22); }},
      {"xyzE", "1 2 3 5", "WARNING: terrasolid echo encoding 5 is out of range of 0 to 3\n",
       [](const LASpoint& p) { EXPECT_EQ(p.return_number * 10 + p.number_of_returns, 23); }},
      {"xyzRGB", "1 2 3 100 200 65535", "",
       [](const LASpoint& p) { EXPECT_EQ(p.rgb[0] + p.rgb[1] + p.rgb[2], 65835); }},
      {"xyzI", "1 2 3 4321", "", [](const LASpoint& p) { EXPECT_EQ(p.rgb[3], 4321); }},
      {"xyzH", "1,2,3,\"FF8001\"", "",
       [](const LASpoint& p) {
         EXPECT_EQ(p.rgb[0], 255);
         EXPECT_EQ(p.rgb[1], 128);
         EXPECT_EQ(p.rgb[2], 1);
       }},
      {"xyzJ", "1 2 3 7FFFFF", "", [](const LASpoint& p) { EXPECT_EQ(p.intensity, 127); }},
      {"xyzJi", "1 2 3 FFFFFF 9", "",
       [](const LASpoint& p) { EXPECT_EQ(p.intensity, 9); }},  // the second column wins
      {"xysszt", "1;2;x;y;3\t4.5", "", [](const LASpoint& p) { EXPECT_EQ(p.gps_time, 4.5); }},
      {"xyzt", "+1 0x10 3 1e-999", "",
       [](const LASpoint& p) {
         EXPECT_EQ(p.get_y(), 16.0);
         EXPECT_EQ(p.gps_time, 0.0);
       }},
      {"xyzi", "1 2 3 7.9abc", "", [](const LASpoint& p) { EXPECT_EQ(p.intensity, 8); }},
      {"xyzc", "1 2 3 4.9", "", [](const LASpoint& p) { EXPECT_EQ(p.classification, 4); }},
  };
  for (const LetterCase& c : cases) {
    SCOPED_TRACE(std::string(c.parse) + " / " + c.line);
    LASreaderTXT reader;
    const ReadOne one = read_one(std::string(c.line) + "\n", c.parse, reader);
    ASSERT_TRUE(one.read) << one.messages;
    EXPECT_EQ(one.messages, c.warning);
    c.check(one.point);
  }
}

TEST(TextReader, IntensityAndScanAngleAreTranslatedThenScaled) {
  LASreaderTXT reader;
  reader.set_translate_intensity(10.0f);
  reader.set_scale_intensity(2.0f);
  reader.set_translate_scan_angle(-5.0f);
  reader.set_scale_scan_angle(0.5f);
  const ReadOne one = read_one("1 2 3 5 25\n", "xyzia", reader);
  ASSERT_TRUE(one.read) << one.messages;
  EXPECT_EQ(one.point.intensity, 30);
  EXPECT_EQ(one.point.scan_angle_rank, 10);
}

TEST(TextReader, AttributesArePreScaledStoredByTypeAndClamped) {
  LASreaderTXT reader;
  ASSERT_TRUE(reader.add_attribute(1, "amplitude", "in tenths", 0.1));
  ASSERT_TRUE(reader.add_attribute(4, "height", "pre-scaled", 1.0, 0.0, 2.0, 1.0));
  ASSERT_TRUE(reader.add_attribute(10, "range", "double"));
  ASSERT_TRUE(reader.add_attribute(2, "tilt", "signed"));
  const ReadOne one = read_one("1 2 3 30 5 0.125 -300\n", "xyz01(2)3", reader);
  ASSERT_TRUE(one.read) << one.messages;
  EXPECT_EQ(one.messages,
            "WARNING: attribute 0 of type U8 is 300. clamped to [0 255] range.\n"
            "WARNING: attribute 3 of type I8 is -300. clamped to [-128 127] range.\n");
  ASSERT_EQ(one.point.extra_bytes_size, 1 + 2 + 8 + 1);
  EXPECT_EQ(one.header.point_data_record_length, 20 + 12);
  EXPECT_EQ(one.point.extra_bytes[0], 255);
  std::int16_t height = 0;
  std::memcpy(&height, one.point.extra_bytes.data() + 1, 2);
  EXPECT_EQ(height, 9);  // 5 x 2 - 1
  double range = 0;
  std::memcpy(&range, one.point.extra_bytes.data() + 3, 8);
  EXPECT_EQ(range, 0.125);
  EXPECT_EQ(static_cast<std::int8_t>(one.point.extra_bytes[11]), -128);
  EXPECT_EQ(one.header.attribute_count(), 4);
  EXPECT_GE(one.header.find_vlr("LASF_Spec", 4), 0);
}

TEST(TextReader, BadParseStringsAndPointTypesFailToOpen) {
  struct Case {
    const char* parse;
    int attributes;
    std::uint8_t point_type;
    const char* first_line;
  };
  const Case cases[] = {
      {"xyzq", 0, 0, "ERROR: unknown symbol 'q' in parse string. valid are\n"},
      {"xyz0", 0, 0, "ERROR: extra bytes attribute '0' was not described.\n"},
      {"xyz()", 1, 0, "ERROR: parse string opening bracket '(' misses extra bytes index.\n"},
      {"xyz(3)", 1, 0, "ERROR: extra bytes attribute '3' was not described.\n"},
      {"xyz(0", 1, 0, "ERROR: extra bytes attribute '0' misses closing bracket.\n"},
      {"xyz", 0, 5, "ERROR: point type 5 is not supported for text input\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parse);
    LASreaderTXT reader;
    for (int i = 0; i < c.attributes; i++)
      reader.add_attribute(1, "a", "b");
    const ReadOne one = read_one("1 2 3 4\n", c.parse, reader, c.point_type);
    EXPECT_FALSE(one.opened);
    EXPECT_EQ(one.messages.substr(0, std::strlen(c.first_line)), c.first_line);
  }
}

TEST(TextReader, PointTypeFollowsTheParseString) {
  struct Case {
    const char* parse;
    int point_type;
    int record_length;
    int version_minor;
  };
  const Case cases[] = {
      {"xyz", 0, 20, 2},  {"xyzt", 1, 28, 2}, {"xyzRGB", 2, 26, 2}, {"xyztH", 3, 34, 2},
      {"xyzI", 8, 38, 4}, {"xyzo", 6, 30, 4}, {"xyzlG", 7, 36, 4},  {"xyztl", 6, 30, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parse);
    LASreaderTXT reader;
    const ReadOne one = read_one("1 2 3 0 000000 0 0 0\n", c.parse, reader);
    ASSERT_TRUE(one.opened) << one.messages;
    EXPECT_EQ(one.header.point_data_format, c.point_type);
    EXPECT_EQ(one.header.point_data_record_length, c.record_length);
    EXPECT_EQ(one.header.version_minor, c.version_minor);
    EXPECT_EQ(one.header.offset_to_point_data, c.version_minor == 4 ? 375u : 227u);
  }
}

TEST(TextReader, ScaleAndOffsetFollowTheBoxUnlessRequested) {
  Folder folder;
  const std::string projected = folder.write("p.txt", "630000 4100000 10\n640000 4200000 12\n");
  const std::string geographic = folder.write("g.txt", "-122.5 45.1 10\n-122.4 45.2 12\n");
  std::string messages;
  {
    LASreaderTXT reader;
    CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(projected.c_str(), 0, nullptr, 0, true)));
    EXPECT_EQ(reader.header.x_scale_factor, 0.01);
    EXPECT_EQ(reader.header.z_scale_factor, 0.01);
    // The centre in units, cut to multiples of ten million units.
    EXPECT_EQ(reader.header.x_offset, 600000.0);
    EXPECT_EQ(reader.header.y_offset, 4100000.0);
    EXPECT_EQ(reader.header.z_offset, 0.0);
    EXPECT_EQ(messages, "counted 2 points in populate pass.\n");
  }
  {
    LASreaderTXT reader;
    CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(geographic.c_str(), 0, nullptr, 0, true)));
    EXPECT_EQ(reader.header.x_scale_factor, 0.0000001);
    EXPECT_EQ(reader.header.y_scale_factor, 0.0000001);
    EXPECT_EQ(reader.header.x_offset, -122.0);
  }
  {
    LASreaderTXTrescalereoffset reader(0.5, 0.5, 0.5, 0.0, 0.0, 0.0);
    const std::string halves = folder.write("h.txt", "1.25 -1.25 0.75\n");
    CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(halves.c_str(), 0, nullptr, 0, true)));
    ASSERT_TRUE(reader.read_next());
    EXPECT_EQ(reader.point.X, 3);
    EXPECT_EQ(reader.point.Y, -3);
    EXPECT_EQ(reader.point.Z, 2);
  }
  {
    // A bound whose grid value lies across zero stays as it is, with a warning.
    LASreaderTXTrescalereoffset reader(10.0, 10.0, 10.0, 8.0, 0.0, 0.0);
    const std::string flip = folder.write("f.txt", "1 20 30\n");
    CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(flip.c_str(), 0, nullptr, 0, true)));
    EXPECT_EQ(messages,
              "counted 1 points in populate pass.\n"
              "WARNING: quantization sign flip for min_x from 1 to -2.\n"
              "         set scale factor for x coarser than 10 with '-rescale'\n"
              "WARNING: quantization sign flip for max_x from 1 to -2.\n"
              "         set scale factor for x coarser than 10 with '-rescale'\n");
    EXPECT_EQ(reader.header.min_x, 1.0);
    EXPECT_EQ(reader.header.min_y, 20.0);
  }
}

TEST(TextReader, UnparsableLinesAreSkippedAndCountsThatLieWarnAtTheEnd) {
  Folder folder;
  const std::string name = folder.write("bad.pts", "5\n1 2\nabc 1 2\n1 2 3\n\n;;,\n");
  LASreaderTXT reader;
  reader.set_pts(true);
  std::string messages;
  std::vector<LASpoint> points;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(reader.open(name.c_str(), 0, "xyz", 0, false));
    points = text_test::all_points(reader);
  });
  EXPECT_EQ(points.size(), 1u);
  EXPECT_EQ(messages,
            "WARNING: cannot parse '1 2' with 'xyz'. skipping ...\n"
            "WARNING: cannot parse 'abc 1 2' with 'xyz'. skipping ...\n"
            "WARNING: cannot parse '' with 'xyz'. skipping ...\n"
            "WARNING: cannot parse ';;,' with 'xyz'. skipping ...\n"
            "WARNING: end-of-file after 1 of 5 points\n");
  // Read to the end without a populate pass, the header counts what was read.
  EXPECT_EQ(reader.header.point_count(), 1u);
  EXPECT_EQ(reader.header.number_of_points_by_return[0], 1u);
}

TEST(TextReader, HostileTextWarnsAndNeverBreaks) {
  Folder folder;
  std::string garbage;
  std::uint32_t state = 12345;
  for (int i = 0; i < 200000; i++) {
    state = state * 1103515245u + 12345u;
    garbage.push_back(static_cast<char>(state >> 24));
  }
  const std::string long_line = "1 2 3 " + std::string(1 << 20, 'x') + "\n4 5 6\n";
  const std::string long_garbage = std::string(1 << 20, 'a') + "\n7 8 9\n";
  std::string with_nul = "1 2";
  with_nul.push_back('\0');
  with_nul += " 3\n4 5 6\n";
  struct Case {
    const char* what;
    std::string text;
    bool opens;
    std::size_t points;
    bool fails = false;  // points were lost: the reading ends in an error
  };
  const Case cases[] = {
      {"a 1 MB line", long_line, true, 2},
      {"a 1 MB line of garbage", long_garbage, true, 1},
      {"a zero byte", with_nul, true, 1},
      {"binary garbage", garbage, false, 0},
      {"only a header", "5\n", false, 0},
      {"nothing", "", false, 0},
      {"huge and undefined numbers", "1e999 1 2\nnan 1 2\n1 -inf 2\n1 2 3\n", true, 1, true},
      {"windows line ends", "1 2 3\r\n4 5 6\r\n", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = folder.write("hostile.txt", c.text);
    for (bool populate : {false, true}) {
      LASreaderTXT reader;
      std::string messages;
      std::vector<LASpoint> points;
      bool opened = false;
      CAPTURE_STDERR(messages, {
        opened = reader.open(name.c_str(), 0, "xyz", 0, populate);
        if (opened) points = text_test::all_points(reader);
      });
      EXPECT_EQ(opened, c.opens) << messages;
      EXPECT_EQ(points.size(), c.points);
      EXPECT_EQ(reader.read_failed(), c.fails);
      // Warning lines of bounded length.
      for (const std::string& line : text_test::lines_of(messages))
        EXPECT_LT(line.size(), 600u);
    }
  }
  // The skipped numbers name themselves, and the points they cost are counted at the end.
  LASreaderTXT reader;
  const std::string name = folder.write("nan.txt", "1 2 3\nnan 1 2\n1e999 1 2\n");
  std::string messages;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(reader.open(name.c_str(), 0, "xyz", 0, false));
    text_test::all_points(reader);
  });
  EXPECT_EQ(messages,
            "WARNING: coordinates or GPS time of 'nan 1 2' are not finite numbers. skipping ...\n"
            "WARNING: coordinates or GPS time of '1e999 1 2' are not finite numbers. skipping "
            "...\n"
            "ERROR: 2 points of '" +
                name + "' have coordinates or a GPS time that are not finite numbers\n");
}

TEST(TextReader, CoordinatesBeyond32BitsAreReportedAndFailTheRead) {
  Folder folder;
  const std::string name = folder.write("far.txt", "0 0 0\n1e9 0 0\n1 1 1\n");
  LASreaderTXTrescalereoffset reader(0.001, 0.001, 0.001, 0.0, 0.0, 0.0);
  std::string messages;
  std::vector<LASpoint> points;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(reader.open(name.c_str(), 0, "xyz", 0, true));
    points = text_test::all_points(reader);
  });
  EXPECT_EQ(points.size(), 2u);
  EXPECT_TRUE(reader.read_failed());
  EXPECT_NE(messages.find("WARNING: coordinates 1e+09 0 0 do not fit 32-bit integers"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("WARNING: end-of-file after 2 of 3 points\n"), std::string::npos);
  EXPECT_NE(messages.find("ERROR: 1 points of '" + name + "' do not fit 32-bit integers"),
            std::string::npos);
}

TEST(TextReader, SeeksBothWaysAndReopensAtTheFirstPoint) {
  Folder folder;
  std::string text = "header line\n";
  for (int i = 0; i < 10; i++)
    text += std::to_string(i) + " 0 0\n";
  const std::string name = folder.write("ten.txt", text);
  LASreaderTXT reader;
  std::string messages;
  CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(name.c_str(), 0, "xyz", 1, true)));
  auto next_x = [&] {
    EXPECT_TRUE(reader.read_next());
    return reader.point.get_x();
  };
  EXPECT_EQ(next_x(), 0.0);
  ASSERT_TRUE(reader.seek_point(6));
  EXPECT_EQ(next_x(), 6.0);
  ASSERT_TRUE(reader.seek_point(2));
  EXPECT_EQ(next_x(), 2.0);
  EXPECT_FALSE(reader.seek_point(11));
  reader.close_reader();
  ASSERT_TRUE(reader.reopen(name.c_str()));
  EXPECT_EQ(next_x(), 0.0);
  EXPECT_EQ(reader.header.point_count(), 10u);
  reader.close_reader();
  CAPTURE_STDERR(messages, EXPECT_FALSE(reader.reopen((folder / "gone.txt").c_str())));
  EXPECT_EQ(messages, "ERROR: cannot open file '" + folder / "gone.txt" +
                          "'\nERROR: cannot reopen file '" + folder / "gone.txt" + "'\n");
}
