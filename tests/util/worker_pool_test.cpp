#include "util/worker_pool.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
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
      {nullptr, std::nullopt},
      {"", std::nullopt},
      {"0", std::nullopt},
      {"4", 4},
      {"+2", 2},
      {"+", std::nullopt},
      {"-1", std::nullopt},
      {"2x", std::nullopt},
      {" 3", std::nullopt},
      {"007", 7},
      {"18446744073709551615", std::size_t{18446744073709551615u}},
      {"18446744073709551616", std::nullopt},
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
      // Every count that fits 64 bits is capped, however long.
      {"1234567890", 8, 1024},
      {"9999999999", 8, 1024},
      {"18446744073709551615", 8, 1024},
      {"000000000000000000000000002", 8, 2},
      // Beyond 64 bits it is no count: one thread per processor.
      {"18446744073709551616", 8, 8},
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
    const Workers workers =
        parallel_for_each_index(count, [&](std::size_t i) { visits[i].fetch_add(1); });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(visits[i].load(), 1) << count << ":" << i;
    EXPECT_EQ(workers.configured, thread_count());
  }
  EXPECT_GE(thread_count(), 1u);
}

// Starts real threads until `allowed` have started, then refuses as an exhausted system does.
ThreadStarter refusing_after(std::size_t allowed, std::atomic<std::size_t>& asked) {
  return [allowed, &asked](void* (*entry)(void*), void* arg, std::size_t stack_bytes) {
    return asked.fetch_add(1) < allowed ? start_system_thread(entry, arg, stack_bytes)
                                        : std::nullopt;
  };
}

// A refused thread once ended the process; now the batch runs on those that started, and
// nothing but the calling thread and those take part.
TEST(Pool, RunsOnTheWorkersThatStarted) {
  for (const std::size_t allowed : {0u, 1u, 3u, 7u}) {
    std::atomic<std::size_t> asked{0};
    Pool pool(8, refusing_after(allowed, asked));
    EXPECT_EQ(pool.workers(), (Workers{allowed + 1, 8})) << allowed;
    EXPECT_EQ(asked.load(), std::min<std::size_t>(allowed + 1, 7)) << "retried after a refusal";
    for (const std::size_t count : {0u, 1u, 2u, 1000u}) {
      std::vector<std::atomic<int>> visits(count);
      std::mutex mutex;
      std::set<std::thread::id> threads;
      const Workers workers = pool.for_each_index(count, [&](std::size_t i) {
        visits[i].fetch_add(1);
        const std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
      });
      EXPECT_EQ(workers, pool.workers());
      for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(visits[i].load(), 1) << allowed << ":" << i;
      EXPECT_LE(threads.size(), allowed + 1);
    }
  }
}

TEST(Pool, ShortfallIsReportedOnlyWhenShort) {
  EXPECT_EQ(shortfall_text({8, 8}), std::nullopt);
  EXPECT_EQ(shortfall_text({3, 8}), "Started 3 of 8 worker threads; indexing with 3");
}

// An exception thrown by fn on a worker once called std::terminate; it reaches the caller, and
// the pool keeps serving batches.
TEST(Pool, CarriesAnExceptionBackToTheCaller) {
  Pool pool(4);
  for (const std::size_t failing : {0u, 1u, 999u}) {
    try {
      pool.for_each_index(1000, [&](std::size_t i) {
        if (i == failing) throw std::runtime_error("index " + std::to_string(i));
      });
      ADD_FAILURE() << "no exception for " << failing;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "index " + std::to_string(failing));
    }
  }
  std::atomic<std::size_t> visited{0};
  pool.for_each_index(100, [&](std::size_t) { visited.fetch_add(1); });
  EXPECT_EQ(visited.load(), 100u);
}

// A call from inside fn cannot wait for workers that are busy with its own batch.
TEST(Pool, NestedCallRunsOnItsOwnThread) {
  Pool pool(4);
  std::vector<std::atomic<int>> visits(100);
  pool.for_each_index(10, [&](std::size_t outer) {
    pool.for_each_index(10, [&](std::size_t inner) { visits[outer * 10 + inner].fetch_add(1); });
  });
  for (std::size_t i = 0; i < visits.size(); ++i) EXPECT_EQ(visits[i].load(), 1) << i;
}

