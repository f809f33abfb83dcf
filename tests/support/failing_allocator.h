// Allocation failures on demand, for the tests of what running out of memory does. Linking
// failing_allocator.cpp replaces the global operator new of the test binary; unarmed, it only
// forwards to malloc.
//
//   {
//     FailingAllocations fail = FailingAllocations::nth(3);   // this thread's 3rd one throws
//     result = indexer.index_file(file);
//   }
//   FailingAllocations big = FailingAllocations::at_least(1 << 20);  // any thread, 1 MiB or more
//
// Count-based failures affect only the arming thread, so code that runs on the worker pool is
// tested by size instead: which thread takes which file never changes the verdict.
#pragma once

#include <cstddef>

namespace korvane::testing {

class FailingAllocations {
 public:
  // The n-th allocation of this thread from now on (1 for the next) throws std::bad_alloc; with
  // `sticky`, every later one of this thread does too.
  static FailingAllocations nth(std::size_t n, bool sticky = false);
  // Every allocation of at least `bytes`, on any thread, throws.
  static FailingAllocations at_least(std::size_t bytes);

  FailingAllocations(FailingAllocations&& other) noexcept;
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
  ~FailingAllocations();  // disarms

  // Whether an allocation was refused while armed.
  bool failed() const;

 private:
  explicit FailingAllocations(bool by_size) : by_size_(by_size) {}
  bool by_size_;
  bool armed_ = true;
};

}  // namespace korvane::testing
