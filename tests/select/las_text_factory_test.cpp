// The factories' text ends: the reader chosen by name with the text options, standard input
// with "-itxt", reopening, and the writer chosen by extension or "-otxt" with its options.

#include <unistd.h>

#include "formats/las_reader_txt.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"
#include "select_test_support.hpp"

namespace {

using select_test::Args;
using select_test::ScratchDir;

}  // namespace

TEST(LasTextFactory, TextOptionsReachTheReaderAndReopenRewinds) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string name =
      dir.touch("survey.las.d/scan.pts", "2\n1 2 3 -1048 1 2 3\n4 5 6 -48 4 5 6\n");
  Args args({"-i", name, "-ipts", "-iparse", "xyziRGB", "-rescale", "0.001", "0.001", "0.001",
             "-iscale_intensity", "2", "-populate"});
  LASreaderFactory factory;
  ASSERT_TRUE(factory.parse(args.argc(), args.data()));
  std::string messages;
  std::unique_ptr<LASreader> reader;
  CAPTURE_STDERR(messages, reader = factory.open());
  ASSERT_NE(reader, nullptr) << messages;
  ASSERT_NE(dynamic_cast<LASreaderTXTrescale*>(reader.get()), nullptr);
  EXPECT_EQ(reader->header.x_scale_factor, 0.001);
  EXPECT_EQ(reader->header.point_count(), 2u);
  ASSERT_TRUE(reader->read_next());
  EXPECT_EQ(reader->point.intensity, 2000);  // (-1048 + 2048) x 2
  EXPECT_EQ(reader->point.rgb[2], 3);
  ASSERT_TRUE(reader->read_next());
  CAPTURE_STDERR(messages, ASSERT_TRUE(factory.reopen(reader.get())));
  ASSERT_TRUE(reader->read_next());
  EXPECT_EQ(reader->point.get_x(), 1.0);
}

TEST(LasTextFactory, StandardInputIsReadAsTextWithItxt) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string text = "7 8 9\n10 11 12\n";
  ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(ends[1]);
  const int saved = dup(STDIN_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(dup2(ends[0], STDIN_FILENO), STDIN_FILENO);
  close(ends[0]);
  Args args({"-stdin", "-itxt"});
  LASreaderFactory factory;
  ASSERT_TRUE(factory.parse(args.argc(), args.data()));
  std::unique_ptr<LASreader> reader = factory.open();
  std::vector<double> xs;
  while (reader && reader->read_next())
    xs.push_back(reader->point.get_x());
  dup2(saved, STDIN_FILENO);
  close(saved);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(xs, (std::vector<double>{7, 10}));
  EXPECT_EQ(factory.open(), nullptr);  // standard input is read once
}

TEST(LasTextFactory, TextOutputIsChosenByExtensionOrOptionWithItsSettings) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  LASheader header = select_test::make_header(1);
  LASpoint point;
  ASSERT_TRUE(point.init_for_point_type(&header, header.point_data_format,
                                        header.point_data_record_length, &header));
  point.X = 150;
  point.intensity = 9;
  struct Case {
    std::vector<std::string> options;
    std::string file;
    std::string text;
  };
  const Case cases[] = {
      {{"-o", dir / "a.txt", "-oparse", "xi"}, "a.txt", "1.50 9\n"},
      {{"-o", dir / "b.las", "-otxt", "-oparse", "xyz", "-osep", "semicolon"},
       "b.las",
       "1.50;0.00;0.00\n"},
      {{"-o", dir / "c.xyz", "-oparse", "iX", "-osep", "tab"}, "c.xyz", "9\t150\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Args args(c.options);
    LASwriterFactory factory;
    ASSERT_TRUE(factory.parse(args.argc(), args.data()));
    std::unique_ptr<LASwriter> writer = factory.open(header);
    ASSERT_NE(writer, nullptr);
    ASSERT_TRUE(writer->write_point(point));
    ASSERT_GT(writer->close_writer(), 0);
    std::ifstream in(dir / c.file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.text);
  }
  Args bad({"-o", dir / "d.txt", "-osep", "pipe"});
  LASwriterFactory factory;
  ASSERT_TRUE(factory.parse(bad.argc(), bad.data()));
  std::string messages;
  std::unique_ptr<LASwriter> writer;
  CAPTURE_STDERR(messages, writer = factory.open(header));
  EXPECT_EQ(writer, nullptr);
  EXPECT_EQ(messages,
            "ERROR: unknown seperator 'pipe'\nERROR: cannot open laswritertxt with file name '" +
                dir / "d.txt" + "'\n");
}
