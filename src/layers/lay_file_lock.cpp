#include "layers/lay_file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LAYfileLock::Result LAYfileLock::acquire(const std::string& lay_name, bool wait,
                                         std::string& failure) {
  release();
  for (;;) {
    // Closed on exec: a decompressing program started meanwhile must not keep the lock.
    const int descriptor = open(lay_name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
      if (errno == ENOENT) return Result::kNoFile;
      failure = std::strerror(errno);
      return Result::kFailed;
    }
    int locked;
    do {
      locked = flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      const int error = errno;
      close(descriptor);
      if (error == EWOULDBLOCK) return Result::kBusy;
      failure = std::strerror(error);
      return Result::kFailed;
    }
    // The holder before may have put a new file in place of the one locked here.
    struct stat held {
    }, named{};
    const bool same = fstat(descriptor, &held) == 0 && stat(lay_name.c_str(), &named) == 0 &&
                      held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    if (same) {
      descriptor_ = descriptor;
      return Result::kLocked;
    }
    close(descriptor);
  }
}

void LAYfileLock::release() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
}
