#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "las/las_reader_las.hpp"
#include "select/las_reader_factory.hpp"
#include "select_test_support.hpp"

using select_test::Args;
using select_test::ScratchDir;

namespace {

bool parse(LASreaderFactory& factory, std::vector<std::string> entries) {
  Args args(std::move(entries));
  return factory.parse(args.argc(), args.data(), true);
}

std::vector<std::string> listed(const LASreaderFactory& factory) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < factory.get_file_count(); i++)
    names.emplace_back(factory.get_file_name(i));
  return names;
}

// Reads every point the reader delivers; returns their coordinates.
std::vector<std::array<double, 3>> read_all(LASreader& reader) {
  std::vector<std::array<double, 3>> points;
  while (reader.read_next())
    points.push_back({reader.point.get_x(), reader.point.get_y(), reader.point.get_z()});
  return points;
}

const std::vector<std::array<double, 3>> kSquare = {
    {10.0, 10.0, 1.0}, {15.0, 15.0, 2.0}, {20.0, 10.0, 3.0}, {19.5, 19.5, 4.0}};

TEST(LasReaderFactoryOpen, WildcardsAddTheirMatchesSortedAndANameWithoutMatchesNothing) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* name : {"t2.las", "t1.las", "t10.las", "u1.las"})
    dir.touch(name);
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "t?.las", dir / "u*", dir / "none*.las"}));
  EXPECT_EQ(listed(factory),
            (std::vector<std::string>{dir / "t1.las", dir / "t2.las", dir / "u1.las"}));
  EXPECT_FALSE(factory.add_file_name((dir / "v*.las").c_str()));
  EXPECT_EQ(factory.get_file_count(), 3u);

  LASreaderFactory empty;
  ASSERT_TRUE(parse(empty, {"-i", dir / "none*.las"}));
  EXPECT_FALSE(empty.active());
}

TEST(LasReaderFactoryOpen, UniqueSkipsDuplicatesAddedAfterIt) {
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", "a.las", "a.las", "-unique", "-i", "b.las", "a.las", "b.las"}));
  EXPECT_EQ(listed(factory), (std::vector<std::string>{"a.las", "a.las", "b.las"}));
}

TEST(LasReaderFactoryOpen, AListedFileCanBePassedOverUnopenedButNotAMergedOne) {
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", "a.las", "b.las"}));
  ASSERT_STREQ(factory.next_single_file(), "a.las");
  EXPECT_TRUE(factory.skip_single_file());
  EXPECT_STREQ(factory.get_file_name(), "a.las");
  EXPECT_STREQ(factory.next_single_file(), "b.las");
  EXPECT_TRUE(factory.skip_single_file());
  EXPECT_FALSE(factory.active());
  EXPECT_EQ(factory.next_single_file(), nullptr);
  EXPECT_FALSE(factory.skip_single_file());

  LASreaderFactory merged;
  ASSERT_TRUE(parse(merged, {"-i", "a.las", "b.las", "-merged"}));
  EXPECT_EQ(merged.next_single_file(), nullptr);
  LASreaderFactory one;
  ASSERT_TRUE(parse(one, {"-i", "a.las", "-merged"}));
  EXPECT_STREQ(one.next_single_file(), "a.las");
}

TEST(LasReaderFactoryOpen, UniqueKeepsTheFirstOfEveryNameOfALongList) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::string lines;
  for (int i = 0; i < 20000; i++)
    lines += "tile" + std::to_string(i % 1000) + ".las\n";
  const std::string list = dir.touch("list.txt", lines);
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", "tile7.las", "-unique", "-lof", list, "-lof", list}));
  ASSERT_EQ(factory.get_file_count(), 1000u);
  EXPECT_STREQ(factory.get_file_name(0), "tile7.las");
  EXPECT_STREQ(factory.get_file_name(1), "tile0.las");
  EXPECT_EQ(factory.list_files(), (std::vector<std::string>{list, list}));
}

