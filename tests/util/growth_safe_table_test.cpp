#include "util/growth_safe_table.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include "../support/failing_allocator.h"

namespace korvane {
namespace {

using korvane::testing::FailingAllocations;

// Long enough to be allocated, so that building an element can fail too.
std::string key(std::size_t i) { return std::string(32, 'k') + std::to_string(i); }

// Whichever allocation fails, in a growth or in building an element, the table keeps what it
// held and is destroyed cleanly (a plain absl table frees memory it does not own here).
template <class Table, class Insert>
void survives_every_failure(Insert insert) {
  for (std::size_t n = 1;; ++n) {
    Table table;
    std::size_t held = 0;
    bool failed = false;
    {
      FailingAllocations fail = FailingAllocations::nth(n);
      try {
        for (; held < 100; ++held) insert(table, held);
      } catch (const std::bad_alloc&) {
      }
      failed = fail.failed();
    }
    ASSERT_EQ(table.size(), held) << n;
    for (std::size_t i = 0; i < held; ++i) ASSERT_TRUE(table.contains(key(i))) << n;
    if (!failed) break;
  }
}

TEST(GrowthSafe, KeepsATableThatRanOutOfMemory) {
  survives_every_failure<GrowthSafe<absl::flat_hash_set<std::string>>>(
      [](auto& t, std::size_t i) { t.emplace(key(i)); });
  survives_every_failure<GrowthSafe<absl::flat_hash_map<std::string, std::string>>>(
      [](auto& t, std::size_t i) { t.try_emplace(key(i), key(i)); });
  survives_every_failure<GrowthSafe<absl::flat_hash_map<std::string, std::string>>>(
      [](auto& t, std::size_t i) { t.insert_or_assign(key(i), key(i)); });
  survives_every_failure<GrowthSafe<absl::flat_hash_map<std::string, std::string>>>(
      [](auto& t, std::size_t i) { t[key(i)] = key(i); });
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
