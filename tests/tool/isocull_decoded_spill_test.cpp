// End to end: the second pass of a compressed input reads the points that the first pass
// decoded from a temporary file. Every run must give the bytes, the lines and the exit code
// of the run that decodes the file twice (-decoded_spill 0): on the compressed files of
// other producers and generated files of every point type, in every marking mode, into PKZ
// and LAS, with one thread, a filter, a transform, flightlines, piped input and output, a
// FIFO, a limit the points do not fit, a file-size limit, and cut or damaged files.
//
// Whether the points were kept is seen in the kernel's count of the bytes a process read and
// wrote (taken while it waits to be reaped): a run that keeps the points writes exactly
// their records more than the run that decodes twice, and reads them instead of the file
// (which is smaller); a run that does not start keeping them writes the same bytes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "codec/pakrel.hpp"
#include "sanitizer_build.hpp"
#include "tool_folders.hpp"

namespace {

using namespace isocull_test;

constexpr bool kSlow = sanitizer_build::kAny;

constexpr std::uint64_t kScenePoints = kSlow ? 8000 : 10000;

struct CountedRun {
  int exit_code = -1;
  std::string err;
  // Bytes the run read and wrote; -1 when the kernel does not say.
  std::int64_t read = -1;
  std::int64_t written = -1;
};

// The bytes that the finished (not yet reaped) process `pid` and the children it reaped
// read and wrote.
void count_bytes(pid_t pid, CountedRun& run) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") run.read = value;
    if (key == "wchar:") run.written = value;
  }
}

// Runs the shell command line `command` in `dir`, standard error to a file.
CountedRun run_counted(const std::string& command, const std::string& dir) {
  const std::string err_path = dir + "/.stderr";
  const std::string line =
      "cd " + shell_quoted(dir) + " && { " + command + "; } 2>" + shell_quoted(err_path);
  CountedRun run;
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) {
    count_bytes(pid, run);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = read_text(err_path);
  std::remove(err_path.c_str());
  return run;
}

bool layered(const std::string& input) {
  LASreaderLAS reader;
  return reader.open_file(input.c_str()) && reader.header.codec &&
         reader.header.codec->compressor == Pakrel::COMPRESSOR_LAYERED;
}

// How a row reads its input and writes its output.
enum class Pipe { kNone, kInput, kFifo, kOutput };

// What becomes of the decoded points in the default run.
enum class Kept {
  kNo,     // not a record is kept
  kWhole,  // every record is kept
  // A layered file into PKZ in classify or flag mode: what the layer copy needs of every
  // point is kept (16 bytes a point), after a first pass that decodes only a few layers.
  kLayerCopy,
  kDropped,  // every record is kept, then let go: the file is decoded again
  kSome,     // a broken file: a record or all may be kept and then let go
  // A damaged layered file: as kSome, and the damage may be found sooner (a first pass
  // that keeps the points decodes every layer, not only those it needs): the same kind of
  // error, maybe in an earlier chunk or pass, without the warnings of a first pass that got
  // through; no output either way.
  kSomeSooner,
};

struct Row {
  std::string input;
  std::vector<std::string> options;  // the marking mode and anything else
  std::string format;                // of the output: "las" or "pkz"
  Kept kept;
  Pipe pipe = Pipe::kNone;
  std::string shell = {};  // commands before the tool's, in the same shell
};

class IsocullDecodedSpill : public ToolFolders {
 protected:
  // The tool's command line of `row`, its output in out/x.<format> (or standard output
  // into out/stdout), its temporary files in tmp.
  std::string command(const Row& row, bool spill) const {
    std::string line = "export TMPDIR=" + shell_quoted(path("tmp")) + "; ";
    if (!row.shell.empty()) line += row.shell + "; ";
    if (row.pipe == Pipe::kInput) line += "cat " + shell_quoted(row.input) + " | ";
    if (row.pipe == Pipe::kFifo) {
      line += "rm -f in/fifo.pkz && mkfifo in/fifo.pkz && { cat " + shell_quoted(row.input) +
              " > in/fifo.pkz & } && ";
    }
    line += shell_quoted(kBinary);
    if (row.pipe == Pipe::kInput) {
      line += " -stdin";
    } else if (row.pipe == Pipe::kFifo) {
      line += " -i in/fifo.pkz";
    } else {
      line += " -i " + shell_quoted(row.input);
    }
    for (const std::string& option : row.options)
      line += " " + shell_quoted(option);
    if (!spill) line += " -decoded_spill 0";
    line += " -quiet";
    if (row.pipe == Pipe::kOutput) {
      // A pipe: an output that cannot be rewritten gets a pass that tallies its points first.
      line += " -stdout -o" + row.format + " | cat > out/stdout";
    } else {
      line += " -o out/x." + row.format + " > out/stdout";
    }
    // The writer into the FIFO is reaped too (its bytes counted in both runs alike).
    if (row.pipe == Pipe::kFifo) line += "; code=$?; wait; rm in/fifo.pkz; exit $code";
    return line;
  }

