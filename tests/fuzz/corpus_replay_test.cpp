// Replays the kept inputs of tests/corpus/<target>/ through the bodies of the fuzz targets:
// every crash, hang, leak or memory blow-up the fuzzers found stays fixed, in the normal
// and the sanitizer builds, without libFuzzer. The project's own seeds run too.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entries/fuzz_entries.hpp"

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

std::vector<std::filesystem::path> kept_inputs(const char* target) {
  const std::filesystem::path dir =
      std::filesystem::path(ISOCULL_SOURCE_DIR) / "tests" / "corpus" / target;
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> bytes_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void replay(const char* target, Entry entry) {
  const auto files = kept_inputs(target);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<std::uint8_t> input = bytes_of(file);
    EXPECT_EQ(entry(input.data(), input.size()), 0);
  }
  std::printf("[ replayed ] %zu kept inputs of %s\n", files.size(), target);
}

}  // namespace

TEST(FuzzCorpus, KeptLasFileInputsReadWithoutFault) {
  replay("las_file", fuzz_entry::las_file);
}

TEST(FuzzCorpus, KeptPkzFileInputsReadWithoutFault) {
  replay("pkz_file", fuzz_entry::las_file);
}

TEST(FuzzCorpus, KeptPkzBlockInputsReadWithoutFault) {
  replay("pkz_block", fuzz_entry::pkz_block);
}

TEST(FuzzCorpus, KeptPkzItemsInputsReadWithoutFault) {
  replay("pkz_items", fuzz_entry::pkz_items);
}

TEST(FuzzCorpus, KeptPointFormatInputsReadWithoutFault) {
  replay("point_formats", fuzz_entry::point_formats);
}

// The seeds themselves: every template reads back whole, through every target body.
TEST(FuzzCorpus, KeptTextFileInputsReadWithoutFault) {
  replay("text_file", fuzz_entry::text_file);
}

TEST(FuzzSeeds, EveryTemplateReadsThroughEveryTarget) {
  for (int i = 0; i < fuzz_entry::template_count(); i++) {
    SCOPED_TRACE(fuzz_entry::template_name(i));
    const std::vector<std::uint8_t>& file = fuzz_entry::template_file(i);
    EXPECT_EQ(fuzz_entry::las_file(file.data(), file.size()), 0);
    const std::vector<std::uint8_t> block = fuzz_entry::pkz_block_seed(i);
    EXPECT_EQ(fuzz_entry::pkz_block(block.data(), block.size()), 0);
    const std::vector<std::uint8_t> items = fuzz_entry::pkz_items_seed(file);
    EXPECT_EQ(fuzz_entry::pkz_items(items.data(), items.size()), 0);
  }
}

TEST(FuzzCorpus, KeptInputBytesAreReadAlikeByNameAndThroughAPipe) {
  replay("input_bytes", fuzz_entry::input_bytes);
}

TEST(FuzzCorpus, KeptLaxFileInputsReadWithoutFault) {
  replay("lax_file", fuzz_entry::lax_file);
}

TEST(FuzzSeeds, EveryIndexSeedReadsThroughItsTarget) {
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::lax_file_seeds())
    EXPECT_EQ(fuzz_entry::lax_file(seed.data(), seed.size()), 0);
}

TEST(FuzzCorpus, KeptToolArgumentInputsRunWithoutFaultOrFiles) {
  replay("tool_args", fuzz_entry::tool_args);
}

TEST(FuzzCorpus, KeptToolRunInputsLeaveAWholeOutputOrNone) {
  replay("tool_run", fuzz_entry::tool_run);
}

TEST(FuzzCorpus, KeptToolClaimsInputsLeaveEveryFileReadAsItWas) {
  replay("tool_claims", fuzz_entry::tool_claims);
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::tool_claims_seeds())
    EXPECT_EQ(fuzz_entry::tool_claims(seed.data(), seed.size()), 0);
}

TEST(FuzzCorpus, KeptLayFileInputsApplyWithoutFault) {
  replay("lay_file", fuzz_entry::lay_file);
  for (bool extended : {false, true}) {
    const std::vector<std::uint8_t> seed = fuzz_entry::lay_file_seed(extended);
    EXPECT_EQ(fuzz_entry::lay_file(seed.data(), seed.size()), 0);
  }
}

TEST(FuzzCorpus, KeptGridCellInputsGiveTheVerdictsOfAPlainCount) {
  replay("grid_cells", fuzz_entry::grid_cells);
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::grid_cells_seeds())
    EXPECT_EQ(fuzz_entry::grid_cells(seed.data(), seed.size()), 0);
}

TEST(FuzzCorpus, KeptCoordinateInputsGiveTheVerdictsOfAPlainCount) {
  replay("coordinate_noise", fuzz_entry::coordinate_noise);
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::coordinate_noise_seeds())
    EXPECT_EQ(fuzz_entry::coordinate_noise(seed.data(), seed.size()), 0);
}
