#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/las_vlr.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"
#include "tool/geo_projection.hpp"
#include "tool/noise_settings.hpp"
#include "tool/output_claims.hpp"
#include "tool/progress_line.hpp"
#include "tool/run_report.hpp"

class IsolationGrid;
class LAYfileLock;
struct OptionFamily;
class LASheader;
class LASreader;
class WorkerPool;

// Why a file failed whose LAY file is there but damaged (the report's message).
inline constexpr const char* kDamagedLayerFile = "its LAY file is damaged";

// What one file in progress opens, names and reads through: the projection, the two
// factories and the progress line. The run's own serve the files processed one at a time;
// files processed at once each have lanes of their own (see noise_batch.cpp).
struct FileLane {
  GeoProjection& projection;
  LASreaderFactory& readers;
  LASwriterFactory& writers;
  ProgressLine& progress;
};

// The state of one run of the noise tool (inside the tool only; see noise_tool.hpp).
// Ending the run early throws RunExit, which `run` catches after every file-level resource
// (reader, writer, grid, temporary directory, partial output) has been released.
class DecodedSpill;

class NoiseRun {
 public:
  // `embedded`: the run is made inside a host program (see run_isocull_embedded), which
  // keeps its own signal handling and wants the report back.
  NoiseRun(int argc, char* argv[], bool embedded = false);
  int run();
  // The JSON document of -report, for an embedded run that got to its end; else empty.
  const std::string& report_json() const { return report_json_; }

 private:
  struct RunExit {
    int code;
    bool usage;  // print the usage text first
    bool wait;   // "<press ENTER>" before ending
  };
  [[noreturn]] void plain_exit(int code, bool wait = false) const;
  [[noreturn]] void usage_exit(int code) const;

  // Start-up: interactive input, option parsing and the checks before the first file.
  void start_up();
  void read_interactive_names();
  void check_layer_options() const;
  void take_command_line_units();
  // Layer files (noise_layers.cpp): the command line a layer records, the LAY file applied
  // to a reader (the reader itself when none can be; null with `refused` after an ERROR when
  // the LAY file is damaged), the layered reader opened again (false after an ERROR when
  // the LAY file is damaged now), and the second pass into a new layer instead of an output
  // file.
  void take_olay_command_line();
  std::unique_ptr<LASreader> apply_layer_file(std::unique_ptr<LASreader> reader, bool& refused);
  // With -olay: locks the LAY file that the file in progress adds its layer to, before its
  // layers are read (waiting while another run changes it).
  void lock_layer_file(const FileLane& lane, LAYfileLock& lock) const;
  bool reopen_layered(LASreader& reader);
  bool write_layer_file(LASreader& reader, IsolationGrid& grid, const std::string& input_name,
                        double file_start, double phase_start, const FirstPassCounts& counts,
                        FileRecord& record);

  // What the run may write (noise_claims.cpp): the checks of the outputs at start (after
  // the options), the file a file writes (its output, or its layer file with -olay; the
  // writer factory derives the name when none was given), the claim of it (false after the
  // refusal was printed and put in the record), the claim before the file is opened (true
  // when the file was refused unopened and passed over), and the claim's end: kept for a
  // file written, given up otherwise.
  void check_outputs_at_start();
  void check_report_at_start();
  std::string planned_output(FileLane& lane, const std::string& input);
  bool claim_output(const std::string& target, const std::string& input, std::string& claimed,
                    FileRecord& record);
  bool refuse_before_opening(FileLane& lane, FileRecord& record, std::string& claimed);
  void settle_claim(const std::string& claimed, bool written);
  // With -olay and without -ilay: whether the layer file `lay_name` may be replaced (there
  // is none, or it belongs to the input as it is, or -oforce); false after the refusal.
  bool layer_file_may_be_replaced(const LASreader& reader, const std::string& input_name,
                                  const std::string& lay_name, FileRecord& record);

