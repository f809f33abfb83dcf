#include "indexer/profiling.h"

namespace korvane::profiling {

Duration Duration::from(std::chrono::steady_clock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  if (ns <= 0) return {};  // a clock read earlier than the start counts as no time
  const auto total = static_cast<uint64_t>(ns);
  return {total / 1'000'000'000u, static_cast<uint32_t>(total % 1'000'000'000u)};
}

void TimingTable::enable() {
  std::lock_guard lock(mutex_);
  if (!table_) table_.emplace();
  present_.store(true, std::memory_order_release);
}

void TimingTable::record(std::string_view label, Duration duration) {
  // The table is absent in every ordinary run; this check keeps the hot path lock-free.
  if (!present_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(mutex_);
  if (!table_) return;
  (*table_)[std::string(label)].push_back(duration);
}

std::optional<std::vector<Duration>> TimingTable::durations(std::string_view label) const {
  if (!present_.load(std::memory_order_acquire)) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (!table_) return std::nullopt;
  auto it = table_->find(std::string(label));
  if (it == table_->end()) return std::vector<Duration>{};
  return it->second;
}

TimingTable& timings() {
  static TimingTable table;
  return table;
}

void record_timing(std::string_view label, Duration duration) { timings().record(label, duration); }

TimingGuard::~TimingGuard() {
  record_timing(name_, Duration::from(std::chrono::steady_clock::now() - start_));
}

}  // namespace korvane::profiling
