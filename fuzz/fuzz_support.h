// Shared helpers of the fuzz targets.
//
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
//     const std::string_view text = fuzz::as_text(data, size);
//     FUZZ_CHECK(invariant(text), "what broke");
//     return 0;
//   }
//
// A broken invariant aborts with a message, which libFuzzer reports as a crash and saves the
// input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition, what)                                                    \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, what); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

namespace korvane::fuzz {

inline std::string_view as_text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// True when `text` ends in " at line {n} column {m}" with decimal n >= 1 and m >= 0.
inline bool ends_with_position(std::string_view text) {
  const auto digits_back = [&](std::string_view& t) {
    std::size_t n = 0;
    while (n < t.size() && t[t.size() - 1 - n] >= '0' && t[t.size() - 1 - n] <= '9') ++n;
    t.remove_suffix(n);
    return n > 0;
  };
  std::string_view t = text;
  if (!digits_back(t) || !t.ends_with(" column ")) return false;
  t.remove_suffix(8);
  if (!digits_back(t) || !t.ends_with(" at line ")) return false;
  return t.size() > 9;
}

}  // namespace korvane::fuzz
