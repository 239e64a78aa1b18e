// End to end: the messages and exit codes of the tool's command line, run on the binary.

#include <gtest/gtest.h>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

struct CommandLineError {
  std::vector<std::string> args;
  std::string message;  // the whole line, line end included
};

class IsocullCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    // Seven points in one cell and one far away: the far one is the only noise point.
    std::vector<SimplePoint> points;
    for (int i = 0; i < 7; i++)
      points.push_back({0.5 * i, 0.25, 0.5});
    points.push_back({50, 50, 50});
    ASSERT_TRUE(write_points(dir_.path() + "/in.las", points));
  }
  ToolRun run(const std::vector<std::string>& args, const std::string& input = "") {
    return run_tool(args, dir_.path(), "", input);
  }
  TempDir dir_;
};

TEST_F(IsocullCommandLine, EveryOptionErrorPrintsItsLineAndEndsWithCodeOne) {
  const std::vector<CommandLineError> errors = {
      {{"-i", "in.las", "-mem"}, "ERROR: '-mem' needs 1 argument: maximal memory in MB\n"},
      {{"-i", "in.las", "-mem", "lots"},
       "ERROR: '-mem' needs 1 argument: maximal memory in MB but 'lots' is not valid\n"},
      {{"-i", "in.las", "-step"}, "ERROR: '-step' needs 1 argument: <step size>\n"},
      {{"-i", "in.las", "-step", "wide"},
       "ERROR: '-step' needs 1 argument: <step size> but 'wide' in not a valid step\n"},
      {{"-i", "in.las", "-step", "-2"},
       "ERROR: '-step' needs 1 argument: <step size> but -2 in not a valid value\n"},
      {{"-i", "in.las", "-step", "0"},
       "ERROR: '-step' needs 1 argument: <step size> but 0 in not a valid value\n"},
      {{"-i", "in.las", "-step_xy"}, "ERROR: '-step_xy' needs 1 argument: xy step size\n"},
      {{"-i", "in.las", "-step_xy", "0"}, "ERROR: '-step_xy' needs positive number as argument\n"},
      {{"-i", "in.las", "-step_xy", "wide"},
       "ERROR: '-step_xy' needs positive number as argument but 'wide' is not valid\n"},
      {{"-i", "in.las", "-step_xy", "inf"},
       "ERROR: '-step_xy' needs positive number as argument but 'inf' is not valid\n"},
      {{"-i", "in.las", "-step_z"}, "ERROR: '-step_z' needs 1 argument: step size\n"},
      {{"-i", "in.las", "-step_z", "-1"}, "ERROR: '-step_z' needs positive number as argument\n"},
      {{"-i", "in.las", "-isolated"}, "ERROR: '-isolated' needs 1 argument: threshold\n"},
      {{"-i", "in.las", "-isolated", "0"},
       "ERROR: '-isolated' needs positive number as argument\n"},
      {{"-i", "in.las", "-isolated", "few"},
       "ERROR: '-isolated' needs positive number as argument but 'few' is not valid\n"},
      {{"-i", "in.las", "-classify_as"},
       "ERROR: '-classify_as' needs 1 argument: classification code\n"},
      {{"-i", "in.las", "-classify_as", "0"},
       "ERROR: '-classify_as' needs a code between 1 and 31 as argument\n"},
      {{"-i", "in.las", "-classify_as", "32"},
       "ERROR: '-classify_as' needs a code between 1 and 31 as argument\n"},
      {{"-i", "in.las", "-ilaydir"}, "ERROR: '-ilaydir' needs 1 argument: directory name\n"},
      {{"-i", "in.las", "-olaydir"}, "ERROR: '-olaydir' needs 1 argument: directory name\n"},
      {{"-i", "in.las", "-frobnicate"}, "ERROR: cannot understand argument '-frobnicate'\n"},
      {{"in.las", "other.las"}, "ERROR: cannot understand argument 'other.las'\n"},
  };
  for (const CommandLineError& error : errors) {
    std::string typed;
    for (const std::string& arg : error.args)
      typed += arg + " ";
    const ToolRun result = run(error.args);
    EXPECT_EQ(result.exit_code, 1) << typed << "\n" << result.err;
    EXPECT_TRUE(result.printed(error.message)) << typed << "\n" << result.err;
    EXPECT_EQ(result.count("ERROR: "), 1u) << typed << "\n" << result.err;
    EXPECT_FALSE(result.printed("done with")) << typed;
  }
}

TEST_F(IsocullCommandLine, FailuresOfTheOtherParsersEndWithCodeOne) {
  // Input, output and projection options fail in their own parsers before the tool's.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-i"},
                                             {"-i", "in.las", "-o"},
                                             {"-i", "in.las", "-odir", "no/such/folder"},
                                             {"-i", "in.las", "-epsg"},
                                             {"-i", "in.las", "-ignore_class", "300"}}) {
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << args.back() << "\n" << result.err;
    EXPECT_TRUE(result.printed("ERROR: ")) << args.back();
    EXPECT_FALSE(exists(dir_.path() + "/in_1.las"));
  }
}

