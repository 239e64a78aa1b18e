#pragma once

// Runs the noise tool on one command line: start-up (projection, reader factory, writer
// factory, the tool's own options), every input file (two passes over its points, the
// isolated cells marked in between), and the end. Returns the process exit code:
//   0  every file done (or -h, -version);
//   1  an option error, a run that could not start or had to stop, any file that failed
//      (its partial output removed), or a run started without arguments (interactive).
// All messages go to stderr. Consumed entries of argv are blanked.
int run_isocull(int argc, char* argv[]);
