#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "select/input_signature.hpp"
#include "select/las_reader_factory.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "FUZZ FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

// Names that hide the format, name text, or name a binary format.
constexpr const char* kSuffixes[8] = {".dat", "", ".txt", ".las", ".bin", ".qi", ".shp", ".pkz"};

// What the factory made of one input: null, or the format and the points of two passes
// (the second -1 when the first failed or the reopen did).
struct Outcome {
  bool opened = false;
  int format_code = -1;
  std::int64_t first = -1;
  std::int64_t second = -1;
};

Outcome open_twice(const std::string& name, bool ask_text, bool keep_on_disk) {
  LASreaderFactory factory;
  if (keep_on_disk) factory.set_piped_memory_limit(0);
  std::vector<std::string> words = {"fuzz", "-i", name, "-do_not_populate"};
  if (ask_text) words.push_back("-itxt");
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  Outcome outcome;
  if (!factory.parse(static_cast<int>(argv.size()), argv.data())) finding("the options failed");
  std::unique_ptr<LASreader> reader = factory.open();
  if (!reader) return outcome;
  outcome.opened = true;
  outcome.format_code = reader->format_code();
  outcome.first = 0;
  while (reader->read_next())
    outcome.first++;
  // A pass that failed ends the file: what a reopen gives then is nobody's concern.
  if (reader->read_failed()) return outcome;
  if (factory.reopen(reader.get())) {
    outcome.second = 0;
    while (reader->read_next())
      outcome.second++;
  }
  return outcome;
}

// Writes `bytes` into the FIFO `fifo` from a thread. A reader that stops early or never
// comes is stood in for at the end: what is left is drained, so that the writer finishes.
class Feed {
 public:
  Feed(const std::string& fifo, const std::uint8_t* data, std::size_t size) : fifo_(fifo) {
    std::signal(SIGPIPE, SIG_IGN);
    if (mkfifo(fifo.c_str(), 0600) != 0) finding("cannot make a FIFO");
    writer_ = std::thread([this, fifo, bytes = std::vector<std::uint8_t>(data, data + size)] {
      const int out = open(fifo.c_str(), O_WRONLY);
      for (std::size_t at = 0; out >= 0 && at < bytes.size();) {
        const ssize_t put = write(out, bytes.data() + at, bytes.size() - at);
        if (put <= 0) break;
        at += static_cast<std::size_t>(put);
      }
      if (out >= 0) close(out);
      done_ = true;
    });
  }
  ~Feed() {
    const int drain = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[65536];
    while (drain >= 0 && !done_) {
      if (read(drain, buffer, sizeof(buffer)) <= 0) usleep(1000);
    }
    writer_.join();
    if (drain >= 0) close(drain);
    unlink(fifo_.c_str());
  }
  Feed(const Feed&) = delete;
  Feed& operator=(const Feed&) = delete;

 private:
  std::string fifo_;
  std::atomic<bool> done_{false};
  std::thread writer_;
};

std::string describe(const Outcome& outcome) {
  if (!outcome.opened) return "not opened";
  return "format " + std::to_string(outcome.format_code) + ", " + std::to_string(outcome.first) +
         " then " + std::to_string(outcome.second) + " points";
}

int expected_code(input_signature::Content content) {
  switch (content) {
    case input_signature::Content::kBIN:
      return 3;
    case input_signature::Content::kQFIT:
      return 4;
    case input_signature::Content::kSHP:
      return 5;
    case input_signature::Content::kText:
      return 6;
    default:
      return -1;
  }
}

}  // namespace

int input_bytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  const std::string suffix = kSuffixes[choice & 7];
  const bool ask_text = (choice & 0x08) != 0;
  const bool keep_on_disk = (choice & 0x10) != 0;
  const std::uint8_t* file = data + 1;
  const std::size_t file_size = size - 1;

  char pattern[] = "/tmp/isocull_fuzz_input_XXXXXX";
  if (mkdtemp(pattern) == nullptr) finding("no scratch folder");
  const std::string dir = pattern;
  const std::string by_name = dir + "/input" + suffix;
  {
    std::ofstream out(by_name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file), static_cast<std::streamsize>(file_size));
  }
  const Outcome named = open_twice(by_name, ask_text, keep_on_disk);
  Outcome piped;
  {
    const std::string fifo = dir + "/fifo" + suffix;
    Feed feed(fifo, file, file_size);
    piped = open_twice(fifo, ask_text, keep_on_disk);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  const input_signature::Content content =
      input_signature::classify(file, std::min(file_size, input_signature::kHeadSize));
  const bool named_text = suffix == ".dat" || suffix.empty() || suffix == ".txt";
  // Bytes of no format under a name of no binary format are never read.
  if (content == input_signature::Content::kUnknown && named_text &&
      (named.opened || piped.opened)) {
    finding("an input of no point format was read");
  }
  // A signature or text the name (or the option) calls text is read the same by name and
  // through a pipe: the same reader, the same points in both passes.
  const bool read_as_text = content == input_signature::Content::kText && (named_text || ask_text);
  if (input_signature::is_signature(content) || read_as_text) {
    if (named.opened != piped.opened || named.format_code != piped.format_code ||
        named.first != piped.first || named.second != piped.second) {
      finding("a pipe and the file by name give different points:",
              describe(named) + " by name, " + describe(piped) + " piped, as '" + suffix + "'");
    }
    if (named.opened) {
      const int code = expected_code(content);
      const bool las = content == input_signature::Content::kLAS;
      if (las ? named.format_code != 1 && named.format_code != 2 : named.format_code != code) {
        finding("the reader is not the one the signature names");
      }
    }
  }
  if (piped.opened && !input_signature::is_signature(content) && !read_as_text) {
    finding("a pipe was read without a signature or text");
  }
  return 0;
}

}  // namespace fuzz_entry