  // One input file, from opening its reader to "done with"; failures of the file itself
  // (unreadable points, unwritable output, exceptions) are said and returned in the record
  // (status failed), which makes the run fail.
  FileRecord process_next_file(FileLane& lane);
  // The files of the list one after the other, on the run's own lane.
  void process_files_one_by_one();
  // Files at once (noise_batch.cpp): how many (1 when the options make the files depend on
  // each other, or the outputs could clash), and the loop that processes them so.
  unsigned files_at_once();
  bool outputs_are_apart();
  void process_files_at_once(unsigned lanes);
  // The layers a compressed reader of point types 6-10 decodes in the first pass: those
  // the grid reads (the factory adds the filter's, the transform's and the ignore set's).
  // All of them when a wrapping reader (merged, stored, buffered, layer file) would give
  // the second pass, which writes every field, the points as the first pass decoded them.
  std::uint32_t first_pass_layers(const LASreaderFactory& readers) const;
  // Starts keeping the first pass's decoded points of a compressed file for the second pass
  // where that pays (see DecodedSpill); true when it started.
  bool start_decoded_spill(FileLane& lane, LASreader& reader, DecodedSpill& decoded) const;
  // Returns false when the file failed (its messages printed, its output removed). Fills
  // `record` with what became of the file. `claimed`: the output claimed for the file (see
  // claim_output), claimed here when empty.
  bool process_file(FileLane& lane, LASreader& reader, double file_start, FileRecord& record,
                    std::string& claimed);
  // -h: the tool's options, the factories' usages, the families and the usage text on
  // standard output; -h <family>: every option of that family.
  [[noreturn]] void print_help(const OptionFamily* family);
  // The end of a run: closing lines, the report; the exit code.
  int finish_run();
  void decide_units(FileLane& lane, const LASheader& header, bool& feet_xy, bool& feet_z);
  // One WARNING when -buffered is below two cells of the file's step, naming the least
  // buffer that gives every point the verdict of the whole survey.
  void warn_when_buffer_is_short(const FileLane& lane, const std::string& input_name,
                                 float step_xy) const;
  void forget_file_units(FileLane& lane);
  void prepare_output_header(LASheader& header) const;
  // The output file that `open` will write, or empty for standard output and nil.
  std::string output_file_name(const FileLane& lane) const;

  int argc_;
  char** argv_;
  bool embedded_;
  std::string report_json_;
  bool interactive_ = false;  // started without arguments
  // The command line as typed, for the factories of the lanes of files processed at once.
  std::vector<std::string> arguments_;
  // The threads that code chunks, for every file of the run; none with one core.
  std::unique_ptr<WorkerPool> pool_;
  unsigned cores_ = 1;
  GeoProjection projection_;
  LASreaderFactory reader_factory_;
  LASwriterFactory writer_factory_;
  NoiseSettings settings_;
  std::uint32_t threshold_ = 6;

  // Units and projection of the command line, which files must not override.
  bool horizontal_unit_given_ = false;
  bool vertical_unit_given_ = false;
  bool projection_given_ = false;
  int horizontal_unit_ = 0;
  int vertical_unit_ = 0;
  std::vector<LASvlrKeyEntry> geo_keys_;
  std::vector<double> geo_double_params_;

  std::string olay_command_line_;  // with -olay: what every layer records
  double run_start_ = 0.0;
  RunReport report_;
  std::mutex claims_mutex_;  // files at once claim their outputs
  OutputClaims claims_;      // what the run reads, and what it writes
  ProgressLine progress_{stderr, false};
};

// A failed file's record keeps the reason the system or a reader gave first (the first
// "ERROR: " line among `messages`, the file's lines) rather than the tool's last word.
class MessageSink;
void keep_first_reason(FileRecord& record, const MessageSink& messages);

// Seconds of the wall clock (with threads, processor time would mislead).
double process_seconds();
// "classified", "flagged" or "removed".
const char* marking_word(NoiseSettings::MarkingMode mode);
// The "-vv" line of a noise point, with its values before it is changed.
void report_noise_point(const LASreader& reader);
