// End to end: a LAY file that is there but damaged is never read as if it were absent. A
// flipped bit in any section, a cut at any section, or a file of a version this one cannot
// read fails its input with one ERROR and exit code 1, leaving no output, while the files
// after it are processed. A LAY file of the version before checksums is still applied, with
// one WARNING that it is unchecked.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "isocull_run.hpp"
#include "layers/lay_format.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

using IsocullLayerDamage = ToolFolders;

std::uint64_t get(const std::string& bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; i--)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

// Where each layer of a LAY file of the current version begins, and where the last ends.
std::vector<std::size_t> layer_starts(const std::string& bytes) {
  std::vector<std::size_t> starts;
  std::size_t at = lay_format::kFileHeaderSize;
  for (std::uint64_t l = get(bytes, lay_format::kLayerCountAt, 4); l > 0; l--) {
    starts.push_back(at);
    at += lay_format::kLayerHeaderSize + 8 * get(bytes, at + lay_format::kParameterCountAt, 4) +
          get(bytes, at + lay_format::kCommandLineLengthAt, 4) +
          get(bytes, at + lay_format::kRunCodeSizeAt, 8);
  }
  starts.push_back(at);
  return starts;
}

// The file in the version before checksums, made by hand from its layout: version 1.0, the
// header's checksum field zero, every layer header four bytes shorter.
std::string unchecked_version(const std::string& bytes) {
  const std::vector<std::size_t> starts = layer_starts(bytes);
  std::string old = bytes.substr(0, lay_format::kFileHeaderSize);
  old[lay_format::kVersionMajorAt] = 1;
  std::memset(old.data() + lay_format::kHeaderChecksumAt, 0, lay_format::kChecksumSize);
  for (std::size_t l = 0; l + 1 < starts.size(); l++) {
    old += bytes.substr(starts[l], lay_format::kLayerChecksumAt);
    old += bytes.substr(starts[l] + lay_format::kLayerHeaderSize,
                        starts[l + 1] - starts[l] - lay_format::kLayerHeaderSize);
  }
  return old;
}

TEST_F(IsocullLayerDamage, ADamagedLayFileFailsItsInputWithOneErrorAndTheRunGoesOn) {
  const std::string scene = path("in/tile.las");
  const std::string next = path("in/next.las");
  ASSERT_TRUE(write_scene(scene, 6000, 1, 9));
  ASSERT_TRUE(write_scene(next, 500, 1, 4));
  // Two layers: points classified, then others removed on top.
  ASSERT_EQ(run({"-i", scene, "-olay", "-step", "2", "-isolated", "3"}).exit_code, 0);
  ASSERT_EQ(run({"-i", scene, "-ilay", "-olay", "-remove_noise"}).exit_code, 0);
  const std::string lay = read_text(path("in/tile.lay"));
  const std::vector<std::size_t> starts = layer_starts(lay);
  ASSERT_EQ(starts.size(), 3u);
  ASSERT_EQ(starts.back(), lay.size());
  const ToolRun whole = run({"-i", scene, "-ilay", "-o", path("out/whole.las")});
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_FALSE(whole.printed("WARNING: LAY file")) << whole.err;
  const std::string applied = read_text(path("out/whole.las"));

  struct Damage {
    const char* what;
    std::string bytes;
  };
  auto flipped = [&](std::size_t at, std::uint8_t bit) {
    std::string bytes = lay;
    bytes[at] = static_cast<char>(bytes[at] ^ bit);
    return bytes;
  };
  const std::size_t second = starts[1];
  const Damage damages[] = {
      {"a bit of the signature", flipped(2, 0x01)},
      {"the version", flipped(lay_format::kVersionMajorAt, 0x04)},
      {"a bit of the identity", flipped(lay_format::kHashAt + 5, 0x20)},
      {"a bit of the header's checksum", flipped(lay_format::kHeaderChecksumAt, 0x80)},
      {"a bit of the first layer's run count", flipped(starts[0] + lay_format::kRunCountAt, 0x02)},
      {"a bit of the first layer's command line",
       flipped(starts[0] + lay_format::kLayerHeaderSize + 30, 0x01)},
      {"a bit of the second layer's attribute", flipped(second + lay_format::kAttributeAt, 0x01)},
      {"a bit of the second layer's checksum",
       flipped(second + lay_format::kLayerChecksumAt, 0x10)},
      {"the last byte's top bit", flipped(lay.size() - 1, 0x80)},
      {"cut in the file header", lay.substr(0, 40)},
      {"cut after the file header", lay.substr(0, lay_format::kFileHeaderSize)},
      {"cut in the first layer's header", lay.substr(0, starts[0] + 50)},
      {"cut between the layers", lay.substr(0, second)},
      {"cut in the last layer's run code", lay.substr(0, lay.size() - 1)},
      {"a byte too many", lay + std::string(1, '\0')},
      {"empty", ""},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::ofstream(path("in/tile.lay"), std::ios::binary | std::ios::trunc) << damage.bytes;
    const ToolRun refused = run({"-i", scene, next, "-ilay", "-odir", path("out"), "-odix", "_d"});
    EXPECT_EQ(refused.exit_code, 1) << refused.err;
    EXPECT_EQ(refused.count("ERROR: refusing damaged LAY file '" + path("in/tile.lay") + "': "), 1u)
        << refused.err;
    EXPECT_EQ(refused.count("ERROR"), 1u) << refused.err;
    EXPECT_FALSE(exists(path("out/tile_d.las"))) << "no output of the refused input";
    // The next input has no LAY file: it alone is skipped with the step's warning, and
    // processed.
    EXPECT_EQ(refused.count("WARNING: could not open LAY file ... skipping\n"), 1u) << refused.err;
    EXPECT_TRUE(refused.printed("done with '" + path("out/next_d.las") + "'")) << refused.err;
    EXPECT_TRUE(refused.printed("1 failed")) << refused.err;
    std::remove(path("out/next_d.las").c_str());
  }

  // The version before checksums: applied as it reads, one WARNING (not one per pass).
  std::ofstream(path("in/tile.lay"), std::ios::binary | std::ios::trunc) << unchecked_version(lay);
  const ToolRun old = run({"-i", scene, "-ilay", "-o", path("out/old.las")});
  ASSERT_EQ(old.exit_code, 0) << old.err;
  EXPECT_EQ(old.count("WARNING: LAY file '" + path("in/tile.lay") +
                      "' has no checksums (version 1): its layers are applied unchecked\n"),
            1u)
      << old.err;
  EXPECT_EQ(read_text(path("out/old.las")), applied);
}

}  // namespace
