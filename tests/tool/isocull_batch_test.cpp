// End to end with the built binary: what a batch run over a survey must get right so that a
// script can trust it. Outputs never replace an input or each other, numbers are read
// whole, cut inputs and wildcards that match nothing end the run with code 1, a header on
// a pipe describes what follows, the per-file, summary and report lines count what the
// files hold, and hostile inputs (/dev/zero lists, FIFOs, a full temporary disk) end with
// one clear line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "json_value.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

// A run whose standard output is kept too, with the command given to the shell as it is
// (for pipes and `timeout`).
struct ShellRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class IsocullBatch : public ToolFolders {
 protected:
  void TearDown() override {
    if (mounted_) umount(path("small").c_str());
    ToolFolders::TearDown();
  }
  // `pipeline` may use "ISOCULL" for the quoted binary; it runs in the working folder.
  ShellRun shell(const std::string& pipeline) {
    std::string command = pipeline;
    const std::string binary = shell_quoted(kBinary);
    for (std::size_t at = command.find("ISOCULL"); at != std::string::npos;
         at = command.find("ISOCULL", at + binary.size())) {
      command.replace(at, 7, binary);
    }
    const std::string full = "cd " + shell_quoted(dir_.path()) +
                             " && export TMPDIR=" + shell_quoted(path("tmp")) + " && ( " + command +
                             " ) >" + shell_quoted(path(".out")) + " 2>" +
                             shell_quoted(path(".err")) + " </dev/null";
    const int status = std::system(full.c_str());
    ShellRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_text(path(".out"));
    run.err = read_text(path(".err"));
    std::remove(path(".out").c_str());
    std::remove(path(".err").c_str());
    return run;
  }
  static std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      n++;
    return n;
  }
  bool mount_small_disk() {
    if (mkdir(path("small").c_str(), 0755) != 0) return false;
    mounted_ = mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=64k") == 0;
    return mounted_;
  }
  // A file whose points lie one in each layer of 0.01 (all other coordinates equal): with
  // -step 0.01 every point makes its own raster and tile.
  bool write_tower(const std::string& file, int points) {
    std::vector<SimplePoint> tower;
    for (int i = 0; i < points; i++)
      tower.push_back({10.0, 10.0, 0.02 * i});
    return write_points(file, tower);
  }
  bool mounted_ = false;
};