TEST(LasReaderFactoryOpen, ListFilesAddNamesWithIdentifiersBoundsOrWildcards) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  dir.touch("w1.las");
  dir.touch("w2.las");
  const std::string list =
      dir.touch("list.txt", "3,17,0,0,100,100, first.las\r\n4,\tsecond.las\n" + (dir / "w*.las") +
                                "\n\nsecond.las\n5,9,1,2,3,4,first.las\n");
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-unique", "-lof", list}));
  const LASfileList& files = factory.file_list();
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].name, "first.las");
  EXPECT_EQ(files[0].ID, 3u);
  ASSERT_TRUE(files[0].bounds.has_value());
  EXPECT_EQ(files[0].bounds->number_of_points, 17);
  EXPECT_EQ(files[0].bounds->max_x, 100.0);
  EXPECT_EQ(files[1].name, "second.las");
  EXPECT_EQ(files[1].ID, 4u);
  EXPECT_FALSE(files[1].bounds.has_value());
  EXPECT_EQ(files[2].name, dir / "w1.las");
  EXPECT_EQ(files[3].name, dir / "w2.las");
  EXPECT_TRUE(files.has_IDs());
  EXPECT_TRUE(files.has_bounds());
}

TEST(LasReaderFactoryOpen, NeighbourListsKeepBoundsAndTakeOtherLinesAsNames) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string list = dir.touch("n.txt", "3,17,0,0,100,100,n1.las\nn*.las\n7,n2.las\n");
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", "main.las", "-buffered", "10", "-neighbors_lof", list}));
  const LASfileList& neighbors = factory.neighbor_file_list();
  ASSERT_EQ(neighbors.size(), 3u);
  EXPECT_EQ(neighbors[0].name, "n1.las");
  EXPECT_TRUE(neighbors[0].bounds.has_value());
  EXPECT_FALSE(neighbors[0].ID.has_value());
  EXPECT_EQ(neighbors[1].name, "n*.las");
  EXPECT_EQ(neighbors[2].name, "n2.las");
}

TEST(LasReaderFactoryOpen, OpensListedFilesInTurnAndReopensThemForASecondPass) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  ASSERT_TRUE(select_test::write_las(dir / "b.las", {{1, 2, 3}}));
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "a.las", dir / "b.las"}));
  EXPECT_STREQ(factory.get_file_name(), (dir / "a.las").c_str());

  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(read_all(*reader), kSquare);
  EXPECT_TRUE(factory.reopen(reader.get(), false));
  EXPECT_EQ(reader->points_done, 0);
  EXPECT_EQ(read_all(*reader), kSquare);
  reader->close_reader();
  EXPECT_TRUE(factory.active());

  reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_STREQ(factory.get_file_name(), (dir / "b.las").c_str());
  EXPECT_EQ(reader->points_total, 1);
  EXPECT_FALSE(factory.active());
  EXPECT_EQ(factory.open(), nullptr);

  // An explicit name, with the reset flag, starts the list over.
  reader = factory.open((dir / "b.las").c_str(), true);
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(factory.active());
}

TEST(LasReaderFactoryOpen, FailuresNameTheReaderAndTheFile) {
  LASreaderFactory factory;
  std::string messages;
  std::unique_ptr<LASreader> reader;
  CAPTURE_STDERR(messages, reader = factory.open("/nonexistent/x.las"));
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(messages,
            "ERROR: cannot open file '/nonexistent/x.las' for read: No such file or directory\n"
            "ERROR: cannot open lasreaderlas with file name '/nonexistent/x.las'\n");

  bool ok = true;
  CAPTURE_STDERR(messages, ok = factory.reopen(nullptr));
  EXPECT_FALSE(ok);
  EXPECT_EQ(messages, "ERROR: pointer to LASreader is NULL\n");

  LASreaderFactory no_input;
  LASreaderLAS plain;
  CAPTURE_STDERR(messages, ok = no_input.reopen(&plain));
  EXPECT_FALSE(ok);
  EXPECT_EQ(messages, "ERROR: no lasreader input specified\n");
}

