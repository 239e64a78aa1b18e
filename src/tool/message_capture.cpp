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

}  // namespace

StderrCapture::StderrCapture() : original_(stderr) {
  cookie_io_functions_t functions{};
  functions.write = write_to_sink;
  std::FILE* stream = fopencookie(original_, "w", functions);
  if (stream == nullptr) return;
  // Unbuffered: each write reaches the sink on the thread that printed it.
  if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0) {
    std::fclose(stream);
    return;
  }
  std::fflush(original_);
  stream_ = stream;
  stderr = stream_;
}

StderrCapture::~StderrCapture() {
  if (stream_ == nullptr) return;
  stderr = original_;
  std::fclose(stream_);
}

#else

StderrCapture::StderrCapture() : original_(stderr) {}
StderrCapture::~StderrCapture() = default;

#endif
