#include "select/las_writer_factory.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "las/las_writer_las.hpp"
#include "select_test_support.hpp"

using select_test::Args;
using select_test::ScratchDir;

namespace {

struct ParseResult {
  bool ok;
  std::string messages;
};

ParseResult parse(LASwriterFactory& factory, Args& args) {
  ParseResult result{};
  CAPTURE_STDERR(result.messages, result.ok = factory.parse(args.argc(), args.data()));
  return result;
}

ParseResult parse(LASwriterFactory& factory, std::vector<std::string> entries) {
  Args args(std::move(entries));
  return parse(factory, args);
}

// The output name derived for `input` after the options, and what was printed.
struct Derived {
  std::string name;
  std::string messages;
};

Derived derive(std::vector<std::string> options, const char* input, int number = -1) {
  LASwriterFactory factory;
  const ParseResult parsed = parse(factory, std::move(options));
  EXPECT_TRUE(parsed.ok) << parsed.messages;
  Derived derived;
  CAPTURE_STDERR(derived.messages, factory.derive_file_name(input, number));
  derived.name = factory.get_file_name() ? factory.get_file_name() : "(null)";
  return derived;
}

TEST(LasWriterFactoryOptions, MissingArgumentsPrintTheirExactMessages) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-o", "file_name"},
      {"-odir", "directory"},
      {"-odix", "appendix"},
      {"-ocut", "number of characters to cut"},
      {"-chunk_size", "number_points"},
      {"-oparse", "string"},
      {"-osep", "separator"},
      {"-oscale_rgb", "scale"},
      {"-io_obuffer", "size"},
  };
  for (const auto& [option, what] : cases) {
    SCOPED_TRACE(option);
    LASwriterFactory factory;
    const ParseResult result = parse(factory, {option});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.messages, "ERROR: '" + option + "' needs 1 argument: " + what + "\n");
  }
}

TEST(LasWriterFactoryOptions, ADirectoryThatDoesNotExistIsRefused) {
  LASwriterFactory factory;
  const ParseResult result = parse(factory, {"-odir", "/nonexistent/out"});
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messages,
            "ERROR: '/nonexistent/out' is not a valid directory\n"
            "       it does not exist: create it first (mkdir -p '/nonexistent/out')\n");
  // A name that exists but is no folder is not one to create.
  LASwriterFactory file;
  const ParseResult not_a_folder = parse(file, {"-odir", "/dev/null"});
  EXPECT_FALSE(not_a_folder.ok);
  EXPECT_EQ(not_a_folder.messages,
            "ERROR: '/dev/null' is not a valid directory\n       it is no folder\n");
}

TEST(LasWriterFactoryOptions, ADirectoryWithAQuoteWarnsInFourLinesAndGoesOn) {
  LASwriterFactory factory;
  const ParseResult result = parse(factory, {"-odir", "D:\""});
  EXPECT_FALSE(result.ok);  // "D:\"" is no directory here
  EXPECT_EQ(result.messages,
            "WARNING: specified '-odir' seems to contain a substring '\\\"' such\n"
            "         as -odir \"D:\\\" or -odir \"..\\tiles\\\". this command will\n"
            "         probably fail. please use -odir \"D:\" or -odir \"..\\tiles\"\n"
            "         instead.\n"
            "ERROR: 'D:\"' is not a valid directory\n"
            "       it does not exist: create it first (mkdir -p 'D:\"')\n");
  LASwriterFactory drive;
  EXPECT_TRUE(drive.set_directory("D:\\"));  // a drive prefix is taken as given
  EXPECT_STREQ(drive.get_directory(), "D:");
  // No directory: names are written where they are given again.
  EXPECT_TRUE(drive.set_directory(nullptr));
  EXPECT_EQ(drive.get_directory(), nullptr);
}

