// The LAS reader on broken, cut and lying input, on areas of interest, filters, transforms,
// seeking and coordinate conversion.

#include <functional>
#include <random>

#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "las_test_support.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

using namespace las_test;

namespace {

struct ReadAll {
  bool opened = false;
  std::int64_t points = 0;
  std::string messages;
};

template <typename Reader>
ReadAll read_all(Reader& reader, const std::string& path) {
  ReadAll result;
  testing::internal::CaptureStderr();
  result.opened = reader.open_file(path.c_str());
  while (result.opened && reader.read_next())
    result.points++;
  result.messages = testing::internal::GetCapturedStderr();
  return result;
}

ReadAll read_all(const std::string& path) {
  LASreaderLAS reader;
  return read_all(reader, path);
}

// A file made of real bytes with some fields changed.
std::string patched_copy(const char* name,
                         const std::function<void(std::vector<std::uint8_t>&)>& patch) {
  std::vector<std::uint8_t> bytes = file_bytes(real(name));
  patch(bytes);
  const auto path = scratch(name);
  write_bytes(path, bytes);
  return path.string();
}

}  // namespace

TEST(LasReaderBroken, KeepsTheVlrsThatFitAndWarnsOnceWhenTheCountLies) {
  SKIP_WITHOUT_REAL_DATA();
  LASreaderLAS reader;
  const ReadAll result = read_all(reader, real("bad-vlr-count.las"));
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.messages,
            "WARNING: only 0 bytes until point block after reading 2 of 3 vlrs. skipping "
            "remaining vlrs ...\n");
  EXPECT_EQ(reader.header.number_of_variable_length_records, 2u);
  EXPECT_EQ(reader.header.vlrs.size(), 2u);
  EXPECT_EQ(result.points, 10);
}

TEST(LasReaderBroken, GarbageVlrCountAndACutPointBlockAreReportedNotTrusted) {
  SKIP_WITHOUT_REAL_DATA();
  const std::string path = real("bad-vlr-garbage.las");
  const ReadAll result = read_all(path);
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.messages,
            "WARNING: only 0 bytes until point block after reading 0 of 1069128089 vlrs. "
            "skipping remaining vlrs ...\n"
            "WARNING: end-of-file after 718 of 719 points for '" +
                path + "'\n");
  EXPECT_EQ(result.points, 718);
}

TEST(LasReaderBroken, GeoKeysThatClaimMoreThanTheyHoldReadWithoutMessages) {
  SKIP_WITHOUT_REAL_DATA();
  LASreaderLAS reader;
  const ReadAll result = read_all(reader, real("bad-geotiff-keys.las"));
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.messages, "");
  EXPECT_EQ(result.points, 10);
  ASSERT_EQ(reader.header.geo_key_count(), 8);
  EXPECT_EQ(reader.header.geo_key_entries()[3].value_offset, 9001);
  EXPECT_EQ(reader.header.geo_key_entries()[4].key_id, 0);  // the entries that are not there
}

TEST(LasReaderBroken, GarbageHeaderFailsWithTheFieldThatCannotBeRead) {
  SKIP_WITHOUT_REAL_DATA();
  const ReadAll result = read_all(real("bad-header.pkz"));
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages,
            "WARNING: unknown version 126.203 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
            "WARNING: invalid bounding box [ -1.60614e+49 1.43955e+246 -4.16318e-47 / "
            "2.6157e+258 -8.5963e+191 5.7643e-26 ]\n"
            "ERROR: reading 38832 bytes of data into header.vlrs[3].data\n");
}

TEST(LasReaderBroken, FileCutInThePointsDeliversWhatIsThereAndWarns) {
  SKIP_WITHOUT_REAL_DATA();
  const std::string path = patched_copy("simple.las", [](std::vector<std::uint8_t>& bytes) {
    bytes.resize(227 + 34 * 100 + 17);  // 100 whole points and half of the next
  });
  const ReadAll result = read_all(path);
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.points, 100);
  EXPECT_EQ(result.messages, "WARNING: end-of-file after 100 of 1065 points for '" + path + "'\n");
}

