// End to end with the built binary: an input is read by what its bytes hold, whatever its
// name; garbage, devices and piped floods end at once in one line without filling the
// temporary folder; an output name of no format says that text is written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "model/header_layout.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

class IsocullInputBytes : public ToolFolders {
 protected:
  // Runs `pipeline` in the working folder ("ISOCULL" stands for the binary) with TMPDIR
  // at "tmp", the run's file size limited to 1 MB: a run that kept a flood in a temporary
  // file would be ended by the limit instead of refusing it. `timeout` stops a run that
  // hangs, so that the test fails instead of waiting.
  ToolRun shell(const std::string& pipeline) {
    std::string command = pipeline;
    const std::string binary = "timeout 120 " + shell_quoted(kBinary);
    for (std::size_t at = command.find("ISOCULL"); at != std::string::npos;
         at = command.find("ISOCULL", at + binary.size())) {
      command.replace(at, 7, binary);
    }
    const std::string full = "cd " + shell_quoted(dir_.path()) +
                             " && export TMPDIR=" + shell_quoted(path("tmp")) +
                             " && ( ulimit -f 1024; " + command + " ) >/dev/null 2>" +
                             shell_quoted(path(".err")) + " </dev/null";
    const int status = std::system(full.c_str());
    ToolRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read_text(path(".err"));
    std::remove(path(".err").c_str());
    return run;
  }
  void copy(const std::string& from, const std::string& to) {
    std::ofstream(path(to), std::ios::binary) << read_text(from);
  }
  // The output's bytes without the creation day and year, which come from the input's
  // time stamp (a copy's is now).
  std::string output_bytes(const std::string& name) {
    std::string bytes = read_text(path(name));
    if (bytes.size() >= kOffsetFileCreationYear + 2) {
      bytes.replace(kOffsetFileCreationDay, 4, 4, '\0');
    }
    return bytes;
  }
  static std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }
};

TEST_F(IsocullInputBytes, EveryFormatIsReadByItsBytesUnderAnyNameAndThroughAFifo) {
  if (!exists(kRealData + "/simple.las")) GTEST_SKIP() << "real point files not found";
  ASSERT_TRUE(write_scene(path("in/scene.las"), 3000, 6, 4));
  const std::vector<std::string> inputs = {path("in/scene.las"),      kRealData + "/simple.las",
                                           kRealData + "/simple.pkz", kRealData + "/time-color.bin",
                                           kRealData + "/10-word.qi", kRealData + "/hextest.txt"};
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    const ToolRun by_name = run({"-i", input, "-o", "out/by_name.las", "-quiet"});
    ASSERT_EQ(by_name.exit_code, 0) << by_name.err;
    const std::string expected = output_bytes("out/by_name.las");
    copy(input, "in/copy.dat");
    copy(input, "in/copy");
    for (const char* name : {"in/copy.dat", "in/copy"}) {
      const ToolRun renamed = run({"-i", name, "-o", "out/renamed.las", "-quiet"});
      ASSERT_EQ(renamed.exit_code, 0) << name << ": " << renamed.err;
      EXPECT_FALSE(renamed.printed("ERROR")) << name << ": " << renamed.err;
      EXPECT_TRUE(output_bytes("out/renamed.las") == expected) << name;
    }
    ASSERT_EQ(mkfifo(path("in/ff").c_str(), 0600), 0);
    const ToolRun fifo = shell("(cat " + shell_quoted(input) +
                               " > in/ff &); ISOCULL -i in/ff -o out/fifo.las -quiet");
    std::remove(path("in/ff").c_str());
    ASSERT_EQ(fifo.exit_code, 0) << fifo.err;
    EXPECT_FALSE(fifo.printed("ERROR")) << fifo.err;
    EXPECT_TRUE(output_bytes("out/fifo.las") == expected);
    EXPECT_TRUE(listing("tmp").empty());
  }
  // A shapefile of polygons is a shapefile under any name: its reader names the type.
  copy(kRealData + "/polygons.shp", "in/shapes.dat");
  const ToolRun shapes = run({"-i", "in/shapes.dat", "-o", "out/shapes.las"});
  EXPECT_EQ(shapes.exit_code, 1);
  EXPECT_EQ(shapes.err.rfind("ERROR: wrong shape type 5", 0), 0u) << shapes.err;
}