TEST(LasWriterFactoryOptions, SettingsLandInTheirFieldsAndOtherOptionsStay) {
  Args args({"-o",    "out.las", "-keep_class", "2",     "-oforce", "-compatible", "-chunk_size",
             "1000",  "-oparse", "xyzi",        "-osep", "comma",   "-oscale_rgb", "0.5",
             "-opts", "-optx",   "-io_obuffer", "4096",  "-stdout", "-step",       "2"});
  LASwriterFactory factory;
  const ParseResult result = parse(factory, args);
  ASSERT_TRUE(result.ok) << result.messages;
  EXPECT_EQ(args.left(), (std::vector<std::string>{"-keep_class", "2", "-step", "2"}));
  const LASwriterSettings& s = factory.settings();
  EXPECT_STREQ(factory.get_file_name(), "out.las");
  EXPECT_TRUE(s.force);
  EXPECT_FALSE(s.native);
  EXPECT_EQ(s.chunk_size, 1000u);
  EXPECT_EQ(s.parse_string, "xyzi");
  EXPECT_EQ(s.separator, "comma");
  EXPECT_EQ(s.scale_rgb, 0.5f);
  EXPECT_TRUE(s.opts);
  EXPECT_TRUE(s.optx);
  EXPECT_EQ(s.output_buffer_size, 4096u);
  EXPECT_TRUE(s.to_stdout);
  EXPECT_TRUE(factory.active());
}

TEST(LasWriterFactoryOptions, HelpPrintsTheUsageWithWindowsExamplePaths) {
  LASwriterFactory factory;
  const ParseResult result = parse(factory, {"-h", "-o"});
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.messages,
            "Supported LAS Outputs\n"
            "  -o lidar.las\n"
            "  -o lidar.pkz\n"
            "  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n"
            "  -o terrasolid.bin\n"
            "  -o nasa.qi\n"
            "  -odir C:\\data\\ground (specify output directory)\n"
            "  -odix _classified (specify file name appendix)\n"
            "  -ocut 2 (cut the last two characters from name)\n"
            "  -olas -opkz -otxt -obin -oqfit (specify format)\n"
            "  -stdout (pipe to stdout)\n"
            "  -nil    (pipe to NULL)\n");
}

