// The factories open the Terrasolid binary, QFIT and shapefile readers and writers by
// extension and option, in the converting forms the rescale and reoffset options ask for.

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_writer_bin.hpp"
#include "formats/las_writer_qfit.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"
#include "select_test_support.hpp"

namespace {

const std::string kRealData = ISOCULL_REAL_DATA_DIR;

std::vector<std::int32_t> xs_of(LASreader& reader) {
  std::vector<std::int32_t> xs;
  while (reader.read_next())
    xs.push_back(reader.point.X);
  return xs;
}

TEST(LasReaderFactoryFormats, RealFilesOpenInTheirReaderAndReopenToTheSamePoints) {
  const std::string bin = kRealData + "/time-color.bin";
  const std::string qi = kRealData + "/10-word.qi";
  if (!std::filesystem::exists(bin) || !std::filesystem::exists(qi)) {
    GTEST_SKIP() << "real data not present: " << kRealData;
  }
  for (const std::string& name : {bin, qi}) {
    SCOPED_TRACE(name);
    LASreaderFactory factory;
    factory.add_file_name(name.c_str());
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->format_code(), name == bin ? 3 : 4);
    const std::vector<std::int32_t> first = xs_of(*reader);
    EXPECT_EQ(first.size(), reader->header.point_count());
    ASSERT_TRUE(factory.reopen(reader.get()));
    EXPECT_EQ(xs_of(*reader), first);
  }
}

TEST(LasReaderFactoryFormats, RescaleAndReoffsetConvertTheCoordinatesOfEachFormat) {
  const std::string bin = kRealData + "/time-color.bin";
  const std::string qi = kRealData + "/10-word.qi";
  if (!std::filesystem::exists(bin) || !std::filesystem::exists(qi)) {
    GTEST_SKIP() << "real data not present: " << kRealData;
  }
  struct Case {
    std::string name;
    std::vector<double> scale, offset;
  };
  // y of the binary file (3,437,612 m) at 0.001 would pass 32 bits: y keeps its factor.
  const Case cases[] = {{bin, {0.001, 0.0, 0.0}, {}},
                        {bin, {}, {5.0, 0.0, 0.0}},
                        {qi, {0.0000001, 0.0, 0.0}, {1.0, 0.0, 0.0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASreaderFactory plain_factory;
    plain_factory.add_file_name(c.name.c_str());
    std::unique_ptr<LASreader> plain = plain_factory.open();
    ASSERT_NE(plain, nullptr);
    LASreaderFactory factory;
    factory.add_file_name(c.name.c_str());
    factory.set_scale_factor(c.scale.empty() ? nullptr : c.scale.data());
    factory.set_offset(c.offset.empty() ? nullptr : c.offset.data());
    std::unique_ptr<LASreader> converted = factory.open();
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->header.x_scale_factor,
              c.scale.empty() ? plain->header.x_scale_factor : c.scale[0]);
    EXPECT_EQ(converted->header.x_offset, c.offset.empty() ? plain->header.x_offset : c.offset[0]);
    // z keeps its factor where none was asked for.
    EXPECT_EQ(converted->header.z_scale_factor, plain->header.z_scale_factor);
    for (int i = 0; i < 50 && plain->read_next(); i++) {
      ASSERT_TRUE(converted->read_next());
      EXPECT_NEAR(converted->point.get_x(), plain->point.get_x(), converted->header.x_scale_factor);
      EXPECT_EQ(converted->point.Z, plain->point.Z);
    }
  }
}

TEST(LasReaderFactoryFormats, MissingFilesNameTheirReader) {
  for (const char* reader : {"bin", "shp", "qfit"}) {
    const std::string name =
        std::string("/nonexistent/points.") + (reader[0] == 'q' ? "qi" : reader);
    LASreaderFactory factory;
    factory.add_file_name(name.c_str());
    std::string messages;
    std::unique_ptr<LASreader> opened;
    CAPTURE_STDERR(messages, opened = factory.open());
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(messages, "ERROR: cannot open file '" + name + "'\nERROR: cannot open lasreader" +
                            reader + " with file name '" + name + "'\n");
  }
}

TEST(LasWriterFactoryFormats, ExtensionsAndOptionsOpenTheFormatWriters) {
  select_test::ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const LASheader header = select_test::make_header(0);
  struct Case {
    std::vector<std::string> options;
    std::string file;
    bool bin;
  };
  const Case cases[] = {{{"-o", dir / "a.bin"}, dir / "a.bin", true},
                        {{"-o", dir / "b", "-obin"}, dir / "b.bin", true},
                        {{"-o", dir / "c.qi"}, dir / "c.qi", false},
                        {{"-o", dir / "d", "-oqfit"}, dir / "d.qi", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    select_test::Args args(c.options);
    LASwriterFactory factory;
    ASSERT_TRUE(factory.parse(args.argc(), args.data()));
    std::unique_ptr<LASwriter> writer = factory.open(header);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(dynamic_cast<LASwriterBIN*>(writer.get()) != nullptr, c.bin);
    EXPECT_EQ(dynamic_cast<LASwriterQFIT*>(writer.get()) != nullptr, !c.bin);
    EXPECT_NE(writer->close_writer(true), 0);
    const std::vector<std::uint8_t> bytes = select_test::file_bytes(c.file);
    // Binary output has 16-byte records (version 20010712), QFIT 40-byte ones.
    ASSERT_GE(bytes.size(), 8u);
    std::int32_t word;
    std::memcpy(&word, bytes.data() + (c.bin ? 4 : 0), 4);
    EXPECT_EQ(word, c.bin ? 20010712 : 40);
  }
}

}  // namespace
