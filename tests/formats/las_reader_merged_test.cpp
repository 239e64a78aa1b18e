// The merged reader over hand-built Terrasolid and shape files: a file it cannot read fails
// the whole, and a cut file is read to its cut, warned about once and leaves the merged
// reader cut.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_merged.hpp"
#include "formats/las_reader_shp.hpp"
#include "formats/point_file_bytes.hpp"
#include "tool/temp_dir.hpp"

namespace {

using namespace formats_test;

std::unique_ptr<LASreader> open_part(const std::string& name, bool /*header_only*/,
                                     const std::array<double, 3>* /*scale*/,
                                     const std::array<double, 3>* /*offset*/) {
  std::unique_ptr<LASreader> reader;
  if (name.find(".bin") != std::string::npos) {
    auto bin = std::make_unique<LASreaderBIN>();
    if (!bin->open_file(name.c_str())) return nullptr;
    reader = std::move(bin);
  } else {
    auto shp = std::make_unique<LASreaderSHP>();
    if (!shp->open_file(name.c_str())) return nullptr;
    reader = std::move(shp);
  }
  return reader;
}

struct Merged {
  bool added = true;
  bool opened = false;
  std::int64_t points = 0;
  bool cut = false;
  bool failed = false;
  std::string err;
};

Merged merge(const std::vector<std::string>& names, bool warn) {
  Merged result;
  LASreaderMerged merged(&open_part, nullptr);
  merged.warn_when_cut = warn;
  testing::internal::CaptureStderr();
  for (const std::string& name : names)
    result.added = merged.add_file_name(name) && result.added;
  result.opened = merged.open();
  while (result.opened && merged.read_next())
    result.points++;
  result.err = testing::internal::GetCapturedStderr();
  result.cut = merged.ended_cut() || merged.points_done < merged.points_total;
  result.failed = merged.read_failed();
  return result;
}

std::vector<std::vector<Vertex>> vertices(int count) {
  std::vector<std::vector<Vertex>> records;
  for (int i = 0; i < count; i++)
    records.push_back({{630000.5 + i, 4834000.5 + i, 100.0, 0}});
  return records;
}

std::vector<BinRecord> records(int count) {
  std::vector<BinRecord> list;
  for (int i = 0; i < count; i++)
    list.push_back({100 * i, 200 * i, 300});
  return list;
}

TEST(LasReaderMerged, AFileThatCannotBeReadFailsTheMergedFile) {
  TempDir dir;
  const std::string a = dir.path() + "/a.bin";
  const std::string b = dir.path() + "/b.shp";
  ASSERT_TRUE(write_file(a, terrasolid_file(BinHeader{}, records(20))));
  ASSERT_TRUE(write_file(b, shapefile(11, vertices(20))));
  struct Case {
    std::vector<std::string> names;
    const char* message;
  };
  const Case cases[] = {
      {{a, dir.path() + "/missing.bin", a}, "ERROR: file '"},
      {{a, b}, "ERROR: cannot mix BIN with SHP. skipping '"},
      {{b, a, b}, "ERROR: cannot mix SHP with BIN. skipping '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Merged got = merge(c.names, true);
    EXPECT_FALSE(got.added);
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.points, 0);
    EXPECT_EQ(got.err.rfind(c.message, 0), 0u) << got.err;
  }
  const Merged whole = merge({a, a}, true);
  EXPECT_TRUE(whole.opened);
  EXPECT_EQ(whole.points, 40);
  EXPECT_FALSE(whole.cut);
  EXPECT_EQ(whole.err, "");
}

TEST(LasReaderMerged, ACutFileIsReadToItsCutAndWarnedAboutOnce) {
  TempDir dir;
  const std::string bin = dir.path() + "/whole.bin";
  const std::string bin_cut = dir.path() + "/cut.bin";
  const std::string shp = dir.path() + "/whole.shp";
  const std::string shp_cut = dir.path() + "/cut.shp";
  std::vector<std::uint8_t> bytes = terrasolid_file(BinHeader{}, records(20));
  ASSERT_TRUE(write_file(bin, bytes));
  bytes.resize(bytes.size() - 25);  // the last record and 5 bytes of the one before
  ASSERT_TRUE(write_file(bin_cut, bytes));
  bytes = shapefile(11, vertices(20));
  ASSERT_TRUE(write_file(shp, bytes));
  bytes.resize(bytes.size() - 44 - 30);  // the last record and all but x of the one before
  ASSERT_TRUE(write_file(shp_cut, bytes));
  struct Case {
    std::vector<std::string> names;
    std::int64_t points;
  };
  const Case cases[] = {{{bin, bin_cut, bin}, 58}, {{shp, shp_cut, shp}, 58}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names[1]);
    for (bool warn : {true, false}) {
      const Merged got = merge(c.names, warn);
      ASSERT_TRUE(got.opened) << got.err;
      EXPECT_EQ(got.points, c.points);
      EXPECT_TRUE(got.cut);
      EXPECT_FALSE(got.failed);
      if (warn) {
        EXPECT_EQ(got.err.rfind("WARNING: ", 0), 0u) << got.err;
        EXPECT_EQ(got.err.find('\n'), got.err.size() - 1) << got.err;
        EXPECT_NE(got.err.find(c.names[1]), std::string::npos) << got.err;
      } else {
        EXPECT_EQ(got.err, "");
      }
    }
  }
}

}  // namespace