  // What a run left in out/, by name, removed from there.
  std::vector<std::pair<std::string, std::string>> take_outputs() {
    std::vector<std::pair<std::string, std::string>> outputs;
    for (const std::string& name : listing("out")) {
      outputs.emplace_back(name, read_text(path("out/" + name)));
      std::remove(path("out/" + name).c_str());
    }
    std::sort(outputs.begin(), outputs.end());
    return outputs;
  }

  // The records of the input's points, as the header counts them.
  static std::uint64_t record_bytes(const std::string& input) {
    LASreaderLAS reader;
    if (!reader.open_file(input.c_str())) return 0;
    return reader.header.point_count() * reader.header.point_data_record_length;
  }
  static std::uint64_t layer_copy_bytes(const std::string& input) {
    LASreaderLAS reader;
    if (!reader.open_file(input.c_str())) return 0;
    return reader.header.point_count() * 16;
  }
  // The tool keeps points only where that leaves a reserve of 256 MB free.
  bool room_to_keep() const {
    struct statvfs info {};
    if (statvfs(path("tmp").c_str(), &info) != 0) return false;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize > (std::uint64_t{300} << 20);
  }
  // The kind of the reader's error: its line up to the first number.
  static std::string reader_error(const std::string& text) {
    const std::size_t line = text.find("ERROR: ");
    if (line == std::string::npos) return "";
    return text.substr(line, text.find_first_of("0123456789\n", line) - line);
  }

  void expect_same_with_and_without(const Row& row) {
    std::string trace = row.input + " ->" + row.format;
    for (const std::string& option : row.options) {
      trace += " " + option;
    }
    if (row.pipe == Pipe::kInput) trace += " (piped in)";
    if (row.pipe == Pipe::kFifo) trace += " (through a FIFO)";
    if (row.pipe == Pipe::kOutput) trace += " (piped out)";
    SCOPED_TRACE(trace);
    const CountedRun kept = run_counted(command(row, true), dir_.path());
    const auto kept_outputs = take_outputs();
    EXPECT_TRUE(listing("tmp").empty()) << "nothing is left behind";
    const CountedRun decoded = run_counted(command(row, false), dir_.path());
    const auto decoded_outputs = take_outputs();
    EXPECT_EQ(kept.exit_code, decoded.exit_code);
    if (row.kept == Kept::kWhole || row.kept == Kept::kDropped) {
      EXPECT_EQ(decoded.exit_code, 0) << decoded.err;
    }
    if (row.kept == Kept::kSomeSooner) {
      EXPECT_EQ(reader_error(kept.err), reader_error(decoded.err));
      EXPECT_NE(reader_error(kept.err), "") << kept.err;
    } else {
      EXPECT_EQ(kept.err, decoded.err);
    }
    ASSERT_EQ(kept_outputs.size(), decoded_outputs.size());
    for (std::size_t i = 0; i < kept_outputs.size(); i++) {
      EXPECT_EQ(kept_outputs[i].first, decoded_outputs[i].first);
      EXPECT_TRUE(kept_outputs[i].second == decoded_outputs[i].second)
          << kept_outputs[i].first << ": " << kept_outputs[i].second.size() << " bytes against "
          << decoded_outputs[i].second.size();
    }
    // Without the kernel's count (or where it cannot tell) the bytes above must do; so they
    // must where the temporary folder is too full for the tool to keep points in.
    if (kept.written < 0 || decoded.written < 0 || kept.read < 0 || decoded.read < 0 ||
        row.kept == Kept::kSome || row.kept == Kept::kSomeSooner || !room_to_keep()) {
      return;
    }
    const std::uint64_t records = row.kept == Kept::kNo          ? 0
                                  : row.kept == Kept::kLayerCopy ? layer_copy_bytes(row.input)
                                                                 : record_bytes(row.input);
    if (row.kept != Kept::kNo) {
      EXPECT_GT(records, 0u);
    }
    // Give or take a few wake-ups of the tool's threads, which the kernel counts as writes
    // of 8 bytes each (the smallest records kept here take 36 KB).
    const std::int64_t off = kept.written - decoded.written - static_cast<std::int64_t>(records);
    EXPECT_LE(off < 0 ? -off : off, 256)
        << (row.kept == Kept::kNo ? "decoded points were kept where they should not be"
                                  : "the decoded points were not kept whole")
        << ": " << records << " bytes of records, " << kept.written - decoded.written
        << " bytes more written";
    // Sanitizer runtimes read files of their own (the memory map) as they go.
    // The layer copy reads them only where it takes the file's chunks.
    if (kSlow || row.kept == Kept::kLayerCopy) return;
    const std::int64_t more = kept.read - decoded.read;
    if (row.kept != Kept::kWhole) {
      // The same reads, give or take a buffer's odd byte.
      EXPECT_LT(more < 0 ? -more : more, 4096);
      return;
    }
    // The later passes read the records instead of the compressed points (which take less;
    // reading them costs less than twice the file, with its header and table again).
    const auto file = static_cast<std::int64_t>(read_text(row.input).size());
    EXPECT_GT(more, 0) << "the second pass did not read the kept points";
    EXPECT_GE(more, static_cast<std::int64_t>(records) - 2 * file);
  }

