#pragma once

#include <string>

#include "stream/signal_cleanup.hpp"

// A private directory for the spill files of one file's grid: "isocull-XXXXXX" under
// $TMPDIR (or /tmp when that is unset or unusable), made with mkdtemp so that no other
// process shares or guesses it. The destructor removes every file left in it and the
// directory itself, so whatever way processing a file ends (done, failed, thrown), no
// temporary file stays behind. A signal that ends the process removes it too, once the
// files in it (each registered on its own) are gone.
class TemporaryDirectory {
 public:
  // Prints one "ERROR: " line when no directory could be made; ok() is then false.
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // Prefix for the names of the files inside: "<path>/spill".
  std::string file_base() const { return path_ + "/spill"; }

 private:
  std::string path_;
  signal_cleanup::Registration registration_;
};