TEST_F(IsocullBatch, AnOutputNameEqualToAnInputOrAnEarlierOutputIsRefusedAndNoStandInIsWritten) {
  ASSERT_EQ(mkdir(path("in2").c_str(), 0755), 0);
  ASSERT_TRUE(write_scene(path("in/a.las"), 3000, 1, 1));
  ASSERT_TRUE(write_scene(path("in/b.las"), 3000, 1, 2));
  ASSERT_TRUE(write_scene(path("in2/a.las"), 3000, 1, 3));
  const std::string a_before = read_text(path("in/a.las"));

  // Into the input folder: every output would be its input.
  ToolRun result = run({"-i", "in/*.las", "-odir", "in"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.count("ERROR: output 'in/a.las' is the input file 'in/a.las'"), 1u)
      << result.err;
  EXPECT_EQ(result.count("ERROR: output 'in/b.las' is the input file 'in/b.las'"), 1u);
  EXPECT_FALSE(result.printed("temp.")) << result.err;
  EXPECT_FALSE(exists(path("temp.las")));
  EXPECT_EQ(read_text(path("in/a.las")), a_before);

  // Two inputs of the same name into one folder: the second would overwrite the first.
  result = run({"-i", "in/a.las", "in2/a.las", "in/b.las", "-odir", "out"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(
      result.printed("ERROR: output 'out/a.las' was already written for 'in/a.las' in "
                     "this run. skipping 'in2/a.las'.\n"))
      << result.err;
  EXPECT_TRUE(result.printed("done with 'out/b.las' from 'in/b.las'")) << result.err;
  const LasRecords first = read_records(path("out/a.las"));
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.records.size(), 3000u);
  const LasRecords original = read_records(path("in/a.las"));
  std::size_t same_xyz = 0;
  for (std::size_t i = 0; i < first.records.size(); i++)
    same_xyz += std::equal(first.records[i].begin(), first.records[i].begin() + 12,
                           original.records[i].begin());
  EXPECT_EQ(same_xyz, 3000u) << "out/a.las must stay the output of in/a.las";
}

TEST_F(IsocullBatch, EveryNumericOptionReadsItsArgumentWholeAndInRange) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 500, 1, 4));
  struct Row {
    std::vector<std::string> option;  // the option and its arguments
    std::string bad;                  // the text the message must name
  };
  const std::vector<Row> rows = {
      // the tool
      {{"-isolated", "1e9"}, "1e9"},
      {{"-isolated", "5abc"}, "5abc"},
      {{"-isolated", "2.5"}, "2.5"},
      {{"-isolated", "99999999999"}, "99999999999"},
      {{"-classify_as", "7.0"}, "7.0"},
      {{"-step", "3m"}, "3m"},
      {{"-step", "1e39"}, "1e39"},
      {{"-step_xy", "2x"}, "2x"},
      {{"-step_z", "0.5.5"}, "0.5.5"},
      {{"-mem", "300MB"}, "300MB"},
      {{"-mem", "4294967296"}, "4294967296"},
      {{"-mem", "-1"}, "-1"},
      // the reader factory
      {{"-iskip", "2x"}, "2x"},
      {{"-io_ibuffer", "1e3"}, "1e3"},
      {{"-itranslate_intensity", "5q"}, "5q"},
      {{"-iscale_intensity", "2,5"}, "2,5"},
      {{"-itranslate_scan_angle", "1 0"}, "1 0"},
      {{"-iscale_scan_angle", "nan"}, "nan"},
      {{"-inside", "0", "0", "10", "10m"}, "10m"},
      {{"-inside_rectangle", "0x", "0", "10", "10"}, "0x"},
      {{"-inside_tile", "0", "0", "5x"}, "5x"},
      {{"-inside_circle", "0", "0", "3r"}, "3r"},
      {{"-faf", "2x"}, "2x"},
      {{"-files_are_flightlines", "3.5"}, "3.5"},
      {{"-faf_index", "1.5"}, "1.5"},
      {{"-buffered", "10m"}, "10m"},
      {{"-rescale", "0.01", "0.01", "0.001x"}, "0.001x"},
      {{"-rescale_xy", "0.01x", "0.01"}, "0.01x"},
      {{"-rescale_z", "1e-3q"}, "1e-3q"},
      {{"-reoffset", "0", "0", "1z"}, "1z"},
      {{"-iadd_extra", "4.5", "name", "description"}, "4.5"},
      {{"-ignore_class", "2x"}, "2x"},
      {{"-ignore_class", "2", "7.5"}, "7.5"},
      {{"-ignore_class_mask", "12abc"}, "12abc"},
      // the writer factory
      {{"-ocut", "2.0"}, "2.0"},
      {{"-chunk_size", "5k"}, "5k"},
      {{"-oscale_rgb", "x2"}, "x2"},
      {{"-io_obuffer", "-1"}, "-1"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"-i", "in/a.las", "-o", "out/a.las"};
    args.insert(args.end(), row.option.begin(), row.option.end());
    const ToolRun result = run(args);
    const std::string typed = row.option[0] + " " + row.bad;
    EXPECT_EQ(result.exit_code, 1) << typed << "\n" << result.err;
    EXPECT_EQ(result.count("ERROR: "), 1u) << typed << "\n" << result.err;
    EXPECT_TRUE(result.printed("ERROR: '" + row.option[0] + "' needs")) << typed << "\n"
                                                                        << result.err;
    EXPECT_TRUE(result.printed("'" + row.bad + "'")) << typed << "\n" << result.err;
    EXPECT_FALSE(exists(path("out/a.las"))) << typed;
  }
  // Whole numbers in range still run.
  const ToolRun fine = run({"-i", "in/a.las", "-o", "out/a.las", "-isolated", "3", "-step", "2.5",
                            "-mem", "300", "-ocut", "0", "-chunk_size", "1000"});
  EXPECT_EQ(fine.exit_code, 0) << fine.err;
}

