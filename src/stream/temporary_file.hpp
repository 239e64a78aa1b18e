#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "stream/signal_cleanup.hpp"

// A file that this process makes for itself and that must not outlive it.
//
// It is only ever a new file: created exclusively (O_CREAT | O_EXCL, which never opens
// through a link, not even one that leads nowhere), readable and writable by its owner only,
// closed on exec. A name that is taken, by a file or by a link planted there, is refused
// (errno EEXIST) and nothing is opened. While it exists it is registered with
// signal_cleanup, so a signal that ends the process removes it too.
//
// The destructor closes and removes the file; `commit` instead puts it in place under its
// final name. Errors are left to the caller to report (errno holds the cause).
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { remove(); }
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file `path`, opened for reading and writing ("w+b"). False when it cannot.
  bool create(const std::string& path);
  // Creates a file named `prefix` and six random characters (for a file beside another one,
  // whose name no one can foresee).
  bool create_unique(const std::string& prefix);

  bool is_open() const { return file_ != nullptr; }
  std::FILE* file() const { return file_; }
  const std::string& name() const { return name_; }

  // Writes what is buffered, syncs it to disk, gives the file `mode`, closes it and renames
  // it to `path`. With `replace` off an existing `path` is never replaced (errno EEXIST).
  // Afterwards the file is no temporary any more. False when any step failed: the file is
  // then removed.
  bool commit(const std::string& path, mode_t mode, bool replace);
  // Closes and removes the file (nothing when there is none).
  void remove();

 private:
  std::FILE* file_ = nullptr;
  std::string name_;
  signal_cleanup::Registration registration_;
};

// A temporary file without a name, for data that only this process reads back: made in
// `folder` under `prefix` and six random characters, exclusively, and unlinked at once,
// before any signal can end the process. Its space is given back when it is closed. Null
// when none can be made (errno holds why).
std::FILE* create_unnamed_file(const char* folder, const char* prefix);

// The permissions a file created now would get by default: 0666 without the bits of the
// process's umask.
mode_t default_file_mode();
