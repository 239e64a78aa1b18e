#pragma once

// What a file in progress leaves on disk when the process is ended by a signal (Ctrl-C,
// kill, a hang-up, a closed output pipe): destructors do not run then, so the temporary
// directory with the grid's spill files and the partial output would stay. The handlers
// installed here remove both, with async-signal-safe calls only, and then end the process
// by the same signal as before.
//
// The paths are copied into fixed buffers; one temporary directory and one output are
// registered at a time (those of the file in progress). Paths longer than the buffers are
// not registered.
namespace interrupt_cleanup {

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE (once).
void install();
// The directory and the prefix of the spill files in it ("<base><pid>.<n>.tmp"); null
// clears the registration.
void set_temporary_directory(const char* directory, const char* file_base);
void set_partial_output(const char* path);

}  // namespace interrupt_cleanup
