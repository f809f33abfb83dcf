#include "util/worker_pool.h"

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

namespace korvane::worker_pool {
namespace {

TEST(RequestedThreads, PositiveIntegersOnly) {
  struct Case {
    const char* env;
    std::optional<std::size_t> want;
  };
  const Case cases[] = {
      {nullptr, std::nullopt}, {"", std::nullopt},   {"0", std::nullopt},  {"4", 4},   {"+2", 2},
      {"-1", std::nullopt},    {"2x", std::nullopt}, {" 3", std::nullopt}, {"007", 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(requested_threads(c.env), c.want) << (c.env ? c.env : "unset");
  }
}

TEST(ParallelForEachIndex, VisitsEveryIndexExactlyOnce) {
  for (const std::size_t count : {0u, 1u, 2u, 7u, 1000u}) {
    std::vector<std::atomic<int>> visits(count);
    parallel_for_each_index(count, [&](std::size_t i) { visits[i].fetch_add(1); });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(visits[i].load(), 1) << count << ":" << i;
  }
  EXPECT_GE(thread_count(), 1u);
}

}  // namespace
}  // namespace korvane::worker_pool
