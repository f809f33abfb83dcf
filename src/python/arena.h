// A bump allocator that owns the nodes of one syntax tree.
//
//   Arena arena;
//   auto* name = arena.make<Name>();
//   std::span<Expr* const> elts = arena.copy(std::span(vec));
//
//   arena.begin_scratch();              // nodes that are checked but not kept
//   ... arena.make<Name>() ...
//   arena.end_scratch();                // gone; the arena is as it was before
//
// Only trivially destructible objects may live here: the arena frees its blocks without
// running destructors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace korvane::python {

class Arena {
 public:
  // `first_block` sizes the first block and `later_blocks` every one after it; parse_module
  // derives both from the number of tokens, so a tree mostly fits its first block.
  // With `largest_block` above `later_blocks`, each later block is half as large again as the
  // one before, up to that size, so a tree of unknown size wastes little.
  explicit Arena(size_t first_block = 16 * 1024, size_t later_blocks = 16 * 1024,
                 size_t largest_block = 0)
      : next_block_(first_block),
        later_blocks_(later_blocks),
        largest_block_(std::max(largest_block, later_blocks)) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(size_t size, size_t align) {
    uintptr_t p = (reinterpret_cast<uintptr_t>(cur_) + align - 1) & ~(uintptr_t(align) - 1);
    if (p + size > reinterpret_cast<uintptr_t>(end_)) return allocate_slow(size, align);
    cur_ = reinterpret_cast<char*>(p + size);
    return reinterpret_cast<void*>(p);
  }

  template <class T>
  T* make() {
    static_assert(std::is_trivially_destructible_v<T>);
    void* p = allocate(sizeof(T), alignof(T));
    return new (p) T{};
  }

  template <class T>
  std::span<T> copy(std::span<const T> items) {
    static_assert(std::is_trivially_destructible_v<T>);
    if (items.empty()) return {};
    auto* p = static_cast<T*>(allocate(sizeof(T) * items.size(), alignof(T)));
    std::memcpy(static_cast<void*>(p), items.data(), sizeof(T) * items.size());
    return {p, items.size()};
  }

  std::string_view copy_text(std::string_view text) {
    if (text.empty()) return {};
    char* p = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
  }

  // Frees every object at once and starts over in the first block, which is kept: for trees
  // built, read and dropped one after another.
  void reset();

  // Between these two calls every allocation goes to scratch blocks of its own, and
  // end_scratch() drops all of it at once: what was made in between must no longer be used.
  // The scratch blocks are reused by the next scratch and freed with release_scratch() or the
  // arena. Scratches do not nest.
  void begin_scratch();
  void end_scratch();
  // Frees the blocks kept for scratches (the largest may stay with the thread for a later tree).
  void release_scratch();

  // Bytes taken from the system in blocks so far (what the tree costs in memory).
  size_t bytes_reserved() const { return reserved_; }
  // Bytes of those handed out to objects.
  size_t bytes_used() const { return reserved_ - wasted_ - static_cast<size_t>(end_ - cur_); }

 private:
  // `capacity` may exceed the bytes the arena hands out of a block: a recycled block is
  // larger than asked for, but the tree is laid out exactly as in a fresh one.
  struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
  };

  // What a scratch puts aside and end_scratch() restores.
  struct Saved {
    char* cur = nullptr;
    char* end = nullptr;
  };

  void* allocate_slow(size_t size, size_t align);
  void* allocate_scratch(size_t size, size_t align);
  // A block of at least `size` bytes; the thread's spare block serves when it is no larger
  // than `largest_taken`.
  static Block take_block(size_t size, size_t largest_taken);
  static void give_back(Block block);

  std::vector<Block> blocks_;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  size_t next_block_;
  size_t later_blocks_;
  size_t largest_block_;
  size_t reserved_ = 0;
  size_t wasted_ = 0;  // tails of full blocks
  bool in_scratch_ = false;
  Saved saved_;
  std::vector<Block> scratch_;  // scratch blocks, the first `scratch_used_` in use
  size_t scratch_used_ = 0;
};

}  // namespace korvane::python
