// A value that is only reached under its own mutex.
//
//   Guarded<std::vector<int>> ids;
//   ids.with([](auto& v) { v.push_back(1); });
//   size_t n = ids.with([](const auto& v) { return v.size(); });
#pragma once

#include <mutex>
#include <utility>

namespace korvane {

template <class T>
class Guarded {
 public:
  Guarded() = default;
  explicit Guarded(T value) : value_(std::move(value)) {}

  // Runs fn(value) with the mutex held and returns what it returns.
  template <class Fn>
  decltype(auto) with(Fn&& fn) {
    std::lock_guard lock(mutex_);
    return std::forward<Fn>(fn)(value_);
  }
  template <class Fn>
  decltype(auto) with(Fn&& fn) const {
    std::lock_guard lock(mutex_);
    return std::forward<Fn>(fn)(std::as_const(value_));
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace korvane
