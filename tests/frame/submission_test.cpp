// Submission, launch and fill semantics, observed through the recording runtime.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "recording_runtime.hpp"
#include "vorn/queue/queue.hpp"

namespace vorn {
namespace {

using Items = CartesianIndices<Tuple<long long>, Tuple<_batch_0>>;
using Single = CartesianIndices<Tuple<>, Tuple<>>;
using Column = TensorView<long long, Tuple<long long>, CpuHostMemorySpace, Tuple<_batch_0>, Tuple<Ct<int, 8>>>;

template <class C>
struct Column_bundle {
  C column;
  auto members() { return std::tie(column); }
  auto members() const { return std::tie(column); }
};
template <class M>
struct Column_bundle_io {};

// Writes its work item's index into entry j, plus one, so unwritten entries stay 0.
struct mark_kernel {
  template <class Bundle>
  void operator()(const Coords<Tuple<long long>>& item, Bundle& bundle) const {
    const long long j = item.get<0>();
    bundle.column(j) = j + 1;
  }
  template <class Bundle>
  void operator()(const Coords<Tuple<>>&, Bundle& bundle) const {
    bundle.column(0) += 1;
  }
};

class Submission : public ::testing::Test {
 protected:
  void SetUp() override { recording_runtime::take_slot_counts(); }
  CpuQueue queue{cpu_thread_pool()};
};

Column column_over(std::vector<long long>& storage) {
  Tuple<long long> shape{};
  shape.set<0>(static_cast<long long>(storage.size()));
  return make_dense_view<Column>(storage.data(), shape);
}

template <class Space>
void launch(CpuQueue& queue, const Space& space, Column column) {
  QueueEvent done = detail::RunParallel::_run_parallel(queue, Dependencies<0>{}, space, mark_kernel{},
                                                       Column_bundle_io<InpList>{}, Column_bundle<Column>{column});
}

TEST_F(Submission, LaunchRunsOneSlotPerWorkItem) {
  std::vector<long long> marks(7, 0);
  Items space{};
  space.extents.set<0>(5);
  launch(queue, space, column_over(marks));
  EXPECT_EQ(marks, (std::vector<long long>{1, 2, 3, 4, 5, 0, 0}));
  EXPECT_EQ(recording_runtime::take_slot_counts(), std::vector<int>{5});
}

TEST_F(Submission, EmptyOrNegativeLaunchNeverReachesThePool) {
  std::vector<long long> marks(2, 0);
  for (const long long extent : {0LL, -3LL, -(1LL << 32) + 5}) {
    Items space{};
    space.extents.set<0>(extent);
    launch(queue, space, column_over(marks));
  }
  EXPECT_TRUE(recording_runtime::take_slot_counts().empty());
  EXPECT_EQ(marks, (std::vector<long long>{0, 0}));
}

TEST_F(Submission, ZeroDimensionalLaunchRunsOnce) {
  std::vector<long long> marks(1, 0);
  launch(queue, Single{}, column_over(marks));
  EXPECT_EQ(marks[0], 1);
  EXPECT_EQ(recording_runtime::take_slot_counts(), std::vector<int>{1});
}

TEST_F(Submission, CountsBeyondThirtyTwoBitsAreRefusedNotTruncated) {
  std::vector<long long> marks(1, 0);
  for (const long long extent : {1LL << 31, (1LL << 32) + 5}) {
    Items space{};
    space.extents.set<0>(extent);
    EXPECT_THROW(launch(queue, space, column_over(marks)), std::length_error) << extent;
  }
  using Wide = TensorView<double, Tuple<long long, Ct<long long, 2>>, CpuHostMemorySpace, Tuple<_num_point, _dim>,
                          Tuple<Ct<long long, 16>, Ct<int, 8>>>;
  Tuple<long long, Ct<long long, 2>> shape{};
  shape.set<0>(1LL << 30);  // 2^31 elements
  const auto wide = make_dense_view<Wide>(nullptr, shape);
  EXPECT_THROW(wide.fill_with(queue, 0.0), std::length_error);
  EXPECT_TRUE(recording_runtime::take_slot_counts().empty());
  EXPECT_EQ(marks[0], 0);
}

TEST(SlotSplit, ItemsSplitByTheFloorRule) {
  std::vector<std::pair<int, int>> ranges;
  for (int t = 0; t < 4; ++t) {
    const auto r = detail::slot_items(10, 4, t);
    ranges.emplace_back(r.begin, r.end);
  }
  EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 2}, {2, 5}, {5, 7}, {7, 10}}));
  const auto third = detail::slot_items(5, 5, 3);
  EXPECT_EQ(third.begin, 3);
  EXPECT_EQ(third.end, 4);
  const auto none = detail::slot_items(2, 5, 0);
  EXPECT_GE(none.begin, none.end);
}

