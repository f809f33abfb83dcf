#include "python/arena.h"

#include <algorithm>

namespace korvane::python {

void* Arena::allocate_slow(size_t size, size_t align) {
  size_t block = std::max(next_block_, size + align);
  next_block_ = later_blocks_;
  wasted_ += static_cast<size_t>(end_ - cur_);
  blocks_.emplace_back(new char[block]);
  reserved_ += block;
  cur_ = blocks_.back().get();
  end_ = cur_ + block;
  return allocate(size, align);
}

}  // namespace korvane::python
