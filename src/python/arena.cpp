#include "python/arena.h"

#include <algorithm>

namespace korvane::python {

void* Arena::allocate_slow(size_t size, size_t align) {
  // Blocks grow geometrically so a large module costs few allocations, capped so a small
  // object never forces a huge block.
  size_t block = std::max(next_block_, size + align);
  next_block_ = std::min<size_t>(next_block_ * 2, size_t{8} << 20);
  blocks_.emplace_back(new char[block]);
  reserved_ += block;
  cur_ = blocks_.back().get();
  end_ = cur_ + block;
  return allocate(size, align);
}

}  // namespace korvane::python
