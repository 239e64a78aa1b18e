// End to end on text within bounds: a flood of bad lines prints a few warnings per file,
// every scan of a PTX file is read, archive names are taken literally, and parse strings,
// line ends, GPS times and dialect messages behave.

#include <gtest/gtest.h>

#include <fstream>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

using IsocullTextBounds = ToolFolders;

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool command_exists(const std::string& program) {
  return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

// The coordinates of the points of a LAS output, in order.
std::vector<std::array<double, 3>> xyz_of(const std::string& las) {
  std::vector<std::array<double, 3>> xyz;
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return xyz;
  while (reader.read_next())
    xyz.push_back({reader.point.get_x(), reader.point.get_y(), reader.point.get_z()});
  return xyz;
}

}  // namespace

TEST_F(IsocullTextBounds, AFloodOfBadLinesPrintsFiveOfEachKindAndOneSummaryPerFile) {
  // Bad lines carrying a terminal escape sequence, and intensities beyond 16 bits.
  std::string text = "1 2 3 4\n";
  for (int i = 0; i < 20000; i++)
    text += "\x1b]0;owned\x07 bad line\n";
  for (int i = 0; i < 300; i++)
    text += "1 2 3 70000\n";
  text += "4 5 6 7\n";
  write_file(path("in/a.txt"), text);
  write_file(path("in/b.txt"), text);
  for (const char* cores : {"1", "2"}) {
    SCOPED_TRACE(cores);
    const ToolRun run_result = run({"-i", "in/a.txt", "in/b.txt", "-iparse", "xyzi", "-odir", "out",
                                    "-olas", "-cores", cores});
    ASSERT_EQ(run_result.exit_code, 0) << run_result.err;
    EXPECT_EQ(run_result.count("WARNING: cannot parse '\\x1b]0;owned\\x07 bad line' with 'xyzi'"),
              10u);
    EXPECT_EQ(run_result.count("WARNING: intensity 70000 is out of range of unsigned short\n"),
              10u);
    EXPECT_EQ(run_result.count("WARNING: … and 19995 more lines like it: cannot parse '…' with "
                               "'…'. skipping ...\n"),
              2u);
    EXPECT_EQ(run_result.count("WARNING: … and 295 more lines like it: intensity … is out of "
                               "range of unsigned short\n"),
              2u);
    EXPECT_EQ(run_result.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(run_result.err.find('\x07'), std::string::npos);
    EXPECT_LT(run_result.err.size(), 4000u) << run_result.err;
    EXPECT_EQ(xyz_of(path("out/a.las")).size(), 302u);
  }
}

TEST_F(IsocullTextBounds, EveryScanOfAMultiScanPtxIsRead) {
  const std::string real = kRealData + "/no-color.ptx";
  if (!exists(real)) GTEST_SKIP() << "real point files not found at " << kRealData;
  const std::string scan = read_text(real);
  // The file ends without a line end: one is put between the copies.
  const std::string empty =
      "0\n0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
  write_file(path("in/one.ptx"), scan);
  write_file(path("in/two.ptx"), scan + "\n" + empty + scan + "\n");
  write_file(path("in/joined.ptx"), scan + scan);
  write_file(path("in/empty.ptx"), empty);
  for (const char* populate : {"-do_not_populate", "-populate"}) {
    SCOPED_TRACE(populate);
    const ToolRun one = run({"-i", "in/one.ptx", "-iptx", populate, "-o", "out/one.las"});
    ASSERT_EQ(one.exit_code, 0) << one.err;
    const ToolRun two = run({"-i", "in/two.ptx", "-iptx", populate, "-o", "out/two.las"});
    ASSERT_EQ(two.exit_code, 0) << two.err;
    EXPECT_FALSE(two.printed("end-of-file")) << two.err;
    EXPECT_FALSE(two.printed("cannot parse")) << two.err;
    std::vector<std::array<double, 3>> twice = xyz_of(path("out/one.las"));
    ASSERT_EQ(twice.size(), 15u);
    twice.insert(twice.end(), twice.begin(), twice.end());
    EXPECT_EQ(xyz_of(path("out/two.las")), twice);
    // Copies joined without a line end lose the second scan's first line: refused, not guessed.
    const ToolRun joined = run({"-i", "in/joined.ptx", "-iptx", populate, "-o", "out/j.las"});
    EXPECT_EQ(joined.exit_code, 1);
    EXPECT_TRUE(joined.printed("ERROR: parsing number of rows of scan 2\n")) << joined.err;
    EXPECT_FALSE(exists(path("out/j.las")));
    // A scan of no points is valid: nothing to write, nothing wrong.
    const ToolRun none = run({"-i", "in/empty.ptx", "-iptx", populate, "-o", "out/e.las"});
    EXPECT_EQ(none.exit_code, 0) << none.err;
    EXPECT_FALSE(none.printed("ERROR")) << none.err;
    EXPECT_FALSE(none.printed("end-of-file")) << none.err;
  }
}

TEST_F(IsocullTextBounds, CompressedTextIsReadFromTheArchiveNamedNotFromItsNamesakes) {
  write_file(path("in/named.txt"), "1 2 3\n");
  write_file(path("in/decoy.txt"), "9 9 9\n");
  struct Case {
    const char* program;
    const char* packer;
    const char* pack;  // packs "$1" (a text) into "$2", in the folder "in"
    const char* suffix;
  };
  const Case cases[] = {
      {"gzip", "gzip", "gzip -c \"$1\" > \"$2\"", ".txt.gz"},
      {"unzip", "zip", "cp \"$1\" p.txt && zip -q \"$2\" p.txt && rm p.txt", ".zip"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    if (!command_exists(c.program) || !command_exists(c.packer)) {
      std::printf("[ skipped  ] '%s' or '%s' is not installed\n", c.program, c.packer);
      continue;
    }
    const std::pair<std::string, std::string> names[] = {
        {"a[1]", "a1"}, {"b*", "bx"}, {"c?", "cx"}};
    for (const auto& [name, namesake] : names) {
      SCOPED_TRACE(name);
      const std::string pack =
          "cd " + shell_quoted(path("in")) + " && sh -c '" + c.pack + "' pack ";
      ASSERT_EQ(std::system((pack + "decoy.txt " + shell_quoted(namesake + c.suffix)).c_str()), 0);
      ASSERT_EQ(std::system((pack + "named.txt " + shell_quoted(name + c.suffix)).c_str()), 0);
      const ToolRun result = run({"-i", "in/" + name + c.suffix, "-o", "out/x.las"});
      ASSERT_EQ(result.exit_code, 0) << result.err;
      EXPECT_EQ(xyz_of(path("out/x.las")), (std::vector<std::array<double, 3>>{{1, 2, 3}}));
      std::remove(path("in/" + name + c.suffix).c_str());
      std::remove(path("in/" + namesake + c.suffix).c_str());
    }
  }
  // Programs without an escape for their wildcards are never handed such a name.
  for (const std::string name : {"b*.7z", "c?.rar"}) {
    write_file(path("in/" + name), "not really compressed");
    const ToolRun result = run({"-i", "in/" + name, "-o", "out/y.las"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(result.printed("ERROR: cannot decompress 'in/" + name + "': '" +
                               (name[0] == 'b' ? "7z" : "unrar") +
                               "' takes '*' and '?' in an archive name for wildcards. rename "
                               "the file\n"))
        << result.err;
  }
}

TEST_F(IsocullTextBounds, ParseStringsLineEndsGpsTimesAndDialectMessages) {
  const std::string lines = "1 2 3 10.5\n4 5 6 11.5\n7 8 9 12.5\n";
  std::string cr = lines, crlf;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  for (const char c : lines)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  write_file(path("in/lf.txt"), lines);
  write_file(path("in/cr.txt"), cr);
  write_file(path("in/crlf.txt"), crlf);
  write_file(path("in/nan.txt"), lines + "1 2 3 nan\n1 2 3 -inf\n");
  write_file(path("in/bad.pts"), "many\n1 2 3\n");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* said;    // in the messages ("" for nothing in particular)
    std::size_t points;  // in out/o.las, when it exits 0
  };
  const Case cases[] = {
      {{"-i", "in/lf.txt", "-iparse", "xyzt"}, 0, "", 3},
      {{"-i", "in/cr.txt", "-iparse", "xyzt"}, 0, "", 3},
      {{"-i", "in/crlf.txt", "-iparse", "xyzt"}, 0, "", 3},
      {{"-i", "in/lf.txt", "-iparse", ""},
       1,
       "ERROR: parse string '' has no 'x': the columns of a point need x, y and z\n",
       0},
      {{"-i", "in/lf.txt", "-iparse", "xyt"},
       1,
       "ERROR: parse string 'xyt' has no 'z': the columns of a point need x, y and z\n",
       0},
      {{"-i", "in/nan.txt", "-iparse", "xyzt"},
       1,
       "ERROR: 2 points of 'in/nan.txt' have coordinates or a GPS time that are not finite "
       "numbers\n",
       0},
      {{"-i", "in/bad.pts", "-ipts"}, 1, "ERROR: parsing number of points for '-ipts'\n", 0},
  };
  std::vector<std::array<double, 3>> first;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    std::remove(path("out/o.las").c_str());
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "out/o.las"});
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    EXPECT_TRUE(result.printed(c.said)) << result.err;
    if (c.exit_code != 0) {
      EXPECT_FALSE(exists(path("out/o.las")));
      continue;
    }
    EXPECT_FALSE(result.printed("WARNING: cannot parse")) << result.err;
    const auto xyz = xyz_of(path("out/o.las"));
    EXPECT_EQ(xyz.size(), c.points);
    if (first.empty()) first = xyz;
    EXPECT_EQ(xyz, first);  // every line end alike
  }
}