TEST_F(IsocullBatch, ACutInputIsWrittenAsFarAsItGoesWarnsOnceAndEndsTheRunWithCodeOne) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 5000, 1, 5));
  ASSERT_TRUE(write_scene(path("in/b.las"), 2000, 1, 6));
  const LasRecords whole = read_records(path("in/a.las"));
  ASSERT_TRUE(whole.ok);
  // 1234 records and a half go: 3765 whole records remain.
  const std::string bytes = read_text(path("in/a.las"));
  const std::size_t keep = whole.header.offset_to_point_data + 3765 * 28 + 14;
  {
    std::ofstream cut(path("in/a.las"), std::ios::binary | std::ios::trunc);
    cut.write(bytes.data(), static_cast<std::streamsize>(keep));
  }
  const ToolRun result = run({"-i", "in/a.las", "in/b.las", "-odir", "out", "-remove_noise"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.count("WARNING: end-of-file after 3765 of 5000 points"), 1u) << result.err;
  EXPECT_TRUE(
      result.printed("ERROR: 1 input file ended before the points its header announces; "
                     "the output holds the points there were: 'in/a.las'\n"))
      << result.err;
  EXPECT_TRUE(result.printed("summary: 1 files done, 0 failed, 1 cut.")) << result.err;
  // The output holds the noise-free part of what was there, with a header that says so.
  const LasRecords output = read_records(path("out/a.las"));
  ASSERT_TRUE(output.ok);
  EXPECT_EQ(output.header.point_count(), output.records.size());
  EXPECT_GT(output.records.size(), 3500u);
  EXPECT_LE(output.records.size(), 3765u);
  EXPECT_TRUE(exists(path("out/b.las")));
}

TEST_F(IsocullBatch, AHeaderOnAPipeOrFifoAlreadyDescribesThePointsThatFollow) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 6000, 1, 7, false, 0.05));
  const Verdicts verdicts = brute_force_verdicts(path("in/a.las"), NoiseParameters{});
  ASSERT_TRUE(verdicts.ok);
  ASSERT_GT(verdicts.noise_count, 0u);
  const std::uint64_t kept = 6000 - verdicts.noise_count;

  const ShellRun piped = shell("ISOCULL -i in/a.las -stdout -remove_noise | cat > out/piped.las");
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_FALSE(piped.err.find("not seekable") != std::string::npos) << piped.err;

  // A FIFO named with -o is written as it is (no "out/fifo.las" beside it), read by cat.
  ASSERT_EQ(mkfifo(path("out/fifo").c_str(), 0644), 0);
  const ShellRun fifo = shell(
      "(cat out/fifo > out/from_fifo.las &) ; ISOCULL -i in/a.las -o out/fifo -remove_noise; "
      "sleep 0.2");
  EXPECT_EQ(fifo.exit_code, 0) << fifo.err;
  EXPECT_FALSE(exists(path("out/fifo.las")));

  for (const char* name : {"out/piped.las", "out/from_fifo.las"}) {
    SCOPED_TRACE(name);
    expect_marked(path("in/a.las"), path(name), Mode::kRemove, 0, verdicts);
    const LasRecords output = read_records(path(name));
    ASSERT_TRUE(output.ok);
    EXPECT_EQ(output.header.number_of_point_records, kept);
  }
}

