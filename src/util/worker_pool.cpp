#include "util/worker_pool.h"

#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "util/decimal.h"

namespace korvane::worker_pool {

// One parallel call: its indexes are taken one at a time from `next` by every thread inside.
struct Pool::Batch {
  std::size_t count = 0;
  const std::function<void(std::size_t)>* fn = nullptr;
  std::atomic<std::size_t> next{0};
  std::mutex failure_mutex;
  std::exception_ptr failure;  // the first exception thrown by fn
};

namespace {

// Processors this process may run on (its affinity mask, which containers and taskset narrow).
std::size_t available_processors() {
  for (int cpus = CPU_SETSIZE; cpus <= (1 << 16); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) break;
    const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
    const int got = ::sched_getaffinity(0, bytes, set);
    const int count = got == 0 ? CPU_COUNT_S(bytes, set) : 0;
    CPU_FREE(set);
    if (got == 0) return count > 0 ? static_cast<std::size_t>(count) : 1;
    if (errno != EINVAL) break;  // EINVAL: the mask is larger than this set
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

std::size_t configured_threads() {
  return pool_size(std::getenv("RAYON_NUM_THREADS"), available_processors());
}

// Room left under the address-space limit: none when there is no limit.
std::optional<std::size_t> address_space_room() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  std::size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;  // unreadable: counted as nothing in use
  const std::size_t used = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return used >= limit.rlim_cur ? 0 : static_cast<std::size_t>(limit.rlim_cur - used);
}

// Never destroyed: its workers wait for work until the process ends, and an exit never waits
// for them.
Pool& process_pool() {
  static Pool* const pool = [] {
    const std::size_t threads = thread_count();
    std::size_t budget = SIZE_MAX;
    if (const std::optional<std::size_t> room = address_space_room()) {
      const StartBudget fit =
          budget_within(*room, threads - 1, kWorkerStackBytes,
                        static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), available_processors());
      budget = fit.workers;
      uint64_t arenas = fit.arenas;
      // A lower bound the environment gives the C library stays.
      if (const char* env = std::getenv("MALLOC_ARENA_MAX")) {
        const Result<uint64_t> asked = parse_unsigned_decimal(env);
        if (asked && *asked > 0) arenas = std::min(arenas, *asked);
      }
      // Before any worker allocates: the C library reads the bound when it makes an arena.
      ::mallopt(M_ARENA_MAX, static_cast<int>(std::min<uint64_t>(arenas, INT_MAX)));
    }
    return new Pool(threads,
                    [budget](void* (*entry)(void*), void* arg,
                             std::size_t stack_bytes) mutable -> std::optional<pthread_t> {
                      if (budget == 0) return std::nullopt;
                      --budget;
                      return start_system_thread(entry, arg, stack_bytes);
                    });
  }();
  return *pool;
}

}  // namespace

std::optional<std::size_t> requested_threads(const char* env_value) {
  if (env_value == nullptr) return std::nullopt;
  // Any count the client can write is capped later; only what is no count at all falls back.
  const Result<uint64_t> n = parse_unsigned_decimal(env_value);
  if (!n || *n == 0) return std::nullopt;
  return static_cast<std::size_t>(std::min<uint64_t>(*n, SIZE_MAX));
}

std::size_t pool_size(const char* env_value, std::size_t processors) {
  const auto requested = requested_threads(env_value);
  if (!requested) return processors;
  return std::min(*requested, std::max(kMaxThreads, processors));
}

StartBudget budget_within(std::size_t room, std::size_t workers_wanted, std::size_t stack_bytes,
                          std::size_t page, std::size_t processors) {
  const std::size_t half = room / 2;
  const std::size_t per_worker = stack_bytes + page;  // a guard page each
  StartBudget fit;
  fit.workers = std::min(workers_wanted, half / per_worker);
  // Workers first: a shared arena only makes threads wait on its lock now and then.
  const std::size_t spare_arenas = (half - fit.workers * per_worker) / kArenaBytes;
  fit.arenas = 1 + std::min({spare_arenas, fit.workers, 8 * std::max<std::size_t>(processors, 1)});
  return fit;
}