TEST(LasWriterFactoryNames, ExplicitNamesChooseOrReceiveTheFormat) {
  struct Case {
    std::vector<std::string> options;
    std::string name;
    std::uint32_t format;
  };
  const Case cases[] = {
      {{"-o", "out"}, "out.las", LASwriterFactory::kFormatDefault},
      {{"-o", "out.pkz"}, "out.pkz", LASwriterFactory::kFormatPKZ},
      {{"-o", "OUT.LAS  "}, "OUT.LAS", LASwriterFactory::kFormatLAS},
      {{"-o", "out.las", "-opkz"}, "out.pkz", LASwriterFactory::kFormatPKZ},
      {{"-o", "out.las", "-otxt"}, "out.las", LASwriterFactory::kFormatTXT},
      {{"-o", "out.json"}, "out.json.las", LASwriterFactory::kFormatDefault},
      {{"-o", "out.xyz"}, "out.xyz", LASwriterFactory::kFormatTXT},
      {{"-o", "out.qi"}, "out.qi", LASwriterFactory::kFormatQFIT},
      {{"-o", "out.bin"}, "out.bin", LASwriterFactory::kFormatBIN},
      {{"-o", "out.wrl"}, "out.wrl", LASwriterFactory::kFormatWRL},
      {{"-opkz", "-o", "out"}, "out.pkz", LASwriterFactory::kFormatPKZ},
      // A format given by option is not changed by the name's extension.
      {{"-opkz", "-o", "out.las"}, "out.las", LASwriterFactory::kFormatPKZ},
      {{"-o", "in/out.las", "-odix", "_d"}, "in/out_d.las", LASwriterFactory::kFormatLAS},
      {{"-o", "in/out01.las", "-ocut", "2"}, "in/out.las", LASwriterFactory::kFormatLAS},
      {{"-o", "in/ab.las", "-ocut", "5"}, "in/.las", LASwriterFactory::kFormatLAS},
      {{"-odir", "/", "-o", "C:\\in\\out.las"}, "/out.las", LASwriterFactory::kFormatLAS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASwriterFactory factory;
    const ParseResult result = parse(factory, c.options);
    ASSERT_TRUE(result.ok) << result.messages;
    EXPECT_STREQ(factory.get_file_name(), c.name.c_str());
    EXPECT_EQ(factory.get_format(), c.format);
  }
}

TEST(LasWriterFactoryNames, AnExtensionOfNoFormatWritesTextWithOneWarning) {
  const auto warning = [](const std::string& name) {
    return "WARNING: writing text points to '" + name +
           "'; give -olas or -opkz for a binary point file\n";
  };
  struct Case {
    std::vector<std::string> options;
    std::string messages;
  };
  const Case cases[] = {
      {{"-o", "out.abc"}, warning("out.abc")},
      {{"-o", "out.dat"}, warning("out.dat")},
      {{"-o", "out.Las"}, warning("out.Las")},
      {{"-o", "out.pk"}, warning("out.pk")},
      {{"-o", "out.dat", "-odir", "/tmp", "-odix", "_d"}, warning("/tmp/out_d.dat")},
      {{"-o", "out.txt"}, ""},
      {{"-o", "out.TXT"}, ""},
      {{"-o", "out.csv"}, ""},
      {{"-o", "out.Xyz"}, ""},
      {{"-o", "out.pts"}, ""},
      {{"-o", "out.ptx"}, ""},
      {{"-o", "out.asc"}, ""},
      {{"-o", "out."}, ""},
      {{"-o", "out"}, ""},
      {{"-o", "out.json"}, ""},
      {{"-o", "out.abc", "-otxt"}, ""},
      {{"-otxt", "-o", "out.abc"}, ""},
      {{"-o", "out.abc", "-olas"}, ""},
      {{"-o", "out.abc", "-obin"}, ""},
      {{"-o", "out.las"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[1]);
    LASwriterFactory factory;
    const ParseResult result = parse(factory, c.options);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.messages, c.messages);
  }
}

TEST(LasWriterFactoryNames, DerivedNamesFollowTheInputName) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::filesystem::create_directory(dir / "out");
  EXPECT_EQ(derive({"-olas"}, "in/tile.pkz").name, "in/tile_1.las");
  EXPECT_EQ(derive({"-olas", "-odix", "_d"}, "in/tile.pkz").name, "in/tile_d.las");
  EXPECT_EQ(derive({"-olas", "-odir", dir / "out"}, "in/tile.pkz").name, dir / "out/tile.las");
  EXPECT_EQ(derive({"-odir", dir / "out/"}, "in/tile.pkz").name, dir / "out/tile.las");
  EXPECT_EQ(derive({"-opkz", "-odix", "_d", "-odir", dir / "out"}, "in/tile.las").name,
            dir / "out/tile_d.pkz");
  EXPECT_EQ(derive({"-ocut", "2"}, "tile01.las").name, "tile.las");
  EXPECT_EQ(derive({"-ocut", "2", "-odix", "_x"}, "in/tile01.las").name, "in/tile_x.las");
  EXPECT_EQ(derive({}, "in/tile").name, "in/tile_1.las");
  EXPECT_EQ(derive({}, "in.d/tile").name, "in.d/tile_1.las");
  EXPECT_EQ(derive({"-opkz"}, nullptr).name, "output.pkz");
  // Names written with Windows separators are taken apart at "\\" and ":".
  EXPECT_EQ(derive({"-olas"}, "C:\\in\\tile.pkz").name, "C:\\in\\tile_1.las");
  EXPECT_EQ(derive({"-odix", "_d"}, "C:\\in\\tile.pkz").name, "C:\\in\\tile_d.las");
  EXPECT_EQ(derive({"-odir", dir / "out"}, "C:\\in\\tile.pkz").name, dir / "out/tile.las");
  EXPECT_EQ(derive({"-odir", dir / "out"}, "C:tile.las").name, dir / "out/tile.las");
}

// The name stays what it is: the tool refuses to write over an input, where one shared
// stand-in name would have every such file overwrite the one before.
TEST(LasWriterFactoryNames, ANameEqualToTheInputStaysForTheToolToRefuse) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::filesystem::create_directory(dir / "in");
  const std::string input = dir / "in/tile.las";
  const Derived same = derive({"-odir", dir / "in"}, input.c_str());
  EXPECT_EQ(same.name, input);
  EXPECT_EQ(same.messages, "");
  EXPECT_EQ(derive({"-odir", dir / "in", "-opkz"}, (dir / "in/tile.pkz").c_str()).name,
            dir / "in/tile.pkz");
  const Derived forced = derive({"-odir", dir / "in", "-oforce"}, input.c_str());
  EXPECT_EQ(forced.name, input);
  EXPECT_EQ(forced.messages, "");
}

