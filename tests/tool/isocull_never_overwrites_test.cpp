// End to end: nothing a run reads is ever written over. Every file a run writes (an output,
// the report, a layer file, an index) is refused when it is a file the run reads (an input, a
// neighbour, a list, the spatial index or the layer file of an input) or a file another
// write of the run claimed; after a refusal every file read is byte for byte as before.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "index/las_index_writer.hpp"
#include "isocull_run.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

const std::string kIndexer = ISOCULL_BINARY_DIR "/isocull_index";

class IsocullNeverOverwrites : public ToolFolders {
 protected:
  // The folder "in": two plain tiles a.las (with its spatial index a.lax and its layer file
  // a.lay) and b.las, a tile t.pkz with its neighbour t_1.pkz, a.pkz (another point file
  // whose layer file would be a.lay), c.las and c.pkz (whose layer files meet, none yet),
  // and the lists a.lof and n.lof.
  void SetUp() override {
    ToolFolders::SetUp();
    ASSERT_TRUE(write_scene(path("in/a.las"), 6000, 1, 261));
    ASSERT_TRUE(write_scene(path("in/b.las"), 6000, 1, 262));
    ASSERT_TRUE(write_scene(path("in/t.pkz"), 6000, 1, 263));
    ASSERT_TRUE(write_scene(path("in/t_1.pkz"), 6000, 1, 264));
    ASSERT_TRUE(write_scene(path("in/a.pkz"), 6000, 1, 265));
    ASSERT_TRUE(write_scene(path("in/c.las"), 6000, 1, 266));
    ASSERT_TRUE(write_scene(path("in/c.pkz"), 6000, 1, 267));
    const std::unique_ptr<LASindex> index = build_index(path("in/a.las").c_str(), {});
    ASSERT_TRUE(index && write_index_file(*index, path("in/a.las").c_str()));
    ASSERT_EQ(run({"-i", "in/a.las", "-olay", "-quiet"}).exit_code, 0);
    ASSERT_TRUE(exists(path("in/a.lay")));
    std::ofstream(path("in/a.lof")) << "in/a.las\n";
    std::ofstream(path("in/n.lof")) << "in/t_1.pkz\n";
  }

  // Every file of "in" with its bytes.
  std::map<std::string, std::string> inputs() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : listing("in"))
      files[name] = read_text(path("in/" + name));
    return files;
  }
};

