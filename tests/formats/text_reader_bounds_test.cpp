// The text reader within bounds: every scan of a PTX file in the frame of the first, scans
// of no points, parse strings that name no point, values that are not finite, and warnings
// that repeat per line held to a few, in the first pass only.

#include <cstring>

#include "formats/text_format.hpp"
#include "text_test_support.hpp"

namespace {

using text_test::Folder;

struct Read {
  bool opened = false;
  bool failed = false;
  std::string messages;
  std::vector<LASpoint> points;
  LASheader header;
  std::int64_t points_total = 0;
};

// Opens `name` with `parse`, reads every point, and keeps what was said. Coordinates are
// quantized at 0.001 around 0, so that they come back as exact thousandths.
Read read_all(const std::string& name, const char* parse, bool populate, bool ptx = false) {
  Read read;
  LASreaderTXTrescalereoffset reader(0.001, 0.001, 0.001, 0.0, 0.0, 0.0);
  reader.set_ptx(ptx);
  CAPTURE_STDERR(read.messages, {
    read.opened = reader.open(name.c_str(), 0, parse, 0, populate);
    if (read.opened) read.points = text_test::all_points(reader);
  });
  read.failed = reader.read_failed();
  read.header = reader.header;
  read.points_total = reader.points_total;
  return read;
}

using Xyz = std::array<double, 3>;

std::vector<Xyz> coordinates_of(const std::vector<LASpoint>& points) {
  std::vector<Xyz> xyz;
  for (const LASpoint& p : points)
    xyz.push_back({p.X * 0.001, p.Y * 0.001, p.Z * 0.001});
  return xyz;
}

// A PTX scan: the counts, the scanner's position lines, the transformation rows (4 × 4) and
// the point lines.
std::string ptx_scan(int columns, int rows, const std::string& transformation,
                     const std::string& points) {
  return std::to_string(columns) + "\n" + std::to_string(rows) + "\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n" +
         transformation + points;
}

// Registers a point of a scan: [p 1] × M, with M given as 12 numbers (rows 0-2 without their
// last column: the rotation) and the shift (row 3).
Xyz registered(const Xyz& p, const double (&rotation)[9], const Xyz& shift) {
  Xyz r{};
  for (int c = 0; c < 3; c++)
    r[c] = p[0] * rotation[c] + p[1] * rotation[3 + c] + p[2] * rotation[6 + c] + shift[c];
  return r;
}

}  // namespace

TEST(TextReaderScans, EveryPtxScanIsReadInTheFrameOfTheFirst) {
  Folder folder;
  // Scan 1 turned by 90 degrees about z and shifted; scan 2 only shifted; a scan of no
  // points; scan 4 registered like scan 1. The transformation of scan 1 stays in the record.
  const std::string turned = "0 1 0 0\n-1 0 0 0\n0 0 1 0\n10 20 30 1\n";
  const std::string shifted = "1 0 0 0\n0 1 0 0\n0 0 1 0\n100 0 0 1\n";
  const std::string text = ptx_scan(2, 1, turned, "1 2 3 0.5\n4 5 6 0.25\n") +
                           ptx_scan(1, 2, shifted, "1 2 3 1\n-1 0 2 0\n") +
                           ptx_scan(0, 0, shifted, "") + "\n" + ptx_scan(1, 1, turned, "7 8 9 0\n");
  const std::string name = folder.write("scans.ptx", text);
  // By hand: scan 2's (1 2 3) is registered at (101 2 3), which scan 1 reaches from
  // (-18 -91 -27); its (-1 0 2) at (99 0 2), reached from (-20 -89 -28).
  const std::vector<Xyz> expected = {
      {1, 2, 3}, {4, 5, 6}, {-18, -91, -27}, {-20, -89, -28}, {7, 8, 9}};
  const double turn[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  const double none[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(registered(expected[2], turn, {10, 20, 30}), registered({1, 2, 3}, none, {100, 0, 0}));
  EXPECT_EQ(registered(expected[3], turn, {10, 20, 30}), registered({-1, 0, 2}, none, {100, 0, 0}));
  for (bool populate : {false, true}) {
    SCOPED_TRACE(populate ? "populated" : "counted while reading");
    const Read read = read_all(name, "xyzi", populate, true);
    ASSERT_TRUE(read.opened) << read.messages;
    EXPECT_FALSE(read.failed);
    EXPECT_EQ(read.messages.find("WARNING"), std::string::npos) << read.messages;
    EXPECT_EQ(coordinates_of(read.points), expected);
    EXPECT_EQ(read.points[2].intensity, 4095);
    EXPECT_EQ(read.header.point_count(), 5u);
    EXPECT_EQ(read.points_total, 5);
    EXPECT_EQ(read.header.min_x, -20.0);
    EXPECT_EQ(read.header.max_y, 8.0);
    const int index = read.header.find_vlr(text_format::kUserId, text_format::kRecordIdPTX);
    ASSERT_GE(index, 0);
    const auto& payload = read.header.vlrs[static_cast<std::size_t>(index)].data;
    std::int64_t columns = 0;
    double shift_x = 0;
    std::memcpy(&columns, payload.data() + text_format::kOffsetColumns, 8);
    std::memcpy(&shift_x, payload.data() + text_format::kOffsetTransformation + 12 * 8, 8);
    EXPECT_EQ(columns, 2);
    EXPECT_EQ(shift_x, 10.0);
  }
  // Read again from the first line, the scans start over.
  LASreaderTXT reader;
  reader.set_ptx(true);
  std::string messages;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(reader.open(name.c_str(), 0, "xyz", 0, false));
    const std::vector<LASpoint> first = text_test::all_points(reader);
    ASSERT_TRUE(reader.seek_point(2));
    ASSERT_TRUE(reader.read_next());
    EXPECT_EQ(reader.point.get_x(), -18.0);
    reader.close_reader();
    ASSERT_TRUE(reader.reopen(name.c_str()));
    EXPECT_EQ(coordinates_of(text_test::all_points(reader)).size(), first.size());
    EXPECT_EQ(reader.header.point_count(), 5u);
  });
  EXPECT_EQ(messages, "");
}

