#include "worker_threads.hpp"

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vorn::host::detail {

void run_workers(int threads, const std::function<void()>& work) {
  std::mutex error_mutex;
  std::exception_ptr error;
  auto guarded = [&] {
    try {
      work();
    } catch (...) {
      std::lock_guard lock(error_mutex);
      if (!error) error = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
    for (int t = 1; t < threads; ++t) helpers.emplace_back(guarded);
    guarded();
  }  // joins every helper
  if (error) std::rethrow_exception(error);
}

}  // namespace vorn::host::detail
