// End to end with the built binary: the ways a file of a long run can fail (an output that
// cannot be made, a full disk, an input that cannot be opened or decoded) cost that file
// only. Each failure shows as "ERROR: " lines naming the file, leaves no partial output and
// no temporary file, is never reported as done, and makes the run end with code 1.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

class IsocullFailure : public ToolFolders {
 protected:
  void TearDown() override {
    if (mounted_) umount(path("small").c_str());
    ToolFolders::TearDown();
  }
  // A 64 KB file system at "small": a disk that fills up in the middle of a file.
  bool mount_small_disk() {
    if (mkdir(path("small").c_str(), 0755) != 0) return false;
    mounted_ = mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=64k") == 0;
    return mounted_;
  }
  // Every "ERROR: " line of a run.
  static std::vector<std::string> error_lines(const ToolRun& result) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while ((at = result.err.find("ERROR: ", at)) != std::string::npos) {
      const std::size_t end = result.err.find('\n', at);
      lines.push_back(result.err.substr(at, end - at));
      at = end;
    }
    return lines;
  }
  bool mounted_ = false;
};

TEST_F(IsocullFailure, AnOutputThatCannotBeMadeCostsThatFileOnlyAndTheRunEndsWithCodeOne) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 5000, 1, 11));
  ASSERT_TRUE(write_scene(path("in/b.las"), 5000, 1, 12));
  // a's output name is taken by a folder, which no open for writing can replace (not even
  // root's, for whom permission bits would not stop anything).
  ASSERT_EQ(mkdir(path("out/a_d.las").c_str(), 0755), 0);
  const ToolRun result = run({"-i", "in/a.las", "in/b.las", "-odir", "out", "-odix", "_d"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.printed("ERROR: cannot open file 'out/a_d.las' for write\n")) << result.err;
  EXPECT_TRUE(result.printed("ERROR: could not open laswriter\n")) << result.err;
  EXPECT_FALSE(result.printed("done with 'out/a_d.las'")) << result.err;
  EXPECT_TRUE(result.printed("done with 'out/b_d.las'")) << result.err;
  EXPECT_FALSE(result.printed("usage:")) << result.err;
  struct stat info {};
  ASSERT_EQ(stat(path("out/a_d.las").c_str(), &info), 0) << "the folder is not ours to remove";
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_TRUE(listing("tmp").empty());
}

TEST_F(IsocullFailure, AFullDiskRemovesThePartialOutputAndTheNextFileIsStillWritten) {
  if (geteuid() != 0 || !mount_small_disk()) {
    GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                 << "); the full disk is tested with /dev/full in isocull_files_test";
  }
  // 20,000 points of 28 bytes are 560 KB: the 64 KB disk is full long before the end.
  ASSERT_TRUE(write_scene(path("in/a.las"), 20000, 1, 21));
  ASSERT_TRUE(write_scene(path("in/b.las"), 1000, 1, 22));
  for (const char* mode : {"-classify_as", "-remove_noise"}) {
    // One file after the other: files at once would both meet the full disk.
    std::vector<std::string> args = {"-i", "in/a.las", "in/b.las", "-odir", "small", "-cores", "1"};
    if (std::strcmp(mode, "-classify_as") == 0) {
      args.insert(args.end(), {mode, "9"});
    } else {
      args.push_back(mode);
    }
    const ToolRun result = run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    // One "ERROR: " line, naming the file, and what became of the output.
    EXPECT_EQ(error_lines(result).size(), 1u) << result.err;
    EXPECT_TRUE(result.printed("         partial output 'small/a.las' removed.\n")) << result.err;
    for (const std::string& line : error_lines(result))
      EXPECT_NE(line.find("'small/a.las'"), std::string::npos) << "names the file: " << line;
    EXPECT_FALSE(result.printed("done with 'small/a.las'")) << result.err;
    EXPECT_FALSE(exists(path("small/a.las")));
    // The space the partial output took is free again: the next file fits.
    EXPECT_TRUE(result.printed("done with 'small/b.las'")) << result.err;
    const LasRecords b = read_records(path("small/b.las"));
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.records.size(), b.header.number_of_point_records);
    EXPECT_TRUE(listing("tmp").empty());
    unlink(path("small/b.las").c_str());
  }
}

TEST_F(IsocullFailure, AnInputThatCannotBeOpenedAmongManyCostsThatFileOnly) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 3000, 1, 31));
  ASSERT_TRUE(write_scene(path("in/c.las"), 3000, 1, 33));
  {
    std::ofstream broken(path("in/b.las"), std::ios::binary);
    broken << "this is no point file, whatever its name says";
  }
  const ToolRun result = run({"-i", "in/a.las", "in/b.las", "in/c.las", "-odir", "out"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_TRUE(result.printed("ERROR: cannot open lasreaderlas with file name 'in/b.las'"))
      << result.err;
  EXPECT_TRUE(result.printed("ERROR: could not open lasreader\n")) << result.err;
  EXPECT_TRUE(result.printed("done with 'out/a.las'")) << result.err;
  EXPECT_TRUE(result.printed("done with 'out/c.las'")) << result.err;
  EXPECT_FALSE(result.printed("done with 'out/b.las'")) << result.err;
  EXPECT_FALSE(exists(path("out/b.las")));
  EXPECT_FALSE(result.printed("usage:")) << result.err;
  EXPECT_TRUE(listing("tmp").empty());
}

TEST_F(IsocullFailure, APointCountThatLiesByBillionsCostsNoMoreThanTheFileHolds) {
  // A LAS 1.4 file announcing 2^62 points holds 4,000: the run reads what is there, warns,
  // and writes an output whose header counts the points written.
  ASSERT_TRUE(write_scene(path("in/a.las"), 4000, 6, 41));
  std::string bytes = read_text(path("in/a.las"));
  const std::uint64_t claimed = std::uint64_t{1} << 62;
  std::memcpy(bytes.data() + 247, &claimed, 8);  // extended_number_of_point_records
  {
    std::ofstream out(path("in/a.las"), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const ToolRun result = run({"-i", "in/a.las", "-o", "out/a.las"});
  EXPECT_EQ(result.exit_code, 1) << "a cut file ends the run with code 1\n" << result.err;
  EXPECT_TRUE(result.printed("WARNING: end-of-file after 4000 of 4611686018427387904 points"))
      << result.err;
  const LasRecords output = read_records(path("out/a.las"));
  ASSERT_TRUE(output.ok);
  EXPECT_EQ(output.records.size(), 4000u);
  EXPECT_EQ(output.header.extended_number_of_point_records, 4000u);
}

}  // namespace
