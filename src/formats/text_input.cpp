#include "formats/text_input.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "formats/archive_argument.hpp"
#include "formats/text_format.hpp"
#include "stream/signal_cleanup.hpp"

extern char** environ;

namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The first CR or LF from `text` on, when it lies within `size` bytes; else null. Lines end
// at either: files from other systems end them with LF, CR LF or a lone CR. The text up to
// `end` is followed by a zero byte, so strcspn (fast, and stopping at a lone CR at once)
// never runs past it; zero bytes within the text are passed over.
const char* find_line_end(const char* text, std::size_t size, const char* end) {
  const char* p = text;
  while (p < end) {
    p += std::strcspn(p, "\r\n");
    if (p >= end) break;
    if (*p != '\0') return static_cast<std::size_t>(p - text) < size ? p : nullptr;
    p++;
  }
  return nullptr;
}

// Reads, retrying interrupted calls; -1 on an error.
ssize_t read_some(int descriptor, char* into, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(descriptor, into, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// A descriptor's actions for a spawned program, undone whatever happens.
class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  bool dup2(int from, int to) {
    return ok_ && posix_spawn_file_actions_adddup2(&actions_, from, to) == 0;
  }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// How a program starts: in a process group of its own, which ending it ends as a whole
// (a script's own children too), with no signal blocked and the signals this process
// ignores (SIGXFSZ, SIGPIPE in some callers) at their defaults.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    ok_ = posix_spawnattr_init(&attributes_) == 0;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int number : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP})
      sigaddset(&defaults, number);
    ok_ = ok_ && posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
          posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
          posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
          posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                     POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

}  // namespace

TextInput::TextInput() = default;

TextInput::~TextInput() {
  close();
}

bool TextInput::open(const char* file_name) {
  close();
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  file_name_ = file_name;
  for (std::size_t i = 0; i < std::size(text_format::kDecompressors); i++) {
    if (ends_with(file_name_, text_format::kDecompressors[i].suffix)) return spawn(file_name, i);
  }
  const int descriptor = ::open(file_name, O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (descriptor < 0 || fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    if (descriptor >= 0) ::close(descriptor);
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return false;
  }
  descriptor_ = descriptor;
  owns_descriptor_ = true;
  pipe_ = !S_ISREG(info.st_mode);
  buffer_.resize(text_format::kFileBufferSize + 1);
  return true;
}

bool TextInput::open_descriptor(int descriptor, std::string_view already_read) {
  close();
  struct stat info {};
  if (descriptor < 0 || fstat(descriptor, &info) != 0) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  descriptor_ = descriptor;
  owns_descriptor_ = false;
  pipe_ = !S_ISREG(info.st_mode);
  buffer_.resize(std::max(text_format::kFileBufferSize, already_read.size()) + 1);
  std::copy(already_read.begin(), already_read.end(), buffer_.begin());
  end_ = already_read.size();
  return true;
}

bool TextInput::spawn(const char* file_name, std::size_t decompressor) {
  const text_format::Decompressor& program = text_format::kDecompressors[decompressor];
  program_name_ = program.program;
  // The archive must be there before a program is asked to read it: a program's own
  // complaint about a missing file would look like an empty text.
  struct stat info {};
  if (::stat(file_name, &info) != 0 || S_ISDIR(info.st_mode) || ::access(file_name, R_OK) != 0) {
    std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
    return false;
  }
  std::string argument;
  if (!text_format::archive_argument(program, file_name_, argument)) return false;
  const bool file_on_stdin = program.name_rule == text_format::ArchiveName::kOnStandardInput;
  int input = -1;
  if (file_on_stdin) {
    input = ::open(file_name, O_RDONLY | O_CLOEXEC);
    if (input < 0) {
      std::fprintf(stderr, "ERROR: cannot open file '%s'\n", file_name);
      return false;
    }
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    if (input >= 0) ::close(input);
    std::fprintf(stderr, "ERROR: could not create pipe\n");
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.program));
  for (const char* word : program.arguments) {
    if (word != nullptr) argv.push_back(const_cast<char*>(word));
  }
  if (!file_on_stdin) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  const SpawnAttributes attributes;
  bool redirected = actions.ok() && attributes.ok() && actions.dup2(ends[1], STDOUT_FILENO);
  if (redirected && input >= 0) redirected = actions.dup2(input, STDIN_FILENO);
  int result = -1;
  pid_t pid = -1;
  if (redirected) {
    // Started and registered in one step: a signal that ends this process ends it too.
    signal_cleanup::Making making;
    result =
        posix_spawnp(&pid, program.program, actions.get(), attributes.get(), argv.data(), environ);
    if (result == 0) program_registration_ = making.register_program(pid);
  }
  ::close(ends[1]);
  if (input >= 0) ::close(input);
  if (!redirected) {
    ::close(ends[0]);
    std::fprintf(stderr, "ERROR: could not set pipe output\n");
    return false;
  }
  if (result != 0) {
    ::close(ends[0]);
    if (result == ENOENT) {
      std::fprintf(stderr,
                   "ERROR: cannot decompress '%s': program '%s' not found. install it (Debian "
                   "package '%s')\n",
                   file_name, program.program, program.package);
    } else {
      std::fprintf(stderr, "ERROR: cannot decompress '%s': program '%s' does not start (%s)\n",
                   file_name, program.program, std::strerror(result));
    }
    return false;
  }
  program_ = pid;
  descriptor_ = ends[0];
  owns_descriptor_ = true;
  pipe_ = true;
  buffer_.resize(text_format::kFileBufferSize + 1);
  return true;
}

// Reaps the program. With `stop` it is still writing and nobody wants the rest: it is ended
// rather than waited for. Without, its end is checked: a failure means the text was cut.
void TextInput::finish_program(bool stop) {
  if (program_ < 0) return;
  // The whole group: a program that started others must not leave them behind.
  if (stop) ::kill(-program_, SIGKILL);
  // Before the program is collected: its number may be another process's afterwards.
  program_registration_.forget();
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(program_, &status, 0);
  } while (done < 0 && errno == EINTR);
  program_ = -1;
  if (stop || done < 0) return;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  failed_ = true;
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "ERROR: '%s' was ended by signal %d while decompressing '%s'\n",
                 program_name_.c_str(), WTERMSIG(status), file_name_.c_str());
  } else {
    std::fprintf(stderr, "ERROR: '%s' failed with exit code %d while decompressing '%s'\n",
                 program_name_.c_str(), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                 file_name_.c_str());
  }
}

