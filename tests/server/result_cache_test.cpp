#include "server/result_cache.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

using protocol::FileIndexResult;
using protocol::FileToIndex;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TEST(SaturatingU64, TruncatesAndSaturates) {
  struct Case {
    double in;
    uint64_t want;
  };
  const Case cases[] = {
      {1.9, 1},          {170.2, 170},
      {0.0, 0},          {-0.0, 0},
      {-0.5, 0},         {-5.0, 0},
      {std::nan(""), 0}, {1.8446744073709552e19, kMax},  // 2^64 exactly
      {1e300, kMax},     {9007199254740993.0, 9007199254740992},
  };
  for (const auto& c : cases) EXPECT_EQ(saturating_u64(c.in), c.want) << c.in;
}

FileToIndex file(std::string path, std::optional<double> mtime, std::optional<double> size) {
  FileToIndex f;
  f.path = std::move(path);
  f.mtime = mtime;
  f.size = size;
  return f;
}

TEST(CacheKey, NeedsBothTimeAndSize) {
  EXPECT_FALSE(CacheKey::from_file(file("a.py", std::nullopt, 10.0)));
  EXPECT_FALSE(CacheKey::from_file(file("a.py", 1.0, std::nullopt)));
  EXPECT_TRUE(CacheKey::from_file(file("a.py", 1.0, 10.0)));
}

TEST(CacheKey, EqualityFollowsTheKeyFieldsOnly) {
  const auto base = file("/p/a.py", 170.2, 10.0);
  auto same_fraction = file("/p/a.py", 170.9, 10.0);
  auto other_module = base;
  other_module.module_name = "other";
  other_module.indexing_for_auto_import_mode = true;
  auto negative = file("/p/a.py", -5.0, 10.0);
  auto zero = file("/p/a.py", 0.0, 10.0);
  EXPECT_EQ(*CacheKey::from_file(base), *CacheKey::from_file(same_fraction));
  EXPECT_EQ(*CacheKey::from_file(base), *CacheKey::from_file(other_module));
  EXPECT_EQ(*CacheKey::from_file(negative), *CacheKey::from_file(zero));

  // Each flag and the path's case make a different entry.
  auto stub = base;
  stub.is_stub = true;
  auto typed = base;
  typed.is_py_typed = true;
  auto all = base;
  all.include_all_symbols = true;
  auto upper = file("/p/A.py", 170.2, 10.0);
  for (const auto* other : {&stub, &typed, &all, &upper}) {
    EXPECT_NE(*CacheKey::from_file(base), *CacheKey::from_file(*other)) << other->path;
  }
}

CacheKey key(int i) {
  return CacheKey{"/f" + std::to_string(i) + ".py", 1, 1, false, false, false};
}

FileIndexResult result(std::string path) {
  FileIndexResult r;
  r.path = std::move(path);
  r.symbols.push_back({"x", 1, 13, std::nullopt});
  return r;
}

TEST(IndexCache, ServedCopyIsMarkedButStoredEntryIsNot) {
  IndexCache cache;
  EXPECT_FALSE(cache.get(key(1)));
  cache.insert(key(1), result("/f1.py"));
  for (int round = 0; round < 2; ++round) {
    auto hit = cache.get(key(1));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->cached, std::optional<bool>(true));
    EXPECT_EQ(hit->path, "/f1.py");
    EXPECT_EQ(hit->symbols.size(), 1u);
  }
  EXPECT_FALSE(cache.get(key(2)));
}

TEST(IndexCache, FailedResultsAreStoredAndReplaced) {
  IndexCache cache;
  auto failed = result("/f1.py");
  failed.symbols.clear();
  failed.error = "Failed to read file: x";
  cache.insert(key(1), failed);
  EXPECT_EQ(cache.get(key(1))->error, failed.error);
  cache.insert(key(1), result("/f1.py"));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_FALSE(cache.get(key(1))->error);
}

TEST(IndexCache, EvictsHalfTheLimitWhenFull) {
  IndexCache cache;
  for (int i = 0; i < 10000; ++i) cache.insert(key(i), result("p"));
  EXPECT_EQ(cache.size(), 10000u);  // the limit itself is allowed
  cache.insert(key(10000), result("p"));
  EXPECT_EQ(cache.size(), 5001u);
  EXPECT_TRUE(cache.get(key(10000)));
}

TEST(IndexCache, EvictsBeforeReplacingAStoredKey) {
  // Refilling to the limit and re-inserting a present key: 5000 left when the key survived the
  // eviction, 5001 when it was among the removed.
  IndexCache cache(10);
  for (int i = 0; i < 10; ++i) cache.insert(key(i), result("p"));
  int present = 0;
  cache.insert(key(3), result("p"));
  for (int i = 0; i < 10; ++i) present += cache.get(key(i)) ? 1 : 0;
  EXPECT_TRUE(cache.size() == 5u || cache.size() == 6u) << cache.size();
  EXPECT_EQ(static_cast<std::size_t>(present), cache.size());
  EXPECT_TRUE(cache.get(key(3)));
}

TEST(IndexCache, TinyLimitsNeverEvict) {
  IndexCache one(1);
  one.insert(key(1), result("p"));
  one.insert(key(2), result("p"));
  EXPECT_EQ(one.size(), 2u);  // a limit below 2 has no half to drop
}

}  // namespace
}  // namespace korvane::server
