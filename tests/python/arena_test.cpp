// The arena behind every tree: alignment, oversized requests and its memory accounting.
#include "python/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::python {
namespace {

TEST(Arena, AlignsEveryObject) {
  Arena arena(64, 64);
  for (int i = 0; i < 100; ++i) {
    arena.allocate(1, 1);  // leave the cursor unaligned
    auto* p = arena.make<uint64_t>();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(uint64_t), 0u);
    EXPECT_EQ(*p, 0u);  // made objects are value-initialised
  }
}

TEST(Arena, ServesRequestsLargerThanABlock) {
  Arena arena(64, 64);
  char* big = static_cast<char*>(arena.allocate(10000, 8));
  big[0] = 'a';
  big[9999] = 'z';
  // The next small object still lands in usable memory, apart from the big one.
  auto* small = arena.make<uint32_t>();
  EXPECT_TRUE(reinterpret_cast<char*>(small) < big ||
              reinterpret_cast<char*>(small) >= big + 10000);
  EXPECT_GE(arena.bytes_reserved(), 10000u);
}

TEST(Arena, CopiesSpansAndText) {
  Arena arena;
  std::vector<int*> items = {nullptr, reinterpret_cast<int*>(8)};
  auto copy = arena.copy(std::span<int* const>(items));
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_NE(copy.data(), items.data());
  EXPECT_EQ(copy[1], items[1]);
  EXPECT_TRUE(arena.copy(std::span<int* const>()).empty());

  std::string text = "identifier";
  std::string_view kept = arena.copy_text(text);
  text.assign("overwrite!");
  EXPECT_EQ(kept, "identifier");
  EXPECT_TRUE(arena.copy_text("").empty());
}

TEST(Arena, AccountsUsedAndReservedBytes) {
  Arena arena(1024, 256);
  EXPECT_EQ(arena.bytes_reserved(), 0u);
  arena.allocate(100, 1);
  EXPECT_EQ(arena.bytes_reserved(), 1024u);
  EXPECT_EQ(arena.bytes_used(), 100u);
  // A request that does not fit the rest of the block opens a block of the later size; the
  // abandoned tail counts as reserved but not as used.
  arena.allocate(1000, 1);
  EXPECT_EQ(arena.bytes_reserved(), 1024u + 1001u);
  EXPECT_EQ(arena.bytes_used(), 1100u);
  arena.allocate(200, 1);
  EXPECT_EQ(arena.bytes_reserved(), 1024u + 1001u + 256u);
  EXPECT_EQ(arena.bytes_used(), 1300u);
}

// A scratch must leave the arena exactly as it found it: the next object lands where it would
// have without the scratch, the accounting does not move, and a later scratch reuses the
// blocks instead of taking new ones.
TEST(Arena, ScratchLeavesNoTrace) {
  Arena arena(1024, 256);
  arena.allocate(100, 1);
  void* next = arena.allocate(0, 1);

  arena.begin_scratch();
  char* first = static_cast<char*>(arena.allocate(100000, 8));  // larger than any block
  first[99999] = 'x';
  for (int i = 0; i < 1000; ++i) arena.make<uint64_t>();
  arena.end_scratch();
  EXPECT_EQ(arena.allocate(0, 1), next);
  EXPECT_EQ(arena.bytes_reserved(), 1024u);
  EXPECT_EQ(arena.bytes_used(), 100u);

  arena.begin_scratch();
  EXPECT_EQ(static_cast<char*>(arena.allocate(100000, 8)), first);
  arena.end_scratch();
  arena.release_scratch();
  EXPECT_EQ(arena.allocate(0, 1), next);
  EXPECT_EQ(arena.bytes_reserved(), 1024u);
}

// Later blocks grow by half up to the largest size, so a tree of unknown size wastes little.
TEST(Arena, LaterBlocksGrowToTheLargest) {
  Arena arena(100, 100, 250);
  const size_t want[] = {100, 200, 350, 350, 575, 575, 575, 825};
  for (size_t reserved : want) {
    arena.allocate(60, 1);
    EXPECT_EQ(arena.bytes_reserved(), reserved);
  }
}

}  // namespace
}  // namespace korvane::python