  // A generated scene of `type` compressed by the tool into chunks of 3000 points, as
  // in/<name>.pkz.
  std::string generated(int type, const std::string& name, std::uint64_t points = kScenePoints) {
    const std::string las = path("tmp/" + name + ".las");
    const std::string pkz = path("in/" + name + ".pkz");
    EXPECT_TRUE(write_scene(las, points, type, 40 + static_cast<std::uint32_t>(type)));
    const ToolRun compress =
        run_tool({"-i", las, "-o", pkz, "-chunk_size", "3000", "-quiet"}, dir_.path());
    EXPECT_EQ(compress.exit_code, 0) << compress.err;
    std::remove(las.c_str());
    return pkz;
  }
};

const std::vector<std::vector<std::string>> kModes = {{}, {"-flag_as_withheld"}, {"-remove_noise"}};

// Every mode into both formats, or (`every` false) one format per mode, taking turns by
// `turn`. A layered file into PKZ in classify or flag mode keeps only what the layer copy
// needs, which codes one layer anew after a first pass that decoded only a few.
void add_modes(std::vector<Row>& rows, const std::string& input, Kept kept, bool every, int turn) {
  const bool layers = layered(input);
  for (std::size_t m = 0; m < kModes.size(); m++) {
    for (const char* format : {"pkz", "las"}) {
      const bool las = format[0] == 'l';
      if (!every && (m + static_cast<std::size_t>(turn)) % 2 != (las ? 1u : 0u)) continue;
      const bool copied = layers && m != 2 && !las;
      rows.push_back(
          {input, kModes[m], format, copied && kept == Kept::kWhole ? Kept::kLayerCopy : kept});
    }
  }
}

