#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "vorn/queue/thread_pool.hpp"

namespace vorn {
namespace {

// Per-slot call counters; every slot must be called exactly once.
struct SlotCounts {
  explicit SlotCounts(int n) : counts(new std::atomic<int>[static_cast<std::size_t>(n)]), size(n) {
    for (int i = 0; i < n; ++i) counts[i] = 0;
  }
  void expect_each_once() const {
    int wrong = 0;
    for (int i = 0; i < size; ++i) wrong += counts[i].load() != 1;
    EXPECT_EQ(wrong, 0);
  }
  std::unique_ptr<std::atomic<int>[]> counts;
  int size;
};

TEST(ThreadPool, RunsEverySlotExactlyOnce) {
  for (const int n : {1, 2, 3, 17, 1000, 1 << 20}) {
    SlotCounts slots(n);
    cpu_thread_pool().run_threads(n, [&](int t) { slots.counts[t].fetch_add(1); });
    slots.expect_each_once();
  }
}

TEST(ThreadPool, NonPositiveCountRunsNothing) {
  std::atomic<int> calls{0};
  cpu_thread_pool().run_threads(0, [&](int) { ++calls; });
  cpu_thread_pool().run_threads(-5, [&](int) { ++calls; });
  EXPECT_EQ(calls.load(), 0);
}

TEST(ThreadPool, ConcurrentCallersEachGetAllTheirSlots) {
  constexpr int callers = 6;
  constexpr int n = 200000;
  std::vector<std::unique_ptr<SlotCounts>> slots;
  for (int c = 0; c < callers; ++c) slots.push_back(std::make_unique<SlotCounts>(n));
  std::vector<std::thread> threads;
  for (int c = 0; c < callers; ++c) {
    threads.emplace_back([&, c] {
      for (int round = 0; round < 3; ++round) {
        cpu_thread_pool().run_threads(n, [&](int t) { slots[c]->counts[t].fetch_add(1); });
      }
    });
  }
  for (auto& t : threads) t.join();
  for (auto& s : slots) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(s->counts[i].load(), 3) << "slot " << i;
  }
}

TEST(ThreadPool, ReturnsOnlyAfterEverySlotReturned) {
  std::atomic<int> finished{0};
  cpu_thread_pool().run_threads(64, [&](int) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    finished.fetch_add(1);
  });
  EXPECT_EQ(finished.load(), 64);
}

TEST(ThreadPool, CarriesExceptionBackAfterOtherSlotsRan) {
  SlotCounts slots(5000);
  EXPECT_THROW(cpu_thread_pool().run_threads(5000,
                                             [&](int t) {
                                               slots.counts[t].fetch_add(1);
                                               if (t == 17 || t == 4000) throw std::runtime_error("slot failed");
                                             }),
               std::runtime_error);
  slots.expect_each_once();
  // The pool stays usable after a failed call.
  SlotCounts again(100);
  cpu_thread_pool().run_threads(100, [&](int t) { again.counts[t].fetch_add(1); });
  again.expect_each_once();
}

TEST(ThreadPool, NestedCallsFromSlotsComplete) {
  std::atomic<int> inner{0};
  cpu_thread_pool().run_threads(8, [&](int) { cpu_thread_pool().run_threads(100, [&](int) { ++inner; }); });
  EXPECT_EQ(inner.load(), 800);
}

// The threads that ran the slots of one call of n slots, each slot long
// enough (a millisecond) for idle workers to join in.
std::set<std::thread::id> threads_running(int n) {
  std::mutex mutex;
  std::set<std::thread::id> ids;
  cpu_thread_pool().run_threads(n, [&](int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(mutex);
    ids.insert(std::this_thread::get_id());
  });
  return ids;
}

TEST(ThreadPool, CallerLimitKeepsItsCallsOnThatManyThreads) {
  ASSERT_EQ(vorn_limit_caller_threads(1), 0) << "no limit to begin with";
  EXPECT_EQ(threads_running(200), std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(vorn_limit_caller_threads(2), 1);
  EXPECT_LE(threads_running(200).size(), 2u);
  // A limit beyond the pool, or none, runs on the pool's threads.
  EXPECT_EQ(vorn_limit_caller_threads(64), 2);
  EXPECT_LE(threads_running(200).size(), 3u);
  EXPECT_EQ(vorn_limit_caller_threads(-1), 64);
  EXPECT_EQ(vorn_limit_caller_threads(0), 0) << "a negative limit is none";
}

TEST(ThreadPool, CallerLimitBelongsToTheThreadThatSetIt) {
  vorn_limit_caller_threads(1);
  int seen_elsewhere = -1;
  std::thread([&] { seen_elsewhere = vorn_limit_caller_threads(0); }).join();
  EXPECT_EQ(seen_elsewhere, 0);
  // Slots run on workers, whose own limit is none: their nested calls may use the pool.
  std::atomic<int> inner{0};
  cpu_thread_pool().run_threads(4, [&](int) { cpu_thread_pool().run_threads(50, [&](int) { ++inner; }); });
  EXPECT_EQ(inner.load(), 200);
  vorn_limit_caller_threads(0);
}

TEST(ThreadPool, HonoursThreadCountFromEnvironment) {
  // ctest sets VORN_NUM_THREADS=3 for this suite, more than this machine may have.
  EXPECT_EQ(cpu_thread_pool().thread_count(), 3);
}

}  // namespace
}  // namespace vorn