TEST(LasReaderFactoryOpen, UnbuiltFormatsAreRefusedByNameAndTheListMovesOn) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"dem.asc", "ASCII grid"},
      {"dem.bil", "BIL grid"},
      {"dem.dtm", "DTM grid"},
      {"mesh.ply", "PLY"},
  };
  for (const auto& [name, format] : cases) {
    SCOPED_TRACE(name);
    LASreaderFactory factory;
    factory.add_file_name(name.c_str());
    std::string messages;
    std::unique_ptr<LASreader> reader;
    CAPTURE_STDERR(messages, reader = factory.open());
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(messages, "ERROR: reading " + format + " files ('" + name +
                            "') is not supported in this version\n");
    EXPECT_FALSE(factory.active());
  }
}

TEST(LasReaderFactoryOpen, WrappersDeliverWhatTheirOptionPromisesInBothPasses) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  // b lies 5 beyond a's box in x: inside a buffer of 10, outside one of 2.
  ASSERT_TRUE(select_test::write_las(dir / "b.las", {{25.0, 12.0, 7.0}, {90.0, 90.0, 8.0}}));
  std::vector<std::array<double, 3>> both = kSquare;
  both.push_back({25.0, 12.0, 7.0});
  both.push_back({90.0, 90.0, 8.0});
  std::vector<std::array<double, 3>> buffered = kSquare;
  buffered.push_back({25.0, 12.0, 7.0});
  struct Case {
    std::vector<std::string> args;
    std::vector<std::array<double, 3>> first_pass, second_pass;
  };
  const Case cases[] = {
      {{"-merged"}, both, both},
      {{"-buffered", "10"}, buffered, kSquare},
      {{"-buffered", "2"}, kSquare, kSquare},
      {{"-stored"}, kSquare, kSquare},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    LASreaderFactory factory;
    std::vector<std::string> entries = {"-i", dir / "a.las", dir / "b.las"};
    entries.insert(entries.end(), c.args.begin(), c.args.end());
    ASSERT_TRUE(parse(factory, entries));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(read_all(*reader), c.first_pass);
    ASSERT_TRUE(factory.reopen(reader.get(), false));
    EXPECT_EQ(read_all(*reader), c.second_pass);
  }
}

TEST(LasReaderFactoryOpen, MergedWithASingleFileReadsItPlainly) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "a.las", "-merged"}));
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->points_total, 4);
}

TEST(LasReaderFactoryOpen, FilesAreFlightlinesNumbersHeadersAndPointsPerFile) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare, 900));
  ASSERT_TRUE(select_test::write_las(dir / "b.las", kSquare, 900));
  struct Case {
    std::vector<std::string> options;
    std::uint16_t first;
  };
  // The first file gets start + index (1 + 0 with the defaults).
  const Case cases[] = {{{"-faf"}, 1}, {{"-faf", "5"}, 5}, {{"-faf", "-faf_index", "10"}, 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    LASreaderFactory factory;
    std::vector<std::string> entries = {"-i", dir / "a.las", dir / "b.las"};
    entries.insert(entries.end(), c.options.begin(), c.options.end());
    ASSERT_TRUE(parse(factory, entries));
    for (std::uint16_t file = 0; file < 2; file++) {
      std::unique_ptr<LASreader> reader = factory.open();
      ASSERT_NE(reader, nullptr);
      const std::uint16_t expected = static_cast<std::uint16_t>(c.first + file);
      EXPECT_EQ(reader->header.file_source_ID, expected);
      ASSERT_TRUE(reader->read_next());
      EXPECT_EQ(reader->point.point_source_ID, expected);
      // The second pass sees the same numbers: reopening reads the header afresh.
      ASSERT_TRUE(factory.reopen(reader.get()));
      EXPECT_EQ(reader->header.file_source_ID, expected);
      ASSERT_TRUE(reader->read_next());
      EXPECT_EQ(reader->point.point_source_ID, expected);
    }
  }
}

