#include "server/result_cache.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

namespace korvane::server {

uint64_t saturating_u64(double value) {
  if (!(value > 0.0)) return 0;  // also NaN and -0
  // 2^64 is exactly representable; anything at or above it saturates.
  if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

std::optional<CacheKey> CacheKey::from_file(const protocol::FileToIndex& file) {
  if (!file.mtime || !file.size) return std::nullopt;
  return CacheKey{file.path,
                  saturating_u64(*file.mtime),
                  saturating_u64(*file.size),
                  file.include_all_symbols,
                  file.is_stub,
                  file.is_py_typed};
}

std::optional<protocol::FileIndexResult> IndexCache::get(const CacheKey& key) const {
  std::shared_lock lock(mutex_);
  if (entries_.empty()) return std::nullopt;
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  protocol::FileIndexResult served = it->second;
  served.cached = true;
  return served;
}

void IndexCache::insert(CacheKey key, protocol::FileIndexResult result) {
  std::unique_lock lock(mutex_);
  if (entries_.size() >= max_entries_ && max_entries_ >= 2) {
    const std::size_t count = max_entries_ / 2;
    std::vector<CacheKey> victims;
    victims.reserve(count);
    for (const auto& entry : entries_) {
      if (victims.size() == count) break;
      victims.push_back(entry.first);
    }
    for (const auto& victim : victims) entries_.erase(victim);
  }
  entries_.insert_or_assign(std::move(key), std::move(result));
}

std::size_t IndexCache::size() const {
  std::shared_lock lock(mutex_);
  return entries_.size();
}

}  // namespace korvane::server
