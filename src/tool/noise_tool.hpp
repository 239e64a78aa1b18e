#pragma once

#include <string>

// Runs the noise tool on one command line: start-up (projection, reader factory, writer
// factory, the tool's own options), every input file (two passes over its points, the
// isolated cells marked in between), and the end. Returns the process exit code:
//   0  every file done (or -h, -version);
//   1  an option error, a run that could not start or had to stop, any file that failed
//      (its partial output removed), or a run started without arguments (interactive).
// All messages go to stderr. Consumed entries of argv are blanked.
int run_isocull(int argc, char* argv[]);

// What a run inside a host program comes to (see run_isocull_embedded).
struct EmbeddedRun {
  int exit_code = 1;
  // The JSON document that -report writes, when the run got to its end (every file taken,
  // also when some failed); empty when it ended before: an option error, -h, -version, no
  // input, a grid that could not be allocated.
  std::string report_json;
  // The last line printed on stderr that begins with "ERROR" (or "FATAL ERROR"), without
  // its line end; empty when there was none.
  std::string error_line;
};

// run_isocull for a program that runs the tool in its own process (the Python module): the
// same run, the same outputs and the same lines on stderr, and what the host needs to hear
// back. Unlike run_isocull it installs no signal handlers: those remove the files in progress
// and then end the process by the signal, which would end the host on its user's Ctrl-C.
// The signals that the host catches (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
// SIGALRM with a handler) are held back on the calling thread while the run lasts, so the
// host acts on them after the run, when every output is complete; signals left to their
// default action end the process as they would without the run. Each call is a run of its
// own; nothing of one carries over to the next. Not for several threads at once: a run
// replaces the process's `stderr` stream while it lasts.
EmbeddedRun run_isocull_embedded(int argc, char* argv[]);

// The version number of the version line, "200509".
const char* isocull_version();
