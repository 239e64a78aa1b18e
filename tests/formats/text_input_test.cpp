// Compressed and piped text: the outside programs get the file name as one argument that
// they take literally, a missing program names its package, a program that dies ends the
// text with a failure, standard input reads like a file, and LF, CR LF and CR end lines.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "formats/archive_argument.hpp"
#include "formats/text_input.hpp"
#include "text_test_support.hpp"

namespace {

using text_test::Folder;

const char kText[] = "# header\n1 2 3 10\n4 5 6 20\n7 8 9 30\n";

// The x of every point of `name`.
std::vector<double> xs_of(const std::string& name, bool populate, std::string* messages = nullptr,
                          bool* failed = nullptr) {
  LASreaderTXT reader;
  std::vector<double> xs;
  std::string captured;
  CAPTURE_STDERR(captured, {
    if (reader.open(name.c_str(), 0, "xyzi", 1, populate)) {
      while (reader.read_next())
        xs.push_back(reader.point.get_x());
    }
  });
  if (messages != nullptr) *messages = captured;
  if (failed != nullptr) *failed = reader.read_failed();
  return xs;
}

bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// PATH replaced for the life of the object.
class PathOverride {
 public:
  explicit PathOverride(const std::string& path) {
    const char* old = std::getenv("PATH");
    saved_ = old ? old : "";
    setenv("PATH", path.c_str(), 1);
  }
  ~PathOverride() { setenv("PATH", saved_.c_str(), 1); }
  PathOverride(const PathOverride&) = delete;
  PathOverride& operator=(const PathOverride&) = delete;

 private:
  std::string saved_;
};

void write_program(const Folder& folder, const std::string& name, const std::string& script) {
  const std::string path = folder.write(name, "#!/bin/sh\n" + script);
  chmod(path.c_str(), 0755);
}

}  // namespace

TEST(TextInput, CompressedNamesWithBlanksQuotesAndDashesReadAsThePlainText) {
  Folder folder;
  folder.write("plain.txt", kText);
  const std::vector<double> plain = xs_of(folder / "plain.txt", true);
  ASSERT_EQ(plain, (std::vector<double>{1, 4, 7}));
  // Run from inside the folder so that a name may begin with "-".
  const std::string here = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(folder.path().c_str()), 0);
  for (const std::string name : {"-lead dash 'q' \"d\".txt.gz", "a b.txt.gz"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(
        run("gzip -c plain.txt > '" + std::string(name == "a b.txt.gz" ? name : "lead.gz") + "'"));
    if (name != "a b.txt.gz") std::filesystem::rename("lead.gz", name);
    for (bool populate : {true, false})
      EXPECT_EQ(xs_of(name, populate), plain);
  }
  if (run("command -v zip > /dev/null 2>&1")) {
    ASSERT_TRUE(run("zip -q plain.zip plain.txt"));
    std::filesystem::rename("plain.zip", "-z ip.zip");
    EXPECT_EQ(xs_of("-z ip.zip", true), plain);
  }
  ASSERT_EQ(chdir(here.c_str()), 0);
}

TEST(TextInput, AMissingProgramIsNamedWithItsPackage) {
  Folder folder;
  struct Case {
    const char* name;
    const char* program;
    const char* package;
  };
  const Case cases[] = {{"p.txt.gz", "gzip", "gzip"},
                        {"p.zip", "unzip", "unzip"},
                        {"p.7z", "7z", "p7zip-full"},
                        {"p.rar", "unrar", "unrar"}};
  const PathOverride path(folder.path());  // holds no program
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = folder.write(c.name, "not really compressed");
    std::string messages;
    EXPECT_TRUE(xs_of(name, true, &messages).empty());
    EXPECT_EQ(messages, "ERROR: cannot decompress '" + name + "': program '" + c.program +
                            "' not found. install it (Debian package '" + c.package + "')\n");
  }
  std::string messages;
  EXPECT_TRUE(xs_of(folder / "absent.7z", true, &messages).empty());
  EXPECT_EQ(messages, "ERROR: cannot open file '" + folder / "absent.7z" + "'\n");
}