TEST_F(IsocullBatch, AFileOfNoiseOnlyIsNamedAndHeavyOrGeographicFilesAreWarnedAbout) {
  std::vector<SimplePoint> scattered;
  for (int i = 0; i < 40; i++)
    scattered.push_back({100.0 * i, 50.0 * i, 10.0});
  ASSERT_TRUE(write_points(path("in/lonely.las"), scattered));
  ToolRun result = run({"-i", "in/lonely.las", "-odir", "out", "-remove_noise"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(
      result.printed("all 40 points of 'in/lonely.las' are noise: no output written; "
                     "-dont_remove_empty_files keeps an empty file\n"))
      << result.err;
  EXPECT_FALSE(result.printed("done with")) << result.err;
  EXPECT_FALSE(exists(path("out/lonely.las")));

  // Classified: 40 of 40 marked is more than a tenth.
  result = run({"-i", "in/lonely.las", "-o", "out/marked.las"});
  EXPECT_TRUE(
      result.printed("WARNING: 100% of the points of 'in/lonely.las' are noise (40 of "
                     "40)"))
      << result.err;

  // Longitude and latitude with a step of 4 (metres): one cell holds the whole tile.
  std::vector<SimplePoint> degrees;
  for (int i = 0; i < 200; i++)
    degrees.push_back({-122.40 + 0.0001 * i, 37.70 + 0.0001 * (i % 17), 20.0 + i % 5});
  ASSERT_TRUE(write_points(path("in/geo.las"), degrees));
  result = run({"-i", "in/geo.las", "-o", "out/geo.las"});
  EXPECT_TRUE(result.printed("WARNING: the coordinates of 'in/geo.las' look like degrees"))
      << result.err;
  result = run({"-i", "in/geo.las", "-o", "out/geo.las", "-quiet"});
  EXPECT_EQ(result.err, "");
}

TEST_F(IsocullBatch, HostileInputsEndWithOneClearLineInsteadOfHanging) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 1000, 1, 8));
  // A list file that never ends and holds no line end.
  ShellRun result = shell("timeout 20 ISOCULL -lof /dev/zero -odir out");
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.err.find("ERROR: line 1 of '/dev/zero' holds a NUL byte") != std::string::npos)
      << result.err;
  {
    std::ofstream list(path("in/long.txt"));
    list << "in/a.las\n" << std::string(PATH_MAX + 10, 'x') << "\n";
  }
  result = shell("timeout 20 ISOCULL -lof in/long.txt -odir out");
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.err.find("ERROR: line 2 of 'in/long.txt' is longer than") != std::string::npos)
      << result.err;

  // A FIFO can be read only once: its points are kept for the second pass, as piped input.
  ASSERT_EQ(mkfifo(path("in/fifo.las").c_str(), 0644), 0);
  result = shell("(cat in/a.las > in/fifo.las &); timeout 20 ISOCULL -i in/fifo.las -o out/f.las");
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ASSERT_EQ(shell("timeout 20 ISOCULL -i in/a.las -o out/a_ref.las").exit_code, 0);
  EXPECT_EQ(read_text(path("out/f.las")), read_text(path("out/a_ref.las")));

  // Inputs that cannot be opened say why in their first line, without the usage.
  ASSERT_EQ(mkdir(path("in/folder.las").c_str(), 0755), 0);
  for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
           {"in/missing.las", "No such file or directory"}, {"in/folder.las", "Is a directory"}}) {
    const ToolRun opened = run({"-i", name, "-odir", "out"});
    EXPECT_EQ(opened.exit_code, 1) << opened.err;
    EXPECT_EQ(
        opened.err.rfind("ERROR: cannot open file '" + name + "' for read: " + reason + "\n", 0),
        0u)
        << opened.err;
    EXPECT_FALSE(opened.printed("usage:")) << opened.err;
  }

  // A wildcard that matches nothing is named, also beside inputs that exist.
  const ToolRun wildcard = run({"-i", "in/nomatch*.las", "in/a.las", "-odir", "out"});
  EXPECT_EQ(wildcard.exit_code, 1) << wildcard.err;
  EXPECT_TRUE(wildcard.printed("ERROR: no file matches 'in/nomatch*.las'\n")) << wildcard.err;
  EXPECT_TRUE(wildcard.printed("done with 'out/a.las'")) << wildcard.err;
}

TEST_F(IsocullBatch, HelpGoesToStandardOutputWithALineForEveryOptionOfTheTool) {
  const ShellRun help = shell("ISOCULL -h");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  for (const char* option : {"-step ", "-step_xy ", "-step_z ", "-isolated ", "-classify_as ",
                             "-flag_as_withheld", "-remove_noise", "-by_flightline", "-mem ", "-v ",
                             "-vv ", "-quiet", "-cores ", "-report ", "-whole_tiles "}) {
    EXPECT_EQ(count_of(help.out, std::string("\n  ") + option), 1u) << option << "\n" << help.out;
  }
  // The tool's lines come first, the factories' usages and the usage text after them.
  EXPECT_LT(help.out.find("-isolated "), help.out.find("Supported LAS Inputs"));
  EXPECT_LT(help.out.find("Supported LAS Inputs"), help.out.find("Supported LAS Outputs"));
  EXPECT_NE(help.out.find("usage:\n"), std::string::npos);
  EXPECT_NE(help.out.find("-survey_feet"), std::string::npos) << "the projection options too";
  EXPECT_NE(help.out.find("  -mem MB                     memory for all grid tiles of a file "
                          "together; more go to temporary files [6000]\n"),
            std::string::npos);
}