TEST(LasReaderBroken, TrialReadsOfACutOrCorruptFileSayNothingUntilReadForReal) {
  SKIP_WITHOUT_REAL_DATA();
  const std::string cut = patched_copy(
      "simple.las", [](std::vector<std::uint8_t>& bytes) { bytes.resize(227 + 34 * 100 + 17); });
  // The compressed twin with its first chunk's bytes garbled.
  const std::string corrupt = patched_copy("simple.pkz", [](std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 1000; i < 4000; i++)
      bytes[i] ^= 0x5A;
  });
  for (const std::string& path : {cut, corrupt}) {
    SCOPED_TRACE(path);
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(path.c_str()));
    reader.trial_reads = true;
    testing::internal::CaptureStderr();
    std::int64_t tried = 0;
    while (reader.read_raw_point())
      tried++;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(reader.read_failed());
    EXPECT_LT(tried, 1065);
    // Read again for real, the same failure is told.
    reader.trial_reads = false;
    ASSERT_TRUE(reader.seek_point(0));
    const ReadAll again = [&] {
      ReadAll result;
      testing::internal::CaptureStderr();
      while (reader.read_next())
        result.points++;
      result.messages = testing::internal::GetCapturedStderr();
      return result;
    }();
    EXPECT_EQ(again.points, tried);
    EXPECT_NE(again.messages, "");
    // A cut file only warns; data that does not decode is a failed read.
    EXPECT_EQ(reader.read_failed(), path == corrupt);
    EXPECT_EQ(again.messages.rfind(path == corrupt ? "ERROR: " : "WARNING: ", 0), 0u)
        << again.messages;
  }
}

TEST(LasReaderBroken, AbsurdCountsAndOffsetsCostNoMoreThanTheFileHolds) {
  SKIP_WITHOUT_REAL_DATA();
  // Four billion VLRs before a point block four gigabytes away.
  std::string path = patched_copy("hextest.las", [](std::vector<std::uint8_t>& bytes) {
    put<std::uint32_t>(bytes, kOffsetNumberOfVlrs, 0xFFFFFFFF);
    put<std::uint32_t>(bytes, kOffsetOffsetToPointData, 0xFFFFFFF0);
  });
  ReadAll result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages.rfind("ERROR: reading ", 0), 0u) << result.messages;
  EXPECT_NE(result.messages.find("header.vlrs["), std::string::npos) << result.messages;

  // Only user data after the header, claimed to be four gigabytes long.
  path = patched_copy("hextest.las", [](std::vector<std::uint8_t>& bytes) {
    put<std::uint32_t>(bytes, kOffsetOffsetToPointData, 0xFFFFFFF0);
  });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages,
            "ERROR: reading -243 bytes of data into header.user_data_after_header\n");

  // An EVLR claiming 2^62 bytes, and five billion points in a file of a thousand.
  path = patched_copy("1_4_w_evlr.las", [](std::vector<std::uint8_t>& bytes) {
    const auto start = at<std::uint64_t>(bytes, kOffsetStartOfFirstEvlr);
    put<std::uint64_t>(bytes, start + kEvlrOffsetRecordLength, std::uint64_t{1} << 62);
  });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages, "ERROR: reading 0 bytes of data into header.evlrs[0].data\n");

  path = patched_copy("test1_4.las", [](std::vector<std::uint8_t>& bytes) {
    put<std::uint32_t>(bytes, kOffsetNumberOfPointRecords, 0);
    put<std::uint64_t>(bytes, kOffsetExtendedNumberOfPointRecords, 5000000000);
  });
  LASreaderLAS reader;
  result = read_all(reader, path);
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(reader.points_total, 5000000000);
  EXPECT_EQ(result.points, 1000);
  EXPECT_EQ(result.messages,
            "WARNING: end-of-file after 1000 of 5000000000 points for '" + path + "'\n");
}

