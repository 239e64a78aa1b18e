#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "stream/message_sink.hpp"

// The worker threads of a run: made once, shared by every file and pass that codes chunks
// in parallel, joined when the pool goes.
//
// A job is queued with `submit` and its ticket is waited for with `wait`. A waiter whose
// job is still queued runs queued jobs itself, oldest first, until its own is done: so a
// pool without a single started thread (none asked for, or the system refused them) still
// finishes every job, on the waiting thread, in the same order, and a job can never wait
// forever for a worker that is itself waiting.
//
// Jobs must not throw past their own code: an exception a job lets out is kept in its ticket
// and thrown again by `wait`. A job's messages go to the message sink its submitter had
// (see message_sink.hpp). The pool is thread-safe; a ticket is waited for by one thread.
class WorkerPool {
 public:
  class Ticket;
  using TicketPtr = std::shared_ptr<Ticket>;

  // Starts up to `workers` threads; fewer when the system refuses one (then `workers()`
  // tells how many run, possibly none).
  explicit WorkerPool(unsigned workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The cores of this machine, at least 1.
  static unsigned machine_cores();

  unsigned workers() const { return static_cast<unsigned>(threads_.size()); }

  // Queues `job` and returns its ticket.
  TicketPtr submit(std::function<void()> job);

  // Returns once the ticket's job has run; rethrows what the job threw.
  void wait(const TicketPtr& ticket);

  // Waits for the ticket's job and lets the ticket go; false when the job threw.
  bool settle(TicketPtr& ticket);

  // For tests of the fallback: the number of threads the next pool may start (-1: any).
  static void limit_threads_for_testing(int threads);

 private:
  struct Entry {
    std::function<void()> job;
    TicketPtr ticket;
    MessageSink* messages;  // the submitter's, current while the job runs
  };

  void run_worker();
  // Runs one job of the queue on this thread; false when the queue is empty.
  bool run_one(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable queued_;    // to the workers: a job was queued, or the end
  std::condition_variable finished_;  // to the waiters: a job has run
  std::deque<Entry> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

class WorkerPool::Ticket {
 private:
  friend class WorkerPool;
  bool done_ = false;  // guarded by the pool's mutex
  std::exception_ptr failure_;
};
