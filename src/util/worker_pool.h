// The process-wide worker pool for per-file work.
//
//   std::vector<Result> out(files.size());
//   worker_pool::parallel_for_each_index(files.size(), [&](std::size_t i) {
//     out[i] = index(files[i]);   // each call writes only its own slot
//   });
//
// The pool has RAYON_NUM_THREADS threads when that is a positive integer, else one per
// processor available to the process. It is built on first use and lives until exit. The
// calling thread waits and takes part in the work; every index is visited exactly once, and
// the call returns when all are done.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace korvane::worker_pool {

// Threads of the pool (builds it on first use).
std::size_t thread_count();

// The size RAYON_NUM_THREADS asks for: none when unset, not a number, or 0.
std::optional<std::size_t> requested_threads(const char* env_value);

// Calls fn(i) for every i in [0, count), concurrently; pieces are split recursively, so
// neighbouring indexes tend to run on one thread.
void parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

}  // namespace korvane::worker_pool