TEST(LasReaderBroken, VersionAndSizeMismatchesOfTheHeader) {
  SKIP_WITHOUT_REAL_DATA();
  // A 1.3 header of the 1.2 size: warned, no waveform field read.
  std::string path = patched_copy(
      "perm_1.2_0.las", [](std::vector<std::uint8_t>& bytes) { bytes[kOffsetVersionMinor] = 3; });
  ReadAll result = read_all(path);
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.points, 1);
  EXPECT_EQ(result.messages,
            "WARNING: for LAS 1.3 header_size should at least be 235 but it is only 227\n");

  path = patched_copy("perm_1.2_0.las",
                      [](std::vector<std::uint8_t>& bytes) { bytes[kOffsetVersionMinor] = 4; });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages,
            "WARNING: for LAS 1.4 header_size should at least be 235 but it is only 227\n"
            "ERROR: for LAS 1.4 header_size should at least be 375 but it is only 227\n");

  path = patched_copy("perm_1.2_0.las", [](std::vector<std::uint8_t>& bytes) { bytes[1] = 'X'; });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages, "ERROR: wrong file signature 'LXSF'\n");

  path =
      patched_copy("perm_1.2_0.las", [](std::vector<std::uint8_t>& bytes) { bytes.resize(150); });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages, "ERROR: reading header.z_scale_factor\n");

  // Bit 7 of the point data format without a codec record.
  path = patched_copy("perm_1.2_0.las", [](std::vector<std::uint8_t>& bytes) {
    bytes[kOffsetPointDataFormat] = 0x80;
  });
  result = read_all(path);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.messages,
            "ERROR: this file was compressed with an experimental version of pakrel\n");
}

TEST(LasReaderBroken, VlrPayloadRunningIntoThePointsIsCutAndThePointsAreStillFound) {
  SKIP_WITHOUT_REAL_DATA();
  const std::vector<std::uint8_t> original = file_bytes(real("perm_1.2_0.las"));
  // The third VLR's length grows by 100 bytes past the point block.
  std::size_t position = 227;
  for (int i = 0; i < 2; i++)
    position += 54 + at<std::uint16_t>(original, position + 20);
  const std::uint16_t length = at<std::uint16_t>(original, position + 20);
  const std::string path = patched_copy("perm_1.2_0.las", [&](std::vector<std::uint8_t>& bytes) {
    put<std::uint16_t>(bytes, position + 20, static_cast<std::uint16_t>(length + 100));
  });
  LASreaderLAS reader;
  const ReadAll result = read_all(reader, path);
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.messages, "WARNING: only " + std::to_string(length) +
                                 " bytes until point block when trying to read " +
                                 std::to_string(length + 100) +
                                 " bytes into header.vlrs[2].data\n");
  EXPECT_EQ(reader.header.vlrs[2].record_length_after_header, length);
  EXPECT_EQ(result.points, 1);
  EXPECT_EQ(reader.point.X, at<std::int32_t>(original, 1005));
}

TEST(LasReaderCompressed, DecodesTheTwinOrFailsCleanlyWithoutACodec) {
  SKIP_WITHOUT_REAL_DATA();
  LASreaderLAS twin;
  ASSERT_TRUE(twin.open_file(real("simple.las").c_str()));
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  const bool opened = reader.open_file(real("simple.pkz").c_str());
  const std::string messages = testing::internal::GetCapturedStderr();
  if (!opened) {
    // Until the item codecs exist the engine cannot be set up.
    EXPECT_EQ(messages, "ERROR: point type 3 of size 34 not supported (with Pakrel)\n");
    return;
  }
  EXPECT_EQ(reader.format_code(), 2);
  EXPECT_EQ(reader.header.point_data_format, 3);
  std::int64_t differing = 0;
  while (twin.read_next()) {
    ASSERT_TRUE(reader.read_next());
    if (std::memcmp(static_cast<const LASpointFields*>(&twin.point),
                    static_cast<const LASpointFields*>(&reader.point), 20) != 0 ||
        twin.point.gps_time != reader.point.gps_time) {
      differing++;
    }
  }
  EXPECT_FALSE(reader.read_next());
  EXPECT_EQ(differing, 0);
}

