// A stand-in for libbrask_runtime that records how the frame uses the pool and
// can make the pool's creation fail. It runs slots on a few plain threads.
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "recording_runtime.hpp"
#include "vorn/queue/thread_pool.hpp"

namespace {

std::atomic<int> pool_calls{0};
std::atomic<int> failures_left{0};
std::mutex record_mutex;
std::vector<int> slot_counts;

}  // namespace

namespace vorn {

struct CpuThreadPool::Impl {};

void CpuThreadPool::run_threads(int n, const std::function<void(int)>& f) {
  {
    std::lock_guard lock(record_mutex);
    slot_counts.push_back(n);
  }
  if (n <= 0) return;
  const int threads = n < 4 ? n : 4;
  std::vector<std::thread> workers;
  for (int w = 0; w < threads; ++w) {
    workers.emplace_back([&, w] {
      for (int t = w; t < n; t += threads) f(t);
    });
  }
  for (auto& worker : workers) worker.join();
}

int CpuThreadPool::thread_count() const noexcept { return 4; }

CpuThreadPool& cpu_thread_pool() {
  pool_calls.fetch_add(1);
  // Widen the window in which concurrent first callers would race.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (failures_left.load() > 0) {
    failures_left.fetch_sub(1);
    throw std::runtime_error("pool creation failed");
  }
  static CpuThreadPool pool(nullptr);
  return pool;
}

}  // namespace vorn

namespace recording_runtime {

int pool_calls() { return ::pool_calls.load(); }
void fail_next_pool_calls(int count) { failures_left.store(count); }
std::vector<int> take_slot_counts() {
  std::lock_guard lock(record_mutex);
  return std::exchange(slot_counts, {});
}

}  // namespace recording_runtime
