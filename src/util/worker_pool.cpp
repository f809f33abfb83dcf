#include "util/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#if defined(__SANITIZE_THREAD__)
#define KORVANE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANE_THREAD_SANITIZER 1
#endif
#endif

namespace korvane::worker_pool {

namespace {

std::size_t configured_threads() {
  const int processors = tbb::info::default_concurrency();
  return pool_size(std::getenv("RAYON_NUM_THREADS"),
                   static_cast<std::size_t>(processors > 0 ? processors : 1));
}

#ifndef KORVANE_THREAD_SANITIZER
struct Pool {
  explicit Pool(std::size_t threads)
      : size(threads),
        control(tbb::global_control::max_allowed_parallelism, threads),
        arena(static_cast<int>(threads)) {}
  std::size_t size;
  // Lets the pool exceed the processor count when RAYON_NUM_THREADS asks for more (up to the
  // bound of pool_size).
  tbb::global_control control;
  tbb::task_arena arena;
};

Pool& pool() {
  static Pool instance(configured_threads());
  return instance;
}
#endif

}  // namespace

std::optional<std::size_t> requested_threads(const char* env_value) {
  if (env_value == nullptr) return std::nullopt;
  std::string_view text(env_value);
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  if (n == 0) return std::nullopt;
  return n;
}

std::size_t pool_size(const char* env_value, std::size_t processors) {
  const auto requested = requested_threads(env_value);
  if (!requested) return processors;
  return std::min(*requested, std::max(kMaxThreads, processors));
}

#ifdef KORVANE_THREAD_SANITIZER

// ThreadSanitizer cannot see the hand-offs inside the system's uninstrumented oneTBB and would
// report each of them. Plain threads taking indexes from a counter keep its checks on our own
// per-file code, which is what those builds are for.
std::size_t thread_count() {
  static const std::size_t size = configured_threads();
  return size;
}

void parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) fn(i);
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < std::min(thread_count(), count); ++t) helpers.emplace_back(work);
  work();
  for (auto& helper : helpers) helper.join();
}

#else

std::size_t thread_count() { return pool().size; }

void parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn) {
  if (count == 0) return;
  pool().arena.execute([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 1),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                        for (std::size_t i = range.begin(); i != range.end(); ++i) fn(i);
                      });
  });
}

#endif

}  // namespace korvane::worker_pool
