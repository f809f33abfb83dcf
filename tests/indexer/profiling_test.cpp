#include "indexer/profiling.h"

#include <chrono>

#include <gtest/gtest.h>

namespace korvane::profiling {
namespace {

TEST(Duration, SplitsSecondsAndClampsBackwardsClocks) {
  using std::chrono::nanoseconds;
  EXPECT_EQ(Duration::from(nanoseconds(2'500'000'001)), (Duration{2, 500'000'001}));
  EXPECT_EQ(Duration::from(nanoseconds(999)), (Duration{0, 999}));
  EXPECT_EQ(Duration::from(nanoseconds(-5)), (Duration{0, 0}));
}

TEST(TimingTable, AbsentTableKeepsNothing) {
  TimingTable table;
  table.record("parse", {1, 0});
  EXPECT_FALSE(table.durations("parse"));
}

TEST(TimingTable, PresentTableAppendsInOrder) {
  TimingTable table;
  table.enable();
  table.record("parse", {1, 0});
  table.record("bind_module", {0, 7});
  table.record("parse", {2, 3});
  EXPECT_EQ(*table.durations("parse"), (std::vector<Duration>{{1, 0}, {2, 3}}));
  EXPECT_EQ(table.durations("bind_module")->size(), 1u);
  EXPECT_TRUE(table.durations("missing")->empty());
}

TEST(TimingTable, ProcessTableStaysAbsent) {
  { TimingGuard guard("index_file_total"); }
  record_timing("parse", {1, 0});
  EXPECT_FALSE(timings().durations("index_file_total"));
  EXPECT_FALSE(timings().durations("parse"));
}

}  // namespace
}  // namespace korvane::profiling
