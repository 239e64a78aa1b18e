#include "stream/message_sink.hpp"

#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace {

thread_local MessageSink* t_current = nullptr;

}  // namespace

MessageSink* MessageSink::current() {
  return t_current;
}

MessageSink::Scope::Scope(MessageSink* sink) : previous_(t_current) {
  t_current = sink;
}

MessageSink::Scope::~Scope() {
  t_current = previous_;
}

void MessageSink::note_first_error(const char* text, std::size_t size) {
  static constexpr std::string_view kPrefix = "ERROR: ";
  for (std::size_t i = 0; i < size && !found_error_; i++) {
    const char c = text[i];
    if (c != '\n') {
      // Only the start of a line tells whether it is an error line; a long line that is one
      // keeps its first kFirstErrorLimit bytes.
      if (line_.size() < kFirstErrorLimit + kPrefix.size()) line_.push_back(c);
      continue;
    }
    if (std::string_view(line_).starts_with(kPrefix)) {
      first_error_ = line_.substr(kPrefix.size());
      found_error_ = true;
    }
    line_.clear();
  }
  if (found_error_) line_.clear();
}

std::string MessageSink::first_error() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (found_error_) return first_error_;
  // An error line not ended yet (the run ends inside it) counts too.
  const std::string_view line = line_;
  return line.starts_with("ERROR: ") ? std::string(line.substr(7)) : std::string();
}

void MessageSink::append(const char* text, std::size_t size) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!found_error_) note_first_error(text, size);
  if (echo_ != nullptr) {
    std::fwrite(text, 1, size, echo_);
    return;
  }
  if (head_.size() < kHeadLimit) {
    const std::size_t taken = size < kHeadLimit - head_.size() ? size : kHeadLimit - head_.size();
    head_.append(text, taken);
    text += taken;
    size -= taken;
  }
  if (size == 0) return;
  tail_.append(text, size);
  // Dropped in steps, so that each byte is moved a few times at most.
  if (tail_.size() > 2 * kTailLimit) {
    const std::size_t dropped = tail_.size() - kTailLimit;
    tail_.erase(0, dropped);
    left_out_ += dropped;
  }
}

std::string MessageSink::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::string taken;
  taken.swap(head_);
  if (tail_.empty()) return taken;
  // Whole lines on either side of the gap.
  std::uint64_t left_out = left_out_;
  if (tail_.size() > kTailLimit) {
    left_out += tail_.size() - kTailLimit;
    tail_.erase(0, tail_.size() - kTailLimit);
  }
  if (left_out > 0) {
    const std::size_t head_end = taken.rfind('\n') == std::string::npos ? 0 : taken.rfind('\n') + 1;
    left_out += taken.size() - head_end;
    taken.resize(head_end);
    const std::size_t tail_start = tail_.find('\n');
    const std::size_t cut = tail_start == std::string::npos ? tail_.size() : tail_start + 1;
    left_out += cut;
    tail_.erase(0, cut);
    char line[128];
    std::snprintf(line, sizeof(line),
                  "WARNING: %" PRIu64 " bytes of the messages of this file are left out here\n",
                  left_out);
    taken += line;
  }
  taken += tail_;
  tail_.clear();
  left_out_ = 0;
  return taken;
}