TEST_F(IsocullInputBytes, GarbageIsRefusedInOneLineByNameAndThroughAFifo) {
  const std::string zeros(1 << 20, '\0');
  std::string noise(1 << 20, '\0');
  std::uint32_t state = 99;
  for (char& byte : noise) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  struct Garbage {
    const char* what;
    const std::string* bytes;
    const char* shown;
  } garbage[] = {
      {"zeros", &zeros,
       "\"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
       "\\x00\\x00\\x00\"..."},
      {"noise", &noise, nullptr},
  };
  for (const Garbage& g : garbage) {
    std::ofstream(path("in/g.dat"), std::ios::binary) << *g.bytes;
    std::ofstream(path("in/g"), std::ios::binary) << *g.bytes;
    ASSERT_EQ(mkfifo(path("in/ff").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, ToolRun>> runs = {
        {"in/g.dat", run({"-i", "in/g.dat", "-o", "out/o.las"})},
        {"in/g", run({"-i", "in/g", "-o", "out/o.las"})},
        {"in/ff", shell("(cat in/g > in/ff 2>/dev/null &); ISOCULL -i in/ff -o out/o.las")},
    };
    std::remove(path("in/ff").c_str());
    for (const auto& [name, result] : runs) {
      SCOPED_TRACE(std::string(g.what) + " as " + name);
      EXPECT_EQ(result.exit_code, 1) << result.err.substr(0, 500);
      const std::string line =
          "ERROR: '" + name + "' is not a point file this tool reads: its first bytes are ";
      EXPECT_EQ(result.err.rfind(line, 0), 0u) << result.err.substr(0, 500);
      if (g.shown != nullptr) {
        EXPECT_TRUE(result.printed(line + g.shown + "\n")) << result.err;
      }
      EXPECT_LE(lines(result.err), 3u) << result.err.substr(0, 500);
      EXPECT_FALSE(exists(path("out/o.las")));
      EXPECT_TRUE(listing("tmp").empty());
    }
  }
}

TEST_F(IsocullInputBytes, DevicesAreRefusedAtOnceAsInputsNeighboursAndListedFiles) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 2000, 1, 3));
  ASSERT_EQ(symlink("/dev/zero", path("in/z.las").c_str()), 0);
  for (const std::string device : {"/dev/zero", "/dev/urandom", "in/z.las"}) {
    std::ofstream(path("in/list.txt")) << device << "\n";
    const std::string line = "ERROR: cannot open file '" + device +
                             "' for read: it is a character device, not a point file\n";
    const std::vector<std::string> forms = {"-i " + device, "-lof in/list.txt",
                                            "-i in/a.las -neighbors " + device + " -buffered 20",
                                            "-i in/a.las -neighbors_lof in/list.txt -buffered 20"};
    for (const std::string& options : forms) {
      SCOPED_TRACE(options);
      const ToolRun result = shell("ISOCULL " + options + " -o out/o.las");
      EXPECT_EQ(result.exit_code, 1) << result.err.substr(0, 500);
      EXPECT_EQ(result.err.rfind(line, 0), 0u) << result.err.substr(0, 500);
      EXPECT_FALSE(exists(path("out/o.las")));
      EXPECT_TRUE(listing("tmp").empty());
    }
  }
  // The report says why.
  ASSERT_EQ(run({"-i", "/dev/zero", "-o", "out/o.las", "-report", "out/run.json"}).exit_code, 1);
  EXPECT_NE(read_text(path("out/run.json")).find("it is a character device, not a point file"),
            std::string::npos);
}

