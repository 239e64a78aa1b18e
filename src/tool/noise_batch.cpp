// Several input files at once (-cores): each on a thread and a lane of its own, its
// messages kept together and printed in the order of the list when it ends.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "stream/message_sink.hpp"
#include "stream/signal_cleanup.hpp"
#include "stream/worker_pool.hpp"
#include "tool/message_capture.hpp"
#include "tool/noise_run.hpp"

namespace {

// Each file in progress registers a few things for a signal to clean up (its output, its
// temporary folder and file, a decompressing program): the registry must hold them all.
constexpr unsigned kMaxFilesAtOnce = 64;
static_assert(kMaxFilesAtOnce * 4 <= signal_cleanup::kEntries);

// The factories and the projection of one lane, parsed from the command line as typed, as
// the run's own were, so that a file opened through them is read, filtered, transformed,
// named and written exactly as through the run's own.
struct OwnedLane {
  std::vector<std::string> arguments;  // parsed in place; the parsers may keep pointers
  GeoProjection projection;
  LASreaderFactory readers;
  LASwriterFactory writers;
  ProgressLine progress{nullptr, false};  // lines of files at once would run into each other
  FileLane lane{projection, readers, writers, progress};
};

// Null when the command line does not give the same inputs again (a list file or a
// folder changed meanwhile): the files are then done one at a time.
std::unique_ptr<OwnedLane> make_lane(const std::vector<std::string>& arguments,
                                     const LASreaderFactory& model, WorkerPool* pool) {
  auto owned = std::make_unique<OwnedLane>();
  owned->arguments = arguments;
  std::vector<char*> argv;
  for (std::string& argument : owned->arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(owned->arguments.size());
  LASreaderFactory& readers = owned->readers;
  readers.set_fill_header(false);
  if (!owned->projection.parse(argc, argv.data()) || !readers.parse(argc, argv.data(), true) ||
      !owned->writers.parse(argc, argv.data())) {
    return nullptr;
  }
  NoiseSettings unused;
  const NoiseParseResult parsed =
      parse_noise_options(argc, argv.data(), unused, [&readers](const char* name) {
        if (readers.get_file_count() != 0) return false;
        readers.add_file_name(name, false);
        return true;
      });
  if (parsed != NoiseParseResult::kRun || readers.get_file_count() != model.get_file_count()) {
    return nullptr;
  }
  for (std::uint32_t i = 0; i < model.get_file_count(); i++) {
    if (std::strcmp(readers.get_file_name(i), model.get_file_name(i)) != 0) return nullptr;
  }
  readers.set_worker_pool(pool);
  owned->writers.set_worker_pool(pool);
  return owned;
}

// The name of the output's folder resolved (links, "./", ".."), with the file's own name:
// two names that reach the same place are equal. The name as given when the folder does
// not exist (the writer will refuse it).
std::string resolved_output(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
  char resolved[PATH_MAX];
  if (realpath(folder.c_str(), resolved) == nullptr) return name;
  return std::string(resolved) + "/" + (slash == std::string::npos ? name : name.substr(slash + 1));
}

// Standard error goes to nothing while it lives (single-threaded use only).
class SilentStderr {
 public:
  SilentStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~SilentStderr() {
    std::fflush(stderr);
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  SilentStderr(const SilentStderr&) = delete;
  SilentStderr& operator=(const SilentStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

unsigned NoiseRun::files_at_once() {
  const std::uint32_t files = reader_factory_.get_file_count();
  if (interactive_ || cores_ < 2 || files < 2) return 1;
  // One reader over all files, points from neighbouring files, piped or stored input, and
  // the layer files keep to one file after the other.
  if (reader_factory_.is_merged() || reader_factory_.has_buffer() ||
      reader_factory_.is_pipe_input() || reader_factory_.settings().stored || settings_.ilay ||
      settings_.olay) {
    return 1;
  }
  if (!outputs_are_apart()) return 1;
  return std::min({cores_, static_cast<unsigned>(files), kMaxFilesAtOnce});
}

bool NoiseRun::outputs_are_apart() {
  if (writer_factory_.settings().to_nil) return true;
  // One name for all files, or standard output: each file would write over the one before.
  if (writer_factory_.active()) return false;
  // Derived names that meet are refused for all but the first file that writes there, which
  // only one file after the other decides as a sequential run would. Deriving again per file
  // says its warnings then.
  const SilentStderr silent;
  std::set<std::string> names;
  std::set<std::pair<dev_t, ino_t>> existing;
  bool apart = true;
  for (std::uint32_t i = 0; apart && i < reader_factory_.get_file_count(); i++) {
    writer_factory_.derive_file_name(reader_factory_.get_file_name(i), -1);
    const char* derived = writer_factory_.get_file_name();
    const std::string name = derived ? derived : "";
    writer_factory_.set_file_name(nullptr);
    if (name.empty()) continue;
    apart = names.insert(resolved_output(name)).second;
    struct stat info {};
    if (apart && stat(name.c_str(), &info) == 0) {
      apart = existing.insert({info.st_dev, info.st_ino}).second;
    }
  }
  return apart;
}

namespace {

// What became of one file of the list while the files run at once.
struct Outcome {
  MessageSink messages;  // the file's lines, printed together when it ends
  FileRecord record;
  bool finished = false;  // guarded by the printing mutex
  bool ended_run = false;
};

}  // namespace

void NoiseRun::process_files_at_once(unsigned wanted) {
  std::optional<StderrCapture> capture;
  capture.emplace();
  std::vector<std::unique_ptr<OwnedLane>> owned;
  if (capture->active()) {
    // The parsers say again what they said once already.
    MessageSink unused;
    const MessageSink::Scope quiet(&unused);
    while (owned.size() + 1 < wanted) {
      std::unique_ptr<OwnedLane> lane = make_lane(arguments_, reader_factory_, pool_.get());
      if (!lane) break;
      owned.push_back(std::move(lane));
    }
  }
  if (owned.empty()) {
    capture.reset();
    process_files_one_by_one();
    return;
  }
  // The run's own factories are the first lane.
  ProgressLine silent_progress(nullptr, false);
  FileLane own_lane{projection_, reader_factory_, writer_factory_, silent_progress};
  std::vector<FileLane*> lanes{&own_lane};
  for (const auto& lane : owned)
    lanes.push_back(&lane->lane);

  const std::uint32_t count = reader_factory_.get_file_count();
  std::vector<Outcome> outcomes(count);
  std::atomic<std::uint32_t> next_file{0};
  std::atomic<bool> stopping{false};
  std::optional<RunExit> run_exit;  // of the file that ended the run (written once)
  std::mutex printing;
  std::uint32_t printed = 0;  // the files before this one have been printed
  std::FILE* out = capture->original();

  // Takes the next file of the list until none is left. The file that ends the run (the
  // grid could not be allocated) stops the taking; the files before it in the list are
  // finished and printed, those after it are not printed, as a sequential run never got
  // to them.
  auto run_lane = [&](unsigned slot) {
    FileLane& lane = *lanes[slot];
    while (!stopping.load()) {
      const std::uint32_t index = next_file.fetch_add(1);
      if (index >= count) break;
      Outcome& outcome = outcomes[index];
      {
        const MessageSink::Scope scope(&outcome.messages);
        lane.readers.select_file(index);
        try {
          outcome.record = process_next_file(lane);
          keep_first_reason(outcome.record, outcome.messages);
        } catch (const RunExit& exit) {
          const std::lock_guard<std::mutex> lock(printing);
          if (!run_exit) run_exit = exit;
          outcome.ended_run = true;
          stopping.store(true);
        }
      }
      const std::lock_guard<std::mutex> lock(printing);
      outcome.finished = true;
      while (printed < count && outcomes[printed].finished) {
        const std::string text = outcomes[printed].messages.take();
        std::fwrite(text.data(), 1, text.size(), out);
        if (outcomes[printed].ended_run) {
          printed = count;
          break;
        }
        printed++;
      }
    }
  };

  std::vector<std::thread> threads;
  for (unsigned slot = 1; slot < lanes.size(); slot++) {
    try {
      threads.emplace_back(run_lane, slot);
    } catch (const std::system_error&) {
      break;  // fewer files at once
    }
  }
  run_lane(0);
  for (std::thread& thread : threads)
    thread.join();
  capture.reset();

  for (Outcome& outcome : outcomes) {
    if (!outcome.finished || outcome.ended_run) break;
    report_.add(std::move(outcome.record));
  }
  if (run_exit) throw *run_exit;
}
