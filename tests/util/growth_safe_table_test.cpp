#include "util/growth_safe_table.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#include <absl/container/node_hash_map.h>

#include "../support/failing_allocator.h"

namespace korvane {
namespace {

using korvane::testing::FailingAllocations;

// A table that cannot get its larger storage keeps what it held, takes more once memory is
// back, and is destroyed cleanly (a plain absl table frees memory it does not own here).
template <class Table, class Insert>
void fills_until_memory_runs_out(Insert insert) {
  for (std::size_t limit : {std::size_t{1} << 10, std::size_t{64} << 10}) {
    Table table;
    std::size_t held = 0;
    {
      FailingAllocations fail = FailingAllocations::at_least(limit);
      try {
        for (;; ++held) insert(table, "name-" + std::to_string(held));
      } catch (const std::bad_alloc&) {
      }
    }
    ASSERT_EQ(table.size(), held);
    for (std::size_t i = 0; i < held; ++i) EXPECT_TRUE(table.contains("name-" + std::to_string(i)));
    for (std::size_t i = held; i < 2 * held; ++i) insert(table, "name-" + std::to_string(i));
    EXPECT_EQ(table.size(), 2 * held);
  }
}

TEST(GrowthSafe, KeepsATableWhoseGrowthRanOutOfMemory) {
  fills_until_memory_runs_out<GrowthSafe<absl::flat_hash_set<std::string>>>(
      [](auto& t, std::string name) { t.emplace(std::move(name)); });
  fills_until_memory_runs_out<GrowthSafe<absl::flat_hash_map<std::string, int>>>(
      [](auto& t, std::string name) { t.try_emplace(std::move(name), 1); });
  fills_until_memory_runs_out<GrowthSafe<absl::node_hash_map<std::string, int>>>(
      [](auto& t, std::string name) { t.insert_or_assign(std::move(name), 1); });
}

TEST(GrowthSafe, AReserveThatRanOutOfMemoryLeavesTheTable) {
  GrowthSafe<absl::flat_hash_set<std::string>> table;
  table.emplace("kept");
  {
    FailingAllocations fail = FailingAllocations::at_least(1 << 10);
    EXPECT_THROW(table.reserve(1 << 20), std::bad_alloc);
  }
  EXPECT_EQ(table.size(), 1u);
  EXPECT_TRUE(table.contains("kept"));
}

}  // namespace
}  // namespace korvane
