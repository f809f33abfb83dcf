#include "python/arena.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "util/thread_kept.h"

namespace korvane::python {

namespace {

// Parsing file after file on one thread would otherwise take a fresh block of about the size of
// each tree from the system, fault in every page of it and give it back. Each thread instead
// keeps the largest block it has freed, up to this size, for the next tree it builds.
constexpr size_t kKeptBlock = size_t{256} << 10;

// Scratch blocks stay below the size at which the allocator maps fresh pages for each block, so
// a body that needs several reuses memory already faulted in.
constexpr size_t kScratchBlock = size_t{64} << 10;

struct Spare {
  std::unique_ptr<char[]> data;
  size_t capacity = 0;
};

ThreadKept<Spare>& spares() {
  static ThreadKept<Spare> kept;
  return kept;
}

}  // namespace

Arena::~Arena() {
  release_scratch();
  auto largest =
      std::max_element(blocks_.begin(), blocks_.end(),
                       [](const Block& a, const Block& b) { return a.capacity < b.capacity; });
  if (largest != blocks_.end()) give_back(std::move(*largest));
}

void Arena::begin_scratch() {
  if (in_scratch_) {
    std::fprintf(stderr, "korvane arena: scratches do not nest\n");
    std::abort();
  }
  in_scratch_ = true;
  saved_ = Saved{cur_, end_};
  cur_ = end_ = nullptr;
}

void Arena::end_scratch() {
  in_scratch_ = false;
  cur_ = saved_.cur;
  end_ = saved_.end;
  scratch_used_ = 0;
}

void Arena::release_scratch() {
  for (Block& block : scratch_) give_back(std::move(block));
  scratch_.clear();
  scratch_used_ = 0;
}

void Arena::reset() {
  if (blocks_.empty()) return;
  for (size_t i = 1; i < blocks_.size(); ++i) give_back(std::move(blocks_[i]));
  blocks_.resize(1);
  cur_ = blocks_[0].data.get();
  end_ = cur_ + blocks_[0].capacity;
  reserved_ = blocks_[0].capacity;
  wasted_ = 0;
  next_block_ = later_blocks_;
}

Arena::Block Arena::take_block(size_t size, size_t largest_taken) {
  Spare* spare = spares().get();
  if (spare != nullptr && spare->data && spare->capacity >= size &&
      spare->capacity <= largest_taken) {
    return Block{std::move(spare->data), std::exchange(spare->capacity, 0)};
  }
  return Block{std::unique_ptr<char[]>(new char[size]), size};
}

void Arena::give_back(Block block) {
  if (!block.data || block.capacity > kKeptBlock) return;
  Spare* spare = spares().get();
  if (spare == nullptr || block.capacity <= spare->capacity) return;
  spare->data = std::move(block.data);
  spare->capacity = block.capacity;
}

void* Arena::allocate_slow(size_t size, size_t align) {
  if (in_scratch_) return allocate_scratch(size, align);
  size_t block = std::max(next_block_, size + align);
  next_block_ =
      blocks_.empty() ? later_blocks_ : std::min(next_block_ + next_block_ / 2, largest_block_);
  wasted_ += static_cast<size_t>(end_ - cur_);
  // A spare far larger than the block would be held, unused, as long as the tree.
  blocks_.push_back(take_block(block, block * 2));
  reserved_ += block;
  cur_ = blocks_.back().data.get();
  end_ = cur_ + block;
  return allocate(size, align);
}

void* Arena::allocate_scratch(size_t size, size_t align) {
  const size_t need = size + align;
  size_t fit = scratch_used_;
  while (fit < scratch_.size() && scratch_[fit].capacity < need) ++fit;
  if (fit == scratch_.size())
    scratch_.push_back(take_block(std::max(kScratchBlock, need), SIZE_MAX));
  std::swap(scratch_[fit], scratch_[scratch_used_]);
  Block& block = scratch_[scratch_used_++];
  cur_ = block.data.get();
  end_ = cur_ + block.capacity;
  return allocate(size, align);
}

}  // namespace korvane::python
