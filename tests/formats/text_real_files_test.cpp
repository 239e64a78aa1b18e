// The text files of other producers, read with the options their layouts need, against what
// a plain line parser in this test makes of the same lines.

#include <cstring>

#include "formats/text_format.hpp"
#include "text_test_support.hpp"

namespace {

using text_test::fields;
using text_test::lines_of;

struct Expected {
  double xyz[3] = {0, 0, 0};
  int intensity = 0;
  int rgb[3] = {0, 0, 0};
};

struct RealCase {
  const char* file;
  const char* parse;
  std::uint32_t skip;
  bool pts, ptx;
  std::size_t header_lines;  // lines before the points in the file
  std::size_t expected_count;
  // Column of x, y, z, intensity, r, g, b in a line (-1: absent).
  int column[7];
  bool geographic;  // coordinates within +-360
};

const RealCase kCases[] = {
    {"test.pts", "xyziRGB", 0, true, false, 1, 19, {0, 1, 2, 3, 4, 5, 6}, true},
    {"no-color.ptx", "xyzi", 0, false, true, 10, 15, {0, 1, 2, 3, -1, -1, -1}, false},
    {"autzen-pf3.txt", "RGxyBz", 1, false, false, 1, 106, {2, 3, 5, -1, 0, 1, 4}, false},
    {"hextest.txt", nullptr, 0, false, false, 0, 8, {0, 1, 2, -1, -1, -1, -1}, true},
};

std::vector<Expected> parse_independently(const RealCase& c) {
  std::vector<Expected> points;
  const std::vector<std::string> lines = lines_of(text_test::read_file(text_test::real(c.file)));
  for (std::size_t i = c.header_lines; i < lines.size(); i++) {
    const std::vector<std::string> f = fields(lines[i]);
    if (f.empty()) continue;
    Expected e;
    for (int k = 0; k < 3; k++)
      e.xyz[k] = std::stod(f.at(static_cast<std::size_t>(c.column[k])));
    if (c.column[3] >= 0) {
      const double value = std::stod(f.at(static_cast<std::size_t>(c.column[3])));
      // PTS intensities are shifted by -2048, PTX ones are fractions of 4095.
      const double shifted = c.pts   ? value + 2048.0
                             : c.ptx ? static_cast<float>(value) * 4095.0f
                                     : value;
      e.intensity = static_cast<int>(shifted + 0.5);
    }
    for (int k = 0; k < 3; k++) {
      if (c.column[4 + k] >= 0)
        e.rgb[k] = std::stoi(f.at(static_cast<std::size_t>(c.column[4 + k])));
    }
    points.push_back(e);
  }
  return points;
}

void check_case(const RealCase& c, bool populate) {
  SCOPED_TRACE(std::string(c.file) + (populate ? " populated" : " not populated"));
  const std::vector<Expected> expected = parse_independently(c);
  ASSERT_EQ(expected.size(), c.expected_count);

  LASreaderTXT reader;
  reader.set_pts(c.pts);
  reader.set_ptx(c.ptx);
  std::string messages;
  bool opened = false;
  CAPTURE_STDERR(messages, opened = reader.open(text_test::real(c.file).c_str(), 0, c.parse, c.skip,
                                                populate));
  ASSERT_TRUE(opened) << messages;
  EXPECT_EQ(messages.find("WARNING"), std::string::npos) << messages;
  const LASheader& h = reader.header;
  const double xy_scale = c.geographic ? 1e-7 : 0.01;
  EXPECT_EQ(h.x_scale_factor, xy_scale);
  EXPECT_EQ(h.y_scale_factor, xy_scale);
  EXPECT_EQ(h.z_scale_factor, 0.01);
  if (populate) {
    EXPECT_EQ(h.point_count(), c.expected_count);
  }

  std::vector<LASpoint> points;
  CAPTURE_STDERR(messages, points = text_test::all_points(reader));
  EXPECT_EQ(messages, "");
  ASSERT_EQ(points.size(), expected.size());
  EXPECT_EQ(h.point_count(), c.expected_count);
  double min[3] = {1e300, 1e300, 1e300}, max[3] = {-1e300, -1e300, -1e300};
  for (std::size_t i = 0; i < points.size(); i++) {
    SCOPED_TRACE(i);
    const LASpoint& p = points[i];
    const Expected& e = expected[i];
    const std::int32_t stored[3] = {p.X, p.Y, p.Z};
    const double scale[3] = {h.x_scale_factor, h.y_scale_factor, h.z_scale_factor};
    const double offset[3] = {h.x_offset, h.y_offset, h.z_offset};
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(stored[k], text_test::stored(e.xyz[k], scale[k], offset[k])) << "axis " << k;
      min[k] = std::min(min[k], e.xyz[k]);
      max[k] = std::max(max[k], e.xyz[k]);
    }
    EXPECT_EQ(p.intensity, e.intensity);
    for (int k = 0; k < 3; k++)
      EXPECT_EQ(p.rgb[k], e.rgb[k]);
  }
  // The box holds every point and lies on the quantization grid.
  EXPECT_NEAR(h.min_x, min[0], h.x_scale_factor / 2 + 1e-9);
  EXPECT_NEAR(h.max_x, max[0], h.x_scale_factor / 2 + 1e-9);
  EXPECT_NEAR(h.min_z, min[2], h.z_scale_factor / 2 + 1e-9);
  EXPECT_NEAR(h.max_z, max[2], h.z_scale_factor / 2 + 1e-9);
}

}  // namespace

