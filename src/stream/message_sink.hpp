#pragma once

#include <cstddef>
#include <mutex>
#include <string>

// Where the messages of one piece of work go while several run at once: the tool gives
// each file in progress a sink, so that the file's lines can be printed together when it
// ends. A sink is made current for a thread with a Scope; the worker pool carries the
// submitter's sink over to the thread that runs a job, so a job's lines land with those of
// the file it belongs to. Appending is thread-safe.
class MessageSink {
 public:
  void append(const char* text, std::size_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    text_.append(text, size);
  }
  std::string take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string taken;
    taken.swap(text_);
    return taken;
  }

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
  std::string text_;
};
