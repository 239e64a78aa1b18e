#pragma once

#include <string>

// An exclusive lock on one LAY file, held from before its layers are read until the file
// that replaces it is in place, so that runs adding layers to the same file take turns and
// none adds its layer to layers that another run has replaced meanwhile.
//
// The lock is an advisory lock (flock) on the file itself. Replacing the file (LASmodify
// renames a new file over it) leaves the lock on the old one, so a run that waited for it
// checks, once it has the lock, that the name still leads to the file it locked, and
// otherwise locks the new file. A LAY file that does not exist yet cannot be locked: the
// first run to put one in place wins, and LASmodify refuses to put another one over it.
//
// Released by `release` or the destructor. Not to be shared between threads.
class LAYfileLock {
 public:
  enum class Result {
    kLocked,
    kNoFile,  // nothing to lock
    kBusy,    // another process holds the lock (only when not waiting)
    kFailed,  // `failure` says why
  };

  LAYfileLock() = default;
  ~LAYfileLock() { release(); }
  LAYfileLock(const LAYfileLock&) = delete;
  LAYfileLock& operator=(const LAYfileLock&) = delete;

  // Locks the LAY file `lay_name`; with `wait`, waits for another process to release it.
  Result acquire(const std::string& lay_name, bool wait, std::string& failure);
  void release();
  bool locked() const { return descriptor_ >= 0; }

 private:
  int descriptor_ = -1;
};