TEST(LasReaderFactoryOpen, ApplyFileSourceIdGivesPointsTheirFilesId) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare, 42));
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "a.las", "-apply_file_source_ID"}));
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->header.file_source_ID, 42);
  while (reader->read_next())
    EXPECT_EQ(reader->point.point_source_ID, 42);
}

TEST(LasReaderFactoryOpen, PointsKeepTheirPointSourceWithoutFlightlineOptions) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare, 42));
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "a.las"}));
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->get_transform(), nullptr);
  ASSERT_TRUE(reader->read_next());
  EXPECT_EQ(reader->point.point_source_ID, 3);
}

TEST(LasReaderFactoryOpen, RescaleAndReoffsetChooseTheConvertingReaders) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::vector<std::array<double, 3>> far = {{500000.00, 400000.00, 10.0},
                                                  {501000.00, 401000.00, 20.0}};
  ASSERT_TRUE(select_test::write_las(dir / "a.las", far));
  const std::string file = dir / "a.las";
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", file, "-rescale", "0.001", "0.001", "0.001"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(dynamic_cast<LASreaderLASrescale*>(reader.get()), nullptr);
    EXPECT_EQ(reader->header.x_scale_factor, 0.001);
    ASSERT_TRUE(reader->read_next());
    EXPECT_EQ(reader->point.X, 500000000);
    EXPECT_NEAR(reader->point.get_x(), 500000.0, 1e-6);
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", file, "-rescale_xy", "0.001", "0.001"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->header.x_scale_factor, 0.001);
    EXPECT_EQ(reader->header.z_scale_factor, 0.01);
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", file, "-reoffset", "500000", "400000", "0"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(dynamic_cast<LASreaderLASreoffset*>(reader.get()), nullptr);
    EXPECT_EQ(reader->header.x_offset, 500000.0);
    ASSERT_TRUE(reader->read_next());
    EXPECT_EQ(reader->point.X, 0);
    EXPECT_EQ(reader->point.Y, 0);
    EXPECT_NEAR(reader->point.get_y(), 400000.0, 1e-6);
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", file, "-auto_reoffset"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(dynamic_cast<LASreaderLASreoffset*>(reader.get()), nullptr);
    EXPECT_EQ(reader->header.x_offset, 500000.0);
    EXPECT_EQ(reader->header.y_offset, 400000.0);
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", file, "-rescale", "0.1", "0.1", "0.1", "-auto_reoffset"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(dynamic_cast<LASreaderLASrescalereoffset*>(reader.get()), nullptr);
    EXPECT_EQ(reader->header.x_scale_factor, 0.1);
    ASSERT_TRUE(reader->read_next());
    EXPECT_NEAR(reader->point.get_x(), 500000.0, 1e-6);
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(
        parse(factory, {"-i", file, "-rescale", "0.1", "0.1", "0.1", "-reoffset", "0", "0", "0"}));
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(dynamic_cast<LASreaderLASrescalereoffset*>(reader.get()), nullptr);
    // The conversion survives the reopen.
    ASSERT_TRUE(factory.reopen(reader.get()));
    ASSERT_TRUE(reader->read_next());
    EXPECT_EQ(reader->point.X, 5000000);
  }
}

TEST(LasReaderFactoryOpen, AreasExcludeTheirMaxEdgeAndRimAndSurviveTheReopen) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  struct Case {
    std::vector<std::string> area;
    std::size_t inside;
  };
  // (20, 10) lies on the max x edge of the rectangle and the tile; (15, 15) on the rim of
  // the circle around (10, 15).
  const Case cases[] = {
      {{"-inside", "0", "0", "20", "20"}, 3},
      {{"-inside_tile", "0", "0", "20"}, 3},
      {{"-inside_circle", "10", "15", "5"}, 0},
      {{"-inside_circle", "15", "15", "0.5"}, 1},
      // A rectangle wins over a tile for LAS files.
      {{"-inside_tile", "1000", "1000", "5", "-inside", "0", "0", "16", "16"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area.front() + " " + c.area[1]);
    LASreaderFactory factory;
    std::vector<std::string> entries = {"-i", dir / "a.las"};
    entries.insert(entries.end(), c.area.begin(), c.area.end());
    ASSERT_TRUE(parse(factory, entries));
    EXPECT_TRUE(factory.has_area());
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(read_all(*reader).size(), c.inside);
    const double max_x = reader->header.max_x;
    ASSERT_TRUE(factory.reopen(reader.get()));
    EXPECT_EQ(reader->header.max_x, max_x);
    EXPECT_EQ(read_all(*reader).size(), c.inside);
  }
}

