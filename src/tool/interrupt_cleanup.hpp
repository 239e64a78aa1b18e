#pragma once

// What the files in progress leave on disk when the process is ended by a signal (Ctrl-C,
// kill, a hang-up, a closed output pipe): destructors do not run then, so the temporary
// directories with the grids' spill files and the partial outputs would stay. The handlers
// installed here remove them, with async-signal-safe calls only, and then end the process
// by the same signal as before.
//
// Every file in progress has a slot of its own, chosen per thread (`use_slot`; slot 0 until
// a thread says otherwise), so that files processed at once on several threads are all
// cleaned up. The paths are copied into fixed buffers; paths longer than the buffers are not
// registered. A registration blocks the signals on its thread while it copies and holds the
// slot's lock, so a handler (on any thread) never reads half a path.
namespace interrupt_cleanup {

// Files that can be in progress at once.
constexpr unsigned kSlots = 64;

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE (once).
void install();
// The slot of the calling thread's later registrations (below kSlots).
void use_slot(unsigned slot);
// The directory and the prefix of the spill files in it ("<base><pid>.<n>.tmp"); null
// clears the registration.
void set_temporary_directory(const char* directory, const char* file_base);
void set_partial_output(const char* path);

}  // namespace interrupt_cleanup