TEST(LasReaderCompressed, HeaderOnlyClearsTheCompressionBitAndAbsorbsTheCodecRecord) {
  SKIP_WITHOUT_REAL_DATA();
  const std::vector<std::uint8_t> file = file_bytes(real("simple.pkz"));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(real("simple.pkz").c_str(), LASreaderLAS::kDefaultBufferSize, true));
  EXPECT_EQ(file[kOffsetPointDataFormat], 0x83);
  EXPECT_EQ(reader.header.point_data_format, 3);
  EXPECT_EQ(reader.points_total, 1065);
  EXPECT_FALSE(reader.read_raw_point());  // no engine

  // A full open absorbs the codec record whether or not the points can be decoded.
  testing::internal::CaptureStderr();
  reader.open_file(real("simple.pkz").c_str());
  testing::internal::GetCapturedStderr();
  ASSERT_NE(reader.header.codec, nullptr);
  EXPECT_EQ(reader.header.codec->compressor, 2);
  EXPECT_EQ(reader.header.codec->num_items, 3);
  EXPECT_EQ(reader.header.vlrs.size() + 1, at<std::uint32_t>(file, kOffsetNumberOfVlrs));
  EXPECT_EQ(reader.header.offset_to_point_data + 54 + 34 + 6 * 3,
            at<std::uint32_t>(file, kOffsetOffsetToPointData));
}

TEST(LasReaderSeek, RandomIndexesGiveTheSamePointsAsASequentialRead) {
  SKIP_WITHOUT_REAL_DATA();
  for (const char* name : {"simple.las", "simple1_4.las"}) {
    SCOPED_TRACE(name);
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(real(name).c_str()));
    std::vector<LASpoint> sequence;
    while (reader.read_next())
      sequence.push_back(reader.point);
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int64_t> pick(0, reader.points_total - 1);
    for (int i = 0; i < 200; i++) {
      const std::int64_t index = i == 0 ? reader.points_total - 1 : pick(random);
      ASSERT_TRUE(reader.seek_point(index));
      EXPECT_EQ(reader.points_done, index);
      ASSERT_TRUE(reader.read_next());
      const LASpoint& expected = sequence[static_cast<std::size_t>(index)];
      EXPECT_EQ(reader.point.X, expected.X);
      EXPECT_EQ(reader.point.Y, expected.Y);
      EXPECT_EQ(reader.point.Z, expected.Z);
      EXPECT_EQ(reader.point.gps_time, expected.gps_time);
      EXPECT_EQ(reader.point.extended_return_number, expected.extended_return_number);
    }
    EXPECT_FALSE(reader.seek_point(reader.points_total));
    EXPECT_FALSE(reader.seek_point(-1));
  }
}

