// The runtime's thread pool, as the kernel units import it from libbrask_runtime.
#pragma once

#include <functional>

#define VORN_RUNTIME_API __attribute__((visibility("default")))

namespace vorn {

class VORN_RUNTIME_API CpuThreadPool {
 public:
  // Calls f(t) exactly once for every t in [0, n), possibly concurrently on any
  // threads, the calling thread among them, and returns once every call has
  // returned. f is not used after the return. If calls throw, every other call
  // still runs and the first exception is rethrown here. n <= 0 runs nothing.
  // Several threads may call this at once.
  void run_threads(int n, const std::function<void(int)>& f);

  // Threads that run slots: the workers plus the calling thread.
  int thread_count() const noexcept;

  CpuThreadPool(const CpuThreadPool&) = delete;
  CpuThreadPool& operator=(const CpuThreadPool&) = delete;

  struct Impl;

 private:
  explicit CpuThreadPool(Impl* impl) noexcept : impl_(impl) {}
  ~CpuThreadPool() = default;
  Impl* impl_;
  friend CpuThreadPool& cpu_thread_pool();
};

// The process's pool, created on first use with one thread per hardware thread
// (or VORN_NUM_THREADS threads) and valid until the process ends.
VORN_RUNTIME_API CpuThreadPool& cpu_thread_pool();

}  // namespace vorn

// The slots of run_threads calls made from the calling thread run on at most
// `threads` threads of the pool, the calling one included (0 or less: on all
// of them), until the next call; returns the setting it replaces. Hosts find
// it by this name in the runtime the units loaded, so that one call's thread
// setting reaches the units' fills and kernels; a runtime without it runs
// every call on the whole pool.
extern "C" VORN_RUNTIME_API int vorn_limit_caller_threads(int threads) noexcept;