TEST_F(IsocullDecodedSpill, CompressedFilesOfOtherProducersGiveTheSameRunWithoutDecodingTwice) {
  if (!exists(kRealData)) GTEST_SKIP() << "real point files not found at " << kRealData;
  struct Input {
    const char* name;
    const char* step;  // that makes some points noise and some not
    Kept kept;         // where the mode and the format let the points be kept
    bool every;        // every mode into both formats (else one format per mode)
  };
  const Input inputs[] = {
      {"simple.pkz", "100", Kept::kWhole, true},
      {"simple-v1.pkz", "100", Kept::kWhole, false},  // one point at a time, no chunks
      {"extrabytes.pkz", "100", Kept::kWhole, true},
      {"1_4_w_evlr.pkz", "2", Kept::kWhole, true},
      {"fullwave.pkz", "0.5", Kept::kWhole, false},
      // Variable chunks.
      {"simple-varchunk.pkz", "100", Kept::kWhole, false},
      {"autzen-clip-varchunk.pkz", "4", Kept::kWhole, false},
      // Broken: a garbage header.
      {"bad-header.pkz", "4", Kept::kNo, false},
  };
  std::vector<Row> rows;
  int turn = 0;
  for (const Input& input : inputs) {
    const std::size_t first = rows.size();
    add_modes(rows, kRealData + "/" + input.name, input.kept, input.every && !kSlow, turn++);
    for (std::size_t i = first; i < rows.size(); i++)
      rows[i].options.insert(rows[i].options.end(), {"-step", input.step});
  }
  // Several chunks of 50000 points (the larger file not under the sanitizers).
  const std::string lone_star = kRealData + "/lone-star-split-";
  rows.push_back({lone_star + "1.pkz", {"-cores", "1", "-step", "0.5"}, "las", Kept::kWhole});
  if (!kSlow) {
    rows.push_back({lone_star + "2.pkz",
                    {"-remove_noise", "-by_flightline", "-step", "0.5"},
                    "pkz",
                    Kept::kWhole});
  }
  for (const Row& row : rows)
    expect_same_with_and_without(row);
}

TEST_F(IsocullDecodedSpill, GeneratedFilesOfEveryPointTypeGiveTheSameRun) {
  std::vector<Row> rows;
  for (int type = 0; type <= 10; type++)
    add_modes(rows, generated(type, "type" + std::to_string(type)), Kept::kWhole, false, type);
  for (const Row& row : rows)
    expect_same_with_and_without(row);
}

TEST_F(IsocullDecodedSpill, OptionsAndPipesGiveTheSameRun) {
  const std::string point10 = generated(1, "type1");
  const std::string layered6 = generated(6, "type6");
  // 30000 points: 600000 bytes of records as point type 0, 2010000 as type 10.
  const std::string small = generated(0, "type0", 30000);
  const std::string large = generated(10, "type10", 30000);
  const std::vector<Row> rows = {
      // One thread: the records are gathered from each decoded point.
      {point10, {"-cores", "1"}, "pkz", Kept::kWhole},
      {point10, {"-cores", "1", "-remove_noise"}, "las", Kept::kWhole},
      {layered6, {"-cores", "1", "-remove_noise"}, "pkz", Kept::kWhole},
      {layered6, {"-cores", "1"}, "las", Kept::kWhole},
      // A filter and a transform see the records as decoded, in both passes.
      {point10, {"-drop_class", "2"}, "las", Kept::kWhole},
      {layered6, {"-drop_class", "2", "-remove_noise"}, "pkz", Kept::kWhole},
      {layered6, {"-keep_z_above", "5", "-flag_as_withheld"}, "las", Kept::kWhole},
      {point10, {"-translate_xyz", "1", "2", "3"}, "pkz", Kept::kWhole},
      {layered6, {"-translate_xyz", "1", "2", "3", "-remove_noise"}, "las", Kept::kWhole},
      // The first pass of a layered file decodes the point sources too.
      {point10, {"-by_flightline", "-flag_as_withheld"}, "pkz", Kept::kWhole},
      {layered6, {"-by_flightline"}, "las", Kept::kWhole},
      {layered6, {"-by_flightline", "-remove_noise", "-cores", "1"}, "pkz", Kept::kWhole},
      // Piped in (or through a FIFO): the reader reads the copy of what came through; piped
      // out: a third pass (the tally) reads the kept points again.
      {point10, {"-remove_noise"}, "pkz", Kept::kWhole, Pipe::kInput},
      {layered6, {}, "las", Kept::kWhole, Pipe::kInput},
      {layered6, {"-remove_noise"}, "las", Kept::kWhole, Pipe::kFifo},
      {point10, {"-remove_noise"}, "las", Kept::kWhole, Pipe::kOutput},
      {layered6, {"-remove_noise"}, "pkz", Kept::kWhole, Pipe::kOutput},
      {point10, {"-drop_class", "2"}, "pkz", Kept::kWhole, Pipe::kOutput},
      // The reader that passes the points on wraps the file's reader: it is decoded twice.
      {point10, {"-pipe_on"}, "las", Kept::kNo},
      // A limit in MB that the smaller file fits in; the larger is decoded twice, saying
      // nothing.
      {small, {"-decoded_spill", "1"}, "las", Kept::kWhole},
      {large, {"-decoded_spill", "1"}, "las", Kept::kNo},
      {large, {"-decoded_spill", "1", "-remove_noise"}, "pkz", Kept::kNo},
      {large, {"-decoded_spill", "2", "-remove_noise"}, "pkz", Kept::kWhole},
      // A file-size limit that the output fits and the records do not (200 blocks of 512
      // or 1024 bytes): a write past it would end the run.
      {point10, {"-remove_noise"}, "pkz", Kept::kNo, Pipe::kNone, "ulimit -f 200"},
  };
  for (const Row& row : rows)
    expect_same_with_and_without(row);
}