TEST(LasReaderArea, RectangleTileAndCircleDeliverExactlyThePointsInside) {
  SKIP_WITHOUT_REAL_DATA();
  LASreaderLAS all;
  ASSERT_TRUE(all.open_file(real("simple.las").c_str()));
  std::vector<std::pair<double, double>> xy;
  while (all.read_next())
    xy.emplace_back(all.point.get_x(), all.point.get_y());
  const double min_x = all.header.min_x, max_x = all.header.max_x;
  const double min_y = all.header.min_y, max_y = all.header.max_y;
  const double mid_x = (min_x + max_x) / 2, mid_y = (min_y + max_y) / 2;

  auto count = [&](auto inside) {
    std::int64_t n = 0;
    for (const auto& [x, y] : xy)
      n += inside(x, y) ? 1 : 0;
    return n;
  };
  auto read_count = [](LASreader& reader) {
    std::int64_t n = 0;
    while (reader.read_next())
      n++;
    return n;
  };

  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  EXPECT_TRUE(reader.inside_rectangle(min_x, min_y, mid_x, mid_y));
  EXPECT_EQ(reader.header.max_x, mid_x);
  const std::int64_t in_rectangle = read_count(reader);
  EXPECT_GT(in_rectangle, 0);
  EXPECT_EQ(in_rectangle, count([&](double x, double y) {
              return min_x <= x && x < mid_x && min_y <= y && y < mid_y;
            }));
  reader.clear_area();
  EXPECT_EQ(reader.header.max_x, max_x);

  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  const float ll_x = static_cast<float>(mid_x - 20), ll_y = static_cast<float>(mid_y - 20);
  EXPECT_TRUE(reader.inside_tile(ll_x, ll_y, 40.0f));
  EXPECT_EQ(reader.header.min_x, ll_x);
  EXPECT_DOUBLE_EQ(reader.header.max_x, static_cast<float>(ll_x + 40.0f) - 0.01);
  const float ur_x = ll_x + 40.0f, ur_y = ll_y + 40.0f;
  EXPECT_EQ(read_count(reader), count([&](double x, double y) {
              return ll_x <= x && x < ur_x && ll_y <= y && y < ur_y;
            }));

  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  EXPECT_TRUE(reader.inside_circle(mid_x, mid_y, 30));
  EXPECT_EQ(read_count(reader), count([&](double x, double y) {
              return (mid_x - x) * (mid_x - x) + (mid_y - y) * (mid_y - y) < 900;
            }));

  // An area beside the file delivers nothing at once.
  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  EXPECT_FALSE(reader.inside_rectangle(max_x + 1, min_y, max_x + 100, max_y));
  EXPECT_EQ(read_count(reader), 0);
  EXPECT_EQ(reader.points_done, 0);
  reader.clear_area();
  EXPECT_EQ(read_count(reader), static_cast<std::int64_t>(xy.size()));
}

namespace {

struct DropOddIntensity : LASfilterHook {
  int asked = 0;
  bool filter(const LASpoint& point) override {
    asked++;
    return point.intensity % 2 == 1;
  }
};

struct RaiseByOneMetre : LAStransformHook {
  void transform(LASpoint& point) override { point.Z += 100; }
};

}  // namespace

namespace {

// An index over fixed runs whose check gives a chosen verdict.
struct VerdictIndex : LASindexHook {
  Check verdict;
  bool finds;
  int checks = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> runs = {{10, 19}, {500, 504}};
  std::size_t next = 0;
  bool in_run = false;
  VerdictIndex(Check verdict, bool finds) : verdict(verdict), finds(finds) {}
  bool query_rectangle(double, double, double, double) override { return query(); }
  bool query_tile(float, float, float) override { return query(); }
  bool query_circle(double, double, double) override { return query(); }
  bool query() {
    next = 0;
    in_run = false;
    return finds;
  }
  bool advance(LASreader& reader) override {
    if (!in_run) {
      if (next == runs.size() || !reader.seek_point(runs[next].first)) return false;
      in_run = true;
    }
    if (reader.points_done == runs[next].second) {
      in_run = false;
      next++;
    }
    return true;
  }
  Check check(LASreader& reader, double min_x, double, double max_x, double) override {
    checks++;
    // Asked with the file's bounding box, not the area's, at the first point.
    EXPECT_EQ(min_x, 635619.85);
    EXPECT_EQ(max_x, 638982.55);
    EXPECT_EQ(reader.points_done, 0);
    return verdict;
  }
};

}  // namespace

