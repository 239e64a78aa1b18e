#include "tool/output_claims.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "temp_dir.hpp"

namespace {

using Read = OutputClaims::ReadKind;
using Write = OutputClaims::WriteKind;

class OutputClaimsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* name : {"a.las", "a.lax", "n.las", "list.txt"})
      std::ofstream(path(name)) << name;
    claims_.add_read(path("a.las"), Read::kInput, path("a.las"));
    claims_.add_read(path("a.lax"), Read::kIndex, path("a.las"));
    claims_.add_read(path("a.lay"), Read::kLayer, path("a.las"));  // none there yet
    claims_.add_read(path("n.las"), Read::kNeighbour, path("n.las"));
    claims_.add_read(path("list.txt"), Read::kList, path("list.txt"));
  }
  void TearDown() override {
    for (const std::string& name : folder_entries(dir_.path()))
      remove_tree(path(name));
  }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  TempDir dir_;
  OutputClaims claims_;
};

TEST_F(OutputClaimsTest, AWriteOverAnythingReadIsRefusedNamingWhatItIs) {
  struct Row {
    std::string target;
    Write kind;
    std::string refusal;  // empty: allowed
  };
  const std::string in = path("a.las");
  const std::vector<Row> rows = {
      {path("./a.las"), Write::kOutput,
       "ERROR: output '" + path("./a.las") + "' is the input file '" + in + "'. skipping '" + in +
           "'.\n"},
      {path("a.lax"), Write::kOutput,
       "ERROR: output '" + path("a.lax") + "' is the spatial index of '" + in + "'. skipping '" +
           in + "'.\n"},
      {path("n.las"), Write::kReport,
       "ERROR: report '" + path("n.las") + "' is the neighbour file '" + path("n.las") + "'.\n"},
      {path("list.txt"), Write::kIndex,
       "ERROR: index '" + path("list.txt") + "' is the list of files '" + path("list.txt") +
           "'. skipping '" + in + "'.\n"},
      // The layer file of an input is not there yet, and still no output may take its name;
      // writing it is what -olay does.
      {path("a.lay"), Write::kOutput,
       "ERROR: output '" + path("a.lay") + "' is the layer file of '" + in + "'. skipping '" + in +
           "'.\n"},
      {path("a.lay"), Write::kLayer, ""},
      {path("b.las"), Write::kOutput, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    EXPECT_EQ(claims_.claim(row.target, row.kind, row.kind == Write::kReport ? "" : in),
              row.refusal);
  }
}

TEST_F(OutputClaimsTest, ASecondWriteToAClaimedFileIsRefusedUntilTheFirstGivesItUp) {
  EXPECT_EQ(claims_.claim(path("out.las"), Write::kOutput, "x.las"), "");
  EXPECT_EQ(claims_.claim(path("sub/../out.las"), Write::kOutput, "y.las"),
            "ERROR: output '" + path("sub/../out.las") +
                "' was already written for 'x.las' in this run. skipping 'y.las'.\n");
  // Not written after all (its file failed): the name is free again.
  claims_.release(path("out.las"));
  EXPECT_EQ(claims_.claim(path("./out.las"), Write::kOutput, "y.las"), "");
  std::ofstream(path("out.las")) << "points";
  claims_.confirm(path("./out.las"));
  // Written, it is known by its inode too: a hard link made since is the same file.
  ASSERT_EQ(link(path("out.las").c_str(), path("again.las").c_str()), 0);
  EXPECT_NE(claims_.claim(path("again.las"), Write::kOutput, "z.las"), "");
  // The report claimed at the start is named as such.
  EXPECT_EQ(claims_.claim(path("run.json"), Write::kReport, ""), "");
  EXPECT_EQ(
      claims_.claim(path("run.json"), Write::kOutput, "z.las"),
      "ERROR: output '" + path("run.json") + "' is the report of this run. skipping 'z.las'.\n");
}

TEST_F(OutputClaimsTest, ADeviceIsCheckedAgainstTheReadsButNeverClaimed) {
  EXPECT_EQ(claims_.claim("/dev/null", Write::kOutput, "x.las"), "");
  EXPECT_EQ(claims_.claim("/dev/null", Write::kOutput, "y.las"), "");
  claims_.add_read("/dev/zero", Read::kInput, "/dev/zero");
  EXPECT_NE(claims_.claim("/dev/zero", Write::kOutput, "x.las"), "");
  EXPECT_EQ(claims_.claim("", Write::kOutput, "x.las"), "") << "standard output";
}

TEST_F(OutputClaimsTest, AFileCanBeWrittenWhereItsFolderExistsAndMayBeWritten) {
  EXPECT_EQ(why_not_writable(path("new.json")), "");
  EXPECT_EQ(why_not_writable(path("a.las")), "");
  EXPECT_EQ(why_not_writable(path("none/new.json")), "no folder '" + path("none") + "'");
  EXPECT_EQ(why_not_writable(path("a.las/new.json")), "Not a directory");
  EXPECT_EQ(why_not_writable(dir_.path()), "Is a directory");
}

}  // namespace
