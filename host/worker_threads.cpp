#include "worker_threads.hpp"

#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vorn::host::detail {

int default_thread_count() {
  if (const char* text = std::getenv("VORN_NUM_THREADS"); text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 4096) {
      throw std::invalid_argument(std::string("VORN_NUM_THREADS must be an integer from 1 to 4096, got '") + text +
                                  "'");
    }
    return static_cast<int>(value);
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

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
