#include "huge_pages.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "worker_threads.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vorn::host::detail {

namespace {

constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21;
constexpr std::size_t chunk_bytes = std::size_t{1} << 25;

}  // namespace

void advise_huge_pages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (start + huge_page - 1) & ~(huge_page - 1);
  const std::uintptr_t end = (start + bytes) & ~(huge_page - 1);
  // A refusal (a kernel without transparent huge pages) leaves the memory as it was.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data, (void)bytes;
#endif
}

void populate_pages(void* data, std::size_t bytes, int threads) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t page = 4096;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
  // Whole huge pages to each worker, so that no two share one; an array of
  // one or two is left to its first write, which costs less than threads.
  const std::size_t pieces = end > begin ? (end - begin + huge_page - 1) / huge_page : 0;
  if (pieces < 3 || threads < 2) return;
  for_each_index(pieces, static_cast<int>(std::min<std::size_t>(pieces, static_cast<std::size_t>(threads))),
                 [&](std::size_t k) {
                   const std::uintptr_t from = begin + k * huge_page;
                   const std::uintptr_t to = std::min<std::uintptr_t>(end, from + huge_page);
                   // Advice only: a refusal leaves the pages to the first write.
                   madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
                 });
#else
  (void)data, (void)bytes, (void)threads;
#endif
}

HugePageArena::~HugePageArena() {
  for (const Chunk& c : chunks_) ::operator delete(c.data, std::align_val_t{huge_page});
}

void* HugePageArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  std::lock_guard lock(mutex_);
  if (!chunks_.empty()) {
    const std::size_t at = (used_ + alignment - 1) / alignment * alignment;
    if (at <= chunks_.back().bytes && bytes <= chunks_.back().bytes - at) {
      used_ = at + bytes;
      return static_cast<char*>(chunks_.back().data) + at;
    }
  }
  // A fresh chunk, or one of its own for an array larger than a chunk
  // (aligned to a huge page, which any smaller alignment divides).
  const std::size_t size = std::max(chunk_bytes, (bytes + huge_page - 1) / huge_page * huge_page);
  chunks_.reserve(chunks_.size() + 1);
  void* data = ::operator new(size, std::align_val_t{huge_page});
  advise_huge_pages(data, size);
  chunks_.push_back({data, size});
  used_ = bytes;
  return data;
}

}  // namespace vorn::host::detail
