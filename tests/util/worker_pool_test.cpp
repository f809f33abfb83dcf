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

TEST(PoolSize, AbsurdRequestsAreBounded) {
  struct Case {
    const char* env;
    std::size_t processors;
    std::size_t want;
  };
  const Case cases[] = {
      // Ordinary values keep their meaning.
      {nullptr, 8, 8},
      {"", 8, 8},
      {"0", 8, 8},
      {"abc", 8, 8},
      {"-1", 8, 8},
      {"1", 8, 1},
      {"2", 8, 2},
      {"1000", 8, 1000},
      {"1024", 8, 1024},
      // Millions of threads once crashed the server while the pool was being built.
      {"1025", 8, 1024},
      {"10000000", 8, 1024},
      {"999999999", 8, 1024},
      // Too long to be a count at all: one thread per processor, as before.
      {"1234567890", 8, 8},
      // A machine with more processors than the bound may still use every one.
      {"5000", 2048, 2048},
      {"2000", 2048, 2000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pool_size(c.env, c.processors), c.want) << (c.env ? c.env : "unset");
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
