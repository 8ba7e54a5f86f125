// How many threads run work: $VORN_NUM_THREADS when set, else every hardware thread.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace vorn::detail {

// Throws std::invalid_argument for a VORN_NUM_THREADS that is not an integer
// from 1 to 4096, so a typo is reported instead of silently ignored.
inline int configured_thread_count() {
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

}  // namespace vorn::detail
