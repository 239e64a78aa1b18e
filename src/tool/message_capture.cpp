#include "tool/message_capture.hpp"

#include <sys/types.h>

#include "stream/message_sink.hpp"

#if defined(__GLIBC__)

namespace {

ssize_t write_to_sink(void* cookie, const char* text, std::size_t size) {
  if (MessageSink* sink = MessageSink::current()) {
    sink->append(text, size);
    return static_cast<ssize_t>(size);
  }
  std::FILE* original = static_cast<std::FILE*>(cookie);
  const std::size_t written = std::fwrite(text, 1, size, original);
  return written == 0 && size != 0 ? -1 : static_cast<ssize_t>(written);
}

// Puts an unbuffered stream writing through `write` in the place of stderr, so that each
// write reaches its destination on the thread that printed it, when it is printed; null
// when none can be made (stderr stays).
std::FILE* replace_stderr(void* cookie, cookie_write_function_t* write, std::FILE* original) {
  cookie_io_functions_t functions{};
  functions.write = write;
  std::FILE* stream = fopencookie(cookie, "w", functions);
  if (stream == nullptr) return nullptr;
  if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0) {
    std::fclose(stream);
    return nullptr;
  }
  std::fflush(original);
  stderr = stream;
  return stream;
}

// Gives stderr back its original stream and closes the replacement.
void restore_stderr(std::FILE* stream, std::FILE* original) {
  if (stream == nullptr) return;
  stderr = original;
  std::fclose(stream);
}

}  // namespace

StderrCapture::StderrCapture()
    : original_(stderr), stream_(replace_stderr(original_, write_to_sink, original_)) {}

StderrCapture::~StderrCapture() {
  restore_stderr(stream_, original_);
}

namespace {

ssize_t write_through(void* cookie, const char* text, std::size_t size) {
  auto* error_line = static_cast<StderrErrorLine*>(cookie);
  error_line->take(text, size);
  return static_cast<ssize_t>(size);
}

}  // namespace

StderrErrorLine::StderrErrorLine()
    : original_(stderr), stream_(replace_stderr(this, write_through, original_)) {}

StderrErrorLine::~StderrErrorLine() {
  restore_stderr(stream_, original_);
}

#else

StderrCapture::StderrCapture() : original_(stderr) {}
StderrCapture::~StderrCapture() = default;
StderrErrorLine::StderrErrorLine() : original_(stderr) {}
StderrErrorLine::~StderrErrorLine() = default;

#endif

namespace {

// Longer lines are kept up to this many bytes: enough for any message, and a stream
// without line ends cannot grow it without bound.
constexpr std::size_t kLineLimit = 8192;

bool is_error_line(const std::string& line) {
  return line.rfind("ERROR", 0) == 0 || line.rfind("FATAL ERROR", 0) == 0;
}

}  // namespace

void StderrErrorLine::take(const char* text, std::size_t size) {
  std::fwrite(text, 1, size, original_);
  for (std::size_t i = 0; i < size; i++) {
    const char c = text[i];
    if (c == '\r') {
      line_.clear();  // the progress line, rewritten in place
    } else if (c != '\n') {
      if (line_.size() < kLineLimit) line_.push_back(c);
    } else {
      if (is_error_line(line_)) last_ = line_;
      line_.clear();
    }
  }
}

std::string StderrErrorLine::last() const {
  // A line without its end yet counts too.
  return is_error_line(line_) ? line_ : last_;
}
