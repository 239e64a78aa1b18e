#pragma once

#include <cstdio>

// Sends what a thread prints on standard error to its message sink (MessageSink::current),
// while several files are processed at once: the library and the tool print their lines
// with plain stdio calls on `stderr`, from whichever thread does the work, so `stderr` is
// replaced for that time by an unbuffered stream that hands every write, on the writing
// thread, to that thread's sink, or to the standard error stream it replaced when the
// thread has none. Each stdio call holds the stream's lock, so no line is cut into another.
//
// Needs a C library whose `stderr` can be assigned and that makes streams with custom
// writes (glibc); elsewhere `active` stays false and files are processed one at a time.
class StderrCapture {
 public:
  StderrCapture();
  // Puts the original stream back (no capture may be in use any more).
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  bool active() const { return stream_ != nullptr; }
  // The stream that `stderr` was before: where captured lines are printed in the end.
  std::FILE* original() const { return original_; }

 private:
  std::FILE* original_;
  std::FILE* stream_ = nullptr;
};
