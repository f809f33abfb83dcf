#include "util/profiling.h"

namespace korvane::profiling {

Duration clamped(std::chrono::steady_clock::duration elapsed) {
  const auto ns = std::chrono::duration_cast<Duration>(elapsed);
  return ns < Duration::zero() ? Duration::zero() : ns;
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

void record_timing(std::string_view label, std::chrono::steady_clock::duration elapsed) {
  timings().record(label, clamped(elapsed));
}

TimingGuard::~TimingGuard() { record_timing(name_, std::chrono::steady_clock::now() - start_); }

}  // namespace korvane::profiling