TEST(TextRealFiles, ReadAsALineParserReadsThemWithAndWithoutPopulatePass) {
  SKIP_WITHOUT_REAL_DATA();
  for (const RealCase& c : kCases) {
    check_case(c, true);
    check_case(c, false);
  }
}

TEST(TextRealFiles, PtxScanHeaderIsKeptInItsRecordAndNotAppliedToThePoints) {
  SKIP_WITHOUT_REAL_DATA();
  const std::vector<std::string> lines =
      lines_of(text_test::read_file(text_test::real("no-color.ptx")));
  LASreaderTXT reader;
  reader.set_ptx(true);
  std::string messages;
  bool opened = false;
  CAPTURE_STDERR(messages,
                 opened = reader.open(text_test::real("no-color.ptx").c_str(), 0, "xyzi", 0, true));
  ASSERT_TRUE(opened) << messages;
  EXPECT_NE(messages.find("PTX header states 15 cols by 1 rows aka 15 points. ignoring ...\n"),
            std::string::npos);
  const int index = reader.header.find_vlr(text_format::kUserId, text_format::kRecordIdPTX);
  ASSERT_GE(index, 0);
  const std::vector<std::uint8_t>& payload =
      reader.header.vlrs[static_cast<std::size_t>(index)].data;
  ASSERT_EQ(payload.size(), text_format::kPayloadSizePTX);
  std::int64_t columns = 0, rows = 0;
  std::memcpy(&columns, payload.data() + text_format::kOffsetColumns, 8);
  std::memcpy(&rows, payload.data() + text_format::kOffsetRows, 8);
  EXPECT_EQ(columns, std::stoll(lines[0]));
  EXPECT_EQ(rows, std::stoll(lines[1]));
  // Lines 2-9: translation, three rotation rows, four transformation rows.
  std::size_t at = text_format::kOffsetTranslation;
  for (std::size_t line = 2; line < 10; line++) {
    for (const std::string& field : fields(lines[line])) {
      double value = 0;
      std::memcpy(&value, payload.data() + at, 8);
      EXPECT_EQ(value, std::stod(field)) << "line " << line;
      at += 8;
    }
  }
  EXPECT_EQ(at, text_format::kPayloadSizePTX);
  float scale = 0;
  std::memcpy(&scale, payload.data() + text_format::kOffsetIntensityScale, 4);
  EXPECT_EQ(scale, 4095.0f);
  EXPECT_STREQ(reinterpret_cast<const char*>(payload.data() + text_format::kOffsetParseString),
               "xyzi");
}