TEST(TextReaderScans, ScansOfNoPointsAreValidAndABrokenScanHeaderFailsTheFile) {
  Folder folder;
  const std::string plain = "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
  const std::string empty = ptx_scan(0, 0, plain, "");
  const std::string scan = ptx_scan(3, 1, plain, "1 2 3 0\n4 5 6 0\n7 8 9 0\n");
  struct Case {
    const char* what;
    std::string text;
    std::size_t points;
    bool fails;        // without a populate pass the points before the damage are read
    const char* said;  // in the messages
    bool said_anyway;  // also with a populate pass, which counts the points there are
  };
  const Case cases[] = {
      {"one empty scan", empty, 0, false, "", true},
      {"an empty scan first", empty + scan, 3, false, "", true},
      {"an empty scan last", scan + empty, 3, false, "", true},
      {"a scan cut short", ptx_scan(5, 1, plain, "1 2 3 0\n"), 1, false,
       "WARNING: end-of-file after 1 of 5 points\n", false},
      // `cat a.ptx b.ptx` of a file without a line end at its end: the cols line is lost.
      {"a joined scan", ptx_scan(1, 1, plain, "1 2 3 0") + scan, 1, true,
       "ERROR: parsing number of rows of scan 2\n"
       "         the line with its number of cols is missing. is it joined to the last point "
       "line of scan 1 (a file that ends without a line end)?\n",
       true},
      {"a later scan that cannot be inverted into the first",
       ptx_scan(1, 1, "0 0 0 0\n0 0 0 0\n0 0 0 0\n0 0 0 1\n", "1 2 3 0\n") + scan, 1, true,
       "ERROR: the transformation of scan 2 cannot be brought into the frame of the first", true},
      {"a later scan cut in its header", scan + "3\n1\n0 0 0\n", 3, true,
       "ERROR: reading line with rotation row 0 of scan 2\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = folder.write("case.ptx", c.text);
    for (bool populate : {false, true}) {
      SCOPED_TRACE(populate ? "populated" : "counted while reading");
      const Read read = read_all(name, "xyz", populate, true);
      // A populate pass finds the damage before the file opens.
      EXPECT_EQ(read.opened, !(populate && c.fails)) << read.messages;
      if (read.opened) {
        EXPECT_EQ(read.points.size(), c.points);
        EXPECT_EQ(read.failed, c.fails);
      }
      if (!populate || c.said_anyway) {
        EXPECT_NE(read.messages.find(c.said), std::string::npos) << read.messages;
      }
      EXPECT_EQ(read.messages.find("of 0 points"), std::string::npos) << read.messages;
    }
  }
}

TEST(TextReaderBounds, ParseStringsWithoutXYAndZAreRefused) {
  Folder folder;
  const std::string name = folder.write("p.txt", "1 2 3 4\n5 6 7 8\n");
  const std::pair<const char*, char> refused[] = {
      {"", 'x'}, {"yz", 'x'}, {"xz", 'y'}, {"xyi", 'z'}, {"tisR", 'x'}};
  for (const auto& [parse, missing] : refused) {
    SCOPED_TRACE(parse);
    const Read read = read_all(name, parse, false);
    EXPECT_FALSE(read.opened);
    EXPECT_EQ(read.messages, "ERROR: parse string '" + std::string(parse) + "' has no '" + missing +
                                 "': the columns of a point need x, y and z\n");
  }
  EXPECT_TRUE(read_all(name, "zyxs", false).opened);
}

TEST(TextReaderBounds, ValuesThatAreNotFiniteAreSkippedCountedAndFailTheFile) {
  Folder folder;
  struct Case {
    const char* parse;
    const char* bad_line;
  };
  const Case cases[] = {{"xyzt", "4 5 6 nan"},   {"xyzt", "4 5 6 inf"},  {"xyzt", "4 5 6 -inf"},
                        {"xyzt", "4 5 6 1e999"}, {"txyz", "-nan 4 5 6"}, {"xyz", "4 nan 6"},
                        {"xyzi", "4 5 inf 1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bad_line);
    const std::string name =
        folder.write("t.txt", std::string(c.parse[0] == 't' ? "1 1 2 3" : "1 2 3 1") + "\n" +
                                  c.bad_line + "\n" + c.bad_line + "\n");
    for (bool populate : {false, true}) {
      const Read read = read_all(name, c.parse, populate);
      ASSERT_TRUE(read.opened) << read.messages;
      EXPECT_EQ(read.points.size(), 1u);
      EXPECT_TRUE(read.failed);
      EXPECT_NE(
          read.messages.find("WARNING: coordinates or GPS time of '" + std::string(c.bad_line) +
                             "' are not finite numbers. skipping ...\n"),
          std::string::npos)
          << read.messages;
      EXPECT_NE(read.messages.find("ERROR: 2 points of '" + name +
                                   "' have coordinates or a GPS time that are not finite "
                                   "numbers\n"),
                std::string::npos)
          << read.messages;
    }
  }
}

TEST(TextReaderBounds, RepeatedWarningsArePrintedFiveTimesEachAndInTheFirstPassOnly) {
  Folder folder;
  std::string text = "1 2 3 5\n";
  for (int i = 0; i < 12; i++)
    text += "bad line " + std::to_string(i) + "\n";
  for (int i = 0; i < 8; i++)
    text += "4 5 6 70000\n";
  text += "\x1b[31mred\x7f\x01\tx\r\n7 8 9 1\n";
  const std::string name = folder.write("w.txt", text);
  const std::string first_pass =
      "WARNING: cannot parse 'bad line 0' with 'xyzi'. skipping ...\n"
      "WARNING: cannot parse 'bad line 1' with 'xyzi'. skipping ...\n"
      "WARNING: cannot parse 'bad line 2' with 'xyzi'. skipping ...\n"
      "WARNING: cannot parse 'bad line 3' with 'xyzi'. skipping ...\n"
      "WARNING: cannot parse 'bad line 4' with 'xyzi'. skipping ...\n"
      "WARNING: intensity 70000 is out of range of unsigned short\n"
      "WARNING: intensity 70000 is out of range of unsigned short\n"
      "WARNING: intensity 70000 is out of range of unsigned short\n"
      "WARNING: intensity 70000 is out of range of unsigned short\n"
      "WARNING: intensity 70000 is out of range of unsigned short\n"
      "WARNING: … and 8 more lines like it: cannot parse '…' with '…'. skipping ...\n"
      "WARNING: … and 3 more lines like it: intensity … is out of range of unsigned short\n";
  for (bool populate : {false, true}) {
    SCOPED_TRACE(populate ? "populated" : "counted while reading");
    LASreaderTXT reader;
    std::string messages;
    CAPTURE_STDERR(messages, {
      ASSERT_TRUE(reader.open(name.c_str(), 0, "xyzi", 0, populate));
      EXPECT_EQ(text_test::all_points(reader).size(), 10u);
    });
    EXPECT_EQ(messages,
              std::string(populate ? "counted 10 points in populate pass.\n" : "") + first_pass);
    // The same lines again: nothing more to say, going back or reopened.
    CAPTURE_STDERR(messages, {
      ASSERT_TRUE(reader.seek_point(0));
      EXPECT_EQ(text_test::all_points(reader).size(), 10u);
      reader.close_reader();
      ASSERT_TRUE(reader.reopen(name.c_str()));
      EXPECT_EQ(text_test::all_points(reader).size(), 10u);
    });
    EXPECT_EQ(messages, "");
  }
  // The escaped line, had it been among the first five.
  const std::string escaped = folder.write("e.txt", "1 2 3\n\x1b[31mred\x7f\x01\tx\r\n4 5 6\n");
  const Read read = read_all(escaped, "xyz", false);
  EXPECT_EQ(read.messages,
            "WARNING: cannot parse '\\x1b[31mred\\x7f\\x01\tx' with 'xyz'. skipping ...\n");
}

TEST(TextReaderBounds, PtsHeaderErrorsNameTheOption) {
  Folder folder;
  const std::pair<const char*, const char*> cases[] = {
      {"", "ERROR: reading PTS header for '-ipts'\n"},
      {"many\n1 2 3\n", "ERROR: parsing number of points for '-ipts'\n"}};
  for (const auto& [text, said] : cases) {
    const std::string name = folder.write("h.pts", text);
    LASreaderTXT reader;
    reader.set_pts(true);
    std::string messages;
    CAPTURE_STDERR(messages, EXPECT_FALSE(reader.open(name.c_str(), 0, "xyz", 0, false)));
    EXPECT_EQ(messages, said);
  }
}
