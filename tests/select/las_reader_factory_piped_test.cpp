// Piped LAS and PKZ input, fed through a FIFO: every pass gets the points (and the extended
// records) of the file by name; the factory holds the input as it arrived, in memory up to
// its limit, else in a temporary file, and never stores it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/pakrel.hpp"
#include "formats/las_reader_stored.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "scene/scene_las.hpp"
#include "select/las_reader_factory.hpp"
#include "select/select_test_support.hpp"
#include "stream/bytestream_blocks.hpp"

namespace {

using select_test::Args;
using select_test::ScratchDir;

using select_test::FifoFeed;

std::vector<std::vector<double>> read_all(LASreader& reader) {
  std::vector<std::vector<double>> points;
  while (reader.read_next()) {
    const LASpoint& p = reader.point;
    points.push_back({double(p.X), double(p.Y), double(p.Z), double(p.intensity),
                      double(p.extended_return_number), double(p.extended_classification),
                      double(p.point_source_ID), p.gps_time, double(p.rgb[0])});
  }
  return points;
}

bool compress(const std::string& las, const std::string& pkz) {
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return false;
  LASheader header = reader.header;
  const std::uint16_t compressor = (header.point_data_format & 0x7F) >= 6
                                       ? Pakrel::COMPRESSOR_LAYERED
                                       : Pakrel::COMPRESSOR_CHUNKED;
  LASwriterLAS writer;
  if (!writer.open_file(pkz.c_str(), &header, compressor)) return false;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return false;
    writer.count_point(reader.point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) > 0;
}

TEST(LasReaderFactoryPiped, AFifoGivesThePointsByNameInEveryPassHeldInMemoryOrInAFile) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  std::vector<std::string> inputs;
  for (int point_type : {1, 6}) {
    const std::string las = dir / ("scene" + std::to_string(point_type) + ".las");
    SceneFileOptions options;
    options.scene.points = 30000;
    options.point_type = point_type;
    ASSERT_TRUE(write_scene_las(las.c_str(), options));
    ASSERT_TRUE(compress(las, las.substr(0, las.size() - 3) + "pkz"));
    inputs.push_back(las);
    inputs.push_back(las.substr(0, las.size() - 3) + "pkz");
  }
  for (const std::int64_t limit : {LASreaderFactory::kPipedMemoryLimit, std::int64_t{4096}}) {
    for (const std::string& input : inputs) {
      SCOPED_TRACE(input + " limit " + std::to_string(limit));
      LASreaderLAS by_name;
      ASSERT_TRUE(by_name.open_file(input.c_str()));
      const auto expected = read_all(by_name);
      by_name.close_reader();

      const std::string fifo = dir / "fifo.las";
      FifoFeed feed(fifo, input);
      ASSERT_TRUE(feed.ok());
      LASreaderFactory factory;
      factory.set_piped_memory_limit(limit);
      Args args({"-i", fifo});
      ASSERT_TRUE(factory.parse(args.argc(), args.data()));
      std::unique_ptr<LASreader> reader = factory.open();
      ASSERT_NE(reader, nullptr);
      EXPECT_EQ(dynamic_cast<LASreaderStored*>(reader.get()), nullptr);
      EXPECT_EQ(read_all(*reader), expected);
      for (int pass = 2; pass <= 3; pass++) {
        ASSERT_TRUE(factory.reopen(reader.get())) << "pass " << pass;
        EXPECT_EQ(read_all(*reader), expected) << "pass " << pass;
      }
      const auto size = static_cast<std::int64_t>(std::filesystem::file_size(input));
      const auto block = static_cast<std::int64_t>(ByteBlocks::kBlockSize);
      if (size > limit) {
        EXPECT_EQ(factory.piped_allocation(), 0);
        EXPECT_EQ(factory.piped_bytes_spilled(), size);
      } else {
        // The input's own bytes, nothing re-encoded beside them, in whole blocks.
        EXPECT_EQ(factory.piped_bytes_held(), size);
        EXPECT_LE(factory.piped_allocation(), size + block);
        EXPECT_EQ(factory.piped_bytes_spilled(), 0);
      }
    }
  }
}

// In memory and through the temporary file ("-piped_memory 0"), in both passes.
TEST(LasReaderFactoryPiped, APipedLas14FileKeepsItsExtendedRecords) {
  for (const char* name : {"1_4_w_evlr.las", "1_4_w_evlr.pkz"}) {
    const std::string input = std::string(ISOCULL_REAL_DATA_DIR) + "/" + name;
    if (!std::filesystem::exists(input)) GTEST_SKIP() << "real file not found: " << input;
    LASreaderLAS by_name;
    ASSERT_TRUE(by_name.open_file(input.c_str()));
    ASSERT_GT(by_name.header.evlrs.size(), 0u);
    const LASheader expected_header = by_name.header;
    const auto expected = read_all(by_name);
    by_name.close_reader();

    for (const char* megabytes : {"64", "0"}) {
      SCOPED_TRACE(std::string(name) + " -piped_memory " + megabytes);
      ScratchDir dir;
      ASSERT_TRUE(dir.ok());
      const std::string fifo = dir / "fifo.las";
      FifoFeed feed(fifo, input);
      ASSERT_TRUE(feed.ok());
      LASreaderFactory factory;
      Args args({"-i", fifo, "-piped_memory", megabytes});
      ASSERT_TRUE(factory.parse(args.argc(), args.data()));
      std::string errors;
      std::unique_ptr<LASreader> reader;
      CAPTURE_STDERR(errors, reader = factory.open());
      ASSERT_NE(reader, nullptr);
      EXPECT_EQ(errors.find("EVLR"), std::string::npos) << errors;
      EXPECT_EQ(factory.piped_bytes_spilled() > 0, megabytes[0] == '0');
      for (int pass = 1; pass <= 2; pass++) {
        if (pass == 2) {
          ASSERT_TRUE(factory.reopen(reader.get()));
        }
        ASSERT_EQ(reader->header.evlrs.size(), expected_header.evlrs.size());
        for (std::size_t i = 0; i < expected_header.evlrs.size(); i++) {
          EXPECT_EQ(reader->header.evlrs[i].record_id, expected_header.evlrs[i].record_id);
          EXPECT_EQ(reader->header.evlrs[i].data, expected_header.evlrs[i].data);
        }
        EXPECT_EQ(read_all(*reader), expected) << "pass " << pass;
      }
    }
  }
}

}  // namespace
