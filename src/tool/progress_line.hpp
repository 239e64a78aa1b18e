#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

// One line per pass on a terminal, rewritten in place ("\r"): the pass name, the share of
// the points done and the points per second. Nothing is printed before the pass has run
// `delay` seconds, so short passes stay silent, and nothing at all when the line is not
// enabled (standard error is no terminal, or -quiet). The line is ended with "\n" by
// `finish`, or by the next `start`.
//
// `update` is cheap enough for every few thousand points: it looks at the clock only on
// every 16th call.
class ProgressLine {
 public:
  using Clock = std::function<double()>;  // seconds, monotonic

  // `out` is borrowed. A null clock means the steady clock.
  ProgressLine(std::FILE* out, bool enabled, double delay_seconds = 2.0, Clock clock = {});
  ~ProgressLine() { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // True when standard error is a terminal and the run is not quiet.
  static bool wanted(bool quiet);

  // Begins a pass over `total` points (0 or less: unknown, no percentage).
  void start(const char* pass, std::int64_t total);
  void update(std::uint64_t done) {
    if (!enabled_ || (++calls_ & 15u) != 0) return;
    tick(done);
  }
  void finish();
  void set_enabled(bool enabled) { enabled_ = enabled && out_ != nullptr; }
  bool printed() const { return printed_; }

 private:
  void tick(std::uint64_t done);
  double now() const;

  std::FILE* out_;
  bool enabled_;
  double delay_;
  Clock clock_;
  const char* pass_ = "";
  std::int64_t total_ = 0;
  double pass_start_ = 0.0;
  double last_print_ = 0.0;
  std::uint32_t calls_ = 0;
  bool on_line_ = false;  // a line of this pass is showing
  bool printed_ = false;  // any line was printed
};
