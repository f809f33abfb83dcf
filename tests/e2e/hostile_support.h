// Helpers of the hostile-input tests: big inputs made at test time, a scratch directory and an
// address-space ceiling for the server.
//
//   TempDir dir;
//   dir.write("big.py", text);
//   { AddressSpaceLimit limit(kServerAddressSpace); RunResult r = run(input); }
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "harness.h"

namespace korvane::e2e {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Far above what any of these inputs needs when handled with memory that follows the input,
// far below what allocating a declared size or a hostile count would take.
inline constexpr uint64_t kServerAddressSpace = uint64_t{4} << 30;

// Lowers one of this process's soft resource limits while it lives, so a server spawned
// meanwhile inherits it. A value of 0 leaves the limit as it is.
class SoftLimit {
 public:
  SoftLimit(int resource, rlim_t value) : resource_(resource) {
    if (value == 0 || ::getrlimit(resource_, &saved_) != 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min(saved_.rlim_max, value);
    active_ = ::setrlimit(resource_, &lowered) == 0;
  }
  ~SoftLimit() {
    if (active_) ::setrlimit(resource_, &saved_);
  }
  SoftLimit(const SoftLimit&) = delete;
  SoftLimit& operator=(const SoftLimit&) = delete;

 private:
  int resource_;
  rlimit saved_{};
  bool active_ = false;
};

// The address-space ceiling. Sanitizer runtimes reserve terabytes of shadow memory, so there it
// does nothing.
class AddressSpaceLimit : public SoftLimit {
 public:
  explicit AddressSpaceLimit(uint64_t bytes)
      : SoftLimit(RLIMIT_AS, kSanitized ? 0 : static_cast<rlim_t>(bytes)) {}
};

// Spawns under the ceiling, then lifts it for the test process itself.
inline RunResult run_limited(std::string_view input, const Options& options = {}) {
  std::optional<Process> p;
  {
    AddressSpaceLimit limit(kServerAddressSpace);
    p.emplace(options);
  }
  p->write(input);
  return p->finish();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-hostile-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

  std::string write(std::string_view name, std::string_view content) const {
    const std::string p = file(name);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

// Bytes from a fixed seed, so a failure reproduces.
inline std::string random_bytes(std::size_t n, uint32_t seed, int low = 0, int high = 255) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(low, high);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(byte(rng));
  return out;
}

inline std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out.append(piece);
  return out;
}

// The fatal error as main logs it: the message, then its cause on an indented line.
inline std::string fatal_text(std::string_view message, std::string_view cause) {
  return "Server error: " + std::string(message) + "\n\nCaused by:\n    " + std::string(cause);
}

}  // namespace korvane::e2e
