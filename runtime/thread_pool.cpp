// The process's thread pool: workers created once, slots handed out in chunks.
//
// A call of run_threads publishes one Job (living on the caller's stack) in an
// intrusive list. Threads claim chunks of consecutive slots with one atomic
// fetch_add per chunk, so a slot costs one call of f: no lock, allocation or
// wake-up per slot. The caller claims chunks too, then waits until no worker
// holds the job: a worker holds it for as long as it runs chunks it claimed, so
// then every slot has returned, and the pool mutex orders their writes before
// the caller's return.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "vorn/queue/thread_count.hpp"
#include "vorn/queue/thread_pool.hpp"

namespace vorn {

namespace {

// The calling thread's limit (vorn_limit_caller_threads); 0: none.
thread_local int caller_thread_limit = 0;

struct Job {
  const std::function<void(int)>* f;
  long long slot_count;
  long long chunk;
  int max_holders;                      // workers that may run it besides the caller
  std::atomic<long long> next_slot{0};  // first slot not yet claimed; may run past slot_count
  int holders = 0;                      // workers inside the job; guarded by the pool mutex
  Job* next_job = nullptr;              // intrusive list link; guarded by the pool mutex
  std::mutex error_mutex;
  std::exception_ptr error;             // the first exception any slot threw

  bool fully_claimed() const { return next_slot.load(std::memory_order_relaxed) >= slot_count; }

  // Runs slot t; an exception is kept (the first one) rather than let out, so
  // that every other slot still runs.
  void run_slot(const std::function<void(int)>& fn, int t) {
    try {
      fn(t);
    } catch (...) {
      std::lock_guard lock(error_mutex);
      if (!error) error = std::current_exception();
    }
  }

  // Claims and runs chunks until none is left. Every slot runs even when
  // another throws, so the caller sees all side effects of a failed call too.
  void run_chunks() {
    // The job's fields read per slot live in locals: the calls of fn could, as
    // far as the compiler knows, write the job, so members would be reloaded.
    const std::function<void(int)>& fn = *f;
    const long long count = slot_count;
    const long long step = chunk;
    for (;;) {
      const long long begin = next_slot.fetch_add(step, std::memory_order_relaxed);
      if (begin >= count) return;
      const int end = static_cast<int>(std::min(begin + step, count));
      int t = static_cast<int>(begin);
      // Four slots per loop test: cheap slots (one store each) are common.
      for (; end - t >= 4; t += 4) {
        run_slot(fn, t);
        run_slot(fn, t + 1);
        run_slot(fn, t + 2);
        run_slot(fn, t + 3);
      }
      for (; t < end; ++t) run_slot(fn, t);
    }
  }
};

}  // namespace

struct CpuThreadPool::Impl {
  std::mutex mutex;
  std::condition_variable work_ready;  // a job was published
  std::condition_variable job_left;    // a worker released a job
  Job* jobs = nullptr;                 // published jobs with unclaimed slots, newest first
  int threads;                         // workers + the calling thread
  std::vector<std::thread> workers;

  explicit Impl(int thread_count) : threads(thread_count) {
    workers.reserve(static_cast<std::size_t>(thread_count - 1));
    for (int i = 1; i < thread_count; ++i) workers.emplace_back([this] { work_loop(); });
  }

  void unlink(Job* job) {
    for (Job** link = &jobs; *link != nullptr; link = &(*link)->next_job) {
      if (*link == job) {
        *link = job->next_job;
        return;
      }
    }
  }

  // A worker leaves a job only once it is fully claimed, so one skipped for
  // having its most holders never needs a worker again.
  Job* claimable_job() {
    for (Job* job = jobs; job != nullptr; job = job->next_job) {
      if (!job->fully_claimed() && job->holders < job->max_holders) return job;
    }
    return nullptr;
  }

  [[noreturn]] void work_loop() {
    std::unique_lock lock(mutex);
    for (;;) {
      Job* job = claimable_job();
      if (job == nullptr) {
        work_ready.wait(lock);
        continue;
      }
      ++job->holders;
      lock.unlock();
      job->run_chunks();
      lock.lock();
      if (--job->holders == 0) job_left.notify_all();
    }
  }

  void run(int n, const std::function<void(int)>& f) {
    const int runners = caller_thread_limit > 0 ? std::min(caller_thread_limit, threads) : threads;
    Job job;
    job.f = &f;
    job.slot_count = n;
    job.max_holders = runners - 1;
    // About sixteen chunks per thread balance uneven slots; the cap keeps the
    // tail short when slots are cheap and many.
    job.chunk = std::clamp<long long>(n / (16LL * runners), 1, 16384);
    const long long chunks = (n + job.chunk - 1) / job.chunk;
    if (runners > 1 && chunks > 1) {
      std::lock_guard lock(mutex);
      job.next_job = jobs;
      jobs = &job;
      if (chunks >= threads - 1 && runners == threads) {
        work_ready.notify_all();
      } else {
        for (long long i = 1; i < std::min<long long>(chunks, runners); ++i) work_ready.notify_one();
      }
    }
    job.run_chunks();
    {
      std::unique_lock lock(mutex);
      unlink(&job);
      job_left.wait(lock, [&] { return job.holders == 0; });
    }
    // Every chunk is claimed and no worker holds the job, so all slots returned.
    if (job.error) std::rethrow_exception(job.error);
  }
};

void CpuThreadPool::run_threads(int n, const std::function<void(int)>& f) {
  if (n <= 0) return;
  impl_->run(n, f);
}

int CpuThreadPool::thread_count() const noexcept { return impl_->threads; }

CpuThreadPool& cpu_thread_pool() {
  // Created once and never destroyed: units keep the reference for the life of
  // the process, and worker threads must not be joined during static teardown.
  static CpuThreadPool* const pool = new CpuThreadPool(new CpuThreadPool::Impl(detail::configured_thread_count()));
  return *pool;
}

}  // namespace vorn

extern "C" int vorn_limit_caller_threads(int threads) noexcept {
  return std::exchange(vorn::caller_thread_limit, threads > 0 ? threads : 0);
}