TEST(LasReaderFactoryOpen, StandardInputIsReadOnceThenTheFactoryIsDone) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  const std::string path = dir / "a.las";
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (std::freopen(path.c_str(), "rb", stdin) == nullptr) _exit(2);
    LASreaderFactory factory;
    Args args({"-stdin"});
    if (!factory.parse(args.argc(), args.data())) _exit(3);
    if (!factory.is_pipe_input()) _exit(4);
    std::unique_ptr<LASreader> reader = factory.open();
    if (!reader) _exit(5);
    if (read_all(*reader) != kSquare) _exit(6);
    if (factory.active() || factory.open() != nullptr) _exit(7);
    // The factory holds what came through the pipe, so the points can be read again.
    if (!factory.reopen(reader.get()) || read_all(*reader) != kSquare) _exit(8);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LasReaderFactoryOpen, TheIgnoreSetIsLentToEveryReader) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "a.las", kSquare));
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", dir / "a.las", "-ignore_class", "2"}));
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->get_ignore(), factory.get_ignore());
  EXPECT_NE(reader->get_ignore(), nullptr);
}

TEST(LasReaderFactoryOpen, RealFilesOpenAndReopenToTheSamePoints) {
  if (!std::filesystem::is_directory(ISOCULL_REAL_DATA_DIR)) {
    GTEST_SKIP() << "real point files not found at " << ISOCULL_REAL_DATA_DIR;
  }
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ISOCULL_REAL_DATA_DIR))
    files += entry.path().extension() == ".las" ? 1 : 0;
  ASSERT_GT(files, 0u);
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", std::string(ISOCULL_REAL_DATA_DIR) + "/*.las"}));
  EXPECT_EQ(factory.get_file_count(), files);
  while (factory.active()) {
    std::string messages;
    std::unique_ptr<LASreader> reader;
    CAPTURE_STDERR(messages, reader = factory.open());
    const std::string name = factory.get_file_name();
    SCOPED_TRACE(name);
    if (name.find("/bad-") != std::string::npos) continue;
    ASSERT_NE(reader, nullptr) << messages;
    std::int64_t first_pass = 0;
    LASpoint first;
    while (reader->read_next()) {
      if (first_pass++ == 0) first = reader->point;
    }
    EXPECT_EQ(first_pass, reader->points_total);
    bool reopened = false;
    CAPTURE_STDERR(messages, reopened = factory.reopen(reader.get(), false));
    ASSERT_TRUE(reopened) << messages;
    std::int64_t second_pass = 0;
    while (reader->read_next()) {
      if (second_pass++ == 0) {
        EXPECT_EQ(reader->point.X, first.X);
        EXPECT_EQ(reader->point.Y, first.Y);
        EXPECT_EQ(reader->point.Z, first.Z);
      }
    }
    EXPECT_EQ(second_pass, first_pass);
  }
}

}  // namespace

TEST(LasReaderFactoryOpen, StandardInputNamedBesideFilesEndsWithTheLastFile) {
  // Listed files are read and standard input never is: once the files are opened (or
  // failed), nothing is left to deliver, so a caller that goes on after a failed open ends.
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", "missing_a.las", "missing_b.las", "-stdin"}));
  int opens = 0;
  testing::internal::CaptureStderr();
  while (factory.active() && opens < 5) {
    EXPECT_EQ(factory.open(), nullptr);
    opens++;
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(opens, 2);
  EXPECT_FALSE(factory.active());
}
