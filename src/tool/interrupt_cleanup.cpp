#include "tool/interrupt_cleanup.hpp"

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

char g_directory[kPathLimit];
char g_file_base[kPathLimit];
char g_output[kPathLimit];
volatile std::sig_atomic_t g_directory_set = 0;
volatile std::sig_atomic_t g_output_set = 0;

// Copies `text` unless it does not fit; the flag goes up only once the copy is complete, so
// a handler never sees half a path.
bool store(char* buffer, const char* text, volatile std::sig_atomic_t& flag) {
  flag = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (text == nullptr || std::strlen(text) >= kPathLimit) return false;
  std::memcpy(buffer, text, std::strlen(text) + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  flag = 1;
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

void on_signal(int signal_number) {
  if (g_output_set) unlink(g_output);
  if (g_directory_set) {
    char name[kPathLimit + 64];
    const std::size_t base_length = std::strlen(g_file_base);
    std::memcpy(name, g_file_base, base_length);
    char* after_base = append_number(name + base_length, static_cast<unsigned long>(getpid()));
    *after_base++ = '.';
    for (unsigned number = 0; number < kMaxSpillNumber; number++) {
      char* end = append_number(after_base, number);
      std::memcpy(end, ".tmp", 5);
      unlink(name);
    }
    rmdir(g_directory);
  }
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void install() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // Further signals wait until this cleanup has run.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGPIPE);
    sigaction(signal_number, &action, nullptr);
  }
}

void set_temporary_directory(const char* directory, const char* file_base) {
  g_directory_set = 0;
  if (directory == nullptr || file_base == nullptr || std::strlen(file_base) + 1 > kPathLimit) {
    return;
  }
  volatile std::sig_atomic_t base_set = 0;
  if (!store(g_file_base, file_base, base_set)) return;
  store(g_directory, directory, g_directory_set);
}

void set_partial_output(const char* path) {
  store(g_output, path, g_output_set);
}

}  // namespace interrupt_cleanup
