#include "tool/progress_line.hpp"

#include <unistd.h>

#include <cinttypes>

namespace {
// Rewriting the line more often than this only costs the terminal time.
constexpr double kRefreshSeconds = 0.5;
}  // namespace

ProgressLine::ProgressLine(std::FILE* out, bool enabled, double delay_seconds, Clock clock)
    : out_(out),
      enabled_(enabled && out != nullptr),
      delay_(delay_seconds),
      clock_(std::move(clock)) {}

bool ProgressLine::wanted(bool quiet) {
  return !quiet && isatty(STDERR_FILENO) == 1;
}

double ProgressLine::now() const {
  if (clock_) return clock_();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressLine::start(const char* pass, std::int64_t total) {
  finish();
  if (!enabled_) return;
  pass_ = pass;
  total_ = total;
  calls_ = 0;
  pass_start_ = now();
  last_print_ = pass_start_;
}

void ProgressLine::tick(std::uint64_t done) {
  const double at = now();
  const double running = at - pass_start_;
  if (running < delay_ || (on_line_ && at - last_print_ < kRefreshSeconds)) return;
  last_print_ = at;
  const double rate = running > 0.0 ? static_cast<double>(done) / running : 0.0;
  if (total_ > 0) {
    const double percent = 100.0 * static_cast<double>(done) / static_cast<double>(total_);
    std::fprintf(out_, "\r%s: %5.1f%% of %" PRId64 " points, %.0f points/sec ", pass_,
                 percent > 100.0 ? 100.0 : percent, total_, rate);
  } else {
    std::fprintf(out_, "\r%s: %" PRIu64 " points, %.0f points/sec ", pass_, done, rate);
  }
  std::fflush(out_);
  on_line_ = true;
  printed_ = true;
}

void ProgressLine::finish() {
  if (!on_line_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  on_line_ = false;
}
