#include "stream/worker_pool.hpp"

#include "stream/message_sink.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Each case: the threads asked for, the threads the system grants (-1: any).
struct PoolCase {
  unsigned asked;
  int granted;
  unsigned expected_workers;
};

class WorkerPoolRuns : public testing::TestWithParam<PoolCase> {
 protected:
  void TearDown() override { WorkerPool::limit_threads_for_testing(-1); }
};

TEST_P(WorkerPoolRuns, EveryJobRunsOnceAndItsWaiterSeesItsResult) {
  WorkerPool::limit_threads_for_testing(GetParam().granted);
  WorkerPool pool(GetParam().asked);
  EXPECT_EQ(pool.workers(), GetParam().expected_workers);
  std::vector<long> results(200, 0);
  std::atomic<int> runs{0};
  std::vector<WorkerPool::TicketPtr> tickets;
  for (std::size_t i = 0; i < results.size(); i++) {
    tickets.push_back(pool.submit([&results, &runs, i] {
      long sum = 0;
      for (long k = 0; k <= static_cast<long>(i) * 100; k++)
        sum += k;
      results[i] = sum;
      runs++;
    }));
  }
  for (std::size_t i = 0; i < results.size(); i++) {
    pool.wait(tickets[i]);
    const long n = static_cast<long>(i) * 100;
    EXPECT_EQ(results[i], n * (n + 1) / 2);
  }
  EXPECT_EQ(runs.load(), 200);
}

TEST_P(WorkerPoolRuns, AJobsMessagesGoToTheSinkItsSubmitterHad) {
  WorkerPool::limit_threads_for_testing(GetParam().granted);
  WorkerPool pool(GetParam().asked);
  MessageSink sinks[2];
  std::vector<WorkerPool::TicketPtr> tickets;
  for (int i = 0; i < 40; i++) {
    const MessageSink::Scope scope(&sinks[i % 2]);
    tickets.push_back(pool.submit([i] {
      const std::string line = std::to_string(i) + "\n";
      MessageSink::current()->append(line.data(), line.size());
    }));
  }
  {
    // A waiter that runs a job itself lends it the job's sink, and gets its own back.
    MessageSink own;
    const MessageSink::Scope scope(&own);
    for (const WorkerPool::TicketPtr& ticket : tickets)
      pool.wait(ticket);
    EXPECT_EQ(MessageSink::current(), &own);
    EXPECT_EQ(own.take(), "");
  }
  EXPECT_EQ(MessageSink::current(), nullptr);
  for (int parity = 0; parity < 2; parity++) {
    std::vector<int> numbers;
    std::istringstream lines(sinks[parity].take());
    for (int number; lines >> number;)
      numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), 20u);
    for (int k = 0; k < 20; k++)
      EXPECT_EQ(numbers[k], 2 * k + parity);
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, WorkerPoolRuns,
                         testing::Values(PoolCase{0, -1, 0}, PoolCase{2, -1, 2}, PoolCase{4, 1, 1},
                                         PoolCase{3, 0, 0}));

TEST(WorkerPool, AJobsExceptionReachesItsWaiterAndTheOthersStillRun) {
  WorkerPool pool(2);
  auto failing = pool.submit([] { throw std::runtime_error("chunk 3 is corrupt"); });
  std::atomic<bool> ran{false};
  auto fine = pool.submit([&ran] { ran = true; });
  EXPECT_THROW(pool.wait(failing), std::runtime_error);
  pool.wait(fine);
  EXPECT_TRUE(ran.load());
}

TEST(WorkerPool, WithoutWorkersJobsRunOldestFirstOnTheirWaitersAndTheRestWhenThePoolGoes) {
  EXPECT_GE(WorkerPool::machine_cores(), 1u);
  std::vector<int> order;
  {
    WorkerPool::limit_threads_for_testing(0);
    WorkerPool pool(2);
    WorkerPool::limit_threads_for_testing(-1);
    ASSERT_EQ(pool.workers(), 0u);
    auto first = pool.submit([&order] { order.push_back(1); });
    auto failing = pool.submit([&order] {
      order.push_back(2);
      throw std::runtime_error("refused");
    });
    auto third = pool.submit([&order] { order.push_back(3); });
    pool.submit([&order] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(pool.settle(failing));
    EXPECT_EQ(failing, nullptr);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(pool.settle(first));
    EXPECT_EQ(first, nullptr);
    EXPECT_TRUE(pool.settle(third));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  }
  // Nobody waited for the fourth: it ran as the pool went.
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(WorkerPool, JobsWaitingForJobsFinishWithoutWorkers) {
  // A job that submits and waits for another (a file job coding its chunks) must not wait
  // forever when no worker can take the inner job.
  WorkerPool::limit_threads_for_testing(0);
  WorkerPool pool(4);
  WorkerPool::limit_threads_for_testing(-1);
  int inner_result = 0;
  auto outer = pool.submit([&] {
    auto inner = pool.submit([&] { inner_result = 42; });
    pool.wait(inner);
  });
  pool.wait(outer);
  EXPECT_EQ(inner_result, 42);
}

}  // namespace
