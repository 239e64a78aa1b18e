#pragma once

// Whether a process has ended, for tests that check that nothing is left running.

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

namespace process_watch {

// Ended: no such process, or a zombie that only waits for its parent to collect it.
inline bool ended(pid_t pid) {
  if (kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(status, line);
  const std::size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

// Waits up to `seconds` for the process to end.
inline bool ends_within(pid_t pid, int seconds) {
  for (int tries = 0; tries < seconds * 100; tries++) {
    if (ended(pid)) return true;
    usleep(10000);
  }
  return ended(pid);
}

}  // namespace process_watch
