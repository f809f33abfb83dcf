// Phase timing hooks for the indexing roads.
//
//   {
//     profiling::TimingGuard guard("parse");   // files the phase's duration when the scope ends
//     ...
//   }
//   profiling::record_timing("file_read", steady_clock::now() - start);   // measured by hand
//
// The process-wide table starts absent and nothing creates it, so every hook is a no-op. The
// hooks stay in place so that a profiling build can switch the table on; until then a guard
// must cost no more than two clock readings: no allocation and no lock.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>

namespace korvane::profiling {

using Duration = std::chrono::nanoseconds;

// `elapsed` as a duration to file: a clock read earlier than the start counts as no time.
Duration clamped(std::chrono::steady_clock::duration elapsed);

// Durations by label, in the order recorded. Absent until `enable`; while absent, `record`
// checks one atomic and returns without touching the mutex.
class TimingTable {
 public:
  void enable();
  void record(std::string_view label, Duration duration);
  // The durations filed under `label`; none while the table is absent.
  std::optional<std::vector<Duration>> durations(std::string_view label) const;

 private:
  std::atomic<bool> present_{false};
  mutable std::mutex mutex_;
  std::optional<absl::flat_hash_map<std::string, std::vector<Duration>>> table_;
};

// The process-wide table (absent for the whole run).
TimingTable& timings();

void record_timing(std::string_view label, std::chrono::steady_clock::duration elapsed);

// Measures the scope it lives in. The label must outlive the guard (the labels are literals).
class TimingGuard {
 public:
  explicit TimingGuard(std::string_view name)
      : name_(name), start_(std::chrono::steady_clock::now()) {}
  ~TimingGuard();
  TimingGuard(const TimingGuard&) = delete;
  TimingGuard& operator=(const TimingGuard&) = delete;

 private:
  std::string_view name_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace korvane::profiling
