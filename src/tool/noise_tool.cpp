#include "tool/noise_tool.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "codec/las_read_engine.hpp"
#include "layers/lay_file_lock.hpp"
#include "stream/message_sink.hpp"
#include "stream/signal_cleanup.hpp"
#include "stream/worker_pool.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/message_capture.hpp"
#include "tool/noise_run.hpp"
#include "tool/option_catalogue.hpp"
#include "tool/output_marking.hpp"

int run_isocull(int argc, char* argv[]) {
  NoiseRun run(argc, argv);
  return run.run();
}

double process_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

namespace {

constexpr int kInteractiveLineLimit = 256;  // 255 characters and the terminating zero

// One line of at most 255 characters without its line end; empty at the end of input.
std::string read_line() {
  char line[kInteractiveLineLimit] = {};
  if (std::fgets(line, sizeof(line), stdin) == nullptr) return {};
  std::size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
    line[--length] = '\0';
  return line;
}

}  // namespace

NoiseRun::NoiseRun(int argc, char* argv[], bool embedded)
    : argc_(argc), argv_(argv), embedded_(embedded) {
  reader_factory_.set_fill_header(false);
}

void NoiseRun::plain_exit(int code, bool wait) const {
  throw RunExit{code, false, wait};
}

void NoiseRun::usage_exit(int code) const {
  throw RunExit{code, true, false};
}

int NoiseRun::run() {
  // A host keeps its own handlers: these would end it on Ctrl-C (see noise_tool.hpp).
  if (!embedded_) signal_cleanup::install();
  // A misspelt option is followed by the nearest one that every parser knows.
  command_options::set_not_understood_hint(&suggest_nearest_option);
  try {
    start_up();
    const unsigned lanes = files_at_once();
    if (lanes > 1) {
      process_files_at_once(lanes);
    } else {
      process_files_one_by_one();
    }
    return finish_run();
  } catch (const RunExit& exit) {
    if (exit.usage) print_usage_text();
    if (exit.wait) {
      std::fprintf(stderr, "<press ENTER>\n");
      std::getc(stdin);
    }
    return exit.code;
  }
}

void NoiseRun::process_files_one_by_one() {
  FileLane lane{projection_, reader_factory_, writer_factory_, progress_};
  // The report names the reason a file failed as it was given first: each file's lines
  // pass through a sink that notes its first error on their way to standard error.
  std::optional<StderrCapture> capture;
  if (settings_.report_file != nullptr) capture.emplace();
  std::FILE* out = capture && capture->active() ? capture->original() : nullptr;
  while (reader_factory_.active()) {
    MessageSink messages(out);
    const MessageSink::Scope scope(out != nullptr ? &messages : nullptr);
    FileRecord record = process_next_file(lane);
    keep_first_reason(record, messages);
    report_.add(std::move(record));
  }
}

void keep_first_reason(FileRecord& record, const MessageSink& messages) {
  if (record.status != FileRecord::Status::kFailed) return;
  std::string reason = messages.first_error();
  if (!reason.empty()) record.message = std::move(reason);
}

void NoiseRun::read_interactive_names() {
  std::fprintf(stderr, "%s is better run in the command line\n", argv_[0]);
  std::fprintf(stderr, "enter input file: ");
  const std::string input = read_line();
  if (!input.empty()) reader_factory_.add_file_name(input.c_str(), false);
  std::fprintf(stderr, "enter output file: ");
  const std::string output = read_line();
  if (!output.empty()) writer_factory_.set_file_name(output.c_str());
}

