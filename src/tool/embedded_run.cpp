// The tool run inside a host program (see run_isocull_embedded in noise_tool.hpp).

#include <pthread.h>
#include <signal.h>

#include "stream/worker_pool.hpp"
#include "tool/message_capture.hpp"
#include "tool/noise_run.hpp"
#include "tool/noise_tool.hpp"

namespace {

// The signals a host may catch to stop its work; faults (SIGSEGV and kin) are not held back.
constexpr int kHostSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

// Holds back, on the calling thread and on the threads the run starts, the signals that the
// host catches, until the run has ended. Caught there, such a signal would interrupt the
// run's reads of a pipe or a terminal (EINTR), failing a file that the host only wanted to
// stop after; held back, it reaches the host's handler as soon as the run has ended (or on
// another thread of the host meanwhile). Signals left to their default action still end the
// process at once.
class CaughtSignalsHeldBack {
 public:
  CaughtSignalsHeldBack() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal_number : kHostSignals) {
      struct sigaction action {};
      if (sigaction(signal_number, nullptr, &action) != 0) continue;
      if (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN) {
        sigaddset(&held, signal_number);
      }
    }
    pthread_sigmask(SIG_BLOCK, &held, &saved_);
  }
  ~CaughtSignalsHeldBack() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  CaughtSignalsHeldBack(const CaughtSignalsHeldBack&) = delete;
  CaughtSignalsHeldBack& operator=(const CaughtSignalsHeldBack&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace

EmbeddedRun run_isocull_embedded(int argc, char* argv[]) {
  EmbeddedRun result;
  const StderrErrorLine error_line;
  {
    const CaughtSignalsHeldBack held_back;
    NoiseRun run(argc, argv, true);
    result.exit_code = run.run();
    result.report_json = run.report_json();
  }
  result.error_line = error_line.last();
  return result;
}

const char* isocull_version() {
  return "200509";
}
