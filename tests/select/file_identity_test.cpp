#include "select/file_identity.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "formats/las_reader_buffered.hpp"
#include "select/las_reader_factory.hpp"
#include "select_test_support.hpp"

using select_test::Args;
using select_test::ScratchDir;

namespace {

TEST(FileIdentity, EveryNameOfOneFileIsThatFileAndNoOther) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  dir.touch("a.las", "a");
  dir.touch("b.las", "b");
  dir.touch("sub/c.las", "c");
  ASSERT_EQ(link((dir / "a.las").c_str(), (dir / "hard.las").c_str()), 0);
  ASSERT_EQ(symlink("a.las", (dir / "soft.las").c_str()), 0);
  ASSERT_EQ(symlink("soft.las", (dir / "softer.las").c_str()), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "sub/up").c_str()), 0);
  FileIdentifier identifier;
  const FileIdentity a = identifier.identify(dir / "a.las");
  EXPECT_TRUE(a.exists);
  EXPECT_TRUE(a.regular);
  EXPECT_EQ(a.path.front(), '/');
  for (const std::string& name :
       {dir / "./a.las", dir / "sub/../a.las", dir / "hard.las", dir / "soft.las",
        dir / "softer.las", dir / "sub/up/a.las", dir.path() + "//a.las"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(same_file(identifier.identify(name), a));
  }
  EXPECT_FALSE(same_file(identifier.identify(dir / "b.las"), a));
  EXPECT_FALSE(same_file(identifier.identify(dir / "sub/c.las"), a));
  EXPECT_FALSE(same_file(identifier.identify(dir / "sub/a.las"), a));
}

TEST(FileIdentity, ANameThatDoesNotExistYetMeetsItsOtherSpellingsAndTheLinksToIt) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  dir.touch("sub/c.las");
  ASSERT_EQ(symlink("new.las", (dir / "dangling.las").c_str()), 0);
  ASSERT_EQ(symlink("sub", (dir / "folder").c_str()), 0);
  FileIdentifier identifier;
  const FileIdentity fresh = identifier.identify(dir / "new.las");
  EXPECT_FALSE(fresh.exists);
  EXPECT_EQ(fresh.path, dir / "new.las");
  EXPECT_TRUE(same_file(identifier.identify(dir / "sub/../new.las"), fresh));
  EXPECT_TRUE(same_file(identifier.identify(dir / "dangling.las"), fresh));
  EXPECT_TRUE(
      same_file(identifier.identify(dir / "folder/d.las"), identifier.identify(dir / "sub/d.las")));
  // A folder that does not exist either: its spellings are compared as text.
  EXPECT_TRUE(same_file(identifier.identify(dir / "none/x/../d.las"),
                        identifier.identify(dir / "none/d.las")));
  EXPECT_FALSE(
      same_file(identifier.identify(dir / "none/d.las"), identifier.identify(dir / "d.las")));
  // A relative name is resolved against the working folder.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  FileIdentifier here;
  EXPECT_TRUE(same_file(here.identify("new.las"), fresh));
  EXPECT_TRUE(same_file(here.identify("./sub/c.las"), here.identify(dir / "sub/c.las")));
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(FileIdentity, AnIndexFindsAMemberByAnyOfItsNamesAndForgetsOnlyItsOwnValue) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  dir.touch("a.las");
  ASSERT_EQ(link((dir / "a.las").c_str(), (dir / "hard.las").c_str()), 0);
  FileIdentifier identifier;
  FileIdentityIndex index;
  EXPECT_TRUE(index.empty());
  index.insert(identifier.identify(dir / "a.las"), 1);
  index.insert(identifier.identify(dir / "new.las"), 2);
  index.insert(identifier.identify(dir / "./a.las"), 3);  // a member already: 1 stays
  EXPECT_EQ(index.find(identifier.identify(dir / "hard.las")), 1u);
  EXPECT_EQ(index.find(identifier.identify(dir / "./new.las")), 2u);
  EXPECT_EQ(index.find(identifier.identify(dir / "other.las")), std::nullopt);
  index.erase(identifier.identify(dir / "a.las"), 3);
  EXPECT_EQ(index.find(identifier.identify(dir / "a.las")), 1u);
  index.erase(identifier.identify(dir / "a.las"), 1);
  EXPECT_EQ(index.find(identifier.identify(dir / "hard.las")), std::nullopt);
  EXPECT_EQ(index.find(identifier.identify(dir / "new.las")), 2u);
}

// The buffered reader over a tile and its neighbours, as listed.
std::int64_t buffered_points(const std::vector<std::string>& entries, std::string& warnings) {
  Args args(entries);
  LASreaderFactory factory;
  if (!factory.parse(args.argc(), args.data(), true)) return -1;
  std::unique_ptr<LASreader> reader;
  CAPTURE_STDERR(warnings, reader = factory.open());
  if (!reader) return -1;
  std::int64_t points = 0;
  while (reader->read_next())
    points++;
  return points;
}

TEST(FileIdentity, ABufferedTileReadsEachNeighbourOnceWhateverItsNames) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(select_test::write_las(dir / "t.las", {{10, 10, 1}, {11, 11, 1}}));
  ASSERT_TRUE(select_test::write_las(dir / "n.las", {{12, 10, 1}, {13, 11, 1}, {12.5, 12, 1}}));
  ASSERT_EQ(symlink("n.las", (dir / "link.las").c_str()), 0);
  std::string warnings;
  ASSERT_EQ(buffered_points({"-i", dir / "t.las", "-buffered", "5", "-neighbors", dir / "n.las"},
                            warnings),
            5);
  EXPECT_EQ(warnings, "");
  ASSERT_EQ(buffered_points(
                {"-i", dir / "t.las", "-buffered", "5", "-neighbors", dir / "t.las", dir / "n.las",
                 dir / "./n.las", dir / "link.las", dir / "n.las", dir / "./t.las"},
                warnings),
            5);
  EXPECT_EQ(warnings, "WARNING: neighbour '" + (dir / "./n.las") + "' is the file '" +
                          (dir / "n.las") + "' again. skipping it.\n" + "WARNING: neighbour '" +
                          (dir / "link.las") + "' is the file '" + (dir / "n.las") +
                          "' again. skipping it.\n" + "WARNING: neighbour '" + (dir / "n.las") +
                          "' is the file '" + (dir / "n.las") + "' again. skipping it.\n" +
                          "WARNING: neighbour '" + (dir / "./t.las") + "' is the input file '" +
                          (dir / "t.las") + "'. skipping it.\n");
}

}  // namespace