TEST_F(IsocullDecodedSpill, CutAndDamagedFilesGiveTheSameLinesAndOutputs) {
  std::vector<Row> rows;
  for (const int type : {1, 7}) {
    const std::string name = "type" + std::to_string(type);
    const std::string pkz = generated(type, name);
    const std::string bytes = read_text(pkz);
    std::uint32_t point_data = 0;
    std::memcpy(&point_data, bytes.data() + 96, 4);
    const std::size_t middle = point_data + (bytes.size() - point_data) / 2;
    // Cut in the middle of the points: what it holds is written, with a warning.
    const std::string cut = path("in/" + name + "_cut.pkz");
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(middle));
    // Garbage in a chunk: the decoder fails there (or decodes wrong points, the same ones).
    std::string garbled = bytes;
    for (std::size_t i = middle; i < middle + 32; i++)
      garbled[i] = static_cast<char>(garbled[i] ^ 0x5A);
    const std::string damaged = path("in/" + name + "_garbled.pkz");
    std::ofstream(damaged, std::ios::binary)
        .write(garbled.data(), static_cast<std::streamsize>(garbled.size()));
    // A table pointer past the end: every point is read, chunk after chunk, with a warning
    // that the points kept do not get past.
    std::string untabled = bytes;
    const auto past_end = static_cast<std::int64_t>(bytes.size()) + 1000;
    std::memcpy(untabled.data() + point_data, &past_end, 8);
    const std::string no_table = path("in/" + name + "_untabled.pkz");
    std::ofstream(no_table, std::ios::binary)
        .write(untabled.data(), static_cast<std::streamsize>(untabled.size()));
    const Kept broken = type == 1 ? Kept::kSome : Kept::kSomeSooner;
    const std::vector<std::string> remove = {"-remove_noise"};
    const std::vector<std::string> one_thread = {"-cores", "1"};
    rows.push_back({cut, remove, "las", broken});
    rows.push_back({damaged, remove, "las", broken});
    rows.push_back({damaged, one_thread, "las", broken});
    rows.push_back({no_table, one_thread, "las", Kept::kDropped});
    rows.push_back({no_table, remove, "pkz", Kept::kDropped});
  }
  // Files of other producers cut two thirds into their points, the table with them (the
  // layered one reads to its end in a first pass that decodes only a few layers).
  if (exists(kRealData)) {
    for (const char* name : {"lone-star-split-1", "fullwave"}) {
      const std::string bytes = read_text(kRealData + "/" + name + ".pkz");
      std::uint32_t point_data = 0;
      std::memcpy(&point_data, bytes.data() + 96, 4);
      const std::string cut = path(std::string("in/") + name + "_cut.pkz");
      std::ofstream(cut, std::ios::binary)
          .write(bytes.data(),
                 static_cast<std::streamsize>(point_data + (bytes.size() - point_data) * 2 / 3));
      const Kept kept = name[0] == 'l' ? Kept::kSome : Kept::kSomeSooner;
      rows.push_back({cut, {"-remove_noise"}, "pkz", kept});
      rows.push_back({cut, {}, "las", kept});
    }
  }
  for (const Row& row : rows)
    expect_same_with_and_without(row);
}

}  // namespace
