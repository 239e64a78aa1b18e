// End to end: a layered PKZ file (point types 6-10) into PKZ of the same chunks in classify
// or flag mode takes the layer copy (only the marked layer coded anew); its output must be
// the bytes of the full path, which a filter that keeps every point forces. Checked on the
// layered files of other producers and on generated files with several scanner channels,
// returns, classes and flags, in several chunks (the last one short), with one core and
// with two; and on a file with a chunk that the copy leaves to the ordinary reader.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "isocull_run.hpp"
#include "temp_dir.hpp"

namespace {

using namespace isocull_test;

constexpr const char* kChunkSize = "400";  // several chunks in a small file, the last short
constexpr std::size_t kReturnsByte = 14;
constexpr std::size_t kFlagsByte = 15;
constexpr std::size_t kClassByte = 16;
constexpr std::size_t kPointSourceByte = 20;

bool write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A generated scene of `type` (clusters and isolated points) whose records get runs of
// scanner channels, returns, classification flags, point sources and extra values, and
// classes from a few values (or one for every point), compressed by the tool.
bool write_layered_input(const std::string& dir, const std::string& name, int type,
                         bool one_class) {
  const std::string las = dir + "/" + name + ".las";
  if (!write_scene(las, 1150, type, 3 + static_cast<std::uint32_t>(type), false, 0.03)) {
    return false;
  }
  const LasRecords file = read_records(las);
  if (!file.ok) return false;
  std::string bytes = read_text(las);
  const std::size_t length = file.header.point_data_record_length;
  std::mt19937 random(static_cast<std::uint32_t>(type) * 7 + one_class);
  std::uint32_t channel = 0, r = 1, n = 1;
  std::uint16_t source = 3;
  for (std::size_t i = 0; i < file.records.size(); i++) {
    auto* record = reinterpret_cast<std::uint8_t*>(bytes.data() + file.header.offset_to_point_data +
                                                   i * length);
    if (random() % 50 == 0) channel = random() % 4;
    if (random() % 300 == 0) source++;
    if (r >= n) {
      n = 1 + random() % 4;
      r = 1;
    } else {
      r++;
    }
    record[kReturnsByte] = static_cast<std::uint8_t>(r | (n << 4));
    const std::uint8_t class_flags = random() % 6 == 0 ? static_cast<std::uint8_t>(random()) : 0;
    record[kFlagsByte] = static_cast<std::uint8_t>((class_flags & 0xCF) | (channel << 4));
    record[kClassByte] = one_class ? 2 : static_cast<std::uint8_t>(random() % 4 == 0 ? 6 : 2);
    std::memcpy(record + kPointSourceByte, &source, 2);
    for (std::size_t b = 30; b < length; b++)
      if (random() % 3 == 0) record[b] = static_cast<std::uint8_t>(random());
  }
  if (!write_bytes(las, bytes)) return false;
  // Compressed by the tool, which marks noise as it goes (no harm: the input only needs to
  // be a layered file); the filter that keeps every point makes it count the returns anew
  // into the header, as the full path does, since the edits above changed them.
  const ToolRun compress = run_tool({"-i", las, "-o", dir + "/" + name + ".pkz", "-chunk_size",
                                     kChunkSize, "-keep_z_above", "-1e30", "-quiet"},
                                    dir);
  return compress.exit_code == 0;
}

struct Input {
  std::string path;
  std::vector<std::string> chunking;  // what the output needs to keep the input's chunks
};

TEST(IsocullLayerCopy, OutputIsTheFullPathsBytesInEveryModeWithOneAndTwoCores) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::vector<Input> inputs;
  for (int type = 6; type <= 10; type++) {
    const std::string name = "type" + std::to_string(type);
    ASSERT_TRUE(write_layered_input(dir.path(), name, type, false)) << type;
    inputs.push_back({dir.path() + "/" + name + ".pkz", {"-chunk_size", kChunkSize}});
  }
  // One class everywhere: an empty classification layer that marking fills.
  ASSERT_TRUE(write_layered_input(dir.path(), "one_class", 6, true));
  inputs.push_back({dir.path() + "/one_class.pkz", {"-chunk_size", kChunkSize}});
  for (const char* name : {"1_4_w_evlr.pkz", "fullwave.pkz"}) {
    const std::string path = kRealData + "/" + name;
    if (exists(path)) inputs.push_back({path, {}});
  }
  // By flightline the copy must take each point's own point source (not, say, its scan
  // angle, which lies beside it in the record) to find its grid.
  for (const Input& input : inputs) {
    for (const char* mode : {"-classify_as", "-flag_as_withheld", "-by_flightline"}) {
      SCOPED_TRACE(input.path + " " + mode);
      std::vector<std::string> args = {"-i", input.path, "-step", "2"};
      if (std::strcmp(mode, "-classify_as") == 0) {
        args.insert(args.end(), {mode, "9"});
      } else {
        args.push_back(mode);
      }
      args.insert(args.end(), input.chunking.begin(), input.chunking.end());
      // The full path's bytes do not depend on the cores (tested elsewhere).
      std::vector<std::string> full = args;
      full.insert(full.end(), {"-keep_z_above", "-1e30", "-o", "full.pkz"});
      const ToolRun by_point = run_tool(full, dir.path());
      ASSERT_EQ(by_point.exit_code, 0) << by_point.err;
      const std::string expected = read_text(dir.path() + "/full.pkz");
      for (const char* cores : {"1", "2"}) {
        SCOPED_TRACE(std::string("-cores ") + cores);
        std::vector<std::string> copied = args;
        copied.insert(copied.end(), {"-cores", cores, "-o", "copied.pkz"});
        const ToolRun by_copy = run_tool(copied, dir.path());
        ASSERT_EQ(by_copy.exit_code, 0) << by_copy.err;
        EXPECT_FALSE(by_copy.printed(" 0 noise points")) << by_copy.err;
        const std::string output = read_text(dir.path() + "/copied.pkz");
        ASSERT_FALSE(output.empty());
        EXPECT_TRUE(output == expected);
      }
    }
  }
}