void NoiseRun::start_up() {
  if (argc_ == 1) {
    interactive_ = true;
    read_interactive_names();
  } else {
    // A dash typed in a word processor arrives as the Windows-1252 en dash.
    for (int i = 1; i < argc_; i++) {
      if (static_cast<unsigned char>(argv_[i][0]) == 0x96) argv_[i][0] = '-';
    }
    arguments_.assign(argv_, argv_ + argc_);
    for (int i = 1; i < argc_; i++) {
      if (std::strcmp(argv_[i], "-h") == 0 || std::strcmp(argv_[i], "-help") == 0) {
        const char* next = i + 1 < argc_ ? argv_[i + 1] : nullptr;
        const OptionFamily* family = next != nullptr ? find_option_family(next) : nullptr;
        // A word that names no family (a plural, a typo) gets the whole help, and says so.
        if (next != nullptr && family == nullptr && next[0] != '-') {
          std::string names;
          for (const OptionFamily& known : option_families())
            names.append(names.empty() ? "" : ", ").append(known.name);
          std::fprintf(stderr, "WARNING: '%s' is no option family (%s): the whole help follows\n",
                       next, names.c_str());
        }
        print_help(family);
      }
    }
    take_olay_command_line();
    // Parse failures end the run with code 1: a run that did not start has failed.
    if (!projection_.parse(argc_, argv_)) plain_exit(1);
    if (!reader_factory_.parse(argc_, argv_, true)) plain_exit(1);
    if (!writer_factory_.parse(argc_, argv_)) plain_exit(1);
    const NoiseParseResult parsed =
        parse_noise_options(argc_, argv_, settings_, [this](const char* name) {
          if (reader_factory_.get_file_count() != 0) return false;
          reader_factory_.add_file_name(name, false);
          return true;
        });
    switch (parsed) {
      case NoiseParseResult::kHelp:
        projection_.usage();
        print_version_line();
        usage_exit(0);
      case NoiseParseResult::kVersion:
        print_version_line();
        plain_exit(0);
      case NoiseParseResult::kFailed:
        plain_exit(1);
      case NoiseParseResult::kRun:
        break;
    }
    check_layer_options();
  }
  if (!writer_factory_.settings().to_nil &&
      !output_can_mark(writer_factory_.get_format(), settings_.marking_mode())) {
    plain_exit(1);
  }

  // The wildcards that matched nothing were named already; the names that did match
  // (when any) are still done.
  if (!reader_factory_.active() && reader_factory_.unmatched_wildcards() != 0) plain_exit(1);
  if (!reader_factory_.active()) {
    std::fprintf(stderr, "ERROR: no input specified\n");
    usage_exit(1);
  }
  const char* input_name = reader_factory_.get_file_name();
  const char* output_name = writer_factory_.get_file_name();
  if (input_name != nullptr && output_name != nullptr &&
      std::strcmp(input_name, output_name) == 0) {
    std::fprintf(stderr, "ERROR: input and output file name are identical\n");
    usage_exit(1);
  }
  check_outputs_at_start();
  // A host gets the report back whether or not it names a file for it.
  report_.set_keep_records(settings_.report_file != nullptr || embedded_);
  take_command_line_units();
  threshold_ = settings_.threshold();
  // Piped points cannot be read twice: the reader keeps them for the second pass.
  if (reader_factory_.is_pipe_input()) reader_factory_.set_stored(true);
  run_start_ = process_seconds();
  progress_.set_enabled(ProgressLine::wanted(settings_.quiet));
  // One pool for the whole run: every file's chunks are coded on it, also those of files
  // processed at once. With one core there is nothing to share, and no thread is started.
  cores_ = settings_.cores != 0 ? settings_.cores : WorkerPool::machine_cores();
  settings_.cores = cores_;  // as the report tells it
  if (cores_ > 1) {
    pool_ = std::make_unique<WorkerPool>(cores_);
    reader_factory_.set_worker_pool(pool_.get());
    writer_factory_.set_worker_pool(pool_.get());
  }
}

