// Threads for the engine calls of one diagram. The library runs them on its
// own threads rather than the runtime pool: it must not import the runtime
// library itself, since a process may bring its own build of it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace vorn::host::detail {

// Runs `work` once on each of `threads` threads, the calling thread among
// them, and returns when all have returned. If any throws, the first
// exception is rethrown here after every thread has finished.
void run_workers(int threads, const std::function<void()>& work);

// Runs work(k) for every k in [0, count) on `threads` workers, each taking
// the next k as it finishes one; exceptions as for run_workers.
template <class Work>
void for_each_index(std::size_t count, int threads, const Work& work) {
  std::atomic<std::size_t> next{0};
  run_workers(threads, [&] {
    for (std::size_t k = next++; k < count; k = next++) work(k);
  });
}

}  // namespace vorn::host::detail
