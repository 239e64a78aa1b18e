#include "tool/interrupt_cleanup.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace interrupt_cleanup {
namespace {

constexpr std::size_t kPathLimit = 4096;
// Spill file numbers probed: the rasters number their files from 0 upwards and reuse the
// numbers of deleted files, so every file in use lies below this.
constexpr unsigned kMaxSpillNumber = 1u << 16;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

struct Slot {
  // Taken (1) by a registration while it copies, and for good by a handler.
  std::atomic<int> lock{0};
  bool directory_set = false;
  bool output_set = false;
  char directory[kPathLimit];
  char file_base[kPathLimit];
  char output[kPathLimit];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler takes the slots' locks");

Slot g_slots[kSlots];
thread_local unsigned t_slot = 0;

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kSignals)
    sigaddset(&set, signal_number);
  return set;
}

// Holds the calling thread's slot with the signals blocked on this thread, so that a
// handler that runs meanwhile runs on another thread and waits for the lock.
class SlotWriter {
 public:
  SlotWriter() : slot_(g_slots[t_slot]) {
    const sigset_t set = handled_signals();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
    int free = 0;
    while (!slot_.lock.compare_exchange_weak(free, 1, std::memory_order_acquire))
      free = 0;
  }
  ~SlotWriter() {
    slot_.lock.store(0, std::memory_order_release);
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SlotWriter(const SlotWriter&) = delete;
  SlotWriter& operator=(const SlotWriter&) = delete;
  Slot& slot() { return slot_; }

 private:
  Slot& slot_;
  sigset_t saved_;
};

// Copies `text` unless it is null or does not fit.
bool store(char* buffer, const char* text) {
  if (text == nullptr || std::strlen(text) >= kPathLimit) return false;
  std::memcpy(buffer, text, std::strlen(text) + 1);
  return true;
}

// Appends the decimal digits of `value` at `at`; returns the new end.
char* append_number(char* at, unsigned long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0)
    *at++ = digits[--count];
  return at;
}

void clean_slot(const Slot& slot) {
  if (slot.output_set) unlink(slot.output);
  if (!slot.directory_set) return;
  char name[kPathLimit + 64];
  const std::size_t base_length = std::strlen(slot.file_base);
  std::memcpy(name, slot.file_base, base_length);
  char* after_base = append_number(name + base_length, static_cast<unsigned long>(getpid()));
  *after_base++ = '.';
  for (unsigned number = 0; number < kMaxSpillNumber; number++) {
    char* end = append_number(after_base, number);
    std::memcpy(end, ".tmp", 5);
    unlink(name);
  }
  rmdir(slot.directory);
}

void on_signal(int signal_number) {
  for (Slot& slot : g_slots) {
    // The lock is kept: the process ends, and no registration may change the slot first.
    int free = 0;
    while (!slot.lock.compare_exchange_weak(free, 1, std::memory_order_acquire))
      free = 0;
    clean_slot(slot);
  }
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void install() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  const sigset_t set = handled_signals();
  for (int signal_number : kSignals) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    // Further signals wait until this cleanup has run.
    action.sa_mask = set;
    sigaction(signal_number, &action, nullptr);
  }
}

void use_slot(unsigned slot) {
  t_slot = slot < kSlots ? slot : 0;
}

void set_temporary_directory(const char* directory, const char* file_base) {
  SlotWriter writer;
  Slot& slot = writer.slot();
  slot.directory_set = false;
  if (directory == nullptr || file_base == nullptr) return;
  slot.directory_set = store(slot.file_base, file_base) && store(slot.directory, directory);
}

void set_partial_output(const char* path) {
  SlotWriter writer;
  Slot& slot = writer.slot();
  slot.output_set = store(slot.output, path);
}

}  // namespace interrupt_cleanup
