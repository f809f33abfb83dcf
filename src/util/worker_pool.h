// The process-wide worker pool for per-file work.
//
//   std::vector<Result> out(files.size());
//   const worker_pool::Workers w = worker_pool::parallel_for_each_index(files.size(), [&](auto i) {
//     out[i] = index(files[i]);   // each call writes only its own slot
//   });
//   if (w.running < w.configured) { /* the batch ran on fewer threads than asked for */ }
//
// The pool has RAYON_NUM_THREADS threads when that is a positive integer, else one per
// processor available to the process; never more than pool_size's bound. The calling thread is
// one of them: its workers are started once, at the first parallel use, and live until exit. A
// worker the system refuses to start is done without: the pool keeps those that started, down
// to the calling thread alone, and every result is the same with any number of them. Under an
// address-space limit, fewer start and they share fewer malloc arenas (see budget_within), so
// that the batches still have memory to work in. Every index is visited at most once, and
// exactly once unless fn throws; the call returns when all are done.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::worker_pool {

// How many threads a batch had: `running` counts the started workers and the calling thread.
struct Workers {
  std::size_t running = 1;
  std::size_t configured = 1;
  friend bool operator==(const Workers&, const Workers&) = default;
};

// The WARN line for a batch that ran on fewer threads than configured; none when it had all.
std::optional<std::string> shortfall_text(const Workers& workers);

// Threads the pool is configured for, the calling thread included (starts none).
std::size_t thread_count();

// The size RAYON_NUM_THREADS asks for: none when unset, 0, or not a decimal number that fits 64
// bits (an optional '+' and digits); a larger count than the pool can have is pool_size's to cap.
std::optional<std::size_t> requested_threads(const char* env_value);

// The most threads a request may give the pool, unless the machine has more processors. The
// pool reserves a slot per thread up front, so a count in the millions takes gigabytes before
// any work starts; this many cost little and are far above any count that speeds indexing up.
inline constexpr std::size_t kMaxThreads = 1024;

// The pool's size for a RAYON_NUM_THREADS value with `processors` available: the request, at
// most the larger of kMaxThreads and `processors`; without a request, `processors`.
std::size_t pool_size(const char* env_value, std::size_t processors);

// Calls fn(i) for every i in [0, count), concurrently, and tells how many threads the pool has.
// An exception thrown by fn stops the batch from taking further indexes; the first one is
// rethrown here once no thread is inside fn any more.
Workers parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

// What the C library reserves for each malloc arena it makes, the first allocation of a thread
// making one while there are fewer than its bound. The whole reservation counts against an
// address-space limit, however little of it is used.
inline constexpr std::size_t kArenaBytes = std::size_t{64} << 20;

// How many workers the pool starts, and the bound on malloc arenas (the process's first one
// included), under an address-space limit that leaves `room`.
struct StartBudget {
  std::size_t workers = 0;
  std::size_t arenas = 1;
  friend bool operator==(const StartBudget&, const StartBudget&) = default;
};

// What the workers cost, their stacks with a guard page each and their arenas, takes at most half
// of `room`: the batches work in the rest. As many of the wanted workers start as their stacks
// allow; the arenas beyond the first are what is left, at most one per worker and no more than
// the C library's own bound for `processors`.
StartBudget budget_within(std::size_t room, std::size_t workers_wanted, std::size_t stack_bytes,
                          std::size_t page, std::size_t processors);

// As parallel_for_each_index, for work that may run out of memory on a worker only because the
// other threads hold theirs at the same time. fn tells whether index i is done; each index it
// was not done for is called once more, on the calling thread alone, after the parallel part.
// A batch that had no thread but the caller's gets no second calls: the same would fail again.
Workers parallel_for_each_index_retrying(std::size_t count,
                                         const std::function<bool(std::size_t)>& fn);

// The stack each worker gets. The deepest nesting the parser accepts (lambda defaults nested up
// to its depth bound), parsed, bound and converted, takes about 400 KiB in an optimised build,
// 1.1 MiB unoptimised and 4.7 MiB under AddressSanitizer. Set explicitly so that a thousand
// workers do not reserve the system's default of 8 MiB each.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{8} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{8} << 20;
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{2} << 20;
#endif
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{2} << 20;
#endif

// Starts a thread running entry(arg) on a stack of `stack_bytes`; none when the system refuses.
using ThreadStarter = std::function<std::optional<pthread_t>(void* (*entry)(void*), void* arg,
                                                             std::size_t stack_bytes)>;

// The system's way: pthread_create with the stack size set.
std::optional<pthread_t> start_system_thread(void* (*entry)(void*), void* arg,
                                             std::size_t stack_bytes);

// A pool of `threads` threads, the caller of for_each_index included. The process-wide one is
// built by parallel_for_each_index; tests build their own with a starter that refuses.
class Pool {
 public:
  explicit Pool(std::size_t threads, const ThreadStarter& starter = start_system_thread,
                std::size_t stack_bytes = kWorkerStackBytes);
  ~Pool();  // waits for the workers to end
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  Workers workers() const { return {workers_.size() + 1, configured_}; }

  // As parallel_for_each_index. A call made while another is running on this pool (from fn,
  // or from a second thread) runs on its own thread alone.
  Workers for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

  // As parallel_for_each_index_retrying.
  Workers for_each_index_retrying(std::size_t count, const std::function<bool(std::size_t)>& fn);

 private:
  struct Batch;
  static void* worker_entry(void* self);
  void work_loop();
  static void run(Batch& batch);
  // Runs the batch; how many workers helped the calling thread with it.
  std::size_t run_parallel(std::size_t count, const std::function<void(std::size_t)>& fn);

  std::size_t configured_;
  std::vector<pthread_t> workers_;
  std::atomic<bool> running_{false};  // a batch owns the workers
  std::mutex mutex_;
  std::condition_variable wake_;  // workers: a batch has places, or the pool stops
  std::condition_variable idle_;  // the caller: the last worker left the batch
  Batch* batch_ = nullptr;        // guarded by mutex_, like the three below
  std::size_t places_ = 0;        // workers that may still join the batch
  std::size_t inside_ = 0;        // workers working on the batch
  bool stopping_ = false;
};

}  // namespace korvane::worker_pool