TEST(IsocullLayerCopy, AChunkTheCopyCannotTakeIsReadTheOrdinaryWayWithTheSameOutput) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(write_layered_input(dir.path(), "type6", 6, false));
  std::string bytes = read_text(dir.path() + "/type6.pkz");
  // The second of three chunks says it holds another number of points than the table:
  // readers go by the table, the copy leaves such a chunk, and those after it, to the
  // ordinary reader.
  std::uint32_t point_data;
  std::memcpy(&point_data, bytes.data() + 96, 4);
  // The first chunk: its raw record, its count, nine layer sizes, the layers.
  std::size_t at = point_data + 8 + 30 + 4 + 9 * 4;
  for (int layer = 0; layer < 9; layer++) {
    std::uint32_t size;
    std::memcpy(&size, bytes.data() + point_data + 8 + 34 + 4 * layer, 4);
    at += size;
  }
  std::uint32_t count;
  std::memcpy(&count, bytes.data() + at + 30, 4);
  ASSERT_EQ(count, 400u);
  count = 399;
  std::memcpy(bytes.data() + at + 30, &count, 4);
  ASSERT_TRUE(write_bytes(dir.path() + "/miscounted.pkz", bytes));
  for (const char* cores : {"1", "2"}) {
    SCOPED_TRACE(cores);
    const std::vector<std::string> args = {"-i",          "miscounted.pkz", "-cores", cores,
                                           "-chunk_size", kChunkSize,       "-step",  "2"};
    std::vector<std::string> copied = args, full = args;
    copied.insert(copied.end(), {"-o", "copied.pkz"});
    full.insert(full.end(), {"-keep_z_above", "-1e30", "-o", "full.pkz"});
    const ToolRun by_copy = run_tool(copied, dir.path());
    const ToolRun by_point = run_tool(full, dir.path());
    ASSERT_EQ(by_copy.exit_code, 0) << by_copy.err;
    ASSERT_EQ(by_point.exit_code, 0) << by_point.err;
    const std::string output = read_text(dir.path() + "/copied.pkz");
    ASSERT_FALSE(output.empty());
    EXPECT_TRUE(output == read_text(dir.path() + "/full.pkz"));
  }
}

}  // namespace
