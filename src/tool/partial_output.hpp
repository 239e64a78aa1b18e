#pragma once

#include <memory>
#include <string>

#include "stream/signal_cleanup.hpp"

class LASheader;
class LASwriter;
class LASwriterFactory;

// The output file of the file in progress until it is finished: a failed file (or one
// abandoned by an exception, an early end of the run or a signal) leaves no output that
// looks complete.
//
// Only a file that the writer created or wrote over is removed: a device or a pipe named
// as output stays, and so does a file when the writer could not open it. Opening and
// registering are one step for a signal handler (see signal_cleanup), so a signal never
// leaves an output behind that was opened a moment before. Declare it before the writer:
// the writer has closed the file when the guard removes it.
class PartialOutput {
 public:
  PartialOutput() = default;
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;
  ~PartialOutput() { remove(); }

  // Opens the writer of `writers` for `header` on `name` (empty for standard output or
  // nothing); null as the factory returns it.
  std::unique_ptr<LASwriter> open(LASwriterFactory& writers, const LASheader& header,
                                  const std::string& name);
  // The output is finished: it stays.
  void keep();
  // Removes the output now (nothing when it is not ours); true when a file was removed, so
  // that a message names only what went.
  bool remove();

 private:
  std::string name_;
  signal_cleanup::Registration registration_;
};