void TextInput::close() {
  if (descriptor_ >= 0 && owns_descriptor_) ::close(descriptor_);
  descriptor_ = -1;
  finish_program(!at_end_);
  owns_descriptor_ = false;
  pipe_ = false;
  at_end_ = false;
  failed_ = false;
  passing_over_ = false;
  after_cr_ = false;
  begin_ = end_ = 0;
  program_name_.clear();
}

// Moves the unread bytes to the front and reads more; false when nothing more came.
bool TextInput::fill() {
  if (at_end_ || descriptor_ < 0) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t capacity = buffer_.size() - 1;  // room for a closing zero
  if (end_ >= capacity) return true;
  const ssize_t got = read_some(descriptor_, buffer_.data() + end_, capacity - end_);
  if (got > 0) end_ += static_cast<std::size_t>(got);
  buffer_[end_] = '\0';  // the stop for find_line_end
  if (got > 0) return true;
  at_end_ = true;
  if (got < 0) {
    failed_ = true;
    std::fprintf(stderr, "ERROR: reading '%s' failed: %s\n",
                 file_name_.empty() ? "stdin" : file_name_.c_str(), std::strerror(errno));
  }
  finish_program(false);
  return false;
}

bool TextInput::next_line(char*& line, std::size_t& length) {
  for (;;) {
    if (after_cr_) {
      // The line before ended at a CR: an LF right after it belongs to that line end.
      if (begin_ == end_ && !at_end_) {
        fill();
        continue;
      }
      if (begin_ < end_ && buffer_[begin_] == '\n') begin_++;
      after_cr_ = false;
    }
    char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    if (passing_over_) {
      const char* line_end = find_line_end(start, available, start + available);
      if (line_end != nullptr) {
        begin_ += static_cast<std::size_t>(line_end - start) + 1;
        after_cr_ = *line_end == '\r';
        passing_over_ = false;
      } else {
        begin_ = end_;
        if (!fill()) return false;
      }
      continue;
    }
    // One byte beyond the limit: a line of exactly the limit still ends at its line end.
    const std::size_t window =
        available <= text_format::kLineLimit ? available : text_format::kLineLimit + 1;
    const char* line_end = find_line_end(start, window, start + available);
    std::size_t size;
    if (line_end != nullptr) {
      size = static_cast<std::size_t>(line_end - start);
      begin_ += size + 1;
      after_cr_ = *line_end == '\r';
    } else if (available > text_format::kLineLimit) {
      size = text_format::kLineLimit;
      begin_ += size;
      passing_over_ = true;
    } else if (!at_end_) {
      if (!fill() && end_ == begin_) return false;
      continue;
    } else if (available > 0) {
      size = available;  // the last line has no line end
      begin_ = end_;
    } else {
      return false;
    }
    start[size] = '\0';
    line = start;
    length = size;
    return true;
  }
}

bool TextInput::rewind() {
  if (pipe_ || descriptor_ < 0) return false;
  if (::lseek(descriptor_, 0, SEEK_SET) != 0) return false;
  begin_ = end_ = 0;
  at_end_ = false;
  passing_over_ = false;
  after_cr_ = false;
  return true;
}
