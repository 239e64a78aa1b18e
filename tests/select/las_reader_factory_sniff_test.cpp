// The reader factory reads an input by what its bytes hold: real files of other producers
// under names that hide their format and through FIFOs give the points of the file by its
// own name; garbage and devices are refused in one line, before anything is kept of them.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "select/input_signature.hpp"
#include "select/las_reader_factory.hpp"
#include "select/select_test_support.hpp"

namespace {

using select_test::Args;
using select_test::FifoFeed;
using select_test::ScratchDir;

const std::string kReal = ISOCULL_REAL_DATA_DIR;

bool have_real_files() {
  return std::filesystem::exists(kReal + "/simple.las");
}

using Points = std::vector<std::vector<double>>;

Points read_all(LASreader& reader) {
  Points points;
  while (reader.read_next()) {
    const LASpoint& p = reader.point;
    points.push_back({double(p.X), double(p.Y), double(p.Z), double(p.intensity),
                      double(p.get_classification()), p.gps_time, double(p.rgb[0])});
  }
  return points;
}

// What one factory gives for one input: the format code, the points of two passes (a
// reopen between them) and the lines printed.
struct Opened {
  bool ok = false;
  int format_code = -1;
  Points first, second;
  std::string messages;
  std::int64_t spilled = 0;
};

// Text is read without a populate pass, as the tool reads it: a pipe cannot have one.
Opened open_twice(std::vector<std::string> options, std::int64_t piped_limit = -1) {
  Opened result;
  LASreaderFactory factory;
  if (piped_limit >= 0) factory.set_piped_memory_limit(piped_limit);
  options.push_back("-do_not_populate");
  Args args(options);
  if (!factory.parse(args.argc(), args.data())) return result;
  std::unique_ptr<LASreader> reader;
  CAPTURE_STDERR(result.messages, reader = factory.open());
  result.spilled = factory.piped_bytes_spilled();
  if (!reader) return result;
  result.format_code = reader->format_code();
  result.first = read_all(*reader);
  std::string more;
  bool reopened = false;
  CAPTURE_STDERR(more, reopened = factory.reopen(reader.get()));
  result.messages += more;
  if (!reopened) return result;
  result.second = read_all(*reader);
  result.ok = true;
  return result;
}

std::string refusal(const std::string& shown_name, const std::vector<std::uint8_t>& bytes) {
  const std::size_t size = std::min(bytes.size(), input_signature::kHeadSize);
  return "ERROR: " + shown_name + " is not a point file this tool reads: its first bytes are " +
         input_signature::shown(bytes.data(), size) + "\n";
}

void save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Garbage that no simple rule mistakes for anything: a fixed-seed generator's bytes.
std::vector<std::uint8_t> noise_bytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

TEST(LasReaderFactorySniff, RealFilesAreReadByTheirBytesUnderAnyNameAndThroughAFifo) {
  if (!have_real_files()) GTEST_SKIP() << "real point files not found in " << kReal;
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* file : {"simple.las", "simple.pkz", "1_4_w_evlr.pkz", "time-color.bin",
                           "10-word.qi", "hextest.txt"}) {
    const std::string original = kReal + "/" + file;
    const Opened by_name = open_twice({"-i", original});
    ASSERT_TRUE(by_name.ok) << file << by_name.messages;
    ASSERT_FALSE(by_name.first.empty()) << file;
    EXPECT_EQ(by_name.second, by_name.first) << file;
    const auto bytes = select_test::file_bytes(original);
    save(dir / "copy.dat", bytes);
    save(dir / "copy", bytes);
    for (const std::string& name : {dir / "copy.dat", dir / "copy"}) {
      const Opened copy = open_twice({"-i", name});
      ASSERT_TRUE(copy.ok) << file << " as " << name << ": " << copy.messages;
      EXPECT_EQ(copy.format_code, by_name.format_code) << file << " as " << name;
      EXPECT_EQ(copy.first, by_name.first) << file << " as " << name;
      EXPECT_EQ(copy.second, by_name.first) << file << " as " << name;
    }
    // Through a FIFO, kept in memory and in the temporary file.
    for (const std::int64_t limit : {LASreaderFactory::kPipedMemoryLimit, std::int64_t{0}}) {
      FifoFeed feed(dir / "ff", original);
      ASSERT_TRUE(feed.ok());
      const Opened fifo = open_twice({"-i", dir / "ff"}, limit);
      ASSERT_TRUE(fifo.ok) << file << " through a FIFO: " << fifo.messages;
      EXPECT_EQ(fifo.format_code, by_name.format_code) << file;
      EXPECT_EQ(fifo.first, by_name.first) << file << " limit " << limit;
      EXPECT_EQ(fifo.second, by_name.first) << file << " limit " << limit;
      const bool binary = std::string(file).find(".txt") == std::string::npos;
      EXPECT_EQ(fifo.spilled, binary && limit == 0 ? static_cast<std::int64_t>(bytes.size()) : 0)
          << file;
    }
  }
}