TEST(TextInput, AProgramThatDiesEndsTheTextAsAFailureAndNeverHangs) {
  Folder folder;
  const std::string name = folder.write("cut.txt.gz", "");
  write_program(folder, "gzip", "printf '# h\\n1 2 3 4\\n5 6 7 8\\n'\nkill -9 $$\n");
  write_program(folder, "unzip", "printf '# h\\n1 2 3 4\\n'\nexit 3\n");
  write_program(folder, "7z", "while true; do echo '1 2 3 4'; done\n");
  const PathOverride path(folder.path() + ":/usr/bin:/bin");
  std::string messages;
  bool failed = false;
  // Without a populate pass the points before the cut are read, then the read fails.
  EXPECT_EQ(xs_of(name, false, &messages, &failed), (std::vector<double>{1, 5}));
  EXPECT_TRUE(failed);
  EXPECT_EQ(messages, "ERROR: 'gzip' was ended by signal 9 while decompressing '" + name + "'\n");
  // With one, the file does not open.
  EXPECT_TRUE(xs_of(name, true, &messages).empty());
  EXPECT_NE(messages.find("ERROR: 'gzip' was ended by signal 9"), std::string::npos);
  const std::string zip = folder.write("cut.zip", "");
  EXPECT_EQ(xs_of(zip, false, &messages, &failed), (std::vector<double>{1}));
  EXPECT_TRUE(failed);
  EXPECT_EQ(messages, "ERROR: 'unzip' failed with exit code 3 while decompressing '" + zip + "'\n");
  // A program that would write forever is stopped when the reader closes.
  const std::string endless = folder.write("endless.7z", "");
  LASreaderTXT reader;
  CAPTURE_STDERR(messages, ASSERT_TRUE(reader.open(endless.c_str(), 0, "xyzi", 0, false)));
  for (int i = 0; i < 1000; i++)
    ASSERT_TRUE(reader.read_next());
  EXPECT_FALSE(reader.seek_point(0));  // a pipe cannot go back
  reader.close_reader();
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child left behind
}

TEST(TextInput, StandardInputReadsLikeAFileWithoutGoingBack) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string text = std::string(kText) + "10 11 12 40\n";
  ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(ends[1]);
  LASreaderTXT reader;
  std::string messages;
  std::vector<double> xs;
  CAPTURE_STDERR(messages, {
    ASSERT_TRUE(reader.open_descriptor(ends[0], nullptr, 0, "xyzi", 1, true));
    while (reader.read_next())
      xs.push_back(reader.point.get_x());
  });
  close(ends[0]);
  EXPECT_EQ(messages, "");
  EXPECT_EQ(xs, (std::vector<double>{1, 4, 7, 10}));
  // No populate pass without a name: the header is completed at the end.
  EXPECT_FALSE(reader.populated());
  EXPECT_EQ(reader.header.point_count(), 4u);
  EXPECT_EQ(reader.header.max_x, 10.0);
  EXPECT_EQ(reader.header.min_z, 3.0);
}

TEST(TextInput, LfCrLfAndLoneCrEndLinesAlike) {
  Folder folder;
  const std::vector<std::string> lines = {"1 2 3", "", "4 5 6", "7 8 9"};
  // A line end may fall on the edge of a buffer fill: long lines move it across the edges.
  std::vector<std::string> long_lines;
  for (int i = 0; i < 4000; i++)
    long_lines.push_back(std::to_string(i) + " " +
                         std::string(static_cast<std::size_t>(i % 997), 'x'));
  for (const auto& source : {lines, long_lines}) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE(std::string(end) == "\n" ? "LF" : std::string(end) == "\r" ? "CR" : "CR LF");
      std::string text;
      for (const std::string& line : source)
        text += line + end;
      text.pop_back();  // the last line without its end (and CR LF cut to CR)
      const std::string name = folder.write("ends.txt", text);
      TextInput input;
      ASSERT_TRUE(input.open(name.c_str()));
      std::vector<std::string> read;
      char* line = nullptr;
      std::size_t length = 0;
      while (input.next_line(line, length)) {
        ASSERT_EQ(std::strlen(line), length);
        read.emplace_back(line, length);
      }
      EXPECT_EQ(read, source);
      ASSERT_TRUE(input.rewind());
      ASSERT_TRUE(input.next_line(line, length));
      EXPECT_EQ(std::string(line, length), source[0]);
    }
  }
}