// Workers get the stack they are given, not the system's 8 MiB default.
TEST(Pool, WorkersHaveTheGivenStack) {
  std::atomic<std::size_t> given{0};
  const ThreadStarter starter = [&](void* (*entry)(void*), void* arg, std::size_t stack_bytes) {
    given = stack_bytes;
    return start_system_thread(entry, arg, stack_bytes);
  };
  Pool pool(2, starter);
  ASSERT_EQ(pool.workers().running, 2u);
  EXPECT_EQ(given.load(), kWorkerStackBytes);
  std::atomic<std::size_t> worker_stack{0};
  const auto caller = std::this_thread::get_id();
  // Two indexes, each waiting until the other thread has taken one: the worker surely runs one.
  std::atomic<int> started{0};
  pool.for_each_index(2, [&](std::size_t) {
    started.fetch_add(1);
    while (started.load() < 2) std::this_thread::yield();
    if (std::this_thread::get_id() == caller) return;
    pthread_attr_t attr;
    ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
    std::size_t size = 0;
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    worker_stack = size;
  });
  EXPECT_EQ(worker_stack.load(), kWorkerStackBytes);
}

// A call that ran out of memory beside the others' once failed its index for good; it is made
// again on the calling thread once every first call is done, and only where workers took part.
TEST(Pool, RetriesAloneWhatFailedBesideOthers) {
  for (const std::size_t allowed : {0u, 3u}) {
    std::atomic<std::size_t> asked{0};
    Pool pool(4, refusing_after(allowed, asked));
    constexpr std::size_t kCount = 200;
    const auto caller = std::this_thread::get_id();
    std::vector<std::atomic<int>> calls(kCount);
    std::atomic<std::size_t> first_calls_done{0};
    std::atomic<bool> second_call_early{false};
    std::atomic<bool> second_call_elsewhere{false};
    pool.for_each_index_retrying(kCount, [&](std::size_t i) {
      if (calls[i].fetch_add(1) == 0) {
        first_calls_done.fetch_add(1);
        return i % 3 != 0;
      }
      if (first_calls_done.load() != kCount) second_call_early = true;
      if (std::this_thread::get_id() != caller) second_call_elsewhere = true;
      return false;
    });
    for (std::size_t i = 0; i < kCount; ++i) {
      EXPECT_EQ(calls[i].load(), i % 3 == 0 && allowed > 0 ? 2 : 1) << allowed << ":" << i;
    }
    EXPECT_FALSE(second_call_early.load()) << allowed;
    EXPECT_FALSE(second_call_elsewhere.load()) << allowed;
  }
}

// Under an address-space limit, the workers' stacks and malloc arenas once left nothing for the
// batches: 64 workers reserved 4 GiB of arenas. Workers come first, arenas from what is left.
TEST(StartBudget, WorkersAndArenasTakeAtMostHalfTheRoom) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kStack = 2 * kMiB;
  constexpr std::size_t kPage = 4096;
  struct Case {
    std::size_t room, wanted, processors;
    StartBudget expected;
  };
  const Case cases[] = {
      {0, 63, 64, {0, 1}},
      {64 * kMiB, 1023, 8, {15, 1}},                // stacks alone fill the half
      {256 * kMiB, 63, 64, {63, 1}},                // 126.25 of 128 MiB: no arena beyond the first
      {2048 * kMiB, 63, 64, {63, 15}},              // 897.75 MiB left: 14 more arenas
      {std::size_t{1} << 40, 3, 8, {3, 4}},         // one arena per thread at most
      {std::size_t{1} << 40, 1023, 2, {1023, 17}},  // and no more than the C library's 8 a core
  };
  for (const Case& c : cases) {
    EXPECT_EQ(budget_within(c.room, c.wanted, kStack, kPage, c.processors), c.expected)
        << c.room / kMiB << " MiB, " << c.wanted;
  }
}

}  // namespace
}  // namespace korvane::worker_pool
