// Runs work over [0, count) in chunks on `threads` threads (the calling
// thread among them), each thread taking the next chunk until none is left.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace vorn::bench {

// Calls work(chunk, begin, end) once for every chunk of `chunk_size` items;
// returns when every chunk is done.
template <class Work>
void parallel_chunks(int threads, std::size_t count, std::size_t chunk_size, const Work& work) {
  const std::size_t chunks = (count + chunk_size - 1) / chunk_size;
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t c = next++; c < chunks; c = next++) {
      work(c, c * chunk_size, std::min(count, (c + 1) * chunk_size));
    }
  };
  std::vector<std::jthread> others;
  for (int t = 1; t < threads; ++t) others.emplace_back(worker);
  worker();
}

}  // namespace vorn::bench
