// Large arrays on 2 MiB pages. Where the kernel gives transparent huge pages
// only to memory that asks for them (its "madvise" mode, a common default),
// an array of many megabytes written for the first time takes a page fault
// for every 4 KiB, and its reads a TLB entry for every 4 KiB: at 10^6 seeds
// a diagram's fresh arrays cost it about a fifth of its time that way. The
// advice is given before the first write, while no page is there yet.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <mutex>
#include <vector>

namespace vorn::host::detail {

// Asks for huge pages on the whole 2 MiB pages inside [data, data + bytes).
// Advice only: where the kernel has no such pages, nothing changes.
void advise_huge_pages(const void* data, std::size_t bytes);

// Has the kernel provide the pages of [data, data + bytes) now, on
// `threads` threads at once: its first-write work (finding and clearing
// pages) is then shared among them rather than done by the one thread that
// writes the array first. Where the kernel cannot (before Linux 5.14), the
// pages come at the first write as usual.
void populate_pages(void* data, std::size_t bytes, int threads);

// Gives `v` room for n elements, on huge pages where it is large enough to
// hold some, provided by `threads` threads; room it already has keeps its
// pages.
template <class T>
void reserve_on_huge_pages(std::vector<T>& v, std::size_t n, int threads = 1) {
  if (v.capacity() >= n) return;
  v.reserve(n);
  advise_huge_pages(v.data(), n * sizeof(T));
  if (threads > 1) populate_pages(v.data(), n * sizeof(T), threads);
}

// A vector of n copies of `value`, on huge pages where large enough,
// provided by `threads` threads.
template <class T>
std::vector<T> huge_page_vector(std::size_t n, const T& value = T{}, int threads = 1) {
  std::vector<T> v;
  reserve_on_huge_pages(v, n, threads);
  v.assign(n, value);
  return v;
}

// Memory for many small arrays that live and die together (the vertex lists
// of one diagram's cells): handed out from 32 MiB chunks on huge pages,
// taken back only when the arena goes. Safe to use from several threads.
class HugePageArena final : public std::pmr::memory_resource {
 public:
  HugePageArena() = default;
  HugePageArena(const HugePageArena&) = delete;
  HugePageArena& operator=(const HugePageArena&) = delete;
  ~HugePageArena() override;

 private:
  struct Chunk {
    void* data;
    std::size_t bytes;
  };

  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  std::mutex mutex_;
  std::vector<Chunk> chunks_;
  std::size_t used_ = 0;  // bytes handed out from the last chunk
};

}  // namespace vorn::host::detail