TEST(TextInput, ArchiveNamesReachTheProgramsLiterally) {
  using text_format::kDecompressors;
  struct Case {
    std::size_t program;  // in kDecompressors: gzip, unzip, 7z, unrar
    const char* name;
    bool given;
    const char* argument;
  };
  const Case cases[] = {
      {0, "a[1].txt.gz", true, ""},
      {1, "plain.zip", true, "plain.zip"},
      {1, "a[1].zip", true, "a[[]1].zip"},
      {1, "b*.zip", true, "b[*].zip"},
      {1, "c?.zip", true, "c[?].zip"},
      {1, "d\\x.zip", true, "d\\x.zip"},
      {1, "h\\*].zip", true, "h\\\\[*]].zip"},
      {1, "-z.zip", true, "./-z.zip"},
      {2, "@list.7z", true, "./@list.7z"},
      {2, "a[1].7z", true, "a[1].7z"},
      {2, "b*.7z", false, ""},
      {3, "c?.rar", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string argument = "stale";
    std::string messages;
    bool given = false;
    CAPTURE_STDERR(messages, given = text_format::archive_argument(kDecompressors[c.program],
                                                                   c.name, argument));
    EXPECT_EQ(given, c.given);
    if (given) {
      EXPECT_EQ(argument, c.argument);
      EXPECT_EQ(messages, "");
    } else {
      EXPECT_EQ(messages, "ERROR: cannot decompress '" + std::string(c.name) + "': '" +
                              kDecompressors[c.program].program +
                              "' takes '*' and '?' in an archive name for wildcards. rename the "
                              "file\n");
    }
  }
}

TEST(TextInput, ArchivesWithWildcardCharactersInTheirNamesAreReadAndNotTheirNamesakes) {
  Folder folder;
  const std::string here = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(folder.path().c_str()), 0);
  folder.write("named.txt", "# h\n1 2 3 4\n");
  folder.write("decoy.txt", "# h\n9 9 9 9\n");
  struct Case {
    const char* program;
    const char* pack;  // packs "$1" (the text) into "$2"
    const char* suffix;
  };
  const Case cases[] = {{"gzip", "gzip -c \"$1\" > \"$2\"", ".txt.gz"},
                        {"unzip", "cp \"$1\" points.txt && zip -q \"$2\" points.txt", ".zip"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    if (!run(std::string("command -v ") + c.program + " > /dev/null 2>&1") ||
        (std::string(c.program) == "unzip" && !run("command -v zip > /dev/null 2>&1"))) {
      std::printf("[ skipped  ] %s (or what packs for it) is not installed\n", c.program);
      continue;
    }
    // Each name holds a wildcard character; its namesake matches that wildcard.
    const std::pair<std::string, std::string> names[] = {
        {"a[1]", "a1"}, {"b*", "bx"}, {"c?", "cx"}, {"d[*?]\\", "dx\\"}};
    for (const auto& [name, decoy] : names) {
      SCOPED_TRACE(name);
      const std::string archive = name + c.suffix;
      const std::string namesake = decoy + c.suffix;
      const std::string pack = std::string("sh -c '") + c.pack + "' pack ";
      ASSERT_TRUE(run(pack + "decoy.txt " + shell_quoted(namesake)));
      ASSERT_TRUE(run(pack + "named.txt " + shell_quoted(archive)));
      std::string messages;
      EXPECT_EQ(xs_of(archive, false, &messages), (std::vector<double>{1})) << messages;
      EXPECT_EQ(xs_of(archive, true, &messages), (std::vector<double>{1})) << messages;
      std::filesystem::remove(archive);
      std::filesystem::remove(namesake);
    }
  }
  // 7z and unrar have no escape for their wildcards: such a name is refused, never guessed.
  for (const char* name : {"b*.7z", "c?.rar"}) {
    folder.write(name, "not really compressed");
    std::string messages;
    EXPECT_TRUE(xs_of(name, false, &messages).empty());
    EXPECT_NE(messages.find("in an archive name for wildcards. rename the file\n"),
              std::string::npos)
        << messages;
  }
  ASSERT_EQ(chdir(here.c_str()), 0);
}