TEST_F(IsocullNeverOverwrites, AWriteToAFileTheRunReadsIsRefusedAndEveryFileReadStaysAsItWas) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string refusal;                  // the "ERROR: " line, or its start
    std::vector<std::string> may_appear;  // files of "in" a refused run may still write
  };
  const std::string absolute_neighbour = path("in/t_1.pkz");
  const std::vector<Row> rows = {
      {"report over the input",
       {"-i", "in/a.las", "-o", "out/a.las", "-report", "in/a.las"},
       "ERROR: report 'in/a.las' is the input file 'in/a.las'.\n",
       {}},
      {"report over the output",
       {"-i", "in/a.las", "-o", "out/a.las", "-report", "out/a.las"},
       "ERROR: report 'out/a.las' is the output of 'in/a.las'.\n",
       {}},
      {"report over a derived output",
       {"-i", "in/a.las", "in/b.las", "-odir", "out", "-report", "out/b.las"},
       "ERROR: report 'out/b.las' is the output of 'in/b.las'.\n",
       {}},
      {"report over the list of files",
       {"-lof", "in/a.lof", "-o", "out/a.las", "-report", "in/a.lof"},
       "ERROR: report 'in/a.lof' is the list of files 'in/a.lof'.\n",
       {}},
      {"report that cannot be written",
       {"-i", "in/a.las", "-o", "out/a.las", "-report", "out/missing/run.json"},
       "ERROR: cannot write report 'out/missing/run.json': no folder 'out/missing'\n",
       {}},
      {"derived output over a neighbour",
       {"-i", "in/t.pkz", "-buffered", "2", "-neighbors", "in/t_1.pkz", "-opkz"},
       "ERROR: output 'in/t_1.pkz' is the neighbour file 'in/t_1.pkz'. skipping 'in/t.pkz'.\n",
       {}},
      {"output over a neighbour",
       {"-i", "in/t.pkz", "-buffered", "2", "-neighbors", "in/t_1.pkz", "-o", "in/t_1.pkz"},
       "ERROR: output 'in/t_1.pkz' is the neighbour file 'in/t_1.pkz'. skipping 'in/t.pkz'.\n",
       {}},
      {"output over a neighbour by its absolute name",
       {"-i", "in/t.pkz", "-buffered", "2", "-neighbors", "./in/t_1.pkz", "-o", absolute_neighbour},
       "ERROR: output '" + absolute_neighbour + "' is the neighbour file './in/t_1.pkz'.",
       {}},
      {"output over a neighbour of a list",
       {"-i", "in/t.pkz", "-buffered", "2", "-neighbors_lof", "in/n.lof", "-o", "in/t_1.pkz"},
       "ERROR: output 'in/t_1.pkz' is the neighbour file 'in/t_1.pkz'.",
       {}},
      {"output over the neighbour list",
       {"-i", "in/t.pkz", "-buffered", "2", "-neighbors_lof", "in/n.lof", "-o", "in/n.lof"},
       "ERROR: output 'in/n.lof' is the list of files 'in/n.lof'.",
       {}},
      {"output over the list of files",
       {"-lof", "in/a.lof", "-o", "in/a.lof"},
       "ERROR: output 'in/a.lof' is the list of files 'in/a.lof'. skipping 'in/a.las'.\n",
       {}},
      {"output over the layer file being read",
       {"-i", "in/a.las", "-ilay", "-o", "in/a.lay"},
       "ERROR: output 'in/a.lay' is the layer file of 'in/a.las'. skipping 'in/a.las'.\n",
       {}},
      {"output over the layer file beside the input",
       {"-i", "in/a.las", "-o", "in/a.lay"},
       "ERROR: output 'in/a.lay' is the layer file of 'in/a.las'. skipping 'in/a.las'.\n",
       {}},
      {"output over the spatial index",
       {"-i", "in/a.las", "-o", "in/a.lax"},
       "ERROR: output 'in/a.lax' is the spatial index of 'in/a.las'. skipping 'in/a.las'.\n",
       {}},
      {"layer file of another point file",
       {"-i", "in/a.pkz", "-olay"},
       "ERROR: 'in/a.lay' belongs to another point file or 'in/a.pkz' changed since",
       {}},
      {"two inputs to one layer file",
       {"-i", "in/c.las", "in/c.pkz", "-olay"},
       "ERROR: layer file 'in/c.lay' was already written for 'in/c.las' in this run. skipping "
       "'in/c.pkz'.\n",
       {"c.lay"}},
      {"standard output with the points passed on",
       {"-i", "in/t.pkz", "-pipe_on", "-stdout"},
       "ERROR: '-stdout' and '-pipe_on' would both write points to standard output.",
       {}},
      {"standard output with two inputs",
       {"-i", "in/a.las", "in/b.las", "-stdout"},
       "ERROR: '-stdout' with 2 input files would write them one after the other into one "
       "stream.",
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::map<std::string, std::string> before = inputs();
    const ToolRun result = run(row.args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_TRUE(result.printed(row.refusal)) << result.err;
    std::map<std::string, std::string> after = inputs();
    for (const std::string& name : row.may_appear) {
      if (before.count(name) == 0) after.erase(name);
    }
    EXPECT_EQ(after.size(), before.size()) << "a file appeared in or vanished from 'in'";
    for (const auto& [name, bytes] : before) {
      EXPECT_TRUE(after.count(name) != 0 && after[name] == bytes) << name << " changed";
    }
    // Refused at start, or for the only file there was: no output.
    EXPECT_TRUE(listing("out").empty()) << result.err;
    for (const std::string& name : listing("out"))
      remove_tree(path("out/" + name));
    for (const std::string& name : row.may_appear)
      std::remove(path("in/" + name).c_str());
  }
}

TEST_F(IsocullNeverOverwrites, ALayerFileOfAnotherPointFileIsReplacedOnlyWithOforce) {
  const std::string layers = read_text(path("in/a.lay"));
  // Replacing a layer file of the same point file is what -olay does.
  ToolRun result = run({"-i", "in/a.las", "-olay", "-remove_noise"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(read_text(path("in/a.lay")), layers);
  const std::string own = read_text(path("in/a.lay"));
  // A file that is no layer file at all is not taken for one.
  std::ofstream(path("in/b.lay")) << "notes on tile b\n";
  result = run({"-i", "in/b.las", "-olay"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.printed("ERROR: 'in/b.lay' is there and is no LAY file")) << result.err;
  EXPECT_EQ(read_text(path("in/b.lay")), "notes on tile b\n");
  // With -oforce the user says the old one may go.
  result = run({"-i", "in/a.pkz", "-olay", "-oforce"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(read_text(path("in/a.lay")), own);
  result = run({"-i", "in/a.pkz", "-ilay", "-o", "out/a.las"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(result.printed("WARNING: could not open LAY file")) << result.err;
}

TEST_F(IsocullNeverOverwrites, ADeviceNamedAsOutputIsWrittenAsNamedAndNeverCalledRemoved) {
  // A device takes no extension, whatever the format option, before or after it.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-i", "in/a.las", "-o", "/dev/full", "-opkz"},
        std::vector<std::string>{"-i", "in/a.las", "-opkz", "-o", "/dev/full", "-odix", "_d"},
        std::vector<std::string>{"-i", "in/a.las", "-o", "/dev/full"}}) {
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_FALSE(result.printed("/dev/full.")) << result.err;
    EXPECT_FALSE(result.printed("/dev/full_d")) << result.err;
    // The device stays: nothing was removed, and nothing says so.
    EXPECT_FALSE(result.printed("removed")) << result.err;
    EXPECT_FALSE(exists("/dev/full.pkz") || exists("/dev/full_d"));
    // Left by a faulty build run with the rights to make them.
    std::remove("/dev/full.pkz");
    std::remove("/dev/full_d");
  }
  const ToolRun result = run({"-i", "in/a.las", "-o", "/dev/null", "-opkz"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.printed("done with '/dev/null' from 'in/a.las'")) << result.err;
}

TEST_F(IsocullNeverOverwrites, NeighboursAreToldApartByIdentityAndEachIsReadOnce) {
  ASSERT_EQ(symlink("t_1.pkz", path("in/link.pkz").c_str()), 0);
  ToolRun result =
      run({"-i", "in/t.pkz", "-buffered", "8", "-neighbors", "in/t_1.pkz", "-o", "out/once.las"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(result.printed("WARNING")) << result.err;
  // The tile itself among its neighbours by its own name is the usual list of all tiles.
  result = run({"-i", "in/t.pkz", "-buffered", "8", "-neighbors", "in/t.pkz", "in/t_1.pkz",
                "./in/t_1.pkz", path("in/t_1.pkz"), "in/link.pkz", "in/t_1.pkz", "./in/t.pkz", "-o",
                "out/repeated.las"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.count("WARNING: "), 5u) << result.err;
  EXPECT_TRUE(
      result.printed("WARNING: neighbour './in/t_1.pkz' is the file 'in/t_1.pkz' again. "
                     "skipping it.\n"))
      << result.err;
  EXPECT_TRUE(result.printed("WARNING: neighbour 'in/link.pkz' is the file 'in/t_1.pkz' again."))
      << result.err;
  EXPECT_TRUE(
      result.printed("WARNING: neighbour './in/t.pkz' is the input file 'in/t.pkz'. "
                     "skipping it.\n"))
      << result.err;
  // A point beside its own twin is never isolated: repeats would change the verdicts.
  EXPECT_EQ(read_text(path("out/repeated.las")), read_text(path("out/once.las")));
}

TEST_F(IsocullNeverOverwrites, TheIndexWriterNeverWritesOverAnInputNorTwiceInOneRun) {
  if (!exists(kIndexer)) GTEST_SKIP() << "isocull_index is not built";
  const std::string b = read_text(path("in/b.las"));
  ASSERT_EQ(rename(path("in/b.las").c_str(), path("in/a.lax").c_str()), 0);
  const std::string command = "cd " + shell_quoted(dir_.path()) + " && " + shell_quoted(kIndexer) +
                              " -i in/a.las ./in/a.las in/a.lax 2>" + shell_quoted(path("err"));
  EXPECT_NE(std::system(command.c_str()), 0);
  const std::string err = read_text(path("err"));
  // a.lax is an input here: the index of a.las would be written over it.
  EXPECT_NE(
      err.find("ERROR: index 'in/a.lax' is the input file 'in/a.lax'. skipping 'in/a.las'.\n"),
      std::string::npos)
      << err;
  EXPECT_NE(err.find("ERROR: index './in/a.lax' is the input file 'in/a.lax'. skipping "
                     "'./in/a.las'.\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(read_text(path("in/a.lax")), b);

  const std::string twice = "cd " + shell_quoted(dir_.path()) + " && " + shell_quoted(kIndexer) +
                            " -i in/c.las ./in/c.las 2>" + shell_quoted(path("err"));
  EXPECT_NE(std::system(twice.c_str()), 0);
  EXPECT_NE(read_text(path("err"))
                .find("ERROR: index './in/c.lax' was already written for "
                      "'in/c.las' in this run. skipping './in/c.las'.\n"),
            std::string::npos)
      << read_text(path("err"));
  EXPECT_TRUE(exists(path("in/c.lax")));
}

}  // namespace
