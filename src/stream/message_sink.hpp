#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// Where the messages of one piece of work go while several run at once: the tool gives
// each file in progress a sink, so that the file's lines can be printed together when it
// ends. A sink is made current for a thread with a Scope; the worker pool carries the
// submitter's sink over to the thread that runs a job, so a job's lines land with those of
// the file it belongs to. Appending is thread-safe.
//
// What a sink holds is bounded, whatever a file's readers print: the first kHeadLimit bytes
// and the last kTailLimit bytes are kept (the end holds the file's errors and its result),
// and `take` puts one line between them that says how much was left out.
//
// A sink also notes the first "ERROR: " line appended to it (the reason a file failed, as
// the system or a reader said it first). An echoing sink keeps nothing else: it passes
// every line on to its stream at once.
class MessageSink {
 public:
  static constexpr std::size_t kHeadLimit = 256 * 1024;
  static constexpr std::size_t kTailLimit = 64 * 1024;
  static constexpr std::size_t kFirstErrorLimit = 1024;

  MessageSink() = default;
  // An echoing sink: what is appended goes to `echo` (borrowed) as it comes.
  explicit MessageSink(std::FILE* echo) : echo_(echo) {}

  void append(const char* text, std::size_t size);
  // The text of the first line appended that began with "ERROR: ", without that prefix and
  // its line end (cut at kFirstErrorLimit bytes); empty when there was none.
  std::string first_error() const;
  // Everything kept, in order, and empties the sink.
  std::string take();

  // The sink of the calling thread, or null when its messages go where they always go.
  static MessageSink* current();

  // Makes `sink` (null included) current for this thread until the scope ends.
  class Scope {
   public:
    explicit Scope(MessageSink* sink);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    MessageSink* previous_;
  };

 private:
  void note_first_error(const char* text, std::size_t size);

  mutable std::mutex mutex_;
  std::FILE* echo_ = nullptr;
  std::string line_;         // the start of the line being appended, while no error was found
  std::string first_error_;  // complete once found_error_
  bool found_error_ = false;
  std::string head_;
  std::string tail_;            // the bytes after the head; its last kTailLimit are kept
  std::uint64_t left_out_ = 0;  // bytes after the head that tail_ no longer holds
};
