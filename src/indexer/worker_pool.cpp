#include "indexer/worker_pool.h"

#include <cstdlib>
#include <memory>
#include <string>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

namespace korvane::worker_pool {

namespace {

struct Pool {
  explicit Pool(std::size_t threads)
      : size(threads),
        control(tbb::global_control::max_allowed_parallelism, threads),
        arena(static_cast<int>(threads)) {}
  std::size_t size;
  // Lets the pool exceed the processor count when RAYON_NUM_THREADS asks for more.
  tbb::global_control control;
  tbb::task_arena arena;
};

Pool& pool() {
  static Pool instance([] {
    if (auto n = requested_threads(std::getenv("RAYON_NUM_THREADS"))) return *n;
    const int processors = tbb::info::default_concurrency();
    return static_cast<std::size_t>(processors > 0 ? processors : 1);
  }());
  return instance;
}

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

}  // namespace korvane::worker_pool