TEST_F(IsocullInputBytes, APipedFloodFailsOnItsFirstBytesBeforeAnythingIsSpooled) {
  ASSERT_EQ(mkfifo(path("in/ff").c_str(), 0600), 0);
  const std::string expected_zeros =
      "\"\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\"...";
  struct Flood {
    const char* pipeline;
    const char* shown_name;
    bool zeros;
  } floods[] = {
      {"head -c 1000000000 /dev/zero 2>/dev/null | ISOCULL -stdin -o out/o.las", "standard input",
       true},
      {"cat /dev/urandom 2>/dev/null | ISOCULL -stdin -o out/o.las", "standard input", false},
      {"head -c 1000000000 /dev/zero 2>/dev/null | ISOCULL -stdin -itxt -o out/o.las",
       "standard input", true},
      {"(head -c 1000000000 /dev/zero > in/ff 2>/dev/null &); ISOCULL -i in/ff -o out/o.las",
       "'in/ff'", true},
      {"(cat /dev/urandom > in/ff 2>/dev/null &); ISOCULL -i in/ff -o out/o.las", "'in/ff'", false},
  };
  for (const Flood& flood : floods) {
    SCOPED_TRACE(flood.pipeline);
    const ToolRun result = shell(flood.pipeline);
    EXPECT_EQ(result.exit_code, 1) << result.err.substr(0, 500);
    const std::string line = "ERROR: " + std::string(flood.shown_name) +
                             " is not a point file this tool reads: its first bytes are ";
    EXPECT_EQ(result.err.rfind(line, 0), 0u) << result.err.substr(0, 500);
    if (flood.zeros) {
      EXPECT_TRUE(result.printed(line + expected_zeros + "\n")) << result.err;
    }
    EXPECT_LE(lines(result.err), 3u) << result.err.substr(0, 500);
    EXPECT_FALSE(exists(path("out/o.las")));
    EXPECT_TRUE(listing("tmp").empty());
  }
}

TEST_F(IsocullInputBytes, AnOutputNameOfNoFormatWarnsOnceThatTextIsWritten) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 500, 1, 8));
  struct Case {
    std::vector<std::string> output;
    const char* written;
    bool warned;
    bool text;
  } cases[] = {
      {{"-o", "out/o.abc"}, "out/o.abc", true, true},
      {{"-o", "out/o.dat"}, "out/o.dat", true, true},
      {{"-o", "out/o.Las"}, "out/o.Las", true, true},
      {{"-o", "out/o.txt"}, "out/o.txt", false, true},
      {{"-o", "out/o.csv"}, "out/o.csv", false, true},
      {{"-o", "out/o.XYZ"}, "out/o.XYZ", false, true},
      {{"-o", "out/o.pts"}, "out/o.pts", false, true},
      {{"-o", "out/o.ptx"}, "out/o.ptx", false, true},
      {{"-o", "out/o.asc"}, "out/o.asc", false, true},
      {{"-o", "out/o.abc", "-otxt"}, "out/o.abc", false, true},
      {{"-o", "out/o.abc", "-olas"}, "out/o.las", false, false},
      {{"-o", "out/o.las"}, "out/o.las", false, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i", "in/a.las"};
    args.insert(args.end(), c.output.begin(), c.output.end());
    SCOPED_TRACE(c.output[1] + (c.output.size() > 2 ? " " + c.output[2] : ""));
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.count("WARNING: writing text points to "), c.warned ? 1u : 0u) << result.err;
    if (c.warned) {
      EXPECT_TRUE(result.printed("WARNING: writing text points to '" + std::string(c.written) +
                                 "'; give -olas or -opkz for a binary point file\n"))
          << result.err;
    }
    const std::string bytes = read_text(path(c.written));
    ASSERT_FALSE(bytes.empty()) << c.written;
    EXPECT_EQ(bytes.rfind("LASF", 0) != 0, c.text) << c.written;
    std::remove(path(c.written).c_str());
  }
}

}  // namespace