TEST(LasWriterFactoryNames, NumbersFillTheDigitsInFrontOfTheExtension) {
  EXPECT_EQ(derive({}, nullptr, 42).name, "output_0000042.las");
  const Derived wide = derive({}, nullptr, 12345678);
  EXPECT_EQ(wide.name, "output_2345678.las");
  EXPECT_EQ(wide.messages,
            "WARNING: file name number 12345678 too big to store in 'output_0000000.xxx'. use "
            "more digits.\n");
  EXPECT_EQ(derive({"-o", "strip_000.pkz"}, nullptr, 7).name, "strip_007.pkz");
  EXPECT_EQ(derive({"-opkz"}, "in/tile_00.las", 5).name, "in/tile_05.pkz");
}

TEST(LasWriterFactoryNames, EditsApplyToANameAlreadySet) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  LASwriterFactory factory;
  factory.set_file_name("in/tile01.las");
  factory.set_cut(2);
  EXPECT_STREQ(factory.get_file_name(), "in/tile.las");
  factory.set_appendix("_x");
  EXPECT_STREQ(factory.get_file_name(), "in/tile_x.las");
  EXPECT_TRUE(factory.set_directory(dir.path().c_str()));
  EXPECT_EQ(std::string(factory.get_file_name()), dir / "tile_x.las");
  EXPECT_TRUE(factory.set_format(LASwriterFactory::kFormatPKZ));
  EXPECT_EQ(std::string(factory.get_file_name()), dir / "tile_x.pkz");
  EXPECT_FALSE(factory.set_format(7));
  factory.set_file_name(nullptr);
  EXPECT_EQ(factory.get_file_name(), nullptr);
  EXPECT_FALSE(factory.active());
}

TEST(LasWriterFactoryNames, AnExistingDeviceKeepsItsNameWhateverEditFollows) {
  LASwriterFactory factory;
  factory.set_appendix("_d");
  factory.set_file_name("/dev/null");
  EXPECT_STREQ(factory.get_file_name(), "/dev/null");
  EXPECT_TRUE(factory.set_format(LASwriterFactory::kFormatPKZ));
  factory.set_appendix("_e");
  factory.set_cut(2);
  EXPECT_TRUE(factory.set_directory("/tmp"));
  EXPECT_STREQ(factory.get_file_name(), "/dev/null");
  EXPECT_EQ(factory.get_format(), LASwriterFactory::kFormatPKZ);
  // A name derived afterwards is a name like any other.
  factory.set_cut(0);
  factory.derive_file_name("in/tile.las");
  EXPECT_STREQ(factory.get_file_name(), "/tmp/tile_e.pkz");
  factory.set_format(LASwriterFactory::kFormatLAS);
  EXPECT_STREQ(factory.get_file_name(), "/tmp/tile_e.las");
}

TEST(LasWriterFactoryOptions, NilWinsOverFileAndStandardOutput) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string out = dir.path() + "/out.las";
  LASwriterFactory factory;
  ASSERT_TRUE(parse(factory, {"-o", out, "-stdout", "-nil", "-stdout"}).ok);
  EXPECT_TRUE(factory.settings().to_nil);
  EXPECT_TRUE(factory.settings().to_stdout);
  const LASheader header = select_test::make_header(0);
  std::unique_ptr<LASwriter> writer = factory.open(header);
  ASSERT_NE(writer, nullptr);
  EXPECT_GT(writer->close_writer(true), 0);
  EXPECT_FALSE(std::filesystem::exists(out));
}

// Writes `count` points of a point type 1 header through the writer.
void write_points(LASwriter& writer, const LASheader& header, int count) {
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, 1, 28, &header));
  for (int i = 0; i < count; i++) {
    point.X = i;
    EXPECT_TRUE(writer.write_point(point));
  }
}