// The first bytes taken to judge a piped text end within a line; the text reader gets them
// back and reads on from the pipe, so that the line across the cut is one point.
TEST(LasReaderFactorySniff, PipedTextLongerThanItsHeadIsReadWholeAcrossTheCut) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::string text = "# a header line\n";
  for (int i = 0; text.size() < 3 * input_signature::kHeadSize; i++) {
    text += std::to_string(500000 + i) + ".25 " + std::to_string(4000000 + 2 * i) + ".5 " +
            std::to_string(i % 7) + "\n";
  }
  if (text[input_signature::kHeadSize - 1] == '\n') text.insert(0, " ");
  ASSERT_NE(text[input_signature::kHeadSize - 1], '\n');
  save(dir / "points.txt", std::vector<std::uint8_t>(text.begin(), text.end()));
  const Opened by_name = open_twice({"-i", dir / "points.txt", "-iskip", "1"});
  ASSERT_TRUE(by_name.ok) << by_name.messages;
  FifoFeed feed(dir / "ff", dir / "points.txt");
  ASSERT_TRUE(feed.ok());
  const Opened piped = open_twice({"-i", dir / "ff", "-iskip", "1"});
  ASSERT_TRUE(piped.ok) << piped.messages;
  EXPECT_EQ(piped.first, by_name.first);
  EXPECT_EQ(piped.second, by_name.first);
  EXPECT_EQ(piped.messages, by_name.messages);
}

TEST(LasReaderFactorySniff, GarbageIsRefusedInOneLineBeforeAnythingIsKept) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::vector<std::uint8_t> elf = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<std::vector<std::uint8_t>> garbage = {
      noise_bytes(200000), std::vector<std::uint8_t>(200000, 0), elf, {'a', 'b', 1, 'c'}};
  for (const auto& bytes : garbage) {
    for (const std::string base : {"g.dat", "g", "g.txt"}) {
      save(dir / base, bytes);
      const Opened opened = open_twice({"-i", dir / base});
      EXPECT_FALSE(opened.ok);
      EXPECT_EQ(opened.messages, refusal("'" + dir / base + "'", bytes)) << base;
    }
    // Piped: refused on the first bytes, even under a LAS name, with nothing kept.
    for (const std::string base : {"ff", "ff.las"}) {
      FifoFeed feed(dir / base, bytes, true);
      ASSERT_TRUE(feed.ok());
      const Opened opened = open_twice({"-i", dir / base}, 0);
      EXPECT_FALSE(opened.ok);
      EXPECT_EQ(opened.messages, refusal("'" + dir / base + "'", bytes)) << base;
      EXPECT_EQ(opened.spilled, 0) << base;
    }
  }
  // A damaged file under its format's own name is left to that format's reader, whose
  // message names what is wrong.
  std::vector<std::uint8_t> damaged_header(227, 0);
  std::memcpy(damaged_header.data(), "LASG", 4);
  save(dir / "g.las", damaged_header);
  const Opened damaged = open_twice({"-i", dir / "g.las"});
  EXPECT_FALSE(damaged.ok);
  EXPECT_EQ(damaged.messages.rfind("ERROR: wrong file signature 'LASG'\n", 0), 0u)
      << damaged.messages;
}

