#include "cross_file/duration_text.h"

#include <cstdint>

#include <fmt/format.h>

namespace korvane::cross_file {
namespace {

// `whole`, then '.' and the digits of `fraction` (scaled by `fraction_digits`) when non-zero.
std::string decimal(uint64_t whole, uint64_t fraction, int fraction_digits, const char* unit) {
  if (fraction == 0) return fmt::format("{}{}", whole, unit);
  std::string digits = fmt::format("{:0{}}", fraction, fraction_digits);
  while (digits.back() == '0') digits.pop_back();
  return fmt::format("{}.{}{}", whole, digits, unit);
}

}  // namespace

std::string format_duration(std::chrono::nanoseconds duration) {
  // A clock that went backwards reads as zero, never as a negative span.
  const uint64_t total = duration.count() < 0 ? 0 : static_cast<uint64_t>(duration.count());
  const uint64_t secs = total / 1'000'000'000;
  const uint64_t nanos = total % 1'000'000'000;
  if (secs > 0) return decimal(secs, nanos, 9, "s");
  if (nanos >= 1'000'000) return decimal(nanos / 1'000'000, nanos % 1'000'000, 6, "ms");
  if (nanos >= 1'000) return decimal(nanos / 1'000, nanos % 1'000, 3, "\u00b5s");
  return fmt::format("{}ns", nanos);
}

}  // namespace korvane::cross_file