TEST_F(Submission, FillsWriteEveryElementWithOneSlotEach) {
  using Rows = TensorView<double, Tuple<long long, Ct<long long, 2>>, CpuHostMemorySpace, Tuple<_num_point, _dim>,
                          Tuple<Ct<long long, 16>, Ct<int, 8>>>;
  using Boxes3 = TensorView<double, Tuple<long long, Ct<long long, 2>, Ct<long long, 3>>, CpuHostMemorySpace,
                            Tuple<_batch_0, _num_lohi, _dim>, Tuple<Ct<long long, 48>, Ct<long long, 24>, Ct<int, 8>>>;
  using Scalar = TensorView<double, Tuple<>, CpuHostMemorySpace, Tuple<>, Tuple<>>;
  std::vector<double> buffer(20, 7.0);
  Tuple<long long, Ct<long long, 2>> rows{};
  rows.set<0>(3);
  { QueueEvent e = make_dense_view<Rows>(buffer.data(), rows).fill_with(queue, 0.0); }
  Tuple<long long, Ct<long long, 2>, Ct<long long, 3>> boxes{};
  boxes.set<0>(2);
  { QueueEvent e = make_dense_view<Boxes3>(buffer.data() + 6, boxes).fill_with(queue, 1.5); }
  { QueueEvent e = Scalar{{}, {}, buffer.data() + 18}.fill_with(queue, -2.0); }
  rows.set<0>(0);
  { QueueEvent e = make_dense_view<Rows>(buffer.data() + 19, rows).fill_with(queue, 0.0); }

  const std::vector<double> expected{0, 0, 0, 0, 0, 0, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5,
                                     1.5, 1.5, 1.5, 1.5, 1.5, 1.5, -2, 7};
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(recording_runtime::take_slot_counts(), (std::vector<int>{6, 12, 1}));
}

TEST(QueueEvent, DestructionWaitsRunsActionsInOrderThenReleasesLastFirst) {
  std::vector<std::string> log;
  struct Logged {
    std::vector<std::string>* log;
    std::string name;
    bool armed = true;
    Logged(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
    Logged(Logged&& o) noexcept : log(o.log), name(std::move(o.name)) { o.armed = false; }
    Logged(const Logged& o) : log(o.log), name(o.name) {}
    ~Logged() {
      if (armed) log->push_back("free " + name);
    }
    void operator()() const { log->push_back("run " + name); }
  };
  {
    QueueEvent event;
    event.wait_action = Logged(&log, "wait");
    event.completion_actions.emplace_back(Logged(&log, "a"));
    event.completion_actions.emplace_back(Logged(&log, "b"));
    log.clear();  // forget the temporaries of setting up
  }
  EXPECT_EQ(log, (std::vector<std::string>{"run wait", "run a", "run b", "free b", "free a", "free wait"}));

  log.clear();
  {
    QueueEvent released;
    released.released = true;
    released.completion_actions.emplace_back(Logged(&log, "c"));
    log.clear();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free c"}));
}

}  // namespace
}  // namespace vorn