TEST_F(IsocullBatch, PerFileAndSummaryLinesCountWhatTheFilesHold) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 4000, 1, 9, false, 0.02));
  ASSERT_TRUE(write_scene(path("in/b.las"), 3000, 1, 10, false, 0.02));
  const Verdicts a = brute_force_verdicts(path("in/a.las"), NoiseParameters{});
  const Verdicts b = brute_force_verdicts(path("in/b.las"), NoiseParameters{});
  const ToolRun result = run({"-i", "in/a.las", "in/b.las", "in/gone.las", "-odir", "out"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("done with 'out/a.las' from 'in/a.las'. took ")) << result.err;
  EXPECT_TRUE(result.printed(" sec. classified " + std::to_string(a.noise_count) +
                             " noise points of 4000 read ("))
      << result.err;
  EXPECT_TRUE(result.printed(" sec. classified " + std::to_string(b.noise_count) +
                             " noise points of 3000 read ("))
      << result.err;
  EXPECT_TRUE(result.printed("summary: 2 files done, 1 failed, 0 cut. 7000 points read, " +
                             std::to_string(a.noise_count + b.noise_count) + " marked ("))
      << result.err;
  EXPECT_FALSE(result.printed("piped file"));

  const ToolRun nil = run({"-i", "in/a.las", "-nil"});
  EXPECT_TRUE(nil.printed("done with 'in/a.las' (nothing written). took ")) << nil.err;
}

