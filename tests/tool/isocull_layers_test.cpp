// End to end: a LAY file written with -olay, applied while reading, gives exactly the points
// of the full copy the same options write; layers chain; a LAY file never touches a point
// file it was not made for.

#include <gtest/gtest.h>

#include <fstream>

#include "isocull_run.hpp"
#include "layers/las_apply.hpp"
#include "layers/lay_file.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

constexpr std::uint32_t kBlock = 65536;  // the tool's identity block

// Reads `input` through its LAY file in `laydir` and writes the points as LAS (records of
// the input's layout, uncompressed); false when the LAY file did not load.
bool write_applied(const std::string& input, const std::string& laydir, const std::string& output,
                   std::vector<LAYlayer>* layers = nullptr) {
  auto reader = std::make_unique<LASreaderLAS>();
  if (!reader->open_file(input.c_str())) return false;
  LASapply apply;
  apply.set_directory(laydir.c_str());
  if (!apply.open(*reader, input, kBlock) || !apply.load_layers(2147483647)) {
    ADD_FAILURE() << apply.failure();
    return false;
  }
  if (layers != nullptr) *layers = apply.layers();
  apply.take_reader(std::move(reader));
  LASheader header = apply.header;
  header.codec.reset();
  LASwriterLAS writer;
  if (!writer.open_file(output.c_str(), &header)) return false;
  while (apply.read_next()) {
    if (!writer.write_point(apply.point)) return false;
    writer.count_point(apply.point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

void expect_same_records(const std::string& expected_path, const std::string& actual_path) {
  const LasRecords expected = read_records(expected_path);
  const LasRecords actual = read_records(actual_path);
  ASSERT_TRUE(expected.ok) << expected_path;
  ASSERT_TRUE(actual.ok) << actual_path;
  ASSERT_EQ(actual.records.size(), expected.records.size());
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < expected.records.size(); i++) {
    if (actual.records[i] != expected.records[i] && wrong++ < 5)
      ADD_FAILURE() << "record " << i << " differs";
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(actual.header.point_count(), expected.header.point_count());
}

class IsocullLayers : public ToolFolders {
 protected:
  // -olay into "lay" and the full copy with the same options; then the input read through
  // the LAY file must hold the full copy's points.
  void check_layer_equals_copy(const std::string& input, const std::vector<std::string>& options) {
    remove_tree(path("lay"));
    ASSERT_EQ(mkdir(path("lay").c_str(), 0755), 0);
    std::vector<std::string> layer_args = {"-i", input, "-olaydir", path("lay")};
    layer_args.insert(layer_args.end(), options.begin(), options.end());
    const ToolRun layered = run(layer_args);
    ASSERT_EQ(layered.exit_code, 0) << layered.err;
    EXPECT_TRUE(layered.printed("done with '" + input + "'")) << layered.err;
    EXPECT_EQ(layered.count("WARNING: do not expect LAY files"), 1u);
    ASSERT_EQ(listing("lay").size(), 1u) << "the LAY file and nothing else";
    EXPECT_TRUE(listing("out").empty());

    std::vector<std::string> copy_args = {"-i", input, "-o", path("out/full.las")};
    copy_args.insert(copy_args.end(), options.begin(), options.end());
    const ToolRun copy = run(copy_args);
    ASSERT_EQ(copy.exit_code, 0) << copy.err;
    ASSERT_TRUE(write_applied(input, path("lay"), path("out/applied.las")));
    if (exists(path("out/full.las"))) {
      expect_same_records(path("out/full.las"), path("out/applied.las"));
    } else {
      // Every point was noise and removed: nothing is left when read through the layer.
      EXPECT_EQ(read_records(path("out/applied.las")).records.size(), 0u);
    }
    std::remove(path("out/full.las").c_str());
    std::remove(path("out/applied.las").c_str());
  }
};

const std::vector<std::vector<std::string>> kModes = {
    {},
    {"-step", "2", "-isolated", "2", "-classify_as", "9"},
    {"-step_xy", "3", "-step_z", "1.5", "-isolated", "8", "-flag_as_withheld"},
    {"-remove_noise"},
    {"-step", "100", "-isolated", "6", "-remove_noise", "-meter"},
    {"-step", "2", "-isolated", "2", "-remove_noise", "-ignore_class", "2"},
};

TEST_F(IsocullLayers, GeneratedFilesReadThroughTheirLayerHoldTheFullCopysPoints) {
  // A legacy and an extended point type; the real files bring the others.
  for (int point_type : {1, 8}) {
    SCOPED_TRACE("point type " + std::to_string(point_type));
    const std::string scene = path("in/scene" + std::to_string(point_type) + ".las");
    ASSERT_TRUE(write_scene(scene, 8000, point_type, 3, false, 0.02));
    for (const auto& options : kModes)
      check_layer_equals_copy(scene, options);
  }
}

TEST_F(IsocullLayers, RealFilesReadThroughTheirLayerHoldTheFullCopysPoints) {
  if (!exists(kRealData + "/simple.las")) GTEST_SKIP() << "no real files in " << kRealData;
  for (const char* name : {"simple.las", "simple1_3.las", "simple1_4.las", "extrabytes.las",
                           "1_4_w_evlr.las", "simple.pkz", "no-points.las"}) {
    SCOPED_TRACE(name);
    for (std::size_t mode : {0, 4}) {  // flagging is covered by the generated files
      std::vector<std::string> metre = kModes[mode];
      metre.push_back("-meter");
      check_layer_equals_copy(kRealData + "/" + name, metre);
    }
  }
}

TEST_F(IsocullLayers, TwoChainedRunsGiveBothInOrderAndKeepTheFirstLayer) {
  const std::string scene = path("in/chain.las");
  ASSERT_TRUE(write_scene(scene, 30000, 1, 5, false, 0.02));
  const std::vector<std::string> first = {"-step", "2", "-isolated", "2", "-classify_as", "9"};
  // The second run leaves the points of the first alone: it must see the first layer.
  const std::vector<std::string> second = {"-remove_noise", "-ignore_class", "9"};

  std::vector<std::string> args = {"-i", scene, "-olay"};
  args.insert(args.end(), first.begin(), first.end());
  ASSERT_EQ(run(args).exit_code, 0);
  args = {"-i", scene, "-ilay", "-olay"};
  args.insert(args.end(), second.begin(), second.end());
  const ToolRun chained = run(args);
  ASSERT_EQ(chained.exit_code, 0) << chained.err;
  EXPECT_FALSE(chained.printed("skipping")) << chained.err;

  args = {"-i", scene, "-o", path("out/one.las")};
  args.insert(args.end(), first.begin(), first.end());
  ASSERT_EQ(run(args).exit_code, 0);
  args = {"-i", path("out/one.las"), "-o", path("out/two.las")};
  args.insert(args.end(), second.begin(), second.end());
  ASSERT_EQ(run(args).exit_code, 0);

  std::vector<LAYlayer> layers;
  ASSERT_TRUE(write_applied(scene, "", path("out/applied.las"), &layers));
  expect_same_records(path("out/two.las"), path("out/applied.las"));
  ASSERT_EQ(layers.size(), 2u);
  EXPECT_EQ(layers[0].attribute, LAYattribute::kClassification);
  EXPECT_EQ(layers[0].description, "replace classification");
  EXPECT_NE(layers[0].command_line.find("-classify_as 9"), std::string::npos);
  EXPECT_EQ(layers[0].parameters, (std::vector<double>{1.0, 9.0, 1.0}));
  EXPECT_EQ(layers[1].attribute, LAYattribute::kDeletion);
  EXPECT_NE(layers[1].command_line.find("-ignore_class 9"), std::string::npos);
  EXPECT_GT(layers[0].change_count, 0u);
  EXPECT_GT(layers[1].change_count, 0u);
}

// A LAY file beside a point file that changed since, or beside another file, is refused
// with its reason; the file is then denoised as it is, and -olay leaves the LAY file alone.
TEST_F(IsocullLayers, ALayFileBesideAChangedOrAnotherFileIsRefused) {
  const std::string scene = path("in/tile.las");
  ASSERT_TRUE(write_scene(scene, 5000, 1, 9));
  ASSERT_EQ(run({"-i", scene, "-olay", "-remove_noise"}).exit_code, 0);
  const std::string lay = read_text(path("in/tile.lay"));
  ASSERT_FALSE(lay.empty());
  const std::string original = read_text(scene);
  const std::size_t first_point = read_records(scene).header.offset_to_point_data;

  struct Change {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  std::string one_byte = original;
  one_byte[first_point + 2] ^= 0x01;
  std::string last_byte = original;
  last_byte[last_byte.size() - 9] ^= 0x40;
  const std::string appended = original + original.substr(first_point, 28 * 3);
  std::string other;
  ASSERT_TRUE(write_scene(path("in/other.las"), 5000, 1, 10));
  other = read_text(path("in/other.las"));
  for (const Change& change : {Change{"one byte of the first point", one_byte, "bytes differ"},
                               Change{"one byte of the last point", last_byte, "bytes differ"},
                               Change{"points appended", appended, "size differs"},
                               Change{"another file", other, "differ"}}) {
    SCOPED_TRACE(change.what);
    std::ofstream(scene, std::ios::binary | std::ios::trunc) << change.bytes;
    const ToolRun read = run({"-i", scene, "-ilay", "-o", path("out/plain.las")});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(read.printed("WARNING: could not open LAY file ... skipping\n")) << read.err;
    EXPECT_TRUE(read.printed("belongs to another point file or")) << read.err;
    EXPECT_TRUE(read.printed(change.reason)) << read.err;
    ASSERT_EQ(run({"-i", scene, "-o", path("out/expected.las")}).exit_code, 0);
    expect_same_records(path("out/expected.las"), path("out/plain.las"));

    const ToolRun append = run({"-i", scene, "-ilay", "-olay"});
    EXPECT_EQ(append.exit_code, 1);
    EXPECT_TRUE(append.printed("ERROR: opening lasmodify file for '" + scene + "'")) << append.err;
    EXPECT_EQ(read_text(path("in/tile.lay")), lay) << "the LAY file it could not keep stays";
  }
  // Without -ilay the layer starts afresh and belongs to the file as it is now, once
  // -oforce says that the layers there (of the file as it was, or of another file: the
  // identity cannot tell which) may go.
  const ToolRun refused = run({"-i", scene, "-olay"});
  EXPECT_EQ(refused.exit_code, 1) << refused.err;
  EXPECT_TRUE(refused.printed("'-oforce' replaces it")) << refused.err;
  EXPECT_EQ(read_text(path("in/tile.lay")), lay);
  ASSERT_EQ(run({"-i", scene, "-olay", "-oforce"}).exit_code, 0);
  const ToolRun fresh = run({"-i", scene, "-ilay", "-o", path("out/plain.las")});
  EXPECT_FALSE(fresh.printed("skipping")) << fresh.err;
  const std::vector<std::string> left = listing("in");
  EXPECT_EQ(left.size(), 3u) << "tile.las, tile.lay, other.las and no temporary file";
}

TEST_F(IsocullLayers, LayerOptionsThatCannotBeCombinedEndTheRun) {
  ASSERT_TRUE(write_scene(path("in/a.las"), 100, 1, 1));
  ASSERT_TRUE(write_scene(path("in/b.las"), 100, 1, 2));
  struct Refusal {
    std::vector<std::string> args;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"-i", path("in/a.las"), path("in/b.las"), "-buffered", "10", "-ilay"},
       "ERROR: on-the-fly buffering and '-ilay' cannot currently be combined.\n"},
      {{"-stdin", "-ilay"}, "ERROR: cannot use '-ilay' for piped input\n"},
      {{"-i", path("in/a.las"), "-inside", "0", "0", "10", "10", "-olay"},
       "ERROR: inside queries and '-olay' cannot currently be combined.\n"},
      {{"-i", path("in/a.las"), "-olaydir", path("missing")},
       "ERROR: opening lasmodify file for '"},
  };
  for (const Refusal& refusal : refusals) {
    const ToolRun refused = run(refusal.args);
    EXPECT_EQ(refused.exit_code, 1) << refused.err;
    EXPECT_TRUE(refused.printed(refusal.message)) << refused.err;
    EXPECT_EQ(refused.count("WARNING: do not expect LAY files"), 1u);
  }
  // -quiet drops the four warning lines.
  const ToolRun quiet = run({"-i", path("in/a.las"), "-olay", "-quiet"});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(exists(path("in/a.lay")));
}

}  // namespace
