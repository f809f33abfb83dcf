#include "util/thread_kept.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace korvane {
namespace {

std::atomic<int> alive{0};

struct Counted {
  Counted() { alive.fetch_add(1); }
  ~Counted() { alive.fetch_sub(1); }
  int uses = 0;
};

// Each thread keeps its own value from call to call, and a thread that ends frees its value.
TEST(ThreadKept, OneValuePerThreadFreedWhenTheThreadEnds) {
  static ThreadKept<Counted> kept;
  Counted* mine = kept.get();
  ASSERT_NE(mine, nullptr);
  ++mine->uses;
  EXPECT_EQ(kept.get(), mine);
  const int before = alive.load();
  Counted* theirs = nullptr;
  std::thread([&] {
    theirs = kept.get();
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(theirs->uses, 0);
    EXPECT_EQ(alive.load(), before + 1);
  }).join();
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(alive.load(), before);
  EXPECT_EQ(kept.get()->uses, 1);
}

}  // namespace
}  // namespace korvane
