// Threads for the engine calls of one diagram. The library runs them on its
// own threads rather than the runtime pool: it must not import the runtime
// library itself, since a process may bring its own build of it.
#pragma once

#include <functional>

namespace vorn::host::detail {

// Runs `work` once on each of `threads` threads, the calling thread among
// them, and returns when all have returned. If any throws, the first
// exception is rethrown here after every thread has finished.
void run_workers(int threads, const std::function<void()>& work);

}  // namespace vorn::host::detail
