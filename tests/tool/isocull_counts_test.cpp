// Counts that mean one thing: the per-file line, the counts line of -v, the summary and the
// report of -report give the same points_in_file, points_read, filtered, buffer_points,
// ignored and marked, checked against counts of the files made here by hand: a tile of a
// real survey read whole, by an area through its index and without it, with a filter, and
// with its neighbour's points. And a failed file's report carries the first reason given.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "json_value.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

struct Counts {
  std::uint64_t in_file = 0, read = 0, filtered = 0, buffer = 0, ignored = 0, marked = 0;
};

struct Xy {
  double x, y;
  std::uint8_t classification;
  std::uint8_t return_byte;
};

class IsocullCounts : public ToolFolders {
 protected:
  // The points of a file, decoded, as coordinates.
  std::vector<Xy> points_of(const std::string& name) {
    const LasRecords file = decoded_records(path(name), path("tmp/decoded.las"));
    EXPECT_TRUE(file.ok) << name;
    std::vector<Xy> points;
    for (const auto& record : file.records) {
      std::int32_t x = 0, y = 0;
      std::memcpy(&x, record.data(), 4);
      std::memcpy(&y, record.data() + 4, 4);
      points.push_back({x * file.header.x_scale_factor + file.header.x_offset,
                        y * file.header.y_scale_factor + file.header.y_offset,
                        static_cast<std::uint8_t>(record[15] & 0x1F), record[14]});
    }
    return points;
  }
};

// The counts line of -v.
std::string counts_line(const Counts& c) {
  char line[256];
  std::snprintf(line, sizeof(line),
                "points_in_file %" PRIu64 ", points_read %" PRIu64 ", filtered %" PRIu64
                ", buffer_points %" PRIu64 ", ignored %" PRIu64 ", marked %" PRIu64 "\n",
                c.in_file, c.read, c.filtered, c.buffer, c.ignored, c.marked);
  return line;
}