TEST(LasWriterFactoryOpen, WritesALasFileToTheDerivedName) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  LASwriterFactory factory;
  ASSERT_TRUE(parse(factory, {"-odir", dir.path(), "-olas"}).ok);
  factory.derive_file_name("/elsewhere/tile.pkz");
  const LASheader header = select_test::make_header(3);
  std::unique_ptr<LASwriter> writer = factory.open(header);
  ASSERT_NE(writer, nullptr);
  write_points(*writer, header, 3);
  EXPECT_GT(writer->close_writer(true), 0);
  writer.reset();
  const auto bytes = select_test::file_bytes(dir / "tile.las");
  ASSERT_EQ(bytes.size(), 227u + 3 * 28);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "LASF");
  EXPECT_EQ(select_test::at<std::uint32_t>(bytes, 107), 3u);
}

TEST(LasWriterFactoryOpen, WritesToStandardOutputThatCannotSeek) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_ends[0]);
    if (dup2(pipe_ends[1], STDOUT_FILENO) < 0) _exit(2);
    LASwriterFactory factory;
    Args args({"-stdout"});
    if (!factory.parse(args.argc(), args.data())) _exit(3);
    const LASheader header = select_test::make_header(2);
    std::unique_ptr<LASwriter> writer = factory.open(header);
    if (!writer) _exit(4);
    LASpoint point;
    if (!point.init_for_point_type(&header, 1, 28, &header)) _exit(5);
    for (int i = 0; i < 2; i++) {
      if (!writer->write_point(point)) _exit(6);
    }
    if (writer->close_writer(true) <= 0) _exit(7);
    std::fflush(stdout);
    _exit(0);
  }
  close(pipe_ends[1]);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[4096];
  ssize_t got = 0;
  while ((got = read(pipe_ends[0], buffer, sizeof(buffer))) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  close(pipe_ends[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(bytes.size(), 227u + 2 * 28);
  EXPECT_EQ(select_test::at<std::uint32_t>(bytes, 107), 2u);
}

TEST(LasWriterFactoryOpen, AnUnwritableDirectoryGivesTheOpenFailure) {
  LASwriterFactory factory;
  factory.set_file_name("/nonexistent/dir/out.las");
  const LASheader header = select_test::make_header(1);
  std::string messages;
  std::unique_ptr<LASwriter> writer;
  CAPTURE_STDERR(messages, writer = factory.open(header));
  EXPECT_EQ(writer, nullptr);
  EXPECT_EQ(messages,
            "ERROR: cannot open file '/nonexistent/dir/out.las' for write\n"
            "ERROR: cannot open laswriterlas with file name '/nonexistent/dir/out.las'\n");
}

TEST(LasWriterFactoryOpen, UnbuiltFormatsAndMissingOutputsAreRefusedByName) {
  const LASheader header = select_test::make_header(1);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-o", "out", "-owrl"},
       "ERROR: writing VRML files ('out.wrl') is not supported in this version\n"},
      {{}, "ERROR: no laswriter output specified\n"},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(message);
    LASwriterFactory factory;
    ASSERT_TRUE(parse(factory, options).ok);
    std::string messages;
    std::unique_ptr<LASwriter> writer;
    CAPTURE_STDERR(messages, writer = factory.open(header));
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(messages, message);
  }
}

TEST(LasWriterFactoryOpen, CompressedNewPointTypesNeedTheNativeCompressor) {
  const LASheader header = select_test::make_header(1, 0, 6);
  {
    // Through the nil writer, so that no file is needed.
    LASwriterFactory factory;
    ASSERT_TRUE(parse(factory, {"-compatible", "-opkz", "-nil"}).ok);
    std::string messages;
    std::unique_ptr<LASwriter> writer;
    CAPTURE_STDERR(messages, writer = factory.open(header));
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(messages,
              "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Pakrel\n"
              "ERROR: cannot open laswriterlas to NULL\n");
  }
  {
    LASwriterFactory factory;
    ASSERT_TRUE(parse(factory, {"-opkz", "-nil"}).ok);
    // Until the item codecs are in the codec table the engine setup may still refuse.
    std::string messages;
    std::unique_ptr<LASwriter> writer;
    CAPTURE_STDERR(messages, writer = factory.open(header));
    EXPECT_EQ(messages.find("requires using"), std::string::npos) << messages;
  }
}

}  // namespace