TEST(LasReaderFactorySniff, DevicesAreRefusedAsInputsNeighboursAndListedFiles) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string las = dir / "a.las";
  ASSERT_TRUE(select_test::write_las(las, {{1, 1, 1}, {2, 2, 2}}));
  const std::string link = dir / "z.las";
  ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
  for (const std::string& device : {std::string("/dev/zero"), std::string("/dev/urandom"), link}) {
    const std::string line = "ERROR: cannot open file '" + device +
                             "' for read: it is a character device, not a "
                             "point file\n";
    { std::ofstream(dir / "list.txt") << device << "\n"; }
    const std::vector<std::vector<std::string>> forms = {
        {"-i", device},
        {"-lof", dir / "list.txt"},
        {"-i", las, "-neighbors", device, "-buffered", "10"},
        {"-i", las, "-neighbors_lof", dir / "list.txt", "-buffered", "10"},
        {"-i", device, las, "-merged"},
    };
    for (const auto& form : forms) {
      const Opened opened = open_twice(form);
      EXPECT_NE(opened.messages.find(line), std::string::npos)
          << device << " " << form[0] << ": " << opened.messages;
      // Merged input goes on without it (as without a missing file); nothing else reads on.
      EXPECT_EQ(opened.ok, form.back() == "-merged") << device << " " << form[0];
      if (opened.ok) {
        EXPECT_EQ(opened.first.size(), 2u);
      }
    }
  }
}

TEST(LasReaderFactorySniff, AskingForTextReadsTextUnderABinaryNameButNeverBinaryAsText) {
  if (!have_real_files()) GTEST_SKIP() << "real point files not found in " << kReal;
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const Opened pts = open_twice({"-i", kReal + "/test.pts", "-ipts"});
  ASSERT_TRUE(pts.ok) << pts.messages;
  save(dir / "scan.bin", select_test::file_bytes(kReal + "/test.pts"));
  const Opened as_bin = open_twice({"-i", dir / "scan.bin", "-ipts"});
  ASSERT_TRUE(as_bin.ok) << as_bin.messages;
  EXPECT_EQ(as_bin.format_code, pts.format_code);
  EXPECT_EQ(as_bin.first, pts.first);
  // Without the option the name decides, and its reader refuses the text.
  EXPECT_FALSE(open_twice({"-i", dir / "scan.bin"}).ok);

  const Opened las = open_twice({"-i", kReal + "/hextest.las"});
  ASSERT_TRUE(las.ok) << las.messages;
  save(dir / "hex.txt", select_test::file_bytes(kReal + "/hextest.las"));
  for (const char* option : {"-itxt", "-iptx"}) {
    const Opened as_text = open_twice({"-i", dir / "hex.txt", option});
    ASSERT_TRUE(as_text.ok) << option << as_text.messages;
    EXPECT_EQ(as_text.format_code, las.format_code) << option;
    EXPECT_EQ(as_text.first, las.first) << option;
  }
  const Opened parsed = open_twice({"-i", dir / "hex.txt", "-iparse", "xyzi"});
  ASSERT_TRUE(parsed.ok) << parsed.messages;
  EXPECT_EQ(parsed.first, las.first);
}

// Runs `check` in a child whose standard input is the file `input`; the child's exit code.
template <class Check>
int with_stdin(const std::string& input, Check check) {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen(input.c_str(), "rb", stdin) == nullptr) _exit(90);
    _exit(check());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(LasReaderFactorySniff, StandardInputIsReadByItsBytes) {
  if (!have_real_files()) GTEST_SKIP() << "real point files not found in " << kReal;
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  for (const char* file : {"hextest.txt", "time-color.bin", "simple.pkz", "10-word.qi"}) {
    const Opened by_name = open_twice({"-i", kReal + "/" + file});
    ASSERT_TRUE(by_name.ok) << file;
    const int code = with_stdin(kReal + "/" + file, [&] {
      const Opened piped = open_twice({"-stdin"});
      if (!piped.ok) return 1;
      if (piped.format_code != by_name.format_code) return 2;
      return piped.first == by_name.first && piped.second == by_name.first ? 0 : 3;
    });
    EXPECT_EQ(code, 0) << file;
  }
  const std::vector<std::uint8_t> zeros(100000, 0);
  save(dir / "zeros", zeros);
  const std::string expected = refusal("standard input", zeros);
  for (const char* option : {"", "-itxt"}) {
    const int code = with_stdin(dir / "zeros", [&] {
      std::vector<std::string> options = {"-stdin"};
      if (option[0] != '\0') options.push_back(option);
      const Opened piped = open_twice(options, 0);
      return !piped.ok && piped.messages == expected ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << option;
  }
  save(dir / "empty", {});
  const int code = with_stdin(dir / "empty", [&] {
    const Opened piped = open_twice({"-stdin"});
    return piped.messages == "ERROR: standard input is empty: no point file came through it\n" ? 0
                                                                                               : 1;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