void NoiseRun::print_help(const OptionFamily* family) {
  // Help that was asked for goes to standard output, so that it can be paged; the usages
  // of the factories and the projection print to standard error, which is made standard
  // output while they do.
  if (family != nullptr) {
    print_option_family(*family, stdout);
    plain_exit(0);
  }
  print_option_family(*find_option_family("tool"), stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  const int saved_error = dup(STDERR_FILENO);
  if (saved_error >= 0) dup2(STDOUT_FILENO, STDERR_FILENO);
  LASignore::usage();
  reader_factory_.usage();
  writer_factory_.usage();
  projection_.usage();
  print_option_overview(stderr);
  print_version_line();
  print_usage_text();
  std::fflush(stderr);
  if (saved_error >= 0) {
    dup2(saved_error, STDERR_FILENO);
    close(saved_error);
  }
  plain_exit(0);
}

int NoiseRun::finish_run() {
  progress_.finish();
  const double seconds = process_seconds() - run_start_;
  const std::uint32_t cut = report_.count(FileRecord::Status::kCut);
  if (cut != 0) {
    // Said last, so that a script (or a person) reading the end of the log notices.
    std::string names;
    for (const FileRecord& file : report_.files()) {
      if (file.status == FileRecord::Status::kCut) names += " '" + file.input + "'";
    }
    std::fprintf(stderr,
                 "ERROR: %u input file%s ended before the points %s header announces; the "
                 "output holds the points there were:%s\n",
                 cut, cut == 1 ? "" : "s", cut == 1 ? "its" : "their", names.c_str());
  }
  if (!settings_.quiet) std::fputs(report_.summary_line(seconds).c_str(), stderr);
  if (embedded_) {
    report_json_ = report_.json(settings_, seconds, reader_factory_.unmatched_wildcards());
  }
  bool report_failed = false;
  if (settings_.report_file != nullptr) {
    report_failed = !report_.write_json(settings_.report_file, settings_, seconds,
                                        reader_factory_.unmatched_wildcards());
  }
  if (interactive_ || report_.count(FileRecord::Status::kFailed) > 0 || cut > 0 || report_failed ||
      reader_factory_.unmatched_wildcards() != 0) {
    return 1;
  }
  return 0;
}

void NoiseRun::check_layer_options() const {
  if (!settings_.ilay && !settings_.olay) return;
  if (!settings_.quiet) {
    std::fprintf(stderr, "WARNING: do not expect LAY files to work across different versions\n");
    std::fprintf(stderr, "         of Brindlex because the development of RERavirod is still\n");
    std::fprintf(stderr, "         not completed. this is just an awesome prototype as proof\n");
    std::fprintf(stderr, "         of concept. we continue to gather community input ... (-;\n");
  }
  if (settings_.ilay) {
    if (reader_factory_.has_buffer()) {
      std::fprintf(stderr,
                   "ERROR: on-the-fly buffering and '-ilay' cannot currently be combined.\n");
      plain_exit(1);
    }
    if (reader_factory_.is_pipe_input()) {
      std::fprintf(stderr, "ERROR: cannot use '-ilay' for piped input\n");
      plain_exit(1);
    }
  }
  if (settings_.olay && reader_factory_.has_area()) {
    std::fprintf(stderr, "ERROR: inside queries and '-olay' cannot currently be combined.\n");
    plain_exit(1);
  }
}

void NoiseRun::take_command_line_units() {
  horizontal_unit_given_ = projection_.has_horizontal_unit();
  vertical_unit_given_ = projection_.has_vertical_unit();
  horizontal_unit_ = projection_.horizontal_unit();
  vertical_unit_ = projection_.vertical_unit();
  if (projection_.has_projection()) {
    projection_given_ = projection_.get_geo_keys(geo_keys_, geo_double_params_);
  }
}

// Why an input could not be opened, for the report (its "ERROR: " lines said so too).
static std::string open_failure(const char* name, const LASreaderFactory& readers) {
  if (!readers.refusal().empty()) return readers.refusal();
  if (name == nullptr) return "could not open lasreader";
  struct stat info {};
  if (stat(name, &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (access(name, R_OK) != 0) return std::strerror(errno);
  return "could not open lasreader";
}

// A piped LAS or PKZ input is read from the bytes kept of it as a file by name is, so it
// decodes what a file by name decodes; an input that the factory stores as its points pass
// is opened with every layer by the factory itself.
std::uint32_t NoiseRun::first_pass_layers(const LASreaderFactory& readers) const {
  if (readers.is_merged() || readers.has_buffer() || settings_.ilay) {
    return kDecompressAll;
  }
  return kDecompressZ | (settings_.by_flightline ? kDecompressPointSource : 0u);
}

FileRecord NoiseRun::process_next_file(FileLane& lane) {
  // A signal is ending the run: no file starts any more.
  signal_cleanup::wait_if_ending();
  const double file_start = process_seconds();
  FileRecord record;
  // The output claimed for the file: kept once the file wrote it, else given up again.
  std::string claimed;
  // An output that may not be written is refused before its input is opened, so that a
  // list naming one file a million times is refused a million times quickly.
  if (refuse_before_opening(lane, record, claimed)) {
    record.seconds = process_seconds() - file_start;
    lane.writers.set_file_name(nullptr);
    return record;
  }
  lane.readers.set_selective_decoding(first_pass_layers(lane.readers));
  std::unique_ptr<LASreader> reader = lane.readers.open();
  const char* opened_name = lane.readers.get_file_name();
  record.input = opened_name ? opened_name : "";
  LAYfileLock layer_lock;
  if (reader && settings_.olay) lock_layer_file(lane, layer_lock);
  bool layers_refused = false;
  if (reader && settings_.ilay) reader = apply_layer_file(std::move(reader), layers_refused);
  if (!reader) {
    // A damaged LAY file has said so already.
    if (!layers_refused) std::fprintf(stderr, "ERROR: could not open lasreader\n");
    // One broken or vanished input must not cost the files after it, and its lines say
    // what went wrong (a usage text would only bury them); the run ends with code 1.
    record.message = layers_refused ? kDamagedLayerFile : open_failure(opened_name, lane.readers);
    record.seconds = process_seconds() - file_start;
    settle_claim(claimed, false);
    lane.writers.set_file_name(nullptr);
    return record;
  }
  try {
    if (!process_file(lane, *reader, file_start, record, claimed)) {
      record.status = FileRecord::Status::kFailed;
    }
  } catch (const IsolationGridError& error) {
    // The grid's allocation failures end the run, as they would for every later file too.
    std::fputs(error.what(), stderr);
    plain_exit(1, interactive_);
  } catch (const std::exception&) {
    const char* name = lane.readers.get_file_name();
    std::fprintf(stderr, "ERROR processing file '%s'. maybe out of memory?\n", name ? name : "");
    record.status = FileRecord::Status::kFailed;
    record.message = "maybe out of memory";
  }
  lane.progress.finish();
  record.seconds = process_seconds() - file_start;
  settle_claim(claimed, record.output_written);
  reader.reset();
  forget_file_units(lane);
  lane.writers.set_file_name(nullptr);
  return record;
}
