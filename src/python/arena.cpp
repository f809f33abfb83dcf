#include "python/arena.h"

#include <algorithm>
#include <utility>

namespace korvane::python {

namespace {

// Parsing file after file on one thread would otherwise take a fresh block of about the size of
// each tree from the system, fault in every page of it and give it back. Each thread instead
// keeps the largest block it has freed, up to this size, for the next tree it builds.
constexpr size_t kKeptBlock = size_t{2} << 20;

thread_local std::unique_ptr<char[]> spare_data;
thread_local size_t spare_capacity = 0;

}  // namespace

Arena::~Arena() {
  auto largest =
      std::max_element(blocks_.begin(), blocks_.end(),
                       [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
  if (largest != blocks_.end()) give_back(std::move(*largest));
}

Arena::Block Arena::take_block(size_t size) {
  if (spare_data && spare_capacity >= size) {
    return Block{std::move(spare_data), std::exchange(spare_capacity, 0)};
  }
  return Block{std::unique_ptr<char[]>(new char[size]), size};
}

void Arena::give_back(Block block) {
  if (!block.data || block.capacity > kKeptBlock || block.capacity <= spare_capacity) return;
  spare_data = std::move(block.data);
  spare_capacity = block.capacity;
}

void* Arena::allocate_slow(size_t size, size_t align) {
  size_t block = std::max(next_block_, size + align);
  next_block_ = later_blocks_;
  wasted_ += static_cast<size_t>(end_ - cur_);
  blocks_.push_back(take_block(block));
  reserved_ += block;
  cur_ = blocks_.back().data.get();
  end_ = cur_ + block;
  return allocate(size, align);
}

}  // namespace korvane::python
