// The process-wide worker pool for per-file work.
//
//   std::vector<Result> out(files.size());
//   worker_pool::parallel_for_each_index(files.size(), [&](std::size_t i) {
//     out[i] = index(files[i]);   // each call writes only its own slot
//   });
//
// The pool has RAYON_NUM_THREADS threads when that is a positive integer, else one per
// processor available to the process; never more than pool_size's bound. It is built on first use
// and lives until exit. The calling thread waits and takes part in the work; every index is visited
// exactly once, and the call returns when all are done.
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

// The most threads a request may give the pool, unless the machine has more processors. The
// pool reserves a slot per thread up front, so a count in the millions takes gigabytes before
// any work starts; this many cost little and are far above any count that speeds indexing up.
inline constexpr std::size_t kMaxThreads = 1024;

// The pool's size for a RAYON_NUM_THREADS value with `processors` available: the request, at
// most the larger of kMaxThreads and `processors`; without a request, `processors`.
std::size_t pool_size(const char* env_value, std::size_t processors);

// Calls fn(i) for every i in [0, count), concurrently; pieces are split recursively, so
// neighbouring indexes tend to run on one thread.
void parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

}  // namespace korvane::worker_pool
