#include "tool/noise_tool.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "tool/interrupt_cleanup.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/noise_run.hpp"

int run_isocull(int argc, char* argv[]) {
  NoiseRun run(argc, argv);
  return run.run();
}

double process_seconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
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

NoiseRun::NoiseRun(int argc, char* argv[]) : argc_(argc), argv_(argv) {
  reader_factory_.set_fill_header(false);
}

void NoiseRun::plain_exit(int code, bool wait) const {
  throw RunExit{code, false, wait};
}

void NoiseRun::usage_exit(int code) const {
  throw RunExit{code, true, false};
}

int NoiseRun::run() {
  interrupt_cleanup::install();
  try {
    start_up();
    while (reader_factory_.active())
      process_next_file();
    if (!settings_.quiet && reader_factory_.get_file_count() > 1 && !reader_factory_.is_merged()) {
      std::fprintf(stderr, "done with all files. total time for %u files %g sec.\n",
                   reader_factory_.get_file_count(), process_seconds() - run_start_);
    }
    if (interactive_ || files_failed_ > 0) return 1;
    return 0;
  } catch (const RunExit& exit) {
    if (exit.usage) print_usage_text();
    if (exit.wait) {
      std::fprintf(stderr, "<press ENTER>\n");
      std::getc(stdin);
    }
    return exit.code;
  }
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
  take_command_line_units();
  threshold_ = settings_.threshold();
  if (reader_factory_.is_pipe_input()) {
    // The second pass needs the points again, and piped points cannot be read twice
    // without storing them, which this version does not do yet.
    std::fprintf(stderr,
                 "ERROR: piped input ('-stdin') is not supported in this version. give the input "
                 "file with '-i'.\n");
    plain_exit(1);
  }
  if (!settings_.quiet) run_start_ = process_seconds();
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

void NoiseRun::process_next_file() {
  const double file_start = settings_.quiet ? 0.0 : process_seconds();
  std::unique_ptr<LASreader> reader = reader_factory_.open();
  if (reader && settings_.ilay) reader = apply_layer_file(std::move(reader));
  if (!reader) {
    std::fprintf(stderr, "ERROR: could not open lasreader\n");
    if (reader_factory_.get_file_count() <= 1) usage_exit(1);
    // One broken or vanished input among many must not cost the files after it; the run
    // ends with code 1.
    files_failed_++;
    writer_factory_.set_file_name(nullptr);
    return;
  }
  try {
    if (!process_file(*reader, file_start)) files_failed_++;
  } catch (const IsolationGridError& error) {
    // The grid's allocation failures end the run, as they would for every later file too.
    std::fputs(error.what(), stderr);
    plain_exit(1, interactive_);
  } catch (const std::exception&) {
    const char* name = reader_factory_.get_file_name();
    std::fprintf(stderr, "ERROR processing file '%s'. maybe out of memory?\n", name ? name : "");
    files_failed_++;
  }
  reader.reset();
  forget_file_units();
  writer_factory_.set_file_name(nullptr);
}
