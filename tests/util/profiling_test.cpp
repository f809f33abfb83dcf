#include "util/profiling.h"

#include <chrono>

#include <gtest/gtest.h>

namespace korvane::profiling {
namespace {

TEST(Duration, ClampsBackwardsClocks) {
  using std::chrono::nanoseconds;
  EXPECT_EQ(clamped(nanoseconds(2'500'000'001)), Duration(2'500'000'001));
  EXPECT_EQ(clamped(nanoseconds(999)), Duration(999));
  EXPECT_EQ(clamped(nanoseconds(-5)), Duration(0));
}

TEST(TimingTable, AbsentTableKeepsNothing) {
  TimingTable table;
  table.record("parse", std::chrono::seconds(1));
  EXPECT_FALSE(table.durations("parse"));
}

TEST(TimingTable, PresentTableAppendsInOrder) {
  TimingTable table;
  table.enable();
  table.record("parse", std::chrono::seconds(1));
  table.record("bind_module", Duration(7));
  table.record("parse", Duration(2'000'000'003));
  EXPECT_EQ(*table.durations("parse"),
            (std::vector<Duration>{std::chrono::seconds(1), Duration(2'000'000'003)}));
  EXPECT_EQ(table.durations("bind_module")->size(), 1u);
  EXPECT_TRUE(table.durations("missing")->empty());
}

TEST(TimingTable, ProcessTableStaysAbsent) {
  { TimingGuard guard("index_file_total"); }
  record_timing("parse", std::chrono::seconds(1));
  EXPECT_FALSE(timings().durations("index_file_total"));
  EXPECT_FALSE(timings().durations("parse"));
}

}  // namespace
}  // namespace korvane::profiling
