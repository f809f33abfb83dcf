// Results of files the client described by modification time and size, so an unchanged file
// is answered without being read again.
//
//   IndexCache cache;
//   if (auto key = CacheKey::from_file(file)) {
//     if (auto hit = cache.get(*key)) return *hit;   // hit->cached == true
//     cache.insert(*key, index(file));
//   }
//
// Whether a file changed is judged only from the client's numbers: the cache never looks at
// the file system. The key holds neither the mode nor the search paths nor the Python version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>

#include <absl/container/flat_hash_map.h>

#include "protocol/index_files.h"
#include "util/growth_safe_table.h"

namespace korvane::server {

struct CacheKey {
  std::string path;  // byte for byte, case kept
  uint64_t mtime = 0;
  uint64_t size = 0;
  bool include_all_symbols = false;
  bool is_stub = false;
  bool is_py_typed = false;

  // The key of a file carrying both `mtime` and `size`; none otherwise (the file is not cached).
  static std::optional<CacheKey> from_file(const protocol::FileToIndex& file);

  friend bool operator==(const CacheKey&, const CacheKey&) = default;
  template <typename H>
  friend H AbslHashValue(H h, const CacheKey& k) {
    return H::combine(std::move(h), k.path, k.mtime, k.size, k.include_all_symbols, k.is_stub,
                      k.is_py_typed);
  }
};

// Truncates toward zero and saturates: negatives and NaN give 0, 2^64 and above the maximum.
uint64_t saturating_u64(double value);

class IndexCache {
 public:
  static constexpr std::size_t kDefaultMaxEntries = 10000;

  explicit IndexCache(std::size_t max_entries = kDefaultMaxEntries) : max_entries_(max_entries) {}

  // A copy of the stored result with `cached` set, or none.
  std::optional<protocol::FileIndexResult> get(const CacheKey& key) const;
  // Stores (or replaces) the result; a full cache first drops half its limit, taken in the
  // map's own iteration order - cheap and good enough, since keys of changed files go stale.
  void insert(CacheKey key, protocol::FileIndexResult result);

  std::size_t size() const;
  std::size_t max_entries() const { return max_entries_; }

 private:
  mutable std::shared_mutex mutex_;
  GrowthSafe<absl::flat_hash_map<CacheKey, protocol::FileIndexResult>> entries_;
  const std::size_t max_entries_;
};

}  // namespace korvane::server
