#include "stream/signal_cleanup.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace signal_cleanup {
namespace {

constexpr std::size_t kPathLimit = 4096;
constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// An entry is free, busy (held by a Making or a forget on a thread that has the signals
// blocked, or for good by a handler) or set (registered, read only by a handler).
enum State : int { kFree = 0, kBusy = 1, kSet = 2 };
static_assert(std::atomic<int>::is_always_lock_free, "the handlers take the entries");

std::atomic<int> g_states[kEntries];
std::atomic<bool> g_ending{false};
// Written only while the entry is busy by its holder; read by a handler after it took the
// entry from set.
Kind g_kinds[kEntries];
pid_t g_groups[kEntries];
char g_paths[kEntries][kPathLimit];
// Entries reserved by the Makings alive on this thread.
thread_local int t_entries_held = 0;

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : kHandled)
    sigaddset(&set, number);
  return set;
}

int reserve_entry() {
  for (unsigned i = 0; i < kEntries; i++) {
    int expected = kFree;
    if (g_states[i].compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// With the signals blocked: a handler on another thread ends the process.
[[noreturn]] void wait_for_the_end() {
  for (;;)
    pause();
}

void on_signal(int number) {
  g_ending.store(true);
  // Folders go last, once the files registered in them are gone.
  bool folders[kEntries] = {};
  for (unsigned i = 0; i < kEntries; i++) {
    // A busy entry is being made or forgotten on another thread (which has the signals
    // blocked, so it is never this one): wait for it. The entry is then kept busy for good,
    // so that nothing changes it before the process ends.
    int seen = g_states[i].load(std::memory_order_acquire);
    while (seen == kBusy ||
           !g_states[i].compare_exchange_weak(seen, kBusy, std::memory_order_acquire)) {
      seen = g_states[i].load(std::memory_order_acquire);
    }
    if (seen != kSet) continue;
    switch (g_kinds[i]) {
      case Kind::kFile:
        unlink(g_paths[i]);
        break;
      case Kind::kFolder:
        folders[i] = true;
        break;
      case Kind::kProgram:
        // The group holds whatever the program started in turn (a script's own children).
        kill(-g_groups[i], SIGKILL);
        kill(g_groups[i], SIGKILL);
        break;
    }
  }
  for (unsigned i = kEntries; i-- > 0;) {
    if (folders[i]) rmdir(g_paths[i]);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
  // Delivered once this handler returns, with the default action: the process ends by the
  // signal that asked for it.
  raise(number);
}

}  // namespace

void install() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  const sigset_t set = handled_signals();
  for (int number : kHandled) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    // Further signals wait until this cleanup has run.
    action.sa_mask = set;
    sigaction(number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

bool ending() {
  return g_ending.load();
}

void wait_if_ending() {
  if (!g_ending.load()) return;
  const sigset_t set = handled_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  wait_for_the_end();
}

Registration& Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    forget();
    entry_ = other.entry_;
    other.entry_ = -1;
  }
  return *this;
}

void Registration::forget() {
  if (entry_ < 0) return;
  // Blocked, so that no handler on this thread finds the entry busy and waits for itself.
  const sigset_t set = handled_signals();
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &set, &saved);
  int expected = kSet;
  if (g_states[entry_].compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) {
    g_states[entry_].store(kFree, std::memory_order_release);
  } else if (expected == kBusy) {
    // A handler holds it: the process is ending.
    wait_for_the_end();
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  entry_ = -1;
}

Making::Making() {
  const sigset_t set = handled_signals();
  pthread_sigmask(SIG_BLOCK, &set, &saved_mask_);
  // A Making inside another one on this thread must not wait: the handler waits for the
  // outer one's entry. What it makes goes unregistered then.
  if (t_entries_held > 0 && g_ending.load()) return;
  if (g_ending.load()) wait_for_the_end();
  entry_ = reserve_entry();
  if (g_ending.load()) {
    // The handler started meanwhile: it waits for this entry, so it goes back first.
    if (entry_ >= 0) g_states[entry_].store(kFree, std::memory_order_release);
    wait_for_the_end();
  }
  if (entry_ >= 0) t_entries_held++;
}

Making::~Making() {
  release();
  pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
}

void Making::release() {
  if (entry_ < 0) return;
  g_states[entry_].store(kFree, std::memory_order_release);
  entry_ = -1;
  t_entries_held--;
}

Registration Making::register_path(Kind kind, const std::string& path) {
  if (entry_ < 0 || kind == Kind::kProgram || path.empty() || path.size() >= kPathLimit) {
    return Registration();
  }
  g_kinds[entry_] = kind;
  std::memcpy(g_paths[entry_], path.c_str(), path.size() + 1);
  return publish();
}

Registration Making::publish() {
  const int entry = entry_;
  entry_ = -1;
  t_entries_held--;
  g_states[entry].store(kSet, std::memory_order_release);
  return Registration(entry);
}

Registration Making::register_program(pid_t group) {
  if (entry_ < 0 || group <= 0) return Registration();
  g_kinds[entry_] = Kind::kProgram;
  g_groups[entry_] = group;
  return publish();
}

}  // namespace signal_cleanup
