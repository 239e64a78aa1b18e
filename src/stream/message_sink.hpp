#pragma once

#include <cstddef>
#include <cstdint>
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
class MessageSink {
 public:
  static constexpr std::size_t kHeadLimit = 256 * 1024;
  static constexpr std::size_t kTailLimit = 64 * 1024;

  void append(const char* text, std::size_t size);
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
  std::mutex mutex_;
  std::string head_;
  std::string tail_;            // the bytes after the head; its last kTailLimit are kept
  std::uint64_t left_out_ = 0;  // bytes after the head that tail_ no longer holds
};
