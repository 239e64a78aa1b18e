#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

// What a process leaves behind when a signal ends it (Ctrl-C, kill, a hang-up, a closed
// output pipe): destructors do not run then, so outputs in the making, temporary files and
// folders, and the outside programs it started would stay. Whoever makes one of those
// registers it here; the handlers that `install` sets remove exactly what is registered (no
// name is ever guessed), end the registered programs, and then end the process by the same
// signal as before.
//
// Making a thing and registering it are one step for a handler: a `Making` blocks the
// signals on its thread and holds an entry of the registry while the thing is made, so a
// handler (which then runs on another thread) waits for it and never finds a file made but
// not registered. Once a signal has arrived nothing new is made: a thread that would make
// something waits for the process to end instead.
//
// Everything here may be used from any thread; the handlers use async-signal-safe calls
// only (lock-free atomics, unlink, rmdir, kill, raise).
namespace signal_cleanup {

enum class Kind : int {
  kFile,     // unlinked
  kFolder,   // removed, once empty: the files in it are registered on their own
  kProgram,  // a process group of its own, ended with SIGKILL
};

// Things registered at once; beyond that, things are made but not registered.
inline constexpr unsigned kEntries = 256;

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE (once), and ignores
// SIGXFSZ: a write beyond the file-size limit (ulimit -f) then fails with EFBIG, which the
// writers report as they report a full disk, instead of the process dying without a word.
void install();

// A signal is ending the process.
bool ending();
// When a signal is ending the process, waits for the end (the handler is removing what is
// registered, on another thread): nothing new starts.
void wait_if_ending();

// One registered thing; the handlers leave it alone once it is forgotten (or destroyed).
// Forgetting never removes anything.
class Registration {
 public:
  Registration() = default;
  ~Registration() { forget(); }
  Registration(Registration&& other) noexcept : entry_(other.entry_) { other.entry_ = -1; }
  Registration& operator=(Registration&& other) noexcept;
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  bool active() const { return entry_ >= 0; }
  void forget();

 private:
  friend class Making;
  explicit Registration(int entry) : entry_(entry) {}
  int entry_ = -1;
};

// Lives while a thing is made: blocks the handled signals on the calling thread (a handler
// runs on another thread meanwhile, and waits for this entry) and reserves an entry. When a
// signal is ending the process, the constructor never returns (see wait_if_ending). Keep it
// short: a handler waits for it. At most one `register_*` per Making.
class Making {
 public:
  Making();
  ~Making();
  Making(const Making&) = delete;
  Making& operator=(const Making&) = delete;

  // Registers what was made. Inactive when no entry was free or the path does not fit.
  Registration register_path(Kind kind, const std::string& path);
  Registration register_program(pid_t group);

 private:
  Registration publish();
  void release();

  int entry_ = -1;
  sigset_t saved_mask_;  // the thread's signal mask before
};

}  // namespace signal_cleanup