TEST_F(IsocullCounts, EveryPlaceCountsAlikePlainByAreaFilteredAndBuffered) {
  const std::string tile = kRealData + "/lone-star-split-1.pkz";
  const std::string next = kRealData + "/lone-star-split-2.pkz";
  if (!exists(tile) || !exists(next)) GTEST_SKIP() << "no real data in " << kRealData;
  // Copies, so that the index can be written beside one of them.
  for (const auto& [from, to] : {std::pair{tile, "in/indexed.pkz"}, std::pair{tile, "in/t.pkz"},
                                 std::pair{next, "in/next.pkz"}}) {
    const std::string bytes = read_text(from);
    std::FILE* out = std::fopen(path(to).c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
  }
  {
    const std::string command = "cd " + shell_quoted(dir_.path()) + " && " +
                                shell_quoted(ISOCULL_BINARY_DIR "/isocull_index") +
                                " -i in/indexed.pkz 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  ASSERT_TRUE(exists(path("in/indexed.pkx")));

  const std::vector<Xy> points = points_of("in/t.pkz");
  const std::vector<Xy> neighbours = points_of("in/next.pkz");
  ASSERT_EQ(points.size(), 122893u);
  for (const Xy& p : points)
    ASSERT_NE(p.classification, 7) << "the tile holds class 7 already";
  double min_x = 1e300, min_y = 1e300, max_x = -1e300, max_y = -1e300;
  for (const Xy& p : points) {
    min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
  }
  // An area of 100 by 100 in the middle of the tile.
  const double ax = std::floor((min_x + max_x) / 2), ay = std::floor((min_y + max_y) / 2);
  const std::vector<std::string> area = {"-inside", std::to_string(ax), std::to_string(ay),
                                         std::to_string(ax + 100), std::to_string(ay + 100)};
  std::uint64_t inside = 0, last_returns = 0, in_buffer = 0;
  for (const Xy& p : points) {
    inside += p.x >= ax && p.x < ax + 100 && p.y >= ay && p.y < ay + 100;
    // Legacy return byte: return number in bits 0-2, number of returns in bits 3-5.
    last_returns += (p.return_byte & 7) == ((p.return_byte >> 3) & 7);
  }
  const double buffer = 20;
  for (const Xy& p : neighbours) {
    in_buffer += p.x >= min_x - buffer && p.x <= max_x + buffer && p.y >= min_y - buffer &&
                 p.y <= max_y + buffer;
  }
  ASSERT_GT(inside, 100u);
  ASSERT_GT(in_buffer, 1000u);
  const std::uint64_t all = points.size();

  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> options;
    Counts expected;  // marked and ignored are taken from the output
  };
  std::vector<std::string> buffered = {"-buffered", "20", "-neighbors", "in/next.pkz"};
  const Case cases[] = {
      {"plain", "in/t.pkz", {}, {all, all, 0, 0, 0, 0}},
      {"area through an index", "in/indexed.pkz", area, {all, inside, all - inside, 0, 0, 0}},
      {"area without an index", "in/t.pkz", area, {all, inside, all - inside, 0, 0, 0}},
      {"filter", "in/t.pkz", {"-keep_last"}, {all, last_returns, all - last_returns, 0, 0, 0}},
      {"buffered", "in/t.pkz", buffered, {all, all, 0, in_buffer, 0, 0}},
      {"ignored", "in/t.pkz", {"-ignore_class", "2"}, {all, all, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-i",        c.input,     "-v",          "-step",
                                     "0.4",       "-isolated", "5",           "-o",
                                     "out/t.las", "-report",   "out/run.json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    // Independently: the output holds the points read; the marked ones carry class 7 (none
    // of the tile's own does), the ignored ones are those of class 2.
    const std::vector<Xy> output = points_of("out/t.las");
    Counts expected = c.expected;
    ASSERT_EQ(output.size(), expected.read);
    std::uint64_t marked = 0, class_two = 0;
    for (const Xy& p : output)
      marked += p.classification == 7;
    for (const Xy& p : points)
      class_two += p.classification == 2;
    expected.marked = marked;
    if (std::string(c.name) == "ignored") expected.ignored = class_two;
    if (expected.read == all) {
      EXPECT_GT(expected.marked, 0u);
    }

    EXPECT_TRUE(result.printed(counts_line(expected))) << result.err;
    char done[200];
    std::snprintf(done, sizeof(done), " noise points of %" PRIu64 " read (", expected.read);
    EXPECT_TRUE(result.printed(std::string("classified ") + std::to_string(expected.marked) + done))
        << result.err;
    EXPECT_EQ(result.printed(std::to_string(expected.buffer) +
                             " buffer points of neighbours counted besides."),
              expected.buffer > 0)
        << result.err;
    EXPECT_TRUE(result.printed("summary: 1 files done, 0 failed, 0 cut. " +
                               std::to_string(expected.read) + " points read, " +
                               std::to_string(expected.marked) + " marked ("))
        << result.err;

    JsonValue report;
    const std::string text = read_text(path("out/run.json"));
    ASSERT_TRUE(JsonParser(text).parse(report)) << text;
    for (const JsonValue* counts : {&report["files"].items.at(0), &report["totals"]}) {
      EXPECT_EQ((*counts)["points_in_file"].number, static_cast<double>(expected.in_file));
      EXPECT_EQ((*counts)["points_read"].number, static_cast<double>(expected.read));
      EXPECT_EQ((*counts)["filtered"].number, static_cast<double>(expected.filtered));
      EXPECT_EQ((*counts)["buffer_points"].number, static_cast<double>(expected.buffer));
      EXPECT_EQ((*counts)["ignored"].number, static_cast<double>(expected.ignored));
      EXPECT_EQ((*counts)["marked"].number, static_cast<double>(expected.marked));
    }
    std::remove(path("out/t.las").c_str());
  }
}

// The reason a failed file carries in the report is the first one the system or the reader
// gave, not the line that only says opening failed.
TEST_F(IsocullCounts, AFailedFileCarriesTheFirstReasonGiven) {
  if (!exists(kRealData + "/polygons.shp")) GTEST_SKIP() << "no real data in " << kRealData;
  ASSERT_TRUE(write_scene(path("in/good.las"), 5000, 1));
  std::FILE* junk = std::fopen(path("in/junk.las").c_str(), "wb");
  ASSERT_NE(junk, nullptr);
  std::fputs("LASF but nothing else that a header needs", junk);
  std::fclose(junk);
  struct Case {
    std::string input;
    const char* reason;
  };
  const Case cases[] = {
      {"in/none.las", "No such file or directory"},
      {kRealData + "/polygons.shp", "wrong shape type 5"},
      {"in/junk.las", ""},
  };
  std::vector<std::string> args = {"-i"};
  for (const Case& c : cases)
    args.push_back(c.input);
  args.push_back("in/good.las");
  for (const char* option : {"-odir", "out", "-report", "out/run.json", "-quiet"})
    args.push_back(option);
  const ToolRun result = run(args);
  EXPECT_EQ(result.exit_code, 1);
  JsonValue report;
  const std::string text = read_text(path("out/run.json"));
  ASSERT_TRUE(JsonParser(text).parse(report)) << text;
  ASSERT_EQ(report["files"].items.size(), 4u);
  for (std::size_t i = 0; i < 3; i++) {
    const JsonValue& file = report["files"].items[i];
    SCOPED_TRACE(cases[i].input);
    EXPECT_EQ(file["status"].text, "failed");
    const std::string& message = file["message"].text;
    EXPECT_NE(message.find(cases[i].reason), std::string::npos) << message;
    EXPECT_EQ(message.find("could not open lasreader"), std::string::npos) << message;
    EXPECT_EQ(message.find("cannot open lasreader"), std::string::npos) << message;
    EXPECT_FALSE(message.empty());
    // The reason is the first error line printed for that file.
    EXPECT_TRUE(result.printed("ERROR: " + message + "\n")) << message << "\n" << result.err;
  }
  EXPECT_EQ(report["files"].items[3]["status"].text, "done");
}

}  // namespace
