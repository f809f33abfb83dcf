#include "util/memory_release.h"

#include <algorithm>
#include <cstdlib>  // defines __GLIBC__ where glibc is the C library
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace korvane {

void release_free_memory() {
#if defined(__GLIBC__)
  // Every thread's heap is trimmed, not only the calling thread's: worker threads free memory
  // of their own during a parallel request.
  malloc_trim(0);
#endif
}

std::optional<std::size_t> allocator_free_bytes() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  // Sums the free chunks of every arena; the worker threads' arenas are mmapped heaps whose free
  // space counts here too.
  return mallinfo2().fordblks;
#else
  return std::nullopt;
#endif
}

TrimPolicy::TrimPolicy(Limits limits)
    : TrimPolicy(limits, allocator_free_bytes, release_free_memory) {}

TrimPolicy::TrimPolicy(Limits limits, FreeBytes free_bytes, Trim trim)
    : limits_(limits), free_bytes_(std::move(free_bytes)), trim_(std::move(trim)) {}

bool TrimPolicy::after_message(MessageKind kind, std::size_t bytes) {
  // Not even a reading: it walks the free chunks too, and pings come by the thousand.
  if (kind != MessageKind::kRequest) return false;
  const std::lock_guard lock(mutex_);
  traffic_ += bytes;
  return look(limits_.settled_growth, traffic_ >= limits_.traffic);
}

bool TrimPolicy::after_freeing(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  freed_ += bytes;
  if (bytes != 0 && freed_ < limits_.freed_step) return false;
  return look(limits_.free_growth, false);
}

std::size_t TrimPolicy::trims() const {
  const std::lock_guard lock(mutex_);
  return trims_;
}

bool TrimPolicy::look(std::size_t growth, bool force) {
  freed_ = 0;
  const std::optional<std::size_t> free_now = free_bytes_();
  bool trim = force;
  if (free_now) {
    const std::size_t lowest = std::min(lowest_free_.value_or(*free_now), *free_now);
    trim = trim || *free_now - lowest > growth;
    lowest_free_ = lowest;
  }
  if (!trim) return false;
  trim_();
  ++trims_;
  traffic_ = 0;
  // What the trim left counts from now on: its chunks stay free although their pages went back.
  lowest_free_ = free_bytes_();
  return true;
}

}  // namespace korvane