TEST_F(IsocullBatch, VeryVerboseListsNoisePointsWithLabelsAndCoordinatesInTheFileUnits) {
  std::vector<SimplePoint> points;
  for (int i = 0; i < 30; i++)
    points.push_back({500.0 + 0.1 * i, 800.0 + 0.1 * (i % 5), 30.0});
  points.push_back({612.34, 987.65, 43.21, 2});
  ASSERT_TRUE(write_points(path("in/a.las"), points));
  const ToolRun result = run({"-i", "in/a.las", "-o", "out/a.las", "-vv"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(
      result.printed("noise point 30: x 612.34 y 987.65 z 43.21 gps_time 1030.000000 "
                     "intensity 0 class 2 return 1 of 1\n"))
      << result.err;
}

TEST_F(IsocullBatch, TheReportCountsEveryFileAsItsOutputsShow) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 4000, 1, 11, false, 0.03));
  ASSERT_TRUE(write_scene(path("in/b.las"), 2500, 6, 12, false, 0.03));
  ASSERT_TRUE(write_scene(path("in/c.las"), 2000, 1, 13));
  {
    const std::string bytes = read_text(path("in/c.las"));
    std::ofstream cut(path("in/c.las"), std::ios::binary | std::ios::trunc);
    cut.write(bytes.data(), static_cast<std::streamsize>(bytes.size() - 500 * 28));
  }
  const ToolRun result = run({"-i", "in/a.las", "in/b.las", "in/c.las", "in/none.las", "-odir",
                              "out", "-remove_noise", "-report", "out/run.json", "-quiet"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  JsonValue report;
  const std::string text = read_text(path("out/run.json"));
  ASSERT_TRUE(JsonParser(text).parse(report)) << text;
  EXPECT_EQ(report["settings"]["isolated"].number, 5);
  EXPECT_EQ(report["settings"]["mode"].text, "remove_noise");
  const JsonValue& files = report["files"];
  ASSERT_EQ(files.items.size(), 4u) << text;
  const char* statuses[] = {"done", "done", "cut", "failed"};
  const int types[] = {1, 6, 1, -1};
  std::uint64_t read_total = 0, marked_total = 0;
  for (int i = 0; i < 4; i++) {
    const JsonValue& file = files.items[i];
    SCOPED_TRACE(file["input"].text);
    EXPECT_EQ(file["status"].text, statuses[i]);
    EXPECT_EQ(file["point_type"].number, types[i]);
    for (const char* field :
         {"output", "message", "points_read", "ignored", "filtered", "marked", "isolated_cells",
          "step_xy", "step_z", "unit_xy", "unit_z", "seconds"}) {
      EXPECT_TRUE(file.has(field)) << field;
    }
    if (i == 3) {
      // The first line said about the file, the system's reason at its end.
      EXPECT_EQ(file["message"].text,
                "cannot open file 'in/none.las' for read: No such file or directory");
      continue;
    }
    // Counted against the files: what was read is the input's records (as far as they
    // go), what is marked is what the output lacks.
    const LasRecords input = decoded_records(path(file["input"].text), path("tmp/in.las"));
    const LasRecords output = decoded_records(path(file["output"].text), path("tmp/out.las"));
    ASSERT_TRUE(input.ok && output.ok);
    EXPECT_EQ(file["points_read"].number, static_cast<double>(input.records.size()));
    EXPECT_EQ(file["marked"].number,
              static_cast<double>(input.records.size() - output.records.size()));
    EXPECT_GT(file["marked"].number, 0);
    EXPECT_GE(file["isolated_cells"].number, 1);
    EXPECT_LE(file["isolated_cells"].number, file["marked"].number);
    EXPECT_EQ(file["step_xy"].number, 4);
    EXPECT_EQ(file["unit_xy"].text, "m");
    EXPECT_EQ(file["filtered"].number, 0);
    read_total += input.records.size();
    marked_total += input.records.size() - output.records.size();
  }
  EXPECT_EQ(files.items[2]["message"].text, "end-of-file after 1500 of 2000 points");
  const JsonValue& totals = report["totals"];
  EXPECT_EQ(totals["files"].number, 4);
  EXPECT_EQ(totals["done"].number, 2);
  EXPECT_EQ(totals["failed"].number, 1);
  EXPECT_EQ(totals["cut"].number, 1);
  EXPECT_EQ(totals["points_read"].number, static_cast<double>(read_total));
  EXPECT_EQ(totals["marked"].number, static_cast<double>(marked_total));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(IsocullBatch, MemoryHoldsForTheWholeGridOfAFileWhateverTheNumberOfLayers) {
  // 8000 layers of one 32-bit counter tile each (40000 bytes): 320 MB of whole tiles, of
  // which -mem 200 lets 200 MB stay in memory; as sparse tiles, a point costs a few bytes.
  ASSERT_TRUE(write_tower(path("in/tower.las"), 8000));
  for (const bool whole : {true, false}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (chdir(dir_.path().c_str()) != 0) _exit(127);
      setenv("TMPDIR", path("tmp").c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      execl(kBinary.c_str(), "isocull", "-i", "in/tower.las", "-nil", "-step", "0.01", "-isolated",
            "70000", "-mem", "200", whole ? "-whole_tiles" : "-quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const double peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    EXPECT_LT(peak_mb, whole ? 270.0 : 60.0) << "peak resident memory " << peak_mb << " MB";
    EXPECT_TRUE(listing("tmp").empty());
  }
}
#endif

TEST_F(IsocullBatch, AFullTemporaryDiskEndsThatFileWithOneErrorLineAndTheRunGoesOn) {
  if (geteuid() != 0 || !mount_small_disk()) {
    GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno) << ")";
  }
  ASSERT_TRUE(write_tower(path("in/tower.las"), 6000));
  ASSERT_TRUE(write_scene(path("in/b.las"), 1000, 1, 14));
  // Whole tiles: sparse ones never go to the temporary files.
  const ShellRun result = shell(
      "TMPDIR=small ISOCULL -i in/tower.las in/b.las -odir out -step 0.01 -isolated 70000 -mem "
      "200 -whole_tiles -quiet");
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(count_of(result.err, "ERROR: "), 1u) << result.err.substr(0, 2000);
  EXPECT_TRUE(result.err.find("ERROR: cannot write tile to temporary file") != std::string::npos)
      << result.err.substr(0, 2000);
  EXPECT_TRUE(result.err.find("no output written for 'in/tower.las'") != std::string::npos);
  EXPECT_FALSE(exists(path("out/tower.las")));
  EXPECT_TRUE(exists(path("out/b.las")));
}

}  // namespace
