#pragma once

#include <cstdio>
#include <string>

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

// Keeps the last line printed on `stderr` that begins with "ERROR" or "FATAL ERROR", while
// everything printed still reaches the stream it replaced, unchanged and at once: for a host
// that runs the tool in its own process and must say why a run failed. `stderr` is replaced
// while it lives (a StderrCapture of the run nests inside it, and its lines arrive here when
// it prints them). Writes come in under the stream's own lock, so lines from several threads
// are kept whole. One at a time; glibc only, as StderrCapture: elsewhere `last` stays empty.
class StderrErrorLine {
 public:
  StderrErrorLine();
  // Puts the original stream back.
  ~StderrErrorLine();
  StderrErrorLine(const StderrErrorLine&) = delete;
  StderrErrorLine& operator=(const StderrErrorLine&) = delete;

  // The last such line so far, without its line end; empty when there was none.
  std::string last() const;
  // The text printed (called by the stream, also for pieces of a line).
  void take(const char* text, std::size_t size);

 private:
  std::FILE* original_;
  std::FILE* stream_ = nullptr;
  std::string line_;  // the line being printed, up to its end
  std::string last_;
};
