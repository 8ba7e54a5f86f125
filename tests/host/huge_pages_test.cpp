// The arena behind the cells' vertex lists: every allocation is aligned as
// asked, none overlaps another (from several threads at once), arrays larger
// than a chunk get room of their own, and lists copied into it read back
// the same. Pages provided ahead of the first write keep what they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "host/cell_lists.hpp"
#include "host/huge_pages.hpp"

namespace vorn::host::detail {
namespace {

struct Allocation {
  unsigned char* data;
  std::size_t bytes;
  unsigned char mark;
};

TEST(HugePageArena, AllocationsAreAlignedAndDisjointAcrossThreads) {
  HugePageArena arena;
  constexpr int threads = 4, per_thread = 3000;
  std::vector<std::vector<Allocation>> made(threads);
  std::vector<std::thread> workers;
  for (int w = 0; w < threads; ++w) {
    workers.emplace_back([&, w] {
      for (int k = 0; k < per_thread; ++k) {
        // Sizes from 1 byte to 40 KiB, alignments 1 to 64: the bump pointer
        // must round up before each, and chunks run out mid-way.
        const std::size_t bytes = 1 + static_cast<std::size_t>((k * 7919 + w * 104729) % 40000);
        const std::size_t alignment = std::size_t{1} << (k % 7);
        auto* p = static_cast<unsigned char*>(arena.allocate(bytes, alignment));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u);
        const auto mark = static_cast<unsigned char>(w * per_thread + k);
        std::fill_n(p, bytes, mark);
        made[static_cast<std::size_t>(w)].push_back({p, bytes, mark});
      }
    });
  }
  for (std::thread& t : workers) t.join();

  std::vector<Allocation> all;
  for (const auto& list : made) all.insert(all.end(), list.begin(), list.end());
  std::sort(all.begin(), all.end(), [](const Allocation& a, const Allocation& b) { return a.data < b.data; });
  for (std::size_t k = 0; k < all.size(); ++k) {
    if (k + 1 < all.size()) {
      ASSERT_LE(all[k].data + all[k].bytes, all[k + 1].data) << "allocations overlap";
    }
    // What each writer left is intact: no later allocation wrote over it.
    ASSERT_TRUE(std::all_of(all[k].data, all[k].data + all[k].bytes, [&](unsigned char c) { return c == all[k].mark; }));
  }
}

TEST(HugePageArena, ArraysLargerThanAChunkGetRoomOfTheirOwn) {
  HugePageArena arena;
  auto* small = static_cast<unsigned char*>(arena.allocate(100, 8));
  const std::size_t big = (std::size_t{1} << 25) + 12345;  // more than a chunk
  auto* large = static_cast<unsigned char*>(arena.allocate(big, 64));
  auto* after = static_cast<unsigned char*>(arena.allocate(100, 8));
  std::fill_n(small, 100, 1);
  std::fill_n(large, big, 2);
  std::fill_n(after, 100, 3);
  EXPECT_EQ(large[0], 2);
  EXPECT_EQ(large[big - 1], 2);
  EXPECT_TRUE(std::all_of(small, small + 100, [](unsigned char c) { return c == 1; }));
  EXPECT_TRUE(std::all_of(after, after + 100, [](unsigned char c) { return c == 3; }));
}

TEST(HugePageArena, CellListsCopiedIntoItReadBackTheSame) {
  CellLists cells(CellLists::arena_cells + 600);  // enough for the arena
  CellBlock scratch;
  const double xs[] = {0.0, 1.0, 1.0, 0.5}, ys[] = {0.0, 0.0, 1.0, 1.5};
  const std::int32_t ids[] = {7, -1, 3, 9};
  for (int k = 0; k < 256; ++k) scratch.append(xs, ys, ids, nullptr, 1 + k % 4, {0.5 * k, 1.0, 2.0, false, k == 7});
  cells.block(1) = scratch;
  scratch.clear();  // the copy owns its lists
  const CellView c = cells.cell(256 + 3);
  ASSERT_EQ(c.size, 4);
  EXPECT_TRUE(std::equal(c.xs, c.xs + 4, xs));
  EXPECT_TRUE(std::equal(c.ys, c.ys + 4, ys));
  EXPECT_TRUE(std::equal(c.neighbours, c.neighbours + 4, ids));
  EXPECT_EQ(c.shifts, nullptr);
  EXPECT_EQ(c.figures.area, 1.5);
  EXPECT_EQ(cells.cell(256 + 4).size, 1);
  EXPECT_TRUE(cells.cell(256 + 7).figures.unbounded);
}

TEST(HugePages, ProvidingPagesOnSeveralThreadsKeepsWhatTheyHold) {
  // An odd range inside a buffer of several huge pages, part of it written
  // before: the written values stay, the rest reads as zero, the bytes
  // around the range are untouched.
  std::vector<unsigned char> buffer;
  const std::size_t size = (std::size_t{5} << 21) + 777;
  buffer.reserve(size);
  advise_huge_pages(buffer.data(), size);
  buffer.assign(size, 0);
  for (std::size_t k = 0; k < size; k += 4093) buffer[k] = static_cast<unsigned char>(1 + k % 251);
  populate_pages(buffer.data() + 123, size - 456, 3);
  for (std::size_t k = 0; k < size; ++k) {
    ASSERT_EQ(buffer[k], k % 4093 == 0 ? static_cast<unsigned char>(1 + k % 251) : 0) << "byte " << k;
  }
  std::vector<double> fresh = huge_page_vector<double>((std::size_t{3} << 20) + 5, 1.5, 2);
  EXPECT_TRUE(std::all_of(fresh.begin(), fresh.end(), [](double x) { return x == 1.5; }));
}

}  // namespace
}  // namespace vorn::host::detail
