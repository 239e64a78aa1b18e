#include "select/file_names.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "select_test_support.hpp"

using select_test::ScratchDir;

namespace {

TEST(FileNames, SeparatorsOfBothSystemsAndDrivesEndTheDirectoryPart) {
  EXPECT_EQ(file_names::base_start("tile.las"), 0u);
  EXPECT_EQ(file_names::base_start("in/tile.las"), 3u);
  EXPECT_EQ(file_names::base_start("C:\\in\\tile.las"), 6u);
  EXPECT_EQ(file_names::base_start("C:tile.las"), 2u);
  EXPECT_EQ(file_names::extension_dot("in/tile.las"), 7u);
  EXPECT_EQ(file_names::extension_dot("in.d/tile"), file_names::kNone);
  EXPECT_EQ(file_names::extension_dot("in/.hidden"), file_names::kNone);
  EXPECT_EQ(file_names::extension_dot("a.b.c"), 3u);
}

TEST(FileNames, WildcardsMatchAnyRunAndSingleCharacters) {
  EXPECT_TRUE(file_names::wildcard_match("*.las", "tile.las"));
  EXPECT_TRUE(file_names::wildcard_match("*.las", ".las"));
  EXPECT_FALSE(file_names::wildcard_match("*.las", "tile.lasx"));
  EXPECT_TRUE(file_names::wildcard_match("flight0??.pkz", "flight012.pkz"));
  EXPECT_FALSE(file_names::wildcard_match("flight0??.pkz", "flight01.pkz"));
  EXPECT_TRUE(file_names::wildcard_match("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(file_names::wildcard_match("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(file_names::wildcard_match("*", ""));
  // Many stars against a long name that almost matches must stay fast.
  const std::string name(5000, 'a');
  EXPECT_FALSE(file_names::wildcard_match("*a*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(file_names::has_wildcard("dir/*.las"));
  EXPECT_FALSE(file_names::has_wildcard("di*r/a.las"));
}

TEST(FileNames, ExpansionListsMatchingFilesSortedAndSkipsDirectoriesAndHiddenOnes) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* name : {"b1.las", "a2.las", "a1.las", "a10.las", ".hidden.las", "a1.txt"})
    dir.touch(name);
  std::filesystem::create_directory(dir / "d.las");
  EXPECT_EQ(
      file_names::expand_wildcard(dir / "*.las"),
      (std::vector<std::string>{dir / "a1.las", dir / "a10.las", dir / "a2.las", dir / "b1.las"}));
  EXPECT_EQ(file_names::expand_wildcard(dir / "a?.las"),
            (std::vector<std::string>{dir / "a1.las", dir / "a2.las"}));
  EXPECT_EQ(file_names::expand_wildcard(dir / ".*.las"),
            (std::vector<std::string>{dir / ".hidden.las"}));
  EXPECT_TRUE(file_names::expand_wildcard(dir / "x*.las").empty());
  EXPECT_TRUE(file_names::expand_wildcard(dir / "missing/*.las").empty());
  // A Windows-style directory part finds the same files, named with "/".
  EXPECT_EQ(file_names::expand_wildcard(dir.path() + "\\b?.las"),
            (std::vector<std::string>{dir / "b1.las"}));
}

TEST(FileNames, ListLinesTakeTheFirstFormThatFits) {
  using file_names::ListLine;
  ListLine line = file_names::parse_list_line("3,17,0,0,100,100, \ttile one.las");
  EXPECT_EQ(line.form, ListLine::kIdentifierCountBounds);
  EXPECT_EQ(line.ID, 3u);
  EXPECT_EQ(line.bounds.number_of_points, 17);
  EXPECT_EQ(line.bounds.max_x, 100.0);
  EXPECT_EQ(line.bounds.max_y, 100.0);
  EXPECT_EQ(line.name, "tile one.las");

  line = file_names::parse_list_line("4,\tb.las");
  EXPECT_EQ(line.form, ListLine::kIdentifierName);
  EXPECT_EQ(line.ID, 4u);
  EXPECT_EQ(line.name, "b.las");

  // Bounds without the comma before the name are not the first form.
  line = file_names::parse_list_line("5,17,0,0,100,100");
  EXPECT_EQ(line.form, ListLine::kIdentifierName);
  EXPECT_EQ(line.name, "17,0,0,100,100");

  for (const char* plain : {"tiles/*.las", "12", "7x,a.las", ",a.las", "3,   "}) {
    SCOPED_TRACE(plain);
    line = file_names::parse_list_line(plain);
    EXPECT_EQ(line.form, ListLine::kName);
    EXPECT_EQ(line.name, plain);
  }
}

TEST(FileNames, ListFilesSkipBlankAndOverlongLinesAndSurviveBinaryGarbage) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::string text = "a.las\r\n\n   \t\nb.las  \t\n";
  text += std::string(3000, 'x') + "\n";
  text += "c.las";
  const std::string list = dir.touch("list.txt", text);
  std::vector<std::string> names;
  std::string messages;
  bool ok = false;
  CAPTURE_STDERR(messages, ok = file_names::read_list_file(list.c_str(), [&](const auto& line) {
                             names.push_back(line.name);
                           }));
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (std::vector<std::string>{"a.las", "b.las", "c.las"}));
  EXPECT_EQ(messages,
            "WARNING: line 5 of '" + list + "' is longer than 2047 characters. skipping it ...\n");

  // Garbage without NUL bytes is read as lines; with one, the list ends there with an error
  // (no text list holds one, and /dev/zero would hold nothing else).
  std::string garbage;
  for (int i = 0; i < 200000; i++)
    garbage.push_back(static_cast<char>(1 + (i * 7919) % 255));
  const std::string binary = dir.touch("garbage.bin", garbage);
  std::size_t lines = 0;
  CAPTURE_STDERR(messages, ok = file_names::read_list_file(binary.c_str(), [&](const auto& line) {
                             EXPECT_LE(line.name.size(), file_names::kMaxListLine);
                             lines++;
                           }));
  EXPECT_TRUE(ok);
  EXPECT_GT(lines, 0u);

  const std::string with_nul = dir.touch("nul.txt", std::string("a.las\nb.l\0as\nc.las\n", 19));
  names.clear();
  CAPTURE_STDERR(messages, ok = file_names::read_list_file(with_nul.c_str(), [&](const auto& line) {
                             names.push_back(line.name);
                           }));
  EXPECT_FALSE(ok);
  EXPECT_EQ(names, std::vector<std::string>{"a.las"});
  EXPECT_EQ(messages,
            "ERROR: line 2 of '" + with_nul + "' holds a NUL byte. not a list of file names.\n");
}

TEST(FileNames, UniqueListsSkipNamesTheyHold) {
  LASfileList list;
  EXPECT_TRUE(list.add({"a.las", {}, {}}, true));
  EXPECT_FALSE(list.add({"a.las", 4u, {}}, true));
  EXPECT_TRUE(list.add({"a.las", {}, {}}, false));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_FALSE(list.has_IDs());
  EXPECT_TRUE(list.add({"b.las", 4u, {}}, true));
  EXPECT_TRUE(list.has_IDs());
  EXPECT_FALSE(list.has_bounds());
}

}  // namespace