TEST(LasReaderArea, AnAttachedIndexIsCheckedOnceAndItsVerdictDecidesHowTheAreaIsRead) {
  SKIP_WITHOUT_REAL_DATA();
  using Check = LASindexHook::Check;
  struct Case {
    Check verdict;
    bool finds;
    std::vector<std::int64_t> delivered;  // {-1}: every point
    bool kept, refused, failed;
  };
  const std::vector<std::int64_t> runs = {10, 11, 12,  13,  14,  15,  16, 17,
                                          18, 19, 500, 501, 502, 503, 504};
  const Case cases[] = {
      {Check::kSound, true, runs, true, false, false},
      {Check::kSound, false, {}, true, false, false},
      {Check::kUnusable, true, {-1}, true, false, false},
      {Check::kUnusable, false, {-1}, true, false, false},
      {Check::kStale, true, {-1}, false, true, false},
      {Check::kStale, false, {-1}, false, true, false},
      {Check::kLost, true, {}, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.verdict));
    SCOPED_TRACE(c.finds);
    for (bool filtered : {false, true}) {
      LASreaderLAS reader;
      ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
      auto owned = std::make_unique<VerdictIndex>(c.verdict, c.finds);
      VerdictIndex* index = owned.get();
      reader.attach_index(std::move(owned));
      DropOddIntensity odd_dropped;
      if (filtered) reader.set_filter(&odd_dropped);
      ASSERT_TRUE(reader.inside_rectangle(-1e9, -1e9, 1e9, 1e9));
      EXPECT_EQ(reader.header.min_x, -1e9);
      std::vector<std::int64_t> delivered;
      std::int64_t every = 0;
      while (reader.read_next()) {
        delivered.push_back(reader.points_done - 1);
        every++;
      }
      std::vector<std::int64_t> expected = c.delivered;
      if (expected == std::vector<std::int64_t>{-1}) {
        LASreaderLAS plain;
        ASSERT_TRUE(plain.open_file(real("simple.las").c_str()));
        if (filtered) plain.set_filter(&odd_dropped);
        expected.clear();
        while (plain.read_next())
          expected.push_back(plain.points_done - 1);
      } else if (filtered) {
        LASreaderLAS plain;
        ASSERT_TRUE(plain.open_file(real("simple.las").c_str()));
        std::vector<std::int64_t> kept_by_filter;
        for (std::int64_t n : expected) {
          ASSERT_TRUE(plain.seek_point(n));
          ASSERT_TRUE(plain.read_raw_point());
          if (plain.point.intensity % 2 == 0) kept_by_filter.push_back(n);
        }
        expected = kept_by_filter;
      }
      EXPECT_EQ(delivered, expected);
      EXPECT_EQ(reader.get_index() != nullptr, c.kept);
      if (c.kept) {
        EXPECT_EQ(index->checks, 1);
      }
      EXPECT_EQ(reader.index_refused(), c.refused);
      EXPECT_EQ(reader.read_failed(), c.failed);
      // A refused index is left out of the next area; a kept one is asked again.
      reader.clear_area();
      if (c.kept && !c.failed) {
        ASSERT_TRUE(reader.seek_point(0));
        reader.inside_rectangle(-1e9, -1e9, 1e9, 1e9);
        reader.read_next();
        EXPECT_EQ(index->checks, 2);
      }
      // An index let go of after its area found nothing takes the nothing with it.
      if (c.verdict == Check::kSound && !c.finds && !filtered) {
        ASSERT_TRUE(reader.seek_point(0));
        reader.inside_rectangle(-1e9, -1e9, 1e9, 1e9);
        EXPECT_FALSE(reader.read_next());
        reader.attach_index(nullptr);
        ASSERT_TRUE(reader.seek_point(0));
        std::int64_t all = 0;
        while (reader.read_next())
          all++;
        EXPECT_EQ(all, 1065);
      }
    }
  }
}

TEST(LasReaderDispatch, FilterAndTransformApplyAloneAndTogether) {
  SKIP_WITHOUT_REAL_DATA();
  LASreaderLAS plain;
  ASSERT_TRUE(plain.open_file(real("simple.las").c_str()));
  std::vector<LASpoint> points;
  while (plain.read_next())
    points.push_back(plain.point);
  std::int64_t even = 0;
  for (const LASpoint& p : points)
    even += p.intensity % 2 == 0 ? 1 : 0;

  DropOddIntensity filter;
  RaiseByOneMetre transform;
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  reader.set_filter(&filter);
  std::int64_t delivered = 0;
  while (reader.read_next()) {
    EXPECT_EQ(reader.point.intensity % 2, 0);
    delivered++;
  }
  EXPECT_EQ(delivered, even);
  EXPECT_EQ(filter.asked, static_cast<int>(points.size()));

  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  reader.set_filter(nullptr);
  reader.set_transform(&transform);
  for (const LASpoint& p : points) {
    ASSERT_TRUE(reader.read_next());
    EXPECT_EQ(reader.point.Z, p.Z + 100);
  }

  ASSERT_TRUE(reader.open_file(real("simple.las").c_str()));
  reader.set_filter(&filter);
  reader.inside_rectangle(-1e9, -1e9, 1e9, 1e9);
  delivered = 0;
  std::size_t next = 0;
  while (reader.read_next()) {
    while (points[next].intensity % 2 == 1)
      next++;
    EXPECT_EQ(reader.point.Z, points[next].Z + 100);
    next++;
    delivered++;
  }
  EXPECT_EQ(delivered, even);
}