std::optional<std::string> shortfall_text(const Workers& workers) {
  if (workers.running >= workers.configured) return std::nullopt;
  return fmt::format("Started {} of {} worker threads; indexing with {}", workers.running,
                     workers.configured, workers.running);
}

std::size_t thread_count() {
  static const std::size_t size = configured_threads();
  return size;
}

Workers parallel_for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn) {
  return process_pool().for_each_index(count, fn);
}

Workers parallel_for_each_index_retrying(std::size_t count,
                                         const std::function<bool(std::size_t)>& fn) {
  return process_pool().for_each_index_retrying(count, fn);
}

std::optional<pthread_t> start_system_thread(void* (*entry)(void*), void* arg,
                                             std::size_t stack_bytes) {
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return std::nullopt;
  std::optional<pthread_t> started;
  pthread_t thread;
  if (::pthread_attr_setstacksize(&attr, stack_bytes) == 0 &&
      ::pthread_create(&thread, &attr, entry, arg) == 0) {
    started = thread;
  }
  ::pthread_attr_destroy(&attr);
  return started;
}

Pool::Pool(std::size_t threads, const ThreadStarter& starter, std::size_t stack_bytes)
    : configured_(std::max<std::size_t>(threads, 1)) {
  workers_.reserve(configured_ - 1);
  // The first refusal ends the start-up: the next attempts would meet the same shortage.
  while (workers_.size() + 1 < configured_) {
    std::optional<pthread_t> started = starter(&Pool::worker_entry, this, stack_bytes);
    if (!started) break;
    workers_.push_back(*started);
  }
}

Pool::~Pool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (const pthread_t worker : workers_) ::pthread_join(worker, nullptr);
}

void* Pool::worker_entry(void* self) {
  static_cast<Pool*>(self)->work_loop();
  return nullptr;
}

void Pool::work_loop() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return places_ > 0 || stopping_; });
    if (stopping_) return;
    --places_;
    ++inside_;
    Batch& batch = *batch_;
    lock.unlock();
    run(batch);
    lock.lock();
    if (--inside_ == 0) idle_.notify_one();
  }
}

void Pool::run(Batch& batch) {
  for (std::size_t i; (i = batch.next.fetch_add(1, std::memory_order_relaxed)) < batch.count;) {
    try {
      (*batch.fn)(i);
    } catch (...) {
      // Nothing may leave a worker thread; the caller rethrows the first failure.
      const std::lock_guard lock(batch.failure_mutex);
      if (!batch.failure) batch.failure = std::current_exception();
      batch.next.store(batch.count, std::memory_order_relaxed);
    }
  }
}

Workers Pool::for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn) {
  run_parallel(count, fn);
  return workers();
}

Workers Pool::for_each_index_retrying(std::size_t count,
                                      const std::function<bool(std::size_t)>& fn) {
  std::vector<char> undone(count, 0);
  const std::size_t helpers = run_parallel(count, [&](std::size_t i) { undone[i] = !fn(i); });
  if (helpers > 0) {
    for (std::size_t i = 0; i < count; ++i) {
      if (undone[i]) fn(i);
    }
  }
  return workers();
}

std::size_t Pool::run_parallel(std::size_t count, const std::function<void(std::size_t)>& fn) {
  Batch batch;
  batch.count = count;
  batch.fn = &fn;
  // A nested or concurrent call gets no helpers: they all belong to the batch already running.
  const bool owner = !running_.exchange(true, std::memory_order_acquire);
  const std::size_t helpers = owner && count > 1 ? std::min(workers_.size(), count - 1) : 0;
  if (helpers > 0) {
    {
      const std::lock_guard lock(mutex_);
      batch_ = &batch;
      places_ = helpers;
    }
    if (helpers == workers_.size()) {
      wake_.notify_all();
    } else {
      for (std::size_t i = 0; i < helpers; ++i) wake_.notify_one();
    }
  }
  run(batch);
  if (helpers > 0) {
    // Workers that have not joined yet are not needed any more; those inside finish first.
    std::unique_lock lock(mutex_);
    places_ = 0;
    idle_.wait(lock, [&] { return inside_ == 0; });
    batch_ = nullptr;
  }
  if (owner) running_.store(false, std::memory_order_release);
  if (batch.failure) std::rethrow_exception(batch.failure);
  return helpers;
}

}  // namespace korvane::worker_pool