TEST_F(IsocullCommandLine, RunsThatCannotStartEndWithCodeOneAfterTheUsage) {
  ToolRun result = run({"-v"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("ERROR: no input specified\nusage:\n")) << result.err;
  EXPECT_TRUE(result.printed("isocull -h\n"));

  result = run({"-i", "in.las", "-o", "in.las"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("ERROR: input and output file name are identical\nusage:\n"))
      << result.err;

  // A file that cannot be opened is a failed file, not a run that could not start.
  result = run({"-i", "missing.las"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("ERROR: could not open lasreader\n")) << result.err;
  EXPECT_FALSE(result.printed("usage:")) << result.err;

  result = run({"-i", "in.las", "-o", "no/such/folder/out.las"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("ERROR: could not open laswriter\n")) << result.err;
  EXPECT_FALSE(result.printed("usage:"));

  // Standard input that holds no point file.
  result = run({"-stdin", "-o", "out.las"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed("ERROR: standard input is empty: no point file came through it\n"))
      << result.err;
  EXPECT_FALSE(exists(dir_.path() + "/out.las"));
}

TEST_F(IsocullCommandLine, HelpAndVersionEndWithCodeZero) {
  // The help itself goes to standard output (see isocull_batch_test).
  ToolRun result = run({"-h"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");

  result = run({"-version"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "isocull (Brindlex) version 200509\n");
}

TEST_F(IsocullCommandLine, LayerOptionsPrintTheirWarningsAndWriteALayInsteadOfACopy) {
  ToolRun result = run({"-i", "in.las", "-olay"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(
      result.printed("WARNING: do not expect LAY files to work across different versions\n"
                     "         of Brindlex because the development of RERavirod is still\n"
                     "         not completed. this is just an awesome prototype as proof\n"
                     "         of concept. we continue to gather community input ... (-;\n"))
      << result.err;
  EXPECT_TRUE(result.printed("done with 'in.las'.")) << result.err;
  EXPECT_TRUE(exists(dir_.path() + "/in.lay"));
  EXPECT_FALSE(exists(dir_.path() + "/in_1.las"));

  // "-ilay 3" takes its count; quiet drops the warnings.
  result = run({"-i", "in.las", "-ilay", "3", "-quiet"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(exists(dir_.path() + "/in_1.las"));
}

TEST_F(IsocullCommandLine, AcceptedButIgnoredOptionsWarnAndTheRunGoesOn) {
  const ToolRun result = run({"-i", "in.las", "-gui", "-cores", "0", "-cpu64", "-mem", "100"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.printed("WARNING: not compiled with GUI support. ignoring '-gui' ...\n"));
  EXPECT_TRUE(result.printed("WARNING: '-cores 0' not possible: this machine has ")) << result.err;
  EXPECT_TRUE(result.printed("WARNING: not compiled with 64 bit support. ignoring '-cpu64' ...\n"));
  EXPECT_TRUE(
      result.printed("WARNING: requesting less than 200 MB of memory not possible. using 500.\n"));
  EXPECT_TRUE(result.printed("done with 'in_1.las'")) << result.err;
}

TEST_F(IsocullCommandLine, LaterMarkingOptionsOverrideEarlierOnes) {
  ToolRun result = run({"-i", "in.las", "-o", "a.las", "-remove_noise", "-classify_as", "9"});
  EXPECT_TRUE(result.printed("classified 1 noise points of")) << result.err;
  result = run({"-i", "in.las", "-o", "b.las", "-classify_as", "9", "-remove_noise"});
  EXPECT_TRUE(result.printed("removed 1 noise points of")) << result.err;
  result = run({"-i", "in.las", "-o", "c.las", "-classify_as", "9", "-flag_as_withheld"});
  EXPECT_TRUE(result.printed("flagged 1 noise points of")) << result.err;
  result = run({"-i", "in.las", "-o", "d.las", "-flag_as_withheld", "-classify_as", "9"});
  EXPECT_TRUE(result.printed("classified 1 noise points of")) << result.err;
  const LasRecords classified = read_records(dir_.path() + "/d.las");
  ASSERT_EQ(classified.records.size(), 8u);
  EXPECT_EQ(classified.records[7][kLegacyClassByte] & 0x1F, 9);
  EXPECT_EQ(classified.records[7][kLegacyClassByte] & 0x80, 0) << "not withheld";
}

TEST_F(IsocullCommandLine, ABareNameIsTheInputAndAnEnDashIsADash) {
  const ToolRun result = run({"in.las", "\x96v", "\x96o", "bare.las"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.printed("gridding 8 points")) << result.err;
  EXPECT_TRUE(exists(dir_.path() + "/bare.las"));
}

TEST_F(IsocullCommandLine, QuietPrintsNothingOnSuccess) {
  const ToolRun result = run({"-i", "in.las", "-o", "quiet.las", "-quiet"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(IsocullCommandLine, WithoutArgumentsItAsksForNamesAndEndsWithCodeOne) {
  const ToolRun result = run({}, "in.las\nasked.las\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.printed(" is better run in the command line\n")) << result.err;
  EXPECT_TRUE(result.printed("enter input file: enter output file: ")) << result.err;
  EXPECT_TRUE(result.printed("done with 'asked.las'")) << result.err;
  EXPECT_TRUE(exists(dir_.path() + "/asked.las"));

  const ToolRun nothing = run({}, "\n\n");
  EXPECT_EQ(nothing.exit_code, 1);
  EXPECT_TRUE(nothing.printed("ERROR: no input specified\n")) << nothing.err;
}

}  // namespace
