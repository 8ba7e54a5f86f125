// The entry frame observed through a real unit running on the recording runtime.
#include <gtest/gtest.h>

#include <barrier>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../support/mass_call.hpp"
#include "recording_runtime.hpp"

namespace vorn {
namespace {

host::UnitLibrary recorded_mass_unit() {
  return host::UnitLibrary(units::unit_image_mass_3d.library, units::unit_image_mass_3d.symbol,
                           host::IsaLevel::x86_64, VORN_RECORDING_UNIT_DIR);
}

TEST(UnitEntry, ClearsStatusThenOutputsThenLaunchesOneItem) {
  const auto unit = recorded_mass_unit();
  testing::MassCall call(2, 3, 4);
  call.status.assign(3, 99);
  recording_runtime::take_slot_counts();
  EXPECT_EQ(call.run(unit), 0);
  // status fill (3 elements), mass fill (0-D), main launch (one work item)
  EXPECT_EQ(recording_runtime::take_slot_counts(), (std::vector<int>{3, 1, 1}));
  EXPECT_EQ(call.status, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(call.mass, 24.0);
}

TEST(UnitEntry, EmptyStatusIsNotSubmitted) {
  const auto unit = recorded_mass_unit();
  testing::MassCall call(1, 1, 1);
  call.status.clear();
  recording_runtime::take_slot_counts();
  call.run(unit);
  EXPECT_EQ(recording_runtime::take_slot_counts(), (std::vector<int>{1, 1}));
}

TEST(UnitEntry, QueueIsRetriedAfterFailedCreationThenCreatedOnceUnderConcurrentFirstCalls) {
  const auto unit = recorded_mass_unit();
  const int calls_before = recording_runtime::pool_calls();
  recording_runtime::fail_next_pool_calls(1);
  testing::MassCall failing(1, 1, 1);
  try {
    failing.run(unit);
    recording_runtime::fail_next_pool_calls(0);
    GTEST_SKIP() << "the unit's queue already exists in this process; run this test on its own";
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(recording_runtime::pool_calls(), calls_before + 1);

  constexpr int callers = 8;
  std::vector<testing::MassCall> calls;
  for (int i = 0; i < callers; ++i) calls.emplace_back(i + 1, 2, 1);
  std::barrier start(callers);
  std::vector<std::thread> threads;
  for (int i = 0; i < callers; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      calls[static_cast<std::size_t>(i)].run(unit);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(recording_runtime::pool_calls(), calls_before + 2);
  for (int i = 0; i < callers; ++i) EXPECT_EQ(calls[static_cast<std::size_t>(i)].mass, 2.0 * (i + 1));
}

}  // namespace
}  // namespace vorn
