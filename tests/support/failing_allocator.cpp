#include "failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace korvane::testing {
namespace {

// Plain thread-local integers: no constructor runs, so the hook is safe in any thread's first
// or last allocation.
thread_local std::size_t countdown = 0;  // 0: unarmed; 1: the next allocation fails
thread_local bool sticky_failure = false;
thread_local bool thread_failed = false;
std::atomic<std::size_t> size_limit{0};  // 0: unarmed
std::atomic<bool> size_failed{false};

bool refuse(std::size_t bytes) {
  const std::size_t limit = size_limit.load(std::memory_order_relaxed);
  if (limit != 0 && bytes >= limit) {
    size_failed.store(true, std::memory_order_relaxed);
    return true;
  }
  if (countdown == 0) return false;
  if (countdown > 1) {
    --countdown;
    return false;
  }
  if (!sticky_failure) countdown = 0;
  thread_failed = true;
  return true;
}

void* allocate(std::size_t bytes) {
  if (refuse(bytes)) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

}  // namespace

FailingAllocations FailingAllocations::nth(std::size_t n, bool sticky) {
  countdown = n == 0 ? 1 : n;
  sticky_failure = sticky;
  thread_failed = false;
  return FailingAllocations(false);
}

FailingAllocations FailingAllocations::at_least(std::size_t bytes) {
  size_failed.store(false);
  size_limit.store(bytes == 0 ? 1 : bytes);
  return FailingAllocations(true);
}

FailingAllocations::FailingAllocations(FailingAllocations&& other) noexcept
    : by_size_(other.by_size_) {
  other.armed_ = false;
}

FailingAllocations::~FailingAllocations() {
  if (!armed_) return;
  if (by_size_) {
    size_limit.store(0);
  } else {
    countdown = 0;
    sticky_failure = false;
  }
}

bool FailingAllocations::failed() const { return by_size_ ? size_failed.load() : thread_failed; }

}  // namespace korvane::testing

// Every plain form is replaced, the deletes included: a sanitizer runtime pairs its own new with
// its own delete and would report a block from this malloc freed by its delete.
void* operator new(std::size_t bytes) {
  if (void* p = korvane::testing::allocate(bytes)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return korvane::testing::allocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return korvane::testing::allocate(bytes);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
