#include "stream/worker_pool.hpp"

#include <atomic>
#include <system_error>
#include <utility>

namespace {

std::atomic<int> thread_limit_for_testing{-1};

}  // namespace

WorkerPool::WorkerPool(unsigned workers) {
  const int limit = thread_limit_for_testing.load();
  if (limit >= 0 && workers > static_cast<unsigned>(limit)) workers = static_cast<unsigned>(limit);
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; i++) {
    try {
      threads_.emplace_back([this] { run_worker(); });
    } catch (const std::system_error&) {
      break;  // the jobs then run on fewer threads, or on their waiters
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_)
    thread.join();
  // Jobs nobody waited for still run, so that what they own is released in order.
  std::unique_lock<std::mutex> lock(mutex_);
  while (run_one(lock)) {
  }
}

unsigned WorkerPool::machine_cores() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

void WorkerPool::limit_threads_for_testing(int threads) {
  thread_limit_for_testing.store(threads);
}

WorkerPool::TicketPtr WorkerPool::submit(std::function<void()> job) {
  auto ticket = std::make_shared<Ticket>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Entry{std::move(job), ticket, MessageSink::current()});
  }
  queued_.notify_one();
  return ticket;
}

bool WorkerPool::run_one(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  Entry entry = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  std::exception_ptr failure;
  try {
    const MessageSink::Scope messages(entry.messages);
    entry.job();
  } catch (...) {
    failure = std::current_exception();
  }
  entry.job = nullptr;  // what the job holds goes before its ticket is marked done
  lock.lock();
  entry.ticket->failure_ = failure;
  entry.ticket->done_ = true;
  finished_.notify_all();
  return true;
}

void WorkerPool::run_worker() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, nothing left
    run_one(lock);
  }
}

bool WorkerPool::settle(TicketPtr& ticket) {
  bool ok = true;
  try {
    wait(ticket);
  } catch (...) {
    ok = false;
  }
  ticket.reset();
  return ok;
}

void WorkerPool::wait(const TicketPtr& ticket) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ticket->done_) {
    // Help rather than sleep while jobs are queued: the waiter's own job may be among them.
    if (!run_one(lock)) finished_.wait(lock, [&] { return ticket->done_ || !queue_.empty(); });
  }
  if (ticket->failure_) std::rethrow_exception(ticket->failure_);
}
