// Piped, merged and buffered input through the real binary: a pipe gives what the file by
// name gives, merged files are judged as one, and a tile read with its neighbours gets the
// verdicts of the whole survey.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "tool_folders.hpp"

namespace isocull_test {
namespace {

class IsocullWrappers : public ToolFolders {};

const char* const kModes[] = {"", "-flag_as_withheld", "-remove_noise"};

std::vector<std::string> with_mode(std::vector<std::string> args, const char* mode) {
  if (mode[0] != '\0') args.push_back(mode);
  return args;
}

// Runs the tool on a FIFO named as its input while a thread writes `file` into the FIFO.
ToolRun run_on_fifo(const std::string& fifo, const std::string& file, std::vector<std::string> args,
                    const std::string& dir) {
  std::signal(SIGPIPE, SIG_IGN);
  if (mkfifo(fifo.c_str(), 0600) != 0) return {};
  std::thread writer([&] {
    const std::string bytes = read_text(file);
    const int out = open(fifo.c_str(), O_WRONLY);
    if (out < 0) return;
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
    close(out);
  });
  args.insert(args.begin(), {"-i", fifo});
  ToolRun result = run_tool(args, dir);
  // A tool that never opened the FIFO would leave the writer waiting: be its reader.
  const int unblock = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (unblock >= 0) close(unblock);
  std::remove(fifo.c_str());
  return result;
}

// A copy of the LAS 1.4 file `las` with two extended records after its points.
bool copy_with_evlrs(const std::string& las, const std::string& copy) {
  LASreaderLAS reader;
  if (!reader.open_file(las.c_str())) return false;
  LASheader header = reader.header;
  for (int i = 0; i < 2; i++) {
    LASevlrEntry evlr;
    evlr.set_user_id("isocull test");
    evlr.record_id = static_cast<std::uint16_t>(4000 + i);
    evlr.set_description("after the points");
    evlr.set_data(std::vector<std::uint8_t>(70000 + i, static_cast<std::uint8_t>(0x5A + i)));
    header.evlrs.push_back(evlr);
  }
  header.number_of_extended_variable_length_records = 2;
  LASwriterLAS writer;
  if (!writer.open_file(copy.c_str(), &header)) return false;
  while (reader.read_next()) {
    if (!writer.write_point(reader.point)) return false;
    writer.count_point(reader.point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

// Through standard input in each marking mode, and through a FIFO named as the input: the
// generated point types in LAS and PKZ, and LAS 1.4 files (real and generated) whose
// extended records follow their points. Each input goes through memory (standard input,
// first mode) and, with "-piped_memory 0", through the temporary file (the other modes and
// the FIFO); neither leaves a file in the temporary folder.
TEST_F(IsocullWrappers, PipedInputWritesTheBytesOfTheSameFileByName) {
  std::vector<std::string> inputs;
  for (int point_type : {1, 3, 6, 8}) {
    const std::string las = path("in/scene" + std::to_string(point_type) + ".las");
    const std::string pkz = path("in/scene" + std::to_string(point_type) + ".pkz");
    ASSERT_TRUE(write_scene(las, 20000, point_type, 7, false, 0.02));
    ASSERT_EQ(run({"-i", las, "-o", pkz, "-quiet"}).exit_code, 0);
    inputs.insert(inputs.end(), {las, pkz});
  }
  const std::string evlr_las = path("in/scene8_evlr.las");
  const std::string evlr_pkz = path("in/scene8_evlr.pkz");
  ASSERT_TRUE(copy_with_evlrs(path("in/scene8.las"), evlr_las));
  ASSERT_EQ(run({"-i", evlr_las, "-o", evlr_pkz, "-quiet"}).exit_code, 0);
  inputs.insert(inputs.end(), {evlr_las, evlr_pkz});
  for (const char* name : {"1_4_w_evlr.las", "1_4_w_evlr.pkz"}) {
    const std::string real = kRealData + "/" + name;
    if (exists(real)) inputs.push_back(real);
  }
  for (const std::string& input : inputs) {
    const std::string ext = input.substr(input.size() - 3);
    const std::string bytes = read_text(input);
    const std::string by_name = path("out/by_name." + ext);
    const std::string piped = path("out/piped." + ext);
    for (const char* mode : kModes) {
      const bool first = mode[0] == '\0';
      ASSERT_EQ(run(with_mode({"-i", input, "-o", by_name, "-quiet"}, mode)).exit_code, 0);
      std::vector<std::string> args = {"-stdin", "-o", piped, "-quiet"};
      if (!first) args.insert(args.end(), {"-piped_memory", "0"});
      const ToolRun pipe = run_tool(with_mode(args, mode), dir_.path(), path("tmp"), bytes);
      ASSERT_EQ(pipe.exit_code, 0) << pipe.err;
      EXPECT_EQ(pipe.err, "") << input;
      EXPECT_TRUE(read_text(piped) == read_text(by_name)) << input << " '" << mode << "'";
      EXPECT_TRUE(listing("tmp").empty()) << input << " '" << mode << "'";
      if (!first) continue;
      if (input.find("evlr") != std::string::npos) {
        LASreaderLAS output;
        ASSERT_TRUE(output.open_file(by_name.c_str()));
        EXPECT_GT(output.header.evlrs.size(), 0u) << "the output keeps the extended records";
      }
      const ToolRun fifo = run_on_fifo(path("tmp/fifo." + ext), input,
                                       {"-o", piped, "-quiet", "-piped_memory", "0"}, dir_.path());
      ASSERT_EQ(fifo.exit_code, 0) << fifo.err;
      EXPECT_TRUE(read_text(piped) == read_text(by_name)) << input << " through a FIFO";
    }
  }
}

// The first pass decodes only some layers of a compressed file; what -pipe_on passes on to
// standard output must still be the whole points, by name and piped.
TEST_F(IsocullWrappers, PipeOnPassesOnWholePointsOfACompressedInput) {
  const std::string las = path("in/scene6.las");
  const std::string pkz = path("in/scene6.pkz");
  ASSERT_TRUE(write_scene(las, 5000, 6, 5));
  ASSERT_EQ(run({"-i", las, "-o", pkz, "-quiet"}).exit_code, 0);
  // The PKZ holds the scene's points with its noise classified: decoded, they are expected.
  const std::string decoded = path("in/decoded.las");
  {
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(pkz.c_str()));
    LASheader header = reader.header;
    header.codec.reset();
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open_file(decoded.c_str(), &header));
    while (reader.read_next())
      ASSERT_TRUE(writer.write_point(reader.point));
    ASSERT_NE(writer.close_writer(true), 0);
  }
  const LasRecords expected = read_records(decoded);
  ASSERT_TRUE(expected.ok);
  ASSERT_EQ(expected.records.size(), 5000u);
  for (const char* input : {"-i in/scene6.pkz", "-stdin < in/scene6.pkz"}) {
    const std::string command = "cd " + shell_quoted(dir_.path()) + " && " + shell_quoted(kBinary) +
                                " " + input + " -pipe_on -o out/x.las -quiet > out/passed_on.las";
    ASSERT_EQ(std::system(command.c_str()), 0) << input;
    const LasRecords passed_on = read_records(path("out/passed_on.las"));
    ASSERT_TRUE(passed_on.ok) << input;
    EXPECT_TRUE(passed_on.records == expected.records) << input;
  }
}

TEST_F(IsocullWrappers, PipedTextGivesThePointsOfTheTextFileByName) {
  const std::string las = path("in/scene.las");
  const std::string text = path("in/scene.txt");
  ASSERT_TRUE(write_scene(las, 20000, 1, 9, false, 0.02));
  ASSERT_EQ(run({"-i", las, "-o", text, "-oparse", "xyzti", "-quiet"}).exit_code, 0);
  for (const char* mode : kModes) {
    const std::string by_name = path("out/by_name.las");
    const std::string piped = path("out/piped.las");
    ASSERT_EQ(
        run(with_mode({"-i", text, "-iparse", "xyzti", "-o", by_name, "-quiet"}, mode)).exit_code,
        0);
    const ToolRun pipe =
        run_tool(with_mode({"-stdin", "-itxt", "-iparse", "xyzti", "-o", piped, "-quiet"}, mode),
                 dir_.path(), path("tmp"), read_text(text));
    ASSERT_EQ(pipe.exit_code, 0) << pipe.err;
    const LasRecords a = read_records(by_name), b = read_records(piped);
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_EQ(a.records, b.records) << "'" << mode << "'";
  }
}

TEST_F(IsocullWrappers, PipeThatBreaksInsideCompressedPointsLeavesNoOutput) {
  const std::string las = path("in/scene.las");
  const std::string pkz = path("in/scene.pkz");
  ASSERT_TRUE(write_scene(las, 120000, 1, 3));
  ASSERT_EQ(run({"-i", las, "-o", pkz, "-quiet"}).exit_code, 0);
  const std::string bytes = read_text(pkz);
  const std::string piped = path("out/piped.las");
  // Held in memory, and through the temporary file.
  for (const char* megabytes : {"64", "0"}) {
    const ToolRun cut = run_tool({"-stdin", "-o", piped, "-piped_memory", megabytes}, dir_.path(),
                                 path("tmp"), bytes.substr(0, bytes.size() / 2));
    EXPECT_NE(cut.exit_code, 0) << cut.err;
    EXPECT_FALSE(exists(piped)) << megabytes << ": " << cut.err;
    EXPECT_TRUE(listing("tmp").empty());
  }
}

// Cut inside the extended records after the points: refused as the same file by name is, not
// copied without them.
TEST_F(IsocullWrappers, PipeCutInsideTheExtendedRecordsIsRefusedAsTheFileByName) {
  const std::string real = kRealData + "/1_4_w_evlr.las";
  if (!exists(real)) GTEST_SKIP() << "real files not found in " << kRealData;
  const std::string bytes = read_text(real);
  const std::string cut_file = path("in/cut.las");
  {
    std::ofstream out(cut_file, std::ios::binary);
    out << bytes.substr(0, bytes.size() - 100);
  }
  EXPECT_NE(run({"-i", cut_file, "-o", path("out/by_name.las")}).exit_code, 0);
  EXPECT_FALSE(exists(path("out/by_name.las")));
  for (const char* megabytes : {"64", "0"}) {
    const std::string piped = path("out/piped.las");
    const ToolRun cut = run_tool({"-stdin", "-o", piped, "-piped_memory", megabytes}, dir_.path(),
                                 path("tmp"), bytes.substr(0, bytes.size() - 100));
    EXPECT_NE(cut.exit_code, 0) << cut.err;
    EXPECT_FALSE(exists(piped)) << megabytes << ": " << cut.err;
  }
}

// Writes the points of `inputs` one file after the other into `output` (all must share one
// scaling and point type): the survey the split tiles were cut from.
bool write_union(const std::vector<std::string>& inputs, const std::string& output) {
  LASreaderLAS first;
  if (!first.open_file(inputs[0].c_str())) return false;
  LASheader header = first.header;
  header.codec.reset();
  first.close_reader();
  LASwriterLAS writer;
  if (!writer.open_file(output.c_str(), &header)) return false;
  for (const std::string& input : inputs) {
    LASreaderLAS reader;
    if (!reader.open_file(input.c_str())) return false;
    if (reader.header.x_offset != header.x_offset ||
        reader.header.x_scale_factor != header.x_scale_factor) {
      return false;
    }
    while (reader.read_next()) {
      if (!writer.write_point(reader.point)) return false;
      writer.count_point(reader.point);
    }
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

TEST_F(IsocullWrappers, MergedSplitTilesGetTheVerdictsOfTheirUnion) {
  const std::string one = kRealData + "/lone-star-split-1.pkz";
  const std::string two = kRealData + "/lone-star-split-2.pkz";
  if (!exists(one) || !exists(two)) GTEST_SKIP() << "real files not found in " << kRealData;
  const std::string survey = path("in/union.las");
  ASSERT_TRUE(write_union({one, two}, survey));
  NoiseParameters parameters;
  parameters.step_xy = parameters.step_z = 0.1f;
  parameters.isolated = 3;
  const Verdicts verdicts = brute_force_verdicts(survey, parameters);
  ASSERT_TRUE(verdicts.ok);
  ASSERT_GT(verdicts.noise_count, 100u);
  const std::string merged = path("out/merged.las");
  const ToolRun run_merged = run({"-i", one, two, "-merged", "-step", "0.1", "-isolated", "3",
                                  "-flag_as_withheld", "-o", merged});
  ASSERT_EQ(run_merged.exit_code, 0) << run_merged.err;
  expect_marked(survey, merged, Mode::kFlag, 0, verdicts);
}

// Writes a LAS 1.2 point type 1 file of the given points at scale 0.01 and the given x offset.
bool write_at_offset(const std::string& file, double x_offset, const std::vector<double>& xs) {
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.x_offset = x_offset;
  LASpoint point;
  if (!point.init_for_point_type(&header, 1, 28, &header)) return false;
  LASwriterLAS writer;
  if (!writer.open_file(file.c_str(), &header)) return false;
  for (double x : xs) {
    point.set_x(x);
    point.set_y(10.0);
    point.set_z(5.0);
    if (!writer.write_point(point)) return false;
    writer.count_point(point);
  }
  writer.update_header(&header, true);
  return writer.close_writer(true) != 0;
}

TEST_F(IsocullWrappers, MergedFilesWhoseUnionOverflowsWidenScaleOrOffsetAndKeepEveryPoint) {
  struct Case {
    double far_x;
    const char* warning;
    double x_scale, x_offset;
  } cases[] = {
      {60000000.0, "WARNING: i changed x_scale_factor from 0.01 to 0.1", 0.1, 0.0},
      {30000000.0, "WARNING: i changed x_offset from 0 to 1.5e+07", 0.01, 15000000.0},
  };
  for (const Case& c : cases) {
    const std::string near = path("in/near.las");
    const std::string far = path("in/far.las");
    ASSERT_TRUE(write_at_offset(near, 0.0, {0.0, 12.5}));
    ASSERT_TRUE(write_at_offset(far, c.far_x, {c.far_x - 0.5, c.far_x}));
    const std::string merged = path("out/merged.las");
    const ToolRun result = run({"-i", near, far, "-merged", "-o", merged});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(result.printed(c.warning)) << result.err;
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(merged.c_str()));
    EXPECT_DOUBLE_EQ(reader.header.x_scale_factor, c.x_scale);
    EXPECT_DOUBLE_EQ(reader.header.x_offset, c.x_offset);
    std::vector<double> xs;
    while (reader.read_next())
      xs.push_back(reader.point.get_x());
    const std::vector<double> expected = {0.0, 12.5, c.far_x - 0.5, c.far_x};
    ASSERT_EQ(xs.size(), expected.size());
    for (std::size_t i = 0; i < xs.size(); i++)
      EXPECT_NEAR(xs[i], expected[i], 1e-6) << i;
  }
}

TEST_F(IsocullWrappers, MergingTextWithLasIsRefusedNamingBothFormats) {
  const std::string las = path("in/a.las");
  const std::string txt = path("in/b.txt");
  ASSERT_TRUE(write_at_offset(las, 0.0, {1.0}));
  ASSERT_TRUE(write_at_offset(path("in/c.las"), 0.0, {2.0}));
  {
    std::ofstream text(txt);
    text << "1 2 3\n";
  }
  const ToolRun result =
      run({"-i", las, txt, path("in/c.las"), "-merged", "-o", path("out/m.las")});
  EXPECT_TRUE(result.printed("ERROR: cannot mix LAS with TXT. skipping '" + txt + "' ..."))
      << result.err;
}

// Cuts the scene into a 3 x 3 block of tiles, each holding its points in scene order.
std::vector<std::string> cut_into_tiles(const std::string& scene, const std::string& folder,
                                        std::vector<std::vector<std::size_t>>& members) {
  LASreaderLAS reader;
  if (!reader.open_file(scene.c_str())) return {};
  const LASheader header = reader.header;
  const double width = (header.max_x - header.min_x) / 3,
               height = (header.max_y - header.min_y) / 3;
  std::vector<std::string> names;
  std::vector<std::unique_ptr<LASwriterLAS>> writers;
  std::vector<LASheader> headers(9, header);
  members.assign(9, {});
  for (int t = 0; t < 9; t++) {
    names.push_back(folder + "/tile" + std::to_string(t) + ".las");
    writers.push_back(std::make_unique<LASwriterLAS>());
    if (!writers.back()->open_file(names.back().c_str(), &headers[t])) return {};
  }
  for (std::size_t index = 0; reader.read_next(); index++) {
    const int column = std::min(2, static_cast<int>((reader.point.get_x() - header.min_x) / width));
    const int row = std::min(2, static_cast<int>((reader.point.get_y() - header.min_y) / height));
    const int t = row * 3 + column;
    if (!writers[t]->write_point(reader.point)) return {};
    writers[t]->count_point(reader.point);
    members[t].push_back(index);
  }
  for (int t = 0; t < 9; t++) {
    writers[t]->update_header(&headers[t], true);
    if (writers[t]->close_writer(true) == 0) return {};
  }
  return names;
}

TEST_F(IsocullWrappers, TilesReadWithTheirNeighboursGetTheVerdictsOfTheWholeSurvey) {
  const std::string scene = path("in/scene.las");
  ASSERT_TRUE(write_scene(scene, 60000, 1, 11, false, 0.03));
  std::vector<std::vector<std::size_t>> members;
  const std::vector<std::string> tiles = cut_into_tiles(scene, path("in"), members);
  ASSERT_EQ(tiles.size(), 9u);
  const std::string whole = path("out/whole.las");
  ASSERT_EQ(run({"-i", scene, "-o", whole, "-quiet"}).exit_code, 0);
  const LasRecords survey = read_records(whole);
  ASSERT_TRUE(survey.ok);

  std::size_t differing_without_buffer = 0;
  for (std::size_t t = 0; t < tiles.size(); t++) {
    std::vector<std::string> neighbours;
    for (std::size_t n = 0; n < tiles.size(); n++) {
      if (n != t) neighbours.push_back(tiles[n]);
    }
    std::vector<std::string> args = {"-i", tiles[t], "-buffered", "10", "-neighbors"};
    args.insert(args.end(), neighbours.begin(), neighbours.end());
    const std::string buffered = path("out/buffered.las");
    args.insert(args.end(), {"-o", buffered, "-quiet"});
    const ToolRun result = run(args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const LasRecords output = read_records(buffered);
    ASSERT_TRUE(output.ok);
    ASSERT_EQ(output.records.size(), members[t].size()) << "tile " << t;
    for (std::size_t i = 0; i < members[t].size(); i++) {
      ASSERT_EQ(output.records[i], survey.records[members[t][i]]) << "tile " << t << " point " << i;
    }
    const std::string alone = path("out/alone.las");
    ASSERT_EQ(run({"-i", tiles[t], "-o", alone, "-quiet"}).exit_code, 0);
    const LasRecords alone_output = read_records(alone);
    for (std::size_t i = 0; i < members[t].size(); i++) {
      if (alone_output.records[i] != survey.records[members[t][i]]) differing_without_buffer++;
    }
  }
  // Without the buffer the points along the tile edges lose neighbours: the test can fail.
  EXPECT_GT(differing_without_buffer, 0u);
}

TEST_F(IsocullWrappers, SurveyScriptRunsTheTilesInParallelAsASequentialRunWould) {
  if (std::system("command -v parallel >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU parallel is not installed (apt-get install parallel)";
  }
  const std::string scene = path("in/scene.las");
  ASSERT_TRUE(write_scene(scene, 30000, 1, 13, false, 0.03));
  std::vector<std::vector<std::size_t>> members;
  const std::vector<std::string> tiles = cut_into_tiles(scene, path("in"), members);
  ASSERT_EQ(tiles.size(), 9u);
  std::string command = "ISOCULL=" + shell_quoted(kBinary) +
                        " TILE_LIST=" + shell_quoted(ISOCULL_BINARY_DIR "/tile_list") + " " +
                        shell_quoted(ISOCULL_SOURCE_DIR "/tools/denoise_survey.sh");
  command.append(" -j 2 -buffered 10 -odir ").append(shell_quoted(path("out/parallel")));
  for (const std::string& tile : tiles)
    command.append(" ").append(shell_quoted(tile));
  command.append(" -- -quiet 2>").append(shell_quoted(path("tmp/script.err")));
  ASSERT_EQ(std::system(command.c_str()), 0) << read_text(path("tmp/script.err"));
  // The same command lines, one after the other, with the list the script made.
  const std::string list = path("out/parallel/tiles.lof");
  ASSERT_TRUE(exists(list));
  ASSERT_EQ(mkdir(path("out/sequential").c_str(), 0755), 0);
  for (const std::string& tile : tiles) {
    const ToolRun sequential = run({"-i", tile, "-buffered", "10", "-neighbors_lof", list, "-odir",
                                    path("out/sequential"), "-quiet"});
    ASSERT_EQ(sequential.exit_code, 0) << sequential.err;
    const std::string name = tile.substr(tile.rfind('/') + 1);
    const std::string parallel_output = read_text(path("out/parallel/" + name));
    ASSERT_FALSE(parallel_output.empty()) << name;
    EXPECT_EQ(parallel_output, read_text(path("out/sequential/" + name))) << name;
  }
}

TEST_F(IsocullWrappers, NeighboursOnlyWithBufferingAndForOneInput) {
  const std::string a = path("in/a.las");
  ASSERT_TRUE(write_at_offset(a, 0.0, {1.0}));
  const ToolRun no_buffer = run({"-i", a, "-neighbors", a, "-o", path("out/x.las")});
  EXPECT_TRUE(no_buffer.printed(
      "ERROR: neighbors only make sense when used with '-buffered 50' or similar"))
      << no_buffer.err;
  const ToolRun two = run({"-i", a, a, "-buffered", "5", "-neighbors", a, "-o", path("out/x.las")});
  EXPECT_TRUE(two.printed("ERROR: neighbors only supported for one buffered input file, not for 2"))
      << two.err;
}

}  // namespace
}  // namespace isocull_test