TEST(LasReaderConvert, AutomaticOffsetsRoundTheBoxCentreDownToTenMillionUnits) {
  // A box from 500000.00 to 501000.00 at scale 0.01: centre 50,050,000 units -> 500000.
  LASheader header;
  header.x_offset = 400000;
  header.y_offset = 400000;
  header.min_x = header.min_y = 500000.0;
  header.max_x = header.max_y = 501000.0;
  header.number_of_point_records = 2;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 0, 20, &header));
  point.set_x(500000.0);
  point.set_y(501000.0);
  ASSERT_TRUE(writer.write_point(point));
  point.set_x(500123.45);
  point.set_y(500999.99);
  ASSERT_TRUE(writer.write_point(point));
  ASSERT_GT(writer.close_writer(), 0);

  LASreaderLASreoffset reader;
  ByteStreamInArrayLE in(out.data(), out.size());
  ASSERT_TRUE(reader.open_stream(&in));
  EXPECT_EQ(reader.header.x_offset, 500000.0);
  EXPECT_EQ(reader.header.y_offset, 500000.0);
  EXPECT_EQ(reader.header.z_offset, 0.0);
  EXPECT_TRUE(reader.reoffset(0));
  EXPECT_FALSE(reader.reoffset(2));
  ASSERT_TRUE(reader.read_next());
  EXPECT_EQ(reader.point.X, 0);
  EXPECT_EQ(reader.point.Y, 100000);
  ASSERT_TRUE(reader.read_next());
  EXPECT_EQ(reader.point.X, 12345);
  EXPECT_DOUBLE_EQ(reader.point.get_y(), 500999.99);

  LASreaderLASrescale finer(0.001, 0, 0.01);
  ByteStreamInArrayLE again(out.data(), out.size());
  ASSERT_TRUE(finer.open_stream(&again));
  EXPECT_TRUE(finer.rescaled(0));
  EXPECT_FALSE(finer.rescaled(1));
  ASSERT_TRUE(finer.read_next());
  EXPECT_EQ(finer.point.X, 100000000);  // (500000 - 400000) / 0.001
  EXPECT_DOUBLE_EQ(finer.point.get_x(), 500000.0);

  LASreaderLASrescalereoffset both(0.001, 0.001, 0.001, 500000, 500000, 0);
  ByteStreamInArrayLE third(out.data(), out.size());
  ASSERT_TRUE(both.open_stream(&third));
  ASSERT_TRUE(both.read_next());
  ASSERT_TRUE(both.read_next());
  EXPECT_EQ(both.point.X, 123450);
  EXPECT_EQ(both.point.Y, 999990);
}

TEST(LasReaderConvert, ConversionsThatOverflowThirtyTwoBitsWarnPerBound) {
  LASheader header;
  header.min_x = header.min_y = 0.0;
  header.max_x = header.max_y = 1000.0;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_stream(&out, &header));
  ASSERT_GT(writer.close_writer(), 0);

  testing::internal::CaptureStderr();
  LASreaderLASrescale reader(0.0000001, 0, 0);
  ByteStreamInArrayLE in(out.data(), out.size());
  ASSERT_TRUE(reader.open_stream(&in));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: rescaling from 0.01 to 1e-07 causes LAS integer overflow for max_x\n");

  testing::internal::CaptureStderr();
  LASreaderLASreoffset shifted(-30000000.0, 0, 0);
  ByteStreamInArrayLE again(out.data(), out.size());
  ASSERT_TRUE(shifted.open_stream(&again));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for min_x\n"
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for max_x\n");
}
